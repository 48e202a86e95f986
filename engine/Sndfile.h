#pragma once

// The file layer's glue to libsndfile: an owning handle, and AudioFileErrors worded the way the
// system words them.

#include "FennickEngine.h"

#include <sndfile.h>

#include <memory>

namespace fennick {

struct SndfileCloser {
    void operator()(SNDFILE* file) const noexcept { sf_close(file); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

// libsndfile's message for `file` (null: the last failed open), without its "System error : "
// prefix, so that system errors read as strerror words them.
AudioFileError sndfileError(SNDFILE* file);

// strerror's text for an errno value.
AudioFileError systemError(int error);

// Opens `fd` through a duplicate that libsndfile owns and closes: when an open fails it closes the
// descriptor it was given even if told not to (libsndfile 1.2.0), which must never be one of ours.
// `fd` stays ours, to be closed, checked, after the handle. Null when the open fails (sndfileError).
SndfilePtr openSndfile(int fd, int mode, SF_INFO& info);

} // namespace fennick
