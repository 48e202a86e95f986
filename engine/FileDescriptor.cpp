#include "FileDescriptor.h"

#include <cerrno>
#include <unistd.h>

namespace fennick {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        closeChecked();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

FileDescriptor::~FileDescriptor() { closeChecked(); }

int FileDescriptor::closeChecked()
{
    if (fd_ < 0) return 0;
    // Linux releases the descriptor even when close fails, so it is never retried.
    const int result = ::close(std::exchange(fd_, -1));
    return result == 0 ? 0 : errno;
}

} // namespace fennick
