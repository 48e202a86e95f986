#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace fennick::test {

struct ProcessResult {
    int exitCode = -1; // 128 + the signal's number when a signal ended it
    std::string out;
    std::string err;
};

// A program started in the background with its output captured in files; stdin is /dev/null.
class BackgroundProcess {
public:
    BackgroundProcess(const std::vector<std::string>& arguments, const std::filesystem::path& workDir);
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;
    ~BackgroundProcess();

    void signal(int number) const;
    ProcessResult wait();

private:
    std::filesystem::path outPath_, errPath_;
    int pid_ = -1;
};

inline ProcessResult runProcess(const std::vector<std::string>& arguments, const std::filesystem::path& workDir)
{
    return BackgroundProcess(arguments, workDir).wait();
}

} // namespace fennick::test
