#include "platform/replace_file.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace lf::platform {

namespace {

// The longest file name the host's file systems take, in bytes.
constexpr std::size_t kMaxNameBytes = 255;
constexpr std::string_view kMarker = ".lf-";
constexpr std::size_t kRandomLetters = 6;
// "." + the name + the marker + the letters: the part of the name a temporary keeps.
constexpr std::size_t kMaxStemBytes = kMaxNameBytes - 1 - kMarker.size() - kRandomLetters;
// Names tried before a replacement gives up: each one taken is another replacement under way.
constexpr int kAttempts = 100;

// The start of the temporary names of a target: "." + its name + ".lf-", the name cut short where
// it would make the temporary's name too long (not inside a UTF-8 sequence).
std::string temporaryPrefix(const std::string& targetName) {
    std::size_t keep = std::min(targetName.size(), kMaxStemBytes);
    while (keep > 0 && keep < targetName.size() &&
           (static_cast<unsigned char>(targetName[keep]) & 0xC0) == 0x80)
        --keep;
    return "." + targetName.substr(0, keep) + std::string(kMarker);
}

bool isLetterOrDigit(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool isTemporaryName(const std::string& name, const std::string& prefix) {
    if (name.size() != prefix.size() + kRandomLetters || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       isLetterOrDigit);
}

std::string randomLetters() {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static thread_local std::mt19937_64 rng{std::random_device{}() ^ static_cast<unsigned>(::getpid())};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string out;
    for (std::size_t i = 0; i < kRandomLetters; ++i)
        out += kLetters[pick(rng)];
    return out;
}

// Removes what killed replacements of a target left in its folder (stopped before their rename).
// Only regular files of exactly that temporary-name pattern go, and only when no replacement holds
// them: each keeps a lock on its temporary until the rename, and the lock ends with its process.
void removeLeftoverTemporaries(const std::filesystem::path& folder, const std::string& prefix) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> leftovers;
    while (const dirent* e = ::readdir(dir))
        if (isTemporaryName(e->d_name, prefix))
            leftovers.emplace_back(e->d_name);
    ::closedir(dir);
    for (const std::string& name : leftovers) {
        const std::filesystem::path file = folder / name;
        const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened {
        }, named{};
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::lstat(file.c_str(), &named) == 0 && named.st_ino == opened.st_ino &&
            named.st_dev == opened.st_dev)
            ::unlink(file.c_str());
        ::close(fd);
    }
}

mode_t defaultMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

FileReplacement::FileReplacement(const std::filesystem::path& target, const ReplaceOptions& options)
    : options_(options), target_(target) {
    std::error_code ec;
    if (options.followLink && std::filesystem::is_symlink(target_, ec)) {
        auto resolved = std::filesystem::canonical(target_, ec);
        if (!ec)
            target_ = resolved;
    }
    folder_ = target_.parent_path();
    if (folder_.empty())
        folder_ = ".";
    struct stat st {};
    const bool exists =
        (options.followLink ? ::stat(target_.c_str(), &st) : ::lstat(target_.c_str(), &st)) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        fail(ReplaceStep::IsFolder, EISDIR);
        return;
    }
    if (options.refuseReadOnly && exists) {
        if (!(st.st_mode & S_IWUSR)) {
            fail(ReplaceStep::ReadOnly, EACCES);
            return;
        }
        if (::access(target_.c_str(), W_OK) != 0) {
            fail(ReplaceStep::NotWritable, errno);
            return;
        }
    }
    const std::string prefix = temporaryPrefix(target_.filename().string());
    if (options.removeLeftovers)
        removeLeftoverTemporaries(folder_, prefix);
    // A mode given exactly is set once the file is made: the umask would take bits away.
    const bool setModeAfter = options.newMode != NewMode::Masked;
    for (int attempt = 0; attempt < kAttempts && fd_ < 0; ++attempt) {
        temporary_ = folder_ / (prefix + randomLetters());
        fd_ = ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                     setModeAfter ? 0600 : options.mode);
        if (fd_ < 0 && errno != EEXIST)
            break;
    }
    if (fd_ < 0) {
        fail(ReplaceStep::CreateTemporary, errno);
        return;
    }
    // Held until the temporary is renamed or removed: a replacement of the same target leaves it alone.
    (void)::flock(fd_, LOCK_EX | LOCK_NB);
    if (setModeAfter) {
        mode_t mode = options.mode;
        if (options.newMode == NewMode::Kept)
            mode = exists && !S_ISLNK(st.st_mode) ? (st.st_mode & 07777) : defaultMode();
        if (::fchmod(fd_, mode) != 0)
            fail(ReplaceStep::SetMode, errno);
    }
}

FileReplacement::~FileReplacement() {
    removeTemporary();
    if (kept_ >= 0)
        ::close(kept_);
}

int FileReplacement::takeFd() {
    return std::exchange(kept_, -1);
}

bool FileReplacement::fail(ReplaceStep step, int error) {
    failed_ = step;
    error_ = error;
    removeTemporary();
    return false;
}

void FileReplacement::removeTemporary() {
    if (fd_ < 0)
        return;
    // Removed before it is closed: the lock keeps other replacements off it until it is gone.
    ::unlink(temporary_.c_str());
    ::close(fd_);
    fd_ = -1;
}

bool FileReplacement::write(std::string_view bytes) {
    if (!ok())
        return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(ReplaceStep::Write, errno);
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool FileReplacement::commit() {
    if (!ok())
        return false;
    if (options_.durability == Durability::FileAndFolder) {
        if (::fsync(fd_) != 0)
            return fail(ReplaceStep::Flush, errno);
    } else {
        // Some file systems report a write that failed late only when the file is closed: a second
        // descriptor is closed here, the first keeps the lock until the rename.
        const int second = ::dup(fd_);
        if (second >= 0 && ::close(second) != 0)
            return fail(ReplaceStep::Write, errno);
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0)
        return fail(ReplaceStep::Rename, errno);
    // Flushed before the rename when that was asked for: closing can report nothing that matters now.
    if (options_.keepOpen)
        kept_ = fd_;
    else
        ::close(fd_);
    fd_ = -1;
    if (options_.durability == Durability::FileAndFolder) {
        // The new entry of the folder. The file is in place already; a failure here changes nothing.
        const int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    return true;
}

namespace {

// Sends the rest of an open file into the replacement: in the kernel where it can, as
// std::filesystem::copy_file does, else through a buffer. 0, or the errno of what failed.
int sendAll(int in, FileReplacement& out) {
    while (true) {
        const ssize_t n = ::sendfile(out.fd(), in, nullptr, std::size_t(1) << 30);
        if (n == 0)
            return 0;
        if (n > 0 || errno == EINTR)
            continue;
        if (errno != EINVAL && errno != ENOSYS)
            return errno;
        break; // the file system cannot send: read and write
    }
    std::vector<char> buffer(std::size_t(1) << 16);
    while (true) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n == 0)
            return 0;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (!out.write(std::string_view(buffer.data(), static_cast<std::size_t>(n))))
            return out.error();
    }
}

} // namespace

// Copies the file's bytes and permissions over target through a hidden temporary beside it, so
// that no listing (and no zip of the folder) ever picks up a half-written copy. 0, or the errno of
// what failed.
int copyIntoPlace(const std::filesystem::path& from, const std::filesystem::path& target) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno;
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        const int reason = errno;
        ::close(in);
        return reason;
    }
    ReplaceOptions options;
    options.newMode = NewMode::Exact;
    options.mode = st.st_mode & 07777;
    FileReplacement replacement(target, options);
    int reason = replacement.ok() ? sendAll(in, replacement) : replacement.error();
    if (reason == 0 && !replacement.commit())
        reason = replacement.error();
    ::close(in);
    return reason;
}

} // namespace lf::platform
