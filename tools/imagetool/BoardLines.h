// The progress of several boards updated at the same time, on stderr. On a console one line per
// board, all redrawn together in place; into a file or pipe plain lines, each starting with the
// board's number ("2: 50%  512 / 1024 KiB  310 KiB/s"), one per status and per tenth of the way;
// nothing when quiet. Any thread may report; one board's line is never torn by another's.
#pragma once
#include "ConsoleUpdateView.h"
#include "CriticalSection.h"
#include "UpdateSession.h"
#include <windows.h>
#include <chrono>
#include <string>
#include <vector>

class BoardLines {
public:
    // `numbers`: the boards' numbers, one line each, in this order (slots 0, 1, ...). Bar reserves
    // their lines on the console at once; Lines and Quiet need no numbers ahead (watch).
    BoardLines(ProgressStyle style, const std::vector<unsigned> &numbers);
    ~BoardLines();  // the cursor goes below the block
    BoardLines(const BoardLines &) = delete;
    BoardLines &operator=(const BoardLines &) = delete;

    void Status(size_t slot, unsigned number, const std::string &text);
    void Progress(size_t slot, unsigned number, uint32_t acknowledged, uint32_t total, double seconds);

private:
    using Clock = std::chrono::steady_clock;
    void Redraw();  // under guard_

    ProgressStyle style_;
    CriticalSection guard_;
    std::vector<std::string> lines_;   // Bar: each board's line
    std::vector<unsigned> tenths_;     // Lines: the tenth of the way each board has shown
    HANDLE console_ = nullptr;         // Bar: stderr's console (not owned)
    SHORT top_ = 0;                    // Bar: the block's first row
    SHORT width_ = 80;
    Clock::time_point lastDrawn_;
};

// One board's UpdateView into the shared lines.
class BoardLineView : public UpdateView {
public:
    BoardLineView(BoardLines &lines, size_t slot, unsigned number, std::string imagePath);

    std::string ImagePath() override { return imagePath_; }
    void EnableButtons(bool) override {}
    void ShowStatus(const std::string &text) override;
    void SetProgress(unsigned) override {}
    void ShowBytesAcknowledged(uint32_t acknowledged, uint32_t total) override;
    void ShowMessage(const std::string &) override {}

private:
    using Clock = std::chrono::steady_clock;
    BoardLines &lines_;
    size_t slot_;
    unsigned number_;
    std::string imagePath_;
    Clock::time_point statusSince_;
    Clock::time_point transferStart_;
    bool transferring_ = false;
};
