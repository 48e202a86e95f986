// The Resampler's feeding rules: however the input is cut into blocks and however little one
// libsoxr call may write, the output is the same, and the flush brings the whole tail.

#include "EngineTestSupport.h"

#include "Resampler.h"
#include "SoxrSpecs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace fennick {
namespace {

using namespace fennick::test;

struct FeedCase {
    const char* name;
    double inputRate, outputRate;
    unsigned channels;
    std::vector<std::size_t> blocks; // fed in turn, repeated until the input is used up
    std::uint32_t callFrames; // the most one libsoxr call may write
};
void PrintTo(const FeedCase& c, std::ostream* out) { *out << c.name; }

constexpr std::size_t kFrames = 20011;

// Everything out of one resampler for `c`'s feeding of a fixed sine, as raw float bytes.
std::vector<float> resample(const FeedCase& c)
{
    const SoxrApi& api = SoxrApi::shared();
    const ConversionOptions options{.precision = ConversionOptions::Precision::high};
    Resampler resampler(api, c.inputRate, c.outputRate, c.channels, ioSpecFor(api), qualitySpecFor(api, options),
        api.soxr_runtime_spec(1));
    std::vector<float> input(kFrames * c.channels);
    for (std::size_t i = 0; i < input.size(); ++i) input[i] = 0.5f * std::sin(0.01f * static_cast<float>(i));

    ResampledFrames output({SampleType::float32, c.outputRate, c.channels}, c.callFrames);
    std::vector<float> all;
    const auto take = [&] {
        const auto* samples = static_cast<const float*>(output.block().data());
        all.insert(all.end(), samples, samples + std::size_t{output.frames()} * c.channels);
        output.clear();
    };
    for (std::size_t fed = 0, i = 0; fed < kFrames; ++i) {
        const std::size_t n = std::min(c.blocks[i % c.blocks.size()], kFrames - fed);
        resampler.process(input.data() + fed * c.channels, n, output);
        take();
        fed += n;
    }
    resampler.flush(output);
    take();
    return all;
}

class ResamplerFeeding : public EngineTest, public ::testing::WithParamInterface<FeedCase> { };

TEST_P(ResamplerFeeding, GivesOneFeedsOutputWithTheWholeTail)
{
    const FeedCase& c = GetParam();
    const std::vector<float> fed = resample(c);
    const std::vector<float> whole = resample({"whole", c.inputRate, c.outputRate, c.channels, {kFrames}, 1u << 16});
    EXPECT_EQ(fed.size() / c.channels, static_cast<std::size_t>(std::llround(kFrames * c.outputRate / c.inputRate)));
    ASSERT_EQ(fed.size(), whole.size());
    EXPECT_EQ(std::memcmp(fed.data(), whole.data(), fed.size() * sizeof(float)), 0);
}

const FeedCase kFeeds[] = {
    {"OddSmallBlocksUp", 44100, 48000, 2, {1, 7, 333, 4096}, 1u << 16},
    {"OddSmallBlocksDown", 96000, 44100, 3, {5, 1, 2999}, 1u << 16},
    // Less room per call than a block brings: the output grows within one feed and one flush.
    {"TinyCallsUp", 44100, 96000, 1, {kFrames}, 37},
    {"TinyCallsDown", 96000, 48000, 6, {1000, 17}, 64},
};
INSTANTIATE_TEST_SUITE_P(
    , ResamplerFeeding, ::testing::ValuesIn(kFeeds), [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fennick
