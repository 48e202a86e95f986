#pragma once

// The hostile sources, destinations and libsoxr values that every layer (engine, converter,
// window) must turn into a clear error without crashing, hanging or touching the source.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fennick::test {

using Path = std::filesystem::path;

// Rate every conversion of the hostile matrix asks for.
inline constexpr double kHostileTargetRate = 44100.0;

// A 16-bit PCM WAV with a hand-made header; the data chunk holds `presentFrames` frames whatever
// `declaredDataBytes` (default: the bytes present) claims.
std::string handMadeWav(std::uint16_t channels, std::uint32_t sampleRate, std::uint32_t presentFrames,
    std::optional<std::uint32_t> declaredDataBytes = std::nullopt);

// The kind of what is at `path` and, for a regular file, every byte: equal before and after a
// case means the source was left as it was.
std::string snapshot(const Path& path);

// A well-formed 2-channel 24-bit 48 kHz source of kGoodSourceFrames (three input blocks).
inline constexpr std::int64_t kGoodSourceFrames = 144000;
Path writeGoodSource(const Path& dir);

// Where the wording is libsndfile's, not ours, only its properties are checked (expectError).
inline const std::string kLibsndfileWords = "<libsndfile's own sentence>";
inline void expectError(const std::string& actual, const std::string& expected)
{
    if (expected != kLibsndfileWords) {
        EXPECT_EQ(actual, expected);
        return;
    }
    // A sentence, and not the library's own "internal error" wording that reads as a bug.
    EXPECT_TRUE(actual.size() > 1 && actual.back() == '.') << actual;
    EXPECT_EQ(actual.find("nternal"), std::string::npos) << actual;
}

struct HostileSource {
    std::string name;
    std::function<Path(const Path& dir)> make; // may make a folder, or nothing at all
    std::string readError; // empty when the header reads
    std::string convertError; // empty when converting succeeds…
    std::int64_t presentFrames = 0; // …with the frames the file really holds
};
std::vector<HostileSource> hostileSources();

struct HostileDestination {
    std::string name;
    std::function<Path(const Path& dir, const Path& source)> make;
    std::string error;
};
std::vector<HostileDestination> hostileDestinations();

// Values of FENNICK_LIBSOXR that bind nothing.
struct HostileLibrary {
    std::string name;
    std::function<std::string(const Path& dir)> make;
};
std::vector<HostileLibrary> hostileLibraries(const std::string& incompleteLibraryPath);

// Test names and failure messages show the case's name, not its bytes.
template <typename Case> std::string caseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }
inline void PrintTo(const HostileSource& hostile, std::ostream* out) { *out << hostile.name; }
inline void PrintTo(const HostileDestination& hostile, std::ostream* out) { *out << hostile.name; }
inline void PrintTo(const HostileLibrary& hostile, std::ostream* out) { *out << hostile.name; }

} // namespace fennick::test
