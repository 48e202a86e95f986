#pragma once

#include <utility>

namespace fennick {

// Owns a POSIX file descriptor. closeChecked() reports the result of close(2), which is where
// some file systems report a failed write.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) { }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) { }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // 0, or the errno of a failed close. The descriptor is gone either way.
    int closeChecked();

private:
    int fd_ = -1;
};

} // namespace fennick
