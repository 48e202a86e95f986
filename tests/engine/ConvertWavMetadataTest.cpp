// A source's metadata after a conversion: every item there, its sample positions rescaled
// exactly, the iXML's file fields rewritten with every other byte as it was, and the audio the
// same as without it. The sources are written chunk by chunk.

#include "EngineTestSupport.h"

#include "Metadata.h"

#include <algorithm>

namespace fennick::test {
namespace {

using std::to_string;

// A file's chunks besides its format and audio, sorted, without libsndfile's padding NULs.
std::vector<std::pair<std::string, std::string>> metadataOf(const std::string& file)
{
    auto found = riffChunks(file);
    std::erase_if(found, [](const auto& c) {
        return c.first == "fmt " || c.first == "fact" || c.first == "PAD " || c.first == "JUNK" || c.first == "data";
    });
    for (auto& [id, bytes] : found) bytes.erase(bytes.find_last_not_of('\0') + 1);
    std::sort(found.begin(), found.end());
    return found;
}

// Every kind of metadata for a file at `rate` and `bits` whose time reference (and iXML timestamp)
// is `reference`: cue points at `mark` and `end`, a loop between them, a region of `region` frames
// from the first, a cart timer of one second, and tags libsndfile has no name for.
std::string metadataChunks(std::uint32_t rate, int bits, std::uint64_t reference, std::uint32_t mark, std::uint32_t end,
    std::uint32_t region, const std::string& history)
{
    const auto low = std::uint32_t(reference), high = std::uint32_t(reference >> 32);
    std::string bext = "Scene 12 take 3" + std::string(587, '\0') + history;
    bext.replace(338, 8, le32(low) + le32(high));
    for (std::size_t i = 346; i < 422; ++i) bext[i] = static_cast<char>(i); // version, UMID, loudness
    char ixml[1024];
    std::snprintf(ixml, sizeof ixml,
        "<?xml version=\"1.0\"?>\r\n<BWFXML>\t<NOTE>R &amp; B</NOTE><!-- <AUDIO_BIT_DEPTH>1</AUDIO_BIT_DEPTH> "
        "--><SPEED>"
        "<FILE_SAMPLE_RATE> %u </FILE_SAMPLE_RATE><AUDIO_BIT_DEPTH>%d</AUDIO_BIT_DEPTH><TIMESTAMP_SAMPLE_RATE>%u"
        "</TIMESTAMP_SAMPLE_RATE><TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>%u</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>"
        "<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>%u</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO></"
        "SPEED><BEXT><BWF_TIME_REFERENCE_LOW>"
        "%u</BWF_TIME_REFERENCE_LOW><BWF_TIME_REFERENCE_HIGH>%u</BWF_TIME_REFERENCE_HIGH></BEXT></BWFXML>\n",
        rate, bits, rate, high, low, low, high);
    const std::string cue = le32(2) + le32(1) + le32(mark) + "data" + le32(0) + le32(0) + le32(mark) + le32(2)
        + le32(end) + "data" + le32(0) + le32(0) + le32(end);
    const std::string smpl = std::string(8, '\0') + le32((1000000000 + rate / 2) / rate) + le32(60) + le32(0x80000000)
        + std::string(8, '\0') + le32(1) + std::string(12, '\0') + le32(mark) + le32(end) + std::string(8, '\0');
    return riffChunk("bext", bext) + riffChunk("iXML", ixml)
        + riffChunk("LIST",
            "INFO" + riffChunk("ISRC", std::string("GBAYE0601498\0", 13)) + riffChunk("INAM", std::string("Take\0", 5))
                + riffChunk("IENG", std::string("J. Doe\0", 7)) + riffChunk("IKEY", std::string("rain; roof\0", 11)))
        + riffChunk("cue ", cue)
        + riffChunk("LIST",
            "adtl" + riffChunk("labl", le32(1) + std::string("Slate 1\0", 8))
                + riffChunk(
                    "ltxt", le32(1) + le32(region) + "rgn " + std::string(8, '\0') + std::string("Verse\0\0\0", 8)))
        + riffChunk("smpl", smpl)
        + riffChunk("cart", ("0101Morning show" + std::string(2032, '\0')).replace(684, 8, "SEC1" + le32(rate)));
}

// A 0.1 s stereo source whose last cue point and loop end lie on its last frame or past it, as its
// region's end does, converted or written into `convert`'s file; the file's metadata must be what
// metadataChunks() gives for it, every marker on the new last frame at most.
TEST(ConvertWavMetadata, EveryItemCarriedWithItsPositionsRescaledAndTheAudioUnchanged)
{
    const std::string history = "A=PCM,F=48000,W=24,M=stereo,T=recorder\r\n";
    const ConversionOptions quick{.precision = ConversionOptions::Precision::quick};
    // Each with TimeReference 0, 1 h and 5 h: the source's last marker, and the new positions of
    // both. 96 kHz frame 9599 rounds to 4800, one past the last frame at 48 kHz.
    for (const auto& [from, to, end, cue, newEnd] : {std::tuple{48000, 44100, 0xFFFFFFF0u, 920u, 4409u},
             {44100, 96000, 4409u, 2179u, 9598u}, {96000, 48000, 9599u, 501u, 4799u}}) {
        for (const std::uint64_t hours : {0, 1, 5}) {
            SCOPED_TRACE(to_string(from) + " to " + to_string(to) + " at " + to_string(hours) + " h");
            TempDir dir;
            writeAudioFile(dir / "source.wav", {from, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, from / 10, sine(440, from));
            insertChunks(
                dir / "source.wav", metadataChunks(from, 24, hours * 3600 * from, 1001, end, 0xFFFFFF00, history));
            convertWav(dir / "source.wav", dir / "out.wav", {static_cast<double>(to), OutputFormat::float32, quick});
            auto expected = metadataOf(std::string(12, ' ')
                + metadataChunks(to, 32, hours * 3600 * to, cue, newEnd, to / 10 - cue,
                    history + "A=PCM,F=" + to_string(to) + ",W=32,M=stereo,T=Fennick " FENNICK_TEST_VERSION "; "
                        + soxrVersionText() + "\r\n"));
            // bext version 2, its loudness fields the output's figures in hundredths of a dB (0x7FFF:
            // too short to gate).
            const LevelFigures level = analyzeFile(dir / "out.wav");
            std::string& bext
                = std::find_if(expected.begin(), expected.end(), [](auto& c) { return c.first == "bext"; })->second;
            bext.replace(346, 2, std::string("\2\0", 2));
            std::string loudness;
            for (const double value : {level.integratedLufs, level.loudnessRangeLu, level.truePeakDbtp,
                     level.maxMomentaryLufs, level.maxShortTermLufs})
                loudness += le32(std::isfinite(value) ? std::uint16_t(std::lround(value * 100)) : 0x7FFF).substr(0, 2);
            bext.replace(412, 10, loudness);
            EXPECT_EQ(metadataOf(fileBytes(dir / "out.wav")), expected);

            // Without metadata: only the format and the audio, and the very same samples.
            convertWav(dir / "source.wav", dir / "plain.wav", {static_cast<double>(to), OutputFormat::float32, quick},
                {}, {{}, true, false});
            EXPECT_TRUE(metadataOf(fileBytes(dir / "plain.wav")).empty());
            EXPECT_EQ(readAudioFile(dir / "plain.wav").samples, readAudioFile(dir / "out.wav").samples);
        }
    }
}

} // namespace
} // namespace fennick::test
