// Test support: names that no other test process, and no other call of this one, uses, for
// what the system shares between processes: board instances, pipes, kernel objects, folders.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>

// `stem`, this process's id and a number counted from 1: "stem1234x5".
inline std::string UniqueName(const char *stem) {
    static std::atomic<unsigned> counter{0};
    return std::string(stem) + std::to_string(::GetCurrentProcessId()) + "x" + std::to_string(++counter);
}
