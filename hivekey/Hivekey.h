// Hivekey.dll: Communicator's access to its registry store. One CHivekey is made
// for one operation; it opens the store's base key
//   HKEY_CURRENT_USER\Software\Kelvrin\Communicator
// (created when missing, so no administrator rights are needed) and reads,
// writes and deletes values by path.
//
// Paths are names separated by backslashes, relative to the base key; the last
// name is a value name ("Router" is a value of the base key, "Routers\10.0.0.5"
// a value of the key "Routers"). A path that ends in a backslash names the key
// itself ("Devices\Board-USB-0\").
//
// Results are Windows system error codes, 0 for success. Nothing throws.
#pragma once
#include <windows.h>

#ifdef HIVEKEY_BUILDING
#define HIVEKEY_API __declspec(dllexport)
#else
#define HIVEKEY_API __declspec(dllimport)
#endif

// The base key under HKEY_CURRENT_USER.
#define HIVEKEY_BASE_KEY "Software\\Kelvrin\\Communicator"

class HIVEKEY_API CHivekey {
public:
    // Opens (creating when missing) the base key with full access. When that
    // fails, every member below reports the failure.
    CHivekey();
    ~CHivekey();
    CHivekey(const CHivekey &) = delete;
    CHivekey &operator=(const CHivekey &) = delete;

    // The open base key (null when it could not be opened): a parent key for the
    // registry functions, with full access.
    operator HKEY() const;

    // 0 and the value when a 32-bit value exists at the path.
    DWORD Read(DWORD &value, const char *path);
    // 0 when a text value exists at the path and fits into size bytes with its
    // zero; text is then zero-terminated and size holds the bytes used, zero
    // included. A stored text without its zero is terminated here. Otherwise
    // non-zero (ERROR_MORE_DATA when it does not fit) and text is left as it was.
    DWORD Read(char *text, const char *path, DWORD &size);
    // Stores a 32-bit value, creating the keys of the path that are missing.
    DWORD Write(DWORD value, const char *path);
    // Stores a text value of the given registry type (REG_SZ, 1), creating the
    // keys of the path that are missing.
    DWORD Write(const char *text, const char *path, DWORD type);
    // Removes the value the path names, or, for a path ending in a backslash,
    // the key with its values and sub keys. The base key itself cannot be removed.
    DWORD Delete(const char *path);

private:
    HKEY key_;
};
