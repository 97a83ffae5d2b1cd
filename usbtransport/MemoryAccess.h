// Whether a caller's block of memory can be read or written for the needed size,
// judged from the process's memory map (nothing is touched), so that a bad
// pointer gives a result code instead of a fault.
#pragma once
#include <cstddef>

namespace wirrow {

bool CanRead(const void *address, size_t bytes);
bool CanWrite(const void *address, size_t bytes);

}  // namespace wirrow
