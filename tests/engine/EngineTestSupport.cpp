#include "EngineTestSupport.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <stdexcept>

using fennick::test::soxrRecord;

namespace {
std::mutex logMutex;
std::vector<std::string> dlopenLog;
std::mutex recordMutex; // channel groups call libsoxr from threads of their own
} // namespace

// The test executable is linked with --wrap for these names, so the engine's calls pass here.
extern "C" {
decltype(dlopen) __real_dlopen;
decltype(close) __real_close;
decltype(soxr_quality_spec) __real_soxr_quality_spec;
decltype(soxr_create) __real_soxr_create;
decltype(soxr_process) __real_soxr_process;
decltype(soxr_delete) __real_soxr_delete;

void* __wrap_dlopen(const char* file, int mode)
{
    if (file != nullptr && (mode & RTLD_NOLOAD) == 0) {
        std::lock_guard lock(logMutex);
        dlopenLog.emplace_back(file);
    }
    return __real_dlopen(file, mode);
}

soxr_quality_spec_t __wrap_soxr_quality_spec(unsigned long recipe, unsigned long flags)
{
    soxrRecord.recipe = recipe;
    soxrRecord.flags = flags;
    return __real_soxr_quality_spec(recipe, flags);
}

soxr_t __wrap_soxr_create(double inputRate, double outputRate, unsigned channels, soxr_error_t* error,
    const soxr_io_spec_t* io, const soxr_quality_spec_t* quality, const soxr_runtime_spec_t* runtime)
{
    std::lock_guard lock(recordMutex);
    soxrRecord.io = *io;
    soxrRecord.quality = *quality;
    soxrRecord.runtimeThreads = runtime != nullptr ? runtime->num_threads : 0;
    if (soxrRecord.failCreate) return nullptr;
    soxr_t handle = __real_soxr_create(inputRate, outputRate, channels, error, io, quality, runtime);
    soxrRecord.creates += handle != nullptr ? 1 : 0;
    return handle;
}

soxr_error_t __wrap_soxr_process(soxr_t resampler, soxr_in_t in, size_t inputLength, size_t* consumed, soxr_out_t out,
    size_t outputLength, size_t* produced)
{
    std::unique_lock lock(recordMutex);
    if (soxrRecord.outputLength == 0) soxrRecord.outputLength = outputLength;
    soxrRecord.flushes += in == nullptr ? 1 : 0;
    soxrRecord.outputLengthVaried |= outputLength != soxrRecord.outputLength;
    if (in != nullptr && soxrRecord.failProcess) return "processing failed";
    if (in == nullptr && soxrRecord.failFlush) return "flushing failed";
    lock.unlock();
    return __real_soxr_process(resampler, in, inputLength, consumed, out, outputLength, produced);
}

// A descriptor closed twice may by then be another thread's file.
int __wrap_close(int fd)
{
    const int result = __real_close(fd);
    if (result != 0 && errno == EBADF) ++soxrRecord.closesOfClosedDescriptors;
    return result;
}

void __wrap_soxr_delete(soxr_t resampler)
{
    if (soxrRecord.onDelete) soxrRecord.onDelete();
    ++soxrRecord.deletes;
    __real_soxr_delete(resampler);
}
} // extern "C"

namespace fennick::test {

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

void redirectDescriptor(const std::string& namePart, const char* replacement)
{
    int redirected = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error).filename().string().find(namePart)
            == std::string::npos) {
            continue;
        }
        const int other = ::open(replacement, O_WRONLY | O_CLOEXEC);
        redirected += other >= 0 && ::dup2(other, std::stoi(entry.path().filename().string())) >= 0;
        if (other >= 0) ::close(other);
    }
    if (redirected == 0) throw std::runtime_error("no open file named like " + namePart);
}

} // namespace fennick::test
