// The quantiser against real libsoxr's rounding, and its noise measured: statistics and spectra
// of the error it makes, alone and in real conversions, never stored noise.

#include "Quantiser.h"
#include "DitherNoise.h"
#include "EngineTestSupport.h"
#include "NoiseShapingFigures.h"

#include <fftw3.h>
#include <gtest/gtest.h>
#include <soxr.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace fennick {
namespace {

constexpr Dither kAllDithers[] = {Dither::none, Dither::tpdf, Dither::shapedLight, Dither::shaped};

// The whole of `in` through a new quantiser into 16 bits; `used`, when given, is that quantiser.
std::vector<std::int16_t> quantise16(Dither dither, double rate, const std::vector<float>& in, unsigned channels,
    std::uint64_t seed = 7, std::unique_ptr<Quantiser>* used = nullptr)
{
    auto quantiser = std::make_unique<Quantiser>(QuantisedFormat::int16, dither, rate, seed, 0, channels);
    std::vector<std::int16_t> out(in.size());
    const std::ptrdiff_t stride = channels;
    quantiser->process({in.data(), stride, 1}, {out.data(), stride, 1}, in.size() / channels);
    if (used != nullptr) *used = std::move(quantiser);
    return out;
}

std::vector<float> sine(double rate, double hz, double dbfs, std::size_t frames)
{
    std::vector<float> samples(frames);
    const double amplitude = std::pow(10.0, dbfs / 20);
    for (std::size_t i = 0; i < frames; ++i) {
        samples[i]
            = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate));
    }
    return samples;
}

// The error in steps: what was written minus what came in.
std::vector<double> errorOf(const std::vector<std::int16_t>& out, const std::vector<float>& in)
{
    std::vector<double> error(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) error[i] = out[i] - static_cast<double>(in[i]) * 32768;
    return error;
}

// Welch's average of Hann-windowed 4096-point periodograms; bin i is centred at i·rate/4096.
std::vector<double> powerSpectrum(const std::vector<double>& signal)
{
    constexpr std::size_t kSize = 4096;
    std::vector<double> window(kSize), power(kSize / 2 + 1, 0.0);
    std::vector<fftw_complex> spectrum(kSize / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(kSize, window.data(), spectrum.data(), FFTW_ESTIMATE);
    for (std::size_t start = 0; start + kSize <= signal.size(); start += kSize / 2) {
        for (std::size_t i = 0; i < kSize; ++i) {
            window[i] = signal[start + i] * (0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / kSize));
        }
        fftw_execute(plan);
        for (std::size_t i = 0; i < power.size(); ++i)
            power[i] += spectrum[i][0] * spectrum[i][0] + spectrum[i][1] * spectrum[i][1];
    }
    fftw_destroy_plan(plan);
    return power;
}

struct Levels {
    double weighted = 0, band1To5k = 0, below20k = 0;
};

Levels levelsOf(const std::vector<double>& power, double rate)
{
    Levels levels;
    for (std::size_t i = 1; i < power.size(); ++i) {
        const double hz = static_cast<double>(i) * rate / 4096;
        levels.weighted += power[i] * std::pow(10.0, -thresholdOfHearingDb(hz) / 10);
        if (hz >= 1000 && hz <= 5000) levels.band1To5k += power[i];
        if (hz < 20000) levels.below20k += power[i];
    }
    return levels;
}

TEST(QuantiserTest, RoundsAndClipsExactlyAsLibsoxrWithoutDither)
{
    // Steps, ties of both parities, and values beyond full scale on either side.
    const double steps[] = {0, 0.5, 1.5, 2.5, -0.5, -1.5, -2.5, 0.49999, 0.50001, 100.25, -100.75, 32766.5, 32767.4,
        32767.5, 32768, 40000, -32767.5, -32768.4, -32768.5, -32768.6, -40000, 1e9, -1e9};
    std::vector<float> in;
    for (int copy = 0; copy < 40; ++copy) { // past the vector path's width, at every offset
        for (const double step : steps) in.push_back(static_cast<float>(step / 32768));
    }
    std::vector<std::int16_t> expected(in.size());
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_INT16_I);
    io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    soxr_error_t error = nullptr;
    soxr_t soxr = soxr_create(44100, 44100, 1, &error, &io, &quality, nullptr);
    ASSERT_NE(soxr, nullptr) << error;
    std::size_t consumed = 0, produced = 0, total = 0;
    soxr_process(soxr, in.data(), in.size(), &consumed, expected.data(), expected.size(), &produced);
    total += produced;
    soxr_process(soxr, nullptr, 0, nullptr, expected.data() + total, expected.size() - total, &produced);
    ASSERT_EQ(total + produced, in.size());
    const std::size_t soxrClips = *soxr_num_clips(soxr);
    soxr_delete(soxr);

    for (const bool reference : {false, true}) {
        Quantiser quantiser(QuantisedFormat::int16, Dither::none, 44100, 1, 0, 1);
        quantiser.useReferencePath(reference);
        std::vector<std::int16_t> out(in.size());
        quantiser.process({in.data(), 1, 1}, {out.data(), 1, 1}, in.size());
        EXPECT_EQ(out, expected) << "reference path " << reference;
        EXPECT_EQ(quantiser.clips(), soxrClips);
        EXPECT_FLOAT_EQ(quantiser.peak(), 1e9f / 32768);
    }
    // 24 bits: the grid the writer stores, clipped alike.
    Quantiser quantiser(QuantisedFormat::int24, Dither::none, 44100, 1, 0, 1);
    std::vector<float> out(in.size());
    quantiser.process({in.data(), 1, 1}, {out.data(), 1, 1}, in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        const double expected24 = std::clamp<double>(std::nearbyint(double{in[i]} * 8388608), -8388608, 8388607);
        ASSERT_EQ(double{out[i]} * 8388608, expected24) << in[i];
    }
}

TEST(QuantiserTest, VectorPathEqualsTheReference)
{
    std::mt19937 random(3);
    std::normal_distribution<float> loud(0.0f, 0.7f);
    std::vector<float> in(10007 * 2);
    for (float& sample : in) sample = random() % 7 == 0 ? 0.0f : loud(random);
    for (const Dither dither : {Dither::none, Dither::tpdf}) {
        std::vector<std::int16_t> outs[2];
        for (const bool reference : {false, true}) {
            Quantiser quantiser(QuantisedFormat::int16, dither, 48000, 99, 0, 2);
            quantiser.useReferencePath(reference);
            outs[reference].resize(in.size());
            quantiser.process({in.data(), 2, 1}, {outs[reference].data(), 2, 1}, in.size() / 2);
        }
        EXPECT_EQ(outs[0], outs[1]) << ditherName(dither);
    }
}

// Conversions through the whole pipeline, with the linked libsoxr.
class QuantiserConversion : public test::EngineTest { };

// A real conversion's error: its 16-bit output minus the float output of the same settings, in steps.
std::vector<double> conversionError(
    const std::filesystem::path& source, double rate, std::optional<Dither> dither, const test::TempDir& dir)
{
    convertWav(source, dir / "float.wav", {rate, OutputFormat::float32, {}});
    convertWav(source, dir / "int16.wav",
        {.targetRate = rate, .format = OutputFormat::int16, .options = {}, .dither = dither});
    const std::vector<float> exact = test::readAudioFile(dir / "float.wav").samples;
    const std::vector<float> out = test::readAudioFile(dir / "int16.wav").samples;
    std::vector<double> error(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) error[i] = (double{out[i]} - exact[i]) * 32768;
    return error;
}

TEST_F(QuantiserConversion, TpdfInAConversionIsTriangularPlusRoundingAndIndependentPerChannel)
{
    test::TempDir dir;
    test::writeAudioFile(dir / "in.wav", {48000, 2}, 220000, test::sine(997, 48000, 0.01));
    const std::vector<double> error = conversionError(dir / "in.wav", 44100, std::nullopt, dir); // the default
    double sum[2] = {}, squares[2] = {}, cross = 0, peak = 0;
    for (std::size_t i = 0; i < error.size(); i += 2) {
        for (int c = 0; c < 2; ++c) sum[c] += error[i + c], squares[c] += error[i + c] * error[i + c];
        cross += error[i] * error[i + 1];
        peak = std::max({peak, std::fabs(error[i]), std::fabs(error[i + 1])});
    }
    const double n = static_cast<double>(error.size() / 2);
    EXPECT_LE(peak, 1.5);
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(sum[c] / n, 0, 0.01);
        EXPECT_NEAR(squares[c] / n, 0.25, 0.01); // 1/6 of the dither and 1/12 of the rounding
    }
    EXPECT_NEAR(cross / n / 0.25, 0, 0.01);
}

// The commonest delivery: a 96 kHz 24-bit master, −60 dBFS then −20 dBFS, to 44.1 kHz 16-bit. The
// shaped error is far quieter where hearing is keen, and no louder under the louder passage. At
// 96 kHz, where every zero crossing of the sine lands on the grid, the whole band below 20 kHz is
// far quieter still.
TEST_F(QuantiserConversion, ShapingAConversionLowersTheAudibleNoiseAndDoesNotFollowTheSignal)
{
    test::TempDir dir;
    struct Case {
        double sourceRate, targetRate;
        Dither dither;
        double weightedAtMost, bandAtMost, below20kAtMost; // dB below TPDF's, at least
    };
    const Case cases[] = {{96000, 44100, Dither::tpdf, 0, 0, 0}, {96000, 44100, Dither::shapedLight, -8, -8, 100},
        {96000, 44100, Dither::shaped, -15, -12, 100}, {96000, 96000, Dither::tpdf, 0, 0, 0},
        {96000, 96000, Dither::shaped, -15, -12, -20}};
    Levels tpdf;
    for (const Case& c : cases) {
        const double passage = c.sourceRate * 3;
        test::writeAudioFile(dir / "in.wav", {static_cast<int>(c.sourceRate), 1},
            static_cast<std::int64_t>(2 * passage), [&c, passage](std::int64_t f, int) {
                return static_cast<float>((static_cast<double>(f) < passage ? 0.001 : 0.1)
                    * std::sin(2 * std::numbers::pi * 1000 * static_cast<double>(f) / c.sourceRate));
            });
        const auto half = static_cast<std::size_t>(c.targetRate * 3), margin = half / 30;
        const std::vector<double> error = conversionError(dir / "in.wav", c.targetRate, c.dither, dir);
        const std::vector<double> quiet(error.begin() + margin, error.begin() + half - margin);
        const std::vector<double> loud(error.begin() + half + margin, error.end() - margin);
        const Levels levels = levelsOf(powerSpectrum(quiet), c.targetRate);
        if (c.dither == Dither::tpdf) tpdf = levels;
        SCOPED_TRACE(testing::Message() << ditherName(c.dither) << " at " << c.targetRate);
        EXPECT_LE(10 * std::log10(levels.weighted / tpdf.weighted), c.weightedAtMost);
        EXPECT_LE(10 * std::log10(levels.band1To5k / tpdf.band1To5k), c.bandAtMost);
        EXPECT_LE(10 * std::log10(levels.below20k / tpdf.below20k), c.below20kAtMost);
        double quietPower = 0, loudPower = 0;
        for (const double e : quiet) quietPower += e * e / static_cast<double>(quiet.size());
        for (const double e : loud) loudPower += e * e / static_cast<double>(loud.size());
        EXPECT_NEAR(10 * std::log10(loudPower / quietPower), 0, 1);
    }
}

TEST(QuantiserTest, NoiseIsRepeatableAndTheSameHoweverChannelsAreGroupedOrBlocksCut)
{
    const std::vector<float> tone = sine(44100, 997, -50, 3000);
    std::vector<float> stereo(tone.size() * 2);
    for (std::size_t i = 0; i < tone.size(); ++i) stereo[2 * i] = stereo[2 * i + 1] = tone[i];
    for (const Dither dither : kAllDithers) {
        for (const auto format : {QuantisedFormat::int16, QuantisedFormat::int24}) {
            // Both channels at once, in blocks of 37 frames.
            Quantiser together(format, dither, 44100, 1234, 0, 2);
            std::vector<float> joint(stereo.size());
            std::vector<std::int16_t> joint16(stereo.size());
            for (std::size_t done = 0; done < tone.size(); done += 37) {
                const std::size_t n = std::min<std::size_t>(37, tone.size() - done);
                if (format == QuantisedFormat::int16) {
                    together.process({stereo.data() + 2 * done, 2, 1}, {joint16.data() + 2 * done, 2, 1}, n);
                } else {
                    together.process({stereo.data() + 2 * done, 2, 1}, {joint.data() + 2 * done, 2, 1}, n);
                }
            }
            // Each channel alone in one block, written planar.
            std::vector<float> planar(stereo.size());
            std::vector<std::int16_t> planar16(stereo.size());
            for (unsigned c = 0; c < 2; ++c) {
                Quantiser alone(format, dither, 44100, 1234, c, 1);
                const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(c * tone.size());
                if (format == QuantisedFormat::int16) {
                    alone.process({tone.data(), 1, 1}, {planar16.data() + offset, 1, 1}, tone.size());
                } else {
                    alone.process({tone.data(), 1, 1}, {planar.data() + offset, 1, 1}, tone.size());
                }
            }
            bool channelsDiffer = false;
            for (std::size_t i = 0; i < tone.size(); ++i) {
                for (std::size_t c = 0; c < 2; ++c) {
                    const bool same = format == QuantisedFormat::int16
                        ? joint16[2 * i + c] == planar16[c * tone.size() + i]
                        : joint[2 * i + c] == planar[c * tone.size() + i];
                    ASSERT_TRUE(same) << ditherName(dither) << " frame " << i << " channel " << c;
                }
                channelsDiffer |= format == QuantisedFormat::int16 ? joint16[2 * i] != joint16[2 * i + 1]
                                                                   : joint[2 * i] != joint[2 * i + 1];
            }
            EXPECT_EQ(channelsDiffer, dither != Dither::none) << ditherName(dither);
        }
        if (dither != Dither::none) {
            EXPECT_EQ(quantise16(dither, 44100, tone, 1, 1), quantise16(dither, 44100, tone, 1, 1));
            EXPECT_NE(quantise16(dither, 44100, tone, 1, 1), quantise16(dither, 44100, tone, 1, 2));
        }
    }
}

// A source already on the output's grid, silence in it, at its own rate: every choice leaves every
// sample as it was. And a file of exact zeros stays zeros through resampling.
TEST_F(QuantiserConversion, AConversionThatChangesNoSampleIsBitExactAndSilenceStaysSilent)
{
    test::TempDir dir;
    const test::SampleFunction tone = test::sine(1000, 44100, 0.3);
    const auto withSilence = [&](std::int64_t f, int c) { return f % 3000 < 1000 ? 0.0f : tone(f, c); };
    test::writeAudioFile(dir / "16.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, 9000, withSilence);
    test::writeAudioFile(dir / "24.wav", {96000, 2}, 9000, withSilence);
    test::writeAudioFile(dir / "zeros.wav", {44100, 1}, 9000, [](std::int64_t, int) { return 0.0f; });
    const std::tuple<const char*, double, OutputFormat> cases[]
        = {{"16.wav", 44100, OutputFormat::int16}, {"24.wav", 96000, OutputFormat::int24},
            {"zeros.wav", 48000, OutputFormat::int16}, {"zeros.wav", 48000, OutputFormat::int24}};
    for (const Dither dither : kAllDithers) {
        for (const auto& [name, rate, format] : cases) {
            convertWav(
                dir / name, dir / "out.wav", {.targetRate = rate, .format = format, .options = {}, .dither = dither});
            const std::vector<float> out = test::readAudioFile(dir / "out.wav").samples;
            std::vector<float> in = test::readAudioFile(dir / name).samples;
            if (rate == 48000) in.assign(out.size(), 0.0f); // resampled: of another length, all zeros
            EXPECT_TRUE(out == in) << ditherName(dither) << " " << name << " to " << rate;
        }
    }
}

// The error's spectrum for a −60 dBFS 1 kHz sine, against TPDF's, and against the design's
// figures; so what the tables promise is what the loop delivers.
TEST(QuantiserTest, ShapedNoiseGoesWhereHearingIsLeastSensitive)
{
    struct Case {
        double rate;
        Dither dither;
        double weightedAtMost, bandAtMost, below20kAtMost;
    };
    const Case cases[] = {
        {48000, Dither::shapedLight, -8, -8, 100},
        {48000, Dither::shaped, -15, -12, 100},
        {96000, Dither::shaped, -15, -12, -20},
        {192000, Dither::shaped, -15, -12, -20},
    };
    for (const Case& c : cases) {
        const std::vector<float> in = sine(c.rate, 1000, -60, 1 << 18);
        const Levels tpdf = levelsOf(powerSpectrum(errorOf(quantise16(Dither::tpdf, c.rate, in, 1), in)), c.rate);
        const Levels shaped = levelsOf(powerSpectrum(errorOf(quantise16(c.dither, c.rate, in, 1), in)), c.rate);
        const double weighted = 10 * std::log10(shaped.weighted / tpdf.weighted);
        const double band = 10 * std::log10(shaped.band1To5k / tpdf.band1To5k);
        const double below = 10 * std::log10(shaped.below20k / tpdf.below20k);
        SCOPED_TRACE(testing::Message() << ditherName(c.dither) << " at " << c.rate);
        EXPECT_LE(weighted, c.weightedAtMost);
        EXPECT_LE(band, c.bandAtMost);
        EXPECT_LE(below, c.below20kAtMost);
        const DitherNoise theory = ditherNoise(c.dither, QuantisedFormat::int16, c.rate, 512);
        EXPECT_NEAR(weighted, theory.weightedDb, 1.5);
        EXPECT_NEAR(band, theory.band1To5kDb, 1.5);
    }
}

TEST(QuantiserTest, FullScaleSquareWaveNeitherUpsetsTheShaperNorMiscountsClips)
{
    std::vector<float> in(20000);
    for (std::size_t i = 0; i < 10000; ++i) in[i] = (i / 50) % 2 == 0 ? 1.0f : -1.0f;
    const std::vector<float> after = sine(44100, 1000, -60, 10000);
    std::copy(after.begin(), after.end(), in.begin() + 10000);
    for (const Dither dither : kAllDithers) {
        std::unique_ptr<Quantiser> quantiser;
        const auto out = quantise16(dither, 44100, in, 1, 7, &quantiser);
        EXPECT_EQ(quantiser->clips(), 5000u) << ditherName(dither); // +1.0 is 32768, one step beyond
        EXPECT_EQ(quantiser->peak(), 1.0f);
        double worst = 0, squares = 0;
        for (std::size_t i = 0; i < in.size(); ++i) {
            const double wanted = std::clamp(static_cast<double>(in[i]) * 32768, -32768.0, 32767.0);
            worst = std::max(worst, std::fabs(out[i] - wanted));
            if (i >= 11000) squares += (out[i] - wanted) * (out[i] - wanted);
        }
        EXPECT_LE(worst, 80) << ditherName(dither); // the shaped noise's own bound, never growing
        // Right after, the noise is what the shaper makes of TPDF, no leftover of the overload.
        const DitherNoise theory = ditherNoise(dither, QuantisedFormat::int16, 44100, 4096);
        double expected = 0;
        for (const double level : theory.levelDb) expected += std::pow(10.0, level / 10) * 32768.0 * 32768.0;
        EXPECT_NEAR(10 * std::log10(squares / 9000), 10 * std::log10(expected), 1.0) << ditherName(dither);
    }
}

TEST(QuantiserTest, TheoreticalNoiseOfEachChoice)
{
    const DitherNoise tpdf = ditherNoise(Dither::tpdf, QuantisedFormat::int16, 44100, 1024);
    EXPECT_DOUBLE_EQ(tpdf.binHz, 44100.0 / 2 / 1024);
    EXPECT_NEAR(tpdf.levelDb.front(), 10 * std::log10(0.25 / 1024 / 32768 / 32768), 1e-9);
    EXPECT_NEAR(tpdf.levelDb.back(), tpdf.levelDb.front(), 1e-9);
    EXPECT_NEAR(ditherNoise(Dither::none, QuantisedFormat::int16, 44100, 16).weightedDb, -4.77, 0.01);
    // Below 44.1 kHz little of the band lies where hearing is deaf; shaping still gains there.
    for (const double rate : {22050.0, 32000.0, 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0, 384000.0}) {
        for (const Dither dither : {Dither::shapedLight, Dither::shaped}) {
            const NoiseShaperDesign& design = *noiseShaperFor(dither, rate);
            const auto figures = noiseShapingFigures({design.feedback.data(), std::size_t(design.order)}, rate);
            EXPECT_LE(figures.peakGainDb, dither == Dither::shaped ? 30 : 15) << rate;
            EXPECT_LT(figures.weightedDb, rate < 44100 ? -2 : dither == Dither::shaped ? -15 : -8) << rate;
        }
    }
}

} // namespace
} // namespace fennick
