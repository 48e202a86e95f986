// Every input the fuzzer ever found a fault with, replayed through the same path as a test.

#include "SourceReadingTarget.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fennick::test {
namespace {

std::vector<std::filesystem::path> regressionInputs()
{
    std::vector<std::filesystem::path> inputs;
    if (!std::filesystem::is_directory(FENNICK_FUZZ_REGRESSIONS)) return inputs;
    for (const auto& entry : std::filesystem::directory_iterator(FENNICK_FUZZ_REGRESSIONS)) {
        if (entry.is_regular_file() && entry.path().filename() != "README.md") inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

class FuzzRegression : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(FuzzRegression, ReadsAndConvertsWithoutFault)
{
    TempDir dir;
    const std::string bytes = fileBytes(GetParam());
    const int descriptors = openDescriptorCount();
    fuzz::readAndConvert(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), dir.path());
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzRegression, ::testing::ValuesIn(regressionInputs()), [](const auto& info) {
    std::string name = info.param.stem().string();
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
});
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FuzzRegression);

} // namespace
} // namespace fennick::test
