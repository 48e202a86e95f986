// FENNICK_LIBSOXR values that bind nothing: the linked libsoxr is used and converting works. Each
// case needs the binding's first access, so each runs in a process of its own.

#include "FennickEngine.h"
#include "HostileInputs.h"
#include "SoxrApi.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

namespace fennick::test {
namespace {

class EngineHostileLibrary : public ::testing::TestWithParam<HostileLibrary> { };

TEST_P(EngineHostileLibrary, FallsBackToTheLinkedLibsoxr)
{
    TempDir dir;
    ::setenv("FENNICK_LIBSOXR", GetParam().make(dir.path()).c_str(), 1);
    const auto source = writeGoodSource(dir.path());
    const int descriptors = openDescriptorCount();

    convertWav(source, dir / "out.wav", kHostileTargetRate, OutputFormat::int16, {});
    // An empty value makes dlopen hand back the program itself, whose names are the linked ones.
    EXPECT_EQ(SoxrApi::shared().soxr_create, &::soxr_create);
    EXPECT_EQ(readAudioFile(dir / "out.wav").frames(), kGoodSourceFrames * 441 / 480);
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

INSTANTIATE_TEST_SUITE_P(Libraries, EngineHostileLibrary,
    ::testing::ValuesIn(hostileLibraries(FENNICK_INCOMPLETE_SOXR_PATH)), caseName<HostileLibrary>);

} // namespace
} // namespace fennick::test
