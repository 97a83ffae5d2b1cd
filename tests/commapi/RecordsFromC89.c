/* The records header in its oldest dialect: C89, where the layout checks fall
   back to array typedefs. Built with -std=c89. */
#include "CommRecords.h"

/* The sizes as a C compiler lays the records out, for the C++ side to compare. */
size_t RecordSizeFromC89(int which) {
    switch (which) {
    case 0: return sizeof(RouterRecord);
    case 1: return sizeof(DeviceRecord);
    case 2: return sizeof(ConnectionRecord);
    case 3: return sizeof(SelectionRecord);
    default: return 0;
    }
}

size_t ConnectionPortBFromC89(void) { return offsetof(ConnectionRecord, portB); }
