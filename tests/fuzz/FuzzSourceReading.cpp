// libFuzzer entry: arbitrary bytes as the source file the user picks.

#include "SourceReadingTarget.h"
#include "TestAudio.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fennick::test::TempDir scratch; // one per fuzzing process, removed when it exits normally
    fennick::fuzz::readAndConvert(data, size, scratch.path());
    return 0;
}
