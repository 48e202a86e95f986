#include "HostileInputs.h"

#include "TestAudio.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <stdexcept>

namespace fennick::test {

namespace {

// Little-endian, as RIFF wants.
void put(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

Path file(const Path& dir, const std::string& name, const std::string& bytes)
{
    std::ofstream out(dir / name, std::ios::binary);
    if (!(out << bytes).flush()) throw std::runtime_error("cannot write " + name);
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

} // namespace

std::string handMadeWav(std::uint16_t channels, std::uint32_t sampleRate, std::uint32_t presentFrames,
    std::optional<std::uint32_t> declaredDataBytes)
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

std::string snapshot(const Path& path)
{
    const auto type = std::filesystem::symlink_status(path).type();
    if (type != std::filesystem::file_type::regular) return "type " + std::to_string(int(type));
    return "file " + fileBytes(path);
}

Path writeGoodSource(const Path& dir)
{
    writeAudioFile(dir / "take.wav", {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, kGoodSourceFrames, sine(440, 48000));
    return dir / "take.wav";
}

std::vector<HostileSource> hostileSources()
{
    const std::string& unknown = kLibsndfileWords;
    std::mt19937 random(20261206); // fixed, so every run sees the same bytes
    std::string noise(8192, '\0');
    for (char& byte : noise) byte = static_cast<char>(random() & 0xFF);
    const auto wav
        = [](std::string name, std::string bytes) { return [=](const Path& dir) { return file(dir, name, bytes); }; };
    const auto refused = [](std::string name, std::function<Path(const Path&)> make, std::string error) {
        return HostileSource{name, make, error, error};
    };
    return {
        refused("EmptyFile", wav("empty.wav", ""), unknown),
        refused("RandomBytes", wav("noise.wav", noise), unknown),
        refused("TextFile", wav("notes.wav", "These are not samples.\nJust words.\n"), unknown),
        refused(
            "Directory", [](const Path& dir) { return folder(dir, "folder.wav"); }, "Is a directory"),
        refused(
            "MissingPath", [](const Path& dir) { return dir / "missing.wav"; }, "No such file or directory"),
        refused("Fifo", fifo, "Not a regular file."),
        refused("ZeroChannels", wav("zero-channels.wav", handMadeWav(0, 44100, 10)), unknown),
        refused("ZeroSampleRate", wav("zero-rate.wav", handMadeWav(2, 0, 10)),
            "The file's header gives no valid sample rate or channel count."),
        refused("AbsurdChannelCount", wav("channels.wav", handMadeWav(65535, 44100, 1)), unknown),
        {"OneHertz", wav("one-hertz.wav", handMadeWav(1, 1, 10)), "",
            "Resampling from 1 Hz to 44100 Hz is not supported: the ratio is too large."},
        {"AbsurdChannelsAtALowRate", wav("low-rate.wav", handMadeWav(1024, 2000, 1)), "",
            "Resampling 1024 channels from 2000 Hz to 44100 Hz needs more memory than a conversion may use."},
        {"TruncatedDataChunk", wav("truncated.wav", handMadeWav(2, 44100, 3000, 4 * 1000000)), "", "", 3000},
    };
}

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

std::vector<HostileLibrary> hostileLibraries(const std::string& incompleteLibraryPath)
{
    const auto value = [](std::string text) { return [=](const Path&) { return text; }; };
    return {
        {"Empty", value("")},
        {"RelativePath", value("lib/libsoxr.so.0")},
        {"Directory", [](const Path& dir) { return dir.string(); }},
        {"TextFile", [](const Path& dir) { return file(dir, "libsoxr.so.0", "not a library\n").string(); }},
        {"LibraryWithoutTheSymbols", value(incompleteLibraryPath)},
    };
}

} // namespace fennick::test
