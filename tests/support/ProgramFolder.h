// Test support: the folder of the running program, where the build puts every binary.
#pragma once
#include <windows.h>

#include <string>

inline std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string file(path, length);
    return file.substr(0, file.find_last_of('\\'));
}
