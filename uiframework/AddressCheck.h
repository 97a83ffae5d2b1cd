// Whether a block of memory can be used for the needed access, checked page by
// page against the process's memory map (no access is attempted).
#pragma once
#include <windows.h>

BOOL AfxIsValidAddress(const void *address, UINT_PTR bytes, BOOL readWrite = TRUE);
