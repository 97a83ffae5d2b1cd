#include "PinnedThread.h"
#include "Library.h"
#include <memory>
#include <new>

namespace wirrow {
namespace {

struct Handover {
    std::function<void()> body;
    HANDLE began;
    HANDLE ended;
    HMODULE library;
};

}  // namespace

DWORD PinnedThread::Launch(std::function<void()> body) {
    UniqueHandle ended = MakeEvent(true, false);
    UniqueHandle began = MakeEvent(true, false);
    if (!ended || !began) return ::GetLastError();
    HMODULE library = nullptr;
    // Taken before the thread exists, so no unload can come between its start and its first instruction.
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCSTR>(reinterpret_cast<const void *>(&PinnedThread::Entry)),
                              &library))
        return ::GetLastError();
    Library pin(library);  // handed to the thread, or let go again on failure
    std::unique_ptr<Handover> launch(new (std::nothrow) Handover{std::move(body), began.Get(), ended.Get(), library});
    if (!launch) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD id = 0;
    // Started suspended so that the owner knows the thread's id before the thread can ask IsCurrent.
    // The thread handle is not kept beyond that: nothing ever waits on it.
    UniqueHandle thread(::CreateThread(nullptr, 0, &PinnedThread::Entry, launch.get(), CREATE_SUSPENDED, &id));
    if (!thread) {
        const DWORD error = ::GetLastError();
        return error ? error : ERROR_NOT_ENOUGH_MEMORY;
    }
    launch.release();  // the thread owns both now
    pin.Release();
    ended_ = std::move(ended);
    began_ = std::move(began);
    id_ = id;
    ::ResumeThread(thread.Get());
    return ERROR_SUCCESS;
}

void PinnedThread::WaitBegan() const {
    if (began_) ::WaitForSingleObject(began_.Get(), kThreadBeginWaitMs);
}

bool PinnedThread::WaitEnded(DWORD timeoutMs) const {
    return !ended_ || ::WaitForSingleObject(ended_.Get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD WINAPI PinnedThread::Entry(void *parameter) {
    HANDLE ended;
    HMODULE library;
    {
        std::unique_ptr<Handover> launch(static_cast<Handover *>(parameter));
        ended = launch->ended;
        library = launch->library;
        // Past the platform's per-thread attach: the thread no longer needs the loader lock to run.
        ::SetEvent(launch->began);
        try {
            launch->body();
        } catch (...) {
            // Nothing may leave a thread of the library; the owner sees the end as usual.
        }
    }
    // From here on the owner may free everything, the event's handle included.
    ::SetEvent(ended);
    ::FreeLibraryAndExitThread(library, 0);
    return 0;
}

}  // namespace wirrow
