#pragma once

// Real WAV (and other) files for tests, written and read back through libsndfile.

#include <sndfile.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fennick::test {

// A fresh directory under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct AudioSpec {
    int sampleRate = 44100;
    int channels = 2;
    int format = SF_FORMAT_WAV | SF_FORMAT_PCM_24; // libsndfile major | subtype
};

// Sample value of (frame, channel), full scale ±1.0.
using SampleFunction = std::function<float(std::int64_t frame, int channel)>;

// A sine of `hertz` at `amplitude`, a little phase offset per channel so channels differ.
SampleFunction sine(double hertz, double sampleRate, double amplitude = 0.5);

// A square wave of `hertz` swinging between ±amplitude: at full scale, resampling overshoots it.
SampleFunction square(double hertz, double sampleRate, double amplitude = 1.0);

// Writes `frames` frames; throws std::runtime_error with libsndfile's text on failure.
void writeAudioFile(
    const std::filesystem::path& path, const AudioSpec& spec, std::int64_t frames, const SampleFunction& sample);

struct AudioData {
    SF_INFO info{};
    std::vector<float> samples; // interleaved
    std::int64_t frames() const { return info.frames; }
};

// Reads a whole file as float; throws std::runtime_error on failure.
AudioData readAudioFile(const std::filesystem::path& path);

// The whole file's bytes, for checking that a source was left untouched.
std::string fileBytes(const std::filesystem::path& path);

// Metadata written chunk by chunk. `le32` is four little-endian bytes; a chunk is its id, size,
// bytes and the pad byte an odd size needs.
inline std::string le32(std::uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
inline std::string riffChunk(const std::string& id, const std::string& bytes)
{
    return id + le32(std::uint32_t(bytes.size())) + bytes + std::string(bytes.size() % 2, '\0');
}
// Puts `chunks` in the WAV at `path` just before its data chunk.
void insertChunks(const std::filesystem::path& path, const std::string& chunks);

// A WAV left as a recorder that stopped short leaves it: its data size replaced by `dataSize` (0:
// never written), and the file cut after `keptAudioBytes` of audio.
void damageWav(const std::filesystem::path& path, std::optional<std::uint32_t> dataSize,
    std::optional<std::size_t> keptAudioBytes = std::nullopt);
// The top-level chunks of a RIFF or RF64 file's bytes, in order: id and bytes (one cut short is
// given as far as it goes).
std::vector<std::pair<std::string, std::string>> riffChunks(const std::string& file);

// Number of open file descriptors of this process.
int openDescriptorCount();

// The names in a folder, sorted: a leftover temporary file shows here.
std::vector<std::string> folderEntries(const std::filesystem::path& folder);

} // namespace fennick::test
