#include "FlacComments.h"

#include "FennickEngine.h"

#include <FLAC/metadata.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fennick {

namespace {

// libFLAC reads through these from a position of our own, so that the descriptor's offset, which
// libsndfile relies on, is never moved.
struct Source {
    int fd;
    FLAC__int64 position = 0;
    bool atEnd = false;
};

std::size_t readBytes(void* ptr, std::size_t size, std::size_t count, FLAC__IOHandle handle)
{
    auto& source = *static_cast<Source*>(handle);
    if (size == 0 || count == 0) return 0;
    std::size_t done = 0;
    const std::size_t wanted = size * count;
    while (done < wanted) {
        const ssize_t got = ::pread(source.fd, static_cast<char*>(ptr) + done, wanted - done, source.position);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            source.atEnd = got == 0;
            break;
        }
        done += static_cast<std::size_t>(got);
        source.position += got;
    }
    return done / size;
}

int seekTo(FLAC__IOHandle handle, FLAC__int64 offset, int whence)
{
    auto& source = *static_cast<Source*>(handle);
    FLAC__int64 base = 0;
    if (whence == SEEK_CUR) base = source.position;
    if (whence == SEEK_END) {
        const off_t end = ::lseek(source.fd, 0, SEEK_END);
        if (end < 0) return -1;
        base = end;
    }
    if (base + offset < 0) return -1;
    source.position = base + offset;
    source.atEnd = false;
    return 0;
}

FLAC__int64 tellPosition(FLAC__IOHandle handle) { return static_cast<Source*>(handle)->position; }

int atEnd(FLAC__IOHandle handle) { return static_cast<Source*>(handle)->atEnd; }

struct ChainDeleter {
    void operator()(FLAC__Metadata_Chain* chain) const { FLAC__metadata_chain_delete(chain); }
};
struct IteratorDeleter {
    void operator()(FLAC__Metadata_Iterator* iterator) const { FLAC__metadata_iterator_delete(iterator); }
};

} // namespace

std::vector<std::pair<std::string, std::string>> readFlacComments(int fd)
{
    std::vector<std::pair<std::string, std::string>> comments;
    // The lseek for SEEK_END must not disturb the reader: it is undone below.
    const off_t kept = ::lseek(fd, 0, SEEK_CUR);
    std::unique_ptr<FLAC__Metadata_Chain, ChainDeleter> chain(FLAC__metadata_chain_new());
    std::unique_ptr<FLAC__Metadata_Iterator, IteratorDeleter> iterator(FLAC__metadata_iterator_new());
    Source source{fd};
    const FLAC__IOCallbacks callbacks{readBytes, nullptr, seekTo, tellPosition, atEnd, nullptr};
    if (chain && iterator && FLAC__metadata_chain_read_with_callbacks(chain.get(), &source, callbacks)) {
        FLAC__metadata_iterator_init(iterator.get(), chain.get());
        do {
            const FLAC__StreamMetadata* block = FLAC__metadata_iterator_get_block(iterator.get());
            if (block == nullptr || block->type != FLAC__METADATA_TYPE_VORBIS_COMMENT) continue;
            const auto& vorbis = block->data.vorbis_comment;
            for (FLAC__uint32 i = 0; i < vorbis.num_comments; ++i) {
                const auto& entry = vorbis.comments[i];
                const std::string text(reinterpret_cast<const char*>(entry.entry), entry.length);
                const std::size_t equals = text.find('=');
                if (equals == std::string::npos || equals == 0) continue;
                std::string name = text.substr(0, equals);
                std::transform(name.begin(), name.end(), name.begin(),
                    [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
                comments.emplace_back(std::move(name), text.substr(equals + 1));
            }
            break;
        } while (FLAC__metadata_iterator_next(iterator.get()));
    }
    if (kept >= 0) ::lseek(fd, kept, SEEK_SET);
    return comments;
}

void writeFlacComments(
    const std::filesystem::path& path, const std::vector<std::pair<std::string, std::string>>& comments)
{
    std::unique_ptr<FLAC__Metadata_Chain, ChainDeleter> chain(FLAC__metadata_chain_new());
    std::unique_ptr<FLAC__Metadata_Iterator, IteratorDeleter> iterator(FLAC__metadata_iterator_new());
    const auto fail = [&](const char* what) {
        const char* reason = chain ? FLAC__Metadata_ChainStatusString[FLAC__metadata_chain_status(chain.get())] : "";
        throw AudioFileError(std::string("Could not ") + what + " the FLAC comments: " + reason);
    };
    if (!chain || !iterator || !FLAC__metadata_chain_read(chain.get(), path.c_str())) fail("read");
    FLAC__metadata_iterator_init(iterator.get(), chain.get());
    FLAC__StreamMetadata* block = nullptr;
    do {
        FLAC__StreamMetadata* each = FLAC__metadata_iterator_get_block(iterator.get());
        if (each != nullptr && each->type == FLAC__METADATA_TYPE_VORBIS_COMMENT) block = each;
    } while (block == nullptr && FLAC__metadata_iterator_next(iterator.get()));
    if (block == nullptr) {
        block = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
        if (block == nullptr || !FLAC__metadata_iterator_insert_block_after(iterator.get(), block)) {
            if (block != nullptr) FLAC__metadata_object_delete(block);
            fail("add");
        }
    }
    FLAC__metadata_object_vorbiscomment_resize_comments(block, 0);
    for (const auto& [name, value] : comments) {
        FLAC__StreamMetadata_VorbisComment_Entry entry{};
        if (!FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name.c_str(), value.c_str())
            || !FLAC__metadata_object_vorbiscomment_append_comment(block, entry, /*copy=*/false)) {
            std::free(entry.entry);
            fail("set");
        }
    }
    FLAC__metadata_chain_sort_padding(chain.get());
    // Stats kept: the temporary file's mode and owner are the destination's.
    if (!FLAC__metadata_chain_write(chain.get(), /*use_padding=*/true, /*preserve_file_stats=*/true)) fail("write");
}

} // namespace fennick
