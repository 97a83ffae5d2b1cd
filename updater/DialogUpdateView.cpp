#include "DialogUpdateView.h"
#include <commctrl.h>
#include <utility>

DialogSessionLink::DialogSessionLink() = default;

void DialogSessionLink::Attach(const SessionControls &controls) {
    SectionHold hold(lock_);
    controls_ = controls;
    attached_ = true;
}

void DialogSessionLink::Detach() {
    SectionHold hold(lock_);
    controls_ = SessionControls{};
    attached_ = false;
}

unsigned DialogSessionLink::BeginSession(std::shared_ptr<SessionInterrupt> interrupt) {
    SectionHold hold(lock_);
    if (running_ != 0) return 0;
    if (++lastSession_ == 0) ++lastSession_;  // 0 means "none"
    running_ = lastSession_;
    interrupt_ = std::move(interrupt);
    return running_;
}

void DialogSessionLink::EndSession(unsigned session) {
    SectionHold hold(lock_);
    if (running_ != session) return;
    running_ = 0;
    interrupt_.reset();
}

void DialogSessionLink::InterruptSession(DWORD waitMs) {
    std::shared_ptr<SessionInterrupt> interrupt;
    {
        SectionHold hold(lock_);
        interrupt = interrupt_;
    }
    if (!interrupt) return;
    interrupt->Interrupt();
    // A view call that took the controls just before the detach may still send to this thread.
    const HANDLE closed = interrupt->ConnectionClosedEvent();
    const ULONGLONG end = ::GetTickCount64() + waitMs;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) return;
        const DWORD waited =
            ::MsgWaitForMultipleObjects(1, &closed, FALSE, static_cast<DWORD>(end - now), QS_SENDMESSAGE);
        if (waited != WAIT_OBJECT_0 + 1) return;
        MSG message;
        ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

bool DialogSessionLink::SessionRunning() const {
    SectionHold hold(lock_);
    return running_ != 0;
}

bool DialogSessionLink::Controls(SessionControls &controls) const {
    SectionHold hold(lock_);
    if (!attached_) return false;
    controls = controls_;
    return true;
}

DialogUpdateView::DialogUpdateView(std::shared_ptr<DialogSessionLink> link, unsigned session, std::string imagePath,
                                   std::string messageTitle, std::shared_ptr<SessionInterrupt> interrupt)
    : link_(std::move(link)), session_(session), imagePath_(std::move(imagePath)),
      messageTitle_(std::move(messageTitle)), interrupt_(std::move(interrupt)) {}

DialogUpdateView::~DialogUpdateView() { link_->EndSession(session_); }

std::string DialogUpdateView::ImagePath() { return imagePath_; }

void DialogUpdateView::EnableButtons(bool enabled) {
    // Enabling them again is the session's end: a click on the enabled Update must start the next one.
    if (enabled) link_->EndSession(session_);
    SessionControls controls;
    if (!link_->Controls(controls)) return;
    ::EnableWindow(controls.selectImage, enabled ? TRUE : FALSE);
    ::EnableWindow(controls.update, enabled ? TRUE : FALSE);
}

void DialogUpdateView::ShowStatus(const std::string &text) {
    SessionControls controls;
    if (link_->Controls(controls)) ::SetWindowTextA(controls.status, text.c_str());
}

void DialogUpdateView::SetProgress(unsigned position) {
    if (position == shownProgress_) return;
    SessionControls controls;
    if (!link_->Controls(controls)) return;
    // Queued among the messages sent to the dialog's thread, without waiting for that thread: a
    // status text sent after it reaches the dialog after it, so the bar is full when the closing
    // message says the update succeeded.
    if (::SendNotifyMessageA(controls.progress, PBM_SETPOS, position, 0)) shownProgress_ = position;
}

void DialogUpdateView::ShowMessage(const std::string &text) {
    SessionControls controls;
    if (!link_->Controls(controls)) return;
    ::MessageBoxA(nullptr, text.c_str(), messageTitle_.c_str(), MB_OK | MB_SETFOREGROUND);
}
