#pragma once

#include "FennickEngine.h"
#include "SoxrApi.h"

namespace fennick {

// The io record for float input, as libsoxr returns it: Fennick quantises integer output itself.
// Float output, or for int16 double, so that rounding sees libsoxr's values as its own int16
// output would, whether it computes in single or double precision.
soxr_io_spec_t ioSpecFor(const SoxrApi& api, OutputFormat format = OutputFormat::float32);

// The quality record for the options' recipe and flags, with passband_end = bandwidthPercent / 100
// whatever libsoxr put there, except with the steep filter, which keeps libsoxr's own.
soxr_quality_spec_t qualitySpecFor(const SoxrApi& api, const ConversionOptions& options);

} // namespace fennick
