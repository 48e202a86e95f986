#pragma once

// What happens to a file the user picks, driven by arbitrary bytes: the header read behind
// loading it into the window, then a quick conversion into a small output. Shared by the
// libFuzzer target and the regression test that replays its findings.

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace fennick::fuzz {

// Writes `data` as a file in `workDir` and reads and converts it. The engine's own errors are
// expected; anything else (a crash, another exception, a broken promise) is a finding and aborts.
void readAndConvert(const std::uint8_t* data, std::size_t size, const std::filesystem::path& workDir);

} // namespace fennick::fuzz
