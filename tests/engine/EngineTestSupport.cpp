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

// The test executable is linked with --wrap=dlopen: every dlopen of the engine comes here first.
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
    if (value != nullptr) {
        ::setenv("FENNICK_LIBSOXR", value, 1);
    } else {
        ::unsetenv("FENNICK_LIBSOXR");
    }
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

namespace {
template <typename Fn>
Fn standinFunction(const char* library, const char* name)
{
    void* handle = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) throw std::runtime_error(std::string(library) + " is not loaded");
    auto function = reinterpret_cast<Fn>(dlsym(handle, name));
    dlclose(handle); // the binding's own reference keeps it loaded
    if (function == nullptr) throw std::runtime_error(std::string(library) + " has no " + name);
    return function;
}
} // namespace

StandinRecord& standinRecord(const char* library)
{
    return *standinFunction<StandinRecordFn>(library, kStandinRecordName)();
}

void setStandinDeleteHook(const char* library, void (*hook)())
{
    standinFunction<StandinDeleteHookFn>(library, kStandinDeleteHookName)(hook);
}

void redirectDescriptor(const std::filesystem::path& path, const char* replacement, int flags)
{
    const auto target = std::filesystem::canonical(path);
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) != target || error) continue;
        const int descriptor = std::stoi(entry.path().filename().string());
        const int other = ::open(replacement, flags | O_CLOEXEC);
        if (other < 0 || ::dup2(other, descriptor) < 0) throw std::runtime_error("cannot redirect a descriptor");
        ::close(other);
        return;
    }
    throw std::runtime_error("no descriptor is open on " + path.string());
}

soxr_quality_spec_t qualitySpec(const ConversionOptions& options)
{
    unsigned long recipe = rawValue(options.precision) | rawValue(options.phase);
    if (options.steepFilter) recipe |= SOXR_STEEP_FILTER;
    unsigned long flags = rawValue(options.rolloff);
    if (options.doublePrecision) flags |= SOXR_DOUBLE_PRECISION;
    soxr_quality_spec_t quality = soxr_quality_spec(recipe, flags);
    quality.passband_end = options.bandwidthPercent / 100.0;
    return quality;
}

template <typename Sample>
std::vector<Sample> oneshot(const AudioData& source, double targetRate, soxr_datatype_t outputType,
    const ConversionOptions& options, unsigned long ioFlags)
{
    const auto channels = static_cast<unsigned>(source.info.channels);
    const double ratio = targetRate / source.info.samplerate;
    const auto capacity = static_cast<std::size_t>(std::ceil(static_cast<double>(source.frames()) * ratio)) + 64;
    std::vector<Sample> out(capacity * channels);
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, outputType);
    io.flags |= ioFlags;
    const soxr_quality_spec_t quality = qualitySpec(options);
    std::size_t produced = 0;
    if (soxr_error_t error = soxr_oneshot(source.info.samplerate, targetRate, channels, source.samples.data(),
            static_cast<std::size_t>(source.frames()), nullptr, out.data(), capacity, &produced, &io, &quality,
            nullptr)) {
        throw std::runtime_error(error);
    }
    out.resize(produced * channels);
    return out;
}

template std::vector<float> oneshot(const AudioData&, double, soxr_datatype_t, const ConversionOptions&, unsigned long);
template std::vector<std::int16_t> oneshot(
    const AudioData&, double, soxr_datatype_t, const ConversionOptions&, unsigned long);

} // namespace fennick::test
