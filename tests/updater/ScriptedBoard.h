// A board behind the CommFunctions table for update-session tests: answers from
// a script, can fail any call, and records every call with its arguments into a
// log shared with RecordingView, so that the order of Comm API calls and view
// updates can be checked together. One instance at a time (the table holds
// plain function pointers).
#pragma once
#include "CommApi.h"
#include "UniqueHandle.h"
#include "UpdateSession.h"
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct ScriptedReply {
    uint8_t status[2] = {0, 0};
    uint32_t length = 16;          // stored through the length pointer
    CommResult result = COMM_SUCCESS;
    bool silent = false;           // never comes: the receive waits until a disconnect ends it
    bool twice = false;            // the board sends this reply twice
    bool foreignHeader = false;    // with repliesRepeatHeader: repeats a header no packet had
};

class ScriptedBoard {
public:
    explicit ScriptedBoard(std::vector<std::string> &log);
    ~ScriptedBoard();
    ScriptedBoard(const ScriptedBoard &) = delete;
    ScriptedBoard &operator=(const ScriptedBoard &) = delete;

    CommFunctions Functions() const;
    HCOMM Handle() const { return reinterpret_cast<HCOMM>(static_cast<uintptr_t>(0x5150)); }

    // Script.
    CommResult openResult = COMM_SUCCESS;
    CommResult connectResult = COMM_SUCCESS;
    CommResult maxPayloadResult = COMM_SUCCESS;
    uint32_t maxPayload = 1024;
    CommResult hostOrderResult = COMM_SUCCESS;
    bool writeHostOrder = true;  // false: leave the caller's value as it is
    uint32_t hostOrder = 1;
    std::map<size_t, CommResult> sendResults;     // by packet number, from 0
    size_t silentSend = SIZE_MAX;                 // this packet is never acknowledged: its send
                                                  // waits until a disconnect ends it
    bool repliesRepeatHeader = false;             // replies carry their packet's last_flag and length
    std::map<size_t, ScriptedReply> replies;      // by packet number; others accept
    std::function<void(size_t packetNumber)> afterSend;
    size_t packetPrefixKept = 1 << 20;            // bytes of each packet kept in `packets`

    // Records.
    struct OpenCall {
        std::string address;
        uint32_t reserved;
        bool handleOutGiven;
        bool routerHostNull;
        uint32_t routerPort;
    };
    struct ConnectCall {
        uint32_t channel;
        int subchannel;  // -1: null pointer
        bool requestNull;
        bool replyNull;
    };
    struct SendCall {
        std::vector<uint8_t> packet;  // at most packetPrefixKept bytes
        uint32_t length;
        uint32_t channel;
        uint32_t subchannel;
    };
    struct ReceiveCall {
        uint32_t capacity;
        int channelOnEntry;     // -1: null pointer
        int subchannelOnEntry;  // -1: null pointer
    };
    std::vector<OpenCall> opens;
    std::vector<ConnectCall> connects;
    std::vector<uint32_t> hostOrderOnEntry;
    std::vector<SendCall> sends;
    std::vector<ReceiveCall> receives;

private:
    static ScriptedBoard *&Current();
    void Log(const std::string &entry) { log_.push_back(entry); }
    bool CheckHandle(const char *call, HCOMM handle);
    // A call that waits for a board that never answers: COMM_ERROR_DEVICE_NOT_CONNECTED once
    // disconnected. Bounded, so that a session that never cuts the connection fails the test
    // instead of hanging it.
    CommResult WaitForDisconnect(const char *call);

    static CommResult COMM_CALL Open(const char *, uint32_t, HCOMM *, const char *, uint32_t);
    static CommResult COMM_CALL Close(HCOMM);
    static CommResult COMM_CALL Connect(HCOMM, uint32_t, const uint8_t *, const void *, void *);
    static CommResult COMM_CALL Disconnect(HCOMM);
    static CommResult COMM_CALL GetOption(HCOMM, uint32_t, void *);
    static CommResult COMM_CALL SendData(HCOMM, const void *, uint32_t, uint32_t, uint32_t);
    static CommResult COMM_CALL ReceiveData(HCOMM, void *, uint32_t *, uint8_t *, uint8_t *);

    std::vector<std::string> &log_;
    UniqueHandle disconnected_ = MakeEvent(true, false);
    std::deque<size_t> repliesDue_;  // packet numbers, in the order their replies come
};

// The dialog side of a session, recorded into the same log.
class RecordingView : public UpdateView {
public:
    explicit RecordingView(std::vector<std::string> &log) : log_(log) {}
    std::string imagePath;

    std::string ImagePath() override { return imagePath; }
    void EnableButtons(bool enabled) override { log_.push_back(enabled ? "buttons: on" : "buttons: off"); }
    void ShowStatus(const std::string &text) override { log_.push_back("status: " + text); }
    void SetProgress(unsigned position) override { log_.push_back("progress: " + std::to_string(position)); }
    void ShowMessage(const std::string &text) override { log_.push_back("message: " + text); }

private:
    std::vector<std::string> &log_;
};
