#include "OversampledPeak.h"

#include <algorithm>
#include <cmath>

namespace fennick {

namespace {

constexpr std::size_t kHalf = OversampledPeak::kTaps / 2;
// Frames deinterleaved at a time: the history stays in the first-level cache.
constexpr std::size_t kChunkFrames = 2048;
// Kaiser's β: about 60 dB of stopband, a flat passband up to about 0.45 of the sample rate.
constexpr double kKaiserBeta = 6.0;
constexpr double kPi = 3.14159265358979323846;

double besselI0(double x)
{
    double sum = 1, term = 1;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

// The largest magnitude of `count` interpolated points: point i is the dot product of the taps
// with x[i] … x[i + kTaps − 1]. Eight outputs at a time, so that the compiler keeps them in
// registers across the taps; wider registers where the processor has them.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
float interpolatedPeak(const float* x, std::size_t count, const float* taps)
{
    constexpr std::size_t kLanes = 8;
    float peak[kLanes] = {};
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        float sum[kLanes] = {};
        for (std::size_t j = 0; j < OversampledPeak::kTaps; ++j) {
            const float tap = taps[j];
            for (std::size_t k = 0; k < kLanes; ++k) sum[k] += tap * x[i + j + k];
        }
        for (std::size_t k = 0; k < kLanes; ++k) peak[k] = std::max(peak[k], std::fabs(sum[k]));
    }
    float result = *std::max_element(peak, peak + kLanes);
    for (; i < count; ++i) {
        float sum = 0;
        for (std::size_t j = 0; j < OversampledPeak::kTaps; ++j) sum += taps[j] * x[i + j];
        result = std::max(result, std::fabs(sum));
    }
    return result;
}

float samplePeak(const float* x, std::size_t count)
{
    float peak = 0;
    for (std::size_t i = 0; i < count; ++i) peak = std::max(peak, std::fabs(x[i]));
    return peak;
}

} // namespace

OversampledPeak::OversampledPeak(std::uint32_t channels)
    : channels_(channels), phases_(kFactor - 1), history_(channels, std::vector<float>(kTaps - 1, 0.0f))
{
    // Phase p interpolates at p / kFactor of the way from tap kHalf − 1 to tap kHalf. Each phase
    // is normalised to unit gain at DC, so that a constant reads as itself.
    for (std::size_t p = 1; p < kFactor; ++p) {
        const double offset = static_cast<double>(p) / kFactor;
        double sum = 0;
        std::array<double, kTaps> taps{};
        for (std::size_t j = 0; j < kTaps; ++j) {
            const double t = static_cast<double>(j) - static_cast<double>(kHalf - 1) - offset;
            const double sinc = std::sin(kPi * t) / (kPi * t); // t is never an integer
            const double ratio = t / static_cast<double>(kHalf);
            const double window
                = besselI0(kKaiserBeta * std::sqrt(std::max(0.0, 1 - ratio * ratio))) / besselI0(kKaiserBeta);
            taps[j] = sinc * window;
            sum += taps[j];
        }
        for (std::size_t j = 0; j < kTaps; ++j) phases_[p - 1][j] = static_cast<float>(taps[j] / sum);
    }
}

void OversampledPeak::add(const float* interleaved, std::size_t frames)
{
    while (frames > 0) {
        const std::size_t chunk = std::min(frames, kChunkFrames);
        for (std::size_t channel = 0; channel < channels_; ++channel) {
            std::vector<float>& history = history_[channel];
            const std::size_t kept = history.size();
            history.resize(kept + chunk);
            const float* in = interleaved + channel;
            for (std::size_t f = 0; f < chunk; ++f) history[kept + f] = in[f * channels_];
            processChannel(channel);
        }
        interleaved += chunk * channels_;
        frames -= chunk;
    }
}

void OversampledPeak::processChannel(std::size_t channel)
{
    std::vector<float>& history = history_[channel];
    const std::size_t intervals = history.size() - (kTaps - 1);
    float peak = std::max(peak_, samplePeak(history.data() + (kTaps - 1), intervals));
    for (const Phase& phase : phases_) peak = std::max(peak, interpolatedPeak(history.data(), intervals, phase.data()));
    peak_ = peak;
    history.erase(history.begin(), history.end() - static_cast<std::ptrdiff_t>(kTaps - 1));
}

double OversampledPeak::peak() const
{
    float peak = peak_;
    for (const std::vector<float>& kept : history_) {
        // The filter's ringing after the last sample: the kept samples followed by silence.
        std::vector<float> tail(kept);
        tail.resize(kept.size() + kTaps, 0.0f);
        const std::size_t intervals = tail.size() - (kTaps - 1);
        for (const Phase& phase : phases_)
            peak = std::max(peak, interpolatedPeak(tail.data(), intervals, phase.data()));
    }
    return peak;
}

} // namespace fennick
