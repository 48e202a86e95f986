#pragma once

// Where a file's channels go: the speaker positions of WAVE_FORMAT_EXTENSIBLE's channel mask, read
// from whatever a source states them in and written into the output's header.

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fennick {

struct ChannelLayout {
    std::uint32_t mask = 0; // dwChannelMask: bit 0 front left, 1 front right, 2 front centre…; 0 unknown
    bool ambisonic = false; // Ambisonic B-format (WAVE_FORMAT_EXTENSIBLE's own subformat)

    friend bool operator==(const ChannelLayout&, const ChannelLayout&) = default;
};

// What `file` states: a RIFF file's own mask, as its fmt chunk holds it (libsndfile's map drops
// masks it cannot express); an AIFF or CAF layout that libsndfile reads, when its channels come in
// the mask's order; a FLAC file's WAVEFORMATEXTENSIBLE_CHANNEL_MASK, or else FLAC's fixed
// assignment for 3 to 8 channels (`flacComments` are its comments). Nothing is ever guessed.
ChannelLayout readChannelLayout(
    SNDFILE* file, int channels, const std::vector<std::pair<std::string, std::string>>& flacComments);

// The usual name of a layout ("mono", "stereo", "5.1", "7.1", "Ambisonic B-format"); two channels
// with no mask are stereo, one is mono, as every player takes them. Empty for any other.
std::string channelLayoutName(const ChannelLayout& layout, int channels);

// The mask of a libsndfile channel map whose positions each have a bit and come in the bits'
// order; 0 for any other.
std::uint32_t channelMaskFromMap(const std::vector<int>& map);

// The libsndfile map of a mask with one bit per channel, or empty.
std::vector<int> channelMapFromMask(std::uint32_t mask, int channels);

// Sets dwChannelMask in the WAVE_FORMAT_EXTENSIBLE fmt chunk of the WAV or RF64 file `fd`, when it
// holds another; libsndfile writes a guess of its own for 4, 6 and 8 channels and cannot write
// every mask. Does nothing to a file without such a chunk. Returns 0 or an errno value.
int storeChannelMask(int fd, std::uint32_t mask);

} // namespace fennick
