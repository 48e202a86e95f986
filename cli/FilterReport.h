#pragma once

#include "FennickEngine.h"

#include <string>

namespace fennick::cli {

// The measured figures, one "name: value unit" line each, for comparing settings in a shell.
std::string filterReport(const FilterResponse& response);

} // namespace fennick::cli
