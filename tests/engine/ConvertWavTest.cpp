// The pipeline's output against libsoxr's own one-shot conversion of the same samples.

#include "EngineTestSupport.h"

#include "ConvertWav.h"

#include <gtest/gtest.h>

#include <cmath>

namespace fennick {
namespace {

using namespace fennick::test;
using P = ConversionOptions::Precision;
using Ph = ConversionOptions::Phase;
using R = ConversionOptions::Rolloff;

// A tone in the passband and one above it that the filter has to remove.
SampleFunction twoTones(int rate)
{
    return [rate](std::int64_t frame, int channel) {
        const double t = static_cast<double>(frame) / rate;
        return static_cast<float>(0.4 * std::sin(2 * M_PI * 997 * t + channel) + 0.1 * std::sin(M_PI * 0.96 * rate * t));
    };
}

// The largest difference in steps of `scale` (2^15 or 2^23 for one LSB, 1 for raw floats).
double maxDifference(const std::vector<float>& actual, const std::vector<double>& expected, double scale)
{
    double worst = actual.size() == expected.size() ? 0 : INFINITY;
    for (std::size_t i = 0; i < std::min(actual.size(), expected.size()); ++i) {
        worst = std::max(worst, std::abs(actual[i] - expected[i]) * scale);
    }
    return worst;
}

struct OutputCase {
    const char* name;
    int channels, inputRate;
    double targetRate;
    std::int64_t frames;
    OutputFormat format;
    ConversionOptions options{};
    bool withProgress = true;
};
void PrintTo(const OutputCase& c, std::ostream* out) { *out << c.name; }

class ConvertWavOutput : public ::testing::TestWithParam<OutputCase> {};

TEST_P(ConvertWavOutput, IsLibsoxrsConversionOfTheSource)
{
    const OutputCase& c = GetParam();
    setLibsoxrVariable(nullptr);
    TempDir dir;
    const auto source = dir / "in.wav", destination = dir / "out.wav";
    writeAudioFile(source, {c.inputRate, c.channels}, c.frames, twoTones(c.inputRate));
    const std::string sourceBytes = fileBytes(source);

    std::vector<double> reports, expectedReports;
    ProgressCallback progress;
    if (c.withProgress) progress = [&](double fraction) { reports.push_back(fraction); };
    convertWav(source, destination, c.targetRate, c.format, c.options, progress);

    for (std::int64_t i = 1; c.withProgress && kInputBlockFrames * (i - 1) < c.frames; ++i) {
        expectedReports.push_back(static_cast<double>(std::min(kInputBlockFrames * i, c.frames)) / c.frames);
    }
    EXPECT_EQ(reports, expectedReports); // ceil(N / 65536) of them, the last exactly 1.0
    EXPECT_EQ(fileBytes(source), sourceBytes);

    const AudioData in = readAudioFile(source), out = readAudioFile(destination);
    const int subtype = std::array{SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_FLOAT}[ordinal(c.format)];
    EXPECT_EQ(out.info.format, SF_FORMAT_WAV | subtype);
    EXPECT_EQ(out.info.samplerate, c.targetRate);
    EXPECT_EQ(out.info.channels, c.channels);
    // N × out / in, rounded; libsoxr settles an exact tie either way.
    EXPECT_LE(std::abs(static_cast<double>(out.frames()) - static_cast<double>(c.frames) * c.targetRate / c.inputRate),
        0.5);

    const std::vector<double> reference = oneshot(in, c.targetRate, c.format, c.options);
    if (c.format == OutputFormat::float32 || (c.format == OutputFormat::int16 && !c.options.dither)) {
        EXPECT_EQ(maxDifference(out.samples, reference, 1), 0.0);
    } else if (c.format == OutputFormat::int24) { // the writer rounds to the nearest step
        EXPECT_LE(maxDifference(out.samples, reference, 8388608.0), 0.5);
    } else { // libsoxr's TPDF dither is random: up to 1 LSB each way, against another dithered run
        EXPECT_LE(maxDifference(out.samples, reference, 32768.0), 2.0);
    }
    if (c.format == OutputFormat::int16 && !c.options.dither) { // and so the same every time
        convertWav(source, dir / "again.wav", c.targetRate, c.format, c.options);
        EXPECT_EQ(fileBytes(dir / "again.wav"), fileBytes(destination));
    }
}

const OutputCase kOutputCases[] = {
    {"stereoUpWithRemainder", 2, 44100, 48000.0, 3 * 65536 + 123, OutputFormat::float32},
    {"sixChannelsDown", 6, 48000, 44100.0, 70000, OutputFormat::float32},
    // Equal rates are not copied: they go through libsoxr like any other pair.
    {"equalRatesWholeBlocks", 1, 44100, 44100.0, 2 * 65536, OutputFormat::float32},
    {"oneFrame", 2, 44100, 96000.0, 1, OutputFormat::float32},
    {"noFrames", 2, 44100, 96000.0, 0, OutputFormat::float32},
    {"everyOptionRaised", 2, 96000, 44100.0, 100000, OutputFormat::float32,
        {P::bits32, Ph::minimum, true, R::none, 95.0, true, true}},
    {"quickIntermediate", 2, 22050, 176400.0, 30000, OutputFormat::float32,
        {P::quick, Ph::intermediate, false, R::medium, 80.0, false, true}},
    {"withoutProgress", 2, 44100, 88200.0, 70000, OutputFormat::float32, {}, false},
    {"int24", 2, 44100, 192000.0, 70000, OutputFormat::int24},
    {"int16Dithered", 2, 48000, 44100.0, 70000, OutputFormat::int16},
    {"int16Undithered", 2, 44100, 48000.0, 70000, OutputFormat::int16,
        {P::veryHigh, Ph::linear, false, R::small, 91.3, false, false}},
};
INSTANTIATE_TEST_SUITE_P(Cases, ConvertWavOutput, ::testing::ValuesIn(kOutputCases),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConvertWavInt24, OvershootsClipToFullScaleAndNeverWrap)
{
    // A full-scale square wave: resampling rings past ±1.0 next to every edge.
    setLibsoxrVariable(nullptr);
    TempDir dir;
    writeAudioFile(dir / "in.wav", {44100, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT}, 44100,
        [](std::int64_t frame, int) { return (frame / 50) % 2 == 0 ? 1.0f : -1.0f; });
    convertWav(dir / "in.wav", dir / "float.wav", 48000.0, OutputFormat::float32, {});
    convertWav(dir / "in.wav", dir / "int24.wav", 48000.0, OutputFormat::int24, {});
    const AudioData exact = readAudioFile(dir / "float.wav"), stored = readAudioFile(dir / "int24.wav");
    ASSERT_EQ(stored.samples.size(), exact.samples.size());

    int above = 0, below = 0;
    for (std::size_t i = 0; i < exact.samples.size(); ++i) {
        const double wanted = std::clamp(exact.samples[i] * 8388608.0, -8388608.0, 8388607.0);
        ASSERT_LE(std::abs(stored.samples[i] * 8388608.0 - wanted), 0.5) << "sample " << i << ": " << exact.samples[i];
        above += exact.samples[i] >= 1.0f ? 1 : 0;
        below += exact.samples[i] < -1.0f ? 1 : 0;
    }
    EXPECT_GT(above, 100);
    EXPECT_GT(below, 100);
}

} // namespace
} // namespace fennick
