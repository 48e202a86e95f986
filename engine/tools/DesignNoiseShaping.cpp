// Designs the noise shapers the quantiser uses and prints them as NoiseShapingTables.h:
//   fennick-design-noise-shaping > engine/NoiseShapingTables.h
//
// The noise leaves an error-feedback quantiser shaped by A(z) = 1 − H(z), a filter whose first
// coefficient is 1. Among such filters the one that minimises Σ W(ω)·|A(ω)|² over a frequency
// grid is the linear predictor of a process whose spectrum is W: the Levinson–Durbin solution of
// the normal equations whose autocorrelation is W's cosine transform. It is minimum phase, so
// the noise's log spectrum averages 0 dB (the least total any shaper can have for its shape),
// and |A|² follows 1/W: the noise is pushed to where the ear is deaf.
//
// W is the inverse of the threshold of hearing, raised to a floor. The floor bounds the noise
// gain where the threshold climbs (above about 15 kHz): it is found by bisection so that the
// peak gain meets each strength's limit. At 88.2 kHz and above the weight below 20 kHz is held
// up to a plateau as well, so that the noise leaves the whole audible band for the ultrasonic
// one rather than only the ear's most sensitive region.

#include "NoiseShapingFigures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

using fennick::noiseShapingFigures;
using fennick::thresholdOfHearingDb;

constexpr std::size_t kGrid = 4096;

struct Strength {
    const char* name; // the table's name in the header
    const char* comment;
    double peakLimitDb;
    // Orders: beyond these the figures gain less than a decibel while the quantiser's loop, which
    // runs once per sample, slows with every coefficient.
    int orderAudioRates; // 48 kHz and below
    int orderHighRates; // 88.2 kHz and above
};

constexpr Strength kStrengths[] = {
    {"kShapedLightShapers", "\"Shaped, light\": few coefficients and a small peak noise gain.", 14.5, 4, 6},
    {"kShapedShapers", "\"Shaped\": the strongest shaping within a 30 dB peak noise gain.", 29.5, 9, 12},
};

constexpr double kRates[] = {22050, 24000, 32000, 44100, 48000, 88200, 96000, 176400, 192000};

double weightAt(double hz, double sampleRate)
{
    double thresholdDb = thresholdOfHearingDb(hz);
    // Above the audio rates the whole band below 20 kHz matters, not only its most sensitive part.
    if (sampleRate > 50000 && hz < 20000) thresholdDb = std::min(thresholdDb, 0.0);
    return std::pow(10.0, -thresholdDb / 10.0);
}

// Levinson–Durbin: the predictor a1…aN of A(z) = 1 + Σ a_k z^−k for autocorrelation r0…rN.
std::vector<double> levinson(const std::vector<double>& r, int order)
{
    std::vector<double> a(order + 1, 0.0), previous;
    a[0] = 1;
    double error = r[0];
    for (int m = 1; m <= order; ++m) {
        double acc = r[m];
        for (int k = 1; k < m; ++k) acc += a[k] * r[m - k];
        const double reflection = -acc / error;
        previous = a;
        for (int k = 1; k < m; ++k) a[k] = previous[k] + reflection * previous[m - k];
        a[m] = reflection;
        error *= 1 - reflection * reflection;
    }
    return a;
}

// H's coefficients h1…hN for the weight raised to `floor`.
std::vector<double> design(double sampleRate, int order, double floor)
{
    std::vector<double> r(order + 1, 0.0);
    for (std::size_t i = 0; i < kGrid; ++i) {
        const double fraction = (static_cast<double>(i) + 0.5) / kGrid;
        const double weight = std::max(weightAt(fraction * sampleRate / 2, sampleRate), floor);
        for (int k = 0; k <= order; ++k) r[k] += weight * std::cos(std::numbers::pi * fraction * k);
    }
    const std::vector<double> a = levinson(r, order);
    std::vector<double> h(order);
    for (int k = 0; k < order; ++k) h[k] = -a[k + 1];
    return h;
}

// The lowest floor, relative to the weight's peak, whose design keeps within the peak limit.
std::vector<double> designWithinLimit(double sampleRate, int order, double peakLimitDb)
{
    double peakWeight = 0;
    for (std::size_t i = 0; i < kGrid; ++i) {
        peakWeight = std::max(peakWeight, weightAt((i + 0.5) / kGrid * sampleRate / 2, sampleRate));
    }
    double low = -120, high = 0; // log10 of floor/peak: `high` always meets the limit
    for (int step = 0; step < 60; ++step) {
        const double middle = (low + high) / 2;
        const auto h = design(sampleRate, order, peakWeight * std::pow(10.0, middle));
        (noiseShapingFigures(h, sampleRate).peakGainDb <= peakLimitDb ? high : low) = middle;
    }
    // The quantiser multiplies in 16-bit fixed point with 11 fractional bits: the table holds
    // exactly the coefficients it uses.
    std::vector<double> h = design(sampleRate, order, peakWeight * std::pow(10.0, high));
    for (double& coefficient : h) coefficient = std::round(coefficient * 2048) / 2048;
    return h;
}

} // namespace

int main()
{
    std::printf("#pragma once\n\n");
    std::printf("// Made by fennick-design-noise-shaping (engine/tools/DesignNoiseShaping.cpp); remake it there\n");
    std::printf("// rather than editing it. Each shaper feeds the quantisation error back through\n");
    std::printf("// H(z) = h1 z^-1 + ... + hN z^-N, so that the noise leaves shaped by 1 - H(z).\n\n");
    std::printf("#include <array>\n\nnamespace fennick {\n\n");
    std::printf("struct NoiseShaperDesign {\n");
    std::printf(
        "    double sampleRate;\n    int order;\n    std::array<double, 16> feedback; // h1...hN, then zeros\n");
    std::printf("    // dB against flat noise: the peak gain, the threshold-weighted level, 1-5 kHz, below 20 kHz\n");
    std::printf("    double peakGainDb, weightedDb, band1To5kDb, below20kDb;\n};\n");
    for (const Strength& strength : kStrengths) {
        std::printf("\n// %s\n", strength.comment);
        std::printf("inline constexpr NoiseShaperDesign %s[] = {\n", strength.name);
        for (const double rate : kRates) {
            const int order = rate > 50000 ? strength.orderHighRates : strength.orderAudioRates;
            const auto h = designWithinLimit(rate, order, strength.peakLimitDb);
            const auto figures = noiseShapingFigures(h, rate);
            // The quantiser sums the products of h3…hN with errors of 1.5 steps at most in 32 bits.
            double sum = 0;
            for (std::size_t k = 2; k < h.size(); ++k) sum += std::fabs(h[k]);
            if (sum > 40)
                std::fprintf(stderr, "%.0f Hz: |h3| + ... + |hN| = %.1f overflows the quantiser\n", rate, sum);
            std::printf("    {%.0f, %d,\n        {", rate, order);
            for (int k = 0; k < order; ++k)
                std::printf("%s%.17g", k == 0 ? "" : (k % 4 == 0 ? ",\n            " : ", "), h[k]);
            std::printf("},\n        %.2f, %.2f, %.2f, %.2f},\n", figures.peakGainDb, figures.weightedDb,
                figures.band1To5kDb, figures.below20kDb);
        }
        std::printf("};\n");
    }
    std::printf("\n} // namespace fennick\n");
    return 0;
}
