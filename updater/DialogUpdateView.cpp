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

unsigned DialogSessionLink::BeginSession() {
    SectionHold hold(m_lock);
    if (m_running != 0) return 0;
    if (++m_lastSession == 0) ++m_lastSession;  // 0 means "none"
    m_running = m_lastSession;
    return m_running;
}

void DialogSessionLink::EndSession(unsigned session) {
    SectionHold hold(m_lock);
    if (m_running == session) m_running = 0;
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
                                   std::string messageTitle)
    : m_link(std::move(link)), m_session(session), m_imagePath(std::move(imagePath)),
      m_messageTitle(std::move(messageTitle)) {}

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
