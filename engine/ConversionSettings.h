#pragma once

// The value types that say what one conversion produces and how libsoxr is to work.
// The quality raw values are libsoxr's own recipe and flag constants, passed on unchanged.

#include "RawValueEnum.h"

#include <cstdint>
#include <string_view>

namespace fennick {

enum class TargetSampleRate { r44100, r48000, r88200, r96000, r176400, r192000 };

enum class OutputFormat { int16, int24, float32 };

struct ConversionOptions {
    enum class Precision { quick, low, medium, bits16, high, bits24, veryHigh, bits32 };
    enum class Phase { linear, intermediate, minimum };
    enum class Rolloff { small, medium, none };

    Precision precision = Precision::veryHigh;
    Phase phase = Phase::linear;
    bool steepFilter = false;
    Rolloff rolloff = Rolloff::small;
    double bandwidthPercent = 91.3; // not clamped here; the window limits it to 74.0–99.7
    bool doublePrecision = false;
    bool dither = true; // only meaningful for int16 output

    friend bool operator==(const ConversionOptions&, const ConversionOptions&) = default;
};

// libsoxr computes in double precision above 20 bits whatever it is asked.
constexpr bool requiresDoublePrecision(ConversionOptions::Precision precision)
{
    using P = ConversionOptions::Precision;
    return precision == P::bits24 || precision == P::veryHigh || precision == P::bits32;
}

// Integer form of a rate, exact for every case.
constexpr std::int64_t hertz(TargetSampleRate rate);

// 16, 24 or 32: 16 plus 8 times the format's position.
constexpr int bitsPerSample(OutputFormat format);
constexpr bool isFloat(OutputFormat format) { return format == OutputFormat::float32; }

template <>
struct RawValueTable<TargetSampleRate> {
    using Raw = double;
    static constexpr std::array<std::pair<TargetSampleRate, Raw>, 6> table{{
        {TargetSampleRate::r44100, 44100.0},
        {TargetSampleRate::r48000, 48000.0},
        {TargetSampleRate::r88200, 88200.0},
        {TargetSampleRate::r96000, 96000.0},
        {TargetSampleRate::r176400, 176400.0},
        {TargetSampleRate::r192000, 192000.0},
    }};
};

template <>
struct RawValueTable<OutputFormat> {
    using Raw = std::string_view;
    static constexpr std::array<std::pair<OutputFormat, Raw>, 3> table{{
        {OutputFormat::int16, "int16"},
        {OutputFormat::int24, "int24"},
        {OutputFormat::float32, "float32"},
    }};
};

template <>
struct RawValueTable<ConversionOptions::Precision> {
    using Raw = std::uint64_t;
    using P = ConversionOptions::Precision;
    static constexpr std::array<std::pair<P, Raw>, 8> table{{
        {P::quick, 0}, // SOXR_QQ
        {P::low, 1},   // SOXR_LQ
        {P::medium, 2}, // SOXR_MQ
        {P::bits16, 3}, // SOXR_16_BITQ
        {P::high, 4},   // SOXR_20_BITQ
        {P::bits24, 5}, // SOXR_24_BITQ
        {P::veryHigh, 6}, // SOXR_28_BITQ
        {P::bits32, 7}, // SOXR_32_BITQ
    }};
};

template <>
struct RawValueTable<ConversionOptions::Phase> {
    using Raw = std::uint64_t;
    using P = ConversionOptions::Phase;
    static constexpr std::array<std::pair<P, Raw>, 3> table{{
        {P::linear, 0x00},       // SOXR_LINEAR_PHASE
        {P::intermediate, 0x10}, // SOXR_INTERMEDIATE_PHASE
        {P::minimum, 0x30},      // SOXR_MINIMUM_PHASE
    }};
};

template <>
struct RawValueTable<ConversionOptions::Rolloff> {
    using Raw = std::uint64_t;
    using R = ConversionOptions::Rolloff;
    static constexpr std::array<std::pair<R, Raw>, 3> table{{
        {R::small, 0},  // SOXR_ROLLOFF_SMALL
        {R::medium, 1}, // SOXR_ROLLOFF_MEDIUM
        {R::none, 2},   // SOXR_ROLLOFF_NONE
    }};
};

constexpr std::int64_t hertz(TargetSampleRate rate) { return static_cast<std::int64_t>(rawValue(rate)); }
constexpr int bitsPerSample(OutputFormat format) { return 16 + 8 * static_cast<int>(ordinal(format)); }

} // namespace fennick

template <>
struct std::hash<fennick::TargetSampleRate> : fennick::RawValueHash<fennick::TargetSampleRate> {};
template <>
struct std::hash<fennick::OutputFormat> : fennick::RawValueHash<fennick::OutputFormat> {};
template <>
struct std::hash<fennick::ConversionOptions::Precision>
    : fennick::RawValueHash<fennick::ConversionOptions::Precision> {};
template <>
struct std::hash<fennick::ConversionOptions::Phase> : fennick::RawValueHash<fennick::ConversionOptions::Phase> {};
template <>
struct std::hash<fennick::ConversionOptions::Rolloff>
    : fennick::RawValueHash<fennick::ConversionOptions::Rolloff> {};
