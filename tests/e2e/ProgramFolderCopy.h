// The end-to-end tests run the shipped programs from a folder of their own, as a
// user's installation would be: a fresh temporary folder with copies of the
// binaries, deleted with everything the test wrote into it.
#pragma once
#include "ProgramFolder.h"
#include <windows.h>
#include <initializer_list>
#include <string>

class ProgramFolderCopy {
public:
    ProgramFolderCopy() = default;
    ProgramFolderCopy(const ProgramFolderCopy &) = delete;
    ProgramFolderCopy &operator=(const ProgramFolderCopy &) = delete;
    ~ProgramFolderCopy() { Remove(); }

    // Makes the folder and copies `names` into it from `from`. Empty on success,
    // otherwise what failed.
    std::string Make(const char *stem, const std::string &from, std::initializer_list<const char *> names) {
        char temp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, temp);
        static int made = 0;
        const std::string path =
            std::string(temp) + stem + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++made);
        if (!::CreateDirectoryA(path.c_str(), nullptr)) return "folder " + path;
        path_ = path;
        for (const char *name : names) {
            if (!Copy(from, name)) return name;
        }
        return {};
    }
    bool Copy(const std::string &from, const char *name) const {
        return ::CopyFileA((from + "\\" + name).c_str(), File(name).c_str(), FALSE) != FALSE;
    }
    const std::string &Path() const { return path_; }
    std::string File(const std::string &name) const { return path_ + "\\" + name; }

private:
    // Every file in it, then the folder.
    void Remove() {
        if (path_.empty()) return;
        WIN32_FIND_DATAA found{};
        HANDLE search = ::FindFirstFileA(File("*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do ::DeleteFileA(File(found.cFileName).c_str());
            while (::FindNextFileA(search, &found));
            ::FindClose(search);
        }
        ::RemoveDirectoryA(path_.c_str());
    }

    std::string path_;
};
