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
// to the controls; false when the worker has not ended within the time.
bool RunOnWorker(const std::function<void()> &body, DWORD timeoutMs = 10000) {
    Thread worker;
    if (!worker.Start(body)) return false;
    DWORD start = ::GetTickCount();
    for (;;) {
        DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        HANDLE handle = worker.Handle();
        DWORD waited = ::MsgWaitForMultipleObjects(1, &handle, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        if (waited == WAIT_OBJECT_0) return true;
        if (waited != WAIT_OBJECT_0 + 1) return false;
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
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
