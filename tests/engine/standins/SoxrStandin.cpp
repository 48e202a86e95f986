// A complete libsoxr with its own version text: it links the real libsoxr, which supplies every
// other name the binding looks up.

extern "C" __attribute__((visibility("default"))) const char* soxr_version() { return FENNICK_STANDIN_VERSION; }
