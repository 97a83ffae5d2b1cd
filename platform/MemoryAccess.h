// Whether a caller's block of memory can be read or written for the needed size,
// judged from the process's memory map (nothing is touched), so that a bad
// pointer gives a result code instead of a fault.
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>

namespace memory_access {

constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kWritable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// Every region the block spans must be committed with one of the `access` protections.
inline bool HasAccess(const void *address, size_t bytes, DWORD access) {
    if (address == nullptr) return false;
    if (bytes == 0) return true;
    auto start = reinterpret_cast<uintptr_t>(address);
    uintptr_t end = start + bytes;
    if (end < start) return false;  // wraps around the address space
    for (uintptr_t at = start; at < end;) {
        MEMORY_BASIC_INFORMATION info{};
        if (::VirtualQuery(reinterpret_cast<const void *>(at), &info, sizeof(info)) == 0) return false;
        if (info.State != MEM_COMMIT) return false;
        if (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) return false;
        if ((info.Protect & access) == 0) return false;
        uintptr_t regionEnd = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
        if (regionEnd <= at) return false;
        at = regionEnd;
    }
    return true;
}

}  // namespace memory_access

inline bool CanReadMemory(const void *address, size_t bytes) {
    return memory_access::HasAccess(address, bytes, memory_access::kReadable);
}
// Writable protections are readable too.
inline bool CanWriteMemory(const void *address, size_t bytes) {
    return memory_access::HasAccess(address, bytes, memory_access::kWritable);
}
