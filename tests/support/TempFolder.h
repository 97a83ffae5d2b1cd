// Test support: a fresh folder of one test under the temporary folder, removed with all it holds.
#pragma once
#include "UniqueHandle.h"
#include "UniqueName.h"
#include "WholeFile.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Deletes the folder and everything below it.
inline void RemoveTree(const std::string &path) {
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                ::DeleteFileA(child.c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(path.c_str());
}

class TempFolder {
public:
    // The name starts with `stem`; a folder of that name left behind by an earlier run is passed over.
    explicit TempFolder(const char *stem = "test-") {
        char temp[MAX_PATH] = {};
        const DWORD length = ::GetTempPathA(MAX_PATH, temp);
        if (length == 0 || length >= MAX_PATH) return;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string path = std::string(temp) + UniqueName(stem);
            if (::CreateDirectoryA(path.c_str(), nullptr)) {
                path_ = path;
                return;
            }
            if (::GetLastError() != ERROR_ALREADY_EXISTS) return;
        }
    }
    ~TempFolder() {
        if (Made()) RemoveTree(path_);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    bool Made() const { return !path_.empty(); }
    const std::string &Path() const { return path_; }
    // The path of `name` inside the folder.
    std::string File(const std::string &name) const { return path_ + "\\" + name; }
    // Creates the subfolder `name` and returns its path.
    std::string Subfolder(const std::string &name) const {
        const std::string path = File(name);
        ::CreateDirectoryA(path.c_str(), nullptr);
        return path;
    }
    // Copies the file `name` of the folder `from` into this one; false when it cannot.
    bool CopyIn(const std::string &from, const std::string &name) const {
        return Made() && ::CopyFileA((from + "\\" + name).c_str(), File(name).c_str(), FALSE) != FALSE;
    }
    // Writes the file `name`; its path, or empty when it cannot be written.
    std::string Write(const std::string &name, const std::vector<std::uint8_t> &bytes) const {
        const std::string path = File(name);
        return Made() && WriteWholeFile(path, bytes) ? path : std::string();
    }
    // Writes the file `name` as `head`, then extended to `length` bytes without writing them
    // (sparse where the file system allows); its path, or empty when it cannot be written.
    std::string WriteSparse(const std::string &name, const std::vector<std::uint8_t> &head,
                            std::uint64_t length) const {
        const std::string path = File(name);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(length);
        UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
        const bool done = Made() && file && WriteTo(file.Get(), head.data(), head.size()) &&
                          ::SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.Get());
        return done ? path : std::string();
    }

private:
    std::string path_;
};
