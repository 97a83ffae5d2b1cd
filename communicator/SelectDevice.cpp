// CommSelectDevice: the board-selection dialog of Communicator, shown modally on
// the caller's thread from the library's own dialog templates.
#include "CommApi.h"
#include "CopyText.h"
#include "MemoryAccess.h"
#include "SelectDeviceDialog.h"
#include "WinApp.h"

#include <new>

namespace {

// The owner when the caller names none: the caller's program's visible top-level
// window highest in the window order. Another program's window is never taken: a
// modal dialog disables its owner, which would freeze that program's window, close
// box included, for as long as the dialog is open. Hidden windows are passed over:
// they own nothing the user sees, and many (input-method and helper windows) go
// away at any moment, taking a dialog that is being made under them along.
HWND ImplicitOwner() {
    const DWORD thisProcess = ::GetCurrentProcessId();
    for (HWND window = ::GetTopWindow(nullptr); window; window = ::GetWindow(window, GW_HWNDNEXT)) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        if (process == thisProcess && ::IsWindowVisible(window)) return window;
    }
    return nullptr;
}

// Runs the dialog modally; on IDOK the choice goes into the record, which is
// otherwise left as the caller had it.
INT_PTR RunDialog(HWND owner, SelectionRecord &selection) {
    SelectDeviceDialog dialog(owner);
    const INT_PTR ended = dialog.DoModal();
    if (ended == IDOK) {
        CopyText(selection.displayName, dialog.m_displayName.c_str());
        CopyText(selection.address, dialog.m_deviceAddress.c_str());
        selection.port = dialog.m_devicePort;
        CopyText(selection.routerAddress, dialog.m_routerAddress.c_str());
        selection.routerPort = dialog.m_routerPort;
    }
    return ended;
}

}  // namespace

extern "C" CommResult COMM_CALL CommSelectDevice(SelectionRecord *selection, void *parentWindow) {
    if (!CanWriteMemory(selection, sizeof(*selection))) return COMM_E_POINTER;
    try {
        // The templates are this library's, whatever module the caller is.
        CModuleResourceScope resources(AfxGetInstanceHandle());
        HWND owner = parentWindow ? static_cast<HWND>(parentWindow) : ImplicitOwner();
        INT_PTR ended = RunDialog(owner, *selection);
        if ((ended == 0 || ended == -1) && !parentWindow && owner && !::IsWindow(owner)) {
            // The owner we picked went away while the dialog was being made.
            ended = RunDialog(nullptr, *selection);
        }
        // The dialog ends only with IDOK or IDCANCEL. The platform gives 0 when the
        // owner is no window and -1 when the dialog cannot be made: nothing was chosen.
        switch (ended) {
        case IDOK:
            break;
        case IDCANCEL:
            return COMM_ERROR_CANCELLED;
        case 0:
            return COMM_ERROR_INVALID_PARAMETER;
        default:
            return COMM_ERROR_NOT_ENOUGH_MEMORY;
        }
        return COMM_SUCCESS;
    } catch (const std::bad_alloc &) {
        return COMM_ERROR_NOT_ENOUGH_MEMORY;
    }
}
