// A libsoxr bound through FENNICK_LIBSOXR: its own version text, a record of what the engine
// passes, failures on demand. It forwards to the real libsoxr, a dependency that also supplies
// every name not defined here.

#include "SoxrStandin.h"

#include <dlfcn.h>

using fennick::test::StandinRecord;

extern "C" {
__attribute__((visibility("default"))) StandinRecord fennick_standin_record{};
}

namespace {

StandinRecord& record = fennick_standin_record;

// The real libsoxr's function of that name, never this library's own.
template <typename Fn>
Fn real(Fn, const char* name)
{
    static void* const libsoxr = dlopen("libsoxr.so.0", RTLD_NOW | RTLD_LOCAL);
    return reinterpret_cast<Fn>(dlsym(libsoxr, name));
}

} // namespace

extern "C" {

const char* soxr_version() { return FENNICK_STANDIN_VERSION; }

soxr_quality_spec_t soxr_quality_spec(unsigned long recipe, unsigned long flags)
{
    record.recipe = recipe;
    record.flags = flags;
    return real(&soxr_quality_spec, "soxr_quality_spec")(recipe, flags);
}

soxr_t soxr_create(double inputRate, double outputRate, unsigned channels, soxr_error_t* error,
    const soxr_io_spec_t* io, const soxr_quality_spec_t* quality, const soxr_runtime_spec_t* runtime)
{
    record.io = *io;
    record.quality = *quality;
    record.runtimeGiven = runtime != nullptr;
    if (record.failCreate) return nullptr;
    soxr_t handle = real(&soxr_create, "soxr_create")(inputRate, outputRate, channels, error, io, quality, runtime);
    record.creates += handle != nullptr ? 1 : 0;
    return handle;
}

soxr_error_t soxr_process(soxr_t resampler, soxr_in_t in, size_t inputLength, size_t* consumed, soxr_out_t out,
    size_t outputLength, size_t* produced)
{
    if (record.outputLength == 0) record.outputLength = outputLength;
    record.outputLengthVaried |= outputLength != record.outputLength;
    if (in == nullptr && record.failFlush) return fennick::test::kStandinFlushError;
    return real(&soxr_process, "soxr_process")(resampler, in, inputLength, consumed, out, outputLength, produced);
}

void soxr_delete(soxr_t resampler)
{
    if (record.onDelete != nullptr) record.onDelete();
    ++record.deletes;
    real(&soxr_delete, "soxr_delete")(resampler);
}

} // extern "C"
