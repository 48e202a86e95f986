#pragma once

#include "LevelFigures.h"
#include "OversampledPeak.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace fennick {

// Measures a stream's loudness and peaks with libebur128 while it passes: fed interleaved float
// blocks (full scale ±1.0) in order, straight from whatever buffer holds them, it copies nothing.
// One thread at a time.
class LevelMeter {
public:
    // Whether to find the peak for a ceiling as well (OversampledPeak): that costs more than all
    // the rest, so only a run that enforces a ceiling asks for it.
    enum class CeilingPeak { off, on };

    // `channelMap`: the channels' positions as libsndfile names them (SF_CHANNEL_MAP_…), or empty
    // for the usual order of the channel count (5.1: L R C LFE Ls Rs). The LFE channel is left
    // out of the loudness, surround channels weigh 1.41 as BS.1770-4 states. Throws
    // std::invalid_argument for no channels, a rate libebur128 does not take, or a map of another
    // length; std::bad_alloc.
    LevelMeter(std::uint32_t channels, double sampleRate, std::span<const int> channelMap = {},
        CeilingPeak ceilingPeak = CeilingPeak::off);
    ~LevelMeter();
    LevelMeter(LevelMeter&&) noexcept;
    LevelMeter& operator=(LevelMeter&&) noexcept;

    std::uint32_t channelCount() const { return channels_; }

    // `frames` frames of the constructor's channel count. Throws std::bad_alloc.
    void add(const float* interleaved, std::size_t frames);

    LevelFigures figures() const;

    // The peak a true-peak ceiling is measured against, in dBTP: at least what a BS.1770-4 meter
    // reads (libebur128 or ffmpeg's ebur128), from the finer OversampledPeak. Only with
    // CeilingPeak::on; otherwise nullopt.
    std::optional<double> truePeakForCeiling() const;

    // The integrated loudness of all the meters' streams together, as one programme (an album),
    // in LUFS; minus infinity for silence or none.
    static double albumLoudness(std::span<const LevelMeter* const> meters);

private:
    struct State; // libebur128's, which its header declares without a name to refer to ahead

    // Feeds up to the next 100 ms boundary and notes the momentary and short-term loudness there.
    void addUpToBoundary(const float* interleaved, std::size_t frames);

    std::unique_ptr<State> state_;
    std::uint32_t channels_;
    std::size_t framesPerUpdate_; // 100 ms
    std::size_t framesSinceUpdate_ = 0;
    double maxMomentary_ = LevelFigures::kSilence;
    double maxShortTerm_ = LevelFigures::kSilence;
    std::optional<OversampledPeak> ceilingPeak_;
};

} // namespace fennick
