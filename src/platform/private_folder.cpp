#include "platform/private_folder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace lf::platform {

namespace fs = std::filesystem;

namespace {

// The file whose lock its owner holds, and the name it has until it is locked: a later run looks
// only at ".owner", so it never meets a lock file that is not locked yet.
constexpr const char* kOwnerFile = ".owner";
constexpr const char* kUnlockedOwnerFile = ".owner-new";
// mkdtemp's random part.
constexpr std::size_t kRandomLetters = 6;
// A folder without its lock file is one being made (a matter of microseconds), one whose owner died
// in between, or one of a program from before the locks, which may still be running while its
// successor is installed. Past a day it is taken for abandoned.
constexpr std::chrono::hours kWithoutLockLimit{24};

bool isLetterOrDigit(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool isFolderOfKind(const std::string& name, const std::string& kind) {
    const std::string prefix = kind + "-";
    if (name.size() != prefix.size() + kRandomLetters || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       isLetterOrDigit);
}

std::system_error failure(const std::string& what, int error) {
    return std::system_error(error, std::generic_category(), what);
}

} // namespace

PrivateFolder::PrivateFolder(const std::string& kind, const fs::path& parent) {
    const fs::path in = parent.empty() ? fs::temp_directory_path() : parent;
    removeAbandoned(kind, in);
    std::string pattern = (in / (kind + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        throw failure("cannot make a private folder in " + in.string(), errno);
    path_ = pattern;
    // Locked under another name, then renamed: the lock goes with the file.
    const fs::path unlocked = path_ / kUnlockedOwnerFile;
    lock_ = ::open(unlocked.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock_ < 0 || ::flock(lock_, LOCK_EX | LOCK_NB) != 0 ||
        ::rename(unlocked.c_str(), (path_ / kOwnerFile).c_str()) != 0) {
        const int error = errno;
        if (lock_ >= 0)
            ::close(lock_);
        std::error_code ignored;
        fs::remove_all(path_, ignored);
        throw failure("cannot lock the private folder " + path_.string(), error);
    }
}

PrivateFolder::~PrivateFolder() {
    // Removed while the lock is still held: no later run takes it for abandoned half way.
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    ::close(lock_);
}

void PrivateFolder::removeAbandoned(const std::string& kind, const fs::path& parent) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(parent, error)) {
        if (!isFolderOfKind(entry.path().filename().string(), kind))
            continue;
        struct stat folder {};
        if (::lstat(entry.path().c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode) ||
            folder.st_uid != ::getuid())
            continue;
        const fs::path owner = entry.path() / kOwnerFile;
        const int lock = ::open(owner.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        std::error_code ignored;
        if (lock < 0) {
            const auto age =
                std::chrono::system_clock::now() - std::chrono::system_clock::from_time_t(folder.st_mtime);
            if (errno == ENOENT && age > kWithoutLockLimit)
                fs::remove_all(entry.path(), ignored);
            continue;
        }
        // Held until the folder is gone: two runs cleaning up at once do not meet.
        if (::flock(lock, LOCK_EX | LOCK_NB) == 0)
            fs::remove_all(entry.path(), ignored);
        ::close(lock);
    }
}

} // namespace lf::platform
