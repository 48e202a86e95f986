#pragma once

#include "AudioBlock.h"
#include "AudioFileReader.h"
#include "AudioFormat.h"
#include "FileDescriptor.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace fennick {

// What the destination file is to hold: interleaved, little-endian linear PCM.
struct WriterSettings {
    static constexpr std::uint32_t kLinearPCM = 0x6C70636D; // 'lpcm'

    std::uint32_t formatID = kLinearPCM;
    double sampleRate = 0;
    std::uint32_t numberOfChannels = 0;
    int bitDepth = 16; // 16, 24 or 32 (32 only as float)
    bool isFloat = false;
    bool isBigEndian = false;
    bool isNonInterleaved = false;
};

// A WAV file opened for writing. Blocks in the processing format are appended as they come.
// 24-bit output is rounded to the nearest step (ties to even) and clipped to full scale.
//
// A plain WAV cannot describe 4 GiB of data; when `expectedFrames` says the output may reach
// that, the file is written as RF64 instead (turned back into a WAV at close if it stays small).
class AudioFileWriter {
public:
    AudioFileWriter(const std::filesystem::path& path, const WriterSettings& settings, CommonFormat processingFormat,
        std::optional<std::int64_t> expectedFrames = std::nullopt);
    ~AudioFileWriter();

    AudioFormat processingFormat() const { return processingFormat_; }
    bool isRF64() const { return rf64_; }

    // Appends the block's frameLength() frames. Throws AudioFileError.
    void write(const AudioBlock& block);

    // Completes the file. Throws AudioFileError when the header or the data cannot be stored;
    // the file is closed either way.
    void close();

private:
    void writeInt24(const float* samples, std::int64_t frames);

    FileDescriptor descriptor_;
    SndfilePtr file_;
    AudioFormat processingFormat_;
    int bitDepth_ = 16;
    bool rf64_ = false;
    std::uint64_t dataBytes_ = 0;
    std::vector<unsigned char> conversion_; // 24-bit staging, a fixed small size
};

} // namespace fennick
