#pragma once

// Programs run as a user runs them: arguments, a working folder, stdin empty, both outputs kept.

#include <QProcess>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fennick::test {

struct ProcessResult {
    int exitCode = -1; // -1 when a signal or a crash ended it
    std::string out;
    std::string err;
};

// A program started in the background; `environment` holds NAME=VALUE entries added to ours.
class BackgroundProcess {
public:
    BackgroundProcess(const std::vector<std::string>& arguments, const std::filesystem::path& workDir,
        const QStringList& environment = {})
    {
        QStringList rest;
        for (std::size_t i = 1; i < arguments.size(); ++i) rest << QString::fromStdString(arguments[i]);
        process_.setEnvironment(QProcess::systemEnvironment() + environment);
        process_.setWorkingDirectory(QString::fromStdString(workDir.string()));
        process_.setStandardInputFile(QProcess::nullDevice());
        process_.start(QString::fromStdString(arguments.front()), rest);
        if (!process_.waitForStarted(-1)) throw std::runtime_error("cannot start " + arguments.front());
    }
    ~BackgroundProcess() { process_.waitForFinished(-1); }

    void signal(int number) const { ::kill(static_cast<pid_t>(process_.processId()), number); }
    // Whether one of its threads has this name now.
    bool hasThread(const std::string& name) const
    {
        const std::filesystem::path tasks = "/proc/" + std::to_string(process_.processId()) + "/task";
        std::error_code error;
        for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
            std::string comm;
            std::getline(std::ifstream(task.path() / "comm"), comm);
            if (comm == name) return true;
        }
        return false;
    }
    ProcessResult wait()
    {
        process_.waitForFinished(-1);
        return {process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1,
            process_.readAllStandardOutput().toStdString(), process_.readAllStandardError().toStdString()};
    }

private:
    QProcess process_;
};

inline ProcessResult runProcess(const std::vector<std::string>& arguments, const std::filesystem::path& workDir)
{
    return BackgroundProcess(arguments, workDir).wait();
}

} // namespace fennick::test
