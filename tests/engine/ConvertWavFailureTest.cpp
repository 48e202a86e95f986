// Every way a conversion can fail, with real files: the right error, nothing leaked, the source
// untouched, and the destination as the failure left it.

#include "EngineTestSupport.h"

#include "AudioFileError.h"
#include "ConvertWav.h"
#include "SoxrApi.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
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

    // The conversion must fail with an `Error` whose description is `text`.
    template <typename Error>
    void expectFailure(const std::string& text, const fs::path& from, const fs::path& to, double rate = 48000.0,
        const ProgressCallback& progress = {})
    {
        try {
            convertWav(from, to, rate, OutputFormat::float32, {}, progress);
            ADD_FAILURE() << "the conversion succeeded";
        } catch (const Error& error) {
            EXPECT_EQ(std::string(error.what()), text);
        } catch (const std::exception& other) {
            ADD_FAILURE() << "another error: " << other.what();
        }
        EXPECT_EQ(openDescriptorCount(), descriptors);
        EXPECT_EQ(fileBytes(source), sourceBytes);
    }

    // Frames of a destination that a failure left behind.
    std::int64_t framesLeft() const { return readAudioFile(destination).frames(); }

    TempDir dir;
    fs::path source = dir / "in.wav";
    fs::path destination = dir / "out.wav";
    std::string sourceBytes;
    int descriptors = 0;
};

TEST_F(ConvertWavFailure, SourceThatCannotBeReadCreatesNothing)
{
    std::ofstream(dir / "notes.wav") << "These are not samples.\n";
    ::mkfifo((dir / "pipe.wav").c_str(), 0600); // must not hang waiting for a writer
    fs::create_directory(dir / "folder.wav");
    expectFailure<AudioFileError>("No such file or directory", dir / "missing.wav", destination);
    expectFailure<AudioFileError>("Format not recognised.", dir / "notes.wav", destination);
    expectFailure<AudioFileError>("Not a regular file.", dir / "pipe.wav", destination);
    expectFailure<AudioFileError>("Is a directory", dir / "folder.wav", destination);
    EXPECT_FALSE(fs::exists(destination));
}

TEST_F(ConvertWavFailure, DestinationThatCannotBeCreatedLeavesLibsoxrUnresolved)
{
    setLibsoxrVariable(kOtherStandin);
    ::mkfifo((dir / "pipe.wav").c_str(), 0600); // must not hang waiting for a reader
    expectFailure<AudioFileError>("No such file or directory", source, dir / "missing" / "out.wav");
    expectFailure<AudioFileError>("Is a directory", source, dir.path());
    expectFailure<AudioFileError>("Not a regular file.", source, dir / "pipe.wav");
    expectFailure<AudioFileError>("No space left on device", source, "/dev/full");

    // The table is built by the first conversion that gets past opening both files.
    setLibsoxrVariable(kStandin);
    convertWav(source, destination, 48000.0, OutputFormat::int16, {});
    EXPECT_EQ(SoxrApi::shared().libraryPath, kStandin);
    EXPECT_FALSE(isLoaded(kOtherStandin));
}

TEST_F(ConvertWavFailure, DestinationThatIsTheSourceIsRefusedBeforeAnythingIsWritten)
{
    fs::create_directory(dir / "sub");
    fs::create_symlink(source, dir / "link.wav");
    fs::create_hard_link(source, dir / "hard.wav");
    for (const fs::path& same : {source, dir / "sub" / ".." / "in.wav", dir / "link.wav", dir / "hard.wav"}) {
        SCOPED_TRACE(same);
        expectFailure<ConversionError>(
            "The destination is the source file itself; choose another file name.", source, same);
        expectFailure<ConversionError>(
            "The destination is the source file itself; choose another file name.", same, source);
    }
}

TEST_F(ConvertWavFailure, RatesThatCannotBeResampledCreateNothing)
{
    // 1 Hz to 44100 Hz would need an output block of 2^31 frames and more.
    writeAudioFile(dir / "slow.wav", {1, 1}, 10, sine(0.1, 1));
    expectFailure<ConversionError>(
        "Resampling from 1 Hz to 44100 Hz is not supported: the ratio is too large.", dir / "slow.wav", destination,
        44100.0);
    expectFailure<ConversionError>("A target sample rate of 0 Hz is not possible.", source, destination, 0.0);
    // A WAV header holds a whole number of hertz.
    expectFailure<ConversionError>("A target sample rate of 44100.5 Hz is not possible.", source, destination, 44100.5);

    // libsndfile refuses a source that claims 0 Hz itself.
    std::string bytes = sourceBytes;
    bytes.replace(24, 4, std::string(4, '\0'));
    std::ofstream(dir / "zero.wav", std::ios::binary) << bytes;
    expectFailure<AudioFileError>("Internal error : SF_INFO struct incomplete.", dir / "zero.wav", destination);
    EXPECT_FALSE(fs::exists(destination));

    EXPECT_FALSE(outputBlockCapacity(0.0, 44100.0));
    EXPECT_FALSE(outputBlockCapacity(1.0, 44100.0));
    EXPECT_FALSE(outputBlockCapacity(44100.0, std::numeric_limits<double>::infinity()));
    EXPECT_EQ(outputBlockCapacity(6.0, 192000.0), 2097152000u + 8192u);
}

// All the source's frames at 48 kHz.
constexpr std::int64_t kAllFrames = 3 * std::int64_t{kInputBlockFrames} * 48000 / 44100;

struct LibsoxrFailure {
    const char* mode; // of the stand-in
    std::string text;
    int handles;                  // made, and deleted again
    std::int64_t leastFramesLeft; // in the destination
};
void PrintTo(const LibsoxrFailure& c, std::ostream* out) { *out << c.mode; }

class ConvertWavLibsoxrFailure : public ConvertWavFailure, public ::testing::WithParamInterface<LibsoxrFailure> {};

TEST_P(ConvertWavLibsoxrFailure, IsASoxrErrorAndReleasesTheResampler)
{
    const LibsoxrFailure& c = GetParam();
    setLibsoxrVariable(kStandin);
    ::setenv(kStandinFailVariable, c.mode, 1);
    int reports = 0;
    expectFailure<SoxrError>(c.text, source, destination, 48000.0, [&](double) { ++reports; });
    EXPECT_EQ(standinRecord(kStandin).creates, c.handles);
    EXPECT_EQ(standinRecord(kStandin).deletes, c.handles);
    EXPECT_EQ(reports, c.leastFramesLeft > 0 ? 3 : 0);
    // The WAV the writer created, empty or with everything but the resampler's held-back tail.
    EXPECT_GE(framesLeft(), c.leastFramesLeft);
    EXPECT_LE(framesLeft(), c.leastFramesLeft > 0 ? kAllFrames : 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, ConvertWavLibsoxrFailure,
    ::testing::Values(LibsoxrFailure{"create", std::string("libsoxr: ") + kStandinCreateError, 0, 0},
        LibsoxrFailure{"create-silently", "libsoxr: unknown libsoxr error", 0, 0},
        LibsoxrFailure{"process", std::string("libsoxr: ") + kStandinProcessError, 1, 0},
        LibsoxrFailure{"flush", std::string("libsoxr: ") + kStandinFlushError, 1, kAllFrames - 1000}),
    [](const auto& info) { return info.index == 1 ? std::string("createSilently") : std::string(info.param.mode); });

TEST_F(ConvertWavFailure, BlockThatCannotBeMadeIsAnUnknownLibsoxrError)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's allocator does not fail softly under an address-space limit";
#endif
    // 64 channels from 8 kHz to 192 kHz need an output block of 400 MB, which the address-space
    // limit leaves no room for.
    writeAudioFile(dir / "wide.wav", {8000, 64}, 100, sine(10, 8000));
    std::size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit limit{};
    ::getrlimit(RLIMIT_AS, &limit);
    const rlimit previous = limit;
    limit.rlim_cur = pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) + (std::size_t{256} << 20);
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &limit), 0);
    expectFailure<SoxrError>("libsoxr: unknown libsoxr error", dir / "wide.wav", destination, 192000.0);
    ::setrlimit(RLIMIT_AS, &previous);
    EXPECT_EQ(framesLeft(), 0);
}

TEST_F(ConvertWavFailure, ReadErrorIsTheReadersOwn)
{
    // After the first block the source's descriptor stops being readable.
    expectFailure<AudioFileError>("Bad file descriptor", source, destination, 48000.0,
        [&](double) { redirectDescriptor(source, "/dev/null", O_WRONLY); });
    EXPECT_GT(framesLeft(), 0);
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
    EXPECT_EQ(readAudioFile(destination).frames(), kInputBlockFrames);
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

TEST_F(ConvertWavFailure, WriteErrorMidStreamLeavesThePartlyWrittenDestination)
{
    constexpr rlim_t kLimit = 300000;
    std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead of ending the process
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit previous = limit;
    limit.rlim_cur = kLimit;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    expectFailure<AudioFileError>("File too large", source, destination);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    EXPECT_EQ(fs::file_size(destination), kLimit);
    EXPECT_GT(framesLeft(), 0);
}

TEST_F(ConvertWavFailure, CloseErrorIsAFailedConversion)
{
    // Once the resampler is deleted, only closing the destination is left: its final header
    // write then goes to a full device.
    setLibsoxrVariable(kStandin);
    ASSERT_EQ(SoxrApi::shared().libraryPath, kStandin);
    static fs::path target;
    target = destination;
    setStandinDeleteHook(kStandin, [] { redirectDescriptor(target, "/dev/full", O_WRONLY); });
    expectFailure<AudioFileError>("No space left on device", source, destination);
}

} // namespace
} // namespace fennick
