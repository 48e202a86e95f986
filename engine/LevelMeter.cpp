#include "LevelMeter.h"

#include <ebur128.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>
#include <tuple>

namespace fennick {

namespace {

constexpr int kMode = EBUR128_MODE_I | EBUR128_MODE_LRA;

// BS.1770-4's weights by position: the front three 1.0, the surrounds 1.41, the LFE left out.
// Positions it gives no weight for count as front channels.
int ebur128Channel(int sndfilePosition)
{
    switch (sndfilePosition) {
    case SF_CHANNEL_MAP_MONO:
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT: return EBUR128_LEFT;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT: return EBUR128_RIGHT;
    case SF_CHANNEL_MAP_REAR_LEFT:
    case SF_CHANNEL_MAP_SIDE_LEFT: return EBUR128_LEFT_SURROUND;
    case SF_CHANNEL_MAP_REAR_RIGHT:
    case SF_CHANNEL_MAP_SIDE_RIGHT: return EBUR128_RIGHT_SURROUND;
    case SF_CHANNEL_MAP_LFE: return EBUR128_UNUSED;
    default: return EBUR128_CENTER;
    }
}

double decibels(double linear) { return linear > 0 ? 20 * std::log10(linear) : LevelFigures::kSilence; }

// libebur128 gives −HUGE_VAL for silence; its only other failure is a wrong mode, which ours
// never is.
double query(int (*call)(ebur128_state*, double*), ebur128_state* state)
{
    double value = LevelFigures::kSilence;
    if (call(state, &value) != EBUR128_SUCCESS || std::isnan(value)) return LevelFigures::kSilence;
    return value;
}

} // namespace

struct LevelMeter::State {
    State() = default;
    ~State()
    {
        if (handle != nullptr) ebur128_destroy(&handle);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ebur128_state* handle = nullptr;
};

LevelMeter::LevelMeter(std::uint32_t channels, double sampleRate, std::span<const int> channelMap,
    CeilingPeak ceilingPeak, PeakSource peakSource)
    : channels_(channels), truePeak_(channels, sampleRate, OversampledPeak::Filter::bs1770), peakSource_(peakSource)
{
    if (channels == 0) throw std::invalid_argument("A level meter needs at least one channel.");
    if (!channelMap.empty() && channelMap.size() != channels)
        throw std::invalid_argument("The channel map does not name every channel.");
    const double rate = std::round(sampleRate);
    if (!(rate >= 16 && rate <= 2822400)) throw std::invalid_argument("The sample rate cannot be metered.");
    state_ = std::make_unique<State>();
    state_->handle = ebur128_init(channels, static_cast<unsigned long>(rate), kMode);
    // libebur128 takes at most 64 channels; more is a layout it cannot meter, not a lack of memory.
    if (state_->handle == nullptr) throw std::invalid_argument("libebur128 cannot meter this layout.");
    for (std::uint32_t channel = 0; channel < channelMap.size(); ++channel)
        ebur128_set_channel(state_->handle, channel, ebur128Channel(channelMap[channel]));
    framesPerUpdate_ = std::max<std::size_t>(1, static_cast<std::size_t>(rate) / 10);
    if (ceilingPeak == CeilingPeak::on) ceilingPeak_.emplace(channels, rate, OversampledPeak::Filter::ceiling);
}

LevelMeter::~LevelMeter() = default;
LevelMeter::LevelMeter(LevelMeter&&) noexcept = default;
LevelMeter& LevelMeter::operator=(LevelMeter&&) noexcept = default;

void LevelMeter::add(const float* interleaved, std::size_t frames)
{
    if (peakSource_ == PeakSource::own) truePeak_.add(interleaved, frames);
    if (ceilingPeak_) ceilingPeak_->add(interleaved, frames);
    while (frames > 0) {
        const std::size_t part = std::min(frames, framesPerUpdate_ - framesSinceUpdate_);
        addUpToBoundary(interleaved, part);
        interleaved += part * channels_;
        frames -= part;
    }
}

void LevelMeter::addUpToBoundary(const float* interleaved, std::size_t frames)
{
    if (ebur128_add_frames_float(state_->handle, interleaved, frames) != EBUR128_SUCCESS) throw std::bad_alloc();
    framesSinceUpdate_ += frames;
    if (framesSinceUpdate_ < framesPerUpdate_) return;
    framesSinceUpdate_ = 0;
    noteSubBlock();
}

void LevelMeter::noteSubBlock()
{
    double loudness = LevelFigures::kSilence;
    if (ebur128_loudness_window(state_->handle, 100, &loudness) != EBUR128_SUCCESS) return;
    // BS.1770-4: loudness = −0.691 + 10 log10(weighted mean square).
    const double energy = std::isfinite(loudness) ? std::pow(10.0, (loudness + 0.691) / 10) : 0.0;
    constexpr std::size_t kRing = std::tuple_size_v<decltype(subBlockEnergies_)>;
    const std::size_t newest = subBlocks_++ % kRing;
    subBlockEnergies_[newest] = energy;
    double momentary = 0, shortTerm = 0;
    for (std::size_t k = 0; k < kRing; ++k) {
        const double e = subBlockEnergies_[(newest + kRing - k) % kRing];
        shortTerm += e;
        if (k < 4) momentary += e;
    }
    const auto toLufs = [](double meanSquare) {
        return meanSquare > 0 ? 10 * std::log10(meanSquare) - 0.691 : LevelFigures::kSilence;
    };
    maxMomentary_ = std::max(maxMomentary_, toLufs(momentary / 4));
    maxShortTerm_ = std::max(maxShortTerm_, toLufs(shortTerm / kRing));
}

LevelFigures LevelMeter::figures() const
{
    ebur128_state* state = state_->handle;
    LevelFigures figures;
    figures.integratedLufs = query(ebur128_loudness_global, state);
    const double range = query(ebur128_loudness_range, state);
    figures.loudnessRangeLu = std::isfinite(range) ? range : 0;
    const bool own = peakSource_ == PeakSource::own;
    figures.truePeakDbtp = decibels(own ? truePeak_.peak() : givenTruePeak_);
    figures.samplePeakDbfs = decibels(own ? truePeak_.samplePeak() : givenSamplePeak_);
    figures.maxMomentaryLufs = maxMomentary_;
    figures.maxShortTermLufs = maxShortTerm_;
    return figures;
}

void LevelMeter::givePeaks(double truePeak, double samplePeak)
{
    givenTruePeak_ = std::max(givenTruePeak_, truePeak);
    givenSamplePeak_ = std::max(givenSamplePeak_, samplePeak);
}

std::optional<double> LevelMeter::truePeakForCeiling() const
{
    if (!ceilingPeak_) return std::nullopt;
    // Never below the BS.1770-4 reading, whose filter rings a little higher on some signals. The
    // margin covers what the finer filter misses above 0.45 of the rate, where a full-scale square
    // wave still has energy: it reads one sampled at 48 kHz 0.03 dB below its ideal reconstruction.
    constexpr double kMarginDb = 0.05;
    return decibels(std::max(ceilingPeak_->peak(), truePeak_.peak())) + kMarginDb;
}

double LevelMeter::albumLoudness(std::span<const LevelMeter* const> meters)
{
    std::vector<ebur128_state*> states;
    states.reserve(meters.size());
    for (const LevelMeter* meter : meters) states.push_back(meter->state_->handle);
    if (states.empty()) return LevelFigures::kSilence;
    double loudness = LevelFigures::kSilence;
    if (ebur128_loudness_global_multiple(states.data(), states.size(), &loudness) != EBUR128_SUCCESS
        || std::isnan(loudness))
        return LevelFigures::kSilence;
    return loudness;
}

double albumLoudness(const std::vector<std::shared_ptr<const LevelMeter>>& meters)
{
    std::vector<const LevelMeter*> each;
    for (const auto& meter : meters) {
        if (meter) each.push_back(meter.get());
    }
    return LevelMeter::albumLoudness(each);
}

} // namespace fennick
