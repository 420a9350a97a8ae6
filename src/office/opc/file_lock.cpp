#include "office/opc/file_lock.h"

#include "office/opc/package.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace lf::opc {

namespace {

// Whether the descriptor is still the file at the path (a save may have put another there).
bool isFileAt(int fd, const std::filesystem::path& file) {
    struct stat locked {
    }, named{};
    return ::fstat(fd, &locked) == 0 && ::stat(file.c_str(), &named) == 0 && locked.st_dev == named.st_dev &&
           locked.st_ino == named.st_ino;
}

} // namespace

FileLock FileLock::acquire(const std::filesystem::path& file, const LockWait& wait) {
    int slept = 0;
    while (true) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            throw PackageError(file.string() + ": cannot open: " + std::strerror(errno));
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (isFileAt(fd, file))
                return FileLock(fd);
            ::close(fd); // replaced by the holder's save: lock the new file
            continue;
        }
        const int reason = errno;
        ::close(fd);
        if (reason != EWOULDBLOCK && reason != EINTR)
            throw PackageError(file.string() + ": cannot lock: " + std::strerror(reason));
        if (slept >= wait.limitMs)
            throw FileBusyError(file.string() + ": another program holds the file");
        const int step = std::max(1, std::min(wait.stepMs, wait.limitMs - slept));
        if (wait.sleep)
            wait.sleep(step);
        slept += step;
    }
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

FileLock::~FileLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool FileLock::holds(const std::filesystem::path& file) const {
    return fd_ >= 0 && isFileAt(fd_, file);
}

void FileLock::moveTo(int lockedFd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = lockedFd;
}

} // namespace lf::opc
