// Owner of one loaded library, and the typed look-up of its exports.
#pragma once
#include "UniqueResource.h"
#include <windows.h>

struct LibraryTraits {
    using Native = HMODULE;
    static HMODULE None() { return nullptr; }
    static bool IsValid(HMODULE module) { return module != nullptr; }
    static void Close(HMODULE module) { ::FreeLibrary(module); }
};

class Library : public UniqueResource<LibraryTraits> {
public:
    using UniqueResource::UniqueResource;

    template <typename Fn> Fn Symbol(const char *name) const {
        return Get() ? reinterpret_cast<Fn>(reinterpret_cast<void *>(::GetProcAddress(Get(), name))) : nullptr;
    }
};
