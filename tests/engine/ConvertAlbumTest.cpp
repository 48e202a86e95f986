// An album converted as one stream: its files put end to end are the conversion of the whole
// recording, each cut at its rescaled boundary; converted file by file, the joins ring.

#include "EngineTestSupport.h"

#include "FennickEngine.h"
#include "ThreadBudget.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numeric>

namespace fennick {
namespace {

using namespace fennick::test;

enum class Signal { tone, sweep, pinkNoise, loudThenQuiet };

SampleFunction signal(Signal kind, double rate, std::int64_t frames)
{
    if (kind == Signal::tone) return sine(997, rate, 0.7);
    if (kind == Signal::loudThenQuiet) { // -1 dBFS for the first half, -20 dBFS after
        return [loud = sine(997, rate, 0.89), quiet = sine(997, rate, 0.1), frames](
                   std::int64_t f, int c) { return f < frames / 2 ? loud(f, c) : quiet(f, c); };
    }
    if (kind == Signal::sweep) {
        // 20 Hz to 20 kHz, exponentially, over the whole recording.
        const double k = std::log(1000.0) / static_cast<double>(frames);
        return [=](std::int64_t f, int c) {
            return static_cast<float>(0.5 * std::sin(6.283185307179586 * 20 / rate * (std::exp(k * f) - 1) / k + c));
        };
    }
    // Paul Kellet's pink filter over a fixed white noise, the same sample for the same frame.
    auto pink = std::make_shared<std::vector<float>>();
    std::uint32_t state = 12345;
    double b0 = 0, b1 = 0, b2 = 0;
    for (std::int64_t f = 0; f < frames * 2; ++f) {
        state = state * 1664525u + 1013904223u;
        const double white = static_cast<double>(state) / 4294967296.0 - 0.5;
        b0 = 0.99765 * b0 + white * 0.0990460;
        b1 = 0.96300 * b1 + white * 0.2965164;
        b2 = 0.57000 * b2 + white * 1.0526913;
        pink->push_back(static_cast<float>(0.25 * (b0 + b1 + b2 + white * 0.1848)));
    }
    return [pink](std::int64_t f, int c) { return (*pink)[std::size_t(f * 2 + c)]; };
}

struct AlbumCase {
    const char* name;
    Signal signal;
    int from;
    double to;
    OutputFormat format;
    std::vector<std::int64_t> lengths; // of the tracks, in frames
    unsigned cores = 2; // 1: one resampler on the calling thread; 2: a thread per channel
    std::optional<PeakCeiling> ceiling = std::nullopt;
    std::optional<double> loudnessTargetLufs = std::nullopt;
};
void PrintTo(const AlbumCase& c, std::ostream* out) { *out << c.name; }

class ConvertAlbum : public EngineTest, public ::testing::WithParamInterface<AlbumCase> { };

double dbfs(double value) { return 20 * std::log10(value); }

std::uint32_t le32At(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

TEST_P(ConvertAlbum, FilesEndToEndAreTheWholeRecordingsConversionCutAtTheRescaledBoundaries)
{
    const AlbumCase& c = GetParam();
    ThreadBudget::setCores(c.cores);
    TempDir dir;
    const std::int64_t total = std::accumulate(c.lengths.begin(), c.lengths.end(), std::int64_t{0});
    const SampleFunction sample = signal(c.signal, c.from, total);
    const AudioSpec spec{c.from, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24};
    writeAudioFile(dir / "whole.wav", spec, total, sample);
    std::vector<AlbumTrack> tracks;
    for (std::int64_t start = 0; const std::int64_t length : c.lengths) {
        const std::string n = std::to_string(tracks.size());
        writeAudioFile(dir / ("track" + n + ".wav"), spec, length,
            [&, start](std::int64_t f, int ch) { return sample(start + f, ch); });
        // A cue point on its last frame, which must stay inside its own output.
        const auto last = static_cast<std::uint32_t>(length - 1);
        insertChunks(dir / ("track" + n + ".wav"),
            riffChunk("cue ", le32(1) + le32(1) + le32(last) + "data" + le32(0) + le32(0) + le32(last)));
        tracks.push_back({dir / ("track" + n + ".wav"), dir / ("out" + n + ".wav")});
        start += length;
    }
    ConversionSettings settings{c.to, c.format, {}};
    settings.options.dither = false;
    settings.ceiling = c.ceiling;
    settings.loudnessTargetLufs = c.loudnessTargetLufs;
    convertWav(dir / "whole.wav", dir / "whole-out.wav", settings);
    std::vector<std::size_t> saved;
    const auto reports = convertAlbum(
        tracks, settings, {}, {}, [&](std::size_t track, const ConversionReport&) { saved.push_back(track); });
    EXPECT_EQ(reports.size(), tracks.size());
    EXPECT_EQ(saved.size(), tracks.size());
    // One gain for the album: the quiet track moves by as many dB as the loud one, keeping their levels.
    for (const ConversionReport& report : reports) EXPECT_EQ(report.gain.appliedDb, reports.front().gain.appliedDb);
    EXPECT_EQ(reports.front().gain.appliedDb != 0, c.ceiling || c.loudnessTargetLufs);

    const AudioData whole = readAudioFile(dir / "whole-out.wav");
    std::vector<float> joined;
    std::int64_t boundary = 0, input = 0;
    for (std::size_t k = 0; k < tracks.size(); ++k) {
        const AudioData out = readAudioFile(tracks[k].destination);
        input += c.lengths[k];
        // round(input × to / from), half up, in integers.
        const auto to = static_cast<std::int64_t>(c.to);
        const std::int64_t next = (2 * input * to + c.from) / (2 * std::int64_t{c.from});
        EXPECT_EQ(out.frames(), next - boundary) << "track " << k;
        for (const auto& [id, bytes] : riffChunks(fileBytes(tracks[k].destination))) {
            if (id == "cue ") {
                EXPECT_LT(le32At(bytes, 24), std::max<std::int64_t>(out.frames(), 1)) << "track " << k;
            }
        }
        if (c.from == 44100 && c.lengths[k] % 588 == 0) {
            EXPECT_EQ(out.frames() % (to / 75), 0) << "track " << k;
        }
        boundary = next;
        joined.insert(joined.end(), out.samples.begin(), out.samples.end());
    }
    EXPECT_EQ(whole.frames(), boundary);
    ASSERT_EQ(joined.size(), whole.samples.size());
    EXPECT_EQ(0, std::memcmp(joined.data(), whole.samples.data(), joined.size() * sizeof(float)));

    if (c.signal != Signal::tone || c.format != OutputFormat::float32 || c.lengths.front() % 588 == 0) return;
    // For contrast: the first track converted on its own rings where it ends (about -29 dBFS).
    convertWav(tracks[0].source, dir / "alone.wav", settings);
    const AudioData alone = readAudioFile(dir / "alone.wav");
    double joinError = 0, gaplessError = 0;
    const AudioData first = readAudioFile(tracks[0].destination);
    for (std::size_t i = 0; i < alone.samples.size() && i < whole.samples.size(); ++i) {
        joinError = std::max(joinError, double(std::fabs(alone.samples[i] - whole.samples[i])));
    }
    for (std::size_t i = 0; i < first.samples.size(); ++i) {
        gaplessError = std::max(gaplessError, double(std::fabs(first.samples[i] - whole.samples[i])));
    }
    EXPECT_GT(dbfs(joinError), -40) << "file by file";
    EXPECT_EQ(gaplessError, 0);
}

// Odd lengths that cut the signals away from their zero crossings, with a one-frame track and
// tracks shorter than the filter; and CD tracks, whole multiples of 588 frames.
INSTANTIATE_TEST_SUITE_P(Albums, ConvertAlbum,
    ::testing::Values(AlbumCase{"tone_44k1_to_48k_float", Signal::tone, 44100, 48000, OutputFormat::float32,
                          {4411, 1, 97, 9000, 6000}},
        AlbumCase{"sweep_48k_to_44k1_int16", Signal::sweep, 48000, 44100, OutputFormat::int16, {1, 5003, 77, 13000}, 1},
        AlbumCase{"noise_96k_to_44k1_float", Signal::pinkNoise, 96000, 44100, OutputFormat::float32,
            {12345, 97, 1, 7000, 3333}},
        AlbumCase{"tone_44k1_to_192k_int16", Signal::tone, 44100, 192000, OutputFormat::int16, {2999, 1, 50, 8000}},
        AlbumCase{"sweep_48k_to_44k1_float", Signal::sweep, 48000, 44100, OutputFormat::float32, {3001, 1, 9001}, 1},
        AlbumCase{"cd_tone_to_48k", Signal::tone, 44100, 48000, OutputFormat::float32, {588 * 7, 588, 588 * 20}},
        AlbumCase{"cd_sweep_to_88k2", Signal::sweep, 44100, 88200, OutputFormat::int16, {588 * 3, 588 * 11, 588}},
        AlbumCase{
            "cd_noise_to_96k", Signal::pinkNoise, 44100, 96000, OutputFormat::float32, {588 * 5, 588 * 2, 588 * 9}},
        AlbumCase{"levels_under_a_ceiling", Signal::loudThenQuiet, 44100, 48000, OutputFormat::float32, {25000, 25000},
            2, PeakCeiling{-6.0}},
        AlbumCase{"levels_to_a_loudness_target", Signal::loudThenQuiet, 48000, 44100, OutputFormat::int16,
            {24000, 24000}, 1, std::nullopt, -30.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConvertAlbum, IsRefusedOrStoppedLeavingOnlyTheFinishedFiles)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "out");
    const auto track = [&](const std::string& name, int rate, int channels, std::int64_t frames) {
        writeAudioFile(dir / name, {rate, channels}, frames, sine(440, rate));
        return AlbumTrack{dir / name, dir / "out" / name};
    };
    const ConversionSettings settings{48000, OutputFormat::float32, {}};
    // A rate or channel count that differs is named before anything is written.
    for (const auto& [rate, channels, message] :
        {std::tuple{48000, 2, "b.wav has 48000 Hz, 2 channels; the album's first file has 44100 Hz, 2 channels."},
            std::tuple{44100, 1, "b.wav has 44100 Hz, 1 channel; the album's first file has 44100 Hz, 2 channels."}}) {
        const std::vector tracks{track("a.wav", 44100, 2, 100), track("b.wav", rate, channels, 100)};
        try {
            convertAlbum(tracks, settings);
            ADD_FAILURE() << "converted";
        } catch (const ConversionError& error) {
            EXPECT_STREQ(error.what(), message);
        }
        EXPECT_TRUE(folderEntries(dir / "out").empty());
    }
    // Stopped once the first track is saved, within the second: the first stays, nothing else.
    const std::vector tracks{
        track("1.wav", 44100, 2, 70000), track("2.wav", 44100, 2, 200000), track("3.wav", 44100, 2, 5)};
    std::stop_source stop;
    RunControl control;
    control.stop = stop.get_token();
    EXPECT_THROW(
        convertAlbum(tracks, settings, {}, control, [&](std::size_t, const ConversionReport&) { stop.request_stop(); }),
        ConversionCancelled);
    EXPECT_EQ(folderEntries(dir / "out"), std::vector<std::string>{"1.wav"});
}

} // namespace
} // namespace fennick
