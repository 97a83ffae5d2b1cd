#include "FlashwellDriver.h"
#include <commctrl.h>
#include <iostream>
#include <vector>

namespace flashwelltest {

namespace {

constexpr DWORD kPollMs = 10;
constexpr UINT kMessageTimeoutMs = 5000;
constexpr int kFileNameField = 0x47c;
constexpr int kMessageBoxText = 0xFFFF;

std::wstring Wide(const std::string &text) {
    int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(length > 0 ? static_cast<size_t>(length) : 1, L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string Narrow(const std::wstring &text) {
    int length = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(length > 0 ? static_cast<size_t>(length) : 1, '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), length, nullptr, nullptr);
    narrow.resize(narrow.size() - 1);
    return narrow;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof(name));
    return name;
}

struct WindowSearch {
    DWORD processId;
    HWND exclude;
    std::string caption;
    int itemId;
    HWND found;
};

BOOL CALLBACK MatchTopWindow(HWND window, LPARAM parameter) {
    auto *search = reinterpret_cast<WindowSearch *>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || window == search->exclude || !::IsWindowVisible(window)) return TRUE;
    if (ClassOf(window) != "#32770") return TRUE;
    if (!search->caption.empty() && WindowText(window) != search->caption) return TRUE;
    if (search->itemId != 0 && !::GetDlgItem(window, search->itemId)) return TRUE;
    search->found = window;
    return FALSE;
}

struct ButtonSearch {
    int id;
    HWND found;
};

BOOL CALLBACK MatchButton(HWND window, LPARAM parameter) {
    auto *search = reinterpret_cast<ButtonSearch *>(parameter);
    if (::GetDlgCtrlID(window) == search->id && ClassOf(window) == "Button") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

std::string WindowText(HWND window) {
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length))
        return std::string();
    std::vector<wchar_t> text(length + 1);
    DWORD_PTR copied = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                               kMessageTimeoutMs, &copied))
        return std::string();
    return Narrow(std::wstring(text.data(), copied));
}

std::string ItemText(HWND dialog, int id) { return WindowText(::GetDlgItem(dialog, id)); }

bool WaitUntil(const std::function<bool()> &condition, DWORD timeoutMs) {
    DWORD start = ::GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(kPollMs);
    }
}

bool ReportForPicture(const char *name, HWND window) {
    RECT rect{};
    if (!window || !::GetWindowRect(window, &rect)) return false;
    std::cout << name << ' ' << rect.left << ' ' << rect.top << ' ' << rect.right - rect.left << ' '
              << rect.bottom - rect.top << std::endl;
    std::string line;
    return static_cast<bool>(std::getline(std::cin, line));
}

HWND WaitForProgramWindow(DWORD processId, HWND exclude, const std::string &caption, int itemId, DWORD timeoutMs) {
    WindowSearch search{processId, exclude, caption, itemId, nullptr};
    WaitUntil(
        [&] {
            search.found = nullptr;
            ::EnumWindows(&MatchTopWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
}

bool AnswerProgramMessageBox(DWORD processId, HWND exclude, std::string &text, DWORD timeoutMs) {
    HWND box = WaitForProgramWindow(processId, exclude, "", kMessageBoxText, timeoutMs);
    if (!box) return false;
    text = ItemText(box, kMessageBoxText);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    return WaitUntil([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }, timeoutMs);
}

FlashwellDriver::~FlashwellDriver() {
    if (process_ && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_.Get(), 1);
        ::WaitForSingleObject(process_.Get(), 10000);
    }
}

bool FlashwellDriver::Start(const std::string &folder, DWORD timeoutMs) {
    std::string program = folder + "\\Flashwell.exe";
    std::string commandLine = "\"" + program + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                          &startup, &info))
        return false;
    process_.Reset(info.hProcess);
    thread_.Reset(info.hThread);
    processId_ = info.dwProcessId;
    dialog_ = WaitForWindow("Flashwell", 1000, timeoutMs);
    return dialog_ != nullptr;
}

int FlashwellDriver::ProgressPosition() const {
    DWORD_PTR position = 0;
    if (!::SendMessageTimeoutW(Item(1004), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &position)) return -1;
    return static_cast<int>(position);
}

int FlashwellDriver::DefaultButton() const {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(dialog_, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result)) return -1;
    return HIWORD(result) == DC_HASDEFID ? LOWORD(result) : -1;
}

void FlashwellDriver::Click(int id) const {
    ::PostMessageW(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
}

void FlashwellDriver::PostCommand(int id) const { ::PostMessageW(dialog_, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

bool FlashwellDriver::Sync(DWORD timeoutMs) const {
    DWORD_PTR ignored = 0;
    return ::SendMessageTimeoutW(dialog_, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &ignored) != 0;
}

HWND FlashwellDriver::WaitForWindow(const std::string &caption, int itemId, DWORD timeoutMs) const {
    return WaitForProgramWindow(processId_, dialog_, caption, itemId, timeoutMs);
}

bool FlashwellDriver::MessageBoxShown() const { return WaitForWindow("", kMessageBoxText, 0) != nullptr; }

bool FlashwellDriver::AnswerMessageBox(std::string &text, DWORD timeoutMs) const {
    return AnswerProgramMessageBox(processId_, dialog_, text, timeoutMs);
}

bool FlashwellDriver::ChooseImage(const std::string &path, DWORD timeoutMs) const {
    Click(1003);
    HWND fileDialog = WaitForWindow("", kFileNameField, timeoutMs);
    if (!fileDialog) return false;
    if (path.empty()) {
        ::PostMessageW(fileDialog, WM_COMMAND, IDCANCEL, 0);
    } else {
        std::wstring widePath = Wide(path);
        DWORD_PTR ignored = 0;
        if (!::SendMessageTimeoutW(::GetDlgItem(fileDialog, kFileNameField), WM_SETTEXT, 0,
                                   reinterpret_cast<LPARAM>(widePath.c_str()), SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                                   &ignored))
            return false;
        // The "Open" push button; a toolbar inside the dialog has id 1 too.
        ButtonSearch search{IDOK, nullptr};
        ::EnumChildWindows(fileDialog, &MatchButton, reinterpret_cast<LPARAM>(&search));
        if (!search.found) return false;
        ::PostMessageW(search.found, BM_CLICK, 0, 0);
    }
    return WaitUntil([&] { return !::IsWindow(fileDialog) || !::IsWindowVisible(fileDialog); }, timeoutMs);
}

DWORD FlashwellDriver::WaitForExit(DWORD timeoutMs) const {
    if (!process_ || ::WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process_.Get(), &code);
    return code;
}

}  // namespace flashwelltest
