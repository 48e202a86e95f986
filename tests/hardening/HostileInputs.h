#pragma once

// The hostile sources and destinations that every layer (engine, converter, window) must turn
// into a clear error without crashing, hanging or touching the source.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <optional>
#include <string>
#include <vector>

namespace fennick::test {

// The bytes of a 16-bit PCM WAV with a hand-made header. The data chunk holds `presentFrames`
// frames whatever the header says; `declaredDataBytes` (default: the bytes present) may claim more.
std::string handMadeWav(std::uint16_t channels, std::uint32_t sampleRate, std::uint32_t presentFrames,
    std::optional<std::uint32_t> declaredDataBytes = std::nullopt);

void writeBytes(const std::filesystem::path& path, const std::string& bytes);

// What is at `path`: its kind and, for a regular file, every byte; equal before and after a
// case means the source was left as it was.
std::string snapshot(const std::filesystem::path& path);

// Rate every conversion of the hostile matrix asks for.
inline constexpr double kHostileTargetRate = 44100.0;

struct HostileSource {
    std::string name;
    // Puts the source into `dir` and returns its path (which may be a folder or not exist).
    std::function<std::filesystem::path(const std::filesystem::path& dir)> make;
    // Reading the header fails with this text; empty when the header reads.
    std::string readError;
    // Converting fails with this text; empty when it succeeds.
    std::string convertError;
    // For a source that converts: the frames it really holds.
    std::int64_t presentFrames = 0;
};

std::vector<HostileSource> hostileSources();

struct HostileDestination {
    std::string name;
    // Returns the destination for `source` in `dir`.
    std::function<std::filesystem::path(const std::filesystem::path& dir, const std::filesystem::path& source)> make;
    std::string error;
};

// A well-formed 2-channel 24-bit source of this many frames, three input blocks long.
inline constexpr std::int64_t kGoodSourceFrames = 150000;
std::vector<HostileDestination> hostileDestinations();

// Values of FENNICK_LIBSOXR that bind nothing, each with a name for the test.
struct HostileLibrary {
    std::string name;
    std::function<std::string(const std::filesystem::path& dir)> make;
};
std::vector<HostileLibrary> hostileLibraries(const std::string& incompleteLibraryPath);

// Test names show the case's name, not its bytes.
inline void PrintTo(const HostileSource& hostile, std::ostream* out) { *out << hostile.name; }
inline void PrintTo(const HostileDestination& hostile, std::ostream* out) { *out << hostile.name; }
inline void PrintTo(const HostileLibrary& hostile, std::ostream* out) { *out << hostile.name; }

} // namespace fennick::test
