#pragma once

#include <limits>

namespace fennick {

// What a level meter tells about a stream: loudness after ITU-R BS.1770-4 and EBU R 128, and its
// peaks. Levels are in dB; silence (and a stream too short to be gated) gives minus infinity.
struct LevelFigures {
    static constexpr double kSilence = -std::numeric_limits<double>::infinity();

    double integratedLufs = kSilence;
    double loudnessRangeLu = 0; // of a stream too short or too quiet to measure: 0
    double truePeakDbtp = kSilence; // BS.1770-4 as libebur128 reads it (4× below 96 kHz, 2× below 192 kHz)
    double samplePeakDbfs = kSilence;
    double maxMomentaryLufs = kSilence; // 400 ms windows, every 100 ms
    double maxShortTermLufs = kSilence; // 3 s windows, every 100 ms

    bool operator==(const LevelFigures&) const = default;
};

} // namespace fennick
