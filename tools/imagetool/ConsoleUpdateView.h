// The UpdateView of `ImageTool update`: the session's statuses and progress on
// stderr. On a console a bar with bytes and speed, redrawn in place; into a file
// or pipe plain lines, one per status and per tenth of the way; nothing when
// quiet. The closing message is not printed here: the caller reports it, with
// the board it belongs to, on stdout or stderr.
#pragma once
#include "UpdateSession.h"
#include <chrono>
#include <string>

enum class ProgressStyle { Bar, Lines, Quiet };

// Bar when stderr is a console, Lines otherwise; Quiet when asked.
ProgressStyle ChooseProgressStyle(bool quiet);

class ConsoleUpdateView : public UpdateView {
public:
    ConsoleUpdateView(std::string imagePath, ProgressStyle style);
    ~ConsoleUpdateView() override;

    std::string ImagePath() override { return imagePath_; }
    void EnableButtons(bool) override {}
    void ShowStatus(const std::string &text) override;
    void ShowClosingStatus(const std::string &text) override;
    void SetProgress(unsigned) override {}
    void ShowBytesAcknowledged(uint32_t acknowledged, uint32_t total) override;
    void ShowMessage(const std::string &) override {}

private:
    using Clock = std::chrono::steady_clock;
    void EndBarLine();

    std::string imagePath_;
    ProgressStyle style_;
    Clock::time_point statusSince_;    // when the last status came: the download starts there
    Clock::time_point transferStart_;
    bool transferring_ = false;
    bool barShown_ = false;            // a bar is on the console's current line
    Clock::time_point lastDrawn_;
    unsigned tenthsShown_ = 0;
};
