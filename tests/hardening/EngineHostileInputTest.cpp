// The engine under hostile sources, destinations and libraries: a clear error (or the promised
// success), the source untouched, and no descriptor or resampler left behind.

#include "AudioFileError.h"
#include "AudioFileReader.h"
#include "ConvertWav.h"
#include "HostileInputs.h"
#include "SoxrApi.h"
#include "SoxrStandIns.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include <sys/resource.h>

namespace fennick::test {
namespace {

ConversionOptions quickOptions()
{
    ConversionOptions options;
    options.precision = ConversionOptions::Precision::quick;
    return options;
}

// The message of one of the engine's own errors, or "" when `run` succeeds. Anything else
// thrown (bad_alloc, filesystem_error, …) escapes and fails the test.
template <typename Run>
std::string engineError(Run&& run)
{
    try {
        run();
    } catch (const AudioFileError& error) {
        return error.what();
    } catch (const ConversionError& error) {
        return error.what();
    } catch (const SoxrError& error) {
        return error.what();
    }
    return "";
}

template <typename Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

class EngineHostileSource : public ::testing::TestWithParam<HostileSource> {};

TEST_P(EngineHostileSource, FailsClearlyOrConvertsWhatIsThere)
{
    useCountingLibsoxr();
    const HostileSource& hostile = GetParam();
    TempDir dir;
    const auto source = hostile.make(dir.path());
    const auto destination = dir / "out.wav";
    const std::string before = snapshot(source);
    const int descriptors = openDescriptorCount();

    // The header read behind loading a file into the window.
    EXPECT_EQ(engineError([&] {
        AudioFileReader reader(source);
        EXPECT_EQ(reader.sampleFormatDescription(), "16-bit integer");
    }),
        hostile.readError);
    EXPECT_EQ(openDescriptorCount(), descriptors);

    EXPECT_EQ(engineError([&] { convertWav(source, destination, kHostileTargetRate, OutputFormat::int16, quickOptions()); }),
        hostile.convertError);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    if (hostile.convertError.empty()) {
        // Same rate in and out: exactly the frames the file really holds come out.
        const auto output = readAudioFile(destination);
        EXPECT_EQ(output.frames(), hostile.presentFrames);
        EXPECT_EQ(output.info.channels, 2);
        EXPECT_EQ(liveSoxrHandles(), 0);
    } else {
        // Refused before the destination was opened, so nothing is created there.
        EXPECT_FALSE(std::filesystem::exists(destination));
        EXPECT_LE(liveSoxrHandles(), 0);
    }
    EXPECT_EQ(snapshot(source), before);
}

INSTANTIATE_TEST_SUITE_P(Sources, EngineHostileSource, ::testing::ValuesIn(hostileSources()), caseName<HostileSource>);

class EngineHostileDestination : public ::testing::TestWithParam<HostileDestination> {};

TEST_P(EngineHostileDestination, FailsClearlyAndReleasesEverything)
{
    useCountingLibsoxr();
    TempDir dir;
    const auto source = dir / "take.wav";
    writeAudioFile(source, {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, kGoodSourceFrames, sine(440, 48000));
    const auto destination = GetParam().make(dir.path(), source);
    const std::string before = fileBytes(source);
    const int descriptors = openDescriptorCount();

    EXPECT_EQ(engineError([&] { convertWav(source, destination, kHostileTargetRate, OutputFormat::int24, quickOptions()); }),
        GetParam().error);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_LE(liveSoxrHandles(), 0);
    EXPECT_EQ(fileBytes(source), before);
}

INSTANTIATE_TEST_SUITE_P(
    Destinations, EngineHostileDestination, ::testing::ValuesIn(hostileDestinations()), caseName<HostileDestination>);

// /dev/full already fails at the header; a file-size limit makes the disk "fill up" in the
// middle of streaming instead, after the resampler was made: it must be deleted all the same.
TEST(EngineHostileDestination, DiskFillingUpMidStreamReleasesEverything)
{
    useCountingLibsoxr();
    TempDir dir;
    const auto source = dir / "take.wav";
    writeAudioFile(source, {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, kGoodSourceFrames, sine(440, 48000));
    const int descriptors = openDescriptorCount();

    std::signal(SIGXFSZ, SIG_IGN); // report EFBIG instead of killing the process
    const rlimit limit{256 * 1024, 256 * 1024};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_EQ(engineError([&] { convertWav(source, dir / "out.wav", kHostileTargetRate, OutputFormat::int16, quickOptions()); }),
        "File too large");
    EXPECT_EQ(createdSoxrHandles(), 1);
    EXPECT_EQ(liveSoxrHandles(), 0);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_GT(std::filesystem::file_size(dir / "out.wav"), 0u); // what was written stays
}

struct ResamplerFailure {
    std::string where;
    std::string error;
};
void PrintTo(const ResamplerFailure& failure, std::ostream* out) { *out << failure.where; }

class EngineResamplerFailure : public ::testing::TestWithParam<ResamplerFailure> {};

// libsoxr failing (on demand, through the stand-in) leaks neither the resampler nor a file.
TEST_P(EngineResamplerFailure, ReleasesEverything)
{
    useCountingLibsoxr();
    ::setenv("FENNICK_STANDIN_FAIL", GetParam().where.c_str(), 1);
    TempDir dir;
    const auto source = dir / "take.wav";
    writeAudioFile(source, {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, kGoodSourceFrames, sine(440, 48000));
    const std::string before = fileBytes(source);
    const int descriptors = openDescriptorCount();

    EXPECT_EQ(engineError([&] { convertWav(source, dir / "out.wav", kHostileTargetRate, OutputFormat::float32, quickOptions()); }),
        GetParam().error);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_EQ(createdSoxrHandles(), GetParam().where == "create" ? 0 : 1);
    EXPECT_EQ(liveSoxrHandles(), 0);
    EXPECT_EQ(fileBytes(source), before);
}

INSTANTIATE_TEST_SUITE_P(Failures, EngineResamplerFailure,
    ::testing::Values(ResamplerFailure{"create", "libsoxr: stand-in: create refused"},
        ResamplerFailure{"process", "libsoxr: stand-in: process failed"}),
    [](const auto& info) { return info.param.where; });

class EngineHostileLibrary : public ::testing::TestWithParam<HostileLibrary> {};

// A FENNICK_LIBSOXR that binds nothing falls back to the linked libsoxr, and converting works.
TEST_P(EngineHostileLibrary, FallsBackToTheLinkedLibsoxr)
{
    TempDir dir;
    const std::string value = GetParam().make(dir.path());
    ::setenv("FENNICK_LIBSOXR", value.c_str(), 1);
    const auto source = dir / "take.wav";
    writeAudioFile(source, {48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, 48000, sine(440, 48000));
    const int descriptors = openDescriptorCount();

    ASSERT_NO_THROW(convertWav(source, dir / "out.wav", kHostileTargetRate, OutputFormat::int16, quickOptions()));
    const SoxrApi& api = SoxrApi::shared();
    EXPECT_EQ(api.soxr_create, &::soxr_create);
    EXPECT_EQ(api.soxr_process, &::soxr_process);
    EXPECT_EQ(soxrVersionText(api), "libsoxr-0.1.3");
    EXPECT_EQ(readAudioFile(dir / "out.wav").frames(), 44100);
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

INSTANTIATE_TEST_SUITE_P(Libraries, EngineHostileLibrary, ::testing::ValuesIn(hostileLibraries(kIncompleteLibsoxr)),
    caseName<HostileLibrary>);

} // namespace
} // namespace fennick::test
