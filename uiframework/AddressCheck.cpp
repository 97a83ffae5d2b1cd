#include "AddressCheck.h"
#include "MemoryAccess.h"

BOOL AfxIsValidAddress(const void *address, UINT_PTR bytes, BOOL readWrite) {
    return (readWrite ? CanWriteMemory(address, bytes) : CanReadMemory(address, bytes)) ? TRUE : FALSE;
}
