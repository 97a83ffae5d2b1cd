// The window class of the links' removal watch (the NotifyWorker lives in UsbLink).
#pragma once
#include <windows.h>

namespace wirrow {

extern const char kNotifyWindowClass[];
// The module the class and its windows belong to: this library.
HINSTANCE NotifyWindowInstance();
// At the library's unload, when no link (and so no window) is left.
void UnregisterNotifyWindowClass();

}  // namespace wirrow
