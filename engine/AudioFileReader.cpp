#include "AudioFileReader.h"

#include "FlacComments.h"
#include "Metadata.h"
#include "PackedSamples.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <string_view>
#include <sys/stat.h>

namespace fennick {

namespace {

constexpr std::size_t kRawStagingSamples = 32768;

// Whole frames per raw chunk, at least one.
std::size_t rawChunkFrames(std::size_t channels) { return std::max<std::size_t>(1, kRawStagingSamples / channels); }

// The bytes a sample of little-endian 16-, 24- or 32-bit PCM in a RIFF-family file on a
// little-endian machine: raw bytes that readRaw can unpack itself. 0 for any other encoding.
unsigned littleEndianPcmBytes(SNDFILE* file, const SF_INFO& info)
{
    const int container = info.format & SF_FORMAT_TYPEMASK;
    const bool riff = container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_RF64
        || container == SF_FORMAT_W64;
    if (std::endian::native != std::endian::little || !riff || (info.format & SF_FORMAT_ENDMASK) == SF_ENDIAN_BIG
        || sf_command(file, SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0) != SF_FALSE) {
        return 0;
    }
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_16: return 2;
    case SF_FORMAT_PCM_24: return 3;
    case SF_FORMAT_PCM_32: return 4;
    default: return 0;
    }
}

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
    rawBytes_ = littleEndianPcmBytes(file_.get(), info);
    if (rawBytes_ > 0) rawStaging_.resize(rawChunkFrames(channelCount_) * rawBytes_ * channelCount_ + 1);
}

void AudioFileReader::read(AudioBlock& block)
{
    float* samples = block.floatSamples();
    if (!file_ || samples == nullptr || block.format().channelCount != channelCount_) {
        throw AudioFileError("The block does not match the file's block format.");
    }
    const sf_count_t wanted = std::min<sf_count_t>(block.frameCapacity(), std::max<sf_count_t>(frames_ - position_, 0));
    sf_count_t got = 0;
    if (wanted > 0) got = rawBytes_ == 0 ? sf_readf_float(file_.get(), samples, wanted) : readRaw(samples, wanted);
    if (got < wanted && sf_error(file_.get()) != SF_ERR_NO_ERROR) throw sndfileError(file_.get());
    if (floatSource_ && got > 0) nonFiniteSamples_ += silenceNonFinite(samples, std::size_t(got) * channelCount_);
    block.setFrameLength(static_cast<std::uint32_t>(got));
    position_ += got;
}

// libsndfile converts PCM to float through an 8 KiB buffer, one read(2) per fill, at several times
// the cost of this loop; its raw read hands over the same bytes in large steps.
std::int64_t AudioFileReader::readRaw(float* samples, std::int64_t frames)
{
    const unsigned channels = channelCount_;
    const auto bytesPerFrame = static_cast<sf_count_t>(rawBytes_ * channels);
    const auto framesPerChunk = static_cast<std::int64_t>(rawChunkFrames(channels));
    std::int64_t done = 0;
    while (done < frames) {
        const std::int64_t wanted = std::min(framesPerChunk, frames - done);
        const sf_count_t bytes = sf_read_raw(file_.get(), rawStaging_.data(), wanted * bytesPerFrame);
        const std::int64_t got = std::max<sf_count_t>(bytes, 0) / bytesPerFrame;
        unpackChannels(rawBytes_, rawStaging_.data(), static_cast<std::size_t>(got), channels, 0, channels,
            samples + done * channels);
        done += got;
        if (got < wanted) break;
    }
    return done;
}

std::uint32_t AudioFileReader::readPacked(unsigned char* bytes, std::uint32_t capacity)
{
    if (!file_ || rawBytes_ == 0) throw AudioFileError("The file's samples are not packed integers.");
    const sf_count_t wanted = std::min<sf_count_t>(capacity, std::max<sf_count_t>(frames_ - position_, 0));
    const auto bytesPerFrame = static_cast<sf_count_t>(rawBytes_ * channelCount_);
    sf_count_t got = 0;
    if (wanted > 0)
        got = std::max<sf_count_t>(sf_read_raw(file_.get(), bytes, wanted * bytesPerFrame), 0) / bytesPerFrame;
    if (got < wanted && sf_error(file_.get()) != SF_ERR_NO_ERROR) throw sndfileError(file_.get());
    position_ += got;
    return static_cast<std::uint32_t>(got);
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
