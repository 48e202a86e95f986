// convertWav's output against libsoxr's own one-shot conversion of the same samples, and what it
// hands to libsoxr.

#include "EngineTestSupport.h"

#include "ConvertWav.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace fennick {
namespace {

using namespace fennick::test;
using P = ConversionOptions::Precision;
using Ph = ConversionOptions::Phase;
using R = ConversionOptions::Rolloff;

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
    double amplitude = 0.5; // above 1, a float source whose peaks integer output must clip
};
void PrintTo(const OutputCase& c, std::ostream* out) { *out << c.name; }

class ConvertWavOutput : public ::testing::TestWithParam<OutputCase> {};

TEST_P(ConvertWavOutput, IsLibsoxrsConversionOfTheSource)
{
    const OutputCase& c = GetParam();
    setLibsoxrVariable(nullptr);
    TempDir dir;
    const auto source = dir / "in.wav", destination = dir / "out.wav";
    const int encoding = c.amplitude > 1 ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_24;
    writeAudioFile(source, {c.inputRate, c.channels, SF_FORMAT_WAV | encoding}, c.frames,
        sine(997, c.inputRate, c.amplitude));
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
    const bool integer = c.format != OutputFormat::float32, dithered = c.format == OutputFormat::int16 && c.options.dither;
    const double top = integer ? scale - 1 : INFINITY, bottom = integer ? -scale : -INFINITY;
    double worst = 0;
    int clipped = 0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const double wanted = reference[i] * scale;
        clipped += wanted > top || wanted < bottom ? 1 : 0;
        worst = std::max(worst, std::abs(out.samples[i] * scale - std::clamp(wanted, bottom, top)));
    }
    EXPECT_LE(worst, !integer ? 0.0 : dithered ? 2.0 : 0.5 + 1e-6);
    EXPECT_EQ(clipped > 100, c.amplitude > 1); // the loud case really goes past full scale
}

const OutputCase kOutputCases[] = {
    {"stereoUpWithRemainder", 2, 44100, 48000.0, 3 * 65536 + 123},
    {"sixChannelsDownWithoutProgress", 6, 48000, 44100.0, 70000, OutputFormat::float32, {}, false},
    // Equal rates are not copied: they go through libsoxr like any other pair.
    {"equalRatesWholeBlocks", 1, 44100, 44100.0, 2 * 65536},
    {"oneFrame", 2, 44100, 96000.0, 1},
    {"noFrames", 2, 44100, 96000.0, 0},
    {"everyOptionRaised", 2, 96000, 44100.0, 70000, OutputFormat::float32,
        {P::bits32, Ph::minimum, true, R::none, 95.0, true, true}},
    {"int24ClippedNotWrapped", 2, 44100, 192000.0, 70000, OutputFormat::int24, {}, true, 1.25},
    {"int16Dithered", 2, 48000, 44100.0, 70000, OutputFormat::int16},
    {"int16Undithered", 2, 44100, 48000.0, 70000, OutputFormat::int16, {.dither = false}},
};
INSTANTIATE_TEST_SUITE_P(Cases, ConvertWavOutput, ::testing::ValuesIn(kOutputCases),
    [](const auto& info) { return std::string(info.param.name); });

struct ArgumentCase {
    const char* name;
    OutputFormat format;
    ConversionOptions options;
    unsigned long recipe, flags; // of soxr_quality_spec
    bool noDither = false;
    int inputRate = 44100;
    double targetRate = 192000.0;
    std::uint32_t outputLength = 293519; // ceil(target × 65536 / input) + 8192
};
void PrintTo(const ArgumentCase& c, std::ostream* out) { *out << c.name; }

class SoxrArguments : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(SoxrArguments, AreTheSettingsInLibsoxrsTerms)
{
    const ArgumentCase& c = GetParam();
    setLibsoxrVariable(nullptr);
    TempDir dir;
    // Three input blocks, so that soxr_process is called while streaming and while flushing.
    writeAudioFile(dir / "in.wav", {c.inputRate, 2}, 2 * kInputBlockFrames + 100, sine(440, c.inputRate));
    convertWav(dir / "in.wav", dir / "out.wav", c.targetRate, c.format, c.options);
    const SoxrRecord& record = soxrRecord;
    EXPECT_EQ(record.creates, 1);
    EXPECT_EQ(record.deletes, 1);
    EXPECT_EQ(record.recipe, c.recipe);
    EXPECT_EQ(record.flags, c.flags);
    EXPECT_EQ(record.quality.passband_end, c.options.bandwidthPercent / 100.0);
    // Otherwise libsoxr's own records, with SOXR_NO_DITHER added only for undithered int16.
    soxr_quality_spec_t quality = soxr_quality_spec(c.recipe, c.flags);
    quality.passband_end = record.quality.passband_end;
    EXPECT_EQ(std::memcmp(&record.quality, &quality, sizeof quality), 0);
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, c.format == OutputFormat::int16 ? SOXR_INT16_I : SOXR_FLOAT32_I);
    io.flags |= c.noDither ? SOXR_NO_DITHER : 0;
    EXPECT_EQ(std::memcmp(&record.io, &io, sizeof io), 0);
    EXPECT_FALSE(record.runtimeGiven);
    EXPECT_EQ(record.outputLength, c.outputLength);
    EXPECT_FALSE(record.outputLengthVaried);
}

const ArgumentCase kArgumentCases[] = {
    {"defaults", OutputFormat::int16, {}, 6, 0},
    {"int16Undithered", OutputFormat::int16, {.dither = false}, 6, 0, true},
    {"everythingRaisedSteepKeepsTheBandwidth", OutputFormat::float32,
        {P::bits32, Ph::minimum, true, R::none, 99.7, true, true}, 0x77, 0x12},
    {"bits24SinglePrecisionInt24IgnoresDither", OutputFormat::int24,
        {.precision = P::bits24, .rolloff = R::medium, .dither = false}, 5, 1, false, 48000, 44100.0, 68404},
    {"quickIntermediateNarrowEqualRates", OutputFormat::float32,
        {.precision = P::quick, .phase = Ph::intermediate, .bandwidthPercent = 74.0}, 0x10, 0, false, 44100, 44100.0,
        73728},
    {"lowDoublePrecisionFloatIgnoresDither", OutputFormat::float32,
        {.precision = P::low, .doublePrecision = true, .dither = false}, 1, 0x10},
};
INSTANTIATE_TEST_SUITE_P(Options, SoxrArguments, ::testing::ValuesIn(kArgumentCases),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fennick
