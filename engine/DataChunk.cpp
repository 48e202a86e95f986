#include "DataChunk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace fennick {

namespace {

// Enough for any real file's chunks before its audio; a file of thousands of tiny chunks is not walked.
constexpr int kMaxChunks = 4096;

bool readAt(int fd, std::int64_t offset, void* to, std::size_t bytes)
{
    auto* out = static_cast<unsigned char*>(to);
    while (bytes > 0) {
        const ssize_t got = ::pread(fd, out, bytes, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        offset += got;
        bytes -= static_cast<std::size_t>(got);
    }
    return true;
}

std::uint64_t littleEndian(const unsigned char* bytes, int count)
{
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

bool is(const unsigned char* id, const char* name) { return std::memcmp(id, name, 4) == 0; }

} // namespace

std::optional<DataChunk> findDataChunk(int fd, std::int64_t fileSize)
{
    unsigned char head[12];
    if (fileSize < 12 || !readAt(fd, 0, head, sizeof head) || !is(head + 8, "WAVE")) return std::nullopt;
    DataChunk chunk;
    chunk.rf64 = is(head, "RF64");
    if (!chunk.rf64 && !is(head, "RIFF")) return std::nullopt;
    std::optional<std::uint64_t> ds64DataSize;
    std::int64_t position = 12;
    for (int n = 0; n < kMaxChunks && position <= fileSize - 8; ++n) {
        unsigned char header[8];
        if (!readAt(fd, position, header, sizeof header)) return std::nullopt;
        const std::uint64_t size = littleEndian(header + 4, 4);
        const std::int64_t body = position + 8;
        if (is(header, "data")) {
            chunk.offset = body;
            chunk.statedBytes = size;
            chunk.sizeFieldOffset = position + 4;
            if (chunk.rf64 && size == 0xFFFFFFFFu && ds64DataSize) {
                chunk.statedBytes = *ds64DataSize;
                chunk.sizeFieldOffset = 12 + 8 + 8; // ds64's data size, after its header and the RIFF size
                chunk.sizeFieldBytes = 8;
            }
            return chunk;
        }
        if (is(header, "ds64") && position == 12 && size >= 16) {
            unsigned char sizes[16];
            if (!readAt(fd, body, sizes, sizeof sizes)) return std::nullopt;
            ds64DataSize = littleEndian(sizes + 8, 8);
        } else if (is(header, "PAD ")) {
            chunk.padChunks.push_back(position);
        } else if (is(header, "fmt ") && size >= 16) {
            unsigned char format[16];
            if (!readAt(fd, body, format, sizeof format)) return std::nullopt;
            const auto tag = littleEndian(format, 2);
            const bool linear = tag == 1 || tag == 3 || tag == 0xFFFE;
            chunk.blockAlign = linear ? static_cast<std::uint32_t>(littleEndian(format + 12, 2)) : 0;
        }
        // Chunks are padded to an even size; one that runs past the end leaves nothing to find.
        if (size + (size & 1) > static_cast<std::uint64_t>(fileSize - body)) return std::nullopt;
        position = body + static_cast<std::int64_t>(size + (size & 1));
    }
    return std::nullopt;
}

int renamePadChunks(int fd)
{
    struct stat status { };
    if (::fstat(fd, &status) != 0) return errno;
    const std::optional<DataChunk> chunk = findDataChunk(fd, status.st_size);
    if (!chunk) return 0;
    for (const std::int64_t at : chunk->padChunks) {
        ssize_t put = 0;
        do put = ::pwrite(fd, "JUNK", 4, static_cast<off_t>(at));
        while (put < 0 && errno == EINTR);
        if (put != 4) return put < 0 ? errno : EIO;
    }
    return 0;
}

MendedSizeView::MendedSizeView(int fd, std::int64_t fileSize, const DataChunk& chunk)
    : fd_(fd), size_(fileSize), patchOffset_(chunk.sizeFieldOffset), patchBytes_(chunk.sizeFieldBytes)
{
    // A plain WAV's size field holds at most 4 GiB - 1; libsndfile reads such a size to the file's end.
    const std::uint64_t present = static_cast<std::uint64_t>(std::max<std::int64_t>(fileSize - chunk.offset, 0));
    const std::uint64_t mended = patchBytes_ == 4 ? std::min<std::uint64_t>(present, 0xFFFFFFFFu) : present;
    for (int i = 0; i < patchBytes_; ++i) patch_[i] = static_cast<unsigned char>(mended >> (8 * i));
    io_.get_filelen = &MendedSizeView::fileLength;
    io_.seek = &MendedSizeView::seek;
    io_.read = &MendedSizeView::read;
    io_.write = &MendedSizeView::write;
    io_.tell = &MendedSizeView::tell;
}

SndfilePtr MendedSizeView::open(SF_INFO& info)
{
    position_ = 0;
    return SndfilePtr(sf_open_virtual(&io_, SFM_READ, &info, this));
}

sf_count_t MendedSizeView::fileLength(void* self) { return static_cast<MendedSizeView*>(self)->size_; }

sf_count_t MendedSizeView::seek(sf_count_t offset, int whence, void* self)
{
    auto& view = *static_cast<MendedSizeView*>(self);
    const std::int64_t base = whence == SEEK_CUR ? view.position_ : whence == SEEK_END ? view.size_ : 0;
    if ((offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset) || base + offset < 0) return -1;
    view.position_ = base + offset;
    return view.position_;
}

sf_count_t MendedSizeView::read(void* to, sf_count_t count, void* self)
{
    auto& view = *static_cast<MendedSizeView*>(self);
    if (count <= 0 || view.position_ >= view.size_) return 0;
    const std::int64_t wanted = std::min<std::int64_t>(count, view.size_ - view.position_);
    auto* out = static_cast<unsigned char*>(to);
    std::int64_t got = 0;
    while (got < wanted) {
        const ssize_t n = ::pread(view.fd_, out + got, static_cast<std::size_t>(wanted - got), view.position_ + got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += n;
    }
    // The mended size, wherever the bytes read overlap it.
    for (int i = 0; i < view.patchBytes_; ++i) {
        const std::int64_t at = view.patchOffset_ + i - view.position_;
        if (at >= 0 && at < got) out[at] = view.patch_[i];
    }
    view.position_ += got;
    return got;
}

sf_count_t MendedSizeView::write(const void*, sf_count_t, void*) { return 0; }

sf_count_t MendedSizeView::tell(void* self) { return static_cast<MendedSizeView*>(self)->position_; }

} // namespace fennick
