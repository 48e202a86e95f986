#include "RunProcess.h"

#include "TestAudio.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <utility>

#include <stdexcept>

extern char** environ;

namespace fennick::test {

namespace {
std::vector<char*> argv(const std::vector<std::string>& arguments)
{
    std::vector<char*> result;
    for (const auto& argument : arguments) result.push_back(const_cast<char*>(argument.c_str()));
    result.push_back(nullptr);
    return result;
}

int exitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }
} // namespace

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& arguments, const std::filesystem::path& workDir)
    : outPath_(workDir / ".stdout"), errPath_(workDir / ".stderr")
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    auto args = argv(arguments);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + arguments.front());
    pid_ = pid;
}

BackgroundProcess::~BackgroundProcess()
{
    if (pid_ > 0) wait();
}

void BackgroundProcess::signal(int number) const { ::kill(pid_, number); }

ProcessResult BackgroundProcess::wait()
{
    int status = 0;
    waitpid(std::exchange(pid_, -1), &status, 0);
    ProcessResult result{exitCodeOf(status), fileBytes(outPath_), fileBytes(errPath_)};
    std::filesystem::remove(outPath_);
    std::filesystem::remove(errPath_);
    return result;
}

} // namespace fennick::test
