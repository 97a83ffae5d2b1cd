// Owner of one open registry key.
#pragma once
#include "UniqueResource.h"
#include <windows.h>

struct RegistryKeyTraits {
    using Native = HKEY;
    static HKEY None() { return nullptr; }
    static bool IsValid(HKEY key) { return key != nullptr; }
    static void Close(HKEY key) { ::RegCloseKey(key); }
};

using RegistryKey = UniqueResource<RegistryKeyTraits>;
