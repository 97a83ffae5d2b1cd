#include "Transport.h"

#include "CopyText.h"
#include "LibraryPath.h"

namespace {

// The loader's code for the step that failed; the fallback only guards against
// a loader that reports failure without setting one.
CommResult LastErrorOr(CommResult fallback) {
    DWORD error = ::GetLastError();
    return error != 0 ? error : fallback;
}

template <typename Fn> bool Bind(const Library &module, Fn &field, const char *functionName) {
    if (!field) field = module.Symbol<Fn>(functionName);
    return field != nullptr;
}

}  // namespace

Transport::Transport(const Names &names) {
    CopyText(kind, names.kind);
    CopyText(libraryName, names.libraryName);
}

Transport::~Transport() {
    if (started && cleanup) cleanup();  // its result changes nothing here
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

CommResult Transport::Load() {
    if (bound) return COMM_SUCCESS;

    if (!module) {
        HMODULE loaded = ::LoadLibraryA(libraryName);
        if (!loaded) {
            // Not on the search path: look beside Communicator itself.
            char modulePath[MAX_PATH];
            GetModuleFolderPath(modulePath);
            char besideModule[2 * MAX_PATH];
            PathBesideModule(modulePath, libraryName, IsAnsiLeadByte, besideModule, sizeof(besideModule));
            loaded = ::LoadLibraryA(besideModule);
            if (!loaded) return LastErrorOr(COMM_ERROR_MOD_NOT_FOUND);
        }
        module.Reset(loaded);
    }

    if (!started) {
        if (!Bind(module, startup, "CommStartup")) return LastErrorOr(COMM_ERROR_PROC_NOT_FOUND);
        CommResult startResult = startup();
        if (startResult != COMM_SUCCESS) return startResult;
        started = true;
    }

    bool allBound = Bind(module, cleanup, "CommCleanup") && Bind(module, connect, "CommConnect") &&
                    Bind(module, disconnect, "CommDisconnect") && Bind(module, open, "CommOpen") &&
                    Bind(module, close, "CommClose") && Bind(module, sendData, "CommSendData") &&
                    Bind(module, receiveData, "CommReceiveData") && Bind(module, getOption, "CommGetOption") &&
                    Bind(module, setOption, "CommSetOption");
    if (!allBound) return LastErrorOr(COMM_ERROR_PROC_NOT_FOUND);
    bound = true;
    return COMM_SUCCESS;
}
