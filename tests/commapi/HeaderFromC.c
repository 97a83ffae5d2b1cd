/* The shared header must compile as C and declare cdecl functions whose
   pointers match the PFN_ types used for binding by name. */
#include "CommApi.h"

int HeaderCompilesAsC(void) {
    PFN_CommOpen open = &CommOpen;
    PFN_CommReceiveData receive = &CommReceiveData;
    return open != 0 && receive != 0 && sizeof(HCOMM) == sizeof(void *);
}

/* An array of records has the stride of the record: no padding between them. */
size_t RecordStrideFromC(int which) {
    RouterRecord routers[2];
    DeviceRecord devices[2];
    ConnectionRecord connections[2];
    SelectionRecord selections[2];
    switch (which) {
    case 0: return (size_t)((char *)&routers[1] - (char *)&routers[0]);
    case 1: return (size_t)((char *)&devices[1] - (char *)&devices[0]);
    case 2: return (size_t)((char *)&connections[1] - (char *)&connections[0]);
    case 3: return (size_t)((char *)&selections[1] - (char *)&selections[0]);
    default: return 0;
    }
}
