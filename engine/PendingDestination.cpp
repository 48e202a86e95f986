#include "PendingDestination.h"

#include "Sndfile.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <random>

namespace fennick {

namespace {

bool isDevice(const std::optional<struct stat>& status) { return status && S_ISCHR(status->st_mode); }

// A name no other run picks: hidden, beside the destination, so the rename stays on one file system.
std::filesystem::path temporaryNameFor(const std::filesystem::path& final)
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(8, ' ');
    for (char& letter : suffix) letter = kLetters[random() % (sizeof kLetters - 1)];
    return final.parent_path() / ("." + final.filename().string() + "." + suffix + ".fennick-partial");
}

// Moves `from` to `to` unless something is at `to` already. renameat2 does it in one step; on a
// file system without it, a hard link (which never replaces) followed by removing the old name.
int renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

} // namespace

PendingDestination::PendingDestination(const std::filesystem::path& destination, bool replaceExisting)
    : final_(destination), replaceExisting_(replaceExisting)
{
    std::error_code ignored;
    if (std::filesystem::is_symlink(destination, ignored))
        final_ = std::filesystem::weakly_canonical(destination, ignored);
    struct stat status { };
    if (::stat(final_.c_str(), &status) == 0) existing_ = status;
    if (!existing_) return;
    if (!replaceExisting_) throw DestinationExists(final_);
    if (S_ISDIR(existing_->st_mode)) throw systemError(EISDIR);
    // A WAV header is rewritten in place, and a disk must never be overwritten by mistake.
    if (!S_ISREG(existing_->st_mode) && !S_ISCHR(existing_->st_mode)) throw AudioFileError("Not a regular file.");
}

PendingDestination::~PendingDestination()
{
    if (!temporary_.empty() && !committed_) ::unlink(temporary_.c_str());
}

FileDescriptor PendingDestination::open()
{
    if (isDevice(existing_)) {
        FileDescriptor fd(::open(final_.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK));
        if (!fd.valid()) throw systemError(errno);
        ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
        return fd;
    }
    for (;;) {
        const std::filesystem::path candidate = temporaryNameFor(final_);
        // 0666 less the umask, as any new file; a file being replaced lends its own mode instead.
        // Readable too: the writer reads its header back to complete it.
        FileDescriptor fd(::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!fd.valid() && errno == EEXIST) continue;
        if (!fd.valid()) throw systemError(errno);
        temporary_ = candidate;
        if (existing_) {
            ::fchmod(fd.get(), existing_->st_mode & 07777);
            [[maybe_unused]] const int owned = ::fchown(fd.get(), existing_->st_uid, existing_->st_gid);
        }
        return fd;
    }
}

void PendingDestination::commit()
{
    if (temporary_.empty()) return; // a device: written in place
    if (replaceExisting_) {
        if (::rename(temporary_.c_str(), final_.c_str()) != 0) throw systemError(errno);
    } else if (const int error = renameWithoutReplacing(temporary_, final_); error != 0) {
        if (error == EEXIST) throw DestinationExists(final_);
        throw systemError(error);
    }
    committed_ = true;
}

} // namespace fennick
