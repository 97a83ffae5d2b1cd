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
    std::unique_ptr<uint8_t[]> storage(new (std::nothrow) uint8_t[static_cast<size_t>(total)]);
    if (!storage) return ERROR_NOT_ENOUGH_MEMORY;
    SectionHold hold(lock_);
    storage_ = std::move(storage);
    slots_ = slots;
    slotSize_ = static_cast<size_t>(slotSize);
    filled_ = 0;
    readPosition_ = writePosition_ = storage_.get();
    return ERROR_SUCCESS;
}

void PacketRing::Reset() {
    SectionHold hold(lock_);
    storage_.reset();
    slots_ = 0;
    slotSize_ = 0;
    filled_ = 0;
    readPosition_ = writePosition_ = nullptr;
}

uint8_t *PacketRing::Advance(uint8_t *position) const {
    position += slotSize_;
    return position == storage_.get() + slotSize_ * slots_ ? storage_.get() : position;
}

Waited PacketRing::WaitFree(const LinkStop &stop) {
    SectionHold hold(lock_);
    return changed_.Wait(lock_, &stop, INFINITE, [this] { return filled_ < slots_; });
}

Waited PacketRing::WaitFilled(const LinkStop &stop) {
    SectionHold hold(lock_);
    return changed_.Wait(lock_, &stop, INFINITE, [this] { return filled_ > 0; });
}

uint8_t *PacketRing::WriteSlot() {
    SectionHold hold(lock_);
    return writePosition_;
}

uint8_t *PacketRing::ReadSlot() {
    SectionHold hold(lock_);
    return readPosition_;
}

void PacketRing::Commit() {
    SectionHold hold(lock_);
    writePosition_ = Advance(writePosition_);
    ++filled_;
    changed_.WakeAll();
}

void PacketRing::Consume() {
    SectionHold hold(lock_);
    readPosition_ = Advance(readPosition_);
    --filled_;
    changed_.WakeAll();
}

void PacketRing::WakeWaiters() {
    SectionHold hold(lock_);
    changed_.WakeAll();
}

}  // namespace wirrow
