// Every way a conversion can fail or be stopped, with real files: the right error, nothing leaked,
// the source untouched, and the destination exactly as the user had it, with nothing left beside
// it. Sources that cannot be opened or resampled are in the hardening tests' hostile-input matrix.

#include "EngineTestSupport.h"

#include "ConvertWav.h"
#include "FennickEngine.h"

#include <csignal>
#include <cxxabi.h>
#include <fstream>
#include <stop_token>
#include <sys/resource.h>
#include <unistd.h>

namespace fennick {
namespace {

using namespace fennick::test;
namespace fs = std::filesystem;

class ConvertWavFailure : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        ThreadBudget::setCores(2); // the stereo source in two groups, whatever the machine
        writeAudioFile(source, {44100, 2}, 3 * kInputBlockFrames, sine(440, 44100));
        sourceBytes = fileBytes(source);
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
            convertWav(source, to, rate, OutputFormat::float32, {}, progress, control);
        } catch (const std::exception& e) { // "ConversionError: …", or a foreign type that fails the case
            const std::unique_ptr<char, decltype(&std::free)> type(
                abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, nullptr), &std::free);
            error = std::string(type.get()) + ": " + e.what();
            if (error.starts_with("fennick::")) error.erase(0, 9);
        }
        EXPECT_EQ(openDescriptorCount(), descriptors);
        EXPECT_EQ(fileBytes(source), sourceBytes);
        EXPECT_EQ(soxrRecord.deletes, soxrRecord.creates);
        return error;
    }

public:
    TempDir dir;
    fs::path source = dir / "in.wav", destination = dir / "out.wav";
    std::string sourceBytes;
    std::stop_source stop; // for the cases that cancel
    int descriptors = 0;
    rlimit fileSizeLimit{};
};

struct FailureCase {
    const char* name;
    std::string error; // '@' stands for the destination's path
    std::function<void(ConvertWavFailure&)> before = {}; // sets the failure up
    std::function<void(ConvertWavFailure&, int report)> during = {}; // at each progress report
    double rate = 48000.0;
    bool replaceExisting = true;
    int reports = -1; // progress reports before the failure; -1: any number
    bool flushed = false;
};
void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class ConvertWavFailing : public ConvertWavFailure, public ::testing::WithParamInterface<FailureCase> { };

TEST_P(ConvertWavFailing, LeavesTheDestinationAsItWasAndNothingBesideIt)
{
    const FailureCase& c = GetParam();
    if (c.before) c.before(*this);
    const std::string earlier = fileBytes(destination);
    int reports = 0;
    std::string error = c.error;
    if (const auto at = error.find('@'); at != std::string::npos) error.replace(at, 1, destination.string());
    EXPECT_EQ(failure(destination, c.rate,
                  [&](double) {
                      ++reports;
                      if (c.during) c.during(*this, reports);
                  },
                  {stop.get_token(), c.replaceExisting}),
        error);
    if (c.reports >= 0) {
        EXPECT_EQ(reports, c.reports);
    }
    EXPECT_EQ(soxrRecord.flushes > 0, c.flushed);
    EXPECT_EQ(fileBytes(destination), earlier);
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"in.wav", "out.wav"}));
}

// Whatever the run wrote so far goes to the temporary file beside the destination.
const std::string kPartial = ".fennick-partial";

INSTANTIATE_TEST_SUITE_P(Cases, ConvertWavFailing,
    ::testing::Values(FailureCase{"zeroTargetRate", "ConversionError: A target sample rate of 0 Hz is not possible.",
                          {}, {}, 0.0, true, 0},
        FailureCase{"fractionalTargetRate", "ConversionError: A target sample rate of 44100.5 Hz is not possible.", {},
            {}, 44100.5, true, 0},
        // The source under another name; itself and symbolic links to it are in the hostile-input matrix.
        FailureCase{"hardLinkToTheSource",
            "ConversionError: The destination is the source file itself; choose another file name.",
            [](auto& f) {
                fs::remove(f.destination);
                fs::create_hard_link(f.source, f.destination);
                f.sourceBytes = fileBytes(f.source);
            },
            {}, 48000.0, true, 0},
        FailureCase{"createGivesNoText", "SoxrError: libsoxr: unknown libsoxr error",
            [](auto&) { soxrRecord.failCreate = true; }, {}, 48000.0, true, 0},
        FailureCase{"processWhileStreaming", "SoxrError: libsoxr: processing failed",
            [](auto&) { soxrRecord.failProcess = true; }, {}, 48000.0, true, 0},
        FailureCase{"flush", "SoxrError: libsoxr: flushing failed", [](auto&) { soxrRecord.failFlush = true; }, {},
            48000.0, true, 3, true},
        FailureCase{"readError", "AudioFileError: Bad file descriptor", {},
            [](auto&, int) { redirectDescriptor("in.wav", "/dev/null"); }, 48000.0, true, 1},
        FailureCase{"fullDiskMidStream", "AudioFileError: No space left on device", {},
            [](auto&, int) { redirectDescriptor(kPartial, "/dev/full"); }, 48000.0, true, 1},
        FailureCase{"fileSizeLimit", "AudioFileError: File too large",
            [](auto&) {
                std::signal(SIGXFSZ, SIG_IGN); // as the programs do: the write fails instead
                const rlimit limit{200000, RLIM_INFINITY};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            },
            {}, 48000.0, true, 0},
        // Once the resampler is deleted only closing the file is left, and its final header
        // write goes to a full device.
        FailureCase{"closeError", "AudioFileError: No space left on device",
            [](auto&) {
                soxrRecord.onDelete = [] {
                    if (soxrRecord.deletes == 0) redirectDescriptor(kPartial, "/dev/full");
                };
            },
            {}, 48000.0, true, 3, true},
        FailureCase{"cancelledAtTheSecondBlock", "ConversionCancelled: Conversion cancelled.", {},
            [](auto& f, int report) {
                if (report == 2) f.stop.request_stop();
            },
            48000.0, true, 2},
        // Refused before anything is converted.
        FailureCase{"existingDestinationNotToBeReplaced", "DestinationExists: @ already exists.", {}, {}, 48000.0,
            false, 0}),
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

} // namespace
} // namespace fennick
