#include "LinkOptions.h"
#include "CommApi.h"
#include "MemoryAccess.h"
#include "UsbLink.h"
#include <cstring>

namespace wirrow {
namespace {

const OptionSpec kOptions[] = {
    {COMM_OPT_MAX_PAYLOAD, 4, false},    {COMM_OPT_HEADER_SIZE, 4, false},   {COMM_OPT_MAX_PACKET, 4, false},
    {COMM_OPT_RING_SLOTS, 4, true},      {COMM_OPT_CHANNEL, 1, true},        {COMM_OPT_SUBCHANNEL, 1, true},
    {COMM_OPT_FILTER, 4, true},          {COMM_OPT_PACKET_TIMEOUT, 4, false}, {COMM_OPT_REPLY_TIMEOUT, 4, false},
    {COMM_OPT_ATTEMPTS, 4, false},       {COMM_OPT_NO_TIMEOUTS, 4, false},   {COMM_OPT_SPARE_A, 4, true},
    {COMM_OPT_SPARE_B, 4, true},         {COMM_OPT_HOST_ORDER, 4, false},
};

}  // namespace

const OptionSpec *FindOption(uint32_t id) {
    for (const OptionSpec &spec : kOptions)
        if (spec.id == id) return &spec;
    return nullptr;
}

CommResult UsbLink::GetOption(uint32_t option, void *value) {
    if (!value) return COMM_E_POINTER;
    const OptionSpec *spec = FindOption(option);
    if (!spec) return COMM_ERROR_INVALID_PARAMETER;
    if (!CanWriteMemory(value, spec->width)) return COMM_E_POINTER;
    uint32_t number = 0;
    switch (option) {
    case COMM_OPT_MAX_PAYLOAD: number = maxPayload_; break;
    case COMM_OPT_HEADER_SIZE: number = kHeaderSize; break;
    case COMM_OPT_MAX_PACKET: number = maxPayload_ + kHeaderSize; break;
    case COMM_OPT_RING_SLOTS: number = ringSlots_; break;
    case COMM_OPT_CHANNEL: *static_cast<uint8_t *>(value) = channel_; return COMM_SUCCESS;
    case COMM_OPT_SUBCHANNEL: *static_cast<uint8_t *>(value) = subchannel_; return COMM_SUCCESS;
    case COMM_OPT_FILTER: number = filterOn_; break;
    case COMM_OPT_PACKET_TIMEOUT: number = uint32_t(packetTimeout_) * 1000; break;
    case COMM_OPT_REPLY_TIMEOUT: number = uint32_t(replyTimeout_) * 1000; break;
    case COMM_OPT_ATTEMPTS: number = attempts_; break;
    case COMM_OPT_NO_TIMEOUTS: number = linkFlags_ & kFlagNoTimeouts; break;
    case COMM_OPT_SPARE_A: number = static_cast<uint32_t>(spareA_); break;
    case COMM_OPT_SPARE_B: number = static_cast<uint32_t>(spareB_); break;
    case COMM_OPT_HOST_ORDER: number = (linkFlags_ & kFlagLittleEndian) ? 1 : 0; break;
    default: return COMM_ERROR_INVALID_PARAMETER;
    }
    std::memcpy(value, &number, sizeof(number));
    return COMM_SUCCESS;
}

CommResult UsbLink::SetOption(uint32_t option, const void *value) {
    if (!value) return COMM_E_POINTER;
    if (state_.load() >= LinkState::Negotiated) return COMM_ERROR_CONNECTION_ACTIVE;
    const OptionSpec *spec = FindOption(option);
    if (!spec || !spec->writable) return COMM_ERROR_INVALID_PARAMETER;
    if (!CanReadMemory(value, spec->width)) return COMM_E_POINTER;
    if (spec->width == 1) {
        const uint8_t byte = *static_cast<const uint8_t *>(value);
        if (option == COMM_OPT_CHANNEL) channel_ = byte;
        else subchannel_ = byte;
        return COMM_SUCCESS;
    }
    uint32_t number = 0;
    std::memcpy(&number, value, sizeof(number));
    switch (option) {
    case COMM_OPT_RING_SLOTS: ringSlots_ = number; break;
    case COMM_OPT_FILTER: filterOn_ = number ? 1 : 0; break;
    case COMM_OPT_SPARE_A: spareA_ = static_cast<int32_t>(number); break;
    case COMM_OPT_SPARE_B: spareB_ = static_cast<int32_t>(number); break;
    default: return COMM_ERROR_INVALID_PARAMETER;
    }
    return COMM_SUCCESS;
}

}  // namespace wirrow
