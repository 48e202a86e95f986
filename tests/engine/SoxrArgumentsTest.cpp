// What the pipeline hands to libsoxr, recorded by the stand-in bound through FENNICK_LIBSOXR.

#include "EngineTestSupport.h"

#include "ConvertWav.h"
#include "SoxrApi.h"

#include <gtest/gtest.h>

namespace fennick {
namespace {

using namespace fennick::test;
using P = ConversionOptions::Precision;
using Ph = ConversionOptions::Phase;
using R = ConversionOptions::Rolloff;

const StandinRecord& convertThroughStandin(const TempDir& dir, int inputRate, double targetRate, OutputFormat format,
    const ConversionOptions& options, std::int64_t frames = 3000)
{
    setLibsoxrVariable(kStandin);
    writeAudioFile(dir / "in.wav", {inputRate, 2}, frames, sine(440, inputRate));
    convertWav(dir / "in.wav", dir / "out.wav", targetRate, format, options);
    EXPECT_EQ(SoxrApi::shared().libraryPath, kStandin);
    const StandinRecord& record = standinRecord(kStandin);
    EXPECT_EQ(record.creates, 1);
    EXPECT_EQ(record.deletes, 1);
    return record;
}

struct ArgumentCase {
    const char* name;
    OutputFormat format;
    ConversionOptions options;
    unsigned long recipe, flags;
    bool noDither;
};
void PrintTo(const ArgumentCase& c, std::ostream* out) { *out << c.name; }

ConversionOptions with(void (*change)(ConversionOptions&))
{
    ConversionOptions options;
    change(options);
    return options;
}

class SoxrArguments : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(SoxrArguments, AreTheSettingsInLibsoxrsTerms)
{
    const ArgumentCase& c = GetParam();
    TempDir dir;
    const StandinRecord& record = convertThroughStandin(dir, 44100, 96000.0, c.format, c.options);

    EXPECT_EQ(record.qualityRecipe, c.recipe);
    EXPECT_EQ(record.qualityFlags, c.flags);
    // libsoxr's own quality record apart from passband_end, whatever libsoxr put there.
    const soxr_quality_spec_t &given = record.qualityGiven, &returned = record.qualityReturned;
    EXPECT_EQ(given.passband_end, c.options.bandwidthPercent / 100.0);
    EXPECT_EQ(given.precision, returned.precision);
    EXPECT_EQ(given.phase_response, returned.phase_response);
    EXPECT_EQ(given.stopband_begin, returned.stopband_begin);
    EXPECT_EQ(given.e, returned.e);
    EXPECT_EQ(given.flags, returned.flags);
    // libsoxr's own io record, with SOXR_NO_DITHER added only for undithered int16.
    EXPECT_EQ(record.ioGiven.itype, SOXR_FLOAT32_I);
    EXPECT_EQ(record.ioGiven.otype, c.format == OutputFormat::int16 ? SOXR_INT16_I : SOXR_FLOAT32_I);
    EXPECT_EQ(record.ioGiven.scale, record.ioReturned.scale);
    EXPECT_EQ(record.ioGiven.flags, record.ioReturned.flags | (c.noDither ? SOXR_NO_DITHER : 0));

    EXPECT_EQ(record.inputRate, 44100.0);
    EXPECT_EQ(record.outputRate, 96000.0);
    EXPECT_EQ(record.channels, 2u);
    EXPECT_FALSE(record.runtimeSpecGiven);
}

const ArgumentCase kArgumentCases[] = {
    {"defaults", OutputFormat::float32, {}, 6, 0, false},
    {"everythingRaised", OutputFormat::float32, {P::bits32, Ph::minimum, true, R::none, 91.3, true, true}, 0x77, 0x12,
        false},
    {"veryHighSinglePrecision", OutputFormat::int24, with([](auto& o) { o.rolloff = R::medium; }), 6, 1, false},
    {"bits24SinglePrecision", OutputFormat::float32, with([](auto& o) { o.precision = P::bits24; }), 5, 0, false},
    {"bits32SinglePrecision", OutputFormat::float32, with([](auto& o) { o.precision = P::bits32; }), 7, 0, false},
    {"steepKeepsTheBandwidth", OutputFormat::float32,
        with([](auto& o) { o.steepFilter = true, o.bandwidthPercent = 99.7; }), 0x46, 0, false},
    {"quickIntermediateNarrow", OutputFormat::float32,
        with([](auto& o) { o.precision = P::quick, o.phase = Ph::intermediate, o.bandwidthPercent = 74.0; }), 0x10,
        0, false},
    {"lowDoublePrecision", OutputFormat::float32, with([](auto& o) { o.precision = P::low, o.doublePrecision = true; }),
        1, 0x10, false},
    {"int16Dithered", OutputFormat::int16, {}, 6, 0, false},
    {"int16Undithered", OutputFormat::int16, with([](auto& o) { o.dither = false; }), 6, 0, true},
    {"int24IgnoresDither", OutputFormat::int24, with([](auto& o) { o.dither = false; }), 6, 0, false},
    {"float32IgnoresDither", OutputFormat::float32, with([](auto& o) { o.dither = false; }), 6, 0, false},
};
INSTANTIATE_TEST_SUITE_P(Options, SoxrArguments, ::testing::ValuesIn(kArgumentCases),
    [](const auto& info) { return std::string(info.param.name); });

struct LengthCase {
    int inputRate;
    double targetRate;
    std::uint32_t outputLength;
};
void PrintTo(const LengthCase& c, std::ostream* out) { *out << c.inputRate << " to " << c.targetRate; }

class OutputLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(OutputLength, IsTheOutputBlockCapacityInEveryCall)
{
    const LengthCase& c = GetParam();
    EXPECT_EQ(outputBlockCapacity(c.inputRate, c.targetRate), c.outputLength);
    TempDir dir;
    // Three input blocks, so that soxr_process is called while streaming and flushing; equal
    // rates are no exception.
    const StandinRecord& record =
        convertThroughStandin(dir, c.inputRate, c.targetRate, OutputFormat::float32, {}, 2 * kInputBlockFrames + 100);
    EXPECT_EQ(record.outputLength, c.outputLength);
    EXPECT_FALSE(record.outputLengthVaried);
}

INSTANTIATE_TEST_SUITE_P(Rates, OutputLength,
    ::testing::Values(LengthCase{44100, 192000.0, 293519}, LengthCase{48000, 44100.0, 68404},
        LengthCase{44100, 44100.0, 73728}),
    [](const auto& info) {
        return std::to_string(info.param.inputRate) + "to" + std::to_string(static_cast<int>(info.param.targetRate));
    });

} // namespace
} // namespace fennick
