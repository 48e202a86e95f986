// A libsoxr for FENNICK_LIBSOXR that counts live resamplers, so tests can see a handle leaked
// on a failure path. It links the real libsoxr, which supplies every other name.

#include <soxr.h>

#include <dlfcn.h>

#include <atomic>

namespace {

std::atomic<int> live{0};

// The real function: the next definition after this library's own.
template <typename Fn> Fn real(const char* name) { return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name)); }

} // namespace

extern "C" {

__attribute__((visibility("default"))) int fennick_standin_live_handles() { return live; }

soxr_t soxr_create(double inputRate, double outputRate, unsigned channels, soxr_error_t* error,
    soxr_io_spec_t const* io, soxr_quality_spec_t const* quality, soxr_runtime_spec_t const* runtime)
{
    soxr_t handle
        = real<decltype(&soxr_create)>("soxr_create")(inputRate, outputRate, channels, error, io, quality, runtime);
    if (handle != nullptr) ++live;
    return handle;
}

void soxr_delete(soxr_t handle)
{
    if (handle != nullptr) --live;
    real<decltype(&soxr_delete)>("soxr_delete")(handle);
}

} // extern "C"
