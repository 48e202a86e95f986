#pragma once

#include <stdexcept>
#include <string>

typedef struct sf_private_tag SNDFILE;

namespace fennick {

// A failure of the file layer; what() is libsndfile's or the system's own text.
class AudioFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;

    // libsndfile's message for `file` (null: the last failed open), without its
    // "System error : " prefix so that system errors read as the system words them.
    static AudioFileError fromSndfile(SNDFILE* file);
    // strerror's text for an errno value.
    static AudioFileError fromErrno(int error);
};

} // namespace fennick
