// fennick-convert under hostile sources, destinations and FENNICK_LIBSOXR values: one clear
// line and exit 1 (or the promised success), never a crash or a hang, the source untouched.

#include "HostileInputs.h"
#include "RunProcess.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace fennick::test {
namespace {

// A hang fails the case instead of stalling the suite: timeout(1) kills the converter.
ProcessResult convertBounded(const std::vector<std::string>& arguments, const std::filesystem::path& workDir)
{
    std::vector<std::string> command{"timeout", "--signal=KILL", "60", FENNICK_CONVERT_PATH, "--overwrite", "-q", "quick"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runProcess(command, workDir);
}

class ConverterHostileSource : public ::testing::TestWithParam<HostileSource> {};

TEST_P(ConverterHostileSource, OneLineAndNothingTouched)
{
    const HostileSource& hostile = GetParam();
    TempDir dir;
    const auto source = hostile.make(dir.path());
    const auto destination = dir / "out.wav";
    const std::string before = snapshot(source);

    const auto result = convertBounded({source.string(), destination.string()}, dir.path());
    if (hostile.convertError.empty()) {
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, "Saved out.wav (libsoxr-0.1.3)\n");
        EXPECT_EQ(readAudioFile(destination).frames(), hostile.presentFrames);
    } else {
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "Conversion failed: " + hostile.convertError + "\n");
        EXPECT_FALSE(std::filesystem::exists(destination));
    }
    EXPECT_EQ(snapshot(source), before);
}

INSTANTIATE_TEST_SUITE_P(Sources, ConverterHostileSource, ::testing::ValuesIn(hostileSources()),
    [](const auto& info) { return info.param.name; });

class ConverterHostileDestination : public ::testing::TestWithParam<HostileDestination> {};

TEST_P(ConverterHostileDestination, OneLineAndSourceUntouched)
{
    TempDir dir;
    const auto source = dir / "take.wav";
    writeAudioFile(source, {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, kGoodSourceFrames, sine(440, 48000));
    const std::string before = fileBytes(source);
    const auto destination = GetParam().make(dir.path(), source);

    const auto result = convertBounded({source.string(), destination.string()}, dir.path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Conversion failed: " + GetParam().error + "\n");
    EXPECT_EQ(fileBytes(source), before);
}

INSTANTIATE_TEST_SUITE_P(Destinations, ConverterHostileDestination, ::testing::ValuesIn(hostileDestinations()),
    [](const auto& info) { return info.param.name; });

class ConverterHostileLibrary : public ::testing::TestWithParam<HostileLibrary> {};

// A FENNICK_LIBSOXR that binds nothing: the linked libsoxr converts, and says so.
TEST_P(ConverterHostileLibrary, ConvertsWithTheLinkedLibsoxr)
{
    TempDir dir;
    const auto source = dir / "take.wav";
    writeAudioFile(source, {48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, 48000, sine(440, 48000));
    ::setenv("FENNICK_LIBSOXR", GetParam().make(dir.path()).c_str(), 1); // the converter inherits it

    const auto result = convertBounded({source.string(), (dir / "out.wav").string()}, dir.path());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Saved out.wav (libsoxr-0.1.3)\n");
    EXPECT_EQ(readAudioFile(dir / "out.wav").frames(), 44100);
}

INSTANTIATE_TEST_SUITE_P(Libraries, ConverterHostileLibrary,
    ::testing::ValuesIn(hostileLibraries(FENNICK_INCOMPLETE_SOXR_PATH)), [](const auto& info) { return info.param.name; });

} // namespace
} // namespace fennick::test
