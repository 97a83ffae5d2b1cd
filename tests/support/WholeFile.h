// Test support: a file read or written whole in one call.
#pragma once
#include "UniqueHandle.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The file's bytes; empty when it cannot be opened.
inline std::string ReadWholeFile(const std::string &path) {
    UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char block[65536];
    DWORD got = 0;
    while (file && ::ReadFile(file.Get(), block, sizeof(block), &got, nullptr) && got > 0) bytes.append(block, got);
    return bytes;
}

// Writes the bytes at the file's position; true when every one was written.
inline bool WriteTo(HANDLE file, const void *data, std::size_t size) {
    DWORD written = 0;
    return size == 0 || (::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size);
}

// Creates or replaces the file; true when every byte was written.
inline bool WriteWholeFile(const std::string &path, const void *data, std::size_t size) {
    UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
    return file && WriteTo(file.Get(), data, size);
}

inline bool WriteWholeFile(const std::string &path, const std::vector<std::uint8_t> &bytes) {
    return WriteWholeFile(path, bytes.data(), bytes.size());
}
