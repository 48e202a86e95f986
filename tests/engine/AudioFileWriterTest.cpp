// The WAV writer's choices that no conversion table shows: RF64 only when the data may outgrow a
// plain WAV, and 24-bit samples rounded and clipped, never wrapped, and counted when clipped.

#include "EngineTestSupport.h"

#include "AudioBlock.h"
#include "AudioFileWriter.h"
#include "ClipMeter.h"
#include "FennickEngine.h"

#include <fcntl.h>

#include <cstring>
#include <limits>

namespace fennick {
namespace {

using namespace fennick::test;

FileDescriptor create(const std::filesystem::path& path)
{
    return FileDescriptor(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

TEST(AudioFileWriter, IsAPlainWavUnlessTheDataMayOutgrowIt)
{
    // A WAV header describes at most 2^32 - 1 bytes: 3 channels of 32 bits pass it at 357913942
    // frames, of 24 bits at 477218589. Small enough in the end, an RF64 file turns back into a
    // WAV, though with libsndfile's WAVE_FORMAT_EXTENSIBLE header; a plain one has format tag 1,
    // or 3 for float.
    const std::tuple<OutputFormat, std::int64_t, bool> cases[]
        = {{OutputFormat::int16, 0, false}, {OutputFormat::float32, 300000000, false},
            {OutputFormat::float32, 357913942, true}, {OutputFormat::int24, 477218589, true}};
    for (const auto& [format, expectedFrames, rf64] : cases) {
        TempDir dir;
        const auto path = dir / "out.wav";
        AudioFileWriter writer(create(path), 48000, 3, format, expectedFrames);
        EXPECT_EQ(fileBytes(path).substr(0, 4), rf64 ? "RF64" : "RIFF");
        auto block = AudioBlock::make(writer.blockFormat(), 5);
        std::memset(block->data(), 0, 5 * block->format().bytesPerFrame());
        block->setFrameLength(5);
        writer.write(*block);
        writer.close();
        const AudioData stored = readAudioFile(path);
        const int subtype = std::array{SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_FLOAT}[ordinal(format)];
        EXPECT_EQ(stored.info.format, (rf64 ? SF_FORMAT_WAVEX : SF_FORMAT_WAV) | subtype) << expectedFrames;
        EXPECT_EQ(stored.frames(), 5);
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
    ClipMeter meter(OutputFormat::int24);
    auto block = AudioBlock::make(writer.blockFormat(), 16);
    for (std::uint32_t frames : {16u, 1u}) {
        for (std::size_t at = 0; at < 16; at += frames) {
            for (std::uint32_t i = 0; i < frames; ++i) block->floatSamples()[i] = cases[at + i].first;
            block->setFrameLength(frames);
            writer.write(*block);
            meter.observe(*block);
        }
    }
    writer.close();
    EXPECT_EQ(meter.report(0).clippedSamples, 14u); // the seven the clamp changes, twice
    const AudioData stored = readAudioFile(dir / "out.wav");
    ASSERT_EQ(stored.samples.size(), 32u);
    for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(stored.samples[i] * 8388608.0, cases[i % 16].second) << i;
}

} // namespace
} // namespace fennick
