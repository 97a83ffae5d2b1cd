// The platform's arrival and removal reports of the board interface, on a hidden top-level window
// of a thread of its own, registered for the interface class (removal reports are sent to
// top-level windows). An arrival sets the caller's wake event; a completed removal is kept for
// TakeRemovals and sets it too. The window and its registration are made and let go of on that
// thread, the only one that may destroy the window.
#pragma once
#include "CriticalSection.h"
#include "Thread.h"
#include "UniqueHandle.h"
#include <windows.h>
#include <string>
#include <vector>

class BoardNotices {
public:
    // `wake`: an event that outlives this object.
    explicit BoardNotices(HANDLE wake);
    ~BoardNotices();
    BoardNotices(const BoardNotices &) = delete;
    BoardNotices &operator=(const BoardNotices &) = delete;

    // False when there is no window: no report will come.
    bool Start();
    // The interface paths reported removed since the last call.
    std::vector<std::string> TakeRemovals();
    // Arrival reports so far.
    unsigned Arrivals();

private:
    void Main();
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM first, LPARAM second);

    HANDLE wake_;
    UniqueHandle ready_;
    Thread thread_;
    HDEVNOTIFY registration_ = nullptr;  // the notice thread's alone
    CriticalSection guard_;              // over the three below
    HWND window_ = nullptr;
    std::vector<std::string> removals_;
    unsigned arrivals_ = 0;
};
