#include "CommunicatorState.h"

#include "MemoryAccess.h"
#include "MutexLock.h"
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

UniqueSocket MakeOverlappedUdpSocket() {
    return UniqueSocket(::WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED));
}

}  // namespace

CommunicatorState::CommunicatorState(const TransportTable &table) {
    transportMutex = MakeMutex();
    socketsLibrary.Start(MAKEWORD(1, 1));  // a failure shows later as missing sockets
    requestSocket = MakeOverlappedUdpSocket();
    broadcastSocket = MakeOverlappedUdpSocket();
    transports.reserve(table.size());
    for (const TransportRow &row : table) transports.push_back(std::make_unique<TransportEntry>(row.name, row.libraryName));
    if (broadcastSocket) {
        BOOL enable = TRUE;
        ::setsockopt(broadcastSocket.Get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char *>(&enable),
                     sizeof(enable));
    }
}

CommunicatorState::~CommunicatorState() {
    for (;;) {
        std::unique_ptr<CommHandle> record;
        bool wrapped = false;
        {
            ExclusiveHold hold(connectionLock);
            if (connections.empty()) break;
            record = std::move(connections.back());
            connections.pop_back();
            // A transport handle that an earlier record also wraps is closed with
            // that record, so that it is closed once.
            wrapped = IsWrapped(record->transport, record->transportHandle);
        }
        // Outside the lock: a transport's close may wait for its own threads.
        if (!wrapped) record->transport->close(record->transportHandle);
    }
    {
        MutexLock lock(transportMutex.Get());
        for (auto row = transports.rbegin(); row != transports.rend(); ++row) {
            (*row)->Unload();
            row->reset();
        }
        transports.clear();
    }
}

bool CommunicatorState::Ready() const {
    return transportMutex &&
           std::all_of(receiveSlots.begin(), receiveSlots.end(), [](const ReceiveSlot &slot) { return slot.Ready(); });
}

CommResult CommunicatorState::Open(const char *address, uint32_t reserved, HCOMM *handle, const char *routerHost,
                                   uint32_t routerPort) {
    // The transport writes to a local of ours, so it cannot see a missing
    // out-parameter; check it here rather than write through null later.
    if (handle == nullptr) return COMM_E_POINTER;

    TransportEntry *row = nullptr;
    {
        MutexLock lock(transportMutex.Get());
        std::array<const char *, kTransportRowCount> names{};
        for (std::size_t index = 0; index < names.size(); ++index) names[index] = transports[index]->name;
        row = transports[ChooseTransportRow(names.data(), names.size(), address, routerHost, routerPort)].get();
        CommResult loaded = LoadTransport(*row);
        if (loaded != COMM_SUCCESS) return loaded;
    }

    for (int attempt = 0;; ++attempt) {
        HCOMM transportHandle = nullptr;
        CommResult opened = row->open(address, reserved, &transportHandle, routerHost, routerPort);
        if (opened != COMM_SUCCESS) return opened;
        std::shared_ptr<UniqueHandle> closingWait;
        CommResult added = AddConnection(*row, transportHandle, handle, &closingWait);
        if (!closingWait) return added;
        // The transport handed out the handle that another thread's close is letting go of.
        if (attempt + 1 >= kOpenTries || ::WaitForSingleObject(closingWait->Get(), kClosingWaitMs) != WAIT_OBJECT_0)
            return COMM_ERROR_WAIT_TIMEOUT;
    }
}

CommResult CommunicatorState::AddConnection(TransportEntry &row, HCOMM transportHandle, HCOMM *handle,
                                             std::shared_ptr<UniqueHandle> *closingWait) {
    std::unique_ptr<CommHandle> record(new (std::nothrow) CommHandle{transportHandle, &row});
    CommHandle *added = nullptr;
    bool shared = false;
    {
        ExclusiveHold hold(connectionLock);
        for (const ClosingHandle &entry : closing) {
            if (entry.row == &row && entry.transportHandle == transportHandle) {
                *closingWait = entry.closed;
                return COMM_ERROR_WAIT_TIMEOUT;
            }
        }
        if (record) {
            try {
                // Grow geometrically ourselves, so that push_back cannot throw after
                // taking the record.
                if (connections.size() == connections.capacity()) {
                    connections.reserve(std::max<std::size_t>(8, 2 * connections.capacity()));
                }
                added = record.get();
                connections.push_back(std::move(record));
            } catch (const std::bad_alloc &) {
                added = nullptr;
            }
        }
        if (!added) shared = IsWrapped(&row, transportHandle);
    }
    if (!added) {
        // Nobody could ever close the transport's handle: close it now, unless
        // another open record still uses it.
        if (!shared) row.close(transportHandle);
        return COMM_ERROR_NOT_ENOUGH_MEMORY;
    }
    *handle = added;
    return COMM_SUCCESS;
}

bool CommunicatorState::IsWrapped(const TransportEntry *row, HCOMM transportHandle) const {
    return std::any_of(connections.begin(), connections.end(), [&](const std::unique_ptr<CommHandle> &record) {
        return record->transport == row && record->transportHandle == transportHandle;
    });
}

CommResult CommunicatorState::Close(HCOMM handle) {
    std::unique_ptr<CommHandle> record;
    bool shared = false;
    std::shared_ptr<UniqueHandle> closed;
    {
        ExclusiveHold hold(connectionLock);
        auto found = std::find_if(connections.begin(), connections.end(),
                                  [&](const std::unique_ptr<CommHandle> &open) { return open.get() == handle; });
        if (found != connections.end()) {
            record = std::move(*found);
            connections.erase(found);
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
            ExclusiveHold hold(connectionLock);
            closing.erase(std::remove_if(closing.begin(), closing.end(),
                                         [&](const ClosingHandle &entry) { return entry.closed == closed; }),
                          closing.end());
            ::SetEvent(closed->Get());
        }
    }
    // A call still inside holds the record: it is left allocated rather than freed under the call.
    if (!CallsHaveLeft(*record)) record.release();
    return result;
}

CommHandle *CommunicatorState::EnterCall(HCOMM handle) {
    {
        SharedHold hold(connectionLock);
        for (const std::unique_ptr<CommHandle> &record : connections) {
            if (record.get() != handle) continue;
            ++record->callsInside;
            return record.get();
        }
    }
    ::SetLastError(COMM_ERROR_INVALID_HANDLE);
    return nullptr;
}

// The event is set only for a close that waits, so the calls of an open record touch no kernel object.
void CommunicatorState::LeaveCall(CommHandle &record) {
    SharedHold hold(connectionLock);
    if (--record.callsInside == 0 && record.callsLeft) ::SetEvent(record.callsLeft);
}

bool CommunicatorState::CallsHaveLeft(CommHandle &record) {
    {
        ExclusiveHold hold(connectionLock);
        if (record.callsInside == 0) return true;
    }
    // Off the list, the record takes no new call: the count only falls, and the last call out
    // sets the event.
    UniqueHandle left = MakeEvent(true, false);
    {
        ExclusiveHold hold(connectionLock);
        if (record.callsInside == 0) return true;
        record.callsLeft = left.Get();
    }
    if (left) ::WaitForSingleObject(left.Get(), kCallsLeaveAllowanceMs);
    ExclusiveHold hold(connectionLock);
    record.callsLeft = nullptr;
    return record.callsInside == 0;
}

std::shared_ptr<UniqueHandle> CommunicatorState::MarkClosing(const TransportEntry *row, HCOMM transportHandle) {
    // Without memory for the mark, the close goes on as before: only the rare open racing it is unguarded.
    try {
        auto closed = std::make_shared<UniqueHandle>(MakeEvent(true, false));
        if (!*closed) return nullptr;
        closing.push_back(ClosingHandle{row, transportHandle, closed});
        return closed;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

CommResult CommunicatorState::Connect(HCOMM handle, uint32_t channel, const uint8_t *subchannel, const void *request,
                                      void *reply) {
    if (request != nullptr && !CanReadMemory(request, kConnectBlockSize)) return COMM_ERROR_INVALID_PARAMETER;
    if (reply != nullptr && !CanWriteMemory(reply, kConnectBlockSize)) return COMM_ERROR_INVALID_PARAMETER;
    return OnRecord(handle, [&](CommHandle &record) {
        return record.transport->connect(record.transportHandle, channel, subchannel, request, reply);
    });
}
