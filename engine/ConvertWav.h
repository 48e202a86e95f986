#pragma once

#include "ConversionSettings.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>

namespace fennick {

using ProgressCallback = std::function<void(double fraction)>;

// A conversion that is refused before any file is written: the destination is the source
// itself, the source's rate cannot be resampled to the target, or its rate and channel count
// would need an absurdly large output block.
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Frames read from the source per block.
inline constexpr std::uint32_t kInputBlockFrames = 65536;

// ceil(targetRate × 65536 / inputRate) + 8192: room for everything one input block can
// produce plus what libsoxr holds back. Nothing when a rate is not positive and finite, or the
// block would exceed 2^31 − 1 frames, the most libsoxr 0.1.3 accepts as an output length.
std::optional<std::uint32_t> outputBlockCapacity(double inputRate, double targetRate);

// Reads `source`, resamples it with libsoxr (through SoxrApi::shared()) to `targetRate` and
// writes a WAV file of `format` with the source's channel count to `destination`, replacing a
// file already there. Blocks the calling thread until the file is complete and closed.
//
// `progress`, if given, is called on this thread once per input block with the fraction of
// the source read so far; the last call for a source read to its end is exactly 1.0.
//
// Throws AudioFileError (reading or writing), SoxrError (libsoxr, or blocks that cannot be
// made) or ConversionError. A partly written destination is left as it is.
void convertWav(const std::filesystem::path& source, const std::filesystem::path& destination, double targetRate,
    OutputFormat format, const ConversionOptions& options, const ProgressCallback& progress = {});

} // namespace fennick
