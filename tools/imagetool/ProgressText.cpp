#include "ProgressText.h"
#include <cstdio>

namespace {

unsigned Percent(uint64_t done, uint64_t total) {
    if (total == 0 || done >= total) return 100;
    return static_cast<unsigned>(done * 100 / total);
}

// "512 / 1024 KiB", rounded down to whole KiB, but never showing a partial
// transfer as 0 of 0.
std::string Amount(uint64_t done, uint64_t total) {
    char text[64];
    if (total < 10 * 1024)
        std::snprintf(text, sizeof(text), "%llu / %llu bytes", static_cast<unsigned long long>(done),
                      static_cast<unsigned long long>(total));
    else
        std::snprintf(text, sizeof(text), "%llu / %llu KiB", static_cast<unsigned long long>(done / 1024),
                      static_cast<unsigned long long>(total / 1024));
    return text;
}

std::string Speed(uint64_t done, double seconds) {
    if (!(seconds > 0)) return std::string();
    char text[32];
    std::snprintf(text, sizeof(text), "%.0f KiB/s", static_cast<double>(done) / 1024.0 / seconds);
    return text;
}

}  // namespace

std::string FormatProgressBar(uint64_t done, uint64_t total, double seconds, unsigned width) {
    const unsigned percent = Percent(done, total);
    const unsigned filled = width * percent / 100;
    std::string text = "[" + std::string(filled, '#') + std::string(width - filled, '.') + "] ";
    char number[8];
    std::snprintf(number, sizeof(number), "%3u%%", percent);
    text += number;
    text += "  " + Amount(done, total);
    const std::string speed = Speed(done, seconds);
    if (!speed.empty()) text += "  " + speed;
    return text;
}

std::string FormatProgressLine(uint64_t done, uint64_t total, double seconds) {
    std::string text = std::to_string(Percent(done, total)) + "%  " + Amount(done, total);
    const std::string speed = Speed(done, seconds);
    if (!speed.empty()) text += "  " + speed;
    return text;
}

unsigned ProgressTenths(uint64_t done, uint64_t total) { return Percent(done, total) / 10; }
