// libFuzzer entry: arbitrary bytes as the source file the user picks.

#include "SourceReadingTarget.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// One scratch folder per fuzzing process, removed when it exits normally.
struct ScratchDir {
    std::filesystem::path path;
    ScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "fennick-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const ScratchDir scratch;
    fennick::fuzz::readAndConvert(data, size, scratch.path);
    return 0;
}
