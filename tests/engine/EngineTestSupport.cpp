#include "EngineTestSupport.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

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

StandinRecord& standinRecord(const char* library)
{
    void* handle = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    void* record = handle != nullptr ? dlsym(handle, kStandinRecordName) : nullptr;
    if (handle != nullptr) dlclose(handle); // the binding's own reference keeps it loaded
    if (record == nullptr) throw std::runtime_error(std::string(library) + " is not bound");
    return *static_cast<StandinRecord*>(record);
}

void redirectDescriptor(const std::filesystem::path& path, const char* replacement)
{
    const auto target = std::filesystem::canonical(path);
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) != target) continue;
        const int other = ::open(replacement, O_WRONLY | O_CLOEXEC);
        const bool done = other >= 0 && ::dup2(other, std::stoi(entry.path().filename().string())) >= 0;
        if (other >= 0) ::close(other);
        if (done) return;
    }
    throw std::runtime_error("cannot redirect the descriptor of " + path.string());
}

} // namespace fennick::test
