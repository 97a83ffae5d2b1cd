// Owner of one critical section, and a scoped hold of it. Used where a guard is
// held only for a few field updates and never across a wait: unlike a mutex, an
// uncontended hold never leaves the process (under Wine, never reaches the server).
#pragma once
#include <windows.h>

class CriticalSection {
public:
    CriticalSection() { ::InitializeCriticalSection(&section_); }
    ~CriticalSection() { ::DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection &) = delete;
    CriticalSection &operator=(const CriticalSection &) = delete;
    void Enter() { ::EnterCriticalSection(&section_); }
    void Leave() { ::LeaveCriticalSection(&section_); }
    // For condition variables that sleep on this section.
    CRITICAL_SECTION *Native() { return &section_; }

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
