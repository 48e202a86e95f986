#include "EngineTestSupport.h"

#include "AudioBlock.h"
#include "AudioFileWriter.h"
#include "ConversionSettings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace fennick {
namespace {

using namespace fennick::test;

std::uint32_t le(const std::string& bytes, std::size_t at, int size)
{
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(bytes.at(at + i));
    return value;
}

// Offset of the body of the first chunk named `id` in a RIFF file.
std::size_t findChunk(const std::string& bytes, const char* id)
{
    std::size_t at = 12;
    while (bytes.compare(at, 4, id) != 0) at += 8 + ((le(bytes, at + 4, 4) + 1) & ~1u);
    return at + 8;
}

// Writes `samples` as one block of a 48 kHz file of `format`.
void writeFile(const std::filesystem::path& path, OutputFormat format, std::uint32_t channels,
    const std::vector<float>& samples, std::optional<std::int64_t> expectedFrames = std::nullopt)
{
    const CommonFormat common = format == OutputFormat::int16 ? CommonFormat::int16 : CommonFormat::float32;
    const WriterSettings settings{
        .sampleRate = 48000, .numberOfChannels = channels, .bitDepth = bitsPerSample(format), .isFloat = isFloat(format)};
    AudioFileWriter writer(path, settings, common, expectedFrames);
    EXPECT_EQ(fileBytes(path).substr(0, 4), writer.isRF64() ? "RF64" : "RIFF");
    const auto frames = static_cast<std::uint32_t>(samples.size() / channels);
    auto block = AudioBlock::make({common, 48000, channels}, frames);
    std::memset(block->mutableData(), 0, frames * block->format().bytesPerFrame());
    if (common == CommonFormat::float32) std::memcpy(block->mutableData(), samples.data(), samples.size() * 4);
    block->setFrameLength(frames);
    writer.write(*block);
    writer.close();
}

struct HeaderCase {
    OutputFormat format;
    std::optional<std::int64_t> expectedFrames;
    bool rf64;
};
void PrintTo(const HeaderCase& c, std::ostream* out) { *out << rawValue(c.format) << (c.rf64 ? " RF64" : ""); }

class WriterHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(WriterHeader, IsAPlainWavUnlessTheDataMayOutgrowIt)
{
    const auto [format, expectedFrames, rf64] = GetParam();
    TempDir dir;
    writeFile(dir / "out.wav", format, 3, std::vector<float>(15), expectedFrames);

    // Small enough in the end: an RF64 file turns back into a WAV on closing, whose
    // WAVE_FORMAT_EXTENSIBLE header carries the plain format code in its sub-format.
    const std::string bytes = fileBytes(dir / "out.wav");
    EXPECT_EQ(bytes.substr(0, 4) + bytes.substr(8, 4), "RIFFWAVE");
    const std::size_t fmt = findChunk(bytes, "fmt ");
    const unsigned code = isFloat(format) ? 3 : 1; // WAVE_FORMAT_IEEE_FLOAT or WAVE_FORMAT_PCM
    EXPECT_EQ(le(bytes, fmt, 2), rf64 ? 0xFFFE : code);
    EXPECT_EQ(le(bytes, rf64 ? fmt + 24 : fmt, 2), code);
    const AudioData stored = readAudioFile(dir / "out.wav");
    const int subtype = std::array{SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_FLOAT}[ordinal(format)];
    EXPECT_EQ(stored.info.format, (rf64 ? SF_FORMAT_WAVEX : SF_FORMAT_WAV) | subtype);
    EXPECT_EQ(stored.info.channels, 3);
    EXPECT_EQ(stored.info.samplerate, 48000);
    EXPECT_EQ(stored.frames(), 5);
}

INSTANTIATE_TEST_SUITE_P(Formats, WriterHeader,
    // A WAV header describes at most 2^32 - 1 bytes: 3 channels of 32 bits pass it at 357913942
    // frames, of 24 bits at 477218589.
    ::testing::Values(HeaderCase{OutputFormat::int16, std::nullopt, false},
        HeaderCase{OutputFormat::int24, 1000, false}, HeaderCase{OutputFormat::float32, 300000000, false},
        HeaderCase{OutputFormat::float32, 357913942, true}, HeaderCase{OutputFormat::int24, 477218589, true}));

TEST(WriterInt24, RoundsToTheNearestStepAndClipsAtFullScale)
{
    constexpr float kStep = 1.0f / 8388608, kInfinity = std::numeric_limits<float>::infinity();
    // Each sample and the step it must become; ties go to the even step.
    const std::vector<std::pair<float, double>> cases = {{0.0f, 0}, {1.0f, 8388607}, {-1.0f, -8388608},
        {1.5f, 8388607}, {-1e9f, -8388608}, {kInfinity, 8388607}, {-kInfinity, -8388608},
        {8388607.5f * kStep, 8388607}, {0.5f * kStep, 0}, {1.5f * kStep, 2}, {-2.5f * kStep, -2}, {0.3f * kStep, 0},
        {-0.7f * kStep, -1}};
    std::vector<float> samples;
    for (const auto& [sample, step] : cases) samples.push_back(sample);
    TempDir dir;
    writeFile(dir / "out.wav", OutputFormat::int24, 1, samples);
    const AudioData stored = readAudioFile(dir / "out.wav");
    ASSERT_EQ(stored.samples.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(stored.samples[i] * 8388608.0, cases[i].second) << "sample " << cases[i].first;
    }
}

} // namespace
} // namespace fennick
