// Reads from a synchronous file until `size` bytes have arrived or the file ends.
#pragma once
#include <windows.h>
#include <cstdint>

// False on a read error; `got` tells how many bytes arrived (fewer at the end of the file).
inline bool ReadUpTo(HANDLE file, void *buffer, DWORD size, DWORD &got) {
    got = 0;
    while (got < size) {
        DWORD chunk = 0;
        if (!::ReadFile(file, static_cast<uint8_t *>(buffer) + got, size - got, &chunk, nullptr)) return false;
        if (chunk == 0) break;
        got += chunk;
    }
    return true;
}

// True only when all `size` bytes arrived.
inline bool ReadExactly(HANDLE file, void *buffer, DWORD size) {
    DWORD got = 0;
    return ReadUpTo(file, buffer, size, got) && got == size;
}
