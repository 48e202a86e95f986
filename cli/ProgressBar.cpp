#include "ProgressBar.h"

#include <algorithm>
#include <string>

namespace fennick::cli {

void ProgressBar::update(double fraction, const std::string& detail)
{
    const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100.0);
    if (percent == shownPercent_ && detail == shownDetail_) return;
    const bool shorter = detail.size() < shownDetail_.size();
    shownPercent_ = percent;
    shownDetail_ = detail;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    const std::string bar = std::string(static_cast<std::size_t>(filled), '#')
        + std::string(static_cast<std::size_t>(kWidth - filled), '.');
    std::fprintf(terminal_, "\r[%s] %3d%%%s%s%s", bar.c_str(), percent, detail.empty() ? "" : "  ", detail.c_str(),
        shorter ? "\033[K" : "");
    std::fflush(terminal_);
}

void ProgressBar::clear()
{
    if (shownPercent_ < 0) return;
    std::fputs("\r\033[K", terminal_);
    std::fflush(terminal_);
    shownPercent_ = -1;
    shownDetail_.clear();
}

} // namespace fennick::cli
