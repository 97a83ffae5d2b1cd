// Runs a callable when the scope ends, on every way out, unless dismissed first:
// for the one-off clean-ups that no owner type fits.
#pragma once
#include <utility>

template <typename Fn> class ScopeExit {
public:
    explicit ScopeExit(Fn fn) : fn_(std::move(fn)) {}
    ScopeExit(const ScopeExit &) = delete;
    ScopeExit &operator=(const ScopeExit &) = delete;
    ~ScopeExit() {
        if (armed_) fn_();
    }
    // The clean-up no longer runs.
    void Dismiss() { armed_ = false; }

private:
    Fn fn_;
    bool armed_ = true;
};
