#define HIVEKEY_BUILDING
#include "Hivekey.h"

#include "RegistryKey.h"

#include <cstring>
#include <new>
#include <string>

namespace {

// A path split by the path rule: the key part (relative to the base key, empty
// for the base key itself) and the value name; namesKey when the path ends in a
// backslash and names the key part itself.
struct StorePath {
    std::string key;
    std::string value;
    bool namesKey = false;
};

StorePath Split(const char *path) {
    StorePath split;
    const char *last = std::strrchr(path, '\\');
    if (last == nullptr) {
        split.value = path;
    } else {
        split.key.assign(path, last);
        split.value = last + 1;
        split.namesKey = split.value.empty();
    }
    return split;
}

DWORD OpenKey(HKEY base, const std::string &key, REGSAM access, RegistryKey *opened) {
    HKEY handle = nullptr;
    LONG result = ::RegOpenKeyExA(base, key.c_str(), 0, access, &handle);
    if (result == ERROR_SUCCESS) opened->Reset(handle);
    return static_cast<DWORD>(result);
}

DWORD CreateKey(HKEY base, const std::string &key, RegistryKey *created) {
    HKEY handle = nullptr;
    LONG result = ::RegCreateKeyExA(base, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                                    &handle, nullptr);
    if (result == ERROR_SUCCESS) created->Reset(handle);
    return static_cast<DWORD>(result);
}

DWORD SetValue(HKEY base, const char *path, DWORD type, const void *data, DWORD size) {
    StorePath split = Split(path);
    if (split.namesKey) return ERROR_INVALID_PARAMETER;  // a value needs a name
    RegistryKey key;
    DWORD created = CreateKey(base, split.key, &key);
    if (created != ERROR_SUCCESS) return created;
    return static_cast<DWORD>(
        ::RegSetValueExA(key.Get(), split.value.c_str(), 0, type, static_cast<const BYTE *>(data), size));
}

// The shared front of every member: no base key, no path, or no memory for the
// split path are reported as results, never thrown.
template <typename Operation> DWORD Guarded(HKEY base, const char *path, Operation operation) {
    if (base == nullptr) return ERROR_INVALID_HANDLE;
    if (path == nullptr) return ERROR_INVALID_PARAMETER;
    try {
        return operation();
    } catch (const std::bad_alloc &) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace

CHivekey::CHivekey() : key_(nullptr) {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, HIVEKEY_BASE_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                          nullptr, &key, nullptr) == ERROR_SUCCESS) {
        key_ = key;
    }
}

CHivekey::~CHivekey() { RegistryKey closed(key_); }

CHivekey::operator HKEY() const { return key_; }

DWORD CHivekey::Read(DWORD &value, const char *path) {
    return Guarded(key_, path, [&]() -> DWORD {
        StorePath split = Split(path);
        if (split.namesKey) return ERROR_INVALID_PARAMETER;
        RegistryKey key;
        DWORD opened = OpenKey(key_, split.key, KEY_QUERY_VALUE, &key);
        if (opened != ERROR_SUCCESS) return opened;
        DWORD type = 0;
        DWORD read = 0;
        DWORD size = sizeof(read);
        LONG result = ::RegQueryValueExA(key.Get(), split.value.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(&read),
                                         &size);
        if (result != ERROR_SUCCESS) return static_cast<DWORD>(result);
        if (type != REG_DWORD || size != sizeof(read)) return ERROR_DATATYPE_MISMATCH;
        value = read;
        return ERROR_SUCCESS;
    });
}

DWORD CHivekey::Read(char *text, const char *path, DWORD &size) {
    if (text == nullptr) return ERROR_INVALID_PARAMETER;
    return Guarded(key_, path, [&]() -> DWORD {
        StorePath split = Split(path);
        if (split.namesKey) return ERROR_INVALID_PARAMETER;
        RegistryKey key;
        DWORD opened = OpenKey(key_, split.key, KEY_QUERY_VALUE, &key);
        if (opened != ERROR_SUCCESS) return opened;
        // Type and size first, so that a value of another type or one that does
        // not fit leaves the caller's buffer alone.
        DWORD type = 0;
        DWORD stored = 0;
        LONG result = ::RegQueryValueExA(key.Get(), split.value.c_str(), nullptr, &type, nullptr, &stored);
        if (result != ERROR_SUCCESS) return static_cast<DWORD>(result);
        if (type != REG_SZ) return ERROR_DATATYPE_MISMATCH;
        if (stored > size) return ERROR_MORE_DATA;
        DWORD got = size;
        result = ::RegQueryValueExA(key.Get(), split.value.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(text), &got);
        if (result != ERROR_SUCCESS) return static_cast<DWORD>(result);  // changed in between: more data
        if (type != REG_SZ) return ERROR_DATATYPE_MISMATCH;
        // The registry does not promise the zero: stop at the first one, or add it.
        const void *zero = std::memchr(text, '\0', got);
        DWORD length = zero ? static_cast<DWORD>(static_cast<const char *>(zero) - text) : got;
        if (length >= size) return ERROR_MORE_DATA;
        text[length] = '\0';
        size = length + 1;
        return ERROR_SUCCESS;
    });
}

DWORD CHivekey::Write(DWORD value, const char *path) {
    return Guarded(key_, path, [&] { return SetValue(key_, path, REG_DWORD, &value, sizeof(value)); });
}

DWORD CHivekey::Write(const char *text, const char *path, DWORD type) {
    if (text == nullptr) return ERROR_INVALID_PARAMETER;
    return Guarded(key_, path, [&] {
        return SetValue(key_, path, type, text, static_cast<DWORD>(std::strlen(text) + 1));
    });
}

DWORD CHivekey::Delete(const char *path) {
    return Guarded(key_, path, [&]() -> DWORD {
        StorePath split = Split(path);
        if (split.namesKey) {
            // An empty key part would be the base key itself: the whole store.
            if (split.key.empty()) return ERROR_INVALID_PARAMETER;
            return static_cast<DWORD>(::RegDeleteTreeA(key_, split.key.c_str()));
        }
        RegistryKey key;
        DWORD opened = OpenKey(key_, split.key, KEY_SET_VALUE, &key);
        if (opened != ERROR_SUCCESS) return opened;
        return static_cast<DWORD>(::RegDeleteValueA(key.Get(), split.value.c_str()));
    });
}
