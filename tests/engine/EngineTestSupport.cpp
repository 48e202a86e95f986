#include "EngineTestSupport.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <stdexcept>

namespace {
std::mutex logMutex;
std::vector<std::string> dlopenLog;
} // namespace

// The test executable is linked with --wrap=dlopen, so every dlopen of the engine passes here.
extern "C" void* __real_dlopen(const char* file, int mode);
extern "C" void* __wrap_dlopen(const char* file, int mode)
{
    if (file != nullptr && (mode & RTLD_NOLOAD) == 0) {
        std::lock_guard lock(logMutex);
        dlopenLog.emplace_back(file);
    }
    return __real_dlopen(file, mode);
}

namespace fennick::test {

void setLibsoxrVariable(const char* value)
{
    value != nullptr ? ::setenv("FENNICK_LIBSOXR", value, 1) : ::unsetenv("FENNICK_LIBSOXR");
}

std::vector<std::string> dlopenedPaths()
{
    std::lock_guard lock(logMutex);
    return dlopenLog;
}

bool isLoaded(const char* library)
{
    void* handle = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
}

template <typename Fn>
static Fn standinFunction(const char* library, const char* name)
{
    void* handle = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    void* function = handle != nullptr ? dlsym(handle, name) : nullptr;
    if (handle != nullptr) dlclose(handle); // the binding's own reference keeps it loaded
    if (function == nullptr) throw std::runtime_error(std::string(library) + " is not bound");
    return reinterpret_cast<Fn>(function);
}

StandinRecord& standinRecord(const char* library)
{
    return *standinFunction<StandinRecord* (*)()>(library, kStandinRecordName)();
}

void setStandinDeleteHook(const char* library, void (*hook)())
{
    standinFunction<void (*)(void (*)())>(library, kStandinDeleteHookName)(hook);
}

void redirectDescriptor(const std::filesystem::path& path, const char* replacement, int flags)
{
    const auto target = std::filesystem::canonical(path);
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) != target || error) continue;
        const int other = ::open(replacement, flags | O_CLOEXEC);
        if (other < 0 || ::dup2(other, std::stoi(entry.path().filename().string())) < 0) break;
        ::close(other);
        return;
    }
    throw std::runtime_error("cannot redirect the descriptor of " + path.string());
}

std::vector<double> oneshot(const AudioData& source, double targetRate, OutputFormat format,
    const ConversionOptions& options)
{
    const bool int16 = format == OutputFormat::int16;
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, int16 ? SOXR_INT16_I : SOXR_FLOAT32_I);
    if (int16 && !options.dither) io.flags |= SOXR_NO_DITHER;
    unsigned long recipe = rawValue(options.precision) | rawValue(options.phase);
    if (options.steepFilter) recipe |= SOXR_STEEP_FILTER;
    soxr_quality_spec_t quality =
        soxr_quality_spec(recipe, rawValue(options.rolloff) | (options.doublePrecision ? SOXR_DOUBLE_PRECISION : 0));
    quality.passband_end = options.bandwidthPercent / 100.0;

    const auto channels = static_cast<std::size_t>(source.info.channels);
    const auto capacity =
        static_cast<std::size_t>(std::ceil(static_cast<double>(source.frames()) * targetRate / source.info.samplerate)) + 64;
    std::vector<float> floats(int16 ? 0 : capacity * channels);
    std::vector<std::int16_t> shorts(int16 ? capacity * channels : 0);
    void* out = int16 ? static_cast<void*>(shorts.data()) : floats.data();
    std::size_t produced = 0;
    if (soxr_error_t error = soxr_oneshot(source.info.samplerate, targetRate, static_cast<unsigned>(channels),
            source.samples.data(), static_cast<std::size_t>(source.frames()), nullptr, out, capacity, &produced, &io,
            &quality, nullptr)) {
        throw std::runtime_error(error);
    }
    std::vector<double> samples(produced * channels);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = int16 ? shorts[i] / 32768.0 : floats[i];
    return samples;
}

} // namespace fennick::test
