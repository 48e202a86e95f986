#include "TestAudio.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fennick::test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "fennick-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

SampleFunction sine(double hertz, double sampleRate, double amplitude)
{
    return [=](std::int64_t frame, int channel) {
        constexpr double kTwoPi = 6.283185307179586;
        return static_cast<float>(amplitude * std::sin(kTwoPi * hertz * frame / sampleRate + 0.3 * channel));
    };
}

SampleFunction square(double hertz, double sampleRate, double amplitude)
{
    return [=](std::int64_t frame, int) {
        return static_cast<float>(std::fmod(frame * hertz / sampleRate, 1.0) < 0.5 ? amplitude : -amplitude);
    };
}

void writeAudioFile(
    const std::filesystem::path& path, const AudioSpec& spec, std::int64_t frames, const SampleFunction& sample)
{
    SF_INFO info{};
    info.samplerate = spec.sampleRate;
    info.channels = spec.channels;
    info.format = spec.format;
    std::vector<float> samples(static_cast<std::size_t>(frames * spec.channels));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = sample(std::int64_t(i) / spec.channels, int(i) % spec.channels);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw std::runtime_error(std::string("cannot write test file: ") + sf_strerror(nullptr));
    const bool written = sf_writef_float(file, samples.data(), frames) == frames;
    const std::string error = sf_strerror(file);
    sf_close(file);
    if (!written) throw std::runtime_error("cannot write test file: " + error);
}

AudioData readAudioFile(const std::filesystem::path& path)
{
    AudioData data;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &data.info);
    if (file == nullptr)
        throw std::runtime_error(std::string("cannot read ") + path.string() + ": " + sf_strerror(nullptr));
    data.samples.resize(static_cast<std::size_t>(data.info.frames * data.info.channels));
    const sf_count_t got = sf_readf_float(file, data.samples.data(), data.info.frames);
    sf_close(file);
    if (got != data.info.frames) throw std::runtime_error("short read of " + path.string());
    return data;
}

std::string fileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void damageWav(
    const std::filesystem::path& path, std::optional<std::uint32_t> dataSize, std::optional<std::size_t> keptAudioBytes)
{
    std::string bytes = fileBytes(path);
    const std::size_t sizeField = bytes.find("data", 12) + 4;
    if (dataSize) bytes.replace(sizeField, 4, le32(*dataSize));
    if (keptAudioBytes) bytes.resize(std::min(bytes.size(), sizeField + 4 + *keptAudioBytes));
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void insertChunks(const std::filesystem::path& path, const std::string& chunks)
{
    std::string bytes = fileBytes(path);
    bytes.insert(bytes.find("data", 12), chunks); // throws when there is none
    std::ofstream(path, std::ios::binary) << bytes.replace(4, 4, le32(std::uint32_t(bytes.size() - 8)));
}

std::vector<std::pair<std::string, std::string>> riffChunks(const std::string& file)
{
    std::vector<std::pair<std::string, std::string>> found;
    std::uint32_t size = 0;
    for (std::size_t at = 12; at + 8 <= file.size(); at += 8 + std::size_t(size) + size % 2) {
        std::memcpy(&size, file.data() + at + 4, 4); // little-endian, as the machines that run this are
        found.emplace_back(file.substr(at, 4), file.substr(at + 8, size));
    }
    return found;
}

int openDescriptorCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

std::vector<std::string> folderEntries(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace fennick::test
