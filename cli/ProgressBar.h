#pragma once

#include <cstdio>
#include <string>

namespace fennick::cli {

// A one-line bar with a percentage and an optional text after it, redrawn in place on a terminal
// only when what it shows changes.
class ProgressBar {
public:
    explicit ProgressBar(std::FILE* terminal) : terminal_(terminal) { }
    ~ProgressBar() { clear(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void update(double fraction, const std::string& detail = {});
    // Removes the bar so that what follows starts on a clean line.
    void clear();

private:
    std::FILE* terminal_;
    int shownPercent_ = -1;
    std::string shownDetail_;
};

} // namespace fennick::cli
