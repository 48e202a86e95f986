#pragma once

#include "AudioBlock.h"
#include "AudioFormat.h"
#include "FileDescriptor.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

typedef struct sf_private_tag SNDFILE;

namespace fennick {

struct SndfileCloser {
    void operator()(SNDFILE* file) const noexcept;
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

// An audio file opened for reading; reads deliver interleaved 32-bit float, full scale ±1.0.
// Only regular files are opened, so a FIFO or a device can never make a read hang.
class AudioFileReader {
public:
    // Throws AudioFileError with the system's or libsndfile's text.
    explicit AudioFileReader(const std::filesystem::path& path);

    // The file's own rate and channel count.
    const AudioFormat& fileFormat() const { return fileFormat_; }
    // What reads deliver: interleaved float32 at the file's rate and channel count.
    AudioFormat processingFormat() const { return {CommonFormat::float32, fileFormat_.sampleRate, fileFormat_.channelCount}; }
    std::int64_t length() const { return length_; }
    std::int64_t framePosition() const { return position_; }

    // Reads up to the block's capacity from the current position, sets the block's frame
    // length to the frames read (0 at the end) and advances the position. The block must be
    // in the processing format. Throws AudioFileError when the file cannot be read.
    void read(AudioBlock& block);

    // Bits per sample and kind, e.g. "24-bit integer" or "32-bit float"; encodings that are
    // not plain PCM are named as libsndfile names them.
    std::string sampleFormatDescription() const;

    void close();

private:
    std::int64_t readInt24(float* samples, std::int64_t frames);

    FileDescriptor descriptor_;
    SndfilePtr file_;
    AudioFormat fileFormat_;
    int sndfileFormat_ = 0;
    std::int64_t length_ = 0;
    std::int64_t position_ = 0;
    std::vector<unsigned char> int24Staging_; // raw 24-bit bytes, when this reader unpacks them itself
};

} // namespace fennick
