#pragma once

#include "AudioBlock.h"
#include "ChannelLayout.h"
#include "FileDescriptor.h"
#include "Sndfile.h"

#include <cstdint>
#include <vector>

namespace fennick {

// An audio file opened for writing: WAV, RF64, W64, AIFF (AIFF-C for float), FLAC or CAF, with
// 16- or 24-bit PCM or 32-bit float samples in the type's own byte order. Blocks in the block
// format (int16 samples for 16-bit output, floats otherwise) are appended as they come; 24-bit
// output is rounded to the nearest step (ties to even) and clipped to full scale, the same for
// every type.
//
// A plain WAV cannot describe 4 GiB of data; when `expectedFrames` says the output may reach that,
// the file is written as RF64 instead (turned back into a WAV at close if it stays small). An RF64
// output is RF64 whatever its size.
//
// CAF holds a known layout in its channel layout chunk; FLAC's is the metadata layer's, W64 holds none.
//
// Output with more than two channels, more than 16 bits or a known layout is WAVE_FORMAT_EXTENSIBLE,
// with the layout's channel mask: for one or two channels without a layout, front centre or front
// left and right; for more, none (0) rather than a guess. 16-bit mono and stereo without a layout
// are plain PCM.
class AudioFileWriter {
public:
    // Writes into `file` (a new file, or a device). `sampleRate` must be a whole number of hertz.
    // Throws AudioFileError.
    AudioFileWriter(FileDescriptor file, double sampleRate, std::uint32_t channelCount, OutputFormat format,
        std::int64_t expectedFrames = 0, ChannelLayout layout = {}, OutputType type = OutputType::wav);

    AudioFormat blockFormat() const { return blockFormat_; }

    // Appends the block's frameLength() frames. Throws AudioFileError.
    void write(const AudioBlock& block);

    // Completes the file. Throws AudioFileError when the header or the data cannot be stored;
    // the file is closed either way.
    // `loudness`: the audio's figures, stored in a bext chunk's loudness fields if there is one.
    void close(const LevelFigures* loudness = nullptr);

    // For setting the file's metadata, before the first write.
    SNDFILE* sndfile() const { return file_.get(); }

private:
    void writeInt24(const float* samples, std::int64_t frames);
    void writeInt24AsInt(const float* samples, std::int64_t frames);

    FileDescriptor descriptor_;
    SndfilePtr file_;
    AudioFormat blockFormat_;
    int bytesPerFileSample_ = 2;
    bool rf64_ = false;
    bool littleEndianRaw_ = true; // 24-bit samples go in as the file's own bytes (the RIFF family)
    std::uint64_t dataLimit_ = 0; // bytes of audio the type can describe; 0 for no limit
    bool extensible_ = false;
    std::uint32_t channelMask_ = 0;
    std::uint64_t dataBytes_ = 0;
    std::vector<unsigned char> conversion_; // 24-bit staging, a fixed small size
    std::vector<int> wideConversion_; // the same as whole ints, for types of another byte order
};

} // namespace fennick
