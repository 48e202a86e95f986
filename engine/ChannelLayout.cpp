#include "ChannelLayout.h"

#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace fennick {

namespace {

// Speaker positions in the mask's bit order.
constexpr int kPositionOfBit[] = {SF_CHANNEL_MAP_FRONT_LEFT, SF_CHANNEL_MAP_FRONT_RIGHT, SF_CHANNEL_MAP_FRONT_CENTER,
    SF_CHANNEL_MAP_LFE, SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT, SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER,
    SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER, SF_CHANNEL_MAP_REAR_CENTER, SF_CHANNEL_MAP_SIDE_LEFT,
    SF_CHANNEL_MAP_SIDE_RIGHT, SF_CHANNEL_MAP_TOP_CENTER, SF_CHANNEL_MAP_TOP_FRONT_LEFT,
    SF_CHANNEL_MAP_TOP_FRONT_CENTER, SF_CHANNEL_MAP_TOP_FRONT_RIGHT, SF_CHANNEL_MAP_TOP_REAR_LEFT,
    SF_CHANNEL_MAP_TOP_REAR_CENTER, SF_CHANNEL_MAP_TOP_REAR_RIGHT};

std::optional<int> bitOf(int position)
{
    // Apple's names for the front pair and centre, and mono, are the same speakers.
    if (position == SF_CHANNEL_MAP_LEFT) position = SF_CHANNEL_MAP_FRONT_LEFT;
    if (position == SF_CHANNEL_MAP_RIGHT) position = SF_CHANNEL_MAP_FRONT_RIGHT;
    if (position == SF_CHANNEL_MAP_CENTER || position == SF_CHANNEL_MAP_MONO) position = SF_CHANNEL_MAP_FRONT_CENTER;
    for (int bit = 0; bit < static_cast<int>(std::size(kPositionOfBit)); ++bit) {
        if (kPositionOfBit[bit] == position) return bit;
    }
    return std::nullopt;
}

std::uint32_t load16(const unsigned char* bytes) { return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8; }

std::uint32_t load32(const unsigned char* bytes)
{
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16
        | std::uint32_t(bytes[3]) << 24;
}

// The fmt chunk of a RIFF-family file, up to its first 40 bytes.
std::optional<std::vector<unsigned char>> fmtChunk(SNDFILE* file)
{
    SF_CHUNK_INFO wanted{};
    std::memcpy(wanted.id, "fmt ", 4);
    wanted.id_size = 4;
    SF_CHUNK_ITERATOR* chunk = sf_get_chunk_iterator(file, &wanted);
    SF_CHUNK_INFO info{};
    if (chunk == nullptr || sf_get_chunk_size(chunk, &info) != SF_ERR_NO_ERROR || info.datalen > 4096) return {};
    std::vector<unsigned char> bytes(info.datalen);
    info.data = bytes.data();
    if (sf_get_chunk_data(chunk, &info) != SF_ERR_NO_ERROR) return {};
    return bytes;
}

// FLAC's channel assignment for 3 to 8 channels, as the format defines it.
constexpr std::uint32_t kFlacMasks[] = {0, 0, 0, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};

} // namespace

std::uint32_t channelMaskFromMap(const std::vector<int>& map)
{
    std::uint32_t mask = 0;
    int previous = -1;
    for (const int position : map) {
        const std::optional<int> bit = bitOf(position);
        if (!bit || *bit <= previous) return 0; // a position with no bit, or out of the mask's order
        mask |= 1u << *bit;
        previous = *bit;
    }
    return mask;
}

std::vector<int> channelMapFromMask(std::uint32_t mask, int channels)
{
    if (mask == 0 || std::popcount(mask) != channels || mask >> std::size(kPositionOfBit) != 0) return {};
    std::vector<int> map;
    for (int bit = 0; bit < static_cast<int>(std::size(kPositionOfBit)); ++bit) {
        if (mask >> bit & 1) map.push_back(kPositionOfBit[bit]);
    }
    return map;
}

ChannelLayout readChannelLayout(
    SNDFILE* file, int channels, const std::vector<std::pair<std::string, std::string>>& flacComments)
{
    SF_INFO info{};
    if (sf_command(file, SFC_GET_CURRENT_SF_INFO, &info, sizeof info) != 0) return {};
    const int container = info.format & SF_FORMAT_TYPEMASK;
    if (container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_RF64) {
        const auto fmt = fmtChunk(file);
        if (!fmt || fmt->size() < 24 || load16(fmt->data()) != 0xFFFE) return {}; // format tag and size
        ChannelLayout layout{load32(fmt->data() + 20)};
        layout.ambisonic = sf_command(file, SFC_WAVEX_GET_AMBISONIC, nullptr, 0) == SF_AMBISONIC_B_FORMAT;
        if (layout.ambisonic) layout.mask = 0;
        return layout;
    }
    if (container == SF_FORMAT_FLAC) {
        for (const auto& [name, value] : flacComments) {
            if (name != "WAVEFORMATEXTENSIBLE_CHANNEL_MASK") continue;
            char* end = nullptr;
            const unsigned long mask = std::strtoul(value.c_str(), &end, 0);
            if (end != value.c_str() && *end == '\0' && mask <= 0xFFFFFFFF) return {static_cast<std::uint32_t>(mask)};
        }
        return {channels >= 3 && channels <= 8 ? kFlacMasks[channels] : 0};
    }
    std::vector<int> map(static_cast<std::size_t>(channels));
    if (channels < 1 || sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(), channels * int(sizeof(int))) != SF_TRUE)
        return {};
    ChannelLayout layout{channelMaskFromMap(map)};
    if (layout.mask == 0 && map.size() >= 3 && map[0] == SF_CHANNEL_MAP_AMBISONIC_B_W) {
        layout.ambisonic = true;
        for (std::size_t i = 0; i < map.size(); ++i) {
            layout.ambisonic = layout.ambisonic && map[i] == SF_CHANNEL_MAP_AMBISONIC_B_W + static_cast<int>(i);
        }
    }
    return layout;
}

int storeChannelMask(int fd, std::uint32_t mask)
{
    unsigned char header[512];
    ssize_t got = 0;
    do got = ::pread(fd, header, sizeof header, 0);
    while (got < 0 && errno == EINTR);
    if (got < 0) return errno;
    const auto size = static_cast<std::size_t>(got);
    if (size < 12 || (std::memcmp(header, "RIFF", 4) != 0 && std::memcmp(header, "RF64", 4) != 0)) return 0;
    for (std::size_t at = 12; at + 8 <= size;) {
        const std::uint32_t length = load32(header + at + 4);
        if (std::memcmp(header + at, "fmt ", 4) == 0) {
            if (length < 24 || at + 8 + 24 > size || load16(header + at + 8) != 0xFFFE) return 0;
            const std::size_t maskAt = at + 8 + 20;
            if (load32(header + maskAt) == mask) return 0;
            const unsigned char bytes[4]
                = {std::uint8_t(mask), std::uint8_t(mask >> 8), std::uint8_t(mask >> 16), std::uint8_t(mask >> 24)};
            ssize_t put = 0;
            do put = ::pwrite(fd, bytes, 4, static_cast<off_t>(maskAt));
            while (put < 0 && errno == EINTR);
            return put == 4 ? 0 : put < 0 ? errno : EIO;
        }
        if (std::memcmp(header + at, "data", 4) == 0) return 0;
        at += 8 + std::size_t(length) + (length & 1);
    }
    return 0;
}

std::string channelLayoutName(const ChannelLayout& layout, int channels)
{
    if (layout.ambisonic) return "Ambisonic B-format";
    if (layout.mask == 0) return channels == 1 ? "mono" : channels == 2 ? "stereo" : "";
    // WAVE_FORMAT_EXTENSIBLE's named layouts, side and back surrounds alike.
    static constexpr std::pair<std::uint32_t, const char*> names[]{{0x4, "mono"}, {0x3, "stereo"}, {0xB, "2.1"},
        {0x7, "3.0"}, {0xF, "3.1"}, {0x33, "quad"}, {0x603, "quad"}, {0x37, "5.0"}, {0x607, "5.0"}, {0x3F, "5.1"},
        {0x60F, "5.1"}, {0x70F, "6.1"}, {0x13F, "6.1"}, {0x63F, "7.1"}, {0xFF, "7.1"}, {0x2D63F, "7.1.4"},
        {0x5A63F, "7.1.4"}};
    for (const auto& [mask, name] : names) {
        if (mask == layout.mask && std::popcount(mask) == channels) return name;
    }
    return "";
}

} // namespace fennick
