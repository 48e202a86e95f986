// A libsoxr that the binding loads through FENNICK_LIBSOXR: linked to the real one, which answers
// every name but two. soxr_process waits while its gate is shut, so that a test can hold a run in
// the middle of its work for as long as it needs: in-process through fennick_gate_shut, and from
// another process while the file named by FENNICK_TEST_GATE exists (it makes FILE.reached when a
// run first waits there).

#include <soxr.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

namespace {
std::atomic<bool> shut{false};
std::atomic<int> held{0}; // calls waiting at the gate now

bool gateFileShut()
{
    static const char* const gate = std::getenv("FENNICK_TEST_GATE");
    if (gate == nullptr || ::access(gate, F_OK) != 0) return false;
    static const bool announced = [] {
        if (std::FILE* reached = std::fopen((std::string(gate) + ".reached").c_str(), "w")) std::fclose(reached);
        return true;
    }();
    return announced;
}
} // namespace

extern "C" {

__attribute__((visibility("default"))) void fennick_gate_shut(int value) { shut = value != 0; }
__attribute__((visibility("default"))) int fennick_gate_held() { return held; }

const char* soxr_version() { return "gated-libsoxr"; }

soxr_error_t soxr_process(
    soxr_t resampler, soxr_in_t in, size_t ilen, size_t* idone, soxr_out_t out, size_t olen, size_t* odone)
{
    static const auto real = reinterpret_cast<decltype(&soxr_process)>(
        dlsym(dlopen("libsoxr.so.0", RTLD_NOW | RTLD_LOCAL), "soxr_process"));
    if (real == nullptr) std::abort();
    ++held;
    while (shut || gateFileShut()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    --held;
    return real(resampler, in, ilen, idone, out, olen, odone);
}

} // extern "C"
