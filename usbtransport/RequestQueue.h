// The requests through which callers hand sends and receives to the link
// workers, and the first-in-first-out queues that carry them. A request lives
// in the stack frame of the call that made it (QueueSend / QueueReceive) and is
// linked into a queue through its own `next` field, so queueing allocates nothing.
#pragma once
#include "CriticalSection.h"
#include "UniqueHandle.h"
#include <windows.h>
#include <cstdint>

namespace wirrow {

class SendRequest {
public:
    SendRequest(uint8_t channel, uint8_t subchannel, const void *data, uint32_t length);
    virtual ~SendRequest() = default;  // the events close with their owners
    SendRequest(const SendRequest &) = delete;
    SendRequest &operator=(const SendRequest &) = delete;
    bool Valid() const { return ackEvent && doneEvent; }

    uint8_t channel;
    uint8_t subchannel;
    const uint8_t *data;
    uint32_t length;
    uint32_t sequence = 1;
    uint32_t sent = 0;
    uint32_t result = 0;
    volatile uint8_t replyLetter = 0;  // written by the ReadWorker just before it sets ackEvent
    UniqueHandle ackEvent;
    UniqueHandle doneEvent;
    SendRequest *next = nullptr;
};

class ReceiveRequest {
public:
    ReceiveRequest(uint8_t *channel, uint8_t *subchannel, void *buffer, uint32_t *length);
    ReceiveRequest(const ReceiveRequest &) = delete;
    ReceiveRequest &operator=(const ReceiveRequest &) = delete;
    bool Valid() const { return static_cast<bool>(doneEvent); }

    uint8_t *channel;
    uint8_t *subchannel;
    uint8_t *buffer;
    uint32_t *length;  // capacity in, bytes stored (or size needed) out
    UniqueHandle doneEvent;
    uint32_t result = 0;
    uint32_t received = 0;
    ReceiveRequest *next = nullptr;
};

template <typename Request>
class RequestQueue {
public:
    RequestQueue() : notEmpty_(MakeEvent(true, false)) {}
    // Requests still listed belong to callers that have been released already; they are only unlinked.
    virtual ~RequestQueue() = default;
    RequestQueue(const RequestQueue &) = delete;
    RequestQueue &operator=(const RequestQueue &) = delete;

    bool Valid() const { return static_cast<bool>(notEmpty_); }
    HANDLE NotEmpty() const { return notEmpty_.Get(); }

    void Push(Request *request) {
        {
            SectionHold hold(lock_);
            request->next = nullptr;
            if (tail_) tail_->next = request;
            else head_ = request;
            tail_ = request;
        }
        ::SetEvent(notEmpty_.Get());
    }

    // The head without removing it. An empty list resets notEmpty in the same lock hold, so a
    // Push that follows cannot be lost.
    Request *Peek() {
        SectionHold hold(lock_);
        if (!head_) ::ResetEvent(notEmpty_.Get());
        return head_;
    }

    Request *Pop() {
        SectionHold hold(lock_);
        Request *request = head_;
        if (request) {
            head_ = request->next;
            if (!head_) tail_ = nullptr;
            request->next = nullptr;
        }
        if (!head_) ::ResetEvent(notEmpty_.Get());
        return request;
    }

    // First request with this address (the send queue's answer matching).
    template <typename Visit> bool VisitFirstWithAddress(uint8_t channel, uint8_t subchannel, Visit visit) {
        SectionHold hold(lock_);
        for (Request *r = head_; r; r = r->next)
            if (r->channel == channel && r->subchannel == subchannel) {
                visit(*r);
                return true;
            }
        return false;
    }

    // Runs visit on the head under the lock (the answer to a repeat request), false when empty.
    template <typename Visit> bool VisitHead(Visit visit) {
        SectionHold hold(lock_);
        if (!head_) return false;
        visit(*head_);
        return true;
    }

    // Runs work under the queue's lock (changes that answer matching must see whole).
    template <typename Work> void WithLock(Work work) {
        SectionHold hold(lock_);
        work();
    }

    void Remove(Request *request) {
        SectionHold hold(lock_);
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
        if (!head_) ::ResetEvent(notEmpty_.Get());
    }

    bool Empty() {
        SectionHold hold(lock_);
        return head_ == nullptr;
    }

private:
    UniqueHandle notEmpty_;
    // Held only for a list operation, never across a wait: a critical section keeps the
    // uncontended case out of the kernel.
    CriticalSection lock_;
    Request *head_ = nullptr;
    Request *tail_ = nullptr;
};

// Ends a request: off its work queue, onto its done queue, then its caller is woken.
template <typename Request>
void CompleteRequest(RequestQueue<Request> &work, RequestQueue<Request> &done, Request *request, uint32_t result) {
    request->result = result;
    work.Remove(request);
    done.Push(request);
    ::SetEvent(request->doneEvent.Get());
}

}  // namespace wirrow
