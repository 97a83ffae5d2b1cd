// Owner of one SetupAPI device-information set; SetupAPI reports failure as
// INVALID_HANDLE_VALUE.
#pragma once
#include "UniqueResource.h"
#include <windows.h>
#include <setupapi.h>

struct DeviceInfoSetTraits {
    using Native = HDEVINFO;
    static HDEVINFO None() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HDEVINFO set) { return set != INVALID_HANDLE_VALUE; }
    static void Close(HDEVINFO set) { ::SetupDiDestroyDeviceInfoList(set); }
};

using DeviceInfoSet = UniqueResource<DeviceInfoSetTraits>;
