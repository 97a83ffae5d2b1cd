// Test support: a program run as a script runs it, standard input from NUL, standard output
// and error into files that are read back once it has ended.
#pragma once
#include "UniqueHandle.h"
#include "UniqueName.h"
#include "WholeFile.h"

#include <windows.h>

#include <string>

class ToolRun {
public:
    ToolRun() = default;
    ToolRun(ToolRun &&) = default;
    ToolRun &operator=(ToolRun &&) = default;
    // A program still running when its test gives up is ended, so that it holds no board.
    ~ToolRun() {
        if (process_ && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT)
            ::TerminateProcess(process_.Get(), 99);
    }

    // Starts `program` (a full path) with `arguments` in `folder`, which also takes the output files.
    // With CREATE_NEW_CONSOLE in `creationFlags` it has a console of its own, as in a command window.
    bool Start(const std::string &program, const std::string &arguments, const std::string &folder,
               DWORD creationFlags = 0) {
        outPath_ = folder + "\\" + UniqueName("stdout-") + ".txt";
        errPath_ = folder + "\\" + UniqueName("stderr-") + ".txt";
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        UniqueHandle out(::CreateFileA(outPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                       CREATE_ALWAYS, 0, nullptr));
        UniqueHandle err(::CreateFileA(errPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                       CREATE_ALWAYS, 0, nullptr));
        UniqueHandle in(::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                      0, nullptr));
        if (!out || !err || !in) return false;
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in.Get();
        startup.hStdOutput = out.Get();
        startup.hStdError = err.Get();
        std::string commandLine = "\"" + program + "\" " + arguments;
        PROCESS_INFORMATION info{};
        if (!::CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, creationFlags, nullptr,
                              folder.c_str(), &startup, &info))
            return false;
        process_.Reset(info.hProcess);
        UniqueHandle thread(info.hThread);
        processId_ = info.dwProcessId;
        return true;
    }

    // Waits for the end: the exit code, or -1 when it has not ended in time (it is then ended).
    // Either way `out` and `err` then hold what it wrote.
    int Finish(DWORD timeoutMs) {
        if (::WaitForSingleObject(process_.Get(), timeoutMs) == WAIT_OBJECT_0) {
            DWORD code = 0;
            ::GetExitCodeProcess(process_.Get(), &code);
            exitCode = static_cast<int>(code);
        } else {
            ::TerminateProcess(process_.Get(), 99);
            ::WaitForSingleObject(process_.Get(), 10000);
            exitCode = -1;
        }
        out = TextLines(ReadWholeFile(outPath_));
        err = TextLines(ReadWholeFile(errPath_));
        return exitCode;
    }

    DWORD ProcessId() const { return processId_; }
    // Seconds of processor time (user and kernel) the program has used; after Finish, in all.
    double ProcessorSeconds() const {
        FILETIME created{}, exited{}, kernel{}, user{};
        if (!::GetProcessTimes(process_.Get(), &created, &exited, &kernel, &user)) return -1;
        const auto ticks = [](const FILETIME &time) {
            return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
        };
        return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
    }

    int exitCode = -1;
    // What the program wrote, its text-mode line ends ("\r\n") as "\n"; a lone "\r" stays.
    std::string out;
    std::string err;

private:
    static std::string TextLines(std::string text) {
        for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
        return text;
    }

    UniqueHandle process_;
    DWORD processId_ = 0;
    std::string outPath_, errPath_;
};
