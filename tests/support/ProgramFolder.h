// Test support: the folder of the running program, where the build puts every binary.
#pragma once
#include <windows.h>

#include <string>

// The folder that holds `path`, without the last backslash.
inline std::string ParentFolder(const std::string &path) { return path.substr(0, path.find_last_of('\\')); }

inline std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return ParentFolder(std::string(path, length));
}
