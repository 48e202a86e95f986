#include "OversampledPeak.h"

#include "WiderVectors.h"

#include <algorithm>
#include <cmath>

namespace fennick {

namespace {

// Frames deinterleaved at a time: the history stays in the first-level cache.
constexpr std::size_t kChunkFrames = 2048;
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

double sinc(double x) { return std::fabs(x) < 1e-12 ? 1.0 : std::sin(kPi * x) / (kPi * x); }

// libebur128's prototype: 49 taps of a sinc at the input's Nyquist frequency, Hann-windowed;
// tap j goes to phase j mod factor. Phase 0 is then the sample itself, the others interpolate.
// Taps are stored oldest sample first.
std::vector<std::vector<float>> bs1770Phases(std::size_t factor, std::size_t& taps)
{
    constexpr std::size_t kPrototype = 49;
    taps = (kPrototype + factor - 1) / factor;
    std::vector<std::vector<float>> phases;
    for (std::size_t phase = 1; phase < factor; ++phase) {
        std::vector<float> coefficients(taps, 0.0f);
        for (std::size_t t = 0; phase + factor * t < kPrototype; ++t) {
            const std::size_t j = phase + factor * t;
            const double m = static_cast<double>(j) - (kPrototype - 1) / 2.0;
            const double hann = 0.5 * (1 - std::cos(2 * kPi * static_cast<double>(j) / (kPrototype - 1)));
            coefficients[taps - 1 - t] = static_cast<float>(sinc(m / static_cast<double>(factor)) * hann);
        }
        phases.push_back(std::move(coefficients));
    }
    return phases;
}

// Phase p interpolates p / kFactor of the way between the two middle taps; each phase has unit
// gain at DC, so that a constant reads as itself.
std::vector<std::vector<float>> ceilingPhases(std::size_t& taps)
{
    constexpr std::size_t kFactor = 16;
    constexpr double kBeta = 6.0;
    taps = 32;
    const double half = static_cast<double>(taps) / 2;
    std::vector<std::vector<float>> phases;
    for (std::size_t p = 1; p < kFactor; ++p) {
        const double offset = static_cast<double>(p) / kFactor;
        std::vector<double> coefficients(taps);
        double sum = 0;
        for (std::size_t j = 0; j < taps; ++j) {
            const double t = static_cast<double>(j) - (half - 1) - offset;
            const double ratio = t / half;
            const double window = besselI0(kBeta * std::sqrt(std::max(0.0, 1 - ratio * ratio))) / besselI0(kBeta);
            coefficients[j] = sinc(t) * window;
            sum += coefficients[j];
        }
        std::vector<float> normalised(taps);
        for (std::size_t j = 0; j < taps; ++j) normalised[j] = static_cast<float>(coefficients[j] / sum);
        phases.push_back(std::move(normalised));
    }
    return phases;
}

// The largest magnitude of `count` interpolated points: point i is the dot product of the taps
// with x[i] … x[i + taps − 1], summed in tap order whatever the width. `kLanes` points at a time,
// which the compiler keeps in registers across the taps: four registers' worth, so that four
// independent chains of additions hide each other's latency (one chain waits on every add).
template <std::size_t kLanes>
[[gnu::always_inline]] inline float interpolatedPeakOf(
    const float* x, std::size_t count, const float* taps, std::size_t tapCount)
{
    float peak[kLanes] = {};
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        float sum[kLanes] = {};
        for (std::size_t j = 0; j < tapCount; ++j) {
            const float tap = taps[j];
            for (std::size_t k = 0; k < kLanes; ++k) sum[k] += tap * x[i + j + k];
        }
        for (std::size_t k = 0; k < kLanes; ++k) peak[k] = std::max(peak[k], std::fabs(sum[k]));
    }
    float result = *std::max_element(peak, peak + kLanes);
    for (; i < count; ++i) {
        float sum = 0;
        for (std::size_t j = 0; j < tapCount; ++j) sum += taps[j] * x[i + j];
        result = std::max(result, std::fabs(sum));
    }
    return result;
}

float interpolatedPeakBaseline(const float* x, std::size_t count, const float* taps, std::size_t tapCount)
{
    return interpolatedPeakOf<16>(x, count, taps, tapCount);
}

// Wider registers where the processor has them. No FMA: the same sums either way.
#if FENNICK_WIDER_PATHS
[[gnu::target("avx2")]] float interpolatedPeakAvx2(
    const float* x, std::size_t count, const float* taps, std::size_t tapCount)
{
    return interpolatedPeakOf<32>(x, count, taps, tapCount);
}
#endif

float interpolatedPeak(const float* x, std::size_t count, const float* taps, std::size_t tapCount)
{
#if FENNICK_WIDER_PATHS
    if (widerVectors()) return interpolatedPeakAvx2(x, count, taps, tapCount);
#endif
    return interpolatedPeakBaseline(x, count, taps, tapCount);
}

float largestMagnitude(const float* x, std::size_t count)
{
    constexpr std::size_t kLanes = 8; // a fixed width the compiler vectorises at any optimisation level
    float peak[kLanes] = {};
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes)
        for (std::size_t k = 0; k < kLanes; ++k) peak[k] = std::max(peak[k], std::fabs(x[i + k]));
    float result = *std::max_element(peak, peak + kLanes);
    for (; i < count; ++i) result = std::max(result, std::fabs(x[i]));
    return result;
}

} // namespace

OversampledPeak::OversampledPeak(std::uint32_t channels, double sampleRate, Filter filter) : channels_(channels)
{
    if (filter == Filter::ceiling) {
        phases_ = ceilingPhases(taps_);
    } else if (sampleRate < 96000) {
        phases_ = bs1770Phases(4, taps_);
    } else if (sampleRate < 192000) {
        phases_ = bs1770Phases(2, taps_);
    }
    history_.assign(channels, std::vector<float>(taps_ - 1 + kChunkFrames, 0.0f));
}

void OversampledPeak::add(const float* frames, std::size_t count, std::size_t frameStride)
{
    while (count > 0) {
        const std::size_t chunk = std::min(count, kChunkFrames);
        for (std::size_t channel = 0; channel < channels_; ++channel) {
            float* const history = history_[channel].data() + (taps_ - 1);
            const float* in = frames + channel;
            for (std::size_t f = 0; f < chunk; ++f) history[f] = in[f * frameStride];
            processChannel(channel, chunk);
        }
        frames += chunk * frameStride;
        count -= chunk;
    }
}

void OversampledPeak::processChannel(std::size_t channel, std::size_t frames)
{
    float* const history = history_[channel].data();
    samplePeak_ = std::max(samplePeak_, largestMagnitude(history + (taps_ - 1), frames));
    float peak = peak_;
    for (const std::vector<float>& phase : phases_)
        peak = std::max(peak, interpolatedPeak(history, frames, phase.data(), taps_));
    peak_ = peak;
    std::copy(history + frames, history + frames + (taps_ - 1), history);
}

double OversampledPeak::peak() const
{
    float peak = std::max(peak_, samplePeak_);
    for (const std::vector<float>& history : history_) {
        // The filter's ringing after the last sample: the kept samples followed by silence.
        std::vector<float> tail(history.begin(), history.begin() + static_cast<std::ptrdiff_t>(taps_ - 1));
        tail.resize(tail.size() + taps_, 0.0f);
        const std::size_t intervals = tail.size() - (taps_ - 1);
        for (const std::vector<float>& phase : phases_)
            peak = std::max(peak, interpolatedPeak(tail.data(), intervals, phase.data(), taps_));
    }
    return peak;
}

} // namespace fennick
