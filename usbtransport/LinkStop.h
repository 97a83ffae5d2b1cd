// The stop of a running link: raised by StopWorkers and by the loss of the device
// to make the three link workers end.
//
// Workers wait in two ways, and the stop reaches both. A transfer waits for its
// overlapped event or the stop event (kernel objects: the device completes
// transfers through events). A hand-off between threads (a queue, the ring, the
// write lock) waits on a Condition whose waits read the raised flag. Raise sets the
// flag before the event; the link then wakes every Condition, so no wait sleeps
// past a stop.
#pragma once
#include "UniqueHandle.h"
#include <windows.h>
#include <atomic>

namespace wirrow {

class LinkStop {
public:
    // A new stop, not raised. 0 or the error code.
    DWORD Create() {
        raised_ = false;
        event_ = MakeEvent(true, false);
        return event_ ? ERROR_SUCCESS : ::GetLastError();
    }
    void Close() { event_.Reset(); }
    bool Exists() const { return static_cast<bool>(event_); }
    void Raise() {
        raised_ = true;
        if (event_) ::SetEvent(event_.Get());
    }
    bool Raised() const { return raised_.load(); }
    // For the waits on a transfer; null while no worker runs.
    HANDLE Event() const { return event_.Get(); }

private:
    UniqueHandle event_;
    std::atomic<bool> raised_{false};
};

}  // namespace wirrow
