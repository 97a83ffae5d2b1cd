// Starts Flashwell.exe as its own process and drives its windows from outside
// with window messages, as a user's clicks and keys would. Every wait is bounded:
// the conditions are checked every few milliseconds until a deadline.
#pragma once
#include "UniqueHandle.h"
#include <windows.h>
#include <functional>
#include <string>

namespace flashwelltest {

// Window texts read with the wide calls (the ANSI ones may ignore time-outs
// across processes), returned in the ANSI code page.
std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);
bool WaitUntil(const std::function<bool()> &condition, DWORD timeoutMs);
// A visible top-level dialog window of process `processId` other than `exclude` whose
// caption is `caption` (any caption when empty) and that has control `itemId` (any when
// 0); null when none comes within the time.
HWND WaitForProgramWindow(DWORD processId, HWND exclude, const std::string &caption, int itemId, DWORD timeoutMs);
// A message box of process `processId`: waits for it, returns its text and closes it with OK.
bool AnswerProgramMessageBox(DWORD processId, HWND exclude, std::string &text, DWORD timeoutMs);
// For tools/screenshots.sh: prints "<name> <left> <top> <width> <height>" of the window, then
// waits for a line on standard input (the picture taken). False when there is no window or
// input ended.
bool ReportForPicture(const char *name, HWND window);

class FlashwellDriver {
public:
    FlashwellDriver() = default;
    FlashwellDriver(const FlashwellDriver &) = delete;
    FlashwellDriver &operator=(const FlashwellDriver &) = delete;
    // Ends a program still running.
    ~FlashwellDriver();

    // Starts `folder`\Flashwell.exe in `folder` and waits for its main dialog.
    bool Start(const std::string &folder, DWORD timeoutMs = 20000);
    HWND Dialog() const { return dialog_; }
    HWND Item(int id) const { return ::GetDlgItem(dialog_, id); }
    std::string Text(int id) const { return ItemText(dialog_, id); }
    bool Enabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }
    int ProgressPosition() const;
    // The dialog's default button id, or -1.
    int DefaultButton() const;

    // A click as the button itself reports it to the dialog.
    void Click(int id) const;
    void PostCommand(int id) const;
    // Returns once the dialog's thread has handled everything posted before.
    bool Sync(DWORD timeoutMs = 5000) const;

    // A visible top-level dialog window of the program other than the main dialog
    // whose caption is `caption` (any caption when empty) and that has control
    // `itemId` (any when 0); null when none comes within the time.
    HWND WaitForWindow(const std::string &caption, int itemId, DWORD timeoutMs = 10000) const;
    // A message box: waits for it, returns its text and closes it with OK.
    bool AnswerMessageBox(std::string &text, DWORD timeoutMs = 10000) const;
    bool MessageBoxShown() const;

    // Picks `path` in the open-file dialog of Select Image (or cancels it when empty).
    bool ChooseImage(const std::string &path, DWORD timeoutMs = 10000) const;

    // Waits for the program's end; its exit code, or STILL_ACTIVE on time-out.
    DWORD WaitForExit(DWORD timeoutMs = 20000) const;
    DWORD ProcessId() const { return processId_; }

private:
    UniqueHandle process_;
    UniqueHandle thread_;
    DWORD processId_ = 0;
    HWND dialog_ = nullptr;
};

}  // namespace flashwelltest
