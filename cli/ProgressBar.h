#pragma once

#include <cstdio>

namespace fennick::cli {

// A one-line bar with a percentage, redrawn in place on a terminal only when the shown
// percentage changes.
class ProgressBar {
public:
    explicit ProgressBar(std::FILE* terminal) : terminal_(terminal) { }
    ~ProgressBar() { clear(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void update(double fraction);
    // Removes the bar so that what follows starts on a clean line.
    void clear();

private:
    std::FILE* terminal_;
    int shownPercent_ = -1;
};

} // namespace fennick::cli
