// A libsoxr that the binding loads through FENNICK_LIBSOXR: linked to the real one, which
// answers every name but two; soxr_process waits while the test holds its gate shut, so a test
// can keep a run in the middle of its work for as long as it needs.

#include <soxr.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {
std::atomic<bool> shut{false};
} // namespace

extern "C" {

__attribute__((visibility("default"))) void fennick_gate_shut(int value) { shut = value != 0; }

const char* soxr_version() { return "gated-libsoxr"; }

soxr_error_t soxr_process(
    soxr_t resampler, soxr_in_t in, size_t ilen, size_t* idone, soxr_out_t out, size_t olen, size_t* odone)
{
    static const auto real = reinterpret_cast<decltype(&soxr_process)>(
        dlsym(dlopen("libsoxr.so.0", RTLD_NOW | RTLD_LOCAL), "soxr_process"));
    if (real == nullptr) std::abort();
    while (shut) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return real(resampler, in, ilen, idone, out, olen, odone);
}

} // extern "C"
