// Writes the fuzzer's seed corpus: small WAV, AIFF and FLAC files in every encoding libsndfile
// offers for them, at a few rates, channel counts and lengths. Usage: fennick_fuzz_corpus DIR

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// False when libsndfile does not offer the format or cannot write it.
bool writeSeed(const std::filesystem::path& path, int format, int rate, int channels, int frames)
{
    SF_INFO info{0, rate, channels, format, 0, 0};
    if (!sf_format_check(&info)) return false;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    std::vector<float> samples(static_cast<std::size_t>(frames) * channels);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(0.8 * std::sin(0.05 * i));
    const bool written = sf_writef_float(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    const std::pair<const char*, int> containers[] = {{"wav", SF_FORMAT_WAV}, {"aiff", SF_FORMAT_AIFF},
        {"flac", SF_FORMAT_FLAC}, {"wavex.wav", SF_FORMAT_WAVEX}, {"rf64.wav", SF_FORMAT_RF64}};
    const int encodings[] = {SF_FORMAT_PCM_S8, SF_FORMAT_PCM_U8, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_PCM_32,
        SF_FORMAT_FLOAT, SF_FORMAT_DOUBLE, SF_FORMAT_ULAW, SF_FORMAT_ALAW, SF_FORMAT_IMA_ADPCM, SF_FORMAT_MS_ADPCM,
        SF_FORMAT_GSM610};
    const int shapes[][3] = {{8000, 1, 300}, {44100, 2, 64}, {96000, 6, 16}, {22050, 1, 0}}; // rate, channels, frames

    int count = 0;
    for (const auto& [extension, major] : containers) {
        for (const int encoding : encodings) {
            for (const auto& [rate, channels, frames] : shapes) {
                const auto path = dir / (std::to_string(count) + "-" + std::to_string(rate) + "." + extension);
                if (writeSeed(path, major | encoding, rate, channels, frames))
                    ++count;
                else
                    std::filesystem::remove(path);
            }
        }
    }
    std::printf("%d seed files in %s\n", count, dir.c_str());
    return count > 0 ? 0 : 1;
}
