#include "AllocationControl.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> limited{false};
std::atomic<int> remaining{0};

void *Allocate(std::size_t size) {
    if (limited && remaining.fetch_sub(1) <= 0) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void FailAllocationsAfter(int allowed) {
    remaining = allowed;
    limited = true;
}

void AllowAllAllocations() { limited = false; }

void *operator new(std::size_t size) {
    if (void *memory = Allocate(size)) return memory;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return operator new(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return Allocate(size); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return Allocate(size); }
void operator delete(void *memory) noexcept { std::free(memory); }
void operator delete[](void *memory) noexcept { std::free(memory); }
void operator delete(void *memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void *memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void *memory, const std::nothrow_t &) noexcept { std::free(memory); }
void operator delete[](void *memory, const std::nothrow_t &) noexcept { std::free(memory); }
