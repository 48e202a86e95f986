// Every output type, encoding and channel count against the WAV output of the same conversion: the
// same samples decoded, a file other tools read without a word, and the source's metadata as far as
// the type holds it, with what it cannot hold named.

#include "EngineTestSupport.h"

#include "FennickEngine.h"

#include <cstdio>
#include <memory>

namespace fennick::test {
namespace {

// What a command prints on both streams.
std::string outputOf(const std::string& command)
{
    std::string text;
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen((command + " 2>&1").c_str(), "r"), ::pclose);
    char buffer[4096];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) text += buffer;
    return text;
}

std::uint32_t be(const std::string& bytes, std::size_t at, int size)
{
    std::uint32_t value = 0;
    for (int i = 0; i < size; ++i) value = value << 8 | std::uint8_t(bytes[at + i]);
    return value;
}

// An AIFF file's markers: position and name, from its MARK chunk.
std::vector<std::pair<std::uint32_t, std::string>> aiffMarkers(const std::string& file)
{
    std::vector<std::pair<std::uint32_t, std::string>> markers;
    for (std::size_t at = 12; at + 8 <= file.size(); at += 8 + be(file, at + 4, 4) + (be(file, at + 4, 4) & 1)) {
        if (file.compare(at, 4, "MARK") != 0) continue;
        std::size_t p = at + 10;
        for (std::uint32_t i = be(file, at + 8, 2); i > 0; --i) {
            const std::uint32_t length = std::uint8_t(file[p + 6]);
            markers.emplace_back(be(file, p + 2, 4), file.substr(p + 7, length));
            p += 7 + length + (length % 2 == 0);
        }
    }
    return markers;
}

// A source with tags, a Broadcast WAV chunk, two labelled cue points and a loop.
const std::string kMetadata = riffChunk("bext", "Scene 12" + std::string(594, '\0'))
    + riffChunk("LIST",
        "INFO" + riffChunk("INAM", std::string("Take\0", 5)) + riffChunk("IART", std::string("J. Doe\0", 7))
            + riffChunk("IPRD", std::string("Rain\0", 5)) + riffChunk("ISRC", std::string("GBAYE0601498\0", 13))
            + riffChunk("IKEY", std::string("roof\0", 5)))
    + riffChunk("cue ",
        le32(2) + le32(1) + le32(1001) + "data" + le32(0) + le32(0) + le32(1001) + le32(2) + le32(3000) + "data"
            + le32(0) + le32(0) + le32(3000))
    + riffChunk("LIST", "adtl" + riffChunk("labl", le32(1) + std::string("Slate 1\0", 8)))
    + riffChunk("smpl",
        std::string(8, '\0') + le32(20833) + le32(60) + std::string(12, '\0') + le32(1) + std::string(12, '\0')
            + le32(1001) + le32(3000) + std::string(8, '\0'));

TEST(OutputTypes, EveryTypeDecodesToTheWavOutputsSamplesAndCarriesWhatItHolds)
{
    const std::pair<OutputType, const char*> notCarried[] = {{OutputType::wav, ""}, {OutputType::rf64, ""},
        {OutputType::w64, "Not carried into W64: Broadcast WAV (bext), 5 tags, 2 markers, 1 loop."},
        {OutputType::aiff, "Not carried into AIFF: Broadcast WAV (bext), 3 tags."},
        {OutputType::flac, "Not carried into FLAC: Broadcast WAV (bext), 1 tag, 2 markers, 1 loop."},
        {OutputType::caf, "Not carried into CAF: Broadcast WAV (bext), 1 tag, 2 markers, 1 loop."}};
    const ConversionOptions quick{.precision = ConversionOptions::Precision::quick, .dither = false};
    for (const int channels : {1, 2, 6}) {
        TempDir dir;
        // libsndfile's own layout for six channels is 5.1 with back surrounds, mask 0x3F.
        writeAudioFile(
            dir / "source.wav", {48000, channels, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24}, 4800, sine(440, 48000));
        insertChunks(dir / "source.wav", kMetadata);
        for (const OutputFormat format : allCases<OutputFormat>()) {
            const ConversionSettings wav{44100, format, quick};
            convertWav(dir / "source.wav", dir / "reference.wav", wav);
            for (const auto& [type, warning] : notCarried) {
                const std::string name = "out." + std::string(rawValue(type));
                SCOPED_TRACE(
                    name + ", " + std::string(rawValue(format)) + ", " + std::to_string(channels) + " channels");
                ConversionSettings settings = wav;
                settings.type = type;
                if (!canHold(type, format)) {
                    EXPECT_THROW(convertWav(dir / "source.wav", dir / "refused.flac", settings), ConversionError);
                    EXPECT_FALSE(std::filesystem::exists(dir / "refused.flac"));
                    continue;
                }
                const ConversionReport report = convertWav(dir / "source.wav", dir / name, settings);
                std::string expected = warning; // W64 and AIFF hold no layout
                if (channels == 6 && (type == OutputType::w64 || type == OutputType::aiff))
                    expected.insert(expected.size() - 1, ", channel layout");
                EXPECT_EQ(report.notCarried.value_or(""), expected);
                EXPECT_EQ(readAudioFile(dir / name).samples, readAudioFile(dir / "reference.wav").samples);
                const std::string path = (dir / name).string();
                // ffprobe guesses the length of CAF and W64 files from their size, and says so.
                EXPECT_EQ(outputOf("ffprobe -v warning " + path + " 2>&1 | grep -v 'Estimating duration'"), "");
                // sox's one line about the extensible float header libsndfile writes.
                EXPECT_EQ(outputOf("sox -V2 " + path + " -n 2>&1 | grep -v 'missing extended part of fmt'"), "");
                if (type == OutputType::flac) {
                    EXPECT_EQ(outputOf("flac -t -s " + path + " && echo ok"), "ok\n");
                    EXPECT_EQ(outputOf("metaflac --show-tag=TITLE --show-tag=ARTIST --show-tag=ALBUM --show-tag=ISRC "
                                  + path),
                        "TITLE=Take\nARTIST=J. Doe\nALBUM=Rain\nISRC=GBAYE0601498\n");
                }
                if (channels == 6 && (type == OutputType::flac || type == OutputType::caf || type == OutputType::wav)) {
                    EXPECT_EQ(
                        outputOf("ffprobe -v error -show_entries stream=channel_layout -of csv=p=0 " + path), "5.1\n");
                }
                if (type == OutputType::caf) {
                    EXPECT_EQ(outputOf("ffprobe -v error -show_entries format_tags=title,artist,album,ISRC -of csv=p=0 "
                                  + path),
                        "Take,J. Doe,Rain,GBAYE0601498\n");
                }
                if (type == OutputType::aiff) {
                    // 1001 and 3000 at 48 kHz are 920 and 2756 at 44.1 kHz; the loop's ends are markers too.
                    const std::vector<std::pair<std::uint32_t, std::string>> markers{
                        {920, "Slate 1"}, {2756, ""}, {920, ""}, {2756, ""}};
                    EXPECT_EQ(aiffMarkers(fileBytes(dir / name)), markers);
                    EXPECT_EQ(outputOf("ffprobe -v error -show_entries format_tags=title,author -of csv=p=0 " + path),
                        "Take,J. Doe\n");
                }
            }
        }
    }
}

} // namespace
} // namespace fennick::test
