// Every input the fuzzer ever found a fault with, replayed through the same path as a test.

#include "SourceReadingTarget.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

namespace fennick::test {
namespace {

TEST(FuzzRegression, EveryFindingReadsAndConvertsWithoutFault)
{
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(FENNICK_FUZZ_REGRESSIONS)) {
        if (entry.path().filename() == "README.md") continue;
        SCOPED_TRACE(entry.path().filename().string());
        TempDir dir;
        const std::string bytes = fileBytes(entry.path());
        const int descriptors = openDescriptorCount();
        fuzz::readAndConvert(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), dir.path());
        EXPECT_EQ(openDescriptorCount(), descriptors);
        ++replayed;
    }
    EXPECT_GT(replayed, 0);
}

} // namespace
} // namespace fennick::test
