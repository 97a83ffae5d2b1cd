#include "ScriptedBoard.h"
#include <algorithm>
#include <cstring>

ScriptedBoard::ScriptedBoard(std::vector<std::string> &log) : log_(log) { Current() = this; }

ScriptedBoard::~ScriptedBoard() { Current() = nullptr; }

ScriptedBoard *&ScriptedBoard::Current() {
    static ScriptedBoard *current = nullptr;
    return current;
}

CommFunctions ScriptedBoard::Functions() const {
    return CommFunctions{&Open, &Close, &Connect, &Disconnect, &GetOption, &SendData, &ReceiveData};
}

bool ScriptedBoard::CheckHandle(const char *call, HCOMM handle) {
    if (handle == Handle()) return true;
    Log(std::string(call) + " with a foreign handle");
    return false;
}

CommResult COMM_CALL ScriptedBoard::Open(const char *address, uint32_t reserved, HCOMM *handle, const char *routerHost,
                                         uint32_t routerPort) {
    ScriptedBoard &board = *Current();
    board.Log("CommOpen");
    board.opens.push_back({address ? address : "", reserved, handle != nullptr, routerHost == nullptr, routerPort});
    if (!handle) return COMM_E_POINTER;
    *handle = board.openResult == COMM_SUCCESS ? board.Handle() : nullptr;
    return board.openResult;
}

CommResult COMM_CALL ScriptedBoard::Close(HCOMM handle) {
    ScriptedBoard &board = *Current();
    board.Log("CommClose");
    return board.CheckHandle("CommClose", handle) ? COMM_SUCCESS : COMM_ERROR_INVALID_HANDLE;
}

CommResult COMM_CALL ScriptedBoard::Connect(HCOMM handle, uint32_t channel, const uint8_t *subchannel,
                                            const void *request, void *reply) {
    ScriptedBoard &board = *Current();
    board.Log("CommConnect");
    if (!board.CheckHandle("CommConnect", handle)) return COMM_ERROR_INVALID_HANDLE;
    board.connects.push_back({channel, subchannel ? *subchannel : -1, request == nullptr, reply == nullptr});
    return board.connectResult;
}

CommResult ScriptedBoard::WaitForDisconnect(const char *call) {
    if (::WaitForSingleObject(disconnected_.Get(), 20000) != WAIT_OBJECT_0)
        Log(std::string(call) + " waited 20 s for a disconnect");
    return COMM_ERROR_DEVICE_NOT_CONNECTED;
}

CommResult COMM_CALL ScriptedBoard::Disconnect(HCOMM handle) {
    ScriptedBoard &board = *Current();
    board.Log("CommDisconnect");
    ::SetEvent(board.disconnected_.Get());
    return board.CheckHandle("CommDisconnect", handle) ? COMM_SUCCESS : COMM_ERROR_INVALID_HANDLE;
}

CommResult COMM_CALL ScriptedBoard::GetOption(HCOMM handle, uint32_t option, void *value) {
    ScriptedBoard &board = *Current();
    board.Log("CommGetOption " + std::to_string(option));
    if (!board.CheckHandle("CommGetOption", handle)) return COMM_ERROR_INVALID_HANDLE;
    if (!value) return COMM_E_POINTER;
    auto *number = static_cast<uint32_t *>(value);
    switch (option) {
    case COMM_OPT_MAX_PAYLOAD:
        if (board.maxPayloadResult == COMM_SUCCESS) *number = board.maxPayload;
        return board.maxPayloadResult;
    case COMM_OPT_HOST_ORDER:
        board.hostOrderOnEntry.push_back(*number);
        if (board.writeHostOrder && board.hostOrderResult == COMM_SUCCESS) *number = board.hostOrder;
        return board.hostOrderResult;
    default:
        return COMM_ERROR_INVALID_PARAMETER;
    }
}

CommResult COMM_CALL ScriptedBoard::SendData(HCOMM handle, const void *data, uint32_t length, uint32_t channel,
                                             uint32_t subchannel) {
    ScriptedBoard &board = *Current();
    board.Log("CommSendData");
    if (!board.CheckHandle("CommSendData", handle)) return COMM_ERROR_INVALID_HANDLE;
    const size_t number = board.sends.size();
    const auto *bytes = static_cast<const uint8_t *>(data);
    const size_t kept = std::min<size_t>(length, board.packetPrefixKept);
    board.sends.push_back({std::vector<uint8_t>(bytes, bytes + kept), length, channel, subchannel});
    auto scripted = board.sendResults.find(number);
    CommResult result = scripted == board.sendResults.end() ? COMM_SUCCESS : scripted->second;
    if (number == board.silentSend) result = board.WaitForDisconnect("CommSendData");
    // A real board answers only delivered packets.
    if (result == COMM_SUCCESS) {
        auto reply = board.replies.find(number);
        const bool twice = reply != board.replies.end() && reply->second.twice;
        board.repliesDue_.insert(board.repliesDue_.end(), twice ? 2 : 1, number);
    }
    if (board.afterSend) board.afterSend(number);
    return result;
}

CommResult COMM_CALL ScriptedBoard::ReceiveData(HCOMM handle, void *buffer, uint32_t *length, uint8_t *channel,
                                                uint8_t *subchannel) {
    ScriptedBoard &board = *Current();
    board.Log("CommReceiveData");
    if (!board.CheckHandle("CommReceiveData", handle)) return COMM_ERROR_INVALID_HANDLE;
    board.receives.push_back({length ? *length : 0, channel ? *channel : -1, subchannel ? *subchannel : -1});
    // A receive with no reply due would wait forever.
    if (board.repliesDue_.empty()) {
        board.Log("CommReceiveData would wait forever");
        return COMM_ERROR_DEVICE_NOT_CONNECTED;
    }
    const size_t number = board.repliesDue_.front();
    board.repliesDue_.pop_front();
    if (!buffer || !length) return COMM_E_POINTER;
    ScriptedReply reply;
    auto scripted = board.replies.find(number);
    if (scripted != board.replies.end()) reply = scripted->second;
    if (reply.result != COMM_SUCCESS) return reply.result;
    if (reply.silent) return board.WaitForDisconnect("CommReceiveData");
    uint8_t message[16] = {'T', 'B', 0xFF, 0x01, reply.status[0], reply.status[1]};
    if (board.repliesRepeatHeader && board.sends[number].packet.size() >= 16) {
        std::memcpy(message + 6, board.sends[number].packet.data() + 6, 6);  // last_flag, length
        if (reply.foreignHeader) ++message[8];
    }
    std::memcpy(buffer, message, std::min<uint32_t>(*length, std::min<uint32_t>(reply.length, sizeof(message))));
    *length = reply.length;
    if (channel) *channel = COMM_UPDATER_CHANNEL;
    if (subchannel) *subchannel = COMM_UPDATER_SUBCHANNEL;
    return COMM_SUCCESS;
}
