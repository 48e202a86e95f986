// What the pipeline hands to libsoxr, recorded by the stand-in bound through FENNICK_LIBSOXR.

#include "EngineTestSupport.h"

#include "ConvertWav.h"

#include <gtest/gtest.h>

#include <cstring>

namespace fennick {
namespace {

using namespace fennick::test;
using P = ConversionOptions::Precision;
using Ph = ConversionOptions::Phase;
using R = ConversionOptions::Rolloff;

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
    setLibsoxrVariable(kStandin);
    TempDir dir;
    // Three input blocks, so that soxr_process is called while streaming and while flushing.
    writeAudioFile(dir / "in.wav", {c.inputRate, 2}, 2 * kInputBlockFrames + 100, sine(440, c.inputRate));
    convertWav(dir / "in.wav", dir / "out.wav", c.targetRate, c.format, c.options);
    const StandinRecord& record = standinRecord();
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
    {"defaults", OutputFormat::float32, {}, 6, 0},
    {"everythingRaised", OutputFormat::float32, {P::bits32, Ph::minimum, true, R::none, 91.3, true, true}, 0x77, 0x12},
    {"bits24SinglePrecisionInt24IgnoresDither", OutputFormat::int24,
        {.precision = P::bits24, .rolloff = R::medium, .dither = false}, 5, 1, false, 48000, 44100.0, 68404},
    {"steepKeepsTheBandwidth", OutputFormat::float32, {.steepFilter = true, .bandwidthPercent = 99.7}, 0x46, 0},
    // Equal rates are no exception.
    {"quickIntermediateNarrow", OutputFormat::float32,
        {.precision = P::quick, .phase = Ph::intermediate, .bandwidthPercent = 74.0}, 0x10, 0, false, 44100, 44100.0,
        73728},
    {"lowDoublePrecisionFloatIgnoresDither", OutputFormat::float32,
        {.precision = P::low, .doublePrecision = true, .dither = false}, 1, 0x10},
    {"int16Dithered", OutputFormat::int16, {}, 6, 0},
    {"int16Undithered", OutputFormat::int16, {.dither = false}, 6, 0, true},
};
INSTANTIATE_TEST_SUITE_P(Options, SoxrArguments, ::testing::ValuesIn(kArgumentCases),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fennick
