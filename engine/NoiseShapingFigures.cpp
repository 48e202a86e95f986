#include "NoiseShapingFigures.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace fennick {

namespace {

constexpr std::size_t kFigureBins = 8192;

double transferPower(std::span<const double> feedback, double omega)
{
    std::complex<double> sum = 1.0;
    for (std::size_t k = 0; k < feedback.size(); ++k) {
        sum -= feedback[k] * std::polar(1.0, -omega * static_cast<double>(k + 1));
    }
    return std::norm(sum);
}

double toDb(double power) { return 10.0 * std::log10(std::max(power, 1e-300)); }

} // namespace

double thresholdOfHearingDb(double hz)
{
    // Below 20 Hz the formula climbs without bound; hearing is not what limits there anyway.
    const double khz = std::max(hz, 20.0) / 1000.0;
    return 3.64 * std::pow(khz, -0.8) - 6.5 * std::exp(-0.6 * (khz - 3.3) * (khz - 3.3)) + 1e-3 * std::pow(khz, 4.0);
}

NoiseShapingFigures noiseShapingFigures(std::span<const double> feedback, double sampleRate)
{
    double peak = 0, weighted = 0, weights = 0, band = 0, below = 0;
    std::size_t bandBins = 0, belowBins = 0;
    for (std::size_t i = 0; i < kFigureBins; ++i) {
        const double fraction = (static_cast<double>(i) + 0.5) / kFigureBins;
        const double hz = fraction * sampleRate / 2;
        const double power = transferPower(feedback, std::numbers::pi * fraction);
        const double weight = std::pow(10.0, -thresholdOfHearingDb(hz) / 10.0);
        peak = std::max(peak, power);
        weighted += weight * power;
        weights += weight;
        if (hz >= 1000 && hz <= 5000) band += power, ++bandBins;
        if (hz < 20000) below += power, ++belowBins;
    }
    NoiseShapingFigures figures;
    figures.peakGainDb = toDb(peak);
    figures.weightedDb = toDb(weighted / weights);
    figures.band1To5kDb = bandBins > 0 ? toDb(band / static_cast<double>(bandBins)) : 0;
    figures.below20kDb = belowBins > 0 ? toDb(below / static_cast<double>(belowBins)) : 0;
    return figures;
}

std::vector<double> noiseTransferDb(std::span<const double> feedback, std::size_t bins)
{
    std::vector<double> levels(bins);
    for (std::size_t i = 0; i < bins; ++i) {
        const double fraction = (static_cast<double>(i) + 0.5) / static_cast<double>(bins);
        levels[i] = toDb(transferPower(feedback, std::numbers::pi * fraction));
    }
    return levels;
}

} // namespace fennick
