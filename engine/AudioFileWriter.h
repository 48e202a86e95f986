#pragma once

#include "AudioBlock.h"
#include "FileDescriptor.h"
#include "Sndfile.h"

#include <cstdint>
#include <vector>

namespace fennick {

// A WAV file opened for writing: interleaved little-endian 16- or 24-bit PCM or 32-bit float.
// Blocks in the block format (int16 samples for 16-bit output, floats otherwise) are appended as
// they come; 24-bit output is rounded to the nearest step (ties to even) and clipped to full scale.
//
// A plain WAV cannot describe 4 GiB of data; when `expectedFrames` says the output may reach that,
// the file is written as RF64 instead (turned back into a WAV at close if it stays small).
class AudioFileWriter {
public:
    // Writes into `file` (a new file, or a device). `sampleRate` must be a whole number of hertz.
    // Throws AudioFileError.
    AudioFileWriter(FileDescriptor file, double sampleRate, std::uint32_t channelCount, OutputFormat format,
        std::int64_t expectedFrames = 0);

    AudioFormat blockFormat() const { return blockFormat_; }

    // Appends the block's frameLength() frames. Throws AudioFileError.
    void write(const AudioBlock& block);

    // Completes the file. Throws AudioFileError when the header or the data cannot be stored;
    // the file is closed either way.
    void close();

    // For setting the file's metadata, before the first write.
    SNDFILE* sndfile() const { return file_.get(); }

private:
    void writeInt24(const float* samples, std::int64_t frames);

    FileDescriptor descriptor_;
    SndfilePtr file_;
    AudioFormat blockFormat_;
    int bytesPerFileSample_ = 2;
    bool rf64_ = false;
    std::uint64_t dataBytes_ = 0;
    std::vector<unsigned char> conversion_; // 24-bit staging, a fixed small size
};

} // namespace fennick
