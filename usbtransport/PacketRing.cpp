#include "PacketRing.h"
#include "LinkHeader.h"
#include <new>

namespace wirrow {

DWORD PacketRing::Init(uint32_t slots, uint32_t maxPayload) {
    Reset();
    if (slots == 0 || slots > 0x7FFFFFFFu) return ERROR_INVALID_PARAMETER;
    const uint64_t slotSize = uint64_t(kHeaderSize) + maxPayload;
    const uint64_t total = slotSize * slots;
    if (total > SIZE_MAX / 2) return ERROR_NOT_ENOUGH_MEMORY;
    storage_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(total)]);
    if (!storage_) return ERROR_NOT_ENOUGH_MEMORY;
    filled_ = MakeSemaphore(0, static_cast<LONG>(slots));
    free_ = MakeSemaphore(static_cast<LONG>(slots), static_cast<LONG>(slots));
    if (!filled_ || !free_) {
        DWORD error = ::GetLastError();
        Reset();
        return error ? error : ERROR_NOT_ENOUGH_MEMORY;
    }
    slots_ = slots;
    slotSize_ = static_cast<size_t>(slotSize);
    readPosition_ = writePosition_ = storage_.get();
    return ERROR_SUCCESS;
}

void PacketRing::Reset() {
    storage_.reset();
    filled_.Reset();
    free_.Reset();
    slots_ = 0;
    slotSize_ = 0;
    readPosition_ = writePosition_ = nullptr;
}

uint8_t *PacketRing::Advance(uint8_t *position) const {
    position += slotSize_;
    return position == storage_.get() + slotSize_ * slots_ ? storage_.get() : position;
}

uint8_t *PacketRing::WriteSlot() {
    SectionHold hold(positions_);
    return writePosition_;
}

uint8_t *PacketRing::ReadSlot() {
    SectionHold hold(positions_);
    return readPosition_;
}

void PacketRing::Commit() {
    {
        SectionHold hold(positions_);
        writePosition_ = Advance(writePosition_);
    }
    ::ReleaseSemaphore(filled_.Get(), 1, nullptr);
}

void PacketRing::Consume() {
    {
        SectionHold hold(positions_);
        readPosition_ = Advance(readPosition_);
    }
    ::ReleaseSemaphore(free_.Get(), 1, nullptr);
}

}  // namespace wirrow
