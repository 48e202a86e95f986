#pragma once

#include "FennickEngine.h"
#include "OversampledPeak.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace fennick {

// Measures a stream's loudness with libebur128, and its peaks, while it passes: fed interleaved
// float blocks (full scale ±1.0) in order, straight from whatever buffer holds them, it copies
// nothing. The true peak is libebur128's (OversampledPeak::Filter::bs1770). One thread at a time.
class LevelMeter {
public:
    // Whether to find the finer peak for a ceiling as well: it costs about as much as all the
    // rest, so only a run that enforces a ceiling asks for it.
    enum class CeilingPeak { off, on };
    // Where the true and sample peaks come from: measured by the meter, or by whoever feeds it,
    // alongside, and handed over with givePeaks() before the figures are read.
    enum class PeakSource { own, given };

    // `channelMap`: the channels' positions as libsndfile names them (SF_CHANNEL_MAP_…), or empty
    // for the usual order of the channel count (5.1: L R C LFE Ls Rs). The LFE channel is left
    // out of the loudness, surround channels weigh 1.41 as BS.1770-4 states. Throws
    // std::invalid_argument for no channels, a rate libebur128 does not take, or a map of another
    // length; std::bad_alloc.
    LevelMeter(std::uint32_t channels, double sampleRate, std::span<const int> channelMap = {},
        CeilingPeak ceilingPeak = CeilingPeak::off, PeakSource peakSource = PeakSource::own);
    ~LevelMeter();
    LevelMeter(LevelMeter&&) noexcept;
    LevelMeter& operator=(LevelMeter&&) noexcept;

    std::uint32_t channelCount() const { return channels_; }

    // `frames` frames of the constructor's channel count. Throws std::bad_alloc.
    void add(const float* interleaved, std::size_t frames);

    LevelFigures figures() const;

    // With PeakSource::given: the peaks (linear) of some of the channels, measured with the
    // bs1770 filter from the same samples; the figures take the largest handed over.
    void givePeaks(double truePeak, double samplePeak);

    // The peak a true-peak ceiling is measured against, in dBTP: at least what a BS.1770-4 meter
    // reads (libebur128 or ffmpeg's ebur128), from the finer OversampledPeak::Filter::ceiling
    // and never below the BS.1770-4 figure, plus 0.05 dB. Only with
    // CeilingPeak::on; otherwise nullopt.
    std::optional<double> truePeakForCeiling() const;

    // The integrated loudness of all the meters' streams together, as one programme (an album),
    // in LUFS; minus infinity for silence or none.
    static double albumLoudness(std::span<const LevelMeter* const> meters);

private:
    struct State; // libebur128's, which its header declares without a name to refer to ahead

    // Feeds up to the next 100 ms boundary and notes the momentary and short-term loudness there.
    void addUpToBoundary(const float* interleaved, std::size_t frames);
    // Notes the last 100 ms's energy, and the momentary and short-term loudness that end with it.
    void noteSubBlock();

    std::unique_ptr<State> state_;
    std::uint32_t channels_;
    std::size_t framesPerUpdate_; // 100 ms
    std::size_t framesSinceUpdate_ = 0;
    // The energies of the last 30 100-ms sub-blocks, a ring: a momentary window is the mean of
    // the last 4, a short-term one of all 30. Asking libebur128 for a 3 s window every 100 ms
    // would sum 30 times the audio again.
    std::array<double, 30> subBlockEnergies_{};
    std::size_t subBlocks_ = 0;
    double maxMomentary_ = LevelFigures::kSilence;
    double maxShortTerm_ = LevelFigures::kSilence;
    OversampledPeak truePeak_; // libebur128's own true peak costs four times the loudness
    PeakSource peakSource_;
    double givenTruePeak_ = 0, givenSamplePeak_ = 0;
    std::optional<OversampledPeak> ceilingPeak_;
};

} // namespace fennick
