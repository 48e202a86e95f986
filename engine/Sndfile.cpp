#include "Sndfile.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace fennick {

AudioFileError sndfileError(SNDFILE* file)
{
    std::string text = sf_strerror(file);
    constexpr std::string_view kSystemPrefix = "System error : ";
    if (text.rfind(kSystemPrefix, 0) == 0) {
        // libsndfile words it "System error : <strerror>."; strerror's own text has no full stop.
        text.erase(0, kSystemPrefix.size());
        if (!text.empty() && text.back() == '.') text.pop_back();
    }
    if (text.empty()) text = "Unknown audio file error.";
    return AudioFileError(text);
}

AudioFileError systemError(int error) { return AudioFileError(std::strerror(error)); }

SndfilePtr openSndfile(int fd, int mode, SF_INFO& info)
{
    const int lent = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (lent < 0) throw systemError(errno);
    return SndfilePtr(sf_open_fd(lent, mode, &info, SF_TRUE));
}

} // namespace fennick
