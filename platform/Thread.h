// Owner of one Win32 thread running a callable: ImageTool's sessions and notice window, the
// stand-ins' and the tests' threads. Wirrow's threads are PinnedThread (safe to stop under the
// loader lock), Flashwell's update worker a CWinThread (through the framework). The destructor
// does not wait: owners decide how long to wait (Join) before letting go of the handle.
#pragma once
#include "UniqueHandle.h"
#include <functional>
#include <memory>

class Thread {
public:
    Thread() = default;
    Thread(const Thread &) = delete;
    Thread &operator=(const Thread &) = delete;
    Thread(Thread &&) = default;
    Thread &operator=(Thread &&) = default;

    // Starts the thread; false (with the last error set) when it cannot be created.
    bool Start(std::function<void()> body) {
        auto heapBody = std::make_unique<std::function<void()>>(std::move(body));
        DWORD id = 0;
        HANDLE handle = ::CreateThread(nullptr, 0, &Thread::Entry, heapBody.get(), 0, &id);
        if (!handle) return false;
        heapBody.release();  // the thread owns it now
        handle_.Reset(handle);
        id_ = id;
        return true;
    }

    // Waits up to timeoutMs for the thread to end; true when it has ended (or never ran).
    bool Join(DWORD timeoutMs = INFINITE) const {
        return !handle_ || ::WaitForSingleObject(handle_.Get(), timeoutMs) == WAIT_OBJECT_0;
    }
    bool Running() const { return handle_ && !Join(0); }
    bool IsCurrent() const { return handle_ && ::GetCurrentThreadId() == id_; }
    HANDLE Handle() const { return handle_.Get(); }
    DWORD Id() const { return id_; }
    void Reset() { handle_.Reset(); id_ = 0; }

private:
    static DWORD WINAPI Entry(void *parameter) {
        std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()> *>(parameter));
        (*body)();
        return 0;
    }
    UniqueHandle handle_;
    DWORD id_ = 0;
};
