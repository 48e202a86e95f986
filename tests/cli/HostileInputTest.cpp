// fennick-convert under hostile sources and destinations: one clear line and exit 1 (or the
// promised success), never a crash or a hang, the source untouched. The FENNICK_LIBSOXR fallback
// is the binding's, checked in-process by the engine's hostile-input tests.

#include "HostileInputs.h"
#include "RunProcess.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

namespace fennick::test {
namespace {

// A hang fails the case instead of stalling the suite: timeout(1) kills the converter.
ProcessResult convertBounded(const std::vector<std::string>& arguments, const std::filesystem::path& workDir)
{
    std::vector<std::string> command{
        "timeout", "--signal=KILL", "60", FENNICK_CONVERT_PATH, "--overwrite", "-q", "quick"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runProcess(command, workDir);
}

class ConverterHostileSource : public ::testing::TestWithParam<HostileSource> { };

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

INSTANTIATE_TEST_SUITE_P(
    Sources, ConverterHostileSource, ::testing::ValuesIn(hostileSources()), caseName<HostileSource>);

class ConverterHostileDestination : public ::testing::TestWithParam<HostileDestination> { };

TEST_P(ConverterHostileDestination, OneLineAndSourceUntouched)
{
    TempDir dir;
    const auto source = writeGoodSource(dir.path());
    const std::string before = fileBytes(source);
    const auto destination = GetParam().make(dir.path(), source);

    const auto result = convertBounded({source.string(), destination.string()}, dir.path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Conversion failed: " + GetParam().error + "\n");
    EXPECT_EQ(fileBytes(source), before);
}

INSTANTIATE_TEST_SUITE_P(Destinations, ConverterHostileDestination, ::testing::ValuesIn(hostileDestinations()),
    caseName<HostileDestination>);

} // namespace
} // namespace fennick::test
