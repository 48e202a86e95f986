#include "HostileInputs.h"

#include "TestAudio.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <stdexcept>

namespace fennick::test {

namespace {

void put16(std::string& out, std::uint16_t value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

void put32(std::string& out, std::uint32_t value)
{
    put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}

std::filesystem::path file(const std::filesystem::path& dir, const std::string& name, const std::string& bytes)
{
    writeBytes(dir / name, bytes);
    return dir / name;
}

} // namespace

std::string handMadeWav(std::uint16_t channels, std::uint32_t sampleRate, std::uint32_t presentFrames,
    std::optional<std::uint32_t> declaredDataBytes)
{
    const std::uint32_t blockAlign = 2u * channels;
    std::string data;
    for (std::uint32_t i = 0; i < presentFrames * channels; ++i) put16(data, static_cast<std::uint16_t>(i * 977));

    std::string body = "WAVEfmt ";
    put32(body, 16);
    put16(body, 1); // integer PCM
    put16(body, channels);
    put32(body, sampleRate);
    put32(body, sampleRate * blockAlign);
    put16(body, static_cast<std::uint16_t>(blockAlign));
    put16(body, 16);
    body += "data";
    put32(body, declaredDataBytes.value_or(static_cast<std::uint32_t>(data.size())));
    body += data;

    std::string riff = "RIFF";
    put32(riff, static_cast<std::uint32_t>(body.size()));
    return riff + body;
}

void writeBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

std::string snapshot(const std::filesystem::path& path)
{
    const auto status = std::filesystem::symlink_status(path);
    if (status.type() != std::filesystem::file_type::regular) return "type " + std::to_string(int(status.type()));
    return "file " + fileBytes(path);
}

std::vector<HostileSource> hostileSources()
{
    const std::string unknownFormat = "Format not recognised.";
    return {
        {"EmptyFile", [=](const auto& dir) { return file(dir, "empty.wav", ""); }, unknownFormat, unknownFormat},
        {"RandomBytes",
            [](const auto& dir) {
                std::mt19937 random(20261206); // fixed, so every run sees the same bytes
                std::string bytes(8192, '\0');
                for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
                return file(dir, "noise.wav", bytes);
            },
            unknownFormat, unknownFormat},
        {"TextFile", [=](const auto& dir) { return file(dir, "notes.wav", "These are not samples.\nJust words.\n"); },
            unknownFormat, unknownFormat},
        {"Directory",
            [](const auto& dir) {
                std::filesystem::create_directory(dir / "folder.wav");
                return dir / "folder.wav";
            },
            "Is a directory", "Is a directory"},
        {"MissingPath", [](const auto& dir) { return dir / "missing.wav"; }, "No such file or directory",
            "No such file or directory"},
        {"Fifo",
            [](const auto& dir) {
                ::mkfifo((dir / "pipe.wav").c_str(), 0600);
                return dir / "pipe.wav";
            },
            "Not a regular file.", "Not a regular file."},
        {"ZeroChannels", [](const auto& dir) { return file(dir, "zero-channels.wav", handMadeWav(0, 44100, 10)); },
            "Channel count is zero.", "Channel count is zero."},
        {"ZeroSampleRate", [](const auto& dir) { return file(dir, "zero-rate.wav", handMadeWav(2, 0, 10)); },
            "Internal error : SF_INFO struct incomplete.", "Internal error : SF_INFO struct incomplete."},
        {"OneHertz", [](const auto& dir) { return file(dir, "one-hertz.wav", handMadeWav(1, 1, 10)); }, "",
            "Resampling from 1 Hz to 44100 Hz is not supported: the ratio is too large."},
        {"AbsurdChannelCount", [](const auto& dir) { return file(dir, "channels.wav", handMadeWav(65535, 44100, 1)); },
            "Too many channels specified.", "Too many channels specified."},
        {"AbsurdChannelsAtALowRate",
            [](const auto& dir) { return file(dir, "low-rate.wav", handMadeWav(1024, 2000, 1)); }, "",
            "Resampling 1024 channels from 2000 Hz to 44100 Hz needs more memory than a conversion may use."},
        {"TruncatedDataChunk",
            [](const auto& dir) { return file(dir, "truncated.wav", handMadeWav(2, 44100, 3000, 4 * 1000000)); }, "",
            "", 3000},
    };
}

std::vector<HostileDestination> hostileDestinations()
{
    const std::string itself = "The destination is the source file itself; choose another file name.";
    return {
        {"MissingFolder", [](const auto& dir, const auto&) { return dir / "no-such-folder" / "out.wav"; },
            "No such file or directory"},
        {"ExistingFolder",
            [](const auto& dir, const auto&) {
                std::filesystem::create_directory(dir / "folder.wav");
                return dir / "folder.wav";
            },
            "Is a directory"},
        {"UnderARegularFile",
            [](const auto& dir, const auto&) { return file(dir, "plain.txt", "text") / "out.wav"; }, "Not a directory"},
        {"Unwritable",
            [](const auto& dir, const auto&) -> std::filesystem::path {
                // Root writes anywhere a mode allows; sysfs takes no new files from anyone.
                if (::geteuid() == 0) return "/sys/fennick-unwritable.wav";
                std::filesystem::create_directory(dir / "locked");
                std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
                return dir / "locked" / "out.wav";
            },
            "Permission denied"},
        {"Fifo",
            [](const auto& dir, const auto&) {
                ::mkfifo((dir / "pipe.wav").c_str(), 0600); // no reader: opening must not wait for one
                return dir / "pipe.wav";
            },
            "Not a regular file."},
        {"SourceItself", [](const auto&, const auto& source) { return source; }, itself},
        {"SymlinkToSource",
            [](const auto& dir, const auto& source) {
                std::filesystem::create_symlink(source, dir / "link.wav");
                return dir / "link.wav";
            },
            itself},
        {"FullDisk", [](const auto&, const auto&) { return std::filesystem::path("/dev/full"); },
            "No space left on device"},
    };
}

std::vector<HostileLibrary> hostileLibraries(const std::string& incompleteLibraryPath)
{
    return {
        {"Empty", [](const auto&) { return std::string(); }},
        {"RelativePath", [](const auto&) { return std::string("lib/libsoxr.so.0"); }},
        {"Directory", [](const auto& dir) { return dir.string(); }},
        {"TextFile", [](const auto& dir) { return file(dir, "libsoxr.so.0", "not a library\n").string(); }},
        {"LibraryWithoutTheSymbols", [=](const auto&) { return incompleteLibraryPath; }},
    };
}

} // namespace fennick::test
