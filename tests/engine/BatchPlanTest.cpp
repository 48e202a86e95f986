// A many-file run's plan, its progress and its sentences, as the converter and the batch window
// both show them.

#include "FennickEngine.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fennick {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

struct PlanCase {
    const char* what;
    std::vector<BatchSource> sources;
    BatchDestination destination;
    std::vector<fs::path> outputs, names;
    std::vector<OutputClash> clashes;
};

TEST(BatchPlan, MapsEverySourceToItsOutputAndNamesBothOfAClash)
{
    const PlanCase cases[] = {
        {"into a folder, subfolders mirrored",
            {{"/in/a.wav", ""}, {"/in/disc 2/b.flac", "disc 2"}, {"/in/x/y/c.aif", "x/y"}}, {"/out"},
            {"/out/a_48000-24.wav", "/out/disc 2/b_48000-24.wav", "/out/x/y/c_48000-24.wav"},
            {"a_48000-24.wav", "disc 2/b_48000-24.wav", "x/y/c_48000-24.wav"}, {}},
        {"next to each source", {{"/in/a.wav", ""}, {"/in/disc 2/b.flac", "disc 2"}}, {"/ignored", true},
            {"/in/a_48000-24.wav", "/in/disc 2/b_48000-24.wav"}, {"a_48000-24.wav", "b_48000-24.wav"}, {}},
        {"two files named on their own, one name", {{"/in/take.wav", ""}, {"/other/take.wav", ""}}, {"/out/"},
            {"/out/take_48000-24.wav", "/out/take_48000-24.wav"}, {"take_48000-24.wav", "take_48000-24.wav"}, {{0, 1}}},
        {"three onto one, each later one against the first",
            {{"/in/a.wav", ""}, {"/in/b.wav", ""}, {"/in/a.aiff", ""}, {"/in/a.flac", ""}}, {"/out"},
            {"/out/a_48000-24.wav", "/out/b_48000-24.wav", "/out/a_48000-24.wav", "/out/a_48000-24.wav"},
            {"a_48000-24.wav", "b_48000-24.wav", "a_48000-24.wav", "a_48000-24.wav"}, {{0, 2}, {0, 3}}},
        {"next to the source parts them", {{"/in/take.wav", ""}, {"/other/take.wav", ""}}, {"/out", true},
            {"/in/take_48000-24.wav", "/other/take_48000-24.wav"}, {"take_48000-24.wav", "take_48000-24.wav"}, {}},
    };
    for (const PlanCase& c : cases) {
        const BatchPlan plan
            = planBatch(c.sources, c.destination, {.targetRate = 48000, .format = OutputFormat::int24, .options = {}});
        ASSERT_EQ(plan.outputs.size(), c.sources.size()) << c.what;
        for (std::size_t i = 0; i < c.sources.size(); ++i) {
            EXPECT_EQ(plan.outputs[i].source, c.sources[i].file) << c.what;
            EXPECT_EQ(plan.outputs[i].output, c.outputs[i]) << c.what << " " << i;
            EXPECT_EQ(plan.outputs[i].name, c.names[i]) << c.what << " " << i;
        }
        EXPECT_EQ(plan.clashes, c.clashes) << c.what;
    }
    // The suggested name takes the type's extension.
    EXPECT_EQ(
        defaultOutputFileName("take.wav", {44100, OutputFormat::int16, {}, OutputType::flac}), "take_44100-16.flac");
    EXPECT_EQ(clashSentence("take.wav", "other/take.wav", "out/take_44100-16.wav"),
        "take.wav and other/take.wav would both be written to out/take_44100-16.wav");
}

// Named files stand for themselves, folders for their audio files; what is there already is found
// before anything runs, a dangling link among it.
TEST(BatchPlan, FindsTheSourcesAndTheOutputsThatExist)
{
    TempDir dir;
    fs::create_directories(dir / "album/b");
    for (const char* name : {"album/1.wav", "album/b/2.flac", "album/notes.txt", "loose.txt"}) {
        std::ofstream(dir / name) << "x";
    }
    const std::vector<BatchSource> sources
        = findBatchSources({dir / "loose.txt", dir / "album", dir / "album/b", dir / "missing.wav"});
    ASSERT_EQ(sources.size(), 4u);
    EXPECT_EQ(sources[0].file, dir / "loose.txt");
    EXPECT_EQ(sources[1].file, dir / "album/1.wav");
    EXPECT_EQ(sources[2].file, dir / "album/b/2.flac"); // the second naming of album/b adds nothing
    EXPECT_EQ(sources[2].subfolder, "b");
    EXPECT_EQ(sources[3].file, dir / "missing.wav");

    const BatchPlan plan
        = planBatch(sources, {dir / "out"}, {.targetRate = 44100, .format = OutputFormat::int16, .options = {}});
    EXPECT_TRUE(existingOutputs(plan).empty());
    EXPECT_FALSE(createOutputFolder(dir / "out/b"));
    EXPECT_FALSE(createOutputFolder(dir / "out/b")); // there already
    EXPECT_TRUE(createOutputFolder(dir / "loose.txt/b")); // a file in the way
    std::ofstream(dir / "out/b/2_44100-16.wav") << "earlier";
    fs::create_symlink(dir / "nowhere", dir / "out/missing_44100-16.wav");
    EXPECT_EQ(existingOutputs(plan), (std::vector<std::size_t>{2, 3}));
}

TEST(BatchProgress, WeighsEachFileByItsLengthAndTellsTheTimeLeft)
{
    struct Step {
        int file; // -1: none
        double fraction; // 1 marks the file finished
        double elapsed;
        double expectedFraction;
        std::size_t filesDone;
        std::optional<std::string> left;
    };
    const std::tuple<const char*, std::vector<double>, std::vector<Step>> cases[] = {
        {"a long file counts for more", {30, 10},
            {{-1, 0, 0, 0, 0, std::nullopt}, {0, 0.5, 0.5, 0.375, 0, std::nullopt}, {0, 0.5, 15, 0.375, 0, "0:25"},
                {0, 1, 20, 0.75, 1, "0:07"}, {1, 1, 21, 1, 2, std::nullopt}}},
        {"a file of unknown length weighs nothing", {0, 100},
            {{0, 1, 5, 0, 1, std::nullopt}, {1, 0.5, 3600, 0.5, 1, "1:00:00"}}},
        {"no lengths at all: each file the same", {0, 0, 0, 0},
            {{2, 1, 2, 0.25, 1, "0:06"}, {0, 0.9, 2, 0.25, 1, "0:06"}}},
    };
    for (const auto& [what, seconds, steps] : cases) {
        BatchProgress progress(seconds);
        EXPECT_EQ(progress.fileCount(), seconds.size());
        for (const Step& step : steps) {
            if (step.file >= 0 && step.fraction == 1) progress.finished(static_cast<std::size_t>(step.file));
            if (step.file >= 0 && step.fraction < 1)
                progress.progressed(static_cast<std::size_t>(step.file), step.fraction);
            EXPECT_DOUBLE_EQ(progress.fraction(), step.expectedFraction) << what;
            EXPECT_EQ(progress.filesDone(), step.filesDone) << what;
            const auto left = progress.secondsLeft(step.elapsed);
            EXPECT_EQ(left ? std::optional(clockText(*left)) : std::nullopt, step.left) << what << " " << step.elapsed;
        }
    }
    for (const auto& [seconds, text] : {std::pair{0.0, "0:00"}, {59.5, "1:00"}, {754.4, "12:34"}, {3599.4, "59:59"},
             {3599.5, "1:00:00"}, {3729.0, "1:02:09"}, {36000.0, "10:00:00"}}) {
        EXPECT_EQ(clockText(seconds), text) << seconds;
    }
}

TEST(RunSentences, OneWordingInEitherNotation)
{
    const std::string version = "libsoxr-0.1.3";
    // Marks what went through the caller's number text: the count and the rounded peak, nothing else.
    const NumberText marked = [](double value) { return "<" + cNumberText(value) + ">"; };
    const std::tuple<std::optional<std::string>, std::optional<std::string>> cases[] = {
        {clipWarning({379, 0, 0.3104}, cNumberText), "379 samples clipped (peak +0.31 dBFS)."},
        {clipWarning({1379, 0, 0.3104}, marked), "<1379> samples clipped (peak +<0.31> dBFS)."},
        {clipWarning({1234567, 0, 12.5}, cNumberText), "1234567 samples clipped (peak +12.5 dBFS)."},
        {clipWarning({1, 0, -0.0003}, cNumberText), "1 sample clipped (peak 0 dBFS)."},
        {clipWarning({0, 12, 0.8}, marked), "The file holds <12> samples over full scale (peak +<0.8> dBFS)."},
        {clipWarning({0, 1, -0.456}, cNumberText), "The file holds 1 sample over full scale (peak -0.46 dBFS)."},
        {clipWarning({0, 0, -3.0}, cNumberText), std::nullopt},
        {nonFiniteWarning(1, cNumberText), "1 sample in the source was not a number and was replaced by silence."},
        {nonFiniteWarning(0, cNumberText), std::nullopt},
        {damageWarning({44100, 44100LL * 3723, 44100LL * 3723 - 11025, false, 0}),
            "The source ended after 1:02:02.750 of its stated 1:02:03.000; the rest was missing."},
        {damageWarning({96000, 96000, 96000, false, 0}), std::nullopt},
        {notCarriedWarning({true, true, false, {"INAM", "IKEY"}, 4, 0, false, false}, OutputType::flac),
            "Not carried into FLAC: Broadcast WAV (bext), iXML, 1 tag, 4 markers."},
        {notCarriedWarning({true, true, true, {"IKEY"}, 4, 1, false, true}, OutputType::rf64), std::nullopt},
        {savedSentence("take_48000-24.wav", version), "Saved take_48000-24.wav (libsoxr-0.1.3)"},
        {failedSentence("No such file or directory"), "Conversion failed: No such file or directory"},
        {batchSummary({12, 0, 0, 0}, version), "Saved 12 files (libsoxr-0.1.3)"},
        {batchSummary({1, 1, 0, 0}, version), "Saved 1 file, 1 failed (libsoxr-0.1.3)"},
        {batchSummary({0, 2, 3, 4}, version), "Saved 0 files, 2 failed, 3 cancelled, 4 skipped (libsoxr-0.1.3)"},
        {batchSummary({5, 0, 0, 1}, version), "Saved 5 files, 1 skipped (libsoxr-0.1.3)"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(text, expected);
}

} // namespace
} // namespace fennick
