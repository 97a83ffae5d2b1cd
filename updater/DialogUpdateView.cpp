#include "DialogUpdateView.h"
#include <commctrl.h>
#include <utility>

DialogSessionLink::DialogSessionLink() = default;

void DialogSessionLink::Attach(const SessionControls &controls) {
    SectionHold hold(m_lock);
    m_controls = controls;
    m_attached = true;
}

void DialogSessionLink::Detach() {
    SectionHold hold(m_lock);
    m_controls = SessionControls{};
    m_attached = false;
}

unsigned DialogSessionLink::BeginSession(std::shared_ptr<SessionInterrupt> interrupt) {
    SectionHold hold(m_lock);
    if (m_running != 0) return 0;
    if (++m_lastSession == 0) ++m_lastSession;  // 0 means "none"
    m_running = m_lastSession;
    m_interrupt = std::move(interrupt);
    return m_running;
}

void DialogSessionLink::EndSession(unsigned session) {
    SectionHold hold(m_lock);
    if (m_running != session) return;
    m_running = 0;
    m_interrupt.reset();
}

void DialogSessionLink::InterruptSession(DWORD waitMs) {
    std::shared_ptr<SessionInterrupt> interrupt;
    {
        SectionHold hold(m_lock);
        interrupt = m_interrupt;
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
    SectionHold hold(m_lock);
    return m_running != 0;
}

bool DialogSessionLink::Controls(SessionControls &controls) const {
    SectionHold hold(m_lock);
    if (!m_attached) return false;
    controls = m_controls;
    return true;
}

DialogUpdateView::DialogUpdateView(std::shared_ptr<DialogSessionLink> link, unsigned session, std::string imagePath,
                                   std::string messageTitle, std::shared_ptr<SessionInterrupt> interrupt)
    : m_link(std::move(link)), m_session(session), m_imagePath(std::move(imagePath)),
      m_messageTitle(std::move(messageTitle)), m_interrupt(std::move(interrupt)) {}

DialogUpdateView::~DialogUpdateView() { m_link->EndSession(m_session); }

std::string DialogUpdateView::ImagePath() { return m_imagePath; }

void DialogUpdateView::EnableButtons(bool enabled) {
    // Enabling them again is the session's end: a click on the enabled Update must start the next one.
    if (enabled) m_link->EndSession(m_session);
    SessionControls controls;
    if (!m_link->Controls(controls)) return;
    ::EnableWindow(controls.selectImage, enabled ? TRUE : FALSE);
    ::EnableWindow(controls.update, enabled ? TRUE : FALSE);
}

void DialogUpdateView::ShowStatus(const std::string &text) {
    SessionControls controls;
    if (m_link->Controls(controls)) ::SetWindowTextA(controls.status, text.c_str());
}

void DialogUpdateView::SetProgress(unsigned position) {
    if (position == m_shownProgress) return;
    SessionControls controls;
    if (!m_link->Controls(controls)) return;
    // Queued among the messages sent to the dialog's thread, without waiting for that thread: a
    // status text sent after it reaches the dialog after it, so the bar is full when the closing
    // message says the update succeeded.
    if (::SendNotifyMessageA(controls.progress, PBM_SETPOS, position, 0)) m_shownProgress = position;
}

void DialogUpdateView::ShowMessage(const std::string &text) {
    SessionControls controls;
    if (!m_link->Controls(controls)) return;
    ::MessageBoxA(nullptr, text.c_str(), m_messageTitle.c_str(), MB_OK | MB_SETFOREGROUND);
}
