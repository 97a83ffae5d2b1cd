#include "AddressCheck.h"

namespace {

bool Readable(DWORD protect) {
    if (protect & (PAGE_GUARD | PAGE_NOACCESS)) return false;
    return (protect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                       PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

bool Writable(DWORD protect) {
    if (protect & (PAGE_GUARD | PAGE_NOACCESS)) return false;
    return (protect & (PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

}  // namespace

BOOL AfxIsValidAddress(const void *address, UINT_PTR bytes, BOOL readWrite) {
    if (address == nullptr) return FALSE;
    if (bytes == 0) return TRUE;
    auto start = reinterpret_cast<UINT_PTR>(address);
    UINT_PTR end = start + bytes;
    if (end < start) return FALSE;  // wraps around the address space
    // Walk the regions the block spans; each must be committed with the access needed.
    for (UINT_PTR at = start; at < end;) {
        MEMORY_BASIC_INFORMATION info{};
        if (::VirtualQuery(reinterpret_cast<const void *>(at), &info, sizeof(info)) == 0) return FALSE;
        if (info.State != MEM_COMMIT) return FALSE;
        if (!Readable(info.Protect) || (readWrite && !Writable(info.Protect))) return FALSE;
        UINT_PTR regionEnd = reinterpret_cast<UINT_PTR>(info.BaseAddress) + info.RegionSize;
        if (regionEnd <= at) return FALSE;
        at = regionEnd;
    }
    return TRUE;
}
