#include "LocalService.h"

#include "UniqueHandle.h"

bool LocalServiceRunning() {
    UniqueHandle event(::OpenEventA(SYNCHRONIZE, FALSE, kLocalServiceEventName));
    return event && ::WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0;
}
