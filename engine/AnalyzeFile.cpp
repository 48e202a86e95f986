#include "FennickEngine.h"

#include "AnalyzeFile.h"
#include "AudioBlock.h"
#include "AudioFileReader.h"
#include "LevelMeter.h"

#include <memory>
#include <optional>

#include <stdexcept>
#include <vector>

namespace fennick {

namespace {

constexpr std::uint32_t kBlockFrames = 65536;

} // namespace

// The file's channel positions when it states them, else empty: the usual order.
std::vector<int> meteredChannelMap(const AudioFileReader& reader)
{
    std::vector<int> map(reader.channelCount());
    const int bytes = static_cast<int>(map.size() * sizeof(int));
    if (sf_command(reader.sndfile(), SFC_GET_CHANNEL_MAP_INFO, map.data(), bytes) != SF_TRUE) map.clear();
    return map;
}

LevelFigures analyzeFile(const std::filesystem::path& path, std::stop_token stop)
{
    AudioFileReader reader(path);
    std::optional<LevelMeter> meter;
    try {
        meter.emplace(reader.channelCount(), reader.sampleRate(), meteredChannelMap(reader));
    } catch (const std::invalid_argument& error) {
        throw AudioFileError(error.what());
    }
    const std::unique_ptr<AudioBlock> block = AudioBlock::make(reader.blockFormat(), kBlockFrames);
    if (!block) throw std::bad_alloc();
    for (;;) {
        if (stop.stop_requested()) throw ConversionCancelled();
        reader.read(*block);
        if (block->frameLength() == 0) break;
        meter->add(block->floatSamples(), block->frameLength());
    }
    return meter->figures();
}

} // namespace fennick
