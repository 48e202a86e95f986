// The level meter against EBU Tech 3341's synthesisable recipes and against ffmpeg's ebur128
// filter reading the same files; its ceiling peak against signals whose peak is known.

#include "LevelMeter.h"
#include "AnalyzeFile.h"
#include "FennickEngine.h"
#include "OversampledPeak.h"
#include "TestAudio.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <regex>

namespace fennick {
namespace {

using namespace fennick::test;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTwoPi = 6.283185307179586;

double dbfs(double amplitude) { return std::pow(10.0, amplitude / 20); }

// Pink noise (Paul Kellet's filter over a fixed white sequence), about −12 dBFS RMS, one
// generator per channel.
SampleFunction pinkNoise(int channels)
{
    struct State {
        std::uint32_t seed;
        double b[7] = {};
    };
    auto states = std::make_shared<std::vector<State>>();
    for (int c = 0; c < channels; ++c) states->push_back({std::uint32_t(12345 + 977 * c)});
    return [states](std::int64_t, int channel) {
        State& s = (*states)[std::size_t(channel)];
        s.seed = s.seed * 1664525u + 1013904223u;
        const double white = static_cast<std::int32_t>(s.seed) / 2147483648.0;
        double* b = s.b;
        b[0] = 0.99886 * b[0] + white * 0.0555179;
        b[1] = 0.99332 * b[1] + white * 0.0750759;
        b[2] = 0.96900 * b[2] + white * 0.1538520;
        b[3] = 0.86650 * b[3] + white * 0.3104856;
        b[4] = 0.55000 * b[4] + white * 0.5329522;
        b[5] = -0.7616 * b[5] - white * 0.0168980;
        const double pink = b[0] + b[1] + b[2] + b[3] + b[4] + b[5] + b[6] + white * 0.5362;
        b[6] = white * 0.115926;
        return static_cast<float>(pink * 0.05);
    };
}

// A sine faded in and out: an abrupt start would ring above its crest.
double fadedSine(std::int64_t frame, std::int64_t frames, std::int64_t fadeFrames, double amplitude,
    double cyclesPerSample, double phase)
{
    const double fade = std::min(1.0, double(std::min(frame, frames - frame)) / double(fadeFrames));
    const double envelope = 0.5 - 0.5 * std::cos(kTwoPi / 2 * fade);
    return amplitude * envelope * std::sin(kTwoPi * cyclesPerSample * double(frame) + phase);
}

// Interleaved samples of `sample`, in the order writeAudioFile asks for them.
std::vector<float> samples(int channels, std::int64_t frames, const SampleFunction& sample)
{
    std::vector<float> out(std::size_t(frames * channels));
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = sample(std::int64_t(i) / channels, int(i) % channels);
    return out;
}

LevelMeter metered(int channels, double rate, const std::vector<float>& signal,
    LevelMeter::CeilingPeak ceiling = LevelMeter::CeilingPeak::off, std::size_t block = 65536)
{
    LevelMeter meter(std::uint32_t(channels), rate, {}, ceiling);
    const std::size_t frames = signal.size() / std::size_t(channels);
    for (std::size_t f = 0; f < frames; f += block)
        meter.add(signal.data() + f * std::size_t(channels), std::min(block, frames - f));
    return meter;
}

struct FfmpegReading {
    double integrated, range, truePeak;
};

// ffmpeg's ebur128 summary of a file (one decimal), or nullopt when ffmpeg is not installed.
std::optional<FfmpegReading> ffmpegReading(const std::filesystem::path& file)
{
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) return std::nullopt;
    const std::string command
        = "ffmpeg -nostdin -nostats -hide_banner -i '" + file.string() + "' -af ebur128=peak=true -f null - 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string text;
    char buffer[4096];
    while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe.get())) text.append(buffer, got);
    const std::string summary = text.substr(text.rfind("Summary:"));
    const auto field = [&](const char* name) {
        std::smatch match;
        if (!std::regex_search(summary, match, std::regex(std::string(name) + R"(:\s+(-?inf|-?[0-9.]+))")))
            throw std::runtime_error("no " + std::string(name) + " in ffmpeg's summary:\n" + summary);
        return match[1].str().find("inf") != std::string::npos ? -kInf : std::stod(match[1].str());
    };
    return FfmpegReading{field("I"), field("LRA"), field("Peak")};
}

// EBU Tech 3341's first two recipes: a 1 kHz sine on both channels, 20 s.
TEST(LevelMeter, ReadsTheTech3341SinesAtTheirLevel)
{
    for (const double level : {-23.0, -33.0}) {
        const LevelMeter meter = metered(2, 48000, samples(2, 20 * 48000, sine(1000, 48000, dbfs(level))));
        const LevelFigures figures = meter.figures();
        EXPECT_NEAR(figures.integratedLufs, level, 0.1) << level;
        EXPECT_NEAR(figures.maxMomentaryLufs, level, 0.1) << level;
        EXPECT_NEAR(figures.maxShortTermLufs, level, 0.1) << level;
        EXPECT_NEAR(figures.samplePeakDbfs, level, 0.01) << level;
        EXPECT_NEAR(figures.truePeakDbtp, level, 0.05) << level;
        EXPECT_NEAR(figures.loudnessRangeLu, 0, 0.1) << level;
    }
}

// A 1 s burst at −10 in −30: momentary windows fit inside it, short-term ones hold a third of it.
// Fed in odd blocks, the figures are those of whole blocks: the 100 ms updates keep their place.
TEST(LevelMeter, FindsTheLoudestMomentAndThreeSecondsWhateverTheBlocks)
{
    const auto quiet = sine(1000, 48000, dbfs(-30)), loud = sine(1000, 48000, dbfs(-10));
    const std::vector<float> signal = samples(2, 10 * 48000, [&](std::int64_t frame, int channel) {
        return frame >= 4 * 48000 && frame < 5 * 48000 ? loud(frame, channel) : quiet(frame, channel);
    });
    const LevelMeter whole = metered(2, 48000, signal, LevelMeter::CeilingPeak::on);
    EXPECT_NEAR(whole.figures().maxMomentaryLufs, -10.0, 0.1);
    EXPECT_NEAR(whole.figures().maxShortTermLufs, 10 * std::log10((0.1 + 2 * 0.001) / 3), 0.1);
    const LevelMeter odd = metered(2, 48000, signal, LevelMeter::CeilingPeak::on, 1237);
    EXPECT_EQ(odd.figures(), whole.figures());
    EXPECT_EQ(odd.truePeakForCeiling(), whole.truePeakForCeiling());
}

struct AgreementCase {
    const char* name;
    int rate, channels;
    bool pink; // else a sine
    double hertz = 997;
};
void PrintTo(const AgreementCase& c, std::ostream* out) { *out << c.name; }

class LevelMeterAgainstFfmpeg : public ::testing::TestWithParam<AgreementCase> { };

TEST_P(LevelMeterAgainstFfmpeg, AgreesOnLoudnessRangeAndTruePeak)
{
    const AgreementCase& c = GetParam();
    TempDir dir;
    const auto file = dir / "signal.wav";
    // Pink noise louder in its second half, so that the range is not nil.
    const SampleFunction pink = pinkNoise(c.channels);
    const SampleFunction signal = c.pink
        ? SampleFunction(
            [&](std::int64_t frame, int channel) { return pink(frame, channel) * (frame < 6 * c.rate ? 0.3f : 1.0f); })
        : SampleFunction([&](std::int64_t frame, int channel) {
              return static_cast<float>(
                  fadedSine(frame, 12 * std::int64_t(c.rate), c.rate / 100, dbfs(-6), c.hertz / c.rate, 0.3 * channel));
          });
    writeAudioFile(file, {c.rate, c.channels, SF_FORMAT_WAV | SF_FORMAT_FLOAT}, 12 * std::int64_t(c.rate), signal);
    const auto ffmpeg = ffmpegReading(file);
    if (!ffmpeg) GTEST_SKIP() << "ffmpeg is not installed";
    const LevelFigures ours = analyzeFile(file);
    EXPECT_NEAR(ours.integratedLufs, ffmpeg->integrated, 0.1);
    EXPECT_NEAR(ours.loudnessRangeLu, ffmpeg->range, 0.1);
    EXPECT_NEAR(ours.truePeakDbtp, ffmpeg->truePeak, 0.2);
}

INSTANTIATE_TEST_SUITE_P(Signals, LevelMeterAgainstFfmpeg,
    ::testing::Values(AgreementCase{"pink_44k_mono", 44100, 1, true}, AgreementCase{"pink_48k_stereo", 48000, 2, true},
        AgreementCase{"pink_96k_5_1", 96000, 6, true}, AgreementCase{"pink_48k_5_1", 48000, 6, true},
        AgreementCase{"sine_44k_stereo", 44100, 2, false}, AgreementCase{"sine_48k_mono", 48000, 1, false},
        AgreementCase{"sine_96k_5_1", 96000, 6, false}, AgreementCase{"high_sine_44k_stereo", 44100, 2, false, 15503}),
    [](const auto& info) { return std::string(info.param.name); });

// The vectorised BS.1770-4 true peak reads what libebur128's own does, at each oversampling.
TEST(LevelMeter, TruePeakIsLibebur128s)
{
    for (const int rate : {44100, 96000, 192000}) {
        const SampleFunction signals[]
            = {pinkNoise(2), square(1000, rate), [&](std::int64_t frame, int channel) {
                   return static_cast<float>(fadedSine(frame, 2 * std::int64_t(rate), rate / 100, 0.9, 0.41, channel));
               }};
        for (const SampleFunction& signal : signals) {
            const std::vector<float> audio = samples(2, 2 * std::int64_t(rate), signal);
            ebur128_state* state = ebur128_init(2, unsigned(rate), EBUR128_MODE_TRUE_PEAK);
            ebur128_add_frames_float(state, audio.data(), audio.size() / 2);
            double left = 0, right = 0;
            ebur128_true_peak(state, 0, &left);
            ebur128_true_peak(state, 1, &right);
            ebur128_destroy(&state);
            const LevelFigures ours = metered(2, rate, audio).figures();
            EXPECT_NEAR(ours.truePeakDbtp, 20 * std::log10(std::max(left, right)), 0.005) << rate;
        }
    }
}

// Sines whose samples miss their crests by up to 3 dB, up to 0.45 of the rate: the finer peak
// finds the crest.
TEST(LevelMeter, CeilingPeakFindsTheCrestBetweenSamples)
{
    for (const double cyclesPerSample : {0.1, 0.25, 1.0 / 3, 0.4, 0.45}) {
        for (const double phase : {0.2, kTwoPi / 8, kTwoPi / 4}) {
            const auto signal = samples(1, 48000, [&](std::int64_t frame, int) {
                return static_cast<float>(fadedSine(frame, 48000, 4800, 0.5, cyclesPerSample, phase));
            });
            OversampledPeak peak(1, 48000, OversampledPeak::Filter::ceiling);
            peak.add(signal.data(), signal.size());
            EXPECT_NEAR(20 * std::log10(peak.peak()), 20 * std::log10(0.5), 0.03) << cyclesPerSample << " " << phase;
            const LevelMeter meter = metered(1, 48000, signal, LevelMeter::CeilingPeak::on);
            EXPECT_GE(*meter.truePeakForCeiling(), meter.figures().truePeakDbtp);
        }
    }
}

// Other meters' readings of a full-scale square wave differ; the ceiling peak is above them all.
TEST(LevelMeter, CeilingPeakOfASquareWaveIsAtLeastWhatFfmpegReads)
{
    for (const int rate : {44100, 48000, 96000}) {
        TempDir dir;
        const auto file = dir / "square.wav";
        const AudioSpec spec{rate, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT};
        writeAudioFile(file, spec, 5 * std::int64_t(rate), square(1000, rate));
        const auto ffmpeg = ffmpegReading(file);
        if (!ffmpeg) GTEST_SKIP() << "ffmpeg is not installed";
        const LevelMeter meter = metered(2, rate, readAudioFile(file).samples, LevelMeter::CeilingPeak::on);
        EXPECT_GE(*meter.truePeakForCeiling(), ffmpeg->truePeak) << rate;
    }
}

TEST(LevelMeter, SilenceReadsMinusInfinity)
{
    TempDir dir;
    writeAudioFile(dir / "silence.wav", {}, 48000, [](std::int64_t, int) { return 0.0f; });
    const LevelFigures silent{};
    EXPECT_EQ(analyzeFile(dir / "silence.wav"), silent);
    const LevelMeter nothing(2, 48000, {}, LevelMeter::CeilingPeak::on);
    EXPECT_EQ(nothing.figures(), silent);
    EXPECT_EQ(nothing.truePeakForCeiling(), -kInf);
    EXPECT_EQ(LevelMeter::albumLoudness({}), -kInf);
    std::FILE* text = std::fopen((dir / "text.wav").c_str(), "w");
    std::fputs("not audio", text);
    std::fclose(text);
    EXPECT_THROW(analyzeFile(dir / "text.wav"), AudioFileError);
}

// Two tracks measured apart, then together as an album, equal one stream of both.
TEST(LevelMeter, AlbumLoudnessIsThatOfTheTracksInOneStream)
{
    std::vector<float> first = samples(2, 15 * 48000, pinkNoise(2));
    const std::vector<float> second = samples(2, 9 * 48000, sine(440, 48000, dbfs(-30)));
    const LevelMeter a = metered(2, 48000, first), b = metered(2, 48000, second);
    first.insert(first.end(), second.begin(), second.end());
    const LevelMeter* album[] = {&a, &b};
    EXPECT_NEAR(LevelMeter::albumLoudness(album), metered(2, 48000, first).figures().integratedLufs, 0.1);
}

} // namespace
} // namespace fennick
