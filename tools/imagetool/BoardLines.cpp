#include "BoardLines.h"
#include "ProgressText.h"
#include <cstdio>
#include <utility>

namespace {

constexpr unsigned kBarWidth = 20;
// As for one board: console output is slow under Wine, and every board's packets would redraw.
constexpr std::chrono::milliseconds kRedrawInterval(250);

}  // namespace

BoardLines::BoardLines(ProgressStyle style, const std::vector<unsigned> &numbers) : style_(style) {
    if (style_ != ProgressStyle::Bar) return;
    console_ = ::GetStdHandle(STD_ERROR_HANDLE);
    for (unsigned number : numbers) lines_.push_back(std::to_string(number) + "  waiting");
    // The block's rows, scrolled into view by writing them once.
    std::string block;
    for (const std::string &line : lines_) block += line + "\n";
    std::fputs(block.c_str(), stderr);
    std::fflush(stderr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(console_, &info) || info.dwCursorPosition.Y < static_cast<SHORT>(lines_.size())) {
        style_ = ProgressStyle::Lines;  // no place to redraw: plain lines instead
        return;
    }
    top_ = static_cast<SHORT>(info.dwCursorPosition.Y - static_cast<SHORT>(lines_.size()));
    width_ = info.dwSize.X;
}

BoardLines::~BoardLines() {
    if (style_ != ProgressStyle::Bar) return;
    SectionHold hold(guard_);
    Redraw();
}

void BoardLines::Status(size_t slot, unsigned number, const std::string &text) {
    SectionHold hold(guard_);
    switch (style_) {
    case ProgressStyle::Quiet: return;
    case ProgressStyle::Bar:
        if (slot >= lines_.size()) return;
        lines_[slot] = std::to_string(number) + "  " + text;
        Redraw();
        return;
    case ProgressStyle::Lines:
        std::fprintf(stderr, "%u: %s\n", number, text.c_str());
        std::fflush(stderr);
        return;
    }
}

void BoardLines::Progress(size_t slot, unsigned number, uint32_t acknowledged, uint32_t total, double seconds) {
    SectionHold hold(guard_);
    switch (style_) {
    case ProgressStyle::Quiet: return;
    case ProgressStyle::Bar:
        if (slot >= lines_.size()) return;
        lines_[slot] = std::to_string(number) + "  " + FormatProgressBar(acknowledged, total, seconds, kBarWidth);
        if (acknowledged < total && Clock::now() - lastDrawn_ < kRedrawInterval) return;
        Redraw();
        return;
    case ProgressStyle::Lines: {
        if (tenths_.size() <= slot) tenths_.resize(slot + 1, 0);
        const unsigned tenths = ProgressTenths(acknowledged, total);
        if (tenths <= tenths_[slot]) return;
        tenths_[slot] = tenths;
        std::fprintf(stderr, "%u: %s\n", number, FormatProgressLine(acknowledged, total, seconds).c_str());
        std::fflush(stderr);
        return;
    }
    }
}

void BoardLines::Redraw() {
    lastDrawn_ = Clock::now();
    for (size_t i = 0; i < lines_.size(); ++i) {
        // Padded to the width, so a shorter line covers a longer one; one write per line.
        std::string line = lines_[i];
        line.resize(width_ > 1 ? static_cast<size_t>(width_ - 1) : line.size(), ' ');
        const COORD at{0, static_cast<SHORT>(top_ + static_cast<SHORT>(i))};
        DWORD written = 0;
        ::SetConsoleCursorPosition(console_, at);
        ::WriteConsoleA(console_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    ::SetConsoleCursorPosition(console_, COORD{0, static_cast<SHORT>(top_ + static_cast<SHORT>(lines_.size()))});
}

BoardLineView::BoardLineView(BoardLines &lines, size_t slot, unsigned number, std::string imagePath)
    : lines_(lines), slot_(slot), number_(number), imagePath_(std::move(imagePath)), statusSince_(Clock::now()) {}

void BoardLineView::ShowStatus(const std::string &text) {
    statusSince_ = Clock::now();
    lines_.Status(slot_, number_, text);
}

void BoardLineView::ShowBytesAcknowledged(uint32_t acknowledged, uint32_t total) {
    if (!transferring_) {
        transferring_ = true;
        transferStart_ = statusSince_;
    }
    lines_.Progress(slot_, number_, acknowledged, total,
                    std::chrono::duration<double>(Clock::now() - transferStart_).count());
}
