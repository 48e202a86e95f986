// The WAV writer's choices that no conversion table shows: the format chunk for each format and
// layout, RF64 only when the data may outgrow a plain WAV, and 24-bit samples rounded and clipped, never wrapped, and
// counted when clipped.

#include "EngineTestSupport.h"

#include "AudioBlock.h"
#include "AudioFileWriter.h"
#include "FennickEngine.h"
#include "GroupQuantiser.h"

#include <fcntl.h>

#include <cstring>
#include <limits>

namespace fennick {
namespace {

using namespace fennick::test;

FileDescriptor create(const std::filesystem::path& path)
{
    return FileDescriptor(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

// Little-endian 16 or 32 bits of a file's bytes.
std::uint32_t field(const std::string& bytes, std::size_t at, int size)
{
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | std::uint8_t(bytes[at + i]);
    return value;
}

TEST(AudioFileWriter, WritesTheHeaderItsFormatAndLayoutNeedAndRf64OnlyWhenTheDataMayOutgrowAWav)
{
    // A WAV header describes at most 2^32 - 1 bytes: 3 channels of 32 bits pass it at 357913942
    // frames, of 24 bits at 477218589. Small enough in the end, an RF64 file turns back into a WAV.
    // Format tag 1 is plain PCM, 0xFFFE WAVE_FORMAT_EXTENSIBLE, whose subformat is 1 (PCM), 3
    // (float) or B-format's own (libsndfile's ambisonic flag); 6 channels without a layout must not
    // get the 5.1 mask libsndfile would guess.
    using F = OutputFormat;
    constexpr std::uint32_t kPlain = 0xFFFFFFFF;
    const struct {
        std::uint32_t channels;
        F format;
        std::int64_t expectedFrames;
        ChannelLayout layout;
        std::uint32_t mask; // kPlain: a plain format chunk
    } cases[] = {{1, F::int16, 0, {}, kPlain}, {2, F::int16, 0, {}, kPlain}, {2, F::int16, 0, {0x3}, 0x3},
        {1, F::int24, 0, {}, 0x4}, {2, F::float32, 0, {}, 0x3}, {6, F::int16, 0, {}, 0}, {4, F::int24, 0, {}, 0},
        {8, F::float32, 0, {}, 0}, {6, F::int24, 0, {0x60F}, 0x60F}, {3, F::int16, 0, {0x103}, 0x103},
        {4, F::float32, 0, {0x7}, 0x7}, {4, F::int24, 0, {0, true}, 0}, {3, F::float32, 300000000, {0xB}, 0xB},
        {3, F::float32, 357913942, {0xB}, 0xB}, {6, F::int24, 477218589, {}, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels, " + std::string(rawValue(c.format)) + ", mask "
            + std::to_string(c.layout.mask) + ", " + std::to_string(c.expectedFrames));
        TempDir dir;
        const auto path = dir / "out.wav";
        AudioFileWriter writer(create(path), 48000, c.channels, c.format, c.expectedFrames, c.layout);
        const bool rf64 = c.expectedFrames > 300000000;
        EXPECT_EQ(fileBytes(path).substr(0, 4), rf64 ? "RF64" : "RIFF");
        auto block = AudioBlock::make(writer.blockFormat(), 5);
        std::memset(block->data(), 0, 5 * block->format().bytesPerFrame());
        block->setFrameLength(5);
        writer.write(*block);
        writer.close();

        std::string fmt;
        for (const auto& [id, bytes] : riffChunks(fileBytes(path))) {
            if (id == "fmt ") fmt = bytes;
        }
        const bool plain = c.mask == kPlain;
        ASSERT_EQ(fmt.size(), plain ? 16u : 40u);
        EXPECT_EQ(field(fmt, 0, 2), plain ? 1u : 0xFFFEu);
        EXPECT_EQ(field(fmt, 14, 2), static_cast<std::uint32_t>(bitsPerSample(c.format)));
        if (!plain) {
            EXPECT_EQ(field(fmt, 16, 2), 22u); // cbSize
            EXPECT_EQ(field(fmt, 18, 2), static_cast<std::uint32_t>(bitsPerSample(c.format))); // valid bits
            EXPECT_EQ(field(fmt, 20, 4), c.mask);
            EXPECT_EQ(field(fmt, 24, 2), c.format == F::float32 ? 3u : 1u); // the subformat GUID's first field
        }
        SF_INFO info{};
        SNDFILE* stored = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(sf_command(stored, SFC_WAVEX_GET_AMBISONIC, nullptr, 0),
            c.layout.ambisonic ? SF_AMBISONIC_B_FORMAT : SF_AMBISONIC_NONE);
        EXPECT_EQ(info.frames, 5);
        sf_close(stored);
    }
}

TEST(AudioFileWriter, RoundsInt24ToTheNearestStepAndClipsAtFullScaleInGroupsAndAlone)
{
    constexpr float kStep = 1.0f / 8388608, kInfinity = std::numeric_limits<float>::infinity();
    // Sixteen samples and the steps they must become (ties to even); the writer packs whole
    // groups of samples apart from the rest, so they go once as one block and once one by one.
    const std::pair<float, double> cases[16] = {{0.0f, 0}, {1.0f, 8388607}, {-1.0f, -8388608}, {1.5f, 8388607},
        {-1.5f, -8388608}, {1e9f, 8388607}, {kInfinity, 8388607}, {-kInfinity, -8388608},
        {std::numeric_limits<float>::quiet_NaN(), 0}, {8388607.5f * kStep, 8388607}, {0.5f * kStep, 0},
        {-0.5f * kStep, 0}, {1.5f * kStep, 2}, {-2.5f * kStep, -2}, {0.3f * kStep, 0}, {-0.7f * kStep, -1}};
    TempDir dir;
    AudioFileWriter writer(create(dir / "out.wav"), 48000, 1, OutputFormat::int24);
    GroupQuantiser meter(OutputFormat::int24, Dither::none, 48000, 0, 1, 1);
    meter.start(0);
    auto block = AudioBlock::make(writer.blockFormat(), 16);
    for (std::uint32_t frames : {16u, 1u}) {
        for (std::size_t at = 0; at < 16; at += frames) {
            for (std::uint32_t i = 0; i < frames; ++i) block->floatSamples()[i] = cases[at + i].first;
            block->setFrameLength(frames);
            writer.write(*meter.quantise(*block, 0, 1.0f));
        }
    }
    writer.close();
    EXPECT_EQ(meter.clips(), 14u); // the seven the clamp changes, twice
    const AudioData stored = readAudioFile(dir / "out.wav");
    ASSERT_EQ(stored.samples.size(), 32u);
    for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(stored.samples[i] * 8388608.0, cases[i % 16].second) << i;
}

} // namespace
} // namespace fennick
