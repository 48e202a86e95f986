#include "ConvertWav.h"

#include "AudioBlock.h"
#include "AudioFileReader.h"
#include "AudioFileWriter.h"
#include "ClipMeter.h"
#include "Metadata.h"
#include "PendingDestination.h"
#include "SoxrApi.h"
#include "SoxrSpecs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>

namespace fennick {

namespace {

constexpr const char* kUnknownSoxrError = "unknown libsoxr error";
constexpr const char* kNoMemory = "There is not enough memory for this conversion.";

// Deletes a resampler through the table it was made with.
class SoxrHandle {
public:
    SoxrHandle(const SoxrApi& api, soxr_t handle) : api_(api), handle_(handle) { }
    SoxrHandle(const SoxrHandle&) = delete;
    SoxrHandle& operator=(const SoxrHandle&) = delete;
    ~SoxrHandle() { reset(); }
    soxr_t get() const { return handle_; }
    void reset()
    {
        if (handle_ != nullptr) api_.soxr_delete(std::exchange(handle_, nullptr));
    }

private:
    const SoxrApi& api_;
    soxr_t handle_;
};

std::string formatRate(double rate)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.15g Hz", rate);
    return text;
}

void refuseUnusableRates(double inputRate, double targetRate)
{
    if (!(inputRate > 0) || !std::isfinite(inputRate)) {
        throw ConversionError("The source's sample rate of " + formatRate(inputRate) + " cannot be resampled.");
    }
    // A WAV header holds a whole number of hertz; any other rate would be stored wrongly.
    if (!(targetRate > 0) || !std::isfinite(targetRate) || targetRate != std::floor(targetRate)) {
        throw ConversionError("A target sample rate of " + formatRate(targetRate) + " is not possible.");
    }
    if (!outputBlockCapacity(inputRate, targetRate)) {
        throw ConversionError("Resampling from " + formatRate(inputRate) + " to " + formatRate(targetRate)
            + " is not supported: the ratio is too large.");
    }
}

// A header with a tiny rate and many channels asks for an output block of gigabytes that no
// real recording needs (290 channels at 342 Hz: 4.9 GB for a 44-byte file); such a source is
// refused before the destination is touched.
constexpr double kMaxOutputBlockBytes = double(1u << 30);

void refuseOversizedOutputBlock(double inputRate, double targetRate, std::uint32_t channels, SampleType type)
{
    const double bytes = double(*outputBlockCapacity(inputRate, targetRate)) * channels * bytesPerSample(type);
    if (bytes > kMaxOutputBlockBytes) {
        throw ConversionError("Resampling " + std::to_string(channels) + " channels from " + formatRate(inputRate)
            + " to " + formatRate(targetRate) + " needs more memory than a conversion may use.");
    }
}

// Replacing the source would lose it, and reading while its own file is rewritten would make no sense.
void refuseSourceAsDestination(const std::filesystem::path& source, const std::filesystem::path& destination)
{
    std::error_code error;
    if (std::filesystem::equivalent(source, destination, error)) {
        throw ConversionError("The destination is the source file itself; choose another file name.");
    }
}

// A bound on the output length, for choosing between a plain WAV and RF64.
std::int64_t expectedOutputFrames(std::int64_t inputFrames, double inputRate, double targetRate)
{
    const double frames = std::ceil(static_cast<double>(inputFrames) * (targetRate / inputRate)) + kInputBlockFrames;
    return frames >= 9.0e18 ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(frames);
}

} // namespace

std::optional<std::uint32_t> outputBlockCapacity(double inputRate, double targetRate)
{
    if (!(inputRate > 0) || !(targetRate > 0) || !std::isfinite(inputRate) || !std::isfinite(targetRate)) {
        return std::nullopt;
    }
    const double frames = std::ceil(targetRate * kInputBlockFrames / inputRate);
    constexpr double kLimit = std::numeric_limits<std::int32_t>::max() - 8192.0;
    if (!(frames <= kLimit)) return std::nullopt;
    return static_cast<std::uint32_t>(frames) + 8192u;
}

ClipReport convertWav(const std::filesystem::path& source, const std::filesystem::path& destination, double targetRate,
    OutputFormat format, const ConversionOptions& options, const ProgressCallback& progress, const RunControl& control)
{
    AudioFileReader reader(source);
    const double inputRate = reader.sampleRate();
    const std::uint32_t channels = reader.channelCount();
    refuseUnusableRates(inputRate, targetRate);
    refuseSourceAsDestination(source, destination);
    refuseOversizedOutputBlock(
        inputRate, targetRate, channels, format == OutputFormat::int16 ? SampleType::int16 : SampleType::float32);
    PendingDestination pending(destination, control.replaceExisting);
    const SourceMetadata metadata = control.carryMetadata ? readMetadata(reader.sndfile()) : SourceMetadata{};

    const SoxrApi& api = SoxrApi::shared();
    const soxr_io_spec_t io = ioSpecFor(api, format, options);
    const soxr_quality_spec_t quality = qualitySpecFor(api, options);
    soxr_error_t createError = nullptr;
    SoxrHandle handle(api, api.soxr_create(inputRate, targetRate, channels, &createError, &io, &quality, nullptr));
    if (handle.get() == nullptr) throw SoxrError(createError != nullptr ? createError : kUnknownSoxrError);

    const AudioFormat outputFormat{
        format == OutputFormat::int16 ? SampleType::int16 : SampleType::float32, targetRate, channels};
    auto input = AudioBlock::make(reader.blockFormat(), kInputBlockFrames);
    const std::uint32_t outputLength = *outputBlockCapacity(inputRate, targetRate);
    auto output = AudioBlock::make(outputFormat, outputLength);
    if (!input || !output) throw ConversionError(kNoMemory);
    void* outputData = output->data();
    const float* inputSamples = input->floatSamples();

    // Only now, with everything the run needs in hand, is anything created at the destination.
    // The metadata's bytes count towards the 4 GiB a plain WAV can hold.
    const auto metadataFrames = static_cast<std::int64_t>(metadata.byteSize() / (channels * bitsPerSample(format) / 8));
    const std::int64_t audioFrames = expectedOutputFrames(reader.frames(), inputRate, targetRate);
    AudioFileWriter writer(pending.open(), targetRate, channels, format,
        audioFrames + std::min(metadataFrames, std::numeric_limits<std::int64_t>::max() - audioFrames));
    if (!metadata.empty()) {
        writeMetadata(writer.sndfile(), metadata,
            {static_cast<std::int64_t>(inputRate), static_cast<std::int64_t>(targetRate), reader.frames(), channels,
                format});
    }
    ClipMeter meter(format);
    const auto write = [&](std::size_t produced) {
        output->setFrameLength(static_cast<std::uint32_t>(produced));
        writer.write(*output);
        meter.observe(*output);
    };

    while (reader.position() < reader.frames()) {
        if (control.stop.stop_requested()) throw ConversionCancelled();
        reader.read(*input);
        const std::int64_t n = input->frameLength();
        if (n == 0) break; // the file ended before its stated length

        std::int64_t fed = 0;
        do {
            std::size_t consumed = 0;
            std::size_t produced = 0;
            if (soxr_error_t error = api.soxr_process(handle.get(), inputSamples + fed * channels,
                    static_cast<std::size_t>(n - fed), &consumed, outputData, outputLength, &produced)) {
                throw SoxrError(error);
            }
            fed += static_cast<std::int64_t>(consumed);
            if (produced > 0) write(produced);
            if (consumed == 0 && produced == 0) break;
        } while (fed < n);

        if (reader.frames() >= 1 && progress) {
            progress(static_cast<double>(reader.position()) / static_cast<double>(reader.frames()));
        }
    }
    if (control.stop.stop_requested()) throw ConversionCancelled();

    for (;;) {
        std::size_t produced = 0;
        if (soxr_error_t error
            = api.soxr_process(handle.get(), nullptr, 0, nullptr, outputData, outputLength, &produced)) {
            throw SoxrError(error);
        }
        if (produced == 0) break;
        write(produced);
    }
    const std::size_t* libsoxrClips = api.soxr_num_clips(handle.get());
    const ClipReport report = meter.report(libsoxrClips != nullptr ? *libsoxrClips : 0);

    input.reset();
    output.reset();
    handle.reset();
    reader.close();
    writer.close();
    pending.commit();
    return report;
}

} // namespace fennick
