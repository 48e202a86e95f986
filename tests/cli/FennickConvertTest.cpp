// fennick-convert as a user runs it: real files in, real files out, exit codes and output lines.

#include "FennickEngine.h"
#include "RunProcess.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <soxr.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace fennick::test {
namespace {

const std::string kConverter = FENNICK_CONVERT_PATH;
const std::string kVersion = soxr_version(); // the linked libsoxr's, which the converter falls back to

class FennickConvert : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeAudioFile(source, {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 44100, sine(997, 44100, 0.7));
    }
    ProcessResult convert(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), kConverter);
        return runProcess(arguments, dir.path());
    }
    TempDir dir;
    std::filesystem::path source = dir / "take.wav";
};

bool haveTool(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }

// ffmpeg's Broadcast WAV one hour into the day at 48 kHz, read back by mediainfo: still one hour at
// 44.1 kHz, the title and the history kept with one line added; --no-metadata leaves all of it out.
// Both files must be what another tool reads: rate, encoding and length.
TEST_F(FennickConvert, WritesWhatAnotherToolReadsAndKeepsItsBroadcastWavUnlessToldNot)
{
    if (!haveTool("ffmpeg") || !haveTool("mediainfo")) GTEST_SKIP() << "ffmpeg or mediainfo not installed";
    const std::string bwf = dir / "bwf.wav", carried = dir / "carried.wav", plain = dir / "plain.wav";
    runProcess({"ffmpeg", "-f", "lavfi", "-i", "sine=r=48000:d=1", "-write_bext", "1", "-metadata", "title=Take 3",
                   "-metadata", "time_reference=172800000", "-metadata", "coding_history=A=PCM,T=rec", bwf},
        dir.path());
    const auto saved = convert({bwf, carried}); // a sine well below full scale: no clip warning
    EXPECT_EQ(saved.out + saved.err, "Saved carried.wav (" + kVersion + ")\n");
    EXPECT_EQ(convert({bwf, plain, "--no-metadata", "-r", "96000", "-f", "float32"}).exitCode, 0);
    const auto shown = [&](const std::string& path) {
        return runProcess({"mediainfo", "--Output=General;%Title%|%Encoded_Library_Settings%|", path}, dir.path()).out
            + runProcess({"mediainfo",
                             "--Output=Audio;%Delay%|%SamplingRate%|%BitDepth%|%Format_Profile%|%SamplingCount%", path},
                dir.path())
                  .out;
    };
    EXPECT_EQ(shown(carried),
        "Take 3|A=PCM,T=rec / A=PCM,F=44100,W=16,M=mono,T=Fennick " FENNICK_TEST_VERSION "; " + kVersion
            + "|\n3600000.000000|44100|16||44100\n");
    EXPECT_EQ(shown(plain), "||\n|96000|32|Float|96000\n");
    // The bext's version-2 loudness fields hold the output's figures, in hundredths.
    const LevelFigures level = analyzeFile(carried);
    const std::string xml = runProcess({"mediainfo", "--Output=XML", carried}, dir.path()).out;
    for (const auto& [name, value] :
        {std::pair{"LoudnessValue", level.integratedLufs}, {"MaxTruePeakLevel", level.truePeakDbtp}}) {
        char field[96];
        std::snprintf(field, sizeof field, "<%s>%.2f</%s>", name, value, name);
        EXPECT_NE(xml.find(field), std::string::npos) << field;
    }
}

// --report json: one JSON object a line with every field; --analyze gives the same figures for the
// output of an equal-rate float32 conversion as the report did.
TEST_F(FennickConvert, ReportsJsonAndAnalyzesWhatItWrote)
{
    if (!haveTool("python3")) GTEST_SKIP() << "python3 not installed";
    const auto report = convert({source, "out.wav", "-f", "float32", "--report", "json", "--quiet"});
    const auto analyzed = convert({"--analyze", "--report", "json", source, "out.wav"});
    ASSERT_EQ(report.exitCode + analyzed.exitCode, 0) << report.err << analyzed.err;
    const auto checked = runProcess({"python3", "-c", R"(
import json, sys
report = json.loads(sys.argv[1])
source, output = [json.loads(line) for line in sys.argv[2].splitlines()]
assert set(report) == {"source", "destination", "sourceRate", "targetRate", "format", "channels", "frames",
    "seconds", "gainDb", "samplePeakDbfs", "truePeakDbtp", "integratedLufs", "loudnessRangeLu", "clippedSamples",
    "warnings"}, report
figures = ["samplePeakDbfs", "truePeakDbtp", "integratedLufs", "loudnessRangeLu"]
assert all(report[k] == output[k] for k in figures), (report, output)
assert report["frames"] == 44100 and report["warnings"] == [] and output["source"] == "out.wav"
print(round(source["integratedLufs"] - report["integratedLufs"], 3))
)",
                                        report.out, analyzed.out},
        dir.path());
    EXPECT_EQ(checked.out + checked.err, "0.0\n");
    EXPECT_EQ(std::count(report.out.begin(), report.out.end(), '\n'), 1);
}

// Layouts ffmpeg writes into WAVE_FORMAT_EXTENSIBLE, a tagged 5.1 FLAC from flac and a 6-channel
// AIFF from sox (no layout): in every output format ffprobe reads back the source's layout ("unknown"
// for none, never a guessed 5.1), and neither ffprobe nor sox has a word to say about the file but
// the line sox 14.4.2 prints for every extensible float header; Python's scipy and soundfile read
// it without a warning. The FLAC's tags land where ffprobe reads them.
TEST_F(FennickConvert, OutputsKeepTheSourcesLayoutAndTagsAndReadCleanlyInOtherTools)
{
    for (const char* tool : {"ffmpeg", "ffprobe", "sox", "flac"})
        if (!haveTool(tool)) GTEST_SKIP() << tool << " not installed";
    const auto run = [&](std::vector<std::string> arguments) { return runProcess(arguments, dir.path()); };
    const std::string python = "/usr/bin/python3",
                      readStrictly = "import sys, warnings, scipy.io.wavfile, soundfile\n"
                                     "warnings.simplefilter('error')\n"
                                     "scipy.io.wavfile.read(sys.argv[1])\n"
                                     "soundfile.read(sys.argv[1])\n";
    if (run({python, "-c", "import scipy.io.wavfile, soundfile"}).exitCode != 0)
        GTEST_SKIP() << "Python's scipy and soundfile not installed";
    const auto layoutOf = [&](const std::string& file) {
        return run({"ffprobe", "-v", "error", "-show_entries", "stream=channel_layout", "-of", "csv=p=0", file});
    };
    std::vector<std::pair<std::string, std::string>> sources; // file, layout ffprobe must read back
    for (const std::string layout : {"5.1", "5.1(side)", "7.1", "quad", "2.1", "3.0(back)"}) {
        const std::string file = "layout " + layout + ".wav";
        run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=d=0.1:r=48000", "-af",
            "aformat=channel_layouts=" + layout, "-c:a", "pcm_s24le", file});
        sources.emplace_back(file, layout);
    }
    run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=d=0.1:r=48000", "-af", "aformat=channel_layouts=5.1",
        "-c:a", "pcm_s16le", "flac source.wav"});
    run({"flac", "-s", "--tag=TITLE=Air", "--tag=ISRC=GBAYE0601498", "--tag=COMPOSER=J. S. Bach",
        "--tag=ALBUMARTIST=The Band", "--tag=DISCNUMBER=2", "--tag=TRACKNUMBER=7", "-o", "tagged.flac",
        "flac source.wav"});
    sources.emplace_back("tagged.flac", "5.1");
    run({"sox", "-n", "-r", "48000", "-c", "6", "six.aiff", "synth", "0.1", "sine", "440"});
    sources.emplace_back("six.aiff", "unknown");

    for (const auto& [file, layout] : sources) {
        ASSERT_EQ(layoutOf(file).out, layout + "\n") << file;
        for (const std::string format : {"int16", "int24", "float32"}) {
            SCOPED_TRACE(file + " to " + format);
            const std::string out = format + " " + file + ".wav";
            ASSERT_EQ(convert({"--quiet", "-q", "quick", "-f", format, file, out}).exitCode, 0);
            const auto probed = layoutOf(out);
            EXPECT_EQ(probed.out + probed.err, layout + "\n");
            std::string soxSays = run({"sox", "--i", out}).err;
            soxSays.erase(0, soxSays.find(' ') + 1); // sox names itself as it was called
            EXPECT_EQ(soxSays, format == "float32" ? "WARN wav: wave header missing extended part of fmt chunk\n" : "");
            const auto strict = run({python, "-c", readStrictly, out});
            EXPECT_EQ(strict.exitCode, 0) << strict.err;
        }
    }
    const auto tags = run(
        {"ffprobe", "-v", "error", "-show_entries", "format_tags", "-of", "default=nw=1", "int24 tagged.flac.wav"});
    EXPECT_EQ(tags.out, "TAG:title=Air\nTAG:IAAR=The Band\nTAG:IMUS=J. S. Bach\nTAG:track=7\nTAG:ISRC=GBAYE0601498\n");
}

// Every option must reach the engine: the converter's file equals the engine's own for the same
// settings (float and undithered output is deterministic; the default rate and format are read back
// by mediainfo above). A repeated option takes its last value.
TEST_F(FennickConvert, OptionsReachTheEngineUnchangedAndTheLastOfARepeatedOneWins)
{
    using O = ConversionOptions;
    const std::pair<std::vector<std::string>, ConversionSettings> cases[] = {
        {{"-q", "quick", "-r", "48000", "-f", "float32", "-q", "bits32", "--phase", "minimum", "--rolloff", "none",
             "--bandwidth", "95.5", "--double-precision", "--quiet", "-r", "88200"},
            {88200.0, OutputFormat::float32,
                {.precision = O::Precision::bits32,
                    .phase = O::Phase::minimum,
                    .rolloff = O::Rolloff::none,
                    .bandwidthPercent = 95.5,
                    .doublePrecision = true}}},
        {{"--steep", "--no-dither", "-r", "48000"},
            {48000.0, OutputFormat::int16, {.steepFilter = true, .dither = false}}},
        {{"--dither", "tpdf", "-f", "int24", "--dither-seed", "1", "--dither", "shaped", "--dither-seed", "42"},
            {.targetRate = 44100,
                .format = OutputFormat::int24,
                .options = {},
                .dither = Dither::shaped,
                .ditherSeed = 42}},
    };
    for (auto [arguments, settings] : cases) {
        const auto fromCli = dir / "cli.wav", fromEngine = dir / "engine.wav";
        arguments.insert(arguments.end(), {"--overwrite", source.string(), fromCli.string()});
        const auto result = convert(arguments);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        convertWav(source, fromEngine, settings);
        EXPECT_EQ(fileBytes(fromCli), fileBytes(fromEngine));
    }
}

// The report is the engine's measurement of the same settings, one line a figure, and writes nothing.
TEST_F(FennickConvert, FilterReportPrintsTheMeasuredFigures)
{
    const auto result = convert({"--filter-report", "--source-rate", "96000", "-r", "48000", "--steep"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const FilterResponse r = measureFilterResponse(96000, 48000, {.steepFilter = true});
    char minus3[64];
    std::snprintf(minus3, sizeof minus3, "\nminus-3-dB: %.1f Hz\npassband-ripple: ", r.minus3DbHz);
    EXPECT_NE(result.out.find(minus3), std::string::npos) << result.out;
    // Integer output adds the dither's figures; float output has none.
    const DitherNoise noise = ditherNoise(Dither::shaped, OutputFormat::int16, 48000, 64);
    std::snprintf(minus3, sizeof minus3, "dither-weighted: %.1f dB\ndither-1-5-kHz: %.1f dB\n", noise.weightedDb,
        noise.band1To5kDb);
    const auto shaped = convert({"--filter-report", "--source-rate", "96000", "-r", "48000", "--dither", "shaped"});
    EXPECT_TRUE(shaped.out.ends_with(minus3)) << shaped.out;
    const auto float32 = convert({"--filter-report", "--source-rate", "96000", "-r", "48000", "-f", "float32"});
    EXPECT_EQ(float32.out.find("dither"), std::string::npos) << float32.out;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// Usage errors: exit 2 and one line in our words that names what is wrong; nothing is written.
TEST_F(FennickConvert, UsageErrorsExitWithOneLineNamingTheProblem)
{
    const std::string never = (dir / "never.wav").string();
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{source.string()}, "a SOURCE and a DESTINATION are needed"},
        {{"-r", "0", source.string(), never}, "--rate takes a whole number of hertz from 1 to 2147483647, not '0'"},
        {{"-r", "44.1k", source.string(), never},
            "--rate takes a whole number of hertz from 1 to 2147483647, not '44.1k'"},
        {{"-f", "int32", source.string(), never}, "--format takes int16, int24 or float32, not 'int32'"},
        {{"-q", "VeryHigh", source.string(), never},
            "--quality takes quick, low, medium, bits16, high, bits24, veryHigh or bits32, not 'VeryHigh'"},
        {{"--bandwidth", "99.8", source.string(), never},
            "--bandwidth takes a percentage from 74.0 to 99.7, not '99.8'"},
        {{"--steep", "--bandwidth", "95", source.string(), never},
            "--steep sets its own bandwidth; leave out --bandwidth"},
        {{"--filter-report", "--source-rate", "96000", source.string()},
            "--filter-report converts nothing; leave out the files"},
        {{"--filter-report", "-r", "48000"}, "--filter-report needs --source-rate"},
        {{"--source-rate", "96000", source.string(), never}, "--source-rate is only for --filter-report"},
        {{"--dither", "loud", source.string(), never}, "--dither takes none, tpdf, shaped-light or shaped, not 'loud'"},
        {{"--no-dither", "--dither", "tpdf", source.string(), never}, "--no-dither is --dither none; give one of them"},
        {{"--dither-seed", "-1", source.string(), never},
            "--dither-seed takes a whole number from 0 to 18446744073709551615, not '-1'"},
        {{"--bogus", source.string(), never}, "unknown option '--bogus'"},
        {{source.string(), never, "extra"}, "unexpected argument 'extra'"},
        {{source.string(), never, "-r"}, "--rate needs a value"},
        {{source.string(), (dir / "never.mp3").string()},
            "DESTINATION '" + (dir / "never.mp3").string()
                + "' names a type not written; it must end in .wav, .rf64, .w64, .aiff, .aif, .flac, .caf or have no "
                  "extension"},
        {{"-f", "float32", source.string(), (dir / "never.FLAC").string()},
            "FLAC holds 16-bit and 24-bit integer samples, not 32-bit float."},
        {{"--type", "wav", source.string(), (dir / "never.FLAC").string()},
            "DESTINATION '" + (dir / "never.FLAC").string() + "' names a FLAC file, not --type wav"},
        {{"-o", dir.path().string(), "--type", "flac", "-f", "float32", source.string()},
            "FLAC holds 16-bit and 24-bit integer samples, not 32-bit float."},
    };
    for (const auto& [arguments, reason] : cases) {
        const auto result = convert(arguments);
        EXPECT_EQ(result.exitCode, 2) << reason;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "fennick-convert: " + reason + " (see --help)\n");
    }
    EXPECT_FALSE(std::filesystem::exists(never));
    EXPECT_FALSE(std::filesystem::exists(dir / "never.FLAC"));
    EXPECT_FALSE(std::filesystem::exists(dir / "never.mp3"));
    // Any letter case of .wav, and no extension at all, are WAV files.
    EXPECT_EQ(convert({"--quiet", source.string(), (dir / "upper.WAV").string()}).exitCode, 0);
    EXPECT_EQ(convert({"--quiet", source.string(), (dir / "bare").string()}).exitCode, 0);
    EXPECT_EQ(readAudioFile(dir / "bare").info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
}

// On a terminal (script(1) gives it one) the converter draws a live bar that ends at 100% and is
// cleared before the result line.
TEST_F(FennickConvert, DrawsProgressOnATerminalUnlessQuiet)
{
    for (const std::string quiet : {"", "--quiet "}) {
        const std::string command
            = kConverter + " " + quiet + "--overwrite " + source.string() + " " + (dir / "tty.wav").string();
        const auto result = runProcess({"script", "-qec", command, "/dev/null"}, dir.path());
        EXPECT_EQ(result.exitCode, 0) << result.out;
        EXPECT_EQ(
            result.out.find("] 100%\r\033[KSaved tty.wav (" + kVersion + ")\r\n") != std::string::npos, quiet.empty());
        EXPECT_EQ(result.out == "Saved tty.wav (" + kVersion + ")\r\n", !quiet.empty()) << result.out;
    }
}

// A float master 6 dB over full scale clips; the file says so on stderr, with the peak before
// clipping, also with --quiet, while stdout keeps its one line and the run still succeeds. A quiet
// source's run has no warning (above).
TEST_F(FennickConvert, ClippingIsToldOnStderr)
{
    const auto master = dir / "master.wav";
    writeAudioFile(master, {44100, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT}, 44100, sine(1000, 44100, 2.0));
    for (const auto& [format, before, after] :
        {std::tuple{"int16", "", " samples clipped (peak +6.0"}, std::tuple{"int24", "", " samples clipped (peak +6.0"},
            std::tuple{"float32", "The file holds ", " samples over full scale (peak +6.0"}}) {
        const auto result = convert({"--quiet", "-r", "48000", "-f", format, master.string(), (dir / format).string()});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, "Saved " + std::string(format) + " (" + kVersion + ")\n");
        const ClipReport clips
            = convertWav(master, dir / "engine.wav", {48000.0, fromRawValue<OutputFormat>(format).value(), {}}).clips;
        const std::uint64_t count = clips.clippedSamples + clips.samplesOverFullScale;
        EXPECT_GT(count, 1000u);
        EXPECT_TRUE(result.err.starts_with("warning: " + std::string(before) + std::to_string(count) + after))
            << result.err;
    }
}

// A recording cut short converts with exit 0, its warning on stderr and stdout the Saved line alone;
// in a many-file run the warning carries the file's name.
TEST_F(FennickConvert, ADamagedSourceIsConvertedWithAWarning)
{
    const auto cut = dir / "cut.wav";
    writeAudioFile(cut, {48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, 48000, sine(440, 48000));
    damageWav(cut, 0u, 48000);
    const std::string said
        = "The source's header gave no length (an unfinished recording); the 0:00.500 of audio after it was converted.";
    const auto one = convert({"--quiet", "-r", "44100", cut.string(), (dir / "one.wav").string()});
    EXPECT_EQ(one.exitCode, 0);
    EXPECT_EQ(one.out, "Saved one.wav (" + kVersion + ")\n");
    EXPECT_EQ(one.err, "warning: " + said + "\n");
    const auto many = convert({"--quiet", "-o", (dir / "out").string(), "-r", "44100", cut.string(), source.string()});
    EXPECT_EQ(many.exitCode, 0);
    EXPECT_EQ(many.err, "warning: cut_44100-16.wav: " + said + "\n");
}

// A folder tree with two files that cannot be read, two at a time: every other file comes out as a
// one-file run makes it, in the mirrored layout; the two failures are told and the run exits 1.
TEST_F(FennickConvert, ConvertsAFolderTreeAsOneFileRunsWould)
{
    const auto tree = dir / "album";
    const std::pair<std::string, AudioSpec> files[]
        = {{"01.wav", {}}, {"02.WAV", {48000, 1}}, {"03.aif", {96000, 2, SF_FORMAT_AIFF | SF_FORMAT_PCM_16}},
            {"b/04.flac", {88200, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_24}}, {"b/05.wav", {22050, 1}},
            {"b/06.aiff", {44100, 2, SF_FORMAT_AIFF | SF_FORMAT_FLOAT}}, {"b/c/07.wav", {}}, {"b/c/08.Wav", {32000, 2}},
            {"b/c/09.wav", {8000, 1}}, {"b/c/10.FLAC", {48000, 1, SF_FORMAT_FLAC | SF_FORMAT_PCM_16}}};
    std::filesystem::create_directories(tree / "b/c");
    for (const auto& [name, layout] : files) writeAudioFile(tree / name, layout, 3000, sine(440, layout.sampleRate));
    std::ofstream(tree / "b/broken.wav") << "not audio";
    std::ofstream(tree / "b/c/empty.flac");
    std::ofstream(tree / "notes.txt") << "not a source";
    std::filesystem::create_directory_symlink("..", tree / "b/c/up"); // walked once, not forever
    // The one-file runs in this process first: once QProcess has started a child (sharing this
    // process's memory until it executes), ThreadSanitizer reports races in threads started later.
    const auto outputName = [](const std::string& name) {
        return std::filesystem::path(name).parent_path()
            / defaultOutputFileName(name, {.targetRate = 48000, .format = OutputFormat::int16, .options = {}});
    };
    // Every dither choice gives the same bytes in every run: alone, and two files at a time.
    for (const Dither dither : allCases<Dither>()) {
        const auto choice = std::string(rawValue(dither));
        for (const auto& [name, layout] : files) {
            const auto alone = dir / ("alone-" + choice) / outputName(name);
            std::filesystem::create_directories(alone.parent_path());
            convertWav(tree / name, alone,
                {.targetRate = 48000, .format = OutputFormat::int16, .options = {}, .dither = dither});
        }
    }
    for (const Dither dither : allCases<Dither>()) {
        const auto choice = std::string(rawValue(dither));
        const auto result = convert(
            {"-o", (dir / "out").string(), "-j", "2", "-r", "48000", "--dither", choice, "--overwrite", tree});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 10) << result.out;
        for (const auto broken : {"b/broken.wav", "b/c/empty.flac"}) {
            EXPECT_NE(result.err.find("Conversion failed: " + (tree / broken).string() + ": "), std::string::npos)
                << result.err;
        }
        for (const auto& [name, layout] : files) {
            const auto output = outputName(name);
            EXPECT_NE(result.out.find("Saved " + output.string() + " (" + kVersion + ")\n"), std::string::npos);
            EXPECT_TRUE(fileBytes(dir / "out" / output) == fileBytes(dir / ("alone-" + choice) / output))
                << choice << " " << output;
        }
    }
}

// A folder's tracks in natural name order, cut at their rescaled boundaries: 1001 frames each at
// 44.1 kHz end at 1090, 2179 and 3269 frames at 48 kHz.
TEST_F(FennickConvert, GaplessTakesAFoldersTracksInNaturalOrderAsOneRecording)
{
    std::filesystem::create_directories(dir / "live");
    for (const auto name : {"track 10.wav", "track 2.wav", "track 1.wav"})
        writeAudioFile(dir / "live" / name, {}, 1001, sine(440, 44100));
    const auto result = convert({"--gapless", "-o", (dir / "out").string(), "-r", "48000", (dir / "live").string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::string saved;
    for (const auto& [track, frames] : {std::pair{"1", 1090}, {"2", 1089}, {"10", 1090}}) {
        const std::string name = std::string("track ") + track + "_48000-16.wav";
        saved += "Saved " + name + " (" + kVersion + ")\n";
        EXPECT_EQ(readAudioFile(dir / "out" / name).frames(), frames) << name;
    }
    EXPECT_EQ(result.out, saved);
}

// A folder of every kind of source into FLAC: each one saved and sound, the Broadcast WAV's chunk
// named as what FLAC cannot hold.
TEST_F(FennickConvert, ConvertsMixedSourcesIntoFlacNamingWhatItCannotHold)
{
    if (!haveTool("ffmpeg") || !haveTool("flac")) GTEST_SKIP() << "ffmpeg or flac not installed";
    std::filesystem::create_directories(dir / "mixed");
    runProcess({"ffmpeg", "-f", "lavfi", "-i", "sine=r=48000:d=1", "-write_bext", "1", "-metadata", "title=Take 3",
                   (dir / "mixed/bwf.wav").string()},
        dir.path());
    const std::pair<std::string, int> others[]
        = {{"a.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24}, {"b.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT},
            {"c.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16}, {"d.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16}};
    for (const auto& [name, format] : others)
        writeAudioFile(dir / "mixed" / name, {96000, 2, format}, 9600, sine(440, 96000));
    const auto result = convert({"-o", "out", "--type", "flac", "-f", "int24", "mixed"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "warning: bwf_44100-24.flac: Not carried into FLAC: Broadcast WAV (bext).\n");
    for (const char* name : {"a", "b", "bwf", "c", "d"}) {
        const std::string output = std::string(name) + "_44100-24.flac";
        EXPECT_NE(result.out.find("Saved " + output), std::string::npos) << result.out;
        EXPECT_EQ(runProcess({"flac", "-t", "-s", (dir / "out" / output).string()}, dir.path()).exitCode, 0) << output;
    }
}

// Refusals come before anything is converted: the output folder holds what it held, as it held it.
TEST_F(FennickConvert, ManyFileRunsRefuseBeforeConverting)
{
    std::filesystem::create_directories(dir / "other");
    std::filesystem::create_directories(dir / "out");
    std::filesystem::copy_file(source, dir / "other/take.wav");
    std::filesystem::copy_file(source, dir / "kept.wav");
    std::ofstream(dir / "out/kept_44100-16.wav") << "kept";
    writeAudioFile(dir / "mono.wav", {44100, 1}, 100, sine(440, 44100));
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{"--gapless", "take.wav", "x.wav"}, 2, "fennick-convert: --gapless needs -o FOLDER (see --help)\n"},
        {{"--gapless", "-o", "out", "take.wav", "kept.wav", "mono.wav"}, 2,
            "fennick-convert: mono.wav has 44100 Hz, 1 channel; the album's first file has 44100 Hz, 2 channels. (see "
            "--help)\n"},
        {{"-o", "out", "take.wav", "other/take.wav"}, 2,
            "fennick-convert: take.wav and other/take.wav would both be written to out/take_44100-16.wav\n"},
        {{"-o", "out", "take.wav", "kept.wav"}, 1,
            "Conversion failed: out/kept_44100-16.wav already exists; use --overwrite to replace it.\n"},
        {{"take.wav", "out/kept_44100-16.wav"}, 1,
            "Conversion failed: out/kept_44100-16.wav already exists; use --overwrite to replace it.\n"},
        {{"-j", "0", "-o", "out", "take.wav"}, 2,
            "fennick-convert: --jobs takes a whole number from 1 to 1024, not '0' (see --help)\n"},
    };
    for (auto [arguments, exitCode, err] : cases) {
        arguments.insert(arguments.begin(), {"env", "-C", dir.path().string(), kConverter}); // relative names
        const auto result = runProcess(arguments, dir.path());
        EXPECT_EQ(result.exitCode, exitCode);
        EXPECT_EQ(result.err, err);
        EXPECT_EQ(folderEntries(dir / "out"), std::vector<std::string>{"kept_44100-16.wav"});
        EXPECT_EQ(fileBytes(dir / "out/kept_44100-16.wav"), "kept");
    }
}

// A run held inside libsoxr (a stand-in that waits while a gate file exists) until the test has
// done what it must do mid-run.
class HeldRun {
public:
    HeldRun(const std::filesystem::path& folder, std::vector<std::string> arguments) : gate_(folder / "gate")
    {
        std::ofstream(gate_) << "shut";
        arguments.insert(arguments.begin(), kConverter);
        process_.emplace(arguments, folder,
            QStringList{"FENNICK_LIBSOXR=" FENNICK_GATED_SOXR, "FENNICK_TEST_GATE=" + QString::fromStdString(gate_)});
        while (!std::filesystem::exists(gate_.string() + ".reached"))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // The converter's signal thread ends once it has stopped the run: only then may the run go on,
    // or a file not yet at the gate could finish before the stop.
    void interrupt(int signal) const
    {
        process_->signal(signal);
        while (process_->hasThread("fennick-signals")) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ProcessResult release()
    {
        std::filesystem::remove(gate_);
        return process_->wait();
    }

private:
    std::filesystem::path gate_;
    std::optional<BackgroundProcess> process_;
};

TEST_F(FennickConvert, SigintAndSigtermCancelAndLeaveTheEarlierFileAlone)
{
    const auto destination = dir / "kept.wav";
    std::filesystem::create_directories(dir / "many");
    for (const auto name : {"a.wav", "b.wav", "c.wav"}) std::filesystem::copy_file(source, dir / "many" / name);
    for (const int signal : {SIGINT, SIGTERM}) {
        TempDir gates;
        std::ofstream(destination) << "the take the user already had";
        HeldRun run(gates.path(), {"--overwrite", source.string(), destination.string()});
        run.interrupt(signal);
        const ProcessResult result = run.release();
        EXPECT_EQ(result.exitCode, 128 + signal);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(fileBytes(destination), "the take the user already had");
        EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"kept.wav", "many", "take.wav"}));
    }
    // Many files: the two under way are cancelled, the third never starts, nothing is left.
    TempDir gates;
    HeldRun run(gates.path(), {"-j", "2", "-o", (gates / "out").string(), (dir / "many").string()});
    run.interrupt(SIGINT);
    const ProcessResult result = run.release();
    EXPECT_EQ(result.exitCode, 130);
    EXPECT_EQ(folderEntries(gates / "out"), std::vector<std::string>{});
}

// Without --overwrite a file that another program makes while the conversion runs is not replaced.
TEST_F(FennickConvert, ADestinationMadeMeanwhileIsNeverReplacedWithoutOverwrite)
{
    const auto destination = dir / "theirs.wav";
    TempDir gates;
    HeldRun run(gates.path(), {source.string(), destination.string()});
    std::ofstream(destination) << "another program's file";
    const ProcessResult result = run.release();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(
        result.err, "Conversion failed: " + destination.string() + " already exists; use --overwrite to replace it.\n");
    EXPECT_EQ(fileBytes(destination), "another program's file");
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"take.wav", "theirs.wav"}));
}

} // namespace
} // namespace fennick::test
