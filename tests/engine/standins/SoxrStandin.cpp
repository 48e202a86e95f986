// A libsoxr for the binding tests. It exports libsoxr's names (all sixteen, or all but
// soxr_runtime_spec with FENNICK_STANDIN_WITHOUT_RUNTIME_SPEC), answers soxr_version with its
// own text, records what the engine passes and forwards every call to the real libsoxr, reached
// through its own handle so that a call never comes back here.

#include "SoxrStandin.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

namespace {

using namespace fennick::test;

StandinRecord record;
void (*deleteHook)() = nullptr;

template <typename Fn>
Fn real(Fn, const char* name)
{
    static void* const libsoxr = dlopen("libsoxr.so.0", RTLD_NOW | RTLD_LOCAL);
    void* address = libsoxr != nullptr ? dlsym(libsoxr, name) : nullptr;
    if (address == nullptr) std::abort();
    return reinterpret_cast<Fn>(address);
}
#define REAL(name) real(&::name, #name)

bool failing(const char* mode)
{
    const char* value = std::getenv(kStandinFailVariable);
    return value != nullptr && std::strcmp(value, mode) == 0;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) StandinRecord* fennick_standin_record() { return &record; }
__attribute__((visibility("default"))) void fennick_standin_on_delete(void (*hook)()) { deleteHook = hook; }

const char* soxr_version() { return FENNICK_STANDIN_VERSION; }

soxr_t soxr_create(double inputRate, double outputRate, unsigned channels, soxr_error_t* error,
    const soxr_io_spec_t* io, const soxr_quality_spec_t* quality, const soxr_runtime_spec_t* runtime)
{
    record.inputRate = inputRate;
    record.outputRate = outputRate;
    record.channels = channels;
    if (io != nullptr) record.ioGiven = *io;
    if (quality != nullptr) record.qualityGiven = *quality;
    record.runtimeSpecGiven = runtime != nullptr;
    if (failing("create") && error != nullptr) *error = kStandinCreateError;
    if (failing("create") || failing("create-silently")) return nullptr;
    soxr_t handle = REAL(soxr_create)(inputRate, outputRate, channels, error, io, quality, runtime);
    record.creates += handle != nullptr ? 1 : 0;
    return handle;
}

soxr_error_t soxr_process(soxr_t resampler, soxr_in_t in, size_t inputLength, size_t* consumed, soxr_out_t out,
    size_t outputLength, size_t* produced)
{
    if (record.outputLength == 0) record.outputLength = outputLength;
    record.outputLengthVaried |= outputLength != record.outputLength;
    if (in != nullptr && failing("process")) return kStandinProcessError;
    if (in == nullptr && failing("flush")) return kStandinFlushError;
    return REAL(soxr_process)(resampler, in, inputLength, consumed, out, outputLength, produced);
}

void soxr_delete(soxr_t resampler)
{
    if (deleteHook != nullptr) deleteHook();
    ++record.deletes;
    REAL(soxr_delete)(resampler);
}

soxr_quality_spec_t soxr_quality_spec(unsigned long recipe, unsigned long flags)
{
    record.qualityRecipe = recipe;
    record.qualityFlags = flags;
    return record.qualityReturned = REAL(soxr_quality_spec)(recipe, flags);
}

soxr_io_spec_t soxr_io_spec(soxr_datatype_t input, soxr_datatype_t output)
{
    return record.ioReturned = REAL(soxr_io_spec)(input, output);
}

// The rest only forward: the binding needs them to be there.
soxr_error_t soxr_set_input_fn(soxr_t r, soxr_input_fn_t fn, void* state, size_t max)
{
    return REAL(soxr_set_input_fn)(r, fn, state, max);
}
size_t soxr_output(soxr_t r, soxr_out_t data, size_t length) { return REAL(soxr_output)(r, data, length); }
soxr_error_t soxr_error(soxr_t r) { return REAL(soxr_error)(r); }
size_t* soxr_num_clips(soxr_t r) { return REAL(soxr_num_clips)(r); }
double soxr_delay(soxr_t r) { return REAL(soxr_delay)(r); }
const char* soxr_engine(soxr_t r) { return REAL(soxr_engine)(r); }
soxr_error_t soxr_clear(soxr_t r) { return REAL(soxr_clear)(r); }
soxr_error_t soxr_set_io_ratio(soxr_t r, double ratio, size_t slew) { return REAL(soxr_set_io_ratio)(r, ratio, slew); }
soxr_error_t soxr_oneshot(double inputRate, double outputRate, unsigned channels, soxr_in_t in, size_t inputLength,
    size_t* consumed, soxr_out_t out, size_t outputLength, size_t* produced, const soxr_io_spec_t* io,
    const soxr_quality_spec_t* quality, const soxr_runtime_spec_t* runtime)
{
    return REAL(soxr_oneshot)(
        inputRate, outputRate, channels, in, inputLength, consumed, out, outputLength, produced, io, quality, runtime);
}
#ifndef FENNICK_STANDIN_WITHOUT_RUNTIME_SPEC
soxr_runtime_spec_t soxr_runtime_spec(unsigned threads) { return REAL(soxr_runtime_spec)(threads); }
#endif

} // extern "C"
