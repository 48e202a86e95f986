// The engine under hostile sources and destinations: a clear error (or the promised success), the
// source untouched, and no descriptor or resampler left behind (every case starts with a fresh
// record of the engine's libsoxr calls). The header read alone is checked through the window's tests.

#include "EngineTestSupport.h"
#include "FennickEngine.h"
#include "HostileInputs.h"

namespace fennick::test {
namespace {

// The engine's own error for a quick conversion to 44.1 kHz, or "" when it succeeds. Anything
// else thrown (bad_alloc, filesystem_error, …) escapes and fails the test.
std::string convertError(const std::filesystem::path& source, const std::filesystem::path& destination)
{
    ConversionOptions options;
    options.precision = ConversionOptions::Precision::quick;
    try {
        convertWav(source, destination, kHostileTargetRate, OutputFormat::int16, options);
    } catch (const AudioFileError& error) {
        return error.what();
    } catch (const ConversionError& error) {
        return error.what();
    } catch (const SoxrError& error) {
        return error.what();
    }
    return "";
}

class EngineHostileSource : public EngineTest, public ::testing::WithParamInterface<HostileSource> { };

TEST_P(EngineHostileSource, FailsClearlyOrConvertsWhatIsThere)
{
    TempDir dir;
    const auto source = GetParam().make(dir.path());
    const auto destination = dir / "out.wav";
    const std::string before = snapshot(source);
    const int descriptors = openDescriptorCount();

    expectError(convertError(source, destination), GetParam().convertError);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_EQ(soxrRecord.creates, soxrRecord.deletes);
    EXPECT_EQ(snapshot(source), before);
    if (GetParam().convertError.empty()) {
        EXPECT_EQ(readAudioFile(destination).frames(), GetParam().presentFrames); // same rate in and out
    } else {
        EXPECT_FALSE(std::filesystem::exists(destination)); // refused before the destination was opened
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, EngineHostileSource, ::testing::ValuesIn(hostileSources()), caseName<HostileSource>);

class EngineHostileDestination : public EngineTest, public ::testing::WithParamInterface<HostileDestination> { };

TEST_P(EngineHostileDestination, FailsClearlyAndReleasesEverything)
{
    TempDir dir;
    const auto source = writeGoodSource(dir.path());
    const auto destination = GetParam().make(dir.path(), source);
    const std::string before = fileBytes(source);
    const int descriptors = openDescriptorCount();

    EXPECT_EQ(convertError(source, destination), GetParam().error);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_EQ(soxrRecord.creates, soxrRecord.deletes);
    EXPECT_EQ(fileBytes(source), before);
}

INSTANTIATE_TEST_SUITE_P(
    Destinations, EngineHostileDestination, ::testing::ValuesIn(hostileDestinations()), caseName<HostileDestination>);

} // namespace
} // namespace fennick::test
