#include "SoxrApi.h"

#include <dlfcn.h>

#include <cstdlib>
#include <utility>

namespace fennick {

namespace {

constexpr const char* kFixedPaths[] = {"/usr/local/lib/libsoxr.so.0", "/usr/local/lib/libsoxr.so"};

// Closes a library unless it was bound completely.
struct LibraryHandle {
    void* handle = nullptr;
    ~LibraryHandle()
    {
        if (handle != nullptr) dlclose(handle);
    }
    void* release() { return std::exchange(handle, nullptr); }
};

template <typename Fn> bool bind(void* handle, const char* name, Fn& slot)
{
    void* address = dlsym(handle, name);
    if (address == nullptr) return false;
    slot = reinterpret_cast<Fn>(address);
    return true;
}

} // namespace

SoxrError::SoxrError(std::string message) : std::runtime_error("libsoxr: " + message), message_(std::move(message)) { }

std::vector<std::string> libsoxrCandidatePaths()
{
    std::vector<std::string> paths;
    if (const char* variable = std::getenv("FENNICK_LIBSOXR")) paths.emplace_back(variable);
    for (const char* path : kFixedPaths) paths.emplace_back(path);
    return paths;
}

std::optional<SoxrApi> loadSoxrApi(const std::string& path)
{
    LibraryHandle library{dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)};
    if (library.handle == nullptr) return std::nullopt;

    SoxrApi api;
    void* h = library.handle;
    // && stops at the first missing name.
    const bool complete = bind(h, "soxr_version", api.soxr_version) && bind(h, "soxr_create", api.soxr_create)
        && bind(h, "soxr_process", api.soxr_process) && bind(h, "soxr_set_input_fn", api.soxr_set_input_fn)
        && bind(h, "soxr_output", api.soxr_output) && bind(h, "soxr_error", api.soxr_error)
        && bind(h, "soxr_num_clips", api.soxr_num_clips) && bind(h, "soxr_delay", api.soxr_delay)
        && bind(h, "soxr_engine", api.soxr_engine) && bind(h, "soxr_clear", api.soxr_clear)
        && bind(h, "soxr_delete", api.soxr_delete) && bind(h, "soxr_oneshot", api.soxr_oneshot)
        && bind(h, "soxr_set_io_ratio", api.soxr_set_io_ratio) && bind(h, "soxr_io_spec", api.soxr_io_spec)
        && bind(h, "soxr_quality_spec", api.soxr_quality_spec) && bind(h, "soxr_runtime_spec", api.soxr_runtime_spec);
    if (!complete) return std::nullopt;

    library.release(); // the bound library lives as long as the process
    api.libraryPath = path;
    return api;
}

SoxrApi linkedSoxrApi()
{
    SoxrApi api;
    api.soxr_version = &::soxr_version;
    api.soxr_create = &::soxr_create;
    api.soxr_process = &::soxr_process;
    api.soxr_set_input_fn = &::soxr_set_input_fn;
    api.soxr_output = &::soxr_output;
    api.soxr_error = &::soxr_error;
    api.soxr_num_clips = &::soxr_num_clips;
    api.soxr_delay = &::soxr_delay;
    api.soxr_engine = &::soxr_engine;
    api.soxr_clear = &::soxr_clear;
    api.soxr_delete = &::soxr_delete;
    api.soxr_oneshot = &::soxr_oneshot;
    api.soxr_set_io_ratio = &::soxr_set_io_ratio;
    api.soxr_io_spec = &::soxr_io_spec;
    api.soxr_quality_spec = &::soxr_quality_spec;
    api.soxr_runtime_spec = &::soxr_runtime_spec;
    return api;
}

SoxrApi resolveSoxrApi(const std::vector<std::string>& candidates)
{
    for (const auto& path : candidates) {
        if (auto api = loadSoxrApi(path)) return *std::move(api);
    }
    return linkedSoxrApi();
}

SoxrApi resolveSoxrApi() { return resolveSoxrApi(libsoxrCandidatePaths()); }

const SoxrApi& SoxrApi::shared()
{
    // A function-local static is initialised exactly once, racing first uses wait for it.
    static const SoxrApi api = resolveSoxrApi();
    return api;
}

std::string soxrVersionText(const SoxrApi& api)
{
    const char* version = api.soxr_version();
    return version != nullptr ? std::string(version) : std::string("unknown");
}

std::string soxrVersionText() { return soxrVersionText(SoxrApi::shared()); }

} // namespace fennick
