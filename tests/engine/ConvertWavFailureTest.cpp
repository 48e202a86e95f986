// Every way a conversion can fail or be stopped, with real files and hostile ones: the right error,
// nothing leaked, the source untouched, and the destination exactly as the user had it, with nothing
// left beside it.

#include "EngineTestSupport.h"

#include "ConvertWav.h"
#include "FennickEngine.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cxxabi.h>
#include <fstream>
#include <limits>
#include <random>
#include <stop_token>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fennick {
namespace {

using namespace fennick::test;
namespace fs = std::filesystem;

// The kind of what is at `path` and, for a regular file, every byte (a FIFO or a device is not read).
std::string snapshot(const fs::path& path)
{
    const auto type = fs::symlink_status(path).type();
    return type == fs::file_type::regular ? "file " + fileBytes(path) : "type " + std::to_string(int(type));
}

fs::path file(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

fs::path folder(const fs::path& path)
{
    fs::create_directory(path);
    return path;
}

fs::path fifo(const fs::path& path)
{
    ::mkfifo(path.c_str(), 0600); // no writer or reader: opening it must not wait for one
    return path;
}

// A 16-bit PCM WAV with a hand-made header, holding `frames` frames.
std::string handMadeWav(std::uint16_t channels, std::uint32_t sampleRate, std::uint32_t frames)
{
    std::string data;
    for (std::uint32_t i = 0; i < frames * channels; ++i) data += le32((i * 977) & 0xFFFF).substr(0, 2);
    const std::string format = le32(1 | std::uint32_t(channels) << 16) + le32(sampleRate)
        + le32(sampleRate * 2u * channels) + le32((2u * channels & 0xFFFF) | 16u << 16); // integer PCM, 16 bits
    const std::string body = "WAVEfmt " + le32(16) + format + "data" + le32(static_cast<std::uint32_t>(data.size()));
    return "RIFF" + le32(static_cast<std::uint32_t>(body.size() + data.size())) + body + data;
}

class ConvertWavFailure : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        ThreadBudget::setCores(2); // the stereo source in two groups, whatever the machine
        writeAudioFile(source, {44100, 2}, 3 * kInputBlockFrames, sine(440, 44100));
        sourceBytes = snapshot(source);
        std::ofstream(destination) << "the take the user already had";
        descriptors = openDescriptorCount();
        ::getrlimit(RLIMIT_FSIZE, &fileSizeLimit);
    }
    void TearDown() override { ::setrlimit(RLIMIT_FSIZE, &fileSizeLimit); }

    // The run's error as "Type: text", and what it must have left as it was.
    std::string failure(const fs::path& to, double rate, const ProgressCallback& progress, RunControl control = {})
    {
        std::string error = "no error";
        try {
            convertWav(source, to, {rate, format, {}}, progress, control);
        } catch (const std::exception& e) { // "ConversionError: …", or a foreign type that fails the case
            const std::unique_ptr<char, decltype(&std::free)> type(
                abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, nullptr), &std::free);
            error = std::string(type.get()) + ": " + e.what();
            if (error.starts_with("fennick::")) error.erase(0, 9);
        }
        EXPECT_EQ(openDescriptorCount(), descriptors);
        EXPECT_EQ(snapshot(source), sourceBytes);
        EXPECT_EQ(soxrRecord.deletes, soxrRecord.creates);
        EXPECT_EQ(soxrRecord.closesOfClosedDescriptors, 0);
        return error;
    }

public:
    TempDir dir;
    fs::path source = dir / "in.wav", destination = dir / "out.wav";
    std::string sourceBytes;
    std::stop_source stop; // for the cases that cancel
    OutputFormat format = OutputFormat::float32; // int24 is written by a path of its own
    int descriptors = 0;
    rlimit fileSizeLimit{};
};

struct FailureCase {
    const char* name;
    std::string error; // '@' stands for the destination's path; "AudioFileError: *" for libsndfile's words
    std::function<void(ConvertWavFailure&)> before = {}; // sets the failure up
    int reports = -1; // progress reports before the failure; -1: any number
    std::function<void(ConvertWavFailure&, int report)> during = {}; // at each progress report
    bool flushed = false;
    double rate = 48000.0;
    bool replaceExisting = true;
};
void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class ConvertWavFailing : public ConvertWavFailure, public ::testing::WithParamInterface<FailureCase> { };

TEST_P(ConvertWavFailing, LeavesTheDestinationAsItWasAndNothingBesideIt)
{
    const FailureCase& c = GetParam();
    if (c.before) c.before(*this);
    sourceBytes = snapshot(source);
    const std::string earlier = snapshot(destination);
    const std::vector<std::string> entries = folderEntries(dir.path());
    int reports = 0;
    std::string expected = c.error;
    if (const auto at = expected.find('@'); at != std::string::npos) expected.replace(at, 1, destination.string());
    const std::string error = failure(destination, c.rate,
        [&](double) {
            ++reports;
            if (c.during) c.during(*this, reports);
        },
        {stop.get_token(), c.replaceExisting});
    if (expected == "AudioFileError: *") {
        // A sentence, and not the library's own "internal error" wording that reads as a bug.
        EXPECT_TRUE(error.starts_with("AudioFileError: ") && error.back() == '.') << error;
        EXPECT_EQ(error.find("nternal"), std::string::npos) << error;
    } else {
        EXPECT_EQ(error, expected);
    }
    if (c.reports >= 0) {
        EXPECT_EQ(reports, c.reports);
    }
    EXPECT_EQ(soxrRecord.flushes > 0, c.flushed);
    EXPECT_EQ(snapshot(destination), earlier);
    EXPECT_EQ(folderEntries(dir.path()), entries);
}

// Whatever the run wrote so far goes to the temporary file beside the destination.
const std::string kPartial = ".fennick-partial";
const std::string kItself = "ConversionError: The destination is the source file itself; choose another file name.";

using Case = FailureCase;
INSTANTIATE_TEST_SUITE_P(Cases, ConvertWavFailing,
    ::testing::Values(
        Case{"zeroTargetRate", "ConversionError: A target sample rate of 0 Hz is not possible.", {}, 0, {}, false, 0.0},
        Case{"fractionalTargetRate", "ConversionError: A target sample rate of 44100.5 Hz is not possible.", {}, 0, {},
            false, 44100.5},
        // Refused before anything is converted.
        Case{"existingDestinationNotToBeReplaced", "DestinationExists: @ already exists.", {}, 0, {}, false, 48000.0,
            false},
        Case{"hardLinkToTheSource", kItself,
            [](auto& f) {
                fs::remove(f.destination);
                fs::create_hard_link(f.source, f.destination);
            },
            0},
        Case{"symbolicLinkToTheSource", kItself,
            [](auto& f) { fs::create_symlink(f.source, f.destination = f.dir / "link.wav"); }, 0},
        Case{"destinationInAMissingFolder", "AudioFileError: No such file or directory",
            [](auto& f) { f.destination = f.dir / "no-such-folder/out.wav"; }, 0},
        Case{"destinationIsAFolder", "AudioFileError: Is a directory",
            [](auto& f) { f.destination = folder(f.dir / "folder.wav"); }, 0},
        Case{"destinationUnderAFile", "AudioFileError: Not a directory",
            [](auto& f) { f.destination = file(f.dir / "plain.txt", "text") / "out.wav"; }, 0},
        // Root writes anywhere a mode allows; sysfs takes no new files from anyone.
        Case{"destinationUnwritable", "AudioFileError: Permission denied",
            [](auto& f) {
                f.destination = ::geteuid() == 0 ? "/sys/fennick-unwritable.wav" : f.dir / "locked/out.wav";
                if (::geteuid() != 0) fs::permissions(folder(f.dir / "locked"), fs::perms::owner_read | fs::perms::owner_exec);
            },
            0},
        Case{"destinationIsAFifo", "AudioFileError: Not a regular file.",
            [](auto& f) { f.destination = fifo(f.dir / "pipe.wav"); }, 0},
        Case{"destinationIsAFullDevice", "AudioFileError: No space left on device",
            [](auto& f) { f.destination = "/dev/full"; }, 0},
        // Hostile metadata (an iXML claiming 100 MB, a cue count beyond its chunk, a short bext, strings
        // without an end, more than a header holds) is in the fuzzer's corpus, replayed by FuzzRegression.
        Case{"emptySource", "AudioFileError: *", [](auto& f) { f.source = file(f.dir / "empty.wav", ""); }, 0},
        Case{"randomBytes", "AudioFileError: *",
            [](auto& f) {
                std::mt19937 random(20261206); // fixed, so every run sees the same bytes
                std::string noise(8192, '\0');
                for (char& byte : noise) byte = static_cast<char>(random() & 0xFF);
                f.source = file(f.dir / "noise.wav", noise);
            },
            0},
        Case{"sourceIsAFolder", "AudioFileError: Is a directory", [](auto& f) { f.source = folder(f.dir / "folder.wav"); },
            0},
        Case{"missingSource", "AudioFileError: No such file or directory",
            [](auto& f) { f.source = f.dir / "missing.wav"; }, 0},
        Case{"sourceIsAFifo", "AudioFileError: Not a regular file.", [](auto& f) { f.source = fifo(f.dir / "pipe.wav"); },
            0},
        Case{"zeroChannels", "AudioFileError: *",
            [](auto& f) { f.source = file(f.dir / "zero.wav", handMadeWav(0, 44100, 10)); }, 0},
        Case{"zeroSampleRate", "AudioFileError: The file's header gives no valid sample rate or channel count.",
            [](auto& f) { f.source = file(f.dir / "zero.wav", handMadeWav(2, 0, 10)); }, 0},
        Case{"absurdChannelCount", "AudioFileError: *",
            [](auto& f) { f.source = file(f.dir / "many.wav", handMadeWav(65535, 44100, 1)); }, 0},
        Case{"oneHertz", "ConversionError: Resampling from 1 Hz to 44100 Hz is not supported: the ratio is too large.",
            [](auto& f) { f.source = file(f.dir / "slow.wav", handMadeWav(1, 1, 10)); }, 0, {}, false, 44100.0},
        Case{"absurdChannelsAtALowRate",
            "ConversionError: Resampling 1024 channels from 2000 Hz to 44100 Hz needs more memory than a conversion may "
            "use.",
            [](auto& f) { f.source = file(f.dir / "many.wav", handMadeWav(1024, 2000, 1)); }, 0, {}, false, 44100.0},
        Case{"createGivesNoText", "SoxrError: libsoxr: unknown libsoxr error", [](auto&) { soxrRecord.failCreate = true; },
            0},
        Case{"processWhileStreaming", "SoxrError: libsoxr: processing failed",
            [](auto&) { soxrRecord.failProcess = true; }, 0},
        Case{"flush", "SoxrError: libsoxr: flushing failed", [](auto&) { soxrRecord.failFlush = true; }, 3, {}, true},
        // The block read before the failure may be written before it is found, or not.
        Case{"readError", "AudioFileError: Bad file descriptor", {}, -1,
            [](auto&, int report) {
                if (report == 1) redirectDescriptor("in.wav", "/dev/null");
            }},
        Case{"fullDiskMidStream", "AudioFileError: No space left on device", {}, 1,
            [](auto&, int) { redirectDescriptor(kPartial, "/dev/full"); }},
        Case{"fullDiskMidStreamInt24", "AudioFileError: No space left on device",
            [](auto& f) { f.format = OutputFormat::int24; }, 1,
            [](auto&, int) { redirectDescriptor(kPartial, "/dev/full"); }},
        Case{"fileSizeLimit", "AudioFileError: File too large",
            [](auto&) {
                std::signal(SIGXFSZ, SIG_IGN); // as the programs do: the write fails instead
                const rlimit limit{200000, RLIM_INFINITY};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            },
            0},
        // Once the resampler is deleted only closing the file is left, and its final header
        // write goes to a full device.
        Case{"closeError", "AudioFileError: No space left on device",
            [](auto&) {
                soxrRecord.onDelete = [] {
                    if (soxrRecord.deletes == 0) redirectDescriptor(kPartial, "/dev/full");
                };
            },
            3, {}, true},
        Case{"cancelledAtTheSecondBlock", "ConversionCancelled: Conversion cancelled.", {}, 2,
            [](auto& f, int report) {
                if (report == 2) f.stop.request_stop();
            }}),
    [](const auto& info) { return std::string(info.param.name); });

// A destination that may not be replaced and appears while converting, as another program might make it.
TEST_F(ConvertWavFailure, ADestinationThatAppearsMeanwhileIsNeverReplaced)
{
    const fs::path fresh = dir / "fresh.wav";
    EXPECT_EQ(failure(fresh, 48000.0, [&](double) { std::ofstream(fresh) << "theirs"; }, {{}, false}),
        "DestinationExists: " + fresh.string() + " already exists.");
    EXPECT_EQ(fileBytes(fresh), "theirs");
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"fresh.wav", "in.wav", "out.wav"}));
}

// One second at 48 kHz as a recorder that lost power or a cut download leaves it: the audio that is
// there is resampled to 44.1 kHz, and the run says what happened, as step 1 does on choosing the file.
TEST_F(ConvertWavFailure, DamagedSourcesConvertTheAudioThatIsThereAndSaySo)
{
    const std::string unfinished
        = "The source's header gave no length (an unfinished recording); the 0:01.000 of audio after it was converted.";
    const struct {
        const char* name;
        std::optional<std::uint32_t> dataSize;
        std::optional<std::size_t> keptAudioBytes;
        std::int64_t frames;
        std::optional<std::string> warning;
    } cases[] = {
        {"sound", {}, {}, 44100, std::nullopt},
        {"dataSizeNeverWritten", 0u, {}, 44100, unfinished},
        {"dataSizeStillThePlaceholder", 0xFFFFFFFFu, {}, 44100, unfinished},
        {"endsHalfway", {}, 48000, 22050,
            "The source ended after 0:00.500 of its stated 0:01.000; the rest was missing."},
        {"unfinishedAndCut", 0u, 48001, 22050,
            "The source's header gave no length (an unfinished recording); the "
            "0:00.500 of audio after it was converted."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        source = dir / (std::string(c.name) + ".wav");
        writeAudioFile(source, {48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, 48000, sine(440, 48000));
        damageWav(source, c.dataSize, c.keptAudioBytes);
        EXPECT_EQ(readSourceFileInfo(source).note, c.warning.value_or(""));
        const ConversionReport report = convertWav(source, destination, {44100.0, OutputFormat::int16, {}});
        EXPECT_EQ(readAudioFile(destination).frames(), c.frames);
        EXPECT_EQ(runWarnings(report, cNumberText),
            c.warning ? std::vector<std::string>{*c.warning} : std::vector<std::string>{});
    }
}

// Not-a-number and infinite samples in a float source become silence before libsoxr spreads them:
// no output format holds one, or the full-scale sample they would make of 16 bits.
TEST_F(ConvertWavFailure, SamplesThatAreNotNumbersBecomeSilenceAndAreCounted)
{
    writeAudioFile(source, {48000, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT}, 48000, [](std::int64_t frame, int channel) {
        if (frame == 1000 && channel == 0) return std::numeric_limits<float>::quiet_NaN();
        if (frame == 30000 && channel == 1) return std::numeric_limits<float>::infinity();
        return 0.25f * float(std::sin(frame * 0.05 + channel));
    });
    for (const OutputFormat format : {OutputFormat::int16, OutputFormat::float32}) {
        SCOPED_TRACE(rawValue(format));
        const ConversionReport report = convertWav(source, destination, {44100.0, format, {}});
        const AudioData out = readAudioFile(destination);
        EXPECT_EQ(out.frames(), 44100);
        EXPECT_TRUE(std::all_of(out.samples.begin(), out.samples.end(),
            [](float sample) { return std::isfinite(sample) && std::abs(sample) < 0.5f; }));
        EXPECT_EQ(report.source.nonFiniteSamples, 2u);
        EXPECT_EQ(runWarnings(report, cNumberText),
            std::vector<std::string>{"2 samples in the source were not numbers and were replaced by silence."});
    }
}

} // namespace
} // namespace fennick
