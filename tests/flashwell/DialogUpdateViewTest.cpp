// The session's way to the main dialog: calls from a worker reach the controls
// while the dialog is attached and nothing once it has detached; one session at a time.
#include "DialogUpdateView.h"
#include "Thread.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <functional>
#include <memory>

namespace {

struct TestControls {
    TestControls() {
        ::InitCommonControls();
        status = ::CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
        progress = ::CreateWindowExA(0, PROGRESS_CLASSA, "", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
        select = ::CreateWindowExA(0, "Button", "Select", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
        update = ::CreateWindowExA(0, "Button", "Update", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
        ::SendMessageA(progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    }
    ~TestControls() {
        for (HWND window : {status, progress, select, update}) ::DestroyWindow(window);
    }
    SessionControls Controls() const { return {status, progress, select, update}; }
    std::string Status() const {
        char text[256] = {};
        ::GetWindowTextA(status, text, sizeof(text));
        return text;
    }
    HWND status, progress, select, update;
};

// Runs `body` on a worker while this thread handles the messages the worker sends
// to the controls, those it queued last included; false when the worker has not
// ended within the time.
bool RunOnWorker(const std::function<void()> &body, DWORD timeoutMs = 10000) {
    Thread worker;
    if (!worker.Start(body)) return false;
    DWORD start = ::GetTickCount();
    for (;;) {
        DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        HANDLE handle = worker.Handle();
        DWORD waited = ::MsgWaitForMultipleObjects(1, &handle, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        MSG msg;
        // Also once the worker has ended: what it queued without waiting reaches the controls.
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
        if (waited == WAIT_OBJECT_0) return true;
        if (waited != WAIT_OBJECT_0 + 1) return false;
    }
}

}  // namespace

TEST(DialogUpdateView, CallsReachTheControlsWhileTheDialogIsAttached) {
    TestControls controls;
    auto link = std::make_shared<DialogSessionLink>();
    link->Attach(controls.Controls());
    unsigned session = link->BeginSession();
    ASSERT_NE(0u, session);
    DialogUpdateView view(link, session, "C:\\images\\fw.img", "Flashwell");
    std::string path;
    ASSERT_TRUE(RunOnWorker([&] {
        path = view.ImagePath();
        view.EnableButtons(false);
        view.ShowStatus("Downloading the image file...");
        view.SetProgress(15);
    }));
    EXPECT_EQ("C:\\images\\fw.img", path);
    EXPECT_EQ("Downloading the image file...", controls.Status());
    EXPECT_EQ(15, ::SendMessageA(controls.progress, PBM_GETPOS, 0, 0));
    EXPECT_FALSE(::IsWindowEnabled(controls.select));
    EXPECT_FALSE(::IsWindowEnabled(controls.update));
    EXPECT_TRUE(link->SessionRunning());
    ASSERT_TRUE(RunOnWorker([&] { view.EnableButtons(true); }));
    EXPECT_TRUE(::IsWindowEnabled(controls.select));
    EXPECT_TRUE(::IsWindowEnabled(controls.update));
    EXPECT_FALSE(link->SessionRunning());
}

TEST(DialogUpdateView, NothingReachesTheDialogAfterItHasDetached) {
    TestControls controls;
    auto link = std::make_shared<DialogSessionLink>();
    link->Attach(controls.Controls());
    ::SetWindowTextA(controls.status, "before");
    auto view = std::make_unique<DialogUpdateView>(link, link->BeginSession(), "x.img", "Flashwell");
    link->Detach();
    // A message box would keep the worker waiting for a user: it must not appear.
    ASSERT_TRUE(RunOnWorker([&] {
        view->EnableButtons(false);
        view->ShowStatus("after");
        view->SetProgress(30);
        view->ShowMessage("Succeeded updating the firmware.");
    }));
    EXPECT_EQ("before", controls.Status());
    EXPECT_EQ(0, ::SendMessageA(controls.progress, PBM_GETPOS, 0, 0));
    EXPECT_TRUE(::IsWindowEnabled(controls.update));
    // The view outlives the dialog's side of the link and still ends its session.
    SessionControls ignored;
    EXPECT_FALSE(link->Controls(ignored));
    view.reset();
    EXPECT_FALSE(link->SessionRunning());
}

TEST(DialogUpdateView, OneSessionAtATime) {
    auto link = std::make_shared<DialogSessionLink>();
    unsigned first = link->BeginSession();
    ASSERT_NE(0u, first);
    EXPECT_EQ(0u, link->BeginSession());  // the second click
    {
        DialogUpdateView view(link, first, "a.img", "Flashwell");
    }  // the worker ended without enabling the buttons
    EXPECT_FALSE(link->SessionRunning());
    unsigned second = link->BeginSession();
    ASSERT_NE(0u, second);
    EXPECT_NE(first, second);
    // A late end of the first session does not end the second.
    link->EndSession(first);
    EXPECT_TRUE(link->SessionRunning());
    link->EndSession(second);
    EXPECT_FALSE(link->SessionRunning());
}

namespace {

// Counts the position messages that reach the bar, then lets the bar handle them.
struct PositionCounter {
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM first, LPARAM second) {
        if (message == PBM_SETPOS) ++messages;
        return ::CallWindowProcA(original, window, message, first, second);
    }
    static WNDPROC original;
    static int messages;
};
WNDPROC PositionCounter::original = nullptr;
int PositionCounter::messages = 0;

}  // namespace

// A session reports after every packet; the bar is sent only the positions it is to show anew,
// and the first report of a session always reaches it (it may still show the end of the session
// before).
TEST(DialogUpdateView, TheBarIsSentOnlyPositionsItDoesNotShowYet) {
    TestControls controls;
    ::SendMessageA(controls.progress, PBM_SETPOS, 100, 0);  // where the last session left it
    PositionCounter::messages = 0;
    PositionCounter::original = reinterpret_cast<WNDPROC>(::SetWindowLongPtrA(
        controls.progress, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PositionCounter::Procedure)));
    auto link = std::make_shared<DialogSessionLink>();
    link->Attach(controls.Controls());
    DialogUpdateView view(link, link->BeginSession(), "x.img", "Flashwell");
    struct Step {
        unsigned position;
        int messagesAfter;
    };
    const Step steps[] = {{0, 1}, {0, 1}, {0, 1}, {1, 2}, {1, 2}, {30, 3}, {30, 3}, {100, 4}, {100, 4}};
    for (const Step &step : steps) {
        ASSERT_TRUE(RunOnWorker([&] { view.SetProgress(step.position); }));
        EXPECT_EQ(step.messagesAfter, PositionCounter::messages) << "after position " << step.position;
        EXPECT_EQ(static_cast<LRESULT>(step.position), ::SendMessageA(controls.progress, PBM_GETPOS, 0, 0));
    }
    ::SetWindowLongPtrA(controls.progress, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PositionCounter::original));
}

// A position that could not reach the bar (the dialog had detached) is not taken as shown.
TEST(DialogUpdateView, APositionThatDidNotReachTheBarIsSentAgainOnceAttached) {
    TestControls controls;
    auto link = std::make_shared<DialogSessionLink>();
    DialogUpdateView view(link, link->BeginSession(), "x.img", "Flashwell");
    ASSERT_TRUE(RunOnWorker([&] { view.SetProgress(7); }));
    EXPECT_EQ(0, ::SendMessageA(controls.progress, PBM_GETPOS, 0, 0));
    link->Attach(controls.Controls());
    ASSERT_TRUE(RunOnWorker([&] { view.SetProgress(7); }));
    EXPECT_EQ(7, ::SendMessageA(controls.progress, PBM_GETPOS, 0, 0));
}

namespace {

// Notes the bar's position when the status line receives its text.
struct StatusWatch {
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM first, LPARAM second) {
        if (message == WM_SETTEXT) positionAtText = static_cast<int>(::SendMessageA(bar, PBM_GETPOS, 0, 0));
        return ::CallWindowProcA(original, window, message, first, second);
    }
    static WNDPROC original;
    static HWND bar;
    static int positionAtText;
};
WNDPROC StatusWatch::original = nullptr;
HWND StatusWatch::bar = nullptr;
int StatusWatch::positionAtText = -1;

}  // namespace

// The bar never holds the worker, even while the dialog's thread is busy (here: not handling
// messages at all), and a status text sent after a position reaches the dialog after it, so the
// closing status never shows beside a bar that is not full yet.
TEST(DialogUpdateView, TheBarDoesNotHoldTheWorkerAndComesBeforeTheNextStatus) {
    TestControls controls;
    StatusWatch::bar = controls.progress;
    StatusWatch::original = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(controls.status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StatusWatch::Procedure)));
    auto link = std::make_shared<DialogSessionLink>();
    link->Attach(controls.Controls());
    DialogUpdateView view(link, link->BeginSession(), "x.img", "Flashwell");
    Thread worker;
    ASSERT_TRUE(worker.Start([&] { view.SetProgress(100); }));
    EXPECT_TRUE(worker.Join(10000)) << "the worker waited for the dialog's thread";
    ASSERT_TRUE(RunOnWorker([&] { view.ShowStatus("Succeeded updating the firmware."); }));
    EXPECT_EQ(100, StatusWatch::positionAtText);
    ::SetWindowLongPtrA(controls.status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatusWatch::original));
}
