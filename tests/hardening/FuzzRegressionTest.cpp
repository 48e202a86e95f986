// Every input the fuzzer ever found a fault with, replayed through the same path as a test.

#include "SourceReadingTarget.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <cctype>

namespace fennick::test {
namespace {

std::vector<std::filesystem::path> regressionInputs()
{
    std::vector<std::filesystem::path> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(FENNICK_FUZZ_REGRESSIONS)) {
        if (entry.path().filename() != "README.md") inputs.push_back(entry.path());
    }
    return inputs;
}

class FuzzRegression : public ::testing::TestWithParam<std::filesystem::path> { };

TEST_P(FuzzRegression, ReadsAndConvertsWithoutFault)
{
    TempDir dir;
    const std::string bytes = fileBytes(GetParam());
    const int descriptors = openDescriptorCount();
    fuzz::readAndConvert(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), dir.path());
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

// Test names from the file names, each character gtest rejects made an underscore.
INSTANTIATE_TEST_SUITE_P(Inputs, FuzzRegression, ::testing::ValuesIn(regressionInputs()), [](const auto& info) {
    std::string name = info.param.filename().string();
    for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
});

} // namespace
} // namespace fennick::test
