// fennick-convert as a user runs it: real files in, real files out, exit codes and output lines.

#include "CommandLine.h"
#include "FennickEngine.h"
#include "RunProcess.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace fennick::test {
namespace {

const std::string kConverter = FENNICK_CONVERT_PATH;

class FennickConvert : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = dir / "take.wav";
        writeAudioFile(source, {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 44100, sine(997, 44100, 0.7));
    }
    ProcessResult convert(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), kConverter);
        return runProcess(arguments, dir.path());
    }
    TempDir dir;
    std::filesystem::path source;
};

bool haveTool(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }

struct Delivery {
    std::string rate, format, soxEncoding, ffprobeCodec;
};

class FennickConvertDelivery : public FennickConvert, public ::testing::WithParamInterface<Delivery> { };

// The files must be what other tools read, not only what libsndfile reads back.
TEST_P(FennickConvertDelivery, WritesFilesThatSoxAndFfprobeRead)
{
    if (!haveTool("soxi") || !haveTool("ffprobe")) GTEST_SKIP() << "sox or ffprobe not installed";
    const auto& delivery = GetParam();
    const auto destination = dir / ("out-" + delivery.rate + ".wav");
    const auto result = convert({source.string(), destination.string(), "-r", delivery.rate, "-f", delivery.format});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Saved " + destination.filename().string() + " (libsoxr-0.1.3)\n");
    EXPECT_EQ(result.err, "");

    const auto sox = runProcess({"soxi", destination.string()}, dir.path());
    ASSERT_EQ(sox.exitCode, 0) << sox.err;
    EXPECT_NE(sox.out.find("Sample Rate    : " + delivery.rate), std::string::npos) << sox.out;
    EXPECT_NE(sox.out.find("Channels       : 2"), std::string::npos) << sox.out;
    EXPECT_NE(sox.out.find("Sample Encoding: " + delivery.soxEncoding), std::string::npos) << sox.out;
    // One second of audio at any rate.
    EXPECT_NE(sox.out.find("Duration       : 00:00:01.00 = " + delivery.rate + " samples"), std::string::npos)
        << sox.out;

    const auto probe = runProcess({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name,sample_rate,channels",
                                      "-of", "default=noprint_wrappers=1", destination.string()},
        dir.path());
    ASSERT_EQ(probe.exitCode, 0) << probe.err;
    EXPECT_EQ(probe.out, "codec_name=" + delivery.ffprobeCodec + "\nsample_rate=" + delivery.rate + "\nchannels=2\n");
}

INSTANTIATE_TEST_SUITE_P(Deliveries, FennickConvertDelivery,
    ::testing::Values(Delivery{"96000", "float32", "32-bit Floating Point PCM", "pcm_f32le"},
        Delivery{"48000", "int24", "24-bit Signed Integer PCM", "pcm_s24le"},
        Delivery{"192000", "int16", "16-bit Signed Integer PCM", "pcm_s16le"}),
    [](const auto& info) { return info.param.format; });

// Every option must reach the engine: the converter's file equals the engine's own for the same
// settings (float output is deterministic).
TEST_F(FennickConvert, OptionsReachTheEngineUnchanged)
{
    const auto fromCli = dir / "cli.wav";
    const auto fromEngine = dir / "engine.wav";
    const auto result = convert({"-r", "88200", "-f", "float32", "-q", "bits32", "--phase", "minimum", "--rolloff",
        "none", "--bandwidth", "95.5", "--steep", "--double-precision", "--quiet", source.string(), fromCli.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;

    ConversionOptions options;
    options.precision = ConversionOptions::Precision::bits32;
    options.phase = ConversionOptions::Phase::minimum;
    options.rolloff = ConversionOptions::Rolloff::none;
    options.bandwidthPercent = 95.5;
    options.steepFilter = true;
    options.doublePrecision = true;
    convertWav(source, fromEngine, 88200.0, OutputFormat::float32, options);
    EXPECT_EQ(fileBytes(fromCli), fileBytes(fromEngine));
}

TEST(FennickConvertCommandLine, DefaultsAndFlagsMapOntoTheSettings)
{
    std::ostringstream out, err;
    auto parsed = cli::parseCommandLine({"a.wav", "b.wav"}, out, err);
    ASSERT_TRUE(parsed.request);
    EXPECT_EQ(parsed.request->rate, 44100);
    EXPECT_EQ(parsed.request->format, OutputFormat::int16);
    EXPECT_EQ(parsed.request->options, ConversionOptions{});
    EXPECT_FALSE(parsed.request->overwrite);

    parsed = cli::parseCommandLine({"--no-dither", "--overwrite", "-q", "quick", "a.wav", "b.wav"}, out, err);
    ASSERT_TRUE(parsed.request);
    EXPECT_FALSE(parsed.request->options.dither);
    EXPECT_TRUE(parsed.request->overwrite);
    EXPECT_EQ(parsed.request->options.precision, ConversionOptions::Precision::quick);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "");
}

// Usage errors: exit 2 and one line that says what is wrong; nothing is written.
TEST_F(FennickConvert, UsageErrorsExitWithOneLine)
{
    const auto destination = dir / "never.wav";
    const std::vector<std::vector<std::string>> cases{
        {source.string()},
        {"-r", "0", source.string(), destination.string()},
        {"-r", "44.1k", source.string(), destination.string()},
        {"-f", "int32", source.string(), destination.string()},
        {"-q", "VeryHigh", source.string(), destination.string()},
        {"--bandwidth", "99.8", source.string(), destination.string()},
        {"--phase", "", source.string(), destination.string()},
        {"--bogus", source.string(), destination.string()},
    };
    for (const auto& arguments : cases) {
        const auto result = convert(arguments);
        EXPECT_EQ(result.exitCode, 2) << arguments.front();
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.err.rfind("fennick-convert: ", 0), 0u) << result.err;
    }
    EXPECT_FALSE(std::filesystem::exists(destination));
}

TEST_F(FennickConvert, ExistingDestinationNeedsOverwrite)
{
    const auto destination = dir / "kept.wav";
    writeAudioFile(destination, {8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, 10, sine(100, 8000));
    const std::string before = fileBytes(destination);

    auto result = convert({source.string(), destination.string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(
        result.err, "Conversion failed: " + destination.string() + " already exists; use --overwrite to replace it.\n");
    EXPECT_EQ(fileBytes(destination), before);

    result = convert({"--overwrite", source.string(), destination.string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readAudioFile(destination).info.samplerate, 44100);
}

// On a terminal the converter draws a live bar that ends at 100% and is cleared before the
// result line.
TEST_F(FennickConvert, DrawsProgressOnATerminalUnlessQuiet)
{
    const auto destination = dir / "tty.wav";
    auto result = runOnTerminal({kConverter, source.string(), destination.string()});
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_NE(result.out.find("] 100%"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\r\033[KSaved tty.wav (libsoxr-0.1.3)"), std::string::npos) << result.out;

    result = runOnTerminal({kConverter, "--quiet", "--overwrite", source.string(), destination.string()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "Saved tty.wav (libsoxr-0.1.3)\r\n");
}

} // namespace
} // namespace fennick::test
