// Lines from standard input, read on a thread of their own, for the stand-in
// programs that take commands there: wait on Available() and Closed() beside
// anything else, then take the lines with Next().
#pragma once
#include "LineReader.h"
#include "Thread.h"
#include "UniqueHandle.h"

#include <windows.h>

#include <deque>
#include <mutex>
#include <string>

// Lines from stdin, read on a thread of their own; `closed` is set at the end of input.
class StdinLines {
public:
    bool Start() {
        available_ = MakeEvent(true, false);
        closed_ = MakeEvent(true, false);
        return available_ && closed_ && thread_.Start([this] { Run(); });
    }
    void Stop() {
        // The read blocks without a way to wait on anything else; cancel it.
        if (thread_.Running()) ::CancelSynchronousIo(thread_.Handle());
        thread_.Join(1000);
    }
    HANDLE Available() const { return available_.Get(); }
    HANDLE Closed() const { return closed_.Get(); }
    bool Next(std::string *line) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (lines_.empty()) {
            ::ResetEvent(available_.Get());
            return false;
        }
        *line = lines_.front();
        lines_.pop_front();
        return true;
    }

private:
    void Run() {
        HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
        if (input && input != INVALID_HANDLE_VALUE) {
            ReadLines(input, [this](std::string line) {
                std::lock_guard<std::mutex> lock(mutex_);
                lines_.push_back(std::move(line));
                ::SetEvent(available_.Get());
            });
        }
        ::SetEvent(closed_.Get());
    }

    Thread thread_;
    UniqueHandle available_;
    UniqueHandle closed_;
    std::mutex mutex_;
    std::deque<std::string> lines_;
};

