// Test support: the lines of a pipe or file read to its end, for the programs that tests drive
// through their standard input and output.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>
#include <utility>

// Reads `file` until it ends or fails and hands each whole line to `onLine`, without its "\n"
// or "\r\n"; a last line without a newline is dropped.
template <typename OnLine> void ReadLines(HANDLE file, OnLine onLine) {
    std::string pending;
    char buffer[512];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        pending.append(buffer, got);
        for (std::size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, newline);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            pending.erase(0, newline + 1);
            onLine(std::move(line));
        }
    }
}
