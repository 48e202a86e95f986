#pragma once

// What a source says about its audio besides the samples (Broadcast WAV's bext, iXML, strings,
// cue points with their labels, sampler loops, cart), read with strict bounds and written into a
// new file with every sample position rescaled to its rate.

#include "ChannelLayout.h"
#include "FennickEngine.h"

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fennick {

// round(position × to / from), exact for any position and whole-hertz rates; saturates instead of
// wrapping for a hostile 64-bit value.
std::uint64_t rescalePosition(std::uint64_t position, std::int64_t from, std::int64_t to);

struct CuePoint {
    std::uint32_t id = 0;
    std::uint32_t position = 0; // in play order
    std::uint32_t chunk = 0, chunkStart = 0, blockStart = 0; // the fourcc and offsets, kept as they are
    std::uint32_t sampleOffset = 0;
};

// A labl, note or ltxt entry of LIST adtl: the cue id and the rest of its bytes.
struct CueText {
    std::uint32_t type = 0;
    std::uint32_t cueId = 0;
    std::string body;
};

// libsndfile's cart record with the largest tag text it reads.
typedef SF_CART_INFO_VAR(16384) CartInfo;

struct SourceMetadata {
    std::optional<std::string> bext; // the chunk: 602 fixed bytes, then the coding history
    std::optional<std::string> ixml; // without trailing padding
    std::vector<std::pair<std::uint32_t, std::string>> tags; // LIST INFO: tag id and text, in order
    std::vector<CuePoint> cues;
    std::vector<CueText> cueTexts;
    std::optional<std::string> sampler; // smpl: 36 fixed bytes, whole loops, sampler data
    std::shared_ptr<const CartInfo> cart;

    bool empty() const;
    // Bytes the metadata adds to the output's header, roughly.
    std::uint64_t byteSize() const;
};

// Never throws for what the file holds: anything malformed or oversized is left out. A RIFF
// source's LIST INFO is taken whole, tag by tag; other sources' tags become the INFO tags that
// other programs read them back from (`flacComments`: a FLAC source's own, see FlacComments.h).
SourceMetadata readMetadata(SNDFILE* file, const std::vector<std::pair<std::string, std::string>>& flacComments = {});

// "Broadcast WAV, iXML, 4 markers", or "None".
std::string metadataSummary(const SourceMetadata& metadata);

// What the metadata is rewritten for.
struct MetadataTarget {
    std::int64_t sourceRate = 0, targetRate = 0;
    std::int64_t sourceFrames = 0; // positions past it clamp to its rescaled value
    std::uint32_t channels = 0;
    OutputFormat format = OutputFormat::int16;
    OutputType type = OutputType::wav;
    // The frames the file holds when that is not the rescaled source's length (an album's track, cut
    // at the album's boundaries); positions then clamp to its last frame instead.
    std::optional<std::uint64_t> outputFrames;
};

// The items of `metadata` and whether `layout` of `channels` is one to carry, for the sentence
// that names what a type cannot hold.
MetadataContents contentsOf(const SourceMetadata& metadata, const ChannelLayout& layout, std::uint32_t channels);

// Whether a file of `type` holds the LIST INFO tag `id` ("INAM") under a name of its own.
bool carriesTag(OutputType type, std::string_view id);

// The tags as a FLAC file's Vorbis comments, with the layout's WAVEFORMATEXTENSIBLE_CHANNEL_MASK
// for a known layout of more than two channels, or of one or two other than FLAC's own.
std::vector<std::pair<std::string, std::string>> vorbisComments(
    const SourceMetadata& metadata, std::uint32_t mask, std::uint32_t channels);

// Into a file of `target.type` opened for writing, before its first sample: what the type holds
// of it (FLAC's comments are written into the finished file, see FlacComments.h). Throws
// AudioFileError when libsndfile refuses a chunk.
void writeMetadata(SNDFILE* file, const SourceMetadata& metadata, const MetadataTarget& target);

// The iXML document with the values that describe the file or depend on its rate rewritten;
// malformed XML comes back unchanged. `timeReference` is the new bext TimeReference, if any.
std::string rewriteIxml(
    const std::string& xml, const MetadataTarget& target, std::optional<std::uint64_t> timeReference);

// Stores the loudness and peak figures in the version-2 fields of the bext chunk of the complete
// WAV or RF64 file `fd` (EBU Tech 3285: hundredths of a dB, 0x7FFF when not known) and sets its
// version to 2; the header is written before the audio is measured. Does nothing to a file
// without a bext chunk. Returns 0 or an errno value.
int storeBextLoudness(int fd, const LevelFigures& figures);

} // namespace fennick
