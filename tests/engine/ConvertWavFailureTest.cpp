// Every way a conversion can fail, with real files: the right error, nothing leaked, the source
// untouched, and the destination as the failure left it. Sources that cannot be opened or
// resampled are in the hardening tests' hostile-input matrix.

#include "EngineTestSupport.h"

#include "ConvertWav.h"
#include "SoxrApi.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fennick {
namespace {

using namespace fennick::test;
namespace fs = std::filesystem;

class ConvertWavFailure : public ::testing::Test {
protected:
    void SetUp() override
    {
        setLibsoxrVariable(nullptr);
        writeAudioFile(source, {44100, 2}, 3 * kInputBlockFrames, sine(440, 44100));
        sourceBytes = fileBytes(source);
        descriptors = openDescriptorCount();
    }

    // The conversion must fail with an `Error` whose description is `text`, and release everything.
    template <typename Error>
    void expectFailure(const std::string& text, const fs::path& from, const fs::path& to, double rate = 48000.0,
        const ProgressCallback& progress = {})
    {
        try {
            convertWav(from, to, rate, OutputFormat::float32, {}, progress);
            ADD_FAILURE() << "the conversion succeeded";
        } catch (const Error& error) { // anything else escapes and fails the test
            EXPECT_EQ(std::string(error.what()), text);
        }
        EXPECT_EQ(openDescriptorCount(), descriptors);
        EXPECT_EQ(fileBytes(source), sourceBytes);
        EXPECT_EQ(soxrRecord.deletes, soxrRecord.creates);
    }

    std::int64_t framesLeft() const { return readAudioFile(destination).frames(); }

    TempDir dir;
    fs::path source = dir / "in.wav", destination = dir / "out.wav";
    std::string sourceBytes;
    int descriptors = 0;
};

TEST_F(ConvertWavFailure, DestinationThatCannotBeCreatedLeavesLibsoxrUnresolved)
{
    setLibsoxrVariable(kOtherStandin);
    ::mkfifo((dir / "pipe.wav").c_str(), 0600); // must not hang waiting for a reader
    expectFailure<AudioFileError>("Not a regular file.", source, dir / "pipe.wav");
    // The table is built by the first conversion that gets past opening both files.
    setLibsoxrVariable(kStandin);
    convertWav(source, destination, 48000.0, OutputFormat::int16, {});
    EXPECT_EQ(SoxrApi::shared().libraryPath, kStandin);
    EXPECT_FALSE(isLoaded(kOtherStandin));
    EXPECT_EQ(soxrRecord.creates, 0); // the linked libsoxr is reached only through the table
}

TEST_F(ConvertWavFailure, DestinationThatIsAHardLinkToTheSourceIsRefused)
{
    // The same file under another name; the source itself and symbolic links to it are in the
    // hostile-input matrix.
    fs::create_hard_link(source, dir / "hard.wav");
    expectFailure<ConversionError>(
        "The destination is the source file itself; choose another file name.", source, dir / "hard.wav");
}

TEST_F(ConvertWavFailure, TargetRateThatNoWavCanHoldCreatesNothing)
{
    expectFailure<ConversionError>("A target sample rate of 0 Hz is not possible.", source, destination, 0.0);
    expectFailure<ConversionError>("A target sample rate of 44100.5 Hz is not possible.", source, destination, 44100.5);
    EXPECT_FALSE(fs::exists(destination));
    // libsoxr 0.1.3 crashes on an output length of 2^31 frames or more.
    EXPECT_EQ(outputBlockCapacity(6.0, 192000.0), 2097152000u + 8192u);
    EXPECT_FALSE(outputBlockCapacity(5.0, 192000.0));
}

struct LibsoxrFailure {
    const char* name;
    bool SoxrRecord::*failure;
    std::string text;
    int reports; // progress reports before it
    std::int64_t leastFramesLeft, mostFramesLeft; // in the WAV the writer created
};
void PrintTo(const LibsoxrFailure& c, std::ostream* out) { *out << c.name; }

class ConvertWavLibsoxrFailure : public ConvertWavFailure, public ::testing::WithParamInterface<LibsoxrFailure> { };

TEST_P(ConvertWavLibsoxrFailure, IsASoxrErrorThatLeavesWhatWasWritten)
{
    const LibsoxrFailure& c = GetParam();
    soxrRecord.*c.failure = true;
    int reports = 0;
    expectFailure<SoxrError>(c.text, source, destination, 48000.0, [&](double) { ++reports; });
    EXPECT_EQ(reports, c.reports);
    EXPECT_GE(framesLeft(), c.leastFramesLeft);
    EXPECT_LE(framesLeft(), c.mostFramesLeft);
}

// The source's 3 × 65536 frames come to 213990 at 48 kHz, less what the resampler holds back.
INSTANTIATE_TEST_SUITE_P(Calls, ConvertWavLibsoxrFailure,
    ::testing::Values(
        LibsoxrFailure{"createGivesNoText", &SoxrRecord::failCreate, "libsoxr: unknown libsoxr error", 0, 0, 0},
        LibsoxrFailure{"processWhileStreaming", &SoxrRecord::failProcess, "libsoxr: processing failed", 0, 0, 0},
        LibsoxrFailure{"flush", &SoxrRecord::failFlush, "libsoxr: flushing failed", 3, 212990, 213990}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConvertWavFailure, BlockThatCannotBeMadeSaysThereIsNotEnoughMemory)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's allocator does not fail softly under an address-space limit";
#endif
    // 64 channels from 8 kHz to 192 kHz need an output block of 400 MB; the limit leaves 256 MB.
    writeAudioFile(dir / "wide.wav", {8000, 64}, 100, sine(10, 8000));
    std::size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit limit{};
    ::getrlimit(RLIMIT_AS, &limit);
    const rlimit previous = limit;
    limit.rlim_cur = pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) + (std::size_t{256} << 20);
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &limit), 0);
    expectFailure<ConversionError>(
        "There is not enough memory for this conversion.", dir / "wide.wav", destination, 192000.0);
    ::setrlimit(RLIMIT_AS, &previous);
    EXPECT_EQ(soxrRecord.creates, 1);
    EXPECT_EQ(framesLeft(), 0);
}

TEST_F(ConvertWavFailure, ReadErrorIsTheReadersOwn)
{
    expectFailure<AudioFileError>(
        "Bad file descriptor", source, destination, 48000.0, [&](double) { redirectDescriptor(source, "/dev/null"); });
    EXPECT_GT(framesLeft(), 0);
}

TEST_F(ConvertWavFailure, WriteErrorMidStreamLeavesThePartlyWrittenDestination)
{
    expectFailure<AudioFileError>("No space left on device", source, destination, 48000.0,
        [&](double) { redirectDescriptor(destination, "/dev/full"); });
    // The header cannot be completed, but the first block's output (over 65536 frames) stays.
    EXPECT_GT(fs::file_size(destination), std::uintmax_t{kInputBlockFrames} * 2 * sizeof(float));
}

TEST_F(ConvertWavFailure, CloseErrorIsAFailedConversion)
{
    // Once the resampler is deleted only closing the destination is left, and its final header
    // write goes to a full device.
    soxrRecord.onDelete = [&] { redirectDescriptor(destination, "/dev/full"); };
    expectFailure<AudioFileError>("No space left on device", source, destination);
}

TEST_F(ConvertWavFailure, SourceThatEndsEarlyIsConvertedAsFarAsItGoes)
{
    // Not a failure: the last two blocks are cut off once the first is read, so the next read
    // delivers nothing.
    const std::uintmax_t firstBlockEnds = fs::file_size(source) - 2 * 6 * std::uintmax_t{kInputBlockFrames};
    std::vector<double> reports;
    convertWav(source, destination, 44100.0, OutputFormat::float32, {}, [&](double fraction) {
        reports.push_back(fraction);
        fs::resize_file(source, firstBlockEnds);
    });
    EXPECT_EQ(reports, std::vector<double>{1.0 / 3});
    EXPECT_EQ(framesLeft(), kInputBlockFrames);
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

} // namespace
} // namespace fennick
