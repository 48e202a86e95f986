#pragma once

// Where a WAV or RF64 file's audio lies and what its header says of its length, read from the
// chunk headers themselves: libsndfile quietly shortens a data size that runs past the end of the
// file, and takes a size of 0 (what a recorder that lost power leaves) for no audio at all.

#include "Sndfile.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace fennick {

struct DataChunk {
    std::int64_t offset = 0; // of the first audio byte
    std::uint64_t statedBytes = 0; // the size the header gives
    std::int64_t sizeFieldOffset = 0; // where that size is stored: the data chunk's, or RF64's ds64
    int sizeFieldBytes = 4; // 4, or 8 in a ds64 chunk
    std::uint32_t blockAlign = 0; // bytes per frame of plain PCM or float; 0 for other encodings
    bool rf64 = false;
    std::vector<std::int64_t> padChunks; // where each "PAD " chunk before the audio starts

    // The size was never written: 0, or the all-ones placeholder of a file still being recorded.
    bool unfinished() const { return statedBytes == 0 || statedBytes == (sizeFieldBytes == 4 ? 0xFFFFFFFFu : ~0ull); }
};

// The data chunk of the RIFF/WAVE or RF64/WAVE file open at `fd`, `fileSize` bytes long; nothing
// for other files or when the chunks before it do not add up. Reads only chunk headers, each
// within the file.
std::optional<DataChunk> findDataChunk(int fd, std::int64_t fileSize);

// Renames the "PAD " chunks before the audio of the WAV or RF64 file at `fd` to "JUNK": libsndfile
// leaves one where it had kept room for a PEAK chunk, and strict readers (scipy's among them) warn
// of a chunk they do not know, where every reader skips JUNK. 0, or the errno of a failed write.
int renamePadChunks(int fd);

// The file at `fd` as libsndfile's virtual I/O, read-only, with the data chunk's size replaced by
// the bytes that follow its header, so that an unfinished file reads to its end. Outlives the
// SNDFILE opened through it.
class MendedSizeView {
public:
    MendedSizeView(int fd, std::int64_t fileSize, const DataChunk& chunk);
    MendedSizeView(const MendedSizeView&) = delete;
    MendedSizeView& operator=(const MendedSizeView&) = delete;

    // Null when libsndfile cannot open it (sndfileError).
    SndfilePtr open(SF_INFO& info);

private:
    static sf_count_t fileLength(void* self);
    static sf_count_t seek(sf_count_t offset, int whence, void* self);
    static sf_count_t read(void* to, sf_count_t count, void* self);
    static sf_count_t write(const void* from, sf_count_t count, void* self);
    static sf_count_t tell(void* self);

    int fd_;
    std::int64_t size_;
    std::int64_t position_ = 0;
    std::int64_t patchOffset_;
    int patchBytes_;
    unsigned char patch_[8] = {};
    SF_VIRTUAL_IO io_{};
};

} // namespace fennick
