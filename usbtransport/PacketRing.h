// Received data packets waiting for a receive request: one block of slots, each a
// 16-byte header exactly as it arrived followed by up to maxPayload bytes.
// `free` counts empty slots (the ReadWorker takes one before it fills a slot),
// `filled` counts waiting packets (the AssembleWorker takes one before it reads).
#pragma once
#include "CriticalSection.h"
#include "UniqueHandle.h"
#include <windows.h>
#include <cstdint>
#include <memory>

namespace wirrow {

class PacketRing {
public:
    PacketRing() = default;
    virtual ~PacketRing() = default;
    PacketRing(const PacketRing &) = delete;
    PacketRing &operator=(const PacketRing &) = delete;

    // 0 or the error code (8 when the storage cannot be had).
    DWORD Init(uint32_t slots, uint32_t maxPayload);
    void Reset();

    uint8_t *WriteSlot();
    uint8_t *ReadSlot();
    void Commit();   // the write slot holds a packet now
    void Consume();  // the read slot is empty again

    HANDLE Filled() const { return filled_.Get(); }
    HANDLE Free() const { return free_.Get(); }
    uint32_t Slots() const { return slots_; }
    size_t SlotSize() const { return slotSize_; }

private:
    uint8_t *Advance(uint8_t *position) const;

    UniqueHandle filled_;
    UniqueHandle free_;
    CriticalSection positions_;  // guards the two positions only
    uint32_t slots_ = 0;
    size_t slotSize_ = 0;
    std::unique_ptr<uint8_t[]> storage_;
    uint8_t *readPosition_ = nullptr;
    uint8_t *writePosition_ = nullptr;
};

}  // namespace wirrow
