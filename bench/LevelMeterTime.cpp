// fennick-bench-level: what metering costs, on audio already in memory.
//
// Ten minutes (or the seconds given as the first argument) of 48 kHz stereo float noise, fed in
// 65536-frame blocks as the pipeline hands them over, through: libebur128 in each mode that adds
// a measurement (to show which one costs), the whole LevelMeter, and the LevelMeter with the
// ceiling's finer peak. One thread; prints one JSON object of CPU seconds per variant.

#include "LevelMeter.h"
#include "OversampledPeak.h"

#include <ebur128.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace fennick;

constexpr std::uint32_t kChannels = 2;
constexpr double kRate = 48000;
constexpr std::size_t kBlockFrames = 65536;

double threadCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Feeds the whole signal block by block; the best of three runs, in CPU seconds.
double timeFeeding(const std::vector<float>& signal, const std::function<void(const float*, std::size_t)>& add,
    const std::function<void()>& reset)
{
    double best = 1e30;
    for (int round = 0; round < 3; ++round) {
        reset();
        const double start = threadCpuSeconds();
        const std::size_t frames = signal.size() / kChannels;
        for (std::size_t frame = 0; frame < frames; frame += kBlockFrames)
            add(signal.data() + frame * kChannels, std::min(kBlockFrames, frames - frame));
        best = std::min(best, threadCpuSeconds() - start);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 600;
    std::vector<float> signal(static_cast<std::size_t>(seconds * kRate) * kChannels);
    // Noise with a gentle low-pass, at about −20 dBFS: music-like levels, every gate open.
    std::uint32_t seed = 1;
    float previous[kChannels] = {};
    for (std::size_t i = 0; i < signal.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        const float white = static_cast<float>(static_cast<std::int32_t>(seed)) / 2147483648.0f;
        float& state = previous[i % kChannels];
        state = 0.7f * state + 0.3f * white;
        signal[i] = 0.3f * state;
    }

    std::string json = "{\"seconds_of_audio\": " + std::to_string(seconds);
    const auto report
        = [&](const char* name, double cpu) { json += ", \"" + std::string(name) + "\": " + std::to_string(cpu); };
    const struct {
        const char* name;
        int mode;
    } modes[] = {
        {"ebur128_integrated", EBUR128_MODE_I},
        {"ebur128_integrated_range", EBUR128_MODE_I | EBUR128_MODE_LRA},
        {"ebur128_plus_sample_peak", EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_SAMPLE_PEAK},
        {"ebur128_plus_true_peak", EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK},
    };
    for (const auto& mode : modes) {
        ebur128_state* state = nullptr;
        report(mode.name,
            timeFeeding(
                signal, [&](const float* block, std::size_t frames) { ebur128_add_frames_float(state, block, frames); },
                [&] {
                    if (state != nullptr) ebur128_destroy(&state);
                    state = ebur128_init(kChannels, static_cast<unsigned long>(kRate), mode.mode);
                }));
        ebur128_destroy(&state);
    }
    for (const bool ceiling : {false, true}) {
        std::optional<LevelMeter> meter;
        report(ceiling ? "level_meter_with_ceiling_peak" : "level_meter",
            timeFeeding(
                signal, [&](const float* block, std::size_t frames) { meter->add(block, frames); },
                [&] {
                    meter.emplace(kChannels, kRate, std::span<const int>{},
                        ceiling ? LevelMeter::CeilingPeak::on : LevelMeter::CeilingPeak::off);
                }));
    }
    {
        for (const auto filter : {OversampledPeak::Filter::bs1770, OversampledPeak::Filter::ceiling}) {
            std::optional<OversampledPeak> peak;
            report(filter == OversampledPeak::Filter::bs1770 ? "true_peak_alone" : "ceiling_peak_alone",
                timeFeeding(
                    signal, [&](const float* block, std::size_t frames) { peak->add(block, frames); },
                    [&] { peak.emplace(kChannels, kRate, filter); }));
        }
    }
    std::printf("%s}\n", json.c_str());
    return 0;
}
