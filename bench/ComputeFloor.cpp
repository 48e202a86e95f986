// fennick-bench-floor: the least time a converter built on libsoxr can take for a conversion.
//
// It takes fennick-convert's own arguments (parsed by the same code, so the settings cannot
// drift), reads the whole source into memory first, and then does exactly the libsoxr work of
// convertWav's single-threaded path: the same bound library, io, quality and runtime records,
// 65536-frame input blocks, output block capacity and Resampler, one resampler for all
// channels on one thread. Only the libsoxr calls are timed. DESTINATION is never opened.
//
// Prints one JSON object: wall and CPU seconds spent in libsoxr, frames in and out, channels
// and the two rates.

#include "AudioBlock.h"
#include "AudioFileReader.h"
#include "CommandLine.h"
#include "ConvertWav.h"
#include "Resampler.h"
#include "SoxrApi.h"
#include "SoxrSpecs.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
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

FloorResult resampleInMemory(const SourceInMemory& source, const ConversionSettings& settings)
{
    const SoxrApi& api = SoxrApi::shared();
    const std::uint32_t channels = source.format.channelCount;
    const double inputRate = source.format.sampleRate, targetRate = settings.targetRate;
    const auto outputLength = outputBlockCapacity(inputRate, targetRate);
    if (!outputLength) throw std::runtime_error("unsupported rate ratio");

    // What convertWav asks libsoxr for: doubles for 16-bit output, which Fennick quantises itself.
    const SampleType outputType = settings.format == OutputFormat::int16 ? SampleType::float64 : SampleType::float32;
    auto input = AudioBlock::make(source.format, kInputBlockFrames);
    if (!input) throw std::runtime_error("no memory for the blocks");
    float* inputSamples = input->floatSamples();
    ResampledFrames output({outputType, targetRate, channels}, *outputLength);

    SoxrClock clock;
    FloorResult result;
    const soxr_io_spec_t io = clock.time([&] { return ioSpecFor(api, settings.format); });
    const soxr_quality_spec_t quality = clock.time([&] { return qualitySpecFor(api, settings.options); });
    const soxr_runtime_spec_t runtime = clock.time([&] { return api.soxr_runtime_spec(1); });
    std::optional<Resampler> resampler;
    clock.time([&] {
        resampler.emplace(api, inputRate, targetRate, channels, io, quality, runtime);
        return 0;
    });

    for (std::int64_t start = 0; start < source.frames; start += kInputBlockFrames) {
        // Copying the block in stands for convertWav's read: it leaves the samples in cache
        // the same way, and it is not timed.
        const std::int64_t n = std::min<std::int64_t>(kInputBlockFrames, source.frames - start);
        std::memcpy(inputSamples, source.samples.data() + start * channels, sizeof(float) * n * channels);
        output.clear();
        clock.time([&] {
            resampler->process(inputSamples, static_cast<std::size_t>(n), output);
            return 0;
        });
        result.framesOut += output.frames();
    }
    output.clear();
    clock.time([&] {
        resampler->flush(output);
        resampler.reset();
        return 0;
    });
    result.framesOut += output.frames();
    result.wallSeconds = clock.wallSeconds();
    result.cpuSeconds = clock.cpuSeconds();
    return result;
}

// The read of `source` and the write of `bytes` bytes to `destination`, 1 MiB at a time, as the
// page cache takes them; the destination is removed afterwards.
SoxrClock plainInputOutput(
    const std::filesystem::path& source, const std::filesystem::path& destination, std::uint64_t bytes)
{
    std::vector<char> buffer(std::size_t{1} << 20, 0);
    SoxrClock clock;
    clock.time([&] {
        const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) throw std::runtime_error("cannot open the source");
        while (::read(in, buffer.data(), buffer.size()) > 0) { }
        ::close(in);
        const int out = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0) throw std::runtime_error("cannot create the destination");
        for (std::uint64_t left = bytes; left > 0;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
            if (::write(out, buffer.data(), n) != static_cast<ssize_t>(n)) throw std::runtime_error("write failed");
            left -= n;
        }
        return ::close(out);
    });
    ::unlink(destination.c_str());
    return clock;
}

} // namespace

int main(int argc, char** argv)
{
    const auto parsed = cli::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
    if (!parsed.request) return parsed.exitCode;
    const cli::ConvertRequest& request = *parsed.request;
    try {
        const SourceInMemory source = readWholeSource(request.source);
        const FloorResult result = resampleInMemory(source, request.settings);
        const std::uint64_t outputBytes = static_cast<std::uint64_t>(result.framesOut) * source.format.channelCount
            * (bitsPerSample(request.settings.format) / 8);
        const SoxrClock plain = plainInputOutput(request.source, request.destination, outputBytes);
        std::printf("{\"soxr_wall_seconds\": %.6f, \"soxr_cpu_seconds\": %.6f, \"io_wall_seconds\": %.6f, "
                    "\"io_cpu_seconds\": %.6f, \"frames_in\": %lld, \"frames_out\": %lld, \"channels\": %u, "
                    "\"input_rate\": %.17g, \"target_rate\": %lld}\n",
            result.wallSeconds, result.cpuSeconds, plain.wallSeconds(), plain.cpuSeconds(),
            static_cast<long long>(source.frames), static_cast<long long>(result.framesOut), source.format.channelCount,
            source.format.sampleRate, static_cast<long long>(request.settings.targetRate));
    } catch (const std::exception& error) {
        std::cerr << "fennick-bench-floor: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
