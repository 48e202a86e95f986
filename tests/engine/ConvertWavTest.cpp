// The pipeline's output against libsoxr's own one-shot conversion of the same samples.

#include "EngineTestSupport.h"

#include "ConvertWav.h"

#include <gtest/gtest.h>

#include <cmath>

namespace fennick {
namespace {

using namespace fennick::test;

// libsoxr's one-shot float conversion of the whole source, with the settings in libsoxr's terms.
std::vector<float> oneshot(const AudioData& source, double targetRate, const ConversionOptions& options)
{
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(rawValue(options.precision) | rawValue(options.phase)
            | (options.steepFilter ? SOXR_STEEP_FILTER : 0),
        rawValue(options.rolloff) | (options.doublePrecision ? SOXR_DOUBLE_PRECISION : 0));
    quality.passband_end = options.bandwidthPercent / 100.0;
    const auto frames = static_cast<std::size_t>(source.frames()), channels = std::size_t(source.info.channels);
    const auto capacity = static_cast<std::size_t>(std::ceil(frames * targetRate / source.info.samplerate)) + 64;
    std::vector<float> out(capacity * channels);
    std::size_t produced = 0;
    soxr_error_t error = soxr_oneshot(source.info.samplerate, targetRate, unsigned(channels), source.samples.data(),
        frames, nullptr, out.data(), capacity, &produced, &io, &quality, nullptr);
    if (error != nullptr) throw std::runtime_error(error);
    out.resize(produced * channels);
    return out;
}

struct OutputCase {
    const char* name;
    int channels, inputRate;
    double targetRate;
    std::int64_t frames;
    OutputFormat format = OutputFormat::float32;
    ConversionOptions options{};
    bool withProgress = true;
    double gain = 1; // above 1 a float source goes past full scale, which int output must clip
};
void PrintTo(const OutputCase& c, std::ostream* out) { *out << c.name; }

class ConvertWavOutput : public ::testing::TestWithParam<OutputCase> {};

TEST_P(ConvertWavOutput, IsLibsoxrsConversionOfTheSource)
{
    const OutputCase& c = GetParam();
    setLibsoxrVariable(nullptr);
    TempDir dir;
    const auto source = dir / "in.wav", destination = dir / "out.wav";
    const int encoding = c.gain > 1 ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_24;
    // A tone in the passband and one above it that the filter has to remove.
    writeAudioFile(source, {c.inputRate, c.channels, SF_FORMAT_WAV | encoding}, c.frames, [&](std::int64_t i, int ch) {
        const double t = static_cast<double>(i) / c.inputRate;
        return float(c.gain * (0.4 * std::sin(2 * M_PI * 997 * t + ch) + 0.1 * std::sin(M_PI * 0.96 * c.inputRate * t)));
    });
    const std::string sourceBytes = fileBytes(source);

    std::vector<double> reports, expectedReports;
    const auto progress = [&](double fraction) { reports.push_back(fraction); };
    convertWav(source, destination, c.targetRate, c.format, c.options, c.withProgress ? progress : ProgressCallback());
    for (std::int64_t read = kInputBlockFrames; c.withProgress && read < c.frames + kInputBlockFrames;
         read += kInputBlockFrames) {
        expectedReports.push_back(static_cast<double>(std::min(read, c.frames)) / static_cast<double>(c.frames));
    }
    EXPECT_EQ(reports, expectedReports); // ceil(N / 65536) of them, the last exactly 1.0
    EXPECT_EQ(fileBytes(source), sourceBytes);

    const AudioData out = readAudioFile(destination);
    const int subtype = std::array{SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_FLOAT}[ordinal(c.format)];
    EXPECT_EQ(out.info.format, SF_FORMAT_WAV | subtype);
    EXPECT_EQ(out.info.samplerate, c.targetRate);
    EXPECT_EQ(out.info.channels, c.channels);
    // N × out / in, rounded; libsoxr settles an exact tie either way.
    EXPECT_NEAR(static_cast<double>(out.frames()), static_cast<double>(c.frames) * c.targetRate / c.inputRate, 0.5);

    // Float output is libsoxr's own; 24-bit rounds it to the nearest step; 16-bit is libsoxr's
    // rounding, plus up to 1 LSB each way of its random TPDF dither.
    const std::vector<float> reference = oneshot(readAudioFile(source), c.targetRate, c.options);
    ASSERT_EQ(out.samples.size(), reference.size());
    const double scale = std::array{32768.0, 8388608.0, 1.0}[ordinal(c.format)];
    const bool integer = c.format != OutputFormat::float32;
    const double top = integer ? scale - 1 : INFINITY, bottom = integer ? -scale : -INFINITY;
    const bool dithered = c.format == OutputFormat::int16 && c.options.dither;
    double worst = 0;
    int clipped = 0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const double wanted = reference[i] * scale;
        clipped += wanted > top || wanted < bottom ? 1 : 0;
        worst = std::max(worst, std::abs(out.samples[i] * scale - std::clamp(wanted, bottom, top)));
    }
    EXPECT_LE(worst, c.format == OutputFormat::float32 ? 0.0 : dithered ? 2.0 : 0.5 + 1e-6);
    EXPECT_EQ(clipped > 100, c.gain > 1); // the loud case really goes past full scale
}

const OutputCase kOutputCases[] = {
    {"stereoUpWithRemainder", 2, 44100, 48000.0, 3 * 65536 + 123},
    {"sixChannelsDownWithoutProgress", 6, 48000, 44100.0, 70000, OutputFormat::float32, {}, false},
    // Equal rates are not copied: they go through libsoxr like any other pair.
    {"equalRatesWholeBlocks", 1, 44100, 44100.0, 2 * 65536},
    {"oneFrame", 2, 44100, 96000.0, 1},
    {"noFrames", 2, 44100, 96000.0, 0},
    {"int24ClippedNotWrapped", 2, 44100, 192000.0, 70000, OutputFormat::int24, {}, true, 2.5},
    {"int16Dithered", 2, 48000, 44100.0, 70000, OutputFormat::int16},
    {"int16Undithered", 2, 44100, 48000.0, 70000, OutputFormat::int16, {.dither = false}},
};
INSTANTIATE_TEST_SUITE_P(Cases, ConvertWavOutput, ::testing::ValuesIn(kOutputCases),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fennick
