#include "DitherNoise.h"

#include "NoiseShapingFigures.h"

#include <cmath>
#include <span>

namespace fennick {

namespace {

template <std::size_t N> const NoiseShaperDesign* nearest(const NoiseShaperDesign (&designs)[N], double sampleRate)
{
    const NoiseShaperDesign* best = &designs[0];
    for (const NoiseShaperDesign& design : designs) {
        if (std::fabs(design.sampleRate - sampleRate) < std::fabs(best->sampleRate - sampleRate)) best = &design;
    }
    return best;
}

std::span<const double> feedbackOf(const NoiseShaperDesign* design)
{
    if (design == nullptr) return {};
    return std::span<const double>(design->feedback.data(), static_cast<std::size_t>(design->order));
}

} // namespace

const NoiseShaperDesign* noiseShaperFor(Dither dither, double sampleRate)
{
    if (dither == Dither::shapedLight) return nearest(kShapedLightShapers, sampleRate);
    if (dither == Dither::shaped) return nearest(kShapedShapers, sampleRate);
    return nullptr;
}

DitherNoise ditherNoise(Dither dither, QuantisedFormat format, double sampleRate, std::size_t bins)
{
    const auto feedback = feedbackOf(noiseShaperFor(dither, sampleRate));
    const double step = format == QuantisedFormat::int16 ? 1.0 / 32768 : 1.0 / 8388608;
    const double errorPower = (dither == Dither::none ? 1.0 / 12 : 1.0 / 4) * step * step;
    const double flatDb = 10 * std::log10(errorPower / static_cast<double>(bins));

    DitherNoise noise;
    noise.binHz = sampleRate / 2 / static_cast<double>(bins);
    noise.levelDb = noiseTransferDb(feedback, bins);
    for (double& level : noise.levelDb) level += flatDb;
    const NoiseShapingFigures figures = noiseShapingFigures(feedback, sampleRate);
    const double againstTpdfDb = dither == Dither::none ? 10 * std::log10(1.0 / 3) : 0.0;
    noise.weightedDb = figures.weightedDb + againstTpdfDb;
    noise.band1To5kDb = figures.band1To5kDb + againstTpdfDb;
    return noise;
}

DitherNoise ditherNoise(Dither dither, OutputFormat format, double sampleRate, std::size_t bins)
{
    return ditherNoise(
        dither, format == OutputFormat::int24 ? QuantisedFormat::int24 : QuantisedFormat::int16, sampleRate, bins);
}

} // namespace fennick
