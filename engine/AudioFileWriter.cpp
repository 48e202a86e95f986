#include "AudioFileWriter.h"

#include "DataChunk.h"

#include "Metadata.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fennick {

namespace {

// Data bytes a plain WAV can hold: its RIFF size field is 32 bits and also counts the header
// and any chunks libsndfile adds, for which a generous margin is left.
constexpr std::uint64_t kPlainWavDataLimit = 0xFFFFFFFFull - (1u << 20);

constexpr std::size_t kInt24StagingSamples = 16384;

// WAVE_FORMAT_EXTENSIBLE's speaker bits for mono and stereo.
constexpr std::uint32_t kSpeakerFrontLeft = 0x1, kSpeakerFrontRight = 0x2, kSpeakerFrontCenter = 0x4;

// Whole frames per 24-bit chunk, at least one.
std::size_t int24ChunkFrames(std::size_t channels) { return std::max<std::size_t>(1, kInt24StagingSamples / channels); }

// Writes the low three bytes of `value`, little-endian. On a little-endian machine one 4-byte
// store does it; its fourth byte lands where the next sample, or a spare byte, goes.
inline void storeInt24(std::int32_t value, unsigned char* out)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, &value, 4);
    } else {
        const auto bits = static_cast<std::uint32_t>(value);
        out[0] = static_cast<unsigned char>(bits);
        out[1] = static_cast<unsigned char>(bits >> 8);
        out[2] = static_cast<unsigned char>(bits >> 16);
    }
}

// Nearest 24-bit step (ties to even, as lrintf in the default rounding mode), clipped to full
// scale; NaN becomes 0. Scaling by 2^23 is exact. Adding and taking away 2^23 with the
// sample's sign rounds every value below 2^23 to an integer; larger ones stay beyond the limits
// on the same side, so clipping after rounding gives what clipping before it would. No
// library call and nothing that needs a branch, so that the loop below vectorises.
inline std::int32_t toInt24(float sample)
{
    const float scaled = sample * 8388608.0f;
    const float magic = std::copysign(8388608.0f, scaled);
    float value = (scaled + magic) - magic;
    value = value == value ? value : 0.0f;
    value = std::min(std::max(value, -8388608.0f), 8388607.0f);
    return static_cast<std::int32_t>(value);
}

// Stores `count` samples as packed little-endian 24-bit integers; `out` has room for two bytes
// more than 3 × count.
void packInt24(const float* in, std::size_t count, unsigned char* out)
{
    const float* const end = in + count;
#if defined(__SSE2__)
    // Four samples at a time, to the bit the same as toInt24: cvtps2dq rounds as lrintf does,
    // maxps turns NaN into the lower limit and the ordered mask then makes it 0. Two overlapping
    // 8-byte stores lay down the 12 bytes.
    const __m128 scale = _mm_set1_ps(8388608.0f);
    const __m128 low = _mm_set1_ps(-8388608.0f);
    const __m128 high = _mm_set1_ps(8388607.0f);
    const __m128i firstOfPair = _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF);
    const __m128i secondOfPair
        = _mm_set_epi32(0xFFFF, static_cast<int>(0xFF000000), 0xFFFF, static_cast<int>(0xFF000000));
    for (; end - in >= 4; in += 4, out += 12) {
        const __m128 scaled = _mm_mul_ps(_mm_loadu_ps(in), scale);
        const __m128 clipped = _mm_and_ps(_mm_min_ps(_mm_max_ps(scaled, low), high), _mm_cmpord_ps(scaled, scaled));
        const __m128i value = _mm_cvtps_epi32(clipped);
        // Each 64-bit half holds two samples; move the second down against the first's 24 bits.
        const __m128i packed
            = _mm_or_si128(_mm_and_si128(value, firstOfPair), _mm_and_si128(_mm_srli_epi64(value, 8), secondOfPair));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 6), _mm_unpackhi_epi64(packed, packed));
    }
#else
    constexpr std::size_t kGroup = 16; // a fixed trip count, so that -O2 vectorises it too
    for (; end - in >= static_cast<std::ptrdiff_t>(kGroup); in += kGroup, out += 3 * kGroup) {
        std::int32_t group[kGroup];
        for (std::size_t k = 0; k < kGroup; ++k) group[k] = toInt24(in[k]);
        for (std::size_t k = 0; k < kGroup; ++k) storeInt24(group[k], out + 3 * k);
    }
#endif
    for (; in < end; ++in, out += 3) storeInt24(toInt24(*in), out);
}

int subtypeFor(OutputFormat format)
{
    switch (format) {
    case OutputFormat::int16: return SF_FORMAT_PCM_16;
    case OutputFormat::int24: return SF_FORMAT_PCM_24;
    case OutputFormat::float32: return SF_FORMAT_FLOAT;
    }
    return 0;
}

int majorFormatFor(OutputType type, bool rf64, bool extensible)
{
    switch (type) {
    case OutputType::wav: return rf64 ? SF_FORMAT_RF64 : extensible ? SF_FORMAT_WAVEX : SF_FORMAT_WAV;
    case OutputType::rf64: return SF_FORMAT_RF64;
    case OutputType::w64: return SF_FORMAT_W64;
    case OutputType::aiff: return SF_FORMAT_AIFF;
    case OutputType::flac: return SF_FORMAT_FLAC;
    case OutputType::caf: return SF_FORMAT_CAF;
    }
    return 0;
}

// A CAF channel layout chunk naming the speakers by the mask's bits, which Core Audio's channel
// bitmap shares; libsndfile writes none.
void writeCafLayout(SNDFILE* file, std::uint32_t mask)
{
    constexpr std::uint32_t kUseChannelBitmap = 1u << 16;
    unsigned char bytes[12] = {};
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<unsigned char>(kUseChannelBitmap >> (24 - 8 * i));
        bytes[4 + i] = static_cast<unsigned char>(mask >> (24 - 8 * i));
    }
    SF_CHUNK_INFO info{};
    std::memcpy(info.id, "chan", 4);
    info.id_size = 4;
    info.datalen = sizeof bytes;
    info.data = bytes;
    if (sf_set_chunk(file, &info) != SF_ERR_NO_ERROR) throw sndfileError(file);
}

} // namespace

AudioFileWriter::AudioFileWriter(FileDescriptor file, double sampleRate, std::uint32_t channelCount,
    OutputFormat format, std::int64_t expectedFrames, ChannelLayout layout, OutputType type)
{
    // A WAV header holds whole hertz.
    if (channelCount == 0 || !(sampleRate >= 1 && sampleRate <= 0x7FFFFFFF) || sampleRate != std::floor(sampleRate)) {
        throw AudioFileError("Unsupported output format.");
    }
    bytesPerFileSample_ = bitsPerSample(format) / 8;
    const long double expectedBytes
        = static_cast<long double>(std::max<std::int64_t>(expectedFrames, 0)) * channelCount * bytesPerFileSample_;
    const bool riff = type == OutputType::wav || type == OutputType::rf64;
    rf64_ = type == OutputType::rf64
        || (type == OutputType::wav && expectedBytes > static_cast<long double>(kPlainWavDataLimit));
    littleEndianRaw_ = riff || type == OutputType::w64;
    // AIFF's sizes are 32 bits as a plain WAV's are.
    dataLimit_ = (type == OutputType::wav && !rf64_) || type == OutputType::aiff ? kPlainWavDataLimit : 0;

    // RF64's format chunk is always the extensible one.
    extensible_
        = riff && (rf64_ || channelCount > 2 || format != OutputFormat::int16 || layout.mask != 0 || layout.ambisonic);
    channelMask_ = layout.mask != 0 || layout.ambisonic ? layout.mask
        : channelCount == 1                             ? kSpeakerFrontCenter
        : channelCount == 2                             ? kSpeakerFrontLeft | kSpeakerFrontRight
                                                        : 0;

    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate);
    info.channels = static_cast<int>(channelCount);
    info.format = majorFormatFor(type, rf64_, extensible_) | subtypeFor(format) | SF_ENDIAN_FILE;
    if (!sf_format_check(&info)) throw AudioFileError("Unsupported output format.");
    // The descriptor stays ours, so that closing it, the last close of the file, is checked.
    SndfilePtr sndfile = openSndfile(file.get(), SFM_WRITE, info);
    if (!sndfile) throw sndfileError(nullptr);
    // A PEAK chunk costs a pass over every sample and says nothing the data does not.
    sf_command(sndfile.get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    if (rf64_ && type == OutputType::wav) sf_command(sndfile.get(), SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    if (type == OutputType::caf && layout.mask != 0 && !layout.ambisonic) writeCafLayout(sndfile.get(), layout.mask);
    if (extensible_) {
        // libsndfile writes the mask of a map it can express; close() stores any other.
        std::vector<int> map = channelMapFromMask(channelMask_, info.channels);
        if (!map.empty())
            sf_command(sndfile.get(), SFC_SET_CHANNEL_MAP_INFO, map.data(), static_cast<int>(map.size() * sizeof(int)));
        if (layout.ambisonic) sf_command(sndfile.get(), SFC_WAVEX_SET_AMBISONIC, nullptr, SF_AMBISONIC_B_FORMAT);
    }

    descriptor_ = std::move(file);
    file_ = std::move(sndfile);
    blockFormat_ = {format == OutputFormat::int16 ? SampleType::int16 : SampleType::float32, sampleRate, channelCount};
    if (format == OutputFormat::int24 && littleEndianRaw_)
        conversion_.resize(int24ChunkFrames(channelCount) * 3 * channelCount + 2);
    if (format == OutputFormat::int24 && !littleEndianRaw_)
        wideConversion_.resize(int24ChunkFrames(channelCount) * channelCount);
}

void AudioFileWriter::write(const AudioBlock& block)
{
    if (!file_ || block.format().sampleType != blockFormat_.sampleType
        || block.format().channelCount != blockFormat_.channelCount) {
        throw AudioFileError("The block does not match the file's block format.");
    }
    const sf_count_t frames = block.frameLength();
    if (frames == 0) return;
    const std::uint64_t bytes = static_cast<std::uint64_t>(frames) * blockFormat_.channelCount * bytesPerFileSample_;
    if (dataLimit_ != 0 && dataBytes_ + bytes > dataLimit_) {
        throw AudioFileError(
            std::string("The output is too large for ") + (littleEndianRaw_ ? "a WAV" : "an AIFF") + " file.");
    }

    sf_count_t written = 0;
    if (blockFormat_.sampleType == SampleType::int16) {
        written = sf_writef_short(file_.get(), static_cast<const short*>(block.data()), frames);
    } else if (bytesPerFileSample_ == 3) {
        if (littleEndianRaw_) {
            writeInt24(static_cast<const float*>(block.data()), frames);
        } else {
            writeInt24AsInt(static_cast<const float*>(block.data()), frames);
        }
        written = frames;
    } else {
        written = sf_writef_float(file_.get(), static_cast<const float*>(block.data()), frames);
    }
    if (written != frames) throw sndfileError(file_.get());
    dataBytes_ += bytes;
}

void AudioFileWriter::writeInt24(const float* samples, std::int64_t frames)
{
    // libsndfile's own float-to-24-bit path either wraps values past full scale round to the
    // opposite extreme or, with clipping on, truncates; both are audible faults. So the samples
    // are rounded and clipped here and handed over as the file's own little-endian bytes.
    const std::size_t channels = blockFormat_.channelCount;
    const std::size_t framesPerChunk = int24ChunkFrames(channels);
    std::int64_t done = 0;
    while (done < frames) {
        const auto chunk = static_cast<std::int64_t>(std::min<std::size_t>(framesPerChunk, frames - done));
        const std::size_t count = static_cast<std::size_t>(chunk) * channels;
        packInt24(samples + done * channels, count, conversion_.data());
        const auto bytes = static_cast<sf_count_t>(count * 3);
        if (sf_write_raw(file_.get(), conversion_.data(), bytes) != bytes) {
            throw sndfileError(file_.get());
        }
        done += chunk;
    }
}

// The same steps as whole ints with the 24 bits at the top, which libsndfile stores exactly in the
// type's own byte order (and FLAC encodes losslessly).
void AudioFileWriter::writeInt24AsInt(const float* samples, std::int64_t frames)
{
    const std::size_t channels = blockFormat_.channelCount;
    const std::size_t framesPerChunk = int24ChunkFrames(channels);
    for (std::int64_t done = 0; done < frames;) {
        const auto chunk = static_cast<std::int64_t>(std::min<std::size_t>(framesPerChunk, frames - done));
        const float* from = samples + done * channels;
        const std::size_t count = static_cast<std::size_t>(chunk) * channels;
        for (std::size_t i = 0; i < count; ++i) wideConversion_[i] = static_cast<int>(toInt24(from[i]) * 256);
        if (sf_writef_int(file_.get(), wideConversion_.data(), chunk) != chunk) throw sndfileError(file_.get());
        done += chunk;
    }
}

void AudioFileWriter::close(const LevelFigures* loudness)
{
    if (!file_) return;
    // sf_close does not report a failed final header write; writing it now shows the error.
    sf_command(file_.get(), SFC_UPDATE_HEADER_NOW, nullptr, 0);
    const int pending = sf_error(file_.get());
    const std::string pendingText = pending != SF_ERR_NO_ERROR ? sndfileError(file_.get()).what() : "";
    const int closed = sf_close(file_.release());
    struct stat status { };
    const bool regular = ::fstat(descriptor_.get(), &status) == 0 && S_ISREG(status.st_mode);
    const int maskErrno = extensible_ && regular && pending == SF_ERR_NO_ERROR && closed == 0
        ? storeChannelMask(descriptor_.get(), channelMask_)
        : 0;
    const int padErrno = regular && pending == SF_ERR_NO_ERROR && closed == 0 && maskErrno == 0
        ? renamePadChunks(descriptor_.get())
        : 0;
    const int bextErrno = loudness != nullptr && regular && pending == SF_ERR_NO_ERROR && closed == 0
        ? storeBextLoudness(descriptor_.get(), *loudness)
        : 0;
    const int closeErrno = descriptor_.closeChecked();
    if (pending != SF_ERR_NO_ERROR) throw AudioFileError(pendingText);
    if (closed != 0) throw AudioFileError(sf_error_number(closed));
    if (maskErrno != 0) throw systemError(maskErrno);
    if (padErrno != 0) throw systemError(padErrno);
    if (bextErrno != 0) throw systemError(bextErrno);
    if (closeErrno != 0) throw systemError(closeErrno);
}

} // namespace fennick
