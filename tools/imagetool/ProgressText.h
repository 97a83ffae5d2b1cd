// The texts of `ImageTool update`'s progress display, apart from any console.
#pragma once
#include <cstdint>
#include <string>

// "[##########..........]  50%   512 / 1024 KiB   310 KiB/s": the bar `width`
// characters wide between the brackets. No speed before any time has passed.
std::string FormatProgressBar(uint64_t done, uint64_t total, double seconds, unsigned width);

// "50%  512 / 1024 KiB  310 KiB/s", for a plain line.
std::string FormatProgressLine(uint64_t done, uint64_t total, double seconds);

// The tenth of the way (0..10) that `done` of `total` has reached; plain lines
// are printed when it grows. An empty transfer is whole at once.
unsigned ProgressTenths(uint64_t done, uint64_t total);
