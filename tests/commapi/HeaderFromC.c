/* The shared header must compile as C and declare cdecl functions whose
   pointers match the PFN_ types used for binding by name. */
#include "CommApi.h"

int HeaderCompilesAsC(void) {
    PFN_CommOpen open = &CommOpen;
    PFN_CommReceiveData receive = &CommReceiveData;
    return open != 0 && receive != 0 && sizeof(HCOMM) == sizeof(void *);
}
