#include "HandleTable.h"

#include "MemoryAccess.h"
#include "TransportKind.h"

#include <algorithm>
#include <new>

namespace {

constexpr uint32_t kConnectBlockSize = 16;  // a LinkHeader
// An open that met a handle being closed waits this long for that close, a few times over.
constexpr DWORD kClosingWaitMs = 30000;
constexpr int kOpenTries = 4;
// How long a close waits for the calls still inside its record once the transport's handle is
// closed. The transport ends its own calls as it closes, so only a call stuck in a transport (or
// one on a transport handle that another record keeps open) takes longer; its record is leaked.
constexpr DWORD kCallsLeaveAllowanceMs = 3000;

}  // namespace

HandleTable::HandleTable(const TransportTable &table) {
    transports_.reserve(table.size());
    for (const Transport::Names &names : table) transports_.push_back(std::make_unique<Transport>(names));
}

HandleTable::~HandleTable() {
    for (;;) {
        std::unique_ptr<CommHandle> record;
        bool wrapped = false;
        {
            ExclusiveHold hold(lock_);
            if (records_.empty()) break;
            record = std::move(records_.back());
            records_.pop_back();
            // A transport handle that an earlier record also wraps is closed with
            // that record, so that it is closed once.
            wrapped = IsWrapped(record->transport, record->transportHandle);
        }
        // Outside the lock: a transport's close may wait for its own threads.
        if (!wrapped) record->transport->close(record->transportHandle);
    }
    MutexLock lock(transportMutex_);
    while (!transports_.empty()) transports_.pop_back();  // the last first
}

CommResult HandleTable::Open(const char *address, uint32_t reserved, HCOMM *handle, const char *routerHost,
                             uint32_t routerPort) {
    // The transport writes to a local of ours, so it cannot see a missing
    // out-parameter; check it here rather than write through null later.
    if (handle == nullptr) return COMM_E_POINTER;
    // Without a router the address alone names the device; a missing one is the caller's bad
    // pointer, not an address for the network transport to make sense of.
    if (address == nullptr && !HasRouter(routerHost, routerPort)) return COMM_E_POINTER;

    Transport *transport = nullptr;
    {
        MutexLock lock(transportMutex_);
        std::array<const char *, kTransportCount> kinds{};
        for (std::size_t index = 0; index < kinds.size(); ++index) kinds[index] = transports_[index]->kind;
        transport = transports_[ChooseTransport(kinds.data(), kinds.size(), address, routerHost, routerPort)].get();
        CommResult loaded = transport->Load();
        if (loaded != COMM_SUCCESS) return loaded;
    }

    for (int attempt = 0;; ++attempt) {
        HCOMM transportHandle = nullptr;
        CommResult opened = transport->open(address, reserved, &transportHandle, routerHost, routerPort);
        if (opened != COMM_SUCCESS) return opened;
        std::shared_ptr<UniqueHandle> closingWait;
        CommResult added = AddRecord(*transport, transportHandle, handle, &closingWait);
        if (!closingWait) return added;
        // The transport handed out the handle that another thread's close is letting go of.
        if (attempt + 1 >= kOpenTries || ::WaitForSingleObject(closingWait->Get(), kClosingWaitMs) != WAIT_OBJECT_0)
            return COMM_ERROR_WAIT_TIMEOUT;
    }
}

CommResult HandleTable::AddRecord(Transport &transport, HCOMM transportHandle, HCOMM *handle,
                                  std::shared_ptr<UniqueHandle> *closingWait) {
    std::unique_ptr<CommHandle> record(new (std::nothrow) CommHandle{transportHandle, &transport});
    CommHandle *added = nullptr;
    bool shared = false;
    {
        ExclusiveHold hold(lock_);
        for (const ClosingHandle &entry : closing_) {
            if (entry.transport == &transport && entry.transportHandle == transportHandle) {
                *closingWait = entry.closed;
                return COMM_ERROR_WAIT_TIMEOUT;
            }
        }
        if (record) {
            try {
                // Grow geometrically ourselves, so that push_back cannot throw after
                // taking the record.
                if (records_.size() == records_.capacity()) {
                    records_.reserve(std::max<std::size_t>(8, 2 * records_.capacity()));
                }
                added = record.get();
                records_.push_back(std::move(record));
            } catch (const std::bad_alloc &) {
                added = nullptr;
            }
        }
        if (!added) shared = IsWrapped(&transport, transportHandle);
    }
    if (!added) {
        // Nobody could ever close the transport's handle: close it now, unless
        // another open record still uses it.
        if (!shared) transport.close(transportHandle);
        return COMM_ERROR_NOT_ENOUGH_MEMORY;
    }
    *handle = added;
    return COMM_SUCCESS;
}

bool HandleTable::IsWrapped(const Transport *transport, HCOMM transportHandle) const {
    return std::any_of(records_.begin(), records_.end(), [&](const std::unique_ptr<CommHandle> &record) {
        return record->transport == transport && record->transportHandle == transportHandle;
    });
}

CommResult HandleTable::Close(HCOMM handle) {
    std::unique_ptr<CommHandle> record;
    bool shared = false;
    std::shared_ptr<UniqueHandle> closed;
    {
        ExclusiveHold hold(lock_);
        auto found = std::find_if(records_.begin(), records_.end(),
                                  [&](const std::unique_ptr<CommHandle> &open) { return open.get() == handle; });
        if (found != records_.end()) {
            record = std::move(*found);
            records_.erase(found);
            shared = IsWrapped(record->transport, record->transportHandle);
            if (!shared) closed = MarkClosing(record->transport, record->transportHandle);
        }
    }
    // Not (or no longer) ours: touching it would use freed memory.
    if (!record) {
        ::SetLastError(COMM_ERROR_INVALID_HANDLE);
        return COMM_ERROR_INVALID_HANDLE;
    }
    // The transport's handle stays open while another record wraps it; the last
    // record to go closes it.
    CommResult result = COMM_SUCCESS;
    if (!shared) {
        result = record->transport->close(record->transportHandle);  // the record is freed anyway
        if (closed) {
            ExclusiveHold hold(lock_);
            closing_.erase(std::remove_if(closing_.begin(), closing_.end(),
                                          [&](const ClosingHandle &entry) { return entry.closed == closed; }),
                           closing_.end());
            ::SetEvent(closed->Get());
        }
    }
    // A call still inside holds the record: it is left allocated rather than freed under the call.
    if (!CallsHaveLeft(*record)) record.release();
    return result;
}

std::size_t HandleTable::OpenCount() {
    SharedHold hold(lock_);
    return records_.size();
}

CommHandle *HandleTable::EnterCall(HCOMM handle) {
    {
        SharedHold hold(lock_);
        for (const std::unique_ptr<CommHandle> &record : records_) {
            if (record.get() != handle) continue;
            ++record->callsInside;
            return record.get();
        }
    }
    ::SetLastError(COMM_ERROR_INVALID_HANDLE);
    return nullptr;
}

// The event is set only for a close that waits, so the calls of an open record touch no kernel object.
void HandleTable::LeaveCall(CommHandle &record) {
    SharedHold hold(lock_);
    if (--record.callsInside == 0 && record.callsLeft) ::SetEvent(record.callsLeft);
}

bool HandleTable::CallsHaveLeft(CommHandle &record) {
    {
        ExclusiveHold hold(lock_);
        if (record.callsInside == 0) return true;
    }
    // Off the list, the record takes no new call: the count only falls, and the last call out
    // sets the event.
    UniqueHandle left = MakeEvent(true, false);
    {
        ExclusiveHold hold(lock_);
        if (record.callsInside == 0) return true;
        record.callsLeft = left.Get();
    }
    if (left) ::WaitForSingleObject(left.Get(), kCallsLeaveAllowanceMs);
    ExclusiveHold hold(lock_);
    record.callsLeft = nullptr;
    return record.callsInside == 0;
}

std::shared_ptr<UniqueHandle> HandleTable::MarkClosing(const Transport *transport, HCOMM transportHandle) {
    // Without memory for the mark, the close goes on as before: only the rare open racing it is unguarded.
    try {
        auto closed = std::make_shared<UniqueHandle>(MakeEvent(true, false));
        if (!*closed) return nullptr;
        closing_.push_back(ClosingHandle{transport, transportHandle, closed});
        return closed;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

CommResult HandleTable::Connect(HCOMM handle, uint32_t channel, const uint8_t *subchannel, const void *request,
                                void *reply) {
    if (request != nullptr && !CanReadMemory(request, kConnectBlockSize)) return COMM_ERROR_INVALID_PARAMETER;
    if (reply != nullptr && !CanWriteMemory(reply, kConnectBlockSize)) return COMM_ERROR_INVALID_PARAMETER;
    return Forward(handle, &Transport::connect, channel, subchannel, request, reply);
}
