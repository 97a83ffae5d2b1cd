// The one owner shape of every Win32 object that a single call closes: a handle,
// a library, a registry key, a socket, a device-information set. `Traits` names
// the native type, the value that means "none" and the call that closes one;
// each kind's header gives its owner a name (UniqueHandle, Library, ...).
#pragma once
#include <utility>

template <typename Traits> class UniqueResource {
public:
    using Native = typename Traits::Native;

    UniqueResource() = default;
    // Takes anything Traits does not count as valid as "none".
    explicit UniqueResource(Native value) : value_(Traits::IsValid(value) ? value : Traits::None()) {}
    UniqueResource(const UniqueResource &) = delete;
    UniqueResource &operator=(const UniqueResource &) = delete;
    UniqueResource(UniqueResource &&other) noexcept : value_(other.Release()) {}
    UniqueResource &operator=(UniqueResource &&other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~UniqueResource() { Reset(); }

    Native Get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::None(); }
    Native Release() { return std::exchange(value_, Traits::None()); }
    void Reset(Native value = Traits::None()) {
        Native old = std::exchange(value_, Traits::IsValid(value) ? value : Traits::None());
        if (old != Traits::None()) Traits::Close(old);
    }

private:
    Native value_ = Traits::None();
};
