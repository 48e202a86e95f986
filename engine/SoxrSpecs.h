#pragma once

#include "FennickEngine.h"
#include "SoxrApi.h"

namespace fennick {

// The io record for float input and the format's output type; int16 without dither adds
// SOXR_NO_DITHER, everything else is as libsoxr returns it.
soxr_io_spec_t ioSpecFor(const SoxrApi& api, OutputFormat format, const ConversionOptions& options);

// The quality record for the options' recipe and flags, with passband_end = bandwidthPercent / 100
// whatever libsoxr put there, except with the steep filter, which keeps libsoxr's own.
soxr_quality_spec_t qualitySpecFor(const SoxrApi& api, const ConversionOptions& options);

} // namespace fennick
