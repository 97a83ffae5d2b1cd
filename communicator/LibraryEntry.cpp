// The library's entry point: builds the CommunicatorState when Communicator is
// attached to a process and tears it down when it is detached.
//
// Both run under the loader lock. The construction starts the sockets library
// there; WS2_32.dll is a static import of Communicator, so it is initialised
// before this entry point runs. The teardown on a FreeLibrary closes the
// handles still open and calls each started transport's CommCleanup before
// releasing it: transports must therefore not wait for their own threads to exit
// in CommClose or CommCleanup (a thread's exit needs the loader lock, so such a
// wait never ends), only for a signal the thread gives before it ends, and keep
// their module loaded until the thread has left its code
// (FreeLibraryAndExitThread).
//
// At process exit (lpReserved not null) the state is abandoned instead: every
// other thread has already been ended wherever it stood, possibly inside a
// transport holding its locks, and the transports, loaded after Communicator,
// have already been detached. Calling into them, closing sockets or releasing
// libraries then could hang or touch torn-down state; the system reclaims every
// handle, socket and library of the process anyway.
#include "LibraryEntry.h"

#include <windows.h>

#include <memory>
#include <new>
#include <utility>

namespace {

// Deliberately a plain pointer and not a static object: a static object's
// destructor would also run at process exit.
CommunicatorState *theState = nullptr;

BOOL Attach() {
    try {
        auto state = std::make_unique<CommunicatorState>();
        if (!state->Ready()) return FALSE;
        theState = state.release();
        return TRUE;
    } catch (const std::bad_alloc &) {
        return FALSE;
    }
}

void DetachOnFreeLibrary() { std::unique_ptr<CommunicatorState> state(std::exchange(theState, nullptr)); }

void AbandonAtProcessExit() { theState = nullptr; }

}  // namespace

CommunicatorState &TheCommunicator() { return *theState; }

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return Attach();
    case DLL_PROCESS_DETACH:
        // Also reached after a failed attach, with no state.
        if (reserved != nullptr) {
            AbandonAtProcessExit();
        } else {
            DetachOnFreeLibrary();
        }
        return TRUE;
    default:
        return TRUE;
    }
}
