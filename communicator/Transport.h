// A transport library (Netrow, Serrow or Wirrow), loaded when the first device of
// its kind is opened, and its ten Comm API functions bound by name.
#pragma once
#include "CommApi.h"
#include "Library.h"

#include <windows.h>

struct Transport {
    // A transport as the table names it: the kind of address it serves ("TCP",
    // "COM" or "USB", as GetTransportKind gives them) and its library's file.
    struct Names {
        const char *kind;
        const char *libraryName;
    };

    explicit Transport(const Names &names);
    Transport(const Transport &) = delete;
    Transport &operator=(const Transport &) = delete;
    // Calls CommCleanup when CommStartup succeeded and CommCleanup is bound; the
    // library is released after it. Nothing is called on a transport never started.
    ~Transport();

    // Makes sure that the library is loaded, started and bound; 0 or the code of
    // the failed step. The caller holds the handle table's transport mutex.
    //
    // A library that loaded but could not be bound or started stays loaded. A later
    // call does not load it again: it retries what is missing (CommStartup, when that
    // returned non-zero before; then the lookups) and so reports a missing function
    // again with 127. CommStartup is never called again once it has returned 0.
    CommResult Load();

    char kind[16] = {};
    char libraryName[MAX_PATH] = {};
    Library module;
    PFN_CommStartup startup = nullptr;
    PFN_CommCleanup cleanup = nullptr;
    PFN_CommOpen open = nullptr;
    PFN_CommClose close = nullptr;
    PFN_CommGetOption getOption = nullptr;
    PFN_CommSetOption setOption = nullptr;
    PFN_CommConnect connect = nullptr;
    PFN_CommDisconnect disconnect = nullptr;
    PFN_CommSendData sendData = nullptr;
    PFN_CommReceiveData receiveData = nullptr;
    // CommStartup has returned 0: it is never called again for this library.
    bool started = false;
    // All ten functions are bound: the transport serves handles. Set once, never
    // cleared while the library lives, so the bound functions may be read without
    // the transport mutex by whoever saw it set.
    bool bound = false;
};

// Writes the full path of the file of the module that holds this code (that is,
// Communicator.dll) to path; empty when it cannot be found or does not fit.
void GetModuleFolderPath(char (&path)[MAX_PATH]);
