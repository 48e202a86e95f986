#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace fennick::test {

struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a program with its output captured in files; stdin is /dev/null.
ProcessResult runProcess(const std::vector<std::string>& arguments, const std::filesystem::path& workDir);

// Runs a program on a pseudo-terminal and returns everything it wrote there.
ProcessResult runOnTerminal(const std::vector<std::string>& arguments);

} // namespace fennick::test
