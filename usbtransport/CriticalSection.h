// Owner of one critical section, and a scoped hold of it. Used where a guard is
// held only for a few field updates and never across a wait.
#pragma once
#include <windows.h>

namespace wirrow {

class CriticalSection {
public:
    CriticalSection() { ::InitializeCriticalSection(&section_); }
    ~CriticalSection() { ::DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection &) = delete;
    CriticalSection &operator=(const CriticalSection &) = delete;
    void Enter() { ::EnterCriticalSection(&section_); }
    void Leave() { ::LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

class SectionHold {
public:
    explicit SectionHold(CriticalSection &section) : section_(section) { section_.Enter(); }
    ~SectionHold() { section_.Leave(); }
    SectionHold(const SectionHold &) = delete;
    SectionHold &operator=(const SectionHold &) = delete;

private:
    CriticalSection &section_;
};

}  // namespace wirrow
