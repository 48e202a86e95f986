// FENNICK_LIBSOXR values that bind nothing: the linked libsoxr is used and converting works. Each
// case needs the binding's first access, so each runs in a process of its own.

#include "FennickEngine.h"
#include "SoxrApi.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fennick::test {
namespace {

class EngineHostileLibrary : public ::testing::TestWithParam<const char*> { };

TEST_P(EngineHostileLibrary, FallsBackToTheLinkedLibsoxr)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "folder");
    std::ofstream(dir / "text.so") << "not a library\n";
    const std::string value = GetParam()[0] == '@' ? (dir / (GetParam() + 1)).string() : GetParam();
    ::setenv("FENNICK_LIBSOXR", value.c_str(), 1);
    writeAudioFile(dir / "take.wav", {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 144000, sine(440, 48000));
    const int descriptors = openDescriptorCount();

    convertWav(dir / "take.wav", dir / "out.wav", 44100.0, OutputFormat::int16, {});
    // An empty value makes dlopen hand back the program itself, whose names are the linked ones.
    EXPECT_EQ(SoxrApi::shared().soxr_create, &::soxr_create);
    EXPECT_EQ(readAudioFile(dir / "out.wav").frames(), 144000 * 441 / 480);
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

const char* const kNames[] = {"Empty", "RelativePath", "Directory", "TextFile", "LibraryWithoutTheSymbols"};
// "@name": that entry of the test's folder.
INSTANTIATE_TEST_SUITE_P(Libraries, EngineHostileLibrary,
    ::testing::Values("", "lib/libsoxr.so.0", "@folder", "@text.so", FENNICK_INCOMPLETE_SOXR_PATH),
    [](const auto& info) { return std::string(kNames[info.index]); });

} // namespace
} // namespace fennick::test
