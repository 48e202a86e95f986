#include "SoxrSpecs.h"

namespace fennick {

soxr_io_spec_t ioSpecFor(const SoxrApi& api, OutputFormat format)
{
    return api.soxr_io_spec(SOXR_FLOAT32_I, format == OutputFormat::int16 ? SOXR_FLOAT64_I : SOXR_FLOAT32_I);
}

soxr_quality_spec_t qualitySpecFor(const SoxrApi& api, const ConversionOptions& options)
{
    unsigned long recipe = rawValue(options.precision) | rawValue(options.phase);
    if (options.steepFilter) recipe |= SOXR_STEEP_FILTER;
    unsigned long flags = rawValue(options.rolloff);
    if (options.doublePrecision) flags |= SOXR_DOUBLE_PRECISION;
    soxr_quality_spec_t quality = api.soxr_quality_spec(recipe, flags);
    // libsoxr's steep recipe is its own passband end; the slider's value would undo it.
    if (!options.steepFilter) quality.passband_end = options.bandwidthPercent / 100.0;
    return quality;
}

double steepBandwidthPercent(ConversionOptions::Precision precision)
{
    const SoxrApi& api = SoxrApi::shared();
    return api.soxr_quality_spec(rawValue(precision) | SOXR_STEEP_FILTER, 0).passband_end * 100.0;
}

} // namespace fennick
