#include "Metadata.h"

#include "Sndfile.h"
#include "SoxrApi.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>
#include <tuple>

namespace fennick {

namespace {

// libsndfile builds a file's whole header in memory and, once that passes about 50 KiB, refuses
// to grow it without a word and writes a broken file. All the metadata carried stays within this,
// and a chunk larger than all of it is not even read.
constexpr std::uint64_t kHeaderBudget = 40 * 1024;
constexpr std::uint32_t kMaxChunkBytes = kHeaderBudget;
// More chunks of one id than this are not looked at.
constexpr int kMaxChunksPerId = 16;
constexpr std::size_t kMaxStringBytes = 1u << 16;

constexpr std::size_t kBextFixedBytes = 602;
constexpr std::size_t kBextTimeReference = 338; // low then high 32 bits
constexpr std::size_t kCueBytes = 24;
constexpr std::size_t kSamplerFixedBytes = 36;
constexpr std::size_t kLoopBytes = 24;
constexpr std::size_t kCartFixedBytes = 2048; // everything before the tag text

constexpr std::uint32_t fourcc(const char* id)
{
    return std::uint32_t(std::uint8_t(id[0])) | std::uint32_t(std::uint8_t(id[1])) << 8
        | std::uint32_t(std::uint8_t(id[2])) << 16 | std::uint32_t(std::uint8_t(id[3])) << 24;
}

// The INFO tags libsndfile reads each string from, in its order.
constexpr std::pair<int, const char*> kInfoTags[] = {{SF_STR_TITLE, "INAM"}, {SF_STR_COPYRIGHT, "ICOP"},
    {SF_STR_SOFTWARE, "ISFT"}, {SF_STR_ARTIST, "IART"}, {SF_STR_COMMENT, "ICMT"}, {SF_STR_DATE, "ICRD"},
    {SF_STR_ALBUM, "IPRD"}, {SF_STR_TRACKNUMBER, "ITRK"}, {SF_STR_GENRE, "IGNR"}};

// A FLAC or Ogg source's comment fields and the INFO tag each goes into, in the order they are
// written: IPRT (disc) before ITRK, because ffmpeg reads both as the track and keeps the last.
constexpr std::pair<const char*, const char*> kCommentTags[]
    = {{"TITLE", "INAM"}, {"ARTIST", "IART"}, {"ALBUM", "IPRD"}, {"ALBUMARTIST", "IAAR"}, {"ALBUM ARTIST", "IAAR"},
        {"COMPOSER", "IMUS"}, {"LYRICIST", "IWRI"}, {"PRODUCER", "IPRO"}, {"DISCNUMBER", "IPRT"}, {"DISCTOTAL", "IFRM"},
        {"TOTALDISCS", "IFRM"}, {"TRACKNUMBER", "ITRK"}, {"DATE", "ICRD"}, {"GENRE", "IGNR"}, {"COMMENT", "ICMT"},
        {"DESCRIPTION", "ICMT"}, {"COPYRIGHT", "ICOP"}, {"ISRC", "ISRC"}, {"LANGUAGE", "ILNG"}, {"ENCODED-BY", "ITCH"},
        {"ENCODEDBY", "ITCH"}, {"ENCODER", "ISFT"}};

// What FLAC's Vorbis comments and CAF's information strings call each INFO tag they hold.
struct TagName {
    const char* id;
    const char* vorbis;
    const char* caf; // null: CAF has no key for it
};
constexpr TagName kTagNames[] = {{"INAM", "TITLE", "title"}, {"IART", "ARTIST", "artist"}, {"IPRD", "ALBUM", "album"},
    {"IAAR", "ALBUMARTIST", nullptr}, {"IMUS", "COMPOSER", "composer"}, {"IWRI", "LYRICIST", "lyricist"},
    {"IPRO", "PRODUCER", nullptr}, {"IPRT", "DISCNUMBER", nullptr}, {"IFRM", "DISCTOTAL", nullptr},
    {"ITRK", "TRACKNUMBER", "track number"}, {"ICRD", "DATE", "recorded date"}, {"IGNR", "GENRE", "genre"},
    {"ICMT", "COMMENT", "comments"}, {"ICOP", "COPYRIGHT", "copyright"}, {"ISRC", "ISRC", "ISRC"},
    {"ILNG", "LANGUAGE", nullptr}, {"ITCH", "ENCODED-BY", nullptr}, {"ISFT", "ENCODER", "encoding application"},
    {"IENG", "ENGINEER", nullptr}};

// AIFF's four text chunks, which libsndfile writes from these strings.
constexpr std::pair<const char*, int> kAiffStrings[]
    = {{"INAM", SF_STR_TITLE}, {"IART", SF_STR_ARTIST}, {"ICOP", SF_STR_COPYRIGHT}, {"ICMT", SF_STR_COMMENT}};

// AIFF's instrument chunk has a sustain and a release loop.
constexpr std::size_t kAiffLoops = 2;

const TagName* tagName(std::string_view id)
{
    for (const TagName& each : kTagNames) {
        if (id == each.id) return &each;
    }
    return nullptr;
}

std::string fourccText(std::uint32_t id) { return {char(id), char(id >> 8), char(id >> 16), char(id >> 24)}; }

// Little-endian fields of a chunk whose size has been checked.
std::uint32_t load32(std::string_view bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | std::uint8_t(bytes[at + i]);
    return value;
}

void store32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

void append32(std::string& bytes, std::uint32_t value)
{
    bytes.resize(bytes.size() + 4);
    store32(bytes, bytes.size() - 4, value);
}

void trimTrailingNuls(std::string& bytes, std::size_t keep = 0)
{
    while (bytes.size() > keep && bytes.back() == '\0') bytes.pop_back();
}

// Calls `take` with the bytes of each chunk `id` up to kMaxChunkBytes, larger ones left out.
template <typename Take> void forEachChunk(SNDFILE* file, const char (&id)[5], Take take)
{
    SF_CHUNK_INFO wanted{};
    std::memcpy(wanted.id, id, 4);
    wanted.id_size = 4;
    SF_CHUNK_ITERATOR* chunk = sf_get_chunk_iterator(file, &wanted);
    for (int seen = 0; chunk != nullptr && seen < kMaxChunksPerId; ++seen, chunk = sf_next_chunk_iterator(chunk)) {
        SF_CHUNK_INFO info{};
        if (sf_get_chunk_size(chunk, &info) != SF_ERR_NO_ERROR || info.datalen > kMaxChunkBytes) continue;
        std::string bytes(info.datalen, '\0');
        info.data = bytes.data();
        if (sf_get_chunk_data(chunk, &info) != SF_ERR_NO_ERROR) continue;
        bytes.resize(std::min<std::size_t>(info.datalen, bytes.size()));
        take(std::move(bytes));
    }
}

void readCues(const std::string& bytes, SourceMetadata& metadata)
{
    if (bytes.size() < 4 || !metadata.cues.empty()) return;
    // A count beyond the chunk keeps the points that are there.
    const std::size_t count = std::min<std::size_t>(load32(bytes, 0), (bytes.size() - 4) / kCueBytes);
    for (std::size_t i = 0, at = 4; i < count; ++i, at += kCueBytes) {
        metadata.cues.push_back({load32(bytes, at), load32(bytes, at + 4), load32(bytes, at + 8),
            load32(bytes, at + 12), load32(bytes, at + 16), load32(bytes, at + 20)});
    }
}

// labl, note and ltxt entries of a LIST adtl; the walk stops at the first entry that does not fit.
void readCueTexts(const std::string& bytes, SourceMetadata& metadata)
{
    if (bytes.size() < 4 || load32(bytes, 0) != fourcc("adtl") || !metadata.cueTexts.empty()) return;
    for (std::size_t at = 4; bytes.size() - at >= 8;) {
        const std::uint32_t type = load32(bytes, at), length = load32(bytes, at + 4);
        if (length > bytes.size() - at - 8) break;
        const std::size_t least = type == fourcc("ltxt") ? 20 : 4;
        if ((type == fourcc("labl") || type == fourcc("note") || type == fourcc("ltxt")) && length >= least) {
            metadata.cueTexts.push_back({type, load32(bytes, at + 8), bytes.substr(at + 12, length - 4)});
        }
        at += 8 + std::size_t(length) + (length & 1);
        if (at > bytes.size()) break;
    }
}

// Every tag of a LIST INFO, in its order, without the text's trailing NULs; the walk stops at the
// first entry that does not fit.
void readInfoTags(const std::string& bytes, SourceMetadata& metadata)
{
    if (bytes.size() < 4 || load32(bytes, 0) != fourcc("INFO") || !metadata.tags.empty()) return;
    for (std::size_t at = 4; bytes.size() - at >= 8;) {
        const std::uint32_t id = load32(bytes, at), length = load32(bytes, at + 4);
        if (length > bytes.size() - at - 8) break;
        std::string text = bytes.substr(at + 8, length);
        text.resize(::strnlen(text.data(), text.size()));
        if (!text.empty()) metadata.tags.emplace_back(id, std::move(text));
        at += 8 + std::size_t(length) + (length & 1);
        if (at > bytes.size()) break;
    }
}

// The tags of a source that has no LIST INFO: a FLAC file's comments through kCommentTags (those
// with no INFO tag are left out rather than counted as carried), another's the strings libsndfile
// reads that INFO has a tag for.
void readForeignTags(
    SNDFILE* file, const std::vector<std::pair<std::string, std::string>>& flacComments, SourceMetadata& metadata)
{
    const auto add = [&](const char* tag, const std::string& text) {
        const std::size_t length = ::strnlen(text.data(), std::min(text.size(), kMaxStringBytes));
        if (length > 0) metadata.tags.emplace_back(fourcc(tag), text.substr(0, length));
    };
    if (!flacComments.empty()) {
        for (const auto& [field, tag] : kCommentTags) {
            for (const auto& [name, value] : flacComments) {
                if (name == field) add(tag, value);
            }
        }
        return;
    }
    for (const auto& [type, tag] : kInfoTags) {
        const char* text = sf_get_string(file, type);
        if (text != nullptr) add(tag, std::string(text, ::strnlen(text, kMaxStringBytes)));
    }
}

// Kept with the loops and sampler data that fit, the counts set to match.
void readSampler(std::string bytes, SourceMetadata& metadata)
{
    if (bytes.size() < kSamplerFixedBytes || metadata.sampler) return;
    const std::size_t loops
        = std::min<std::size_t>(load32(bytes, 28), (bytes.size() - kSamplerFixedBytes) / kLoopBytes);
    const std::size_t loopsEnd = kSamplerFixedBytes + loops * kLoopBytes;
    const std::size_t extra = std::min<std::size_t>(load32(bytes, 32), bytes.size() - loopsEnd);
    bytes.resize(loopsEnd + extra);
    store32(bytes, 28, static_cast<std::uint32_t>(loops));
    store32(bytes, 32, static_cast<std::uint32_t>(extra));
    metadata.sampler = std::move(bytes);
}

bool isRiff(SNDFILE* file)
{
    SF_INFO info{};
    if (sf_command(file, SFC_GET_CURRENT_SF_INFO, &info, sizeof info) != 0) return false;
    const int container = info.format & SF_FORMAT_TYPEMASK;
    return container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_RF64;
}

std::string counted(std::size_t count, const char* noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// "A=PCM,F=44100,W=24,M=stereo,T=Fennick 1.0; libsoxr-0.1.3" and CR LF, as EBU R 98 words a step.
std::string codingHistoryLine(const MetadataTarget& target)
{
    const std::string mode = target.channels == 1 ? "mono"
        : target.channels == 2                    ? "stereo"
                                                  : std::to_string(target.channels);
    return "A=PCM,F=" + std::to_string(target.targetRate) + ",W=" + std::to_string(bitsPerSample(target.format))
        + ",M=" + mode + ",T=Fennick " FENNICK_CODING_VERSION "; " + soxrVersionText(SoxrApi::shared()) + "\r\n";
}

// A LIST of `kind` from (id, bytes) entries whose text ends in a NUL. libsndfile pads every chunk
// it is given to a multiple of four bytes, which a reader of the list would take for a broken
// entry, so the last entry takes the two spare bytes as NULs of its own.
std::string listChunk(const char* kind, std::vector<std::pair<std::uint32_t, std::string>> entries)
{
    std::size_t size = 4;
    for (const auto& [id, body] : entries) size += 8 + body.size() + (body.size() & 1);
    if (size % 4 != 0) entries.back().second.append(2, '\0');
    std::string list(kind, 4);
    for (const auto& [id, body] : entries) {
        append32(list, id);
        append32(list, static_cast<std::uint32_t>(body.size()));
        list += body;
        if (body.size() & 1) list += '\0';
    }
    return list;
}

void setChunk(SNDFILE* file, const char (&id)[5], const std::string& bytes);

void appendBigEndian(std::string& bytes, std::uint32_t value, int size)
{
    // Wider than the value (six zero bytes of an instrument chunk): the high bytes are zero.
    for (int i = size - 1; i >= 0; --i) bytes += static_cast<char>(std::uint64_t{value} >> (8 * i));
}

// The label a cue point's labl entry gives it, without its NULs.
std::string cueLabel(const SourceMetadata& metadata, std::uint32_t id)
{
    for (const CueText& text : metadata.cueTexts) {
        if (text.type == fourcc("labl") && text.cueId == id)
            return text.body.substr(0, ::strnlen(text.body.data(), text.body.size()));
    }
    return {};
}

// AIFF: the four strings, the markers with their names and the first two loops of the sampler
// chunk as the instrument chunk's sustain and release loops, each loop's ends being markers of
// their own. libsndfile takes cue points and an instrument for AIFF but writes neither, so MARK
// and INST are written here.
template <typename Position> void writeAiffMetadata(SNDFILE* file, const SourceMetadata& metadata, Position position)
{
    for (const auto& [id, type] : kAiffStrings) {
        for (const auto& [tag, text] : metadata.tags) {
            if (tag == fourcc(id)) sf_set_string(file, type, text.c_str());
        }
    }
    std::vector<std::pair<std::uint32_t, std::string>> markers; // position, name
    for (const CuePoint& cue : metadata.cues)
        markers.emplace_back(position(cue.sampleOffset), cueLabel(metadata, cue.id));
    std::string instrument;
    if (metadata.sampler) {
        const std::string& sampler = *metadata.sampler;
        const std::uint32_t note = std::min<std::uint32_t>(load32(sampler, 12), 127);
        // The pitch fraction is of a semitone; AIFF's detune is in cents, −50 to +50.
        const auto cents = static_cast<int>(
            std::min<std::uint64_t>((std::uint64_t(load32(sampler, 16)) * 100 + (1ull << 31)) >> 32, 50));
        instrument += static_cast<char>(note);
        instrument += static_cast<char>(cents);
        instrument += std::string{char(0), char(127), char(1), char(127), char(0), char(0)}; // notes, velocities, gain
        const std::size_t loops = std::min<std::size_t>(load32(sampler, 28), kAiffLoops);
        for (std::size_t i = 0; i < kAiffLoops; ++i) {
            if (i >= loops) {
                appendBigEndian(instrument, 0, 6);
                continue;
            }
            const std::size_t at = kSamplerFixedBytes + i * kLoopBytes;
            // smpl's forward and alternating loops; backward has no AIFF mode, forward is nearest.
            appendBigEndian(instrument, load32(sampler, at + 4) == 1 ? 2 : 1, 2);
            markers.emplace_back(position(load32(sampler, at + 8)), "");
            appendBigEndian(instrument, static_cast<std::uint32_t>(markers.size()), 2);
            markers.emplace_back(position(load32(sampler, at + 12)), "");
            appendBigEndian(instrument, static_cast<std::uint32_t>(markers.size()), 2);
        }
    }
    // AIFF marker ids are 16 bits; ids are given anew, 1 up.
    if (!markers.empty() && markers.size() <= 0x7FFF) {
        std::string mark;
        appendBigEndian(mark, static_cast<std::uint32_t>(markers.size()), 2);
        for (std::size_t i = 0; i < markers.size(); ++i) {
            const std::string name = markers[i].second.substr(0, 255);
            appendBigEndian(mark, static_cast<std::uint32_t>(i + 1), 2);
            appendBigEndian(mark, markers[i].first, 4);
            mark += static_cast<char>(name.size());
            mark += name;
            if (name.size() % 2 == 0) mark += '\0'; // the count and text take an even number of bytes
        }
        setChunk(file, "MARK", mark);
    }
    if (!instrument.empty()) setChunk(file, "INST", instrument);
}

// CAF: the tags as its information strings, a count and then key and value with NULs.
void writeCafStrings(SNDFILE* file, const SourceMetadata& metadata)
{
    std::string strings;
    std::uint32_t count = 0;
    for (const auto& [id, text] : metadata.tags) {
        const TagName* name = tagName(fourccText(id));
        if (name == nullptr || name->caf == nullptr) continue;
        strings += std::string(name->caf) + '\0' + text + '\0';
        ++count;
    }
    if (count == 0) return;
    std::string chunk;
    appendBigEndian(chunk, count, 4);
    setChunk(file, "info", chunk + strings);
}

void setChunk(SNDFILE* file, const char (&id)[5], const std::string& bytes)
{
    SF_CHUNK_INFO info{};
    std::memcpy(info.id, id, 4);
    info.id_size = 4;
    info.datalen = static_cast<unsigned>(bytes.size());
    info.data = const_cast<char*>(bytes.data()); // libsndfile copies it
    if (sf_set_chunk(file, &info) != SF_ERR_NO_ERROR) throw sndfileError(file);
}

// Leaves out what does not fit in kHeaderBudget, in this order of importance: the time reference,
// the recorder's notes, the tags, the markers and their labels, the loops, cart. Each chunk counts
// with its header, libsndfile's padding and what the rewrite may add to it.
void keepWithinHeaderBudget(SourceMetadata& metadata)
{
    std::uint64_t left = kHeaderBudget;
    const auto fits = [&left](std::uint64_t bytes) {
        if (bytes + 12 > left) return false;
        left -= bytes + 12;
        return true;
    };
    if (metadata.bext && !fits(metadata.bext->size() + 128)) metadata.bext.reset(); // the history line
    if (metadata.ixml && !fits(metadata.ixml->size() + 64)) metadata.ixml.reset(); // longer numbers
    std::uint64_t tags = 4;
    for (const auto& tag : metadata.tags) tags += tag.second.size() + 12;
    if (!fits(tags)) metadata.tags.clear();
    if (!fits(4 + kCueBytes * metadata.cues.size())) metadata.cues.clear();
    std::erase_if(metadata.cueTexts, [&](const CueText& text) {
        return std::none_of(
            metadata.cues.begin(), metadata.cues.end(), [&](const CuePoint& cue) { return cue.id == text.cueId; });
    });
    std::uint64_t texts = 4;
    for (const CueText& text : metadata.cueTexts) texts += text.body.size() + 16;
    if (!fits(texts)) metadata.cueTexts.clear();
    if (metadata.sampler && !fits(metadata.sampler->size())) metadata.sampler.reset();
    if (metadata.cart && !fits(offsetof(CartInfo, tag_text) + metadata.cart->tag_text_size + 4)) metadata.cart.reset();
}

} // namespace

std::uint64_t rescalePosition(std::uint64_t position, std::int64_t from, std::int64_t to)
{
    if (from <= 0 || to <= 0) return position;
    const auto f = static_cast<std::uint64_t>(from), t = static_cast<std::uint64_t>(to);
    // q × to + round(r × to / from); r × to × 2 stays below 2^63 for rates below 2^31.
    std::uint64_t whole = 0;
    if (__builtin_mul_overflow(position / f, t, &whole)) return std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t part = ((position % f) * t * 2 + f) / (2 * f);
    return whole > std::numeric_limits<std::uint64_t>::max() - part ? std::numeric_limits<std::uint64_t>::max()
                                                                    : whole + part;
}

bool SourceMetadata::empty() const { return !bext && !ixml && tags.empty() && cues.empty() && !sampler && !cart; }

std::uint64_t SourceMetadata::byteSize() const
{
    std::uint64_t bytes = 4096 + (bext ? bext->size() : 0) + (ixml ? ixml->size() : 0) + (sampler ? sampler->size() : 0)
        + (cart ? sizeof(CartInfo) : 0) + cues.size() * kCueBytes;
    for (const auto& [id, text] : tags) bytes += text.size() + 16;
    for (const CueText& text : cueTexts) bytes += text.body.size() + 16;
    return bytes;
}

SourceMetadata readMetadata(SNDFILE* file, const std::vector<std::pair<std::string, std::string>>& flacComments)
{
    SourceMetadata metadata;
    if (!isRiff(file)) {
        readForeignTags(file, flacComments, metadata);
        keepWithinHeaderBudget(metadata);
        return metadata;
    }

    forEachChunk(file, "bext", [&](std::string bytes) {
        // Shorter than its fixed part, whatever its version says: not a bext to trust.
        if (metadata.bext || bytes.size() < kBextFixedBytes) return;
        trimTrailingNuls(bytes, kBextFixedBytes);
        metadata.bext = std::move(bytes);
    });
    forEachChunk(file, "iXML", [&](std::string bytes) {
        trimTrailingNuls(bytes);
        if (!metadata.ixml && !bytes.empty()) metadata.ixml = std::move(bytes);
    });
    forEachChunk(file, "cue ", [&](std::string bytes) { readCues(bytes, metadata); });
    forEachChunk(file, "LIST", [&](std::string bytes) {
        readCueTexts(bytes, metadata);
        readInfoTags(bytes, metadata);
    });
    forEachChunk(file, "smpl", [&](std::string bytes) { readSampler(std::move(bytes), metadata); });
    // libsndfile leaves a cart record's text, and the size it gives for it, unset when the chunk
    // holds no text; both are taken from the chunk itself.
    std::optional<std::string> tagText;
    forEachChunk(file, "cart", [&](std::string bytes) {
        if (!tagText) tagText = bytes.substr(std::min(bytes.size(), kCartFixedBytes));
    });
    auto cart = std::make_shared<CartInfo>();
    if (tagText && sf_command(file, SFC_GET_CART_INFO, cart.get(), sizeof *cart) == SF_TRUE) {
        // Room is left for the CR LF libsndfile adds when writing the text back.
        const std::size_t size = std::min(::strnlen(tagText->data(), tagText->size()), sizeof cart->tag_text - 3);
        std::fill(std::copy_n(tagText->data(), size, cart->tag_text), std::end(cart->tag_text), '\0');
        cart->tag_text_size = static_cast<std::uint32_t>(size);
        metadata.cart = std::move(cart);
    }
    keepWithinHeaderBudget(metadata);
    return metadata;
}

std::string metadataSummary(const SourceMetadata& metadata)
{
    std::vector<std::string> parts;
    if (metadata.bext) parts.emplace_back("Broadcast WAV");
    if (metadata.ixml) parts.emplace_back("iXML");
    if (metadata.cart) parts.emplace_back("cart");
    if (!metadata.tags.empty()) parts.push_back(counted(metadata.tags.size(), "tag"));
    if (!metadata.cues.empty()) parts.push_back(counted(metadata.cues.size(), "marker"));
    if (metadata.sampler) {
        const std::uint32_t loops = load32(*metadata.sampler, 28);
        parts.push_back(loops > 0 ? counted(loops, "loop") : "sampler data");
    }
    if (parts.empty()) return "None";
    std::string text = parts.front();
    for (std::size_t i = 1; i < parts.size(); ++i) text += ", " + parts[i];
    return text;
}

MetadataContents contentsOf(const SourceMetadata& metadata, const ChannelLayout& layout, std::uint32_t channels)
{
    MetadataContents contents;
    contents.broadcastWav = metadata.bext.has_value();
    contents.ixml = metadata.ixml.has_value();
    contents.cart = metadata.cart != nullptr;
    for (const auto& [id, text] : metadata.tags) contents.tags.push_back(fourccText(id));
    contents.markers = metadata.cues.size();
    contents.loops = metadata.sampler ? load32(*metadata.sampler, 28) : 0;
    contents.samplerData = metadata.sampler && contents.loops == 0;
    contents.channelLayout = channels > 2 && (layout.mask != 0 || layout.ambisonic);
    return contents;
}

bool carriesTag(OutputType type, std::string_view id)
{
    const TagName* name = tagName(id);
    switch (type) {
    case OutputType::wav:
    case OutputType::rf64: return true;
    case OutputType::w64: return false;
    case OutputType::flac: return name != nullptr;
    case OutputType::caf: return name != nullptr && name->caf != nullptr;
    case OutputType::aiff:
        return std::any_of(
            std::begin(kAiffStrings), std::end(kAiffStrings), [&](const auto& each) { return id == each.first; });
    }
    return false;
}

std::vector<std::pair<std::string, std::string>> vorbisComments(
    const SourceMetadata& metadata, std::uint32_t mask, std::uint32_t channels)
{
    std::vector<std::pair<std::string, std::string>> comments;
    for (const auto& [id, text] : metadata.tags) {
        if (const TagName* name = tagName(fourccText(id))) comments.emplace_back(name->vorbis, text);
    }
    // FLAC's own speakers for one and two channels need no comment. For more, readers differ in
    // what they assume (ffmpeg takes six channels for side surrounds), so a known layout is stated.
    const std::uint32_t plain = channels == 1 ? 0x4 : channels == 2 ? 0x3 : 0;
    if (mask != 0 && mask != plain) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%X", mask);
        comments.emplace_back("WAVEFORMATEXTENSIBLE_CHANNEL_MASK", text);
    }
    return comments;
}

void writeMetadata(SNDFILE* file, const SourceMetadata& metadata, const MetadataTarget& target)
{
    const auto scale
        = [&](std::uint64_t position) { return rescalePosition(position, target.sourceRate, target.targetRate); };
    const std::uint64_t end = target.outputFrames.value_or(
        scale(static_cast<std::uint64_t>(std::max<std::int64_t>(target.sourceFrames, 0))));
    // A 32-bit position, rescaled; one on or past the new end (rounding can take the last frame
    // there) lands on the last frame.
    const std::uint64_t lastFrame = end > 0 ? end - 1 : 0;
    const auto position = [&](std::uint32_t value) {
        return static_cast<std::uint32_t>(std::min({scale(value), lastFrame, std::uint64_t{0xFFFFFFFF}}));
    };
    switch (target.type) {
    case OutputType::wav:
    case OutputType::rf64: break;
    case OutputType::aiff: return writeAiffMetadata(file, metadata, position);
    case OutputType::caf: return writeCafStrings(file, metadata);
    case OutputType::w64:
    case OutputType::flac: return; // FLAC's comments go into the finished file
    }

    // libsndfile knows only nine tags and would append its own name to the software string, so
    // LIST INFO is written here, and libsndfile given no string to write a second one of its own.
    std::vector<std::pair<std::uint32_t, std::string>> info;
    for (const auto& [id, text] : metadata.tags) info.emplace_back(id, text + '\0');
    if (!info.empty()) setChunk(file, "LIST", listChunk("INFO", std::move(info)));

    // libsndfile's own bext writer appends a coding history line of its own and sets version 2,
    // so the chunk is written as it was read, with its time reference and history brought up to date.
    std::optional<std::uint64_t> timeReference;
    if (metadata.bext) {
        std::string bext = *metadata.bext;
        timeReference
            = scale(std::uint64_t(load32(bext, kBextTimeReference + 4)) << 32 | load32(bext, kBextTimeReference));
        store32(bext, kBextTimeReference, static_cast<std::uint32_t>(*timeReference));
        store32(bext, kBextTimeReference + 4, static_cast<std::uint32_t>(*timeReference >> 32));
        if (bext.size() > kBextFixedBytes && bext.back() != '\n') bext += "\r\n";
        setChunk(file, "bext", bext + codingHistoryLine(target));
    }
    if (metadata.ixml) setChunk(file, "iXML", rewriteIxml(*metadata.ixml, target, timeReference));

    if (metadata.cart) {
        auto cart = std::make_unique<CartInfo>(*metadata.cart);
        for (SF_CART_TIMER& timer : cart->post_timers) { // positions in samples
            if (timer.usage[0] != '\0' && timer.value > 0)
                timer.value = static_cast<std::int32_t>(std::min<std::uint64_t>(scale(timer.value), 0x7FFFFFFF));
        }
        // libsndfile takes no record as large as its largest; the tag text's own length will do.
        const std::size_t size = offsetof(CartInfo, tag_text) + cart->tag_text_size + 1;
        if (sf_command(file, SFC_SET_CART_INFO, cart.get(), static_cast<int>(size)) != SF_TRUE) {
            // libsndfile writes cart only into a plain WAV or RF64; a WAVE_FORMAT_EXTENSIBLE one gets
            // the chunk as libsndfile lays it out: the fixed fields, then the text and CR LF.
            SF_INFO info{};
            sf_command(file, SFC_GET_CURRENT_SF_INFO, &info, sizeof info);
            if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_WAVEX) throw sndfileError(file);
            static_assert(offsetof(CartInfo, tag_text_size) == kCartFixedBytes);
            std::string bytes(reinterpret_cast<const char*>(cart.get()), kCartFixedBytes);
            bytes.append(cart->tag_text, cart->tag_text_size);
            if (cart->tag_text_size > 0) bytes += "\r\n";
            setChunk(file, "cart", bytes);
        }
    }

    // libsndfile writes cue points without their labels, and in RF64 neither cues nor loops.
    if (!metadata.cues.empty()) {
        std::string cues;
        append32(cues, static_cast<std::uint32_t>(metadata.cues.size()));
        for (const CuePoint& cue : metadata.cues) {
            for (const std::uint32_t field :
                {cue.id, position(cue.position), cue.chunk, cue.chunkStart, cue.blockStart, position(cue.sampleOffset)})
                append32(cues, field);
        }
        setChunk(file, "cue ", cues);
    }
    if (!metadata.cueTexts.empty()) {
        std::vector<std::pair<std::uint32_t, std::string>> texts;
        for (const CueText& text : metadata.cueTexts) {
            std::string body = std::string(4, '\0') + text.body;
            store32(body, 0, text.cueId);
            const bool region = text.type == fourcc("ltxt"); // its sample length comes first
            if (region) {
                // The region ends on the last frame at most.
                const auto cue = std::find_if(metadata.cues.begin(), metadata.cues.end(),
                    [&](const CuePoint& each) { return each.id == text.cueId; });
                const std::uint64_t start = cue != metadata.cues.end() ? position(cue->sampleOffset) : 0;
                store32(body, 4,
                    static_cast<std::uint32_t>(
                        std::min<std::uint64_t>({scale(load32(body, 4)), end - std::min(start, end), 0xFFFFFFFF})));
            }
            if (body.size() == (region ? 20u : 4u) || body.back() != '\0') body += '\0';
            texts.emplace_back(text.type, std::move(body));
        }
        setChunk(file, "LIST", listChunk("adtl", std::move(texts)));
    }
    if (metadata.sampler) {
        std::string sampler = *metadata.sampler;
        const auto rate = static_cast<std::uint64_t>(target.targetRate);
        store32(sampler, 8, static_cast<std::uint32_t>((1000000000u + rate / 2) / rate)); // nanoseconds per sample
        for (std::size_t at = kSamplerFixedBytes; at + kLoopBytes <= sampler.size() - load32(sampler, 32);
             at += kLoopBytes) {
            store32(sampler, at + 8, position(load32(sampler, at + 8)));
            store32(sampler, at + 12, position(load32(sampler, at + 12)));
        }
        setChunk(file, "smpl", sampler);
    }
}

} // namespace fennick

namespace fennick {

namespace {

constexpr std::size_t kBextVersion = 346;
constexpr std::size_t kBextLoudness = 412; // five 16-bit fields up to MaxShortTermLoudness

// A level in hundredths, as bext version 2 stores it; 0x7FFF for one that is not known.
std::int16_t hundredths(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > 327.0) return 0x7FFF;
    return static_cast<std::int16_t>(std::lround(value * 100.0));
}

int preadAll(int fd, unsigned char* bytes, std::size_t size, off_t at)
{
    ssize_t got = 0;
    do got = ::pread(fd, bytes, size, at);
    while (got < 0 && errno == EINTR);
    return got < 0 ? errno : static_cast<std::size_t>(got) == size ? 0 : EIO;
}

} // namespace

int storeBextLoudness(int fd, const LevelFigures& figures)
{
    unsigned char header[12];
    if (preadAll(fd, header, sizeof header, 0) != 0) return 0;
    if (std::memcmp(header, "RIFF", 4) != 0 && std::memcmp(header, "RF64", 4) != 0) return 0;
    // The header chunks come before the audio; a file that strays is left as it is.
    for (off_t at = 12; at < (1 << 20);) {
        unsigned char chunk[8];
        if (preadAll(fd, chunk, sizeof chunk, at) != 0) return 0;
        const std::uint32_t length = load32(std::string_view(reinterpret_cast<const char*>(chunk), 8), 4);
        if (std::memcmp(chunk, "data", 4) == 0) return 0;
        if (std::memcmp(chunk, "bext", 4) == 0) {
            if (length < kBextFixedBytes) return 0;
            const std::int16_t values[] = {hundredths(figures.integratedLufs), hundredths(figures.loudnessRangeLu),
                hundredths(figures.truePeakDbtp), hundredths(figures.maxMomentaryLufs),
                hundredths(figures.maxShortTermLufs)};
            unsigned char fields[10];
            for (std::size_t i = 0; i < 5; ++i) {
                const auto value = static_cast<std::uint16_t>(values[i]);
                fields[2 * i] = std::uint8_t(value);
                fields[2 * i + 1] = std::uint8_t(value >> 8);
            }
            const unsigned char version[2] = {2, 0};
            const off_t body = at + 8;
            for (const auto& [bytes, size, offset] : {std::tuple{version, sizeof version, kBextVersion},
                     std::tuple{static_cast<const unsigned char*>(fields), sizeof fields, kBextLoudness}}) {
                ssize_t put = 0;
                do put = ::pwrite(fd, bytes, size, body + static_cast<off_t>(offset));
                while (put < 0 && errno == EINTR);
                if (put < 0) return errno;
                if (static_cast<std::size_t>(put) != size) return EIO;
            }
            return 0;
        }
        at += 8 + off_t(length) + (length & 1);
    }
    return 0;
}

} // namespace fennick
