// A libsoxr that the binding loads through FENNICK_LIBSOXR: every call goes on to the real
// libsoxr, but soxr_process waits while the test holds its gate shut, so a test can keep a run
// in the middle of its work for as long as it needs.

#include <soxr.h>

#include <dlfcn.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex mutex;
std::condition_variable opened;
bool shut = false;

template <typename Fn>
Fn real(Fn, const char* name)
{
    static void* const libsoxr = dlopen("libsoxr.so.0", RTLD_NOW | RTLD_LOCAL);
    void* address = libsoxr != nullptr ? dlsym(libsoxr, name) : nullptr;
    if (address == nullptr) std::abort();
    return reinterpret_cast<Fn>(address);
}
#define REAL(name) real(&::name, #name)

} // namespace

extern "C" {

__attribute__((visibility("default"))) void fennick_gate_shut(int value)
{
    {
        const std::lock_guard lock(mutex);
        shut = value != 0;
    }
    opened.notify_all();
}

const char* soxr_version() { return "gated-libsoxr"; }

soxr_error_t soxr_process(soxr_t resampler, soxr_in_t in, size_t ilen, size_t* idone, soxr_out_t out, size_t olen,
    size_t* odone)
{
    {
        std::unique_lock lock(mutex);
        opened.wait(lock, [] { return !shut; });
    }
    return REAL(soxr_process)(resampler, in, ilen, idone, out, olen, odone);
}

soxr_t soxr_create(double a, double b, unsigned c, soxr_error_t* d, const soxr_io_spec_t* e,
    const soxr_quality_spec_t* f, const soxr_runtime_spec_t* g)
{
    return REAL(soxr_create)(a, b, c, d, e, f, g);
}
soxr_error_t soxr_set_input_fn(soxr_t a, soxr_input_fn_t b, void* c, size_t d) { return REAL(soxr_set_input_fn)(a, b, c, d); }
size_t soxr_output(soxr_t a, soxr_out_t b, size_t c) { return REAL(soxr_output)(a, b, c); }
soxr_error_t soxr_error(soxr_t a) { return REAL(soxr_error)(a); }
size_t* soxr_num_clips(soxr_t a) { return REAL(soxr_num_clips)(a); }
double soxr_delay(soxr_t a) { return REAL(soxr_delay)(a); }
char const* soxr_engine(soxr_t a) { return REAL(soxr_engine)(a); }
soxr_error_t soxr_clear(soxr_t a) { return REAL(soxr_clear)(a); }
void soxr_delete(soxr_t a) { REAL(soxr_delete)(a); }
soxr_error_t soxr_oneshot(double a, double b, unsigned c, soxr_in_t d, size_t e, size_t* f, soxr_out_t g, size_t h,
    size_t* i, const soxr_io_spec_t* j, const soxr_quality_spec_t* k, const soxr_runtime_spec_t* l)
{
    return REAL(soxr_oneshot)(a, b, c, d, e, f, g, h, i, j, k, l);
}
soxr_error_t soxr_set_io_ratio(soxr_t a, double b, size_t c) { return REAL(soxr_set_io_ratio)(a, b, c); }
soxr_io_spec_t soxr_io_spec(soxr_datatype_t a, soxr_datatype_t b) { return REAL(soxr_io_spec)(a, b); }
soxr_quality_spec_t soxr_quality_spec(unsigned long a, unsigned long b) { return REAL(soxr_quality_spec)(a, b); }
soxr_runtime_spec_t soxr_runtime_spec(unsigned a) { return REAL(soxr_runtime_spec)(a); }

} // extern "C"
