// The requests through which callers hand sends and receives to the link
// workers, and the first-in-first-out queues that carry them. A request lives
// in the stack frame of the call that made it (QueueSend / QueueReceive) and is
// linked into a queue through its own `next` field, so queueing allocates nothing
// and makes no kernel object.
//
// Every hand-off waits on a queue's Condition under the queue's lock: a worker for
// the head of its work queue (and the SendWorker for the answer to the packet it
// sent), a caller for the completion of its request on the done queue.
#pragma once
#include "Condition.h"
#include "CriticalSection.h"
#include "LinkStop.h"
#include "TransferOutcome.h"
#include <windows.h>
#include <cstdint>

namespace wirrow {

class SendRequest {
public:
    SendRequest(uint8_t channel, uint8_t subchannel, const void *data, uint32_t length);
    virtual ~SendRequest() = default;
    SendRequest(const SendRequest &) = delete;
    SendRequest &operator=(const SendRequest &) = delete;

    uint8_t channel;
    uint8_t subchannel;
    const uint8_t *data;
    uint32_t length;
    uint32_t sequence = 1;
    uint32_t sent = 0;
    TransferOutcome result = TransferOutcome::Done;
    // Under the send queue's lock: the ReadWorker sets both when an answer matches the packet
    // in flight; the SendWorker takes `answered` back when it has seen it.
    uint8_t replyLetter = 0;
    bool answered = false;
    bool done = false;  // under the done queue's lock
    SendRequest *next = nullptr;
};

class ReceiveRequest {
public:
    ReceiveRequest(uint8_t *channel, uint8_t *subchannel, void *buffer, uint32_t *length);
    ReceiveRequest(const ReceiveRequest &) = delete;
    ReceiveRequest &operator=(const ReceiveRequest &) = delete;

    uint8_t *channel;
    uint8_t *subchannel;
    uint8_t *buffer;
    uint32_t *length;  // capacity in, bytes stored (or size needed) out
    TransferOutcome result = TransferOutcome::Done;
    uint32_t received = 0;
    bool done = false;  // under the done queue's lock
    ReceiveRequest *next = nullptr;
};

template <typename Request>
class RequestQueue {
public:
    RequestQueue() = default;
    // Requests still listed belong to callers that have been released already; they are only unlinked.
    virtual ~RequestQueue() = default;
    RequestQueue(const RequestQueue &) = delete;
    RequestQueue &operator=(const RequestQueue &) = delete;

    void Push(Request *request) {
        SectionHold hold(lock_);
        Append(request);
        changed_.WakeAll();
    }

    Request *Peek() {
        SectionHold hold(lock_);
        return head_;
    }

    // The head once there is one (not removed), or null when the stop came first.
    Request *WaitForHead(const LinkStop &stop) {
        SectionHold hold(lock_);
        return changed_.Wait(lock_, &stop, INFINITE, [this] { return head_ != nullptr; }) == Waited::Ready ? head_
                                                                                                         : nullptr;
    }

    Request *Pop() {
        SectionHold hold(lock_);
        Request *request = head_;
        if (request) {
            head_ = request->next;
            if (!head_) tail_ = nullptr;
            request->next = nullptr;
        }
        return request;
    }

    // First request with this address (the send queue's answer matching); waiters are woken
    // after the visit, which may have answered the request they wait for.
    template <typename Visit> bool VisitFirstWithAddress(uint8_t channel, uint8_t subchannel, Visit visit) {
        SectionHold hold(lock_);
        for (Request *r = head_; r; r = r->next)
            if (r->channel == channel && r->subchannel == subchannel) {
                visit(*r);
                changed_.WakeAll();
                return true;
            }
        return false;
    }

    // Runs visit on the head under the lock (the answer to a repeat request), false when empty.
    template <typename Visit> bool VisitHead(Visit visit) {
        SectionHold hold(lock_);
        if (!head_) return false;
        visit(*head_);
        changed_.WakeAll();
        return true;
    }

    // Runs work under the queue's lock (changes that answer matching must see whole).
    template <typename Work> void WithLock(Work work) {
        SectionHold hold(lock_);
        work();
    }

    // Waits under the queue's lock until `ready` holds, the stop is raised or the time is up.
    template <typename Ready> Waited WaitFor(const LinkStop &stop, DWORD timeoutMs, Ready ready) {
        SectionHold hold(lock_);
        return changed_.Wait(lock_, &stop, timeoutMs, ready);
    }

    void Remove(Request *request) {
        SectionHold hold(lock_);
        Unlink(request);
    }

    // On a done queue: the request is finished with `result`; its caller is woken. The caller
    // reads the request only after taking this lock, so nothing touches it after the hold ends.
    void Complete(Request *request, TransferOutcome result) {
        SectionHold hold(lock_);
        request->result = result;
        Append(request);
        request->done = true;
        changed_.WakeAll();
    }

    // On a done queue, the caller's thread: waits without a time-out until its request is
    // complete, and takes it off the queue.
    void AwaitCompletion(Request *request) {
        SectionHold hold(lock_);
        changed_.Wait(lock_, nullptr, INFINITE, [request] { return request->done; });
        Unlink(request);
    }

    // Ends the waits of a stop (after the stop has been raised).
    void WakeWaiters() {
        SectionHold hold(lock_);
        changed_.WakeAll();
    }

    bool Empty() {
        SectionHold hold(lock_);
        return head_ == nullptr;
    }

private:
    void Append(Request *request) {
        request->next = nullptr;
        if (tail_) tail_->next = request;
        else head_ = request;
        tail_ = request;
    }

    void Unlink(Request *request) {
        Request **link = &head_;
        Request *previous = nullptr;
        while (*link && *link != request) {
            previous = *link;
            link = &(*link)->next;
        }
        if (!*link) return;
        *link = request->next;
        if (tail_ == request) tail_ = previous;
        request->next = nullptr;
    }

    // Held only for a list operation or a look at a request, never while another lock is
    // taken; a wait on changed_ lets go of it while it sleeps.
    CriticalSection lock_;
    Condition changed_;
    Request *head_ = nullptr;
    Request *tail_ = nullptr;
};

// Ends a request: off its work queue, onto its done queue, then its caller is woken.
template <typename Request>
void CompleteRequest(RequestQueue<Request> &work, RequestQueue<Request> &done, Request *request,
                     TransferOutcome result) {
    work.Remove(request);
    done.Complete(request, result);
}

}  // namespace wirrow
