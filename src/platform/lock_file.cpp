#include "platform/lock_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lf::platform {

namespace {

std::string readAll(int fd) {
    std::string text;
    char buffer[512];
    ssize_t n;
    off_t at = 0;
    while ((n = ::pread(fd, buffer, sizeof buffer, at)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
        at += n;
    }
    return text;
}

} // namespace

std::optional<LockFile> LockFile::tryTake(const std::filesystem::path& path, std::string_view holder,
                                          std::string* heldBy, std::string* error) {
    // The holder removes the file as it lets go: a lock taken on a file that was removed (or replaced)
    // meanwhile locks nothing anyone else sees, so the file at the path is opened again.
    for (;;) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            if (error)
                *error = std::strerror(errno);
            return std::nullopt;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int why = errno;
            if (why == EWOULDBLOCK) {
                if (heldBy)
                    *heldBy = readAll(fd);
            } else if (error) {
                *error = std::strerror(why);
            }
            ::close(fd);
            return std::nullopt;
        }
        struct stat locked {};
        struct stat there {};
        if (::fstat(fd, &locked) != 0 || ::stat(path.c_str(), &there) != 0 || locked.st_dev != there.st_dev ||
            locked.st_ino != there.st_ino) {
            ::close(fd);
            continue;
        }
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, holder.data(), holder.size(), 0) < 0) {
            // The lock holds without the holder's name; another run then only learns that one holds it.
        }
        return LockFile(path, fd);
    }
}

LockFile::LockFile(LockFile&& other) noexcept : path_(std::move(other.path_)), fd_(other.fd_) {
    other.fd_ = -1;
}

LockFile& LockFile::operator=(LockFile&& other) noexcept {
    if (this != &other) {
        release();
        path_ = std::move(other.path_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

LockFile::~LockFile() {
    release();
}

void LockFile::release() noexcept {
    if (fd_ < 0)
        return;
    // Removed while still held, so that no one takes a lock on a file about to go.
    ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
}

} // namespace lf::platform
