// The engine under hostile sources, destinations and destinations: a clear error (or the promised
// success), the source untouched, and no descriptor or resampler left behind. The header read
// alone is checked through the window's tests.

#include "FennickEngine.h"
#include "HostileInputs.h"
#include "SoxrApi.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace fennick::test {
namespace {

// Every case runs with the counting stand-in bound, so that a resampler left alive shows.
class Counted : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ::setenv("FENNICK_LIBSOXR", FENNICK_COUNTING_SOXR_PATH, 1);
        ASSERT_EQ(SoxrApi::shared().libraryPath, FENNICK_COUNTING_SOXR_PATH);
    }
    // Resamplers made and not yet deleted.
    static int liveSoxrHandles()
    {
        // RTLD_NOLOAD finds the copy the binding loaded without loading another.
        void* library = dlopen(FENNICK_COUNTING_SOXR_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
        const int value = reinterpret_cast<int (*)()>(dlsym(library, "fennick_standin_live_handles"))();
        dlclose(library);
        return value;
    }
};

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

class EngineHostileSource : public Counted, public ::testing::WithParamInterface<HostileSource> { };

TEST_P(EngineHostileSource, FailsClearlyOrConvertsWhatIsThere)
{
    TempDir dir;
    const auto source = GetParam().make(dir.path());
    const auto destination = dir / "out.wav";
    const std::string before = snapshot(source);
    const int descriptors = openDescriptorCount();

    expectError(convertError(source, destination), GetParam().convertError);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_EQ(liveSoxrHandles(), 0);
    EXPECT_EQ(snapshot(source), before);
    if (GetParam().convertError.empty()) {
        EXPECT_EQ(readAudioFile(destination).frames(), GetParam().presentFrames); // same rate in and out
    } else {
        EXPECT_FALSE(std::filesystem::exists(destination)); // refused before the destination was opened
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, EngineHostileSource, ::testing::ValuesIn(hostileSources()), caseName<HostileSource>);

class EngineHostileDestination : public Counted, public ::testing::WithParamInterface<HostileDestination> { };

TEST_P(EngineHostileDestination, FailsClearlyAndReleasesEverything)
{
    TempDir dir;
    const auto source = writeGoodSource(dir.path());
    const auto destination = GetParam().make(dir.path(), source);
    const std::string before = fileBytes(source);
    const int descriptors = openDescriptorCount();

    EXPECT_EQ(convertError(source, destination), GetParam().error);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_EQ(liveSoxrHandles(), 0);
    EXPECT_EQ(fileBytes(source), before);
}

INSTANTIATE_TEST_SUITE_P(
    Destinations, EngineHostileDestination, ::testing::ValuesIn(hostileDestinations()), caseName<HostileDestination>);

} // namespace
} // namespace fennick::test
