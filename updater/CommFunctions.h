// The Comm API calls an update session makes, as one table, so that the session
// drives any implementation: Communicator.dll linked in (Flashwell, ImageTool),
// a library loaded by name (the benchmark), scripted boards (tests).
#pragma once
#include "CommApi.h"

struct CommFunctions {
    PFN_CommOpen open;
    PFN_CommClose close;
    PFN_CommConnect connect;
    PFN_CommDisconnect disconnect;
    PFN_CommGetOption getOption;
    PFN_CommSendData sendData;
    PFN_CommReceiveData receiveData;
};

// The exports of the Communicator.dll a program links against; only programs that
// link it may call this. The table lives as long as the program.
inline const CommFunctions &LinkedCommunicator() {
    static const CommFunctions exports{&CommOpen,      &CommClose,    &CommConnect,    &CommDisconnect,
                                       &CommGetOption, &CommSendData, &CommReceiveData};
    return exports;
}

// The same calls of a loaded library (`Library` or any owner with Symbol<Fn>(name));
// false when one is missing.
template <typename LoadedLibrary> bool LoadCommFunctions(const LoadedLibrary &library, CommFunctions &comm) {
    comm.open = library.template Symbol<PFN_CommOpen>("CommOpen");
    comm.close = library.template Symbol<PFN_CommClose>("CommClose");
    comm.connect = library.template Symbol<PFN_CommConnect>("CommConnect");
    comm.disconnect = library.template Symbol<PFN_CommDisconnect>("CommDisconnect");
    comm.getOption = library.template Symbol<PFN_CommGetOption>("CommGetOption");
    comm.sendData = library.template Symbol<PFN_CommSendData>("CommSendData");
    comm.receiveData = library.template Symbol<PFN_CommReceiveData>("CommReceiveData");
    return comm.open && comm.close && comm.connect && comm.disconnect && comm.getOption && comm.sendData &&
           comm.receiveData;
}
