// fennick-bench-floor: the least time a converter built on libsoxr can take for a conversion.
//
// It takes fennick-convert's own arguments (parsed by the same code, so the settings cannot
// drift), reads the whole source into memory first, and then does exactly the libsoxr work of
// convertWav's single-threaded path: the same bound library, io, quality and runtime records,
// 65536-frame input blocks, output block capacity and call pattern, one resampler for all
// channels on one thread. Only the libsoxr calls are timed. DESTINATION is never opened.
//
// Prints one JSON object: wall and CPU seconds spent in libsoxr, frames in and out, channels
// and the two rates.

#include "AudioBlock.h"
#include "AudioFileReader.h"
#include "CommandLine.h"
#include "ConvertWav.h"
#include "SoxrApi.h"
#include "SoxrSpecs.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace fennick;

double processCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Accumulates the wall and CPU time of the calls it brackets. Process CPU time, so that any
// worker threads libsoxr starts are counted too.
class SoxrClock {
public:
    template <typename Call> auto time(Call&& call)
    {
        const auto wallStart = std::chrono::steady_clock::now();
        const double cpuStart = processCpuSeconds();
        auto result = call();
        cpuSeconds_ += processCpuSeconds() - cpuStart;
        wallSeconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        return result;
    }
    double wallSeconds() const { return wallSeconds_; }
    double cpuSeconds() const { return cpuSeconds_; }

private:
    double wallSeconds_ = 0;
    double cpuSeconds_ = 0;
};

struct SourceInMemory {
    AudioFormat format;
    std::vector<float> samples;
    std::int64_t frames = 0;
};

SourceInMemory readWholeSource(const std::filesystem::path& path)
{
    AudioFileReader reader(path);
    SourceInMemory source{reader.blockFormat(), {}, 0};
    auto block = AudioBlock::make(source.format, kInputBlockFrames);
    if (!block) throw std::runtime_error("no memory for the input block");
    source.samples.reserve(static_cast<std::size_t>(reader.frames()) * source.format.channelCount);
    for (;;) {
        reader.read(*block);
        const std::size_t count = std::size_t{block->frameLength()} * source.format.channelCount;
        if (count == 0) break;
        source.samples.insert(source.samples.end(), block->floatSamples(), block->floatSamples() + count);
        source.frames += block->frameLength();
    }
    return source;
}

struct FloorResult {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    std::int64_t framesOut = 0;
};

FloorResult resampleInMemory(
    const SourceInMemory& source, double targetRate, OutputFormat format, const ConversionOptions& options)
{
    const SoxrApi& api = SoxrApi::shared();
    const std::uint32_t channels = source.format.channelCount;
    const double inputRate = source.format.sampleRate;
    const auto outputLength = outputBlockCapacity(inputRate, targetRate);
    if (!outputLength) throw std::runtime_error("unsupported rate ratio");

    const SampleType outputType = format == OutputFormat::int16 ? SampleType::int16 : SampleType::float32;
    auto input = AudioBlock::make(source.format, kInputBlockFrames);
    auto output = AudioBlock::make({outputType, targetRate, channels}, *outputLength);
    if (!input || !output) throw std::runtime_error("no memory for the blocks");
    float* inputSamples = input->floatSamples();
    void* outputData = output->data();

    SoxrClock clock;
    FloorResult result;
    const soxr_io_spec_t io = clock.time([&] { return ioSpecFor(api, format, options); });
    const soxr_quality_spec_t quality = clock.time([&] { return qualitySpecFor(api, options); });
    const soxr_runtime_spec_t runtime = clock.time([&] { return api.soxr_runtime_spec(1); });
    soxr_error_t createError = nullptr;
    soxr_t handle = clock.time(
        [&] { return api.soxr_create(inputRate, targetRate, channels, &createError, &io, &quality, &runtime); });
    if (handle == nullptr) throw SoxrError(createError != nullptr ? createError : "unknown libsoxr error");
    std::unique_ptr<soxr, decltype(api.soxr_delete)> owner(handle, api.soxr_delete);

    for (std::int64_t start = 0; start < source.frames; start += kInputBlockFrames) {
        // Copying the block in stands for convertWav's read: it leaves the samples in cache
        // the same way, and it is not timed.
        const std::int64_t n = std::min<std::int64_t>(kInputBlockFrames, source.frames - start);
        std::memcpy(inputSamples, source.samples.data() + start * channels, sizeof(float) * n * channels);
        std::int64_t fed = 0;
        do {
            std::size_t consumed = 0;
            std::size_t produced = 0;
            const soxr_error_t error = clock.time([&] {
                return api.soxr_process(handle, inputSamples + fed * channels, static_cast<std::size_t>(n - fed),
                    &consumed, outputData, *outputLength, &produced);
            });
            if (error != nullptr) throw SoxrError(error);
            fed += static_cast<std::int64_t>(consumed);
            result.framesOut += static_cast<std::int64_t>(produced);
            if (consumed == 0 && produced == 0) break;
        } while (fed < n);
    }
    for (;;) {
        std::size_t produced = 0;
        const soxr_error_t error = clock.time(
            [&] { return api.soxr_process(handle, nullptr, 0, nullptr, outputData, *outputLength, &produced); });
        if (error != nullptr) throw SoxrError(error);
        if (produced == 0) break;
        result.framesOut += static_cast<std::int64_t>(produced);
    }
    clock.time([&] {
        owner.reset();
        return 0;
    });
    result.wallSeconds = clock.wallSeconds();
    result.cpuSeconds = clock.cpuSeconds();
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    const auto parsed = cli::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
    if (!parsed.request) return parsed.exitCode;
    const cli::ConvertRequest& request = *parsed.request;
    try {
        const SourceInMemory source = readWholeSource(request.source);
        const FloorResult result
            = resampleInMemory(source, static_cast<double>(request.rate), request.format, request.options);
        std::printf("{\"soxr_wall_seconds\": %.6f, \"soxr_cpu_seconds\": %.6f, \"frames_in\": %lld, "
                    "\"frames_out\": %lld, \"channels\": %u, \"input_rate\": %.17g, \"target_rate\": %lld}\n",
            result.wallSeconds, result.cpuSeconds, static_cast<long long>(source.frames),
            static_cast<long long>(result.framesOut), source.format.channelCount, source.format.sampleRate,
            static_cast<long long>(request.rate));
    } catch (const std::exception& error) {
        std::cerr << "fennick-bench-floor: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
