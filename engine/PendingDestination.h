#pragma once

#include "FileDescriptor.h"

#include <sys/stat.h>

#include <filesystem>
#include <optional>

namespace fennick {

// Where a conversion's output goes. A regular file is written under a temporary name in its own
// folder and renamed over the destination only once it is complete, so that a failed or cancelled
// run never costs the file that was there; a character device (/dev/null) is written directly.
class PendingDestination {
public:
    // Looks at what is there now: a folder, FIFO, socket or block device is refused at once, with
    // the error the writer would have met. A symbolic link stands for the file it points to.
    // Throws AudioFileError.
    PendingDestination(const std::filesystem::path& destination, bool replaceExisting);
    // Removes the temporary file unless it was committed.
    ~PendingDestination();
    PendingDestination(const PendingDestination&) = delete;
    PendingDestination& operator=(const PendingDestination&) = delete;

    // The file to write: a new temporary file (created exclusively, with the permissions the
    // destination will have) or the device. Throws AudioFileError.
    FileDescriptor open();

    // Puts the complete, closed file in place. Throws DestinationExists when a file that may not
    // be replaced appeared meanwhile, AudioFileError when the rename fails.
    void commit();

    // The temporary file open() made, to finish it by name before commit(); empty for a device.
    const std::filesystem::path& temporaryPath() const { return temporary_; }

private:
    std::filesystem::path final_;
    std::filesystem::path temporary_;
    bool replaceExisting_;
    std::optional<struct stat> existing_; // what was at the destination when the run began
    bool committed_ = false;
};

} // namespace fennick
