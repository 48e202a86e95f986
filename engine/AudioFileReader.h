#pragma once

#include "AudioBlock.h"
#include "ChannelLayout.h"
#include "DataChunk.h"
#include "FileDescriptor.h"
#include "Sndfile.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fennick {

// An audio file opened for reading; reads deliver interleaved 32-bit float, full scale ±1.0.
// Only regular files are opened, so a FIFO or a device can never make a read hang.
class AudioFileReader {
public:
    // Throws AudioFileError with the system's or libsndfile's text.
    explicit AudioFileReader(const std::filesystem::path& path);

    double sampleRate() const { return sampleRate_; }
    std::uint32_t channelCount() const { return channelCount_; }
    // The frames the file holds: as the header states them, or fewer when the file ends sooner; for
    // a WAV whose data size was never written, all those after its header.
    std::int64_t frames() const { return frames_; }
    // As the header states it; for an unfinished header, frames().
    std::int64_t statedFrames() const { return statedFrames_; }
    // The data size was never written (0 or the all-ones placeholder) and audio follows the header.
    bool unfinishedHeader() const { return unfinishedHeader_; }
    // Samples read so far that were NaN or infinite; reads deliver them as 0.
    std::uint64_t nonFiniteSamples() const { return nonFiniteSamples_; }
    // What is wrong with the source so far: its length, and what has been read of it.
    SourceDamage damage() const;
    // The next frame to be read.
    std::int64_t position() const { return position_; }
    // What reads deliver: interleaved float32 at the file's rate and channel count.
    AudioFormat blockFormat() const { return {SampleType::float32, sampleRate_, channelCount_}; }

    // Reads up to the block's capacity from the position, sets the block's frame length to the
    // frames read (0 at the end) and advances the position. Throws AudioFileError when the file
    // cannot be read or the block is not in the block format.
    void read(AudioBlock& block);

    // The bytes a sample (2, 3 or 4) of the little-endian integers that readPacked hands over as the
    // file stores them, for unpackChannels to turn into the floats read() would deliver; 0 when
    // only read() serves.
    unsigned packedSampleBytes() const { return rawBytes_; }
    // Reads up to `capacity` frames from the position as the file stores them (packedSampleBytes()
    // a sample, interleaved) into `bytes`, which must hold one byte more; returns the frames read (0
    // at the end) and advances the position. Throws AudioFileError when the file cannot be read.
    std::uint32_t readPacked(unsigned char* bytes, std::uint32_t capacity);

    // Bits per sample and kind, e.g. "24-bit integer" or "32-bit float"; encodings that are not
    // plain PCM are named as libsndfile names them.
    std::string sampleFormatDescription() const;

    void close();

    // For reading the file's metadata.
    SNDFILE* sndfile() const { return file_.get(); }
    // A FLAC file's Vorbis comments (field name in capitals, value), in order; empty for others.
    const std::vector<std::pair<std::string, std::string>>& flacComments() const { return flacComments_; }
    // Where its channels go, as far as the file says.
    const ChannelLayout& channelLayout() const { return channelLayout_; }

private:
    std::int64_t readRaw(float* samples, std::int64_t frames);

    FileDescriptor descriptor_;
    std::unique_ptr<MendedSizeView> mendedView_; // an unfinished WAV is read through it; outlives file_
    SndfilePtr file_;
    double sampleRate_ = 0;
    std::uint32_t channelCount_ = 0;
    int sndfileFormat_ = 0;
    std::int64_t frames_ = 0;
    std::int64_t statedFrames_ = 0;
    bool unfinishedHeader_ = false;
    bool floatSource_ = false;
    std::uint64_t nonFiniteSamples_ = 0;
    std::int64_t position_ = 0;
    std::vector<std::pair<std::string, std::string>> flacComments_;
    ChannelLayout channelLayout_;
    unsigned rawBytes_ = 0; // bytes a sample, when this reader unpacks the file's integers itself
    std::vector<unsigned char> rawStaging_; // their raw bytes
};

} // namespace fennick
