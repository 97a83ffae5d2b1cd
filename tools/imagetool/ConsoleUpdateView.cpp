#include "ConsoleUpdateView.h"
#include "ProgressText.h"
#include <windows.h>
#include <cstdio>
#include <utility>

namespace {

constexpr unsigned kBarWidth = 30;
// Redrawing for every packet would cost more than the packets on a fast board:
// console output is slow (under Wine a redraw costs milliseconds).
constexpr std::chrono::milliseconds kRedrawInterval(250);

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

ProgressStyle ChooseProgressStyle(bool quiet) {
    if (quiet) return ProgressStyle::Quiet;
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) ? ProgressStyle::Bar : ProgressStyle::Lines;
}

ConsoleUpdateView::ConsoleUpdateView(std::string imagePath, ProgressStyle style)
    : imagePath_(std::move(imagePath)), style_(style), statusSince_(Clock::now()) {}

ConsoleUpdateView::~ConsoleUpdateView() { EndBarLine(); }

void ConsoleUpdateView::ShowStatus(const std::string &text) {
    statusSince_ = Clock::now();
    if (style_ == ProgressStyle::Quiet) return;
    EndBarLine();
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void ConsoleUpdateView::ShowClosingStatus(const std::string &) { EndBarLine(); }

void ConsoleUpdateView::ShowBytesAcknowledged(uint32_t acknowledged, uint32_t total) {
    if (!transferring_) {
        transferring_ = true;
        transferStart_ = statusSince_;
    }
    const double seconds = SecondsSince(transferStart_);
    switch (style_) {
    case ProgressStyle::Quiet: return;
    case ProgressStyle::Bar: {
        const Clock::time_point now = Clock::now();
        if (barShown_ && acknowledged < total && now - lastDrawn_ < kRedrawInterval) return;
        lastDrawn_ = now;
        // One console write per redraw: stderr is unbuffered and goes out byte by byte.
        const std::string line = "\r" + FormatProgressBar(acknowledged, total, seconds, kBarWidth) + " ";
        DWORD written = 0;
        ::WriteConsoleA(::GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
                        nullptr);
        barShown_ = true;
        break;
    }
    case ProgressStyle::Lines: {
        const unsigned tenths = ProgressTenths(acknowledged, total);
        if (tenths <= tenthsShown_) return;
        tenthsShown_ = tenths;
        std::fprintf(stderr, "%s\n", FormatProgressLine(acknowledged, total, seconds).c_str());
        break;
    }
    }
    std::fflush(stderr);
}

void ConsoleUpdateView::EndBarLine() {
    if (!barShown_) return;
    barShown_ = false;
    std::fprintf(stderr, "\n");
    std::fflush(stderr);
}
