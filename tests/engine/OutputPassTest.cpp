// The vector passes after resampling against their per-sample references, on random blocks of odd
// lengths, at the strides of groups inside wider files.

#include "OutputPass.h"
#include "PackedSamples.h"
#include "Quantiser.h"

#include "WiderVectors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace fennick {
namespace {

struct PassCase {
    unsigned channels, first, allChannels; // the group's channels, from `first` of the whole file's
    std::size_t frames;
    float gain;
};

const PassCase kPassCases[] = {
    {1, 0, 1, 1, 1.0f},
    {1, 1, 2, 1001, 1.0f},
    {2, 0, 2, 4099, 0.70710677f},
    {3, 3, 6, 777, 1.9952623f},
    {1, 2, 3, 3, 0.5f},
    {5, 0, 5, 2049, 1.0f},
    {2, 1, 7, 513, 1.25f},
    {2, 4, 6, 1027, 1.0f},
    {4, 2, 6, 99, 0.5f},
    {1, 3, 4, 61, 0.5f},
    {1, 0, 1, 300, 1.0f},
    {1, 0, 2, 515, 1.0f},
};

// Loud noise, exact rounding ties, zeros, and values within a step or so of each threshold the
// passes compare against once multiplied by `gain`.
std::vector<double> randomValues(std::size_t count, unsigned seed, float gain)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> loud(0.0, 0.8);
    const double thresholds[] = {32767.5 / 32768, -32768.5 / 32768, 1.0, -1.0, 1.0 - 1.0 / 16777216.0};
    std::vector<double> values(count);
    for (double& value : values) {
        switch (random() % 6) {
        case 0: value = 0; break;
        case 1: value = (static_cast<int>(random() % 65536) - 32768 + 0.5) / 32768; break;
        case 2:
        case 3: {
            value = thresholds[random() % 5] / gain;
            for (int steps = static_cast<int>(random() % 5) - 2; steps != 0; steps += steps > 0 ? -1 : 1)
                value = std::nextafter(static_cast<float>(value), steps > 0 ? 2.0f : -2.0f);
            break;
        }
        default: value = loud(random);
        }
    }
    return values;
}

TEST(OutputPassTest, VectorPassesEqualTheReferenceAtEveryStride)
{
    for (const PassCase& c : kPassCases) {
        SCOPED_TRACE(testing::Message() << c.channels << " of " << c.allChannels << " channels, " << c.frames
                                        << " frames, gain " << c.gain);
        const std::size_t count = c.frames * c.channels, wide = c.frames * c.allChannels;
        const std::vector<double> values = randomValues(count, c.channels * 1000 + c.first, c.gain);
        std::vector<float> floats(values.begin(), values.end());
        // NaN is kept and neither peak nor beyond, also right after the peak in the same vector lane.
        floats[count / 2] = std::numeric_limits<float>::quiet_NaN();
        if (count > 12) floats[8] = 5.0f, floats[12] = std::numeric_limits<float>::quiet_NaN();
        const float high = c.first % 2 ? 1.0f - 1.0f / 16777216.0f : std::nextafter(1.0f, 2.0f);

        // The widest paths the processor has, then the baseline, then the reference.
        std::vector<float> floatOuts[3];
        std::vector<std::int16_t> int16Outs[3];
        PassFigures floatFigures[3], int16Figures[3];
        for (const int run : {0, 1, 2}) {
            forceBaselineVectors(run == 1);
            floatOuts[run].assign(wide, -7.0f); // what belongs to other groups stays
            int16Outs[run].assign(wide, 12345);
            floatFigures[run] = int16Figures[run] = {0.25f, 3};
            const StridedOut<float> floatOut{floatOuts[run].data() + c.first, c.allChannels, c.frames / 3};
            const StridedOut<std::int16_t> int16Out{int16Outs[run].data() + c.first, c.allChannels, 0};
            if (run == 2) {
                passFloatsReference(floats.data(), c.frames, c.channels, c.gain, high, floatOut, floatFigures[run]);
                passInt16Reference(values.data(), c.frames, c.channels, c.gain, int16Out, int16Figures[run]);
            } else {
                passFloats(floats.data(), c.frames, c.channels, c.gain, high, floatOut, floatFigures[run]);
                passInt16(values.data(), c.frames, c.channels, c.gain, int16Out, int16Figures[run]);
            }
        }
        forceBaselineVectors(false);
        for (const int run : {0, 1}) {
            EXPECT_EQ(std::memcmp(floatOuts[run].data(), floatOuts[2].data(), wide * sizeof(float)), 0) << run;
            EXPECT_EQ(floatFigures[run].peak, floatFigures[2].peak) << run;
            EXPECT_EQ(floatFigures[run].beyond, floatFigures[2].beyond) << run;
            EXPECT_EQ(int16Outs[run], int16Outs[2]) << run;
            EXPECT_EQ(int16Figures[run].peak, int16Figures[2].peak) << run;
            EXPECT_EQ(int16Figures[run].beyond, int16Figures[2].beyond) << run;
        }
        EXPECT_TRUE(count < 1000 || int16Figures[2].beyond > 3); // the loud values really go past full scale

        // The dithering quantiser's own pass from the doubles, in two pieces so that the noise it
        // takes straddles its refills at odd offsets: the widest path and the baseline, each
        // against the reference with the baseline's noise.
        std::vector<double> withNaN = values;
        withNaN[count / 3] = std::numeric_limits<double>::quiet_NaN();
        std::vector<std::int16_t> ditheredOuts[3];
        float peaks[3];
        std::uint64_t clips[3];
        for (const int run : {0, 1, 2}) { // widest, baseline, reference
            forceBaselineVectors(run > 0);
            Quantiser quantiser(QuantisedFormat::int16, Dither::tpdf, 48000, 5, c.first, c.channels);
            quantiser.useReferencePath(run == 2);
            ditheredOuts[run].assign(wide, 12345);
            const std::size_t piece = c.frames / 3;
            for (const std::size_t from : {std::size_t{0}, piece}) {
                quantiser.process(withNaN.data() + from * c.channels, c.gain,
                    {ditheredOuts[run].data() + from * c.allChannels + c.first, c.allChannels, 1},
                    from == 0 ? piece : c.frames - piece);
            }
            peaks[run] = quantiser.peak(), clips[run] = quantiser.clips();
        }
        for (const int run : {0, 1}) {
            EXPECT_EQ(ditheredOuts[run], ditheredOuts[2]) << run;
            EXPECT_EQ(peaks[run], peaks[2]) << run;
            EXPECT_EQ(clips[run], clips[2]) << run;
        }

        // The dithering quantiser's input: the products as floats, one by one.
        std::vector<float> converted(count);
        doublesToFloats(values.data(), count, c.gain, converted.data());
        for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(converted[i], static_cast<float>(values[i] * c.gain)) << i;

        // A group's own channels out of the whole file's frames.
        std::vector<float> frames(wide), taken(count);
        for (std::size_t i = 0; i < wide; ++i) frames[i] = static_cast<float>(i);
        takeChannels(frames.data(), c.frames, c.allChannels, c.first, c.channels, taken.data());
        for (std::size_t i = 0; i < count; ++i)
            ASSERT_EQ(taken[i], frames[i / c.channels * c.allChannels + c.first + i % c.channels]) << i;

        // The same out of 16-, 24- and 32-bit frames, which hold one byte past the last sample and no
        // more: libsndfile's float of the sample as the top bytes of an int.
        for (const unsigned width : {2u, 3u, 4u}) {
            std::vector<unsigned char> bytes(width * wide + 1);
            std::mt19937 random(c.frames);
            for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(random());
            for (const bool baseline : {false, true}) {
                forceBaselineVectors(baseline);
                unpackChannels(width, bytes.data(), c.frames, c.allChannels, c.first, c.channels, taken.data());
                for (std::size_t i = 0; i < count; ++i) {
                    const unsigned char* const sample
                        = &bytes[width * (i / c.channels * c.allChannels + c.first + i % c.channels)];
                    std::uint32_t bits = 0;
                    for (unsigned k = 0; k < width; ++k) bits |= std::uint32_t{sample[k]} << (8 * (4 - width + k));
                    ASSERT_EQ(taken[i], static_cast<float>(static_cast<std::int32_t>(bits)) / 2147483648.0f)
                        << width << " bytes, " << i << (baseline ? " baseline" : "");
                }
            }
        }
        forceBaselineVectors(false);
    }
}

} // namespace
} // namespace fennick
