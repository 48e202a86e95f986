// The engine under hostile sources, destinations and libraries: a clear error (or the promised
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

// Counts resamplers through the stand-in bound before the first conversion.
void useCountingLibsoxr() { ::setenv("FENNICK_LIBSOXR", FENNICK_COUNTING_SOXR_PATH, 1); }

// Resamplers made and not yet deleted; -1 when the binding has not loaded the stand-in.
int liveSoxrHandles()
{
    // RTLD_NOLOAD finds the copy the binding loaded without loading another.
    void* library = dlopen(FENNICK_COUNTING_SOXR_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (library == nullptr) return -1;
    const int value = reinterpret_cast<int (*)()>(dlsym(library, "fennick_standin_live_handles"))();
    dlclose(library);
    return value;
}

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

class EngineHostileSource : public ::testing::TestWithParam<HostileSource> { };

TEST_P(EngineHostileSource, FailsClearlyOrConvertsWhatIsThere)
{
    useCountingLibsoxr();
    TempDir dir;
    const auto source = GetParam().make(dir.path());
    const auto destination = dir / "out.wav";
    const std::string before = snapshot(source);
    const int descriptors = openDescriptorCount();

    EXPECT_EQ(convertError(source, destination), GetParam().convertError);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_LE(liveSoxrHandles(), 0);
    EXPECT_EQ(snapshot(source), before);
    if (GetParam().convertError.empty()) {
        EXPECT_EQ(readAudioFile(destination).frames(), GetParam().presentFrames); // same rate in and out
    } else {
        EXPECT_FALSE(std::filesystem::exists(destination)); // refused before the destination was opened
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, EngineHostileSource, ::testing::ValuesIn(hostileSources()), caseName<HostileSource>);

class EngineHostileDestination : public ::testing::TestWithParam<HostileDestination> { };

TEST_P(EngineHostileDestination, FailsClearlyAndReleasesEverything)
{
    useCountingLibsoxr();
    TempDir dir;
    const auto source = writeGoodSource(dir.path());
    const auto destination = GetParam().make(dir.path(), source);
    const std::string before = fileBytes(source);
    const int descriptors = openDescriptorCount();

    EXPECT_EQ(convertError(source, destination), GetParam().error);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_LE(liveSoxrHandles(), 0);
    EXPECT_EQ(fileBytes(source), before);
}

INSTANTIATE_TEST_SUITE_P(
    Destinations, EngineHostileDestination, ::testing::ValuesIn(hostileDestinations()), caseName<HostileDestination>);

class EngineHostileLibrary : public ::testing::TestWithParam<HostileLibrary> { };

// A FENNICK_LIBSOXR that binds nothing falls back to the linked libsoxr, and converting works.
TEST_P(EngineHostileLibrary, FallsBackToTheLinkedLibsoxr)
{
    TempDir dir;
    ::setenv("FENNICK_LIBSOXR", GetParam().make(dir.path()).c_str(), 1);
    const auto source = writeGoodSource(dir.path());
    const int descriptors = openDescriptorCount();

    EXPECT_EQ(convertError(source, dir / "out.wav"), "");
    EXPECT_EQ(SoxrApi::shared().soxr_create, &::soxr_create);
    EXPECT_EQ(soxrVersionText(SoxrApi::shared()), "libsoxr-0.1.3");
    EXPECT_EQ(readAudioFile(dir / "out.wav").frames(), kGoodSourceFrames * 441 / 480);
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

INSTANTIATE_TEST_SUITE_P(Libraries, EngineHostileLibrary,
    ::testing::ValuesIn(hostileLibraries(FENNICK_INCOMPLETE_SOXR_PATH)), caseName<HostileLibrary>);

} // namespace
} // namespace fennick::test
