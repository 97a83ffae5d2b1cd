// CommSelectDevice: the board-selection dialog of Communicator, shown modally on
// the caller's thread from the library's own dialog templates.
#include "AddressCheck.h"
#include "CommApi.h"
#include "SelectDeviceDialog.h"
#include "StoreFormat.h"
#include "WinApp.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// The text and its zero, at most 259 characters; the rest of the field keeps
// what the caller had there.
void CopyText(const std::string &text, char (&field)[COMM_TEXT_FIELD_SIZE]) {
    const std::size_t length = std::min(text.size(), store::kMaxTextLength);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

}  // namespace

extern "C" CommResult COMM_CALL CommSelectDevice(SelectionRecord *selection, void *parentWindow) {
    if (!AfxIsValidAddress(selection, sizeof(*selection), TRUE)) return COMM_E_POINTER;
    try {
        // The templates are this library's, whatever module the caller is.
        CModuleResourceScope resources(AfxGetInstanceHandle());
        HWND owner = parentWindow ? static_cast<HWND>(parentWindow) : ::GetTopWindow(nullptr);
        SelectDeviceDialog dialog(owner);
        // The dialog ends only with IDOK or IDCANCEL. The platform gives 0 when the
        // owner is no window and -1 when the dialog cannot be made: nothing was chosen.
        switch (dialog.DoModal()) {
        case IDOK:
            break;
        case IDCANCEL:
            return COMM_ERROR_CANCELLED;
        case 0:
            return COMM_ERROR_INVALID_PARAMETER;
        default:
            return COMM_ERROR_NOT_ENOUGH_MEMORY;
        }
        CopyText(dialog.m_displayName, selection->displayName);
        CopyText(dialog.m_deviceAddress, selection->address);
        selection->port = dialog.m_devicePort;
        CopyText(dialog.m_routerAddress, selection->routerAddress);
        selection->routerPort = dialog.m_routerPort;
        return COMM_SUCCESS;
    } catch (const std::bad_alloc &) {
        return COMM_ERROR_NOT_ENOUGH_MEMORY;
    }
}
