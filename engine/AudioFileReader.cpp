#include "AudioFileReader.h"

#include "FlacComments.h"
#include "Metadata.h"
#include "WiderVectors.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <limits>
#include <string_view>
#include <sys/stat.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define FENNICK_AVX2_PATHS 1
#endif

namespace fennick {

namespace {

constexpr std::size_t kInt24StagingSamples = 32768;

// Whole frames per 24-bit chunk, at least one.
std::size_t int24ChunkFrames(std::size_t channels) { return std::max<std::size_t>(1, kInt24StagingSamples / channels); }

// Little-endian 24-bit PCM in a RIFF-family file on a little-endian machine: raw bytes that
// readInt24 can unpack itself.
bool holdsLittleEndianInt24(SNDFILE* file, const SF_INFO& info)
{
    const int container = info.format & SF_FORMAT_TYPEMASK;
    const bool riff = container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_RF64
        || container == SF_FORMAT_W64;
    return std::endian::native == std::endian::little && riff && (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24
        && (info.format & SF_FORMAT_ENDMASK) != SF_ENDIAN_BIG
        && sf_command(file, SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0) == SF_FALSE;
}

// libsndfile's own conversion, to the bit: the three bytes become the top of an int, which is
// then scaled by 2^-31 (exact in float). Reads one byte past the sample; the shift drops it.
inline std::int32_t loadInt24(const unsigned char* in)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, in, 4);
    return static_cast<std::int32_t>(bits << 8);
}

#if FENNICK_AVX2_PATHS
// The byte shuffle that puts the 24-bit samples at `offsets` of a 16-byte row into the top three
// bytes of 32-bit lanes from `firstLane` on, the other lanes zero; the same in both halves.
[[gnu::target("avx2")]] __m256i int24Shuffle(std::size_t firstLane, std::initializer_list<std::size_t> offsets)
{
    alignas(32) char bytes[32];
    std::fill(bytes, bytes + 32, static_cast<char>(0x80)); // pshufb's zero
    std::size_t lane = firstLane;
    for (const std::size_t offset : offsets) {
        for (std::size_t k = 0; k < 3; ++k) {
            bytes[4 * lane + 1 + k] = bytes[16 + 4 * lane + 1 + k] = static_cast<char>(offset + k);
        }
        ++lane;
    }
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes));
}

// Two 16-byte rows as one register.
[[gnu::target("avx2")]] inline __m256i rows(const unsigned char* low, const unsigned char* high)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

// As static_cast<float>(sample) * 2^-31 for eight samples: both exact, so to the bit the same.
[[gnu::target("avx2")]] inline void storeInt24Floats(float* out, __m256i samples)
{
    _mm256_storeu_ps(out, _mm256_mul_ps(_mm256_cvtepi32_ps(samples), _mm256_set1_ps(1.0f / 2147483648.0f)));
}

// The leading samples of unpackInt24, eight at a time, four from each 16-byte row: how many it did.
[[gnu::target("avx2")]] std::size_t unpackInt24Avx2(const unsigned char* in, std::size_t count, float* out)
{
    const __m256i shuffle = int24Shuffle(0, {0, 3, 6, 9});
    std::size_t i = 0;
    for (; i + 9 <= count; i += 8) // the second row ends 4 bytes past its samples
        storeInt24Floats(out + i, _mm256_shuffle_epi8(rows(in + 3 * i, in + 3 * i + 12), shuffle));
    return i;
}

// The leading frames of one channel of frames `stride` bytes apart (at most 12, so that a row holds
// two frames' samples) whose rows may be read while frames < `readable`, eight frames a step.
[[gnu::target("avx2")]] std::size_t unpackOneChannelAvx2(
    const unsigned char* in, std::size_t frames, std::size_t stride, std::size_t readable, float* out)
{
    const __m256i toFirst = int24Shuffle(0, {0, stride}), toSecond = int24Shuffle(2, {0, stride});
    const std::size_t end = std::min(frames, readable + 1); // the last step's last row is at f + 6
    std::size_t f = 0;
    for (; f + 8 <= end; f += 8) {
        const unsigned char* const at = in + f * stride;
        const __m256i first = _mm256_shuffle_epi8(rows(at, at + 4 * stride), toFirst);
        const __m256i second = _mm256_shuffle_epi8(rows(at + 2 * stride, at + 6 * stride), toSecond);
        storeInt24Floats(out + f, _mm256_or_si256(first, second));
    }
    return f;
}
#endif

// Unpacks `count` samples; `in` has one byte more than 3 × count.
void unpackInt24(const unsigned char* in, std::size_t count, float* out)
{
    constexpr float kScale = 1.0f / 2147483648.0f;
    constexpr std::size_t kGroup = 8; // loads first, then a conversion loop that vectorises
#if FENNICK_AVX2_PATHS
    if (widerVectors()) {
        const std::size_t done = unpackInt24Avx2(in, count, out);
        in += 3 * done, out += done, count -= done;
    }
#endif
    const float* const end = out + count;
    for (; end - out >= static_cast<std::ptrdiff_t>(kGroup); out += kGroup, in += 3 * kGroup) {
        std::int32_t group[kGroup];
        for (std::size_t k = 0; k < kGroup; ++k) group[k] = loadInt24(in + 3 * k);
        for (std::size_t k = 0; k < kGroup; ++k) out[k] = static_cast<float>(group[k]) * kScale;
    }
    for (; out < end; ++out, in += 3) *out = static_cast<float>(loadInt24(in)) * kScale;
}

#if defined(__SSE2__)
// loadInt24 of the two samples in the first 6 of `bytes`' bytes, in the two low lanes.
inline __m128i int24Pair(__m128i bytes) { return _mm_unpacklo_epi32(bytes, _mm_srli_si128(bytes, 3)); }

// loadInt24 of the four samples at `in`, which has 16 bytes.
inline __m128i int24Four(const unsigned char* in)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    return _mm_slli_epi32(_mm_unpacklo_epi64(int24Pair(bytes), int24Pair(_mm_srli_si128(bytes, 6))), 8);
}

// loadInt24 of the three samples at `in`, which has 16 bytes; the fourth lane is not a sample.
inline __m128i int24Three(const unsigned char* in)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    return _mm_slli_epi32(_mm_unpacklo_epi64(int24Pair(bytes), _mm_srli_si128(bytes, 6)), 8);
}

// As static_cast<float>(sample) * 2^-31: both exact, so to the bit the same.
inline void storeInt24Floats(float* out, __m128i samples)
{
    _mm_storeu_ps(out, _mm_mul_ps(_mm_cvtepi32_ps(samples), _mm_set1_ps(1.0f / 2147483648.0f)));
}
#endif

// Not-a-number and infinite samples (exponent all ones) become 0: libsoxr would spread one over the
// whole filter length, and the writer would make full scale of it. Counted, for the report.
// Works on the bits, in groups of a fixed size and with 32-bit counts per run, so that it vectorises.
inline std::uint32_t silenceIfNonFinite(float* sample)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, sample, 4);
    const std::uint32_t bad = (bits & 0x7F800000u) == 0x7F800000u;
    bits &= bad - 1u; // all ones keeps the sample, zero makes it +0.0
    std::memcpy(sample, &bits, 4);
    return bad;
}

std::uint64_t silenceNonFinite(float* samples, std::size_t count)
{
    constexpr std::size_t kGroup = 8, kRun = std::size_t{1} << 20;
    std::uint64_t found = 0;
    std::size_t i = 0;
    while (count - i >= kGroup) {
        const std::size_t end = i + std::min(kRun, (count - i) / kGroup * kGroup);
        std::uint32_t inRun = 0;
        for (; i < end; i += kGroup) {
            for (std::size_t k = 0; k < kGroup; ++k) inRun += silenceIfNonFinite(samples + i + k);
        }
        found += inRun;
    }
    for (; i < count; ++i) found += silenceIfNonFinite(samples + i);
    return found;
}

} // namespace

AudioFileReader::AudioFileReader(const std::filesystem::path& path)
{
    // O_NONBLOCK keeps open() from waiting on a FIFO; regular files ignore it.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) throw systemError(errno);
    struct stat status { };
    if (::fstat(fd.get(), &status) != 0) throw systemError(errno);
    if (S_ISDIR(status.st_mode)) throw systemError(EISDIR);
    if (!S_ISREG(status.st_mode)) throw AudioFileError("Not a regular file.");
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);

    // libsndfile takes an unwritten data size for no audio, and shortens one that runs past the end.
    const std::optional<DataChunk> chunk = findDataChunk(fd.get(), status.st_size);
    const bool unfinished = chunk && chunk->unfinished() && chunk->offset < status.st_size;
    std::unique_ptr<MendedSizeView> view;
    SF_INFO info{};
    SndfilePtr file;
    if (unfinished) {
        view = std::make_unique<MendedSizeView>(fd.get(), status.st_size, *chunk);
        file = view->open(info);
    } else {
        file = openSndfile(fd.get(), SFM_READ, info);
    }
    if (!file) {
        // libsndfile words a header without a usable rate or channel count as its own internal error.
        if (std::string_view(sf_strerror(nullptr)).find("SF_INFO struct incomplete") != std::string_view::npos) {
            throw AudioFileError("The file's header gives no valid sample rate or channel count.");
        }
        throw sndfileError(nullptr);
    }
    if (info.channels < 1) throw AudioFileError("The file has no audio channels.");
    if (info.frames < 0) throw AudioFileError("The file reports a negative length.");

    descriptor_ = std::move(fd);
    mendedView_ = std::move(view);
    file_ = std::move(file);
    sampleRate_ = info.samplerate;
    channelCount_ = static_cast<std::uint32_t>(info.channels);
    sndfileFormat_ = info.format;
    frames_ = info.frames;
    statedFrames_ = info.frames;
    unfinishedHeader_ = unfinished;
    if (chunk && !unfinished && chunk->blockAlign > 0) {
        statedFrames_ = std::max<std::int64_t>(frames_,
            static_cast<std::int64_t>(std::min<std::uint64_t>(
                chunk->statedBytes / chunk->blockAlign, std::numeric_limits<std::int64_t>::max())));
    }
    const int encoding = info.format & SF_FORMAT_SUBMASK;
    floatSource_ = encoding == SF_FORMAT_FLOAT || encoding == SF_FORMAT_DOUBLE;
    if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC) flacComments_ = readFlacComments(descriptor_.get());
    channelLayout_ = readChannelLayout(file_.get(), info.channels, flacComments_);
    if (holdsLittleEndianInt24(file_.get(), info)) {
        int24Staging_.resize(int24ChunkFrames(channelCount_) * 3 * channelCount_ + 1);
    }
}

void AudioFileReader::read(AudioBlock& block)
{
    float* samples = block.floatSamples();
    if (!file_ || samples == nullptr || block.format().channelCount != channelCount_) {
        throw AudioFileError("The block does not match the file's block format.");
    }
    const sf_count_t wanted = std::min<sf_count_t>(block.frameCapacity(), std::max<sf_count_t>(frames_ - position_, 0));
    sf_count_t got = 0;
    if (wanted > 0)
        got = int24Staging_.empty() ? sf_readf_float(file_.get(), samples, wanted) : readInt24(samples, wanted);
    if (got < wanted && sf_error(file_.get()) != SF_ERR_NO_ERROR) throw sndfileError(file_.get());
    if (floatSource_ && got > 0) nonFiniteSamples_ += silenceNonFinite(samples, std::size_t(got) * channelCount_);
    block.setFrameLength(static_cast<std::uint32_t>(got));
    position_ += got;
}

// libsndfile converts 24-bit PCM to float through an 8 KiB buffer, one read(2) per fill, at
// several times the cost of this loop; its raw read hands over the same bytes in large steps.
std::int64_t AudioFileReader::readInt24(float* samples, std::int64_t frames)
{
    const std::size_t channels = channelCount_;
    const auto bytesPerFrame = static_cast<sf_count_t>(3 * channels);
    const auto framesPerChunk = static_cast<std::int64_t>(int24ChunkFrames(channels));
    std::int64_t done = 0;
    while (done < frames) {
        const std::int64_t wanted = std::min(framesPerChunk, frames - done);
        const sf_count_t bytes = sf_read_raw(file_.get(), int24Staging_.data(), wanted * bytesPerFrame);
        const std::int64_t got = std::max<sf_count_t>(bytes, 0) / bytesPerFrame;
        unpackInt24(int24Staging_.data(), static_cast<std::size_t>(got) * channels, samples + done * channels);
        done += got;
        if (got < wanted) break;
    }
    return done;
}

std::uint32_t AudioFileReader::readPacked(unsigned char* bytes, std::uint32_t capacity)
{
    if (!file_ || !packsInt24()) throw AudioFileError("The file's samples are not packed 24-bit integers.");
    const sf_count_t wanted = std::min<sf_count_t>(capacity, std::max<sf_count_t>(frames_ - position_, 0));
    const auto bytesPerFrame = static_cast<sf_count_t>(3 * channelCount_);
    sf_count_t got = 0;
    if (wanted > 0)
        got = std::max<sf_count_t>(sf_read_raw(file_.get(), bytes, wanted * bytesPerFrame), 0) / bytesPerFrame;
    if (got < wanted && sf_error(file_.get()) != SF_ERR_NO_ERROR) throw sndfileError(file_.get());
    position_ += got;
    return static_cast<std::uint32_t>(got);
}

void unpackInt24Channels(
    const unsigned char* in, std::size_t frames, unsigned allChannels, unsigned first, unsigned count, float* out)
{
    if (count == allChannels) return unpackInt24(in, frames * count, out);
    constexpr float kScale = 1.0f / 2147483648.0f;
    const std::size_t stride = 3 * std::size_t{allChannels};
    std::size_t f = 0;
#if defined(__SSE2__)
    // The leading frames whose group can be read `bytes` at a time from its first sample without
    // passing the byte after the block's last sample.
    const auto framesReading = [&](std::size_t bytes) -> std::size_t {
        const std::size_t available = frames * stride + 1, needed = 3 * std::size_t{first} + bytes;
        return available < needed ? 0 : std::min(frames, (available - needed) / stride + 1);
    };
    const unsigned char* const groupBytes = in + 3 * std::size_t{first};
#if FENNICK_AVX2_PATHS
    if (count == 1 && allChannels <= 4 && widerVectors())
        f = unpackOneChannelAvx2(groupBytes, frames, stride, framesReading(16), out);
#endif
    if (count == 2) { // two frames' pairs a step
        for (const std::size_t end = framesReading(8); f + 2 <= end; f += 2) {
            const auto pair = [&](std::size_t frame) {
                return int24Pair(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(groupBytes + frame * stride)));
            };
            storeInt24Floats(out + 2 * f, _mm_slli_epi32(_mm_unpacklo_epi64(pair(f), pair(f + 1)), 8));
        }
    } else if (count == 3) { // four samples a frame, the fourth overwritten by the next frame's
        for (const std::size_t end = std::min(framesReading(16), frames - 1); f < end; ++f)
            storeInt24Floats(out + 3 * f, int24Three(groupBytes + f * stride));
    } else if (count >= 4) { // four at a time, the frame's last four overlapping the ones before
        for (const std::size_t end = framesReading(3 * std::size_t{count} + 4); f < end; ++f) {
            const unsigned char* const from = groupBytes + f * stride;
            float* const to = out + f * count;
            for (unsigned c = 0; c + 4 < count; c += 4) storeInt24Floats(to + c, int24Four(from + 3 * c));
            storeInt24Floats(to + count - 4, int24Four(from + 3 * (count - 4)));
        }
    }
#endif
    in += 3 * std::size_t{first} + f * stride;
    out += f * count;
    if (count == 1) {
        // One channel of several, the most common group: as unpackInt24, loads first, then a
        // conversion loop that vectorises.
        constexpr std::size_t kGroup = 8;
        for (; frames - f >= kGroup; f += kGroup, in += kGroup * stride, out += kGroup) {
            std::int32_t group[kGroup];
            for (std::size_t k = 0; k < kGroup; ++k) group[k] = loadInt24(in + k * stride);
            for (std::size_t k = 0; k < kGroup; ++k) out[k] = static_cast<float>(group[k]) * kScale;
        }
    }
    for (; f < frames; ++f, in += stride, out += count) {
        for (unsigned c = 0; c < count; ++c) out[c] = static_cast<float>(loadInt24(in + 3 * c)) * kScale;
    }
}

std::string AudioFileReader::sampleFormatDescription() const
{
    switch (sndfileFormat_ & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: return "8-bit integer";
    case SF_FORMAT_PCM_16: return "16-bit integer";
    case SF_FORMAT_PCM_24: return "24-bit integer";
    case SF_FORMAT_PCM_32: return "32-bit integer";
    case SF_FORMAT_FLOAT: return "32-bit float";
    case SF_FORMAT_DOUBLE: return "64-bit float";
    default: break;
    }
    SF_FORMAT_INFO info{};
    info.format = sndfileFormat_ & SF_FORMAT_SUBMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr) return info.name;
    return "Unknown encoding";
}

SourceDamage AudioFileReader::damage() const
{
    return {
        sampleRate_, unfinishedHeader_ ? position_ : statedFrames_, position_, unfinishedHeader_, nonFiniteSamples_};
}

SourceFileInfo readSourceFileInfo(const std::filesystem::path& path)
{
    AudioFileReader reader(path);
    SourceDamage damage = reader.damage();
    damage.framesRead = reader.frames(); // what a conversion will find
    if (damage.unfinishedHeader) damage.framesStated = reader.frames();
    const SourceMetadata metadata = readMetadata(reader.sndfile(), reader.flacComments());
    SourceFileInfo info{reader.sampleRate(), reader.channelCount(), reader.frames(), reader.sampleFormatDescription(),
        metadataSummary(metadata), damageWarning(damage).value_or(""),
        contentsOf(metadata, reader.channelLayout(), reader.channelCount()),
        channelLayoutName(reader.channelLayout(), static_cast<int>(reader.channelCount()))};
    reader.close();
    return info;
}

void AudioFileReader::close()
{
    file_.reset();
    descriptor_.closeChecked();
}

} // namespace fennick
