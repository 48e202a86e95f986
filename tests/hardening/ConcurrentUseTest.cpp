// Conversions running side by side with their own progress, run under ThreadSanitizer (the
// binding's racing first access is covered by the binding's own tests).

#include "FennickEngine.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <barrier>
#include <thread>
#include <vector>

namespace fennick::test {
namespace {

// Two conversions at once give the same files as one alone: nothing is shared between calls.
TEST(ConcurrentUse, SideBySideConversionsMatchASingleOne)
{
    TempDir dir;
    const auto source = dir / "take.wav";
    writeAudioFile(source, {44100, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT}, 140000, sine(997, 44100));
    convertWav(source, dir / "alone.wav", 96000.0, OutputFormat::float32, {});
    const std::string expected = fileBytes(dir / "alone.wav");

    constexpr int kRuns = 2;
    std::vector<std::vector<double>> progress(kRuns);
    {
        std::barrier start(kRuns);
        std::vector<std::jthread> threads;
        for (int i = 0; i < kRuns; ++i) {
            threads.emplace_back([&, i] {
                start.arrive_and_wait();
                convertWav(source, dir / ("run" + std::to_string(i) + ".wav"), 96000.0, OutputFormat::float32, {},
                    [&progress, i](double fraction) { progress[i].push_back(fraction); });
            });
        }
    }
    for (int i = 0; i < kRuns; ++i) {
        EXPECT_EQ(fileBytes(dir / ("run" + std::to_string(i) + ".wav")), expected) << i;
        EXPECT_EQ(progress[i], (std::vector<double>{65536.0 / 140000, 131072.0 / 140000, 1.0})) << i;
    }
}

} // namespace
} // namespace fennick::test
