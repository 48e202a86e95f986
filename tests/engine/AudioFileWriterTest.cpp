#include "EngineTestSupport.h"

#include "AudioBlock.h"
#include "AudioFileWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>

namespace fennick {
namespace {

using namespace fennick::test;

std::uint32_t le(const std::string& bytes, std::size_t at, int size = 4)
{
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(bytes.at(at + i));
    return value;
}

// Offset of a chunk's body in a RIFF file, or npos.
std::size_t findChunk(const std::string& bytes, const char* id)
{
    for (std::size_t at = 12; at + 8 <= bytes.size(); at += 8 + ((le(bytes, at + 4) + 1) & ~1u)) {
        if (bytes.compare(at, 4, id) == 0) return at + 8;
    }
    return std::string::npos;
}

std::unique_ptr<AudioBlock> zeroBlock(CommonFormat format, std::uint32_t channels, std::uint32_t frames)
{
    auto block = AudioBlock::make({format, 48000, channels}, frames);
    std::memset(block->mutableData(), 0, frames * block->format().bytesPerFrame());
    block->setFrameLength(frames);
    return block;
}

WriterSettings settingsFor(OutputFormat format, std::uint32_t channels)
{
    WriterSettings settings;
    settings.sampleRate = 48000;
    settings.numberOfChannels = channels;
    settings.bitDepth = bitsPerSample(format);
    settings.isFloat = isFloat(format);
    return settings;
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
    const auto path = dir / "out.wav";
    constexpr std::uint32_t kChannels = 3, kFrames = 5;
    const CommonFormat common = format == OutputFormat::int16 ? CommonFormat::int16 : CommonFormat::float32;
    AudioFileWriter writer(path, settingsFor(format, kChannels), common, expectedFrames);
    EXPECT_EQ(writer.isRF64(), rf64);
    EXPECT_EQ(fileBytes(path).substr(0, 4), rf64 ? "RF64" : "RIFF");
    writer.write(*zeroBlock(common, kChannels, kFrames));
    writer.close();

    // Small enough in the end: an RF64 file turns back into a plain WAV on closing.
    const std::string bytes = fileBytes(path);
    ASSERT_EQ(bytes.substr(0, 4) + bytes.substr(8, 4), "RIFFWAVE");
    EXPECT_EQ(le(bytes, 4), bytes.size() - 8);
    const std::size_t fmt = findChunk(bytes, "fmt "), data = findChunk(bytes, "data");
    ASSERT_NE(fmt, std::string::npos);
    ASSERT_NE(data, std::string::npos);
    // WAVE_FORMAT_IEEE_FLOAT or WAVE_FORMAT_PCM; a file that began as RF64 keeps its
    // WAVE_FORMAT_EXTENSIBLE description, whose sub-format carries the same code.
    const unsigned code = isFloat(format) ? 3 : 1, bytesPerSample = static_cast<unsigned>(bitsPerSample(format) / 8);
    EXPECT_EQ(le(bytes, fmt, 2), rf64 ? 0xFFFE : code);
    EXPECT_EQ(le(bytes, rf64 ? fmt + 24 : fmt, 2), code);
    EXPECT_EQ(le(bytes, fmt + 2, 2), kChannels);
    EXPECT_EQ(le(bytes, fmt + 4), 48000u);
    EXPECT_EQ(le(bytes, fmt + 8), 48000u * kChannels * bytesPerSample);
    EXPECT_EQ(le(bytes, fmt + 12, 2), kChannels * bytesPerSample);
    EXPECT_EQ(le(bytes, fmt + 14, 2), 8 * bytesPerSample);
    EXPECT_EQ(le(bytes, data - 4), kFrames * kChannels * bytesPerSample);
    EXPECT_EQ(readAudioFile(path).frames(), kFrames);
}

INSTANTIATE_TEST_SUITE_P(Formats, WriterHeader,
    // A WAV header describes at most 2^32 - 1 bytes: 3 channels of 32 bits pass it at 357913942
    // frames, of 24 bits at 477218589.
    ::testing::Values(HeaderCase{OutputFormat::int16, std::nullopt, false},
        HeaderCase{OutputFormat::int24, 1000, false}, HeaderCase{OutputFormat::float32, 300000000, false},
        HeaderCase{OutputFormat::float32, 357913942, true}, HeaderCase{OutputFormat::int24, 477218589, true},
        HeaderCase{OutputFormat::int16, std::int64_t{1} << 40, true}));

TEST(WriterInt24, RoundsToTheNearestStepAndClipsAtFullScale)
{
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    constexpr float kStep = 1.0f / 8388608;
    std::vector<float> samples = {0.0f, 1.0f, -1.0f, 1.5f, -1.5f, 1e9f, -1e9f, kInfinity, -kInfinity,
        8388607.5f * kStep, 0.5f * kStep, -0.5f * kStep, 1.5f * kStep, -2.5f * kStep};
    const std::vector<double> expectedSteps = {0, 8388607, -8388608, 8388607, -8388608, 8388607, -8388608, 8388607,
        -8388608, 8388607, 0, 0, 2, -2}; // ties go to the even step
    std::mt19937 random(7);
    std::uniform_real_distribution<float> anywhere(-1.0f, 1.0f);
    while (samples.size() < 40000) samples.push_back(anywhere(random)); // more than one staging chunk

    TempDir dir;
    AudioFileWriter writer(dir / "out.wav", settingsFor(OutputFormat::int24, 2), CommonFormat::float32);
    auto block = AudioBlock::make({CommonFormat::float32, 48000, 2}, 20000);
    std::memcpy(block->floatChannelData(), samples.data(), samples.size() * sizeof(float));
    block->setFrameLength(20000);
    writer.write(*block);
    writer.close();
    const AudioData stored = readAudioFile(dir / "out.wav");
    ASSERT_EQ(stored.samples.size(), samples.size());

    double errorSum = 0, worst = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double got = stored.samples[i] * 8388608.0;
        if (i < expectedSteps.size()) {
            EXPECT_EQ(got, expectedSteps[i]) << "sample " << i;
        } else {
            errorSum += got - samples[i] * 8388608.0;
            worst = std::max(worst, std::abs(got - samples[i] * 8388608.0));
        }
    }
    EXPECT_LE(worst, 0.5);
    EXPECT_LT(std::abs(errorSum / static_cast<double>(samples.size())), 0.01);
}

TEST(AudioBlock, IsNothingRatherThanACrashWhenItCannotBeMade)
{
    EXPECT_FALSE(AudioBlock::make({CommonFormat::float32, 48000, 2}, 0));
    EXPECT_FALSE(AudioBlock::make({CommonFormat::float32, 48000, 0}, 1024));
    EXPECT_FALSE(AudioBlock::make({CommonFormat::float32, 48000, 0xFFFFFFFFu}, 0xFFFFFFFFu));
    EXPECT_FALSE(AudioBlock::make({CommonFormat::float32, 48000, 1024}, 0x7FFFFFFFu));
    auto block = AudioBlock::make({CommonFormat::int16, 48000, 2}, 4);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->floatChannelData(), nullptr);
    block->setFrameLength(9);
    EXPECT_EQ(block->frameLength(), 4u);
}

} // namespace
} // namespace fennick
