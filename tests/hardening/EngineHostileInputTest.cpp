// The engine under hostile sources and destinations: a clear error (or the promised success), the
// source untouched, and no descriptor or resampler left behind (every case starts with a fresh
// record of the engine's libsoxr calls).

#include "EngineTestSupport.h"
#include "FennickEngine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <random>

namespace fennick::test {
namespace {

using Path = std::filesystem::path;

// Little-endian, as RIFF wants.
void put(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A 16-bit PCM WAV with a hand-made header; the data chunk holds `presentFrames` frames whatever
// `declaredDataBytes` (default: the bytes present) claims.
std::string handMadeWav(std::uint16_t channels, std::uint32_t sampleRate, std::uint32_t presentFrames,
    std::optional<std::uint32_t> declaredDataBytes = std::nullopt)
{
    std::string data;
    for (std::uint32_t i = 0; i < presentFrames * channels; ++i) put(data, (i * 977) & 0xFFFF, 2);
    std::string body = "WAVEfmt ";
    put(body, 16, 4);
    put(body, 1, 2); // integer PCM
    put(body, channels, 2);
    put(body, sampleRate, 4);
    put(body, sampleRate * 2u * channels, 4);
    put(body, 2u * channels, 2);
    put(body, 16, 2);
    body += "data";
    put(body, declaredDataBytes.value_or(static_cast<std::uint32_t>(data.size())), 4);
    std::string riff = "RIFF";
    put(riff, static_cast<std::uint32_t>(body.size() + data.size()), 4);
    return riff + body + data;
}

Path file(const Path& dir, const std::string& name, const std::string& bytes)
{
    std::ofstream(dir / name, std::ios::binary) << bytes;
    return dir / name;
}

Path folder(const Path& dir, const std::string& name)
{
    std::filesystem::create_directory(dir / name);
    return dir / name;
}

Path fifo(const Path& dir)
{
    ::mkfifo((dir / "pipe.wav").c_str(), 0600); // no writer or reader: opening must not wait for one
    return dir / "pipe.wav";
}

// The kind of what is at `path` and, for a regular file, every byte.
std::string snapshot(const Path& path)
{
    const auto type = std::filesystem::symlink_status(path).type();
    if (type != std::filesystem::file_type::regular) return "type " + std::to_string(int(type));
    return "file " + fileBytes(path);
}

// Where the wording is libsndfile's, not ours, only its properties are checked.
const std::string kLibsndfileWords = "<libsndfile's own sentence>";
void expectError(const std::string& actual, const std::string& expected)
{
    if (expected != kLibsndfileWords) {
        EXPECT_EQ(actual, expected);
        return;
    }
    // A sentence, and not the library's own "internal error" wording that reads as a bug.
    EXPECT_TRUE(actual.size() > 1 && actual.back() == '.') << actual;
    EXPECT_EQ(actual.find("nternal"), std::string::npos) << actual;
}

// The engine's own error for a quick conversion to 44.1 kHz, or "" when it succeeds. Anything
// else thrown (bad_alloc, filesystem_error, …) escapes and fails the test.
std::string convertError(const Path& source, const Path& destination)
{
    try {
        convertWav(
            source, destination, 44100.0, OutputFormat::int16, {.precision = ConversionOptions::Precision::quick});
    } catch (const AudioFileError& error) {
        return error.what();
    } catch (const ConversionError& error) {
        return error.what();
    } catch (const SoxrError& error) {
        return error.what();
    }
    return "";
}

struct HostileSource {
    std::string name;
    std::function<Path(const Path& dir)> make; // may make a folder, or nothing at all
    std::string error; // empty when converting succeeds…
    std::int64_t presentFrames = 0; // …with the frames the file really holds
};
void PrintTo(const HostileSource& hostile, std::ostream* out) { *out << hostile.name; }

std::vector<HostileSource> hostileSources()
{
    const std::string& unknown = kLibsndfileWords;
    std::mt19937 random(20261206); // fixed, so every run sees the same bytes
    std::string noise(8192, '\0');
    for (char& byte : noise) byte = static_cast<char>(random() & 0xFF);
    const auto wav
        = [](std::string name, std::string bytes) { return [=](const Path& dir) { return file(dir, name, bytes); }; };
    // Hostile metadata (an iXML claiming 100 MB, a cue count beyond its chunk, a short bext, strings
    // without an end, more than a header holds) is in the fuzzer's corpus, replayed by FuzzRegression.
    return {
        {"EmptyFile", wav("empty.wav", ""), unknown},
        {"RandomBytes", wav("noise.wav", noise), unknown},
        {"TextFile", wav("notes.wav", "These are not samples.\nJust words.\n"), unknown},
        {"Directory", [](const Path& dir) { return folder(dir, "folder.wav"); }, "Is a directory"},
        {"MissingPath", [](const Path& dir) { return dir / "missing.wav"; }, "No such file or directory"},
        {"Fifo", fifo, "Not a regular file."},
        {"ZeroChannels", wav("zero-channels.wav", handMadeWav(0, 44100, 10)), unknown},
        {"ZeroSampleRate", wav("zero-rate.wav", handMadeWav(2, 0, 10)),
            "The file's header gives no valid sample rate or channel count."},
        {"AbsurdChannelCount", wav("channels.wav", handMadeWav(65535, 44100, 1)), unknown},
        {"OneHertz", wav("one-hertz.wav", handMadeWav(1, 1, 10)),
            "Resampling from 1 Hz to 44100 Hz is not supported: the ratio is too large."},
        {"AbsurdChannelsAtALowRate", wav("low-rate.wav", handMadeWav(1024, 2000, 1)),
            "Resampling 1024 channels from 2000 Hz to 44100 Hz needs more memory than a conversion may use."},
        {"TruncatedDataChunk", wav("truncated.wav", handMadeWav(2, 44100, 3000, 4 * 1000000)), "", 3000},
    };
}

class EngineHostileSource : public EngineTest, public ::testing::WithParamInterface<HostileSource> { };

TEST_P(EngineHostileSource, FailsClearlyOrConvertsWhatIsThere)
{
    TempDir dir;
    const auto source = GetParam().make(dir.path());
    const auto destination = dir / "out.wav";
    const std::string before = snapshot(source);
    const int descriptors = openDescriptorCount();

    expectError(convertError(source, destination), GetParam().error);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_EQ(soxrRecord.creates, soxrRecord.deletes);
    EXPECT_EQ(snapshot(source), before);
    if (GetParam().error.empty()) {
        EXPECT_EQ(readAudioFile(destination).frames(), GetParam().presentFrames); // same rate in and out
    } else {
        EXPECT_FALSE(std::filesystem::exists(destination)); // refused before the destination was opened
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, EngineHostileSource, ::testing::ValuesIn(hostileSources()),
    [](const auto& info) { return info.param.name; });

struct HostileDestination {
    std::string name;
    std::function<Path(const Path& dir, const Path& source)> make;
    std::string error;
};
void PrintTo(const HostileDestination& hostile, std::ostream* out) { *out << hostile.name; }

std::vector<HostileDestination> hostileDestinations()
{
    const std::string itself = "The destination is the source file itself; choose another file name.";
    return {
        {"MissingFolder", [](const Path& dir, const Path&) { return dir / "no-such-folder" / "out.wav"; },
            "No such file or directory"},
        {"ExistingFolder", [](const Path& dir, const Path&) { return folder(dir, "folder.wav"); }, "Is a directory"},
        {"UnderARegularFile", [](const Path& dir, const Path&) { return file(dir, "plain.txt", "text") / "out.wav"; },
            "Not a directory"},
        {"Unwritable",
            [](const Path& dir, const Path&) -> Path {
                // Root writes anywhere a mode allows; sysfs takes no new files from anyone.
                if (::geteuid() == 0) return "/sys/fennick-unwritable.wav";
                std::filesystem::permissions(
                    folder(dir, "locked"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
                return dir / "locked" / "out.wav";
            },
            "Permission denied"},
        {"Fifo", [](const Path& dir, const Path&) { return fifo(dir); }, "Not a regular file."},
        {"SourceItself", [](const Path&, const Path& source) { return source; }, itself},
        {"SymlinkToSource",
            [](const Path& dir, const Path& source) {
                std::filesystem::create_symlink(source, dir / "link.wav");
                return dir / "link.wav";
            },
            itself},
        {"FullDisk", [](const Path&, const Path&) { return Path("/dev/full"); }, "No space left on device"},
    };
}

class EngineHostileDestination : public EngineTest, public ::testing::WithParamInterface<HostileDestination> { };

TEST_P(EngineHostileDestination, FailsClearlyAndReleasesEverything)
{
    TempDir dir;
    const auto source = dir / "take.wav";
    writeAudioFile(source, {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 144000, sine(440, 48000));
    const auto destination = GetParam().make(dir.path(), source);
    const std::string before = fileBytes(source);
    const int descriptors = openDescriptorCount();

    EXPECT_EQ(convertError(source, destination), GetParam().error);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_EQ(soxrRecord.creates, soxrRecord.deletes);
    EXPECT_EQ(fileBytes(source), before);
}

INSTANTIATE_TEST_SUITE_P(Destinations, EngineHostileDestination, ::testing::ValuesIn(hostileDestinations()),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace fennick::test
