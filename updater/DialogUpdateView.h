// How an update session running on a worker thread reaches the main dialog.
//
// DialogSessionLink is shared (std::shared_ptr) by the dialog and every session's
// DialogUpdateView. It holds the window handles of the controls a session drives
// while the dialog exists, and which session runs. The dialog detaches it while
// its window is being destroyed; from then on no view call touches the dialog.
// Its lock is only held to copy or change those few values, never across a window
// message, so the dialog's thread can take it while a worker waits for the
// dialog's thread to handle a message; a critical section, as it is taken on every
// view call and must cost nothing uncontended. A call that copied the handles just before
// the detach reaches, at worst, a window that is gone; the platform then fails the
// call, since window handles are checked, unlike object pointers.
#pragma once
#include "CriticalSection.h"
#include "UpdateSession.h"
#include <windows.h>
#include <memory>
#include <string>

struct SessionControls {
    HWND status = nullptr;
    HWND progress = nullptr;
    HWND selectImage = nullptr;
    HWND update = nullptr;
};

class DialogSessionLink {
public:
    DialogSessionLink();
    DialogSessionLink(const DialogSessionLink &) = delete;
    DialogSessionLink &operator=(const DialogSessionLink &) = delete;

    // Dialog thread: the dialog's controls exist / are about to go.
    void Attach(const SessionControls &controls);
    void Detach();

    // Dialog thread: marks a new session as running and returns its number, or 0
    // when a session runs already (a second click that came before the buttons
    // were disabled). `interrupt` is the session's, for InterruptSession.
    unsigned BeginSession(std::shared_ptr<SessionInterrupt> interrupt = nullptr);
    // Any thread: `session` is over, if it is the one running.
    void EndSession(unsigned session);
    bool SessionRunning() const;
    // Dialog thread, as the dialog goes (after Detach): interrupts the running session, as
    // Ctrl+C does in a console, and waits up to waitMs for it to have disconnected and closed
    // the board, answering the messages the worker sends meanwhile. The program may end then
    // without leaving the board connected.
    void InterruptSession(DWORD waitMs);

    // The controls while the dialog exists; false once detached.
    bool Controls(SessionControls &controls) const;

private:
    mutable CriticalSection lock_;
    SessionControls controls_;
    bool attached_ = false;
    unsigned running_ = 0;
    unsigned lastSession_ = 0;
    std::shared_ptr<SessionInterrupt> interrupt_;  // the running session's
};

// The UpdateView of one session. Made on the dialog's thread when Update is
// clicked, with the image path and the message-box title as they are then; used
// and deleted by the worker. Its end (EnableButtons(true), or its destruction)
// ends the session in the link, before the buttons come back.
class DialogUpdateView : public UpdateView {
public:
    DialogUpdateView(std::shared_ptr<DialogSessionLink> link, unsigned session, std::string imagePath,
                     std::string messageTitle, std::shared_ptr<SessionInterrupt> interrupt = nullptr);
    ~DialogUpdateView() override;

    // The session's interrupt, which the dialog reaches through the link; null when it has none.
    SessionInterrupt *Interrupt() { return interrupt_.get(); }

    std::string ImagePath() override;
    void EnableButtons(bool enabled) override;
    void ShowStatus(const std::string &text) override;
    // Reaches the bar only when the position differs from the one this view showed last (the
    // session reports after every packet, the bar has 100 steps), and without waiting for the
    // dialog's thread, which would cost the worker a round trip to that thread each time.
    void SetProgress(unsigned position) override;
    // A message box of its own (no owner, so that the dialog stays usable), only
    // while the dialog exists.
    void ShowMessage(const std::string &text) override;

private:
    std::shared_ptr<DialogSessionLink> link_;
    unsigned session_;
    std::string imagePath_;
    std::string messageTitle_;
    std::shared_ptr<SessionInterrupt> interrupt_;
    static constexpr unsigned kNoProgressShown = ~0u;
    unsigned shownProgress_ = kNoProgressShown;
};
