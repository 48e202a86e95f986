// A libsoxr for FENNICK_LIBSOXR that forwards to the real one and counts the resamplers it
// makes and deletes, so tests can see a handle leaked on a failure path. The real libsoxr
// cannot fail on demand; FENNICK_STANDIN_FAIL=create or =process makes this one fail there.
// Built a second time without soxr_runtime_spec, as a library that lacks one of the names.

#include <soxr.h>

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<int> created{0};
std::atomic<int> deleted{0};
std::atomic<int> processCalls{0};

// The real library, looked up by name the first time it is needed.
template <typename Fn>
Fn real(const char* name)
{
    static void* library = dlopen("libsoxr.so.0", RTLD_NOW | RTLD_LOCAL);
    return library != nullptr ? reinterpret_cast<Fn>(dlsym(library, name)) : nullptr;
}

#define FORWARD(name, ...) real<decltype(&::name)>(#name)(__VA_ARGS__)

bool failing(const char* where)
{
    const char* value = std::getenv("FENNICK_STANDIN_FAIL");
    return value != nullptr && std::strcmp(value, where) == 0;
}

} // namespace

extern "C" {

// How many resamplers are alive: made and not yet deleted.
__attribute__((visibility("default"))) int fennick_standin_live_handles() { return created - deleted; }
__attribute__((visibility("default"))) int fennick_standin_created_handles() { return created; }

char const* soxr_version() { return "libsoxr-0.1.3-counting"; }

soxr_t soxr_create(double inputRate, double outputRate, unsigned channels, soxr_error_t* error,
    soxr_io_spec_t const* io, soxr_quality_spec_t const* quality, soxr_runtime_spec_t const* runtime)
{
    if (failing("create")) {
        if (error != nullptr) *error = "stand-in: create refused";
        return nullptr;
    }
    soxr_t handle = FORWARD(soxr_create, inputRate, outputRate, channels, error, io, quality, runtime);
    if (handle != nullptr) ++created;
    return handle;
}

soxr_error_t soxr_process(soxr_t handle, soxr_in_t in, size_t inLength, size_t* consumed, soxr_out_t out,
    size_t outLength, size_t* produced)
{
    // The first call goes through, so a failure comes after output was written.
    if (++processCalls > 1 && failing("process")) return "stand-in: process failed";
    return FORWARD(soxr_process, handle, in, inLength, consumed, out, outLength, produced);
}

void soxr_delete(soxr_t handle)
{
    if (handle != nullptr) ++deleted;
    FORWARD(soxr_delete, handle);
}

soxr_error_t soxr_set_input_fn(soxr_t handle, soxr_input_fn_t fn, void* state, size_t maxLength)
{
    return FORWARD(soxr_set_input_fn, handle, fn, state, maxLength);
}
size_t soxr_output(soxr_t handle, soxr_out_t data, size_t length) { return FORWARD(soxr_output, handle, data, length); }
soxr_error_t soxr_error(soxr_t handle) { return FORWARD(soxr_error, handle); }
size_t* soxr_num_clips(soxr_t handle) { return FORWARD(soxr_num_clips, handle); }
double soxr_delay(soxr_t handle) { return FORWARD(soxr_delay, handle); }
char const* soxr_engine(soxr_t handle) { return FORWARD(soxr_engine, handle); }
soxr_error_t soxr_clear(soxr_t handle) { return FORWARD(soxr_clear, handle); }
soxr_error_t soxr_oneshot(double inputRate, double outputRate, unsigned channels, soxr_in_t in, size_t inLength,
    size_t* consumed, soxr_out_t out, size_t outLength, size_t* produced, soxr_io_spec_t const* io,
    soxr_quality_spec_t const* quality, soxr_runtime_spec_t const* runtime)
{
    return FORWARD(soxr_oneshot, inputRate, outputRate, channels, in, inLength, consumed, out, outLength, produced, io,
        quality, runtime);
}
soxr_error_t soxr_set_io_ratio(soxr_t handle, double ratio, size_t slew) { return FORWARD(soxr_set_io_ratio, handle, ratio, slew); }
soxr_io_spec_t soxr_io_spec(soxr_datatype_t in, soxr_datatype_t out) { return FORWARD(soxr_io_spec, in, out); }
soxr_quality_spec_t soxr_quality_spec(unsigned long recipe, unsigned long flags)
{
    return FORWARD(soxr_quality_spec, recipe, flags);
}
#ifndef FENNICK_STANDIN_WITHOUT_RUNTIME_SPEC
soxr_runtime_spec_t soxr_runtime_spec(unsigned threads) { return FORWARD(soxr_runtime_spec, threads); }
#endif

} // extern "C"
