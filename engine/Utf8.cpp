#include "Utf8.h"

#include <cstdint>

namespace fennick {

std::string validUtf8(std::string_view bytes)
{
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto b0 = static_cast<std::uint8_t>(bytes[i]);
        if (b0 < 0x80) {
            out.push_back(static_cast<char>(b0));
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint8_t low = 0x80, high = 0xBF; // allowed range of the second byte
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            length = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            length = 3;
            if (b0 == 0xE0) low = 0xA0;  // no overlong forms
            if (b0 == 0xED) high = 0x9F; // no surrogates
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            length = 4;
            if (b0 == 0xF0) low = 0x90;
            if (b0 == 0xF4) high = 0x8F; // nothing above U+10FFFF
        }
        if (length == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        std::size_t valid = 1;
        while (valid < length && i + valid < n) {
            const auto b = static_cast<std::uint8_t>(bytes[i + valid]);
            const bool ok = valid == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
            if (!ok) break;
            ++valid;
        }
        if (valid == length) {
            out.append(bytes.substr(i, length));
        } else {
            out += kReplacement;
        }
        i += valid;
    }
    return out;
}

} // namespace fennick
