// Registry steps shared by the router and device store (RouterStore.cpp,
// DeviceStore.cpp): the keys "Routers" and "Devices" opened under the base key
// that CHivekey gives, each owned by a RegistryKey and so closed on every path,
// and the count rule by which both lists are handed to a caller.
#pragma once
#include "CommApi.h"
#include "Hivekey.h"
#include "MemoryAccess.h"
#include "RegistryKey.h"
#include "StoreFormat.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace store {

// A sub key of the base key opened with full access; empty when it is missing or
// cannot be opened.
inline RegistryKey OpenStoreKey(const CHivekey &base, const char *name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(base, name, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return RegistryKey();
    return RegistryKey(key);
}

// The same, created when missing.
inline RegistryKey CreateStoreKey(const CHivekey &base, const char *name) {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(base, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return RegistryKey();
    return RegistryKey(key);
}

// Calls visit(name) with the name of each value, or each sub key, of the key in
// enumeration order until visit returns false or the names run out. A name that
// does not fit a record's 260 bytes (written by other means, or on a double-byte
// code page up to 255 characters of two bytes each) cannot be read by its name:
// it is passed over, never taken for the end of the list.
enum class StoreNames { Values, SubKeys };
template <typename Visit> void ForEachStoreName(const RegistryKey &key, StoreNames names, Visit visit) {
    for (DWORD index = 0;; ++index) {
        char name[COMM_TEXT_FIELD_SIZE];
        DWORD size = sizeof(name);
        const LONG result = names == StoreNames::Values
                                ? ::RegEnumValueA(key.Get(), index, name, &size, nullptr, nullptr, nullptr, nullptr)
                                : ::RegEnumKeyA(key.Get(), index, name, size);
        if (result == ERROR_MORE_DATA) continue;
        if (result != ERROR_SUCCESS || !visit(static_cast<const char *>(name))) return;
    }
}

// A text value at a path of the store into a record field (260 bytes): 0 when
// it exists and fits with its zero; otherwise the field keeps what it held.
inline DWORD ReadStoreText(CHivekey &base, const std::string &path, char (&field)[COMM_TEXT_FIELD_SIZE]) {
    DWORD size = COMM_TEXT_FIELD_SIZE;
    return base.Read(field, path.c_str(), size);
}

// The count rule: *count holds the capacity of `records` on entry and the number
// available on return. A smaller capacity gives COMM_ERROR_MORE_DATA and writes no record;
// otherwise every record is written in order. E_POINTER, with nothing written,
// for an array that cannot take them.
template <typename Record>
CommResult HandOutRecords(const std::vector<Record> &list, Record *records, std::uint32_t *count) {
    const std::uint32_t available = static_cast<std::uint32_t>(list.size());
    if (*count < available) {
        *count = available;
        return COMM_ERROR_MORE_DATA;
    }
    if (available > 0 && !CanWriteMemory(records, list.size() * sizeof(Record))) return COMM_E_POINTER;
    for (std::size_t index = 0; index < list.size(); ++index) CopyRecordOut(list[index], &records[index]);
    *count = available;
    return COMM_SUCCESS;
}

// Whether the caller's count can be read and written.
inline bool UsableCount(const std::uint32_t *count) { return CanWriteMemory(count, sizeof(*count)); }

}  // namespace store
