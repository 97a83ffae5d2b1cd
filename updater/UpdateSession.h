// One firmware update: find the board, connect, send the image payload packet by
// packet with the board's reply to each, and report through an UpdateView.
// The session reaches the Comm API through a table, so that it drives any
// implementation (Communicator's exports in Flashwell, scripted boards in tests).
#pragma once
#include "CommApi.h"
#include <functional>
#include <string>
#include <vector>

// The seven Comm API calls the session makes.
struct CommFunctions {
    PFN_CommOpen open;
    PFN_CommClose close;
    PFN_CommConnect connect;
    PFN_CommDisconnect disconnect;
    PFN_CommGetOption getOption;
    PFN_CommSendData sendData;
    PFN_CommReceiveData receiveData;
};

// What the session needs of the main dialog. Calls come from the worker thread.
class UpdateView {
public:
    virtual ~UpdateView() = default;
    virtual std::string ImagePath() = 0;
    // Select Image and Update together.
    virtual void EnableButtons(bool enabled) = 0;
    virtual void ShowStatus(const std::string &text) = 0;
    virtual void SetProgress(unsigned position) = 0;
    // Message box with an OK button; returns when the user has closed it.
    virtual void ShowMessage(const std::string &text) = 0;
};

// Appends the device-interface path of every present board to `paths`, in
// enumeration order; returns how many it appended.
using TargetFinder = std::function<size_t(std::vector<std::string> &paths)>;
size_t FindTargets(std::vector<std::string> &paths);

void RunUpdateSession(UpdateView &view, const CommFunctions &comm, const TargetFinder &findTargets = FindTargets);
