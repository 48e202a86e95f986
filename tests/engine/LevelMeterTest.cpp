// The level meter against EBU Tech 3341's synthesisable recipes, libebur128's own true peak and
// ffmpeg's ebur128 filter reading the same files; its ceiling peak against sines of known crest.

#include "LevelMeter.h"
#include "FennickEngine.h"
#include "OversampledPeak.h"
#include "TestAudio.h"
#include "ThreadBudget.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>

namespace fennick {
namespace {

using namespace fennick::test;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTwoPi = 6.283185307179586;

double dbfs(double level) { return std::pow(10.0, level / 20); }

// Pink noise (Paul Kellet's economy filter over a fixed white sequence), one generator per channel.
SampleFunction pinkNoise(int channels)
{
    auto states = std::make_shared<std::vector<std::array<double, 4>>>(std::size_t(channels));
    for (int c = 0; c < channels; ++c) (*states)[std::size_t(c)][3] = 12345 + 977 * c;
    return [states](std::int64_t, int channel) {
        auto& [b0, b1, b2, seed] = (*states)[std::size_t(channel)];
        seed = std::fmod(seed * 1664525.0 + 1013904223.0, 4294967296.0);
        const double white = seed / 2147483648.0 - 1;
        b0 = 0.99765 * b0 + white * 0.0990460;
        b1 = 0.96300 * b1 + white * 0.2965164;
        b2 = 0.57000 * b2 + white * 1.0526913;
        return static_cast<float>(0.05 * (b0 + b1 + b2 + white * 0.1848));
    };
}

// A sine faded in and out: an abrupt start would ring above its crest.
SampleFunction fadedSine(std::int64_t frames, std::int64_t fadeFrames, double amplitude, double cyclesPerSample)
{
    return [=](std::int64_t frame, int channel) {
        const double fade = std::min(1.0, double(std::min(frame, frames - frame)) / double(fadeFrames));
        const double envelope = 0.5 - 0.5 * std::cos(kTwoPi / 2 * fade);
        return static_cast<float>(
            amplitude * envelope * std::sin(kTwoPi * cyclesPerSample * double(frame) + 0.7 * channel + 0.2));
    };
}

// Interleaved samples of `sample`, in the order writeAudioFile asks for them.
std::vector<float> samples(int channels, std::int64_t frames, const SampleFunction& sample)
{
    std::vector<float> out(std::size_t(frames * channels));
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = sample(std::int64_t(i) / channels, int(i) % channels);
    return out;
}

LevelMeter metered(int channels, double rate, const std::vector<float>& signal, std::size_t block = 65536)
{
    LevelMeter meter(std::uint32_t(channels), rate, {}, LevelMeter::CeilingPeak::on);
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

// EBU Tech 3341's first two recipes: a 1 kHz sine on both channels, 20 s. Then a 1 s burst at −10
// in −30: momentary windows fit inside it, short-term ones hold a third of it; fed in odd blocks,
// the figures are the same, the 100 ms updates keep their place.
TEST(LevelMeter, ReadsTech3341SinesAndTheLoudestMoments)
{
    for (const double level : {-23.0, -33.0}) {
        const LevelFigures figures
            = metered(2, 48000, samples(2, 20 * 48000, sine(1000, 48000, dbfs(level)))).figures();
        EXPECT_NEAR(figures.integratedLufs, level, 0.1) << level;
        EXPECT_NEAR(figures.maxMomentaryLufs, level, 0.1) << level;
        EXPECT_NEAR(figures.maxShortTermLufs, level, 0.1) << level;
        EXPECT_NEAR(figures.samplePeakDbfs, level, 0.01) << level;
    }
    const auto quiet = sine(1000, 48000, dbfs(-30)), loud = sine(1000, 48000, dbfs(-10));
    const std::vector<float> signal = samples(2, 10 * 48000, [&](std::int64_t frame, int channel) {
        return frame >= 4 * 48000 && frame < 5 * 48000 ? loud(frame, channel) : quiet(frame, channel);
    });
    const LevelMeter whole = metered(2, 48000, signal), odd = metered(2, 48000, signal, 1237);
    EXPECT_NEAR(whole.figures().maxMomentaryLufs, -10.0, 0.1);
    EXPECT_NEAR(whole.figures().maxShortTermLufs, 10 * std::log10((0.1 + 2 * 0.001) / 3), 0.1);
    EXPECT_EQ(odd.figures(), whole.figures());
    EXPECT_EQ(odd.truePeakForCeiling(), whole.truePeakForCeiling());
}

struct AgreementCase {
    const char* name;
    int rate, channels;
    enum { pink, sine, square } signal;
    double hertz = 997;
};
void PrintTo(const AgreementCase& c, std::ostream* out) { *out << c.name; }

class LevelMeterAgainstFfmpeg : public ::testing::TestWithParam<AgreementCase> { };

// Loudness, range and true peak as ffmpeg reads them; the ceiling peak at least ffmpeg's (on a
// full-scale square wave libebur128 reads 0.15 dB below it).
TEST_P(LevelMeterAgainstFfmpeg, AgreesAndTheCeilingPeakIsAboveItsTruePeak)
{
    const AgreementCase& c = GetParam();
    TempDir dir;
    const auto file = dir / "signal.wav";
    const std::int64_t frames = 12 * std::int64_t(c.rate);
    // Pink noise louder in its second half, so that the range is not nil.
    const SampleFunction pink = pinkNoise(c.channels);
    const SampleFunction signal = c.signal == AgreementCase::pink
        ? [&](std::int64_t frame, int channel) { return pink(frame, channel) * (frame < frames / 2 ? 0.3f : 1.0f); }
        : c.signal == AgreementCase::sine ? fadedSine(frames, c.rate / 100, dbfs(-6), c.hertz / c.rate)
                                          : square(1000, c.rate);
    writeAudioFile(file, {c.rate, c.channels, SF_FORMAT_WAV | SF_FORMAT_FLOAT}, frames, signal);
    const auto ffmpeg = ffmpegReading(file);
    if (!ffmpeg) GTEST_SKIP() << "ffmpeg is not installed";
    const LevelFigures ours = analyzeFile(file);
    EXPECT_NEAR(ours.integratedLufs, ffmpeg->integrated, 0.1);
    EXPECT_NEAR(ours.loudnessRangeLu, ffmpeg->range, 0.1);
    EXPECT_NEAR(ours.truePeakDbtp, ffmpeg->truePeak, 0.2);
    EXPECT_GE(*metered(c.channels, c.rate, readAudioFile(file).samples).truePeakForCeiling(), ffmpeg->truePeak);
}

using S = AgreementCase;
INSTANTIATE_TEST_SUITE_P(Signals, LevelMeterAgainstFfmpeg,
    ::testing::Values(S{"pink_44k_mono", 44100, 1, S::pink}, S{"pink_48k_stereo", 48000, 2, S::pink},
        S{"pink_96k_5_1", 96000, 6, S::pink}, S{"pink_48k_5_1", 48000, 6, S::pink},
        S{"sine_44k_stereo", 44100, 2, S::sine}, S{"sine_48k_mono", 48000, 1, S::sine},
        S{"sine_96k_5_1", 96000, 6, S::sine}, S{"high_sine_44k_stereo", 44100, 2, S::sine, 15503},
        S{"square_44k", 44100, 2, S::square}, S{"square_48k", 48000, 2, S::square},
        S{"square_96k", 96000, 1, S::square}),
    [](const auto& info) { return std::string(info.param.name); });

// The vectorised BS.1770-4 true peak reads what libebur128's own does, at each oversampling.
TEST(LevelMeter, TruePeakIsLibebur128s)
{
    for (const int rate : {44100, 96000, 192000}) {
        const std::int64_t frames = 2 * std::int64_t(rate);
        for (const SampleFunction& signal :
            {pinkNoise(1), square(1000, rate), fadedSine(frames, rate / 100, 0.9, 0.41)}) {
            const std::vector<float> audio = samples(1, frames, signal);
            ebur128_state* state = ebur128_init(1, unsigned(rate), EBUR128_MODE_TRUE_PEAK);
            ebur128_add_frames_float(state, audio.data(), std::size_t(frames));
            double theirs = 0;
            ebur128_true_peak(state, 0, &theirs);
            ebur128_destroy(&state);
            EXPECT_NEAR(metered(1, rate, audio).figures().truePeakDbtp, 20 * std::log10(theirs), 0.005) << rate;
        }
    }
}

// Sines whose samples miss their crests by up to 3 dB, up to 0.45 of the rate: the finer peak
// finds the crest.
TEST(LevelMeter, CeilingPeakFindsTheCrestBetweenSamples)
{
    for (const double cyclesPerSample : {0.1, 0.25, 1.0 / 3, 0.4, 0.45}) {
        const auto signal = samples(3, 48000, fadedSine(48000, 4800, 0.5, cyclesPerSample));
        OversampledPeak peak(3, 48000, OversampledPeak::Filter::ceiling);
        peak.add(signal.data(), 48000);
        EXPECT_NEAR(20 * std::log10(peak.peak()), 20 * std::log10(0.5), 0.03) << cyclesPerSample;
        const LevelMeter meter = metered(3, 48000, signal);
        EXPECT_GE(*meter.truePeakForCeiling(), meter.figures().truePeakDbtp);
    }
}

TEST(LevelMeter, SilenceReadsMinusInfinityAndTextIsRefused)
{
    TempDir dir;
    writeAudioFile(dir / "silence.wav", {}, 48000, [](std::int64_t, int) { return 0.0f; });
    const LevelFigures silent{};
    EXPECT_EQ(analyzeFile(dir / "silence.wav"), silent);
    const LevelMeter nothing(2, 48000, {}, LevelMeter::CeilingPeak::on);
    EXPECT_EQ(nothing.figures(), silent);
    EXPECT_EQ(nothing.truePeakForCeiling(), -kInf);
    EXPECT_EQ(LevelMeter::albumLoudness({}), -kInf);
    std::ofstream(dir / "text.wav") << "not audio";
    EXPECT_THROW(analyzeFile(dir / "text.wav"), AudioFileError);
}

// A file that names its channels is weighted by their names: the LFE of a 2.1 file is left out.
TEST(LevelMeter, WeighsChannelsByTheFilesChannelMap)
{
    TempDir dir;
    const std::vector<float> audio = samples(3, 5 * 48000, pinkNoise(3));
    SF_INFO info{0, 48000, 3, SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open((dir / "2.1.wav").c_str(), SFM_WRITE, &info);
    int map[] = {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_LFE};
    ASSERT_EQ(sf_command(file, SFC_SET_CHANNEL_MAP_INFO, map, sizeof map), SF_TRUE);
    sf_writef_float(file, audio.data(), 5 * 48000);
    sf_close(file);
    std::vector<float> stereo;
    for (std::size_t i = 0; i < audio.size(); ++i)
        if (i % 3 != 2) stereo.push_back(audio[i]);
    EXPECT_NEAR(analyzeFile(dir / "2.1.wav").integratedLufs, metered(2, 48000, stereo).figures().integratedLufs, 1e-6);
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

// Conversions to 48 kHz with a ceiling or a loudness target, read back by ffmpeg: the report's figures
// are ffmpeg's; a ceiling holds with nothing clipped and is never a reason to raise; a target is met
// unless a ceiling binds, and then the sentence says how far.
TEST(ConvertWavLevel, CeilingsHoldTargetsAreMetAndTheReportReadsAsFfmpegDoes)
{
    using K = PeakCeiling::Kind;
    TempDir dir;
    const int rate = 44100;
    const SampleFunction pink = pinkNoise(2);
    const struct {
        const char* name;
        SampleFunction signal;
        OutputFormat format;
        std::optional<PeakCeiling> ceiling;
        std::optional<double> target;
        const char* sentence;
    } cases[] = {
        {"square", square(1000, rate), OutputFormat::int24, PeakCeiling{-1, K::truePeak}, {},
            "Gain \u22123.3 dB, lowered by 3.3 dB to keep true peak below \u22121.0 dBTP."},
        {"hot master", [&](std::int64_t f, int c) { return 4 * pink(f, c); }, OutputFormat::int16,
            PeakCeiling{-1, K::truePeak}, {},
            "Gain \u22124.7 dB, lowered by 4.7 dB to keep true peak below \u22121.0 dBTP."},
        {"hot master, sample peak", [&](std::int64_t f, int c) { return 4 * pink(f, c); }, OutputFormat::float32,
            PeakCeiling{-0.1, K::samplePeak}, {},
            "Gain \u22124.5 dB, lowered by 4.5 dB to keep sample peak below \u22120.1 dBFS."},
        {"quiet", sine(997, rate, 0.1), OutputFormat::int16, PeakCeiling{-1, K::truePeak}, {}, ""},
        {"-23 to -16", sine(997, rate, dbfs(-23)), OutputFormat::float32, {}, -16,
            "Gain +7.0 dB to reach \u221216.0 LUFS."},
        {"-23 to -16 under -20 dBTP", sine(997, rate, dbfs(-23)), OutputFormat::float32, PeakCeiling{-20, K::truePeak},
            -16,
            "Gain +2.9 dB, lowered by 4.1 dB to keep true peak below \u221220.0 dBTP: 4.1 LU below the \u221216.0 LUFS "
            "target."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeAudioFile(dir / "in.wav", {rate, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT}, 10 * rate, c.signal);
        const ConversionReport report = convertWav(dir / "in.wav", dir / "out.wav",
            {.targetRate = 48000, .format = c.format, .ceiling = c.ceiling, .loudnessTargetLufs = c.target});
        EXPECT_EQ(gainSentence(report.gain, cDecimalText).value_or(""), c.sentence);
        EXPECT_EQ(report.clips.clippedSamples + report.clips.samplesOverFullScale, 0u);
        const auto ffmpeg = ffmpegReading(dir / "out.wav");
        if (!ffmpeg) GTEST_SKIP() << "ffmpeg is not installed";
        EXPECT_NEAR(report.level.integratedLufs, ffmpeg->integrated, 0.1);
        EXPECT_NEAR(report.level.truePeakDbtp, ffmpeg->truePeak, 0.2);
        const bool truePeak = c.ceiling && c.ceiling->kind == K::truePeak;
        EXPECT_LE(truePeak ? ffmpeg->truePeak : -INFINITY, c.ceiling ? c.ceiling->level + 0.1 : 0);
        EXPECT_LE(c.ceiling && !truePeak ? analyzeFile(dir / "out.wav").samplePeakDbfs : -INFINITY,
            c.ceiling ? c.ceiling->level : 0);
        EXPECT_NEAR(c.target && !report.gain.ceiling ? ffmpeg->integrated : 0,
            c.target && !report.gain.ceiling ? *c.target : 0, 0.1);
    }
}

// −6.0206 dB is exactly a half: every float32 sample of the output is half the one without a gain.
TEST(ConvertWavLevel, MinusSixDecibelsHalvesEveryFloatSampleExactly)
{
    TempDir dir;
    writeAudioFile(dir / "in.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 44100, pinkNoise(2));
    for (const double rate : {44100.0, 96000.0}) {
        convertWav(dir / "in.wav", dir / "whole.wav", {.targetRate = rate, .format = OutputFormat::float32});
        convertWav(
            dir / "in.wav", dir / "half.wav", {.targetRate = rate, .format = OutputFormat::float32, .gainDb = -6.0206});
        std::vector<float> halved = readAudioFile(dir / "whole.wav").samples;
        for (float& sample : halved) sample /= 2;
        EXPECT_EQ(readAudioFile(dir / "half.wav").samples, halved);
    }
}

// The workers measure each written block once, in order, as the meter's own thread does on one
// core: a level that changes from block to block reads the same to the bit either way.
TEST(ConvertWavLevel, TheWorkersMeasureWhatOneCoreMeasures)
{
    TempDir dir;
    const int rate = 48000;
    const SampleFunction tone = sine(997, rate);
    writeAudioFile(dir / "in.wav", {rate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 15 * rate, [&](std::int64_t f, int c) {
        return tone(f, c) * static_cast<float>(1 + (f / 72000 * 3 + c) % 5) / 5; // a step every 1.5 s
    });
    for (const OutputFormat format : {OutputFormat::float32, OutputFormat::int16}) {
        LevelFigures figures[2];
        for (const unsigned cores : {1u, 2u}) {
            ThreadBudget::setCores(cores);
            figures[cores - 1]
                = convertWav(dir / "in.wav", dir / "out.wav", {.targetRate = 96000, .format = format}).level;
        }
        ThreadBudget::setCores(0);
        EXPECT_EQ(figures[1].integratedLufs, figures[0].integratedLufs);
        EXPECT_EQ(figures[1].loudnessRangeLu, figures[0].loudnessRangeLu);
        EXPECT_EQ(figures[1].truePeakDbtp, figures[0].truePeakDbtp);
        EXPECT_EQ(figures[1].samplePeakDbfs, figures[0].samplePeakDbfs);
        EXPECT_GT(figures[0].loudnessRangeLu, 1); // the steps really change the level
    }
}

} // namespace
} // namespace fennick
