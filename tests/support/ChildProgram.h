// Test support: a program of the build run as a child process and driven
// through its standard input and output, as the stand-in programs are.
#pragma once
#include "ProgramFolder.h"
#include "LineReader.h"
#include "Thread.h"
#include "UniqueHandle.h"

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

constexpr DWORD kChildWait = 10000;

// A program of the build's bin folder as a child process with pipes on stdin and
// stdout; stdout is read line by line on a thread.
class ChildProgram {
public:
    explicit ChildProgram(const char *programName) : programName_(programName) {}
    ChildProgram(const ChildProgram &) = delete;
    ChildProgram &operator=(const ChildProgram &) = delete;
    ~ChildProgram() {
        CloseStdin();
        if (process_ && ::WaitForSingleObject(process_.Get(), 5000) != WAIT_OBJECT_0)
            ::TerminateProcess(process_.Get(), 99);
        reader_.Join(5000);
    }

    bool Start(const std::string &arguments) {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
        if (!::CreatePipe(&inRead, &inWrite, &inherit, 0)) return false;
        UniqueHandle childIn(inRead);
        stdin_.Reset(inWrite);
        if (!::CreatePipe(&outRead, &outWrite, &inherit, 0)) return false;
        UniqueHandle childOut(outWrite);
        stdout_.Reset(outRead);
        ::SetHandleInformation(stdin_.Get(), HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(stdout_.Get(), HANDLE_FLAG_INHERIT, 0);

        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childIn.Get();
        startup.hStdOutput = childOut.Get();
        startup.hStdError = childOut.Get();
        std::string exe = ProgramFolder() + "\\" + programName_;
        std::string command = "\"" + exe + "\" " + arguments;
        PROCESS_INFORMATION info{};
        if (!::CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
            return false;
        process_.Reset(info.hProcess);
        UniqueHandle thread(info.hThread);
        lineEvent_ = MakeEvent(true, false);
        return reader_.Start([this] { ReadOutput(); });
    }

    // The next line that starts with `prefix` (others are kept in Seen()).
    bool WaitLine(const std::string &prefix, std::string *line, DWORD timeoutMs = kChildWait) {
        DWORD start = ::GetTickCount();
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                for (; next_ < lines_.size(); ++next_)
                    if (lines_[next_].compare(0, prefix.size(), prefix) == 0) {
                        *line = lines_[next_++];
                        return true;
                    }
                ::ResetEvent(lineEvent_.Get());
            }
            DWORD spent = ::GetTickCount() - start;
            if (spent >= timeoutMs || ::WaitForSingleObject(lineEvent_.Get(), timeoutMs - spent) != WAIT_OBJECT_0)
                return false;
        }
    }

    bool Command(const std::string &line) {
        std::string text = line + "\n";
        DWORD written = 0;
        return ::WriteFile(stdin_.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
               written == text.size();
    }
    void CloseStdin() { stdin_.Reset(); }

    // Exit code, or 259 (still running) when it has not ended in time.
    DWORD WaitExit(DWORD timeoutMs = kChildWait) {
        DWORD code = STILL_ACTIVE;
        if (::WaitForSingleObject(process_.Get(), timeoutMs) == WAIT_OBJECT_0) ::GetExitCodeProcess(process_.Get(), &code);
        return code;
    }

private:
    void ReadOutput() {
        ReadLines(stdout_.Get(), [this](std::string line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(std::move(line));
            ::SetEvent(lineEvent_.Get());
        });
    }

    std::string programName_;
    UniqueHandle process_, stdin_, stdout_, lineEvent_;
    Thread reader_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::size_t next_ = 0;
};

