#include "FennickEngine.h"

#include <cstdio>
#include <numeric>

namespace fennick {

BatchProgress::BatchProgress(std::vector<double> seconds)
    : seconds_(std::move(seconds)), fractions_(seconds_.size(), 0.0), done_(seconds_.size(), false),
      totalSeconds_(std::accumulate(seconds_.begin(), seconds_.end(), 0.0))
{
}

void BatchProgress::progressed(std::size_t file, double fraction)
{
    if (!done_[file]) fractions_[file] = fraction;
}

void BatchProgress::finished(std::size_t file)
{
    if (done_[file]) return;
    done_[file] = true;
    fractions_[file] = 1.0;
    ++filesDone_;
}

double BatchProgress::fraction() const
{
    if (seconds_.empty()) return 0.0;
    if (totalSeconds_ <= 0) return static_cast<double>(filesDone_) / static_cast<double>(seconds_.size());
    double doneSeconds = 0;
    for (std::size_t i = 0; i < seconds_.size(); ++i) doneSeconds += fractions_[i] * seconds_[i];
    return doneSeconds / totalSeconds_;
}

std::optional<double> BatchProgress::secondsLeft(double elapsedSeconds) const
{
    const double done = fraction();
    if (done <= 0.0 || done >= 1.0 || elapsedSeconds < 1.0) return std::nullopt;
    return elapsedSeconds * (1.0 - done) / done;
}

std::string clockText(double seconds)
{
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    }
    return text;
}

} // namespace fennick
