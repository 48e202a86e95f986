#include "AudioFileReader.h"

#include "AudioFileError.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace fennick {

void SndfileCloser::operator()(SNDFILE* file) const noexcept { sf_close(file); }

AudioFileReader::AudioFileReader(const std::filesystem::path& path)
{
    // O_NONBLOCK keeps open() from waiting on a FIFO; regular files ignore it.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) throw AudioFileError::fromErrno(errno);
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) throw AudioFileError::fromErrno(errno);
    if (S_ISDIR(status.st_mode)) throw AudioFileError::fromErrno(EISDIR);
    if (!S_ISREG(status.st_mode)) throw AudioFileError("Not a regular file.");
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);

    SF_INFO info{};
    // The descriptor stays ours (SF_FALSE), so it is closed exactly once, after libsndfile.
    SndfilePtr file(sf_open_fd(fd.get(), SFM_READ, &info, SF_FALSE));
    if (!file) throw AudioFileError::fromSndfile(nullptr);
    if (info.channels < 1) throw AudioFileError("The file has no audio channels.");
    if (info.frames < 0) throw AudioFileError("The file reports a negative length.");

    descriptor_ = std::move(fd);
    file_ = std::move(file);
    fileFormat_ = {CommonFormat::float32, static_cast<double>(info.samplerate), static_cast<std::uint32_t>(info.channels)};
    sndfileFormat_ = info.format;
    length_ = info.frames;
}

void AudioFileReader::read(AudioBlock& block)
{
    float* samples = block.floatChannelData();
    if (!file_ || samples == nullptr || block.format().channelCount != fileFormat_.channelCount) {
        throw AudioFileError("The block does not match the file's processing format.");
    }
    const sf_count_t wanted = std::min<sf_count_t>(block.frameCapacity(), std::max<sf_count_t>(length_ - position_, 0));
    const sf_count_t got = wanted > 0 ? sf_readf_float(file_.get(), samples, wanted) : 0;
    if (got < wanted && sf_error(file_.get()) != SF_ERR_NO_ERROR) throw AudioFileError::fromSndfile(file_.get());
    block.setFrameLength(static_cast<std::uint32_t>(got));
    position_ += got;
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

void AudioFileReader::close()
{
    file_.reset();
    descriptor_.closeChecked();
}

} // namespace fennick
