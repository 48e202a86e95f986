#pragma once

#include "FennickEngine.h"

#include <optional>
#include <string>

namespace fennick::cli {

// "379 samples clipped (peak +0.31 dBFS)." or "The file holds 12 samples over full scale (…).",
// as the window words it; nothing when nothing went past full scale.
std::optional<std::string> clipWarning(const ClipReport& clips);

} // namespace fennick::cli
