// Received data packets waiting for a receive request: one block of slots, each a
// 16-byte header exactly as it arrived followed by up to maxPayload bytes.
// The ReadWorker (the only writer) waits for a free slot, fills the write slot and
// commits it; the AssembleWorker (the only reader) waits for a filled slot, reads
// the read slot and consumes it, or leaves it for the next request. Both waits are
// on one Condition under the ring's lock, which guards the positions and the count.
#pragma once
#include "Condition.h"
#include "CriticalSection.h"
#include "LinkStop.h"
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

    // 0 or the error code (ERROR_NOT_ENOUGH_MEMORY when the storage cannot be had).
    DWORD Init(uint32_t slots, uint32_t maxPayload);
    void Reset();

    // Until a slot is free (ReadWorker) or filled (AssembleWorker): Ready, or Stopped.
    Waited WaitFree(const LinkStop &stop);
    Waited WaitFilled(const LinkStop &stop);
    uint8_t *WriteSlot();
    uint8_t *ReadSlot();
    void Commit();   // the write slot holds a packet now
    void Consume();  // the read slot is empty again
    // Ends the waits of a stop (after the stop has been raised).
    void WakeWaiters();

    uint32_t Slots() const { return slots_; }
    size_t SlotSize() const { return slotSize_; }

private:
    uint8_t *Advance(uint8_t *position) const;

    CriticalSection lock_;  // over the positions and the count
    Condition changed_;
    uint32_t filled_ = 0;   // packets waiting
    uint32_t slots_ = 0;
    size_t slotSize_ = 0;
    std::unique_ptr<uint8_t[]> storage_;
    uint8_t *readPosition_ = nullptr;
    uint8_t *writePosition_ = nullptr;
};

}  // namespace wirrow
