// Owner of one loaded library.
#pragma once
#include <windows.h>
#include <utility>

class Library {
public:
    Library() = default;
    explicit Library(HMODULE module) : module_(module) {}
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;
    Library(Library &&other) noexcept : module_(std::exchange(other.module_, nullptr)) {}
    Library &operator=(Library &&other) noexcept {
        if (this != &other) Reset(std::exchange(other.module_, nullptr));
        return *this;
    }
    ~Library() { Reset(); }

    HMODULE Get() const { return module_; }
    explicit operator bool() const { return module_ != nullptr; }
    HMODULE Release() { return std::exchange(module_, nullptr); }
    void Reset(HMODULE module = nullptr) {
        HMODULE old = std::exchange(module_, module);
        if (old) ::FreeLibrary(old);
    }
    template <typename Fn> Fn Symbol(const char *name) const {
        return module_ ? reinterpret_cast<Fn>(reinterpret_cast<void *>(::GetProcAddress(module_, name))) : nullptr;
    }

private:
    HMODULE module_ = nullptr;
};
