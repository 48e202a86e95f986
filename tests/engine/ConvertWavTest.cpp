// convertWav's output against libsoxr's own one-shot conversion of the same samples, and what it
// hands to libsoxr on the way.

#include "EngineTestSupport.h"

#include "ConvertWav.h"
#include "FennickEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace fennick {
namespace {

using namespace fennick::test;
using P = ConversionOptions::Precision;
using Ph = ConversionOptions::Phase;
using R = ConversionOptions::Rolloff;

// libsoxr's one-shot float conversion of the whole source.
std::vector<float> oneshot(const AudioData& source, double targetRate, const soxr_quality_spec_t& quality)
{
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const auto frames = static_cast<std::size_t>(source.frames()), channels = std::size_t(source.info.channels);
    const auto capacity = static_cast<std::size_t>(std::ceil(frames * targetRate / source.info.samplerate)) + 64;
    std::vector<float> out(capacity * channels);
    std::size_t produced = 0;
    soxr_error_t error = soxr_oneshot(source.info.samplerate, targetRate, unsigned(channels), source.samples.data(),
        frames, nullptr, out.data(), capacity, &produced, &io, &quality, nullptr);
    if (error != nullptr) throw std::runtime_error(error);
    out.resize(produced * channels);
    return out;
}

struct ConversionCase {
    const char* name;
    int channels, inputRate;
    double targetRate;
    std::int64_t frames;
    OutputFormat format;
    ConversionOptions options;
    unsigned long recipe, flags; // for soxr_quality_spec
    std::uint32_t outputLength; // ceil(target × 65536 / input) + 8192, in every soxr_process call
    bool withProgress = true;
    double amplitude = 0.5; // from 1 up, a float source whose peaks go past full scale when resampled
    std::optional<Dither> dither{}; // the explicit choice, over the options' switch
    bool square = false; // a square wave, whose edges overshoot, instead of a sine
    unsigned cores = 0; // as many as the conversion may take; 0: the machine's
    unsigned heldBeside = 0; // of those, held by a conversion running beside this one
    int encoding = 0; // the source's libsndfile subtype; 0: 24-bit, or float when loud
};
void PrintTo(const ConversionCase& c, std::ostream* out) { *out << c.name; }

class ConvertWav : public EngineTest, public ::testing::WithParamInterface<ConversionCase> { };

TEST_P(ConvertWav, IsLibsoxrsConversionOfTheSourceWithTheSettingsInLibsoxrsTerms)
{
    const ConversionCase& c = GetParam();
    TempDir dir;
    const auto source = dir / "in.wav", destination = dir / "out.wav";
    const int encoding = c.encoding != 0 ? c.encoding : c.amplitude >= 1 ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_24;
    writeAudioFile(source, {c.inputRate, c.channels, SF_FORMAT_WAV | encoding}, c.frames,
        c.square ? square(1000, c.inputRate, c.amplitude) : sine(997, c.inputRate, c.amplitude));
    const std::string sourceBytes = fileBytes(source);

    std::vector<double> reports, expectedReports;
    const auto progress = [&](double fraction) { reports.push_back(fraction); };
    ThreadBudget::setCores(c.cores);
    std::optional<ThreadBudget> beside;
    if (c.heldBeside > 0) beside.emplace(c.heldBeside);
    const ConversionSettings settings{
        .targetRate = c.targetRate, .format = c.format, .options = c.options, .dither = c.dither};
    const ClipReport clips
        = convertWav(source, destination, settings, c.withProgress ? progress : ProgressCallback()).clips;
    const auto groups = static_cast<int>(std::min<unsigned>(c.channels, ThreadBudget::cores() - c.heldBeside));
    for (std::int64_t read = kInputBlockFrames; c.withProgress && read < c.frames + kInputBlockFrames;
         read += kInputBlockFrames) {
        expectedReports.push_back(static_cast<double>(std::min(read, c.frames)) / static_cast<double>(c.frames));
    }
    EXPECT_EQ(reports, expectedReports); // ceil(N / 65536) of them, the last exactly 1.0
    EXPECT_EQ(fileBytes(source), sourceBytes);

    const SoxrRecord record = soxrRecord; // before the reference below calls libsoxr too
    // One resampler of one thread per channel group, a group per core, at most one per channel.
    EXPECT_EQ(record.creates, groups);
    EXPECT_EQ(record.deletes, groups);
    EXPECT_EQ(record.runtimeThreads, 1u);
    EXPECT_EQ(record.recipe, c.recipe);
    EXPECT_EQ(record.flags, c.flags);
    // libsoxr's own records, but for the bandwidth (unless steep); float out, double for int16.
    soxr_quality_spec_t quality = soxr_quality_spec(c.recipe, c.flags);
    if (!c.options.steepFilter) quality.passband_end = c.options.bandwidthPercent / 100.0;
    EXPECT_EQ(std::memcmp(&record.quality, &quality, sizeof quality), 0);
    const soxr_io_spec_t io
        = soxr_io_spec(SOXR_FLOAT32_I, c.format == OutputFormat::int16 ? SOXR_FLOAT64_I : SOXR_FLOAT32_I);
    EXPECT_EQ(std::memcmp(&record.io, &io, sizeof io), 0);
    EXPECT_EQ(record.outputLength, c.outputLength);
    EXPECT_FALSE(record.outputLengthVaried);

    const AudioData out = readAudioFile(destination);
    const int subtype = std::array{SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_FLOAT}[ordinal(c.format)];
    const bool plain = c.format == OutputFormat::int16 && c.channels <= 2;
    EXPECT_EQ(out.info.format, (plain ? SF_FORMAT_WAV : SF_FORMAT_WAVEX) | subtype);
    EXPECT_EQ(out.info.samplerate, c.targetRate);
    EXPECT_EQ(out.info.channels, c.channels);
    // N × out / in, rounded; libsoxr settles an exact tie either way.
    EXPECT_NEAR(static_cast<double>(out.frames()), static_cast<double>(c.frames) * c.targetRate / c.inputRate, 0.5);

    // Float output is libsoxr's own; integer output rounds it to the nearest step, plus up to 1 LSB
    // each way of TPDF, or the shaped noise's own bound.
    const std::vector<float> reference = oneshot(readAudioFile(source), c.targetRate, quality);
    ASSERT_EQ(out.samples.size(), reference.size());
    const double scale = std::array{32768.0, 8388608.0, 1.0}[ordinal(c.format)];
    const bool integer = c.format != OutputFormat::float32;
    const Dither dither = ditherFor(settings);
    const double top = integer ? scale - 1 : INFINITY, bottom = integer ? -scale : -INFINITY;
    double worst = 0, peak = 0;
    std::uint64_t beyond = 0; // the samples that rounding then clipping changes, or float keeps over 1
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const double wanted = reference[i] * scale;
        beyond += integer ? std::nearbyint(wanted) > top || std::nearbyint(wanted) < bottom : std::abs(wanted) > 1;
        peak = std::max(peak, double{std::abs(reference[i])});
        worst = std::max(worst, std::abs(out.samples[i] * scale - std::clamp(wanted, bottom, top)));
    }
    const double bound = std::array{0.5 + 1e-6, 1.5, 80.0, 80.0}[std::size_t(dither)];
    EXPECT_LE(worst, integer ? bound : 0.0);
    EXPECT_EQ(beyond > 100, c.amplitude >= 1); // the loud cases really go past full scale
    EXPECT_EQ(integer ? clips.clippedSamples : clips.samplesOverFullScale, beyond); // dithered or not
    EXPECT_EQ(integer ? clips.samplesOverFullScale : clips.clippedSamples, 0u);
    EXPECT_EQ(clips.peakDbfs, peak > 0 ? 20 * std::log10(peak) : -INFINITY); // before clipping

    // The channel groups give the single-threaded path's bytes exactly, the dither's noise included.
    ThreadBudget::setCores(1);
    convertWav(source, dir / "single.wav", settings);
    EXPECT_EQ(fileBytes(dir / "single.wav"), fileBytes(destination));
}

using F = OutputFormat;
const ConversionCase kCases[] = {
    {"stereoUpWithRemainderFrom16Bits", 2, 44100, 48000.0, 3 * 65536 + 123, F::float32, {}, 6, 0, 79524, true, 0.5, {},
        false, 0, 0, SF_FORMAT_PCM_16},
    {"sixChannelsDownWithoutProgress", 6, 48000, 44100.0, 70000, F::float32, {}, 6, 0, 68404, false},
    // Equal rates are not copied: they go through libsoxr like any other pair.
    {"equalRatesQuickIntermediateNarrow", 1, 44100, 44100.0, 2 * 65536, F::float32,
        {.precision = P::quick, .phase = Ph::intermediate, .bandwidthPercent = 74.0}, 0x10, 0, 73728},
    {"oneFrameLowDoublePrecisionFloatIgnoresDither", 2, 44100, 96000.0, 1, F::float32,
        {.precision = P::low, .doublePrecision = true, .dither = false}, 1, 0x10, 150856},
    {"noFrames", 2, 44100, 96000.0, 0, F::float32, {}, 6, 0, 150856},
    {"everythingRaisedSteepTakesLibsoxrsPassband", 2, 96000, 44100.0, 70000, F::float32,
        {P::bits32, Ph::minimum, true, R::none, 99.7, true, true}, 0x77, 0x12, 38298},
    {"int24ClippedNotWrappedBits24SinglePrecision", 2, 44100, 192000.0, 70000, F::int24,
        {.precision = P::bits24, .rolloff = R::medium, .dither = false}, 5, 1, 293519, true, 1.25},
    {"int16DitheredFrom16Bits", 2, 48000, 44100.0, 70000, F::int16, {}, 6, 0, 68404, true, 0.5, {}, false, 0, 0,
        SF_FORMAT_PCM_16},
    // A 0 dBFS master overshoots: integer output clips and counts it, float output keeps and counts it.
    {"squareToInt16Shaped", 2, 44100, 48000.0, 70000, F::int16, {.dither = false}, 6, 0, 79524, true, 1.0,
        Dither::shaped, true},
    {"squareToInt24", 2, 44100, 48000.0, 70000, F::int24, {}, 6, 0, 79524, true, 1.0, {}, true},
    {"squareToFloat32", 2, 44100, 48000.0, 70000, F::float32, {}, 6, 0, 79524, true, 1.0, {}, true},
    // Groups of unequal size, more of them than this machine may have cores.
    {"threeChannelsInThreeGroupsFrom32Bits", 3, 44100, 96000.0, 2 * 65536 + 777, F::float32, {}, 6, 0, 150856, true,
        0.5, {}, false, 3, 0, SF_FORMAT_PCM_32},
    {"sixChannelsInFourGroupsToInt16ShapedLight", 6, 48000, 44100.0, 70000, F::int16, {}, 6, 0, 68404, true, 0.5,
        Dither::shapedLight, false, 4},
    {"int24Shaped", 1, 96000, 44100.0, 70000, F::int24, {}, 6, 0, 38298, true, 0.5, Dither::shaped},
    // Only the cores another conversion leaves free.
    {"sixChannelsBesideAnotherConversion", 6, 44100, 48000.0, 1000, F::float32, {}, 6, 0, 79524, true, 0.5, {}, false,
        3, 1},
};
INSTANTIATE_TEST_SUITE_P(
    Cases, ConvertWav, ::testing::ValuesIn(kCases), [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fennick
