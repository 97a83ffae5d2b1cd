#include "TransportEntry.h"

#include "CopyText.h"
#include "LibraryPath.h"

namespace {

// The loader's code for the step that failed; the fallback only guards against
// a loader that reports failure without setting one.
CommResult LastErrorOr(CommResult fallback) {
    DWORD error = ::GetLastError();
    return error != 0 ? error : fallback;
}

bool IsLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

template <typename Fn> bool Bind(const Library &module, Fn &field, const char *functionName) {
    if (!field) field = module.Symbol<Fn>(functionName);
    return field != nullptr;
}

}  // namespace

TransportEntry::TransportEntry(const char *kindName, const char *fileName) {
    CopyText(name, kindName);
    CopyText(libraryName, fileName);
}

void TransportEntry::Unload() {
    if (!module) return;
    if (started && cleanup) cleanup();  // its result changes nothing here
    module.Reset();
    startup = nullptr;
    cleanup = nullptr;
    open = nullptr;
    close = nullptr;
    getOption = nullptr;
    setOption = nullptr;
    connect = nullptr;
    disconnect = nullptr;
    sendData = nullptr;
    receiveData = nullptr;
    started = false;
    bound = false;
}

void GetModuleFolderPath(char (&path)[MAX_PATH]) {
    path[0] = '\0';
    static const char anchorInThisModule = 0;
    HMODULE self = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              &anchorInThisModule, &self)) {
        return;
    }
    DWORD length = ::GetModuleFileNameA(self, path, MAX_PATH);
    // A cut-off path would name some other file.
    if (length == 0 || length >= MAX_PATH) path[0] = '\0';
}

CommResult LoadTransport(TransportEntry &row) {
    if (row.bound) return COMM_SUCCESS;

    if (!row.module) {
        HMODULE module = ::LoadLibraryA(row.libraryName);
        if (!module) {
            // Not on the search path: look beside Communicator itself.
            char modulePath[MAX_PATH];
            GetModuleFolderPath(modulePath);
            char besideModule[2 * MAX_PATH];
            PathBesideModule(modulePath, row.libraryName, IsLeadByte, besideModule, sizeof(besideModule));
            module = ::LoadLibraryA(besideModule);
            if (!module) return LastErrorOr(COMM_ERROR_MOD_NOT_FOUND);
        }
        row.module.Reset(module);
    }

    if (!row.started) {
        if (!Bind(row.module, row.startup, "CommStartup")) return LastErrorOr(COMM_ERROR_PROC_NOT_FOUND);
        CommResult startResult = row.startup();
        if (startResult != COMM_SUCCESS) return startResult;
        row.started = true;
    }

    bool allBound = Bind(row.module, row.cleanup, "CommCleanup") && Bind(row.module, row.connect, "CommConnect") &&
                    Bind(row.module, row.disconnect, "CommDisconnect") && Bind(row.module, row.open, "CommOpen") &&
                    Bind(row.module, row.close, "CommClose") && Bind(row.module, row.sendData, "CommSendData") &&
                    Bind(row.module, row.receiveData, "CommReceiveData") &&
                    Bind(row.module, row.getOption, "CommGetOption") &&
                    Bind(row.module, row.setOption, "CommSetOption");
    if (!allBound) return LastErrorOr(COMM_ERROR_PROC_NOT_FOUND);
    row.bound = true;
    return COMM_SUCCESS;
}
