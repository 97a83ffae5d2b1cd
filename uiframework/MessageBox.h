// Message boxes titled with the program's name.
#pragma once
#include <windows.h>
#include <string>

// The application object's name, or the running program's file name without its
// extension when there is no application object (a library's dialogs).
std::string AfxApplicationName();

// Owned by the calling thread's active window, else by the program's main window
// when this thread runs it, else by no window. Without an icon in
// `type`, an OK-style box gets the exclamation icon. Returns the button's id.
int AfxMessageBox(const std::string &text, UINT type = MB_OK);

// The standard message for a file that cannot be opened: the path, then
// "Cannot open the file."; shown with AfxMessageBox.
std::string AfxFileOpenErrorText(const std::string &path);
void AfxReportFileOpenError(const std::string &path);
