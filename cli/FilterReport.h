#pragma once

#include "FennickEngine.h"

#include <string>

namespace fennick::cli {

// The measured figures, one "name: value unit" line each, for comparing settings in a shell.
std::string filterReport(const FilterResponse& response);

// The dither's two figures in the same style: its noise weighted by the threshold of hearing and
// its level in 1–5 kHz, each relative to flat TPDF.
std::string ditherReport(const DitherNoise& noise);

} // namespace fennick::cli
