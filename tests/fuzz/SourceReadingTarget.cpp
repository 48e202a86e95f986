#include "SourceReadingTarget.h"

#include "FennickEngine.h"

#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace fennick::fuzz {

namespace {

[[noreturn]] void finding(const char* what)
{
    std::fprintf(stderr, "source-reading finding: %s\n", what);
    std::abort();
}

// Sources claiming more than this are only read, not converted: a few kilobytes of FLAC can
// decode to minutes of audio, which would make each run slow without reaching new code.
constexpr std::int64_t kMaxConvertedSamples = std::int64_t{1} << 20;

} // namespace

void readAndConvert(const std::uint8_t* data, std::size_t size, const std::filesystem::path& workDir)
{
    const auto source = workDir / "source";
    const auto destination = workDir / "destination.wav";
    {
        std::ofstream out(source, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    int channels = 0;
    double last = 0;
    try {
        const SourceFileInfo header = readSourceFileInfo(source);
        if (header.sampleFormat.empty()) finding("empty sample format description");
        if (header.channelCount < 1 || header.frames < 0) finding("impossible header accepted");
        channels = static_cast<int>(header.channelCount);
        // A stream of unknown length reports the largest count libsndfile has.
        if (header.frames > kMaxConvertedSamples / channels) return;
        const ConversionOptions quick{.precision = ConversionOptions::Precision::quick};
        convertWav(source, destination, {44100.0, OutputFormat::int16, quick}, [&last](double fraction) {
            if (!(fraction > last && fraction <= 1.0)) finding("progress not rising within (0, 1]");
            last = fraction;
        });
    } catch (const AudioFileError&) {
        return;
    } catch (const SoxrError&) {
        return;
    } catch (const ConversionError&) {
        return;
    }

    // A conversion that reports success must have written a readable WAV at the target rate,
    // with the source's channels.
    SF_INFO info{};
    SNDFILE* output = sf_open(destination.c_str(), SFM_READ, &info);
    if (output == nullptr) finding("successful conversion wrote an unreadable file");
    sf_close(output);
    if (info.samplerate != 44100 || info.channels != channels) finding("output has the wrong rate or channels");
}

} // namespace fennick::fuzz
