#pragma once

#include <string>
#include <string_view>

namespace fennick {

// `bytes` with every ill-formed UTF-8 sequence replaced by U+FFFD (maximal subparts, as
// the Unicode standard recommends).
std::string validUtf8(std::string_view bytes);

} // namespace fennick
