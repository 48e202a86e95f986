// A source's metadata after a conversion: every item there, its sample positions rescaled
// exactly, the iXML's file fields rewritten with every other byte as it was, and the audio the
// same as without it. The sources are written chunk by chunk.

#include "EngineTestSupport.h"

#include "AudioBlock.h"
#include "AudioFileReader.h"
#include "AudioFileWriter.h"
#include "FennickEngine.h"
#include "Metadata.h"

#include <fcntl.h>

#include <cstring>

namespace fennick {
namespace {

using namespace fennick::test;
using std::to_string;

// The first chunk `id` whose bytes begin with `kind`, without libsndfile's padding NULs.
std::string chunk(const std::string& file, const std::string& id, const std::string& kind = "")
{
    for (auto [name, bytes] : riffChunks(file)) {
        if (name != id || !bytes.starts_with(kind)) continue;
        while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
        return bytes;
    }
    return "";
}

std::uint32_t at32(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4); // little-endian, as the machines that run this are
    return value;
}

// Samples since midnight appear twice: under BEXT and as the timestamp at its own rate.
std::string ixml(std::int64_t rate, int bits, std::uint64_t samples)
{
    const std::string low = to_string(samples & 0xFFFFFFFF), high = to_string(samples >> 32);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BWFXML>\r\n\t<PROJECT>Ferry &amp; "
           "Fen</PROJECT><SCENE>12</SCENE>"
           "<!-- <FILE_SAMPLE_RATE>1</FILE_SAMPLE_RATE> --><SPEED><FILE_SAMPLE_RATE> "
        + to_string(rate) + " </FILE_SAMPLE_RATE><AUDIO_BIT_DEPTH>" + to_string(bits)
        + "</AUDIO_BIT_DEPTH><TIMESTAMP_SAMPLE_RATE>" + to_string(rate)
        + "</TIMESTAMP_SAMPLE_RATE><TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>" + high
        + "</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI><TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>" + low
        + "</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO></SPEED><BEXT><BWF_TIME_REFERENCE_LOW>" + low
        + "</BWF_TIME_REFERENCE_LOW><BWF_TIME_REFERENCE_HIGH>" + high
        + "</BWF_TIME_REFERENCE_HIGH></BEXT><TRACK_LIST><TRACK><NAME>Boom</NAME></TRACK></TRACK_LIST>"
          "<USER>anything  at all</USER>\n</BWFXML>";
}

// A 0.1 s stereo source with bext, iXML, INFO, two cue points (the second past the end) with a
// label, a sampler loop ending past the end, and cart with a timer of one second.
std::filesystem::path writeSource(const TempDir& dir, int rate, std::uint64_t reference)
{
    std::string bext(602, '\0');
    std::memcpy(bext.data(), "Scene 12 take 3", 15);
    std::memcpy(bext.data() + 320, "2026-12-0710:11:12", 18);
    std::memcpy(bext.data() + 338, &reference, 8);
    bext[346] = 2; // version, then UMID and loudness, all kept
    for (std::size_t i = 348; i < 422; ++i) bext[i] = static_cast<char>(i);
    std::string smpl = le32(0) + le32(0) + le32(1000000000 / rate) + le32(60) + le32(0x80000000) + le32(0) + le32(0)
        + le32(1) + le32(0) + le32(0) + le32(0) + le32(1001) + le32(0xFFFFFFFF) + le32(0) + le32(0);
    std::string cart(2048, '\0');
    std::memcpy(cart.data(), "0101Morning show", 16);
    std::memcpy(cart.data() + 684, "SEC1", 4);
    cart.replace(688, 4, le32(rate));
    const auto path = dir / "source.wav";
    writeAudioFile(path, {rate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, rate / 10, sine(440, rate));
    insertChunks(path,
        riffChunk("bext", bext + "A=PCM,F=48000,W=24,M=stereo,T=recorder\r\n")
            + riffChunk("iXML", ixml(rate, 24, reference))
            + riffChunk("LIST", "INFO" + riffChunk("INAM", std::string("Take three\0", 11)))
            + cueChunk({1001, 0xFFFFFFF0})
            + riffChunk("LIST", "adtl" + riffChunk("labl", le32(1) + std::string("Slate\0", 6)))
            + riffChunk("smpl", smpl) + riffChunk("cart", cart));
    return path;
}

TEST(ConvertWavMetadata, EveryItemCarriedWithItsPositionsRescaledAndTheAudioUnchanged)
{
    // From, to, TimeReference (0, 1 h and 5 h), its new value, and cue point 1001's.
    const std::tuple<int, int, std::uint64_t, std::uint64_t, std::uint32_t> cases[] = {{48000, 44100, 0, 0, 920},
        {48000, 44100, 172800000, 158760000, 920}, {48000, 44100, 864000000, 793800000, 920},
        {44100, 96000, 0, 0, 2179}, {44100, 96000, 158760000, 345600000, 2179},
        {44100, 96000, 793800000, 1728000000, 2179}, {96000, 48000, 0, 0, 501},
        {96000, 48000, 345600000, 172800000, 501}, {96000, 48000, 1728000000, 864000000, 501}};
    ConversionOptions quick;
    quick.precision = ConversionOptions::Precision::quick;
    for (const auto& [from, to, reference, rescaled, cue] : cases) {
        SCOPED_TRACE(to_string(from) + " to " + to_string(to) + " at " + to_string(reference));
        TempDir dir;
        const auto source = writeSource(dir, from, reference);
        convertWav(source, dir / "out.wav", to, OutputFormat::float32, quick);
        const std::string in = fileBytes(source), out = fileBytes(dir / "out.wav");

        const std::string bext = chunk(out, "bext"), original = chunk(in, "bext");
        EXPECT_EQ(bext.substr(0, 338), original.substr(0, 338));
        EXPECT_EQ(bext.substr(338, 8), std::string(reinterpret_cast<const char*>(&rescaled), 8));
        EXPECT_EQ(bext.substr(346),
            original.substr(346) + "A=PCM,F=" + to_string(to) + ",W=32,M=stereo,T=Fennick " FENNICK_TEST_VERSION "; "
                + soxrVersionText() + "\r\n");
        EXPECT_EQ(chunk(out, "iXML"), ixml(to, 32, rescaled));
        EXPECT_EQ(chunk(out, "LIST", "INFO"), chunk(in, "LIST", "INFO"));
        EXPECT_EQ(chunk(out, "cue "), chunk(std::string(12, ' ') + cueChunk({cue, std::uint32_t(to / 10)}), "cue "));
        EXPECT_NE(chunk(out, "LIST", "adtl").find(le32(1) + "Slate"), std::string::npos);
        const std::string smpl = chunk(out, "smpl") + std::string(60, '\0');
        EXPECT_EQ(at32(smpl, 8), (1000000000u + to / 2) / to);
        EXPECT_EQ(at32(smpl, 12), 60u);
        EXPECT_EQ(at32(smpl, 36 + 8), cue);
        EXPECT_EQ(at32(smpl, 36 + 12), std::uint32_t(to / 10));
        const std::string cart = chunk(out, "cart") + std::string(2048, '\0');
        EXPECT_EQ(cart.substr(0, 16), "0101Morning show");
        EXPECT_EQ(cart.substr(684, 8), "SEC1" + le32(to));

        // Without metadata: only the format and the audio, and the very same samples.
        convertWav(source, dir / "plain.wav", to, OutputFormat::float32, quick, {}, {{}, true, false});
        for (const auto& [id, bytes] : riffChunks(fileBytes(dir / "plain.wav")))
            EXPECT_TRUE(id == "fmt " || id == "fact" || id == "PAD " || id == "data") << id;
        EXPECT_EQ(readAudioFile(dir / "plain.wav").samples, readAudioFile(dir / "out.wav").samples);
    }
}

TEST(ConvertWavMetadata, AnRf64OutputCarriesTheSame)
{
    TempDir dir;
    const auto source = writeSource(dir, 48000, 172800000);
    AudioFileReader reader(source);
    const auto path = dir / "out.wav";
    AudioFileWriter writer(FileDescriptor(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)), 44100, 2,
        OutputFormat::int24, std::int64_t{1} << 30);
    writeMetadata(writer.sndfile(), readMetadata(reader.sndfile()), {48000, 44100, 4800, 2, OutputFormat::int24});
    auto block = AudioBlock::make(writer.blockFormat(), 5);
    std::memset(block->data(), 0, 5 * block->format().bytesPerFrame());
    block->setFrameLength(5);
    writer.write(*block);
    writer.close();
    // Written as RF64 and, being small, turned back into a WAV (extensible) at the end.
    EXPECT_EQ(readAudioFile(path).info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAVEX);
    const std::string out = fileBytes(path);
    for (const char* id : {"bext", "iXML", "cue ", "smpl", "cart"}) EXPECT_NE(chunk(out, id), "") << id;
    EXPECT_NE(chunk(out, "LIST", "INFO").find("Take three"), std::string::npos);
    EXPECT_NE(chunk(out, "LIST", "adtl").find("Slate"), std::string::npos);
}

} // namespace
} // namespace fennick
