#pragma once
// An exclusive lock that lives as long as one object: an advisory lock (flock) on a small file that
// names its holder. A process that ends, however it ends, lets go of it; the file goes when the holder
// lets go, so nothing is left where the lock stood.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace lf::platform {

class LockFile {
public:
    // Takes the lock at path without waiting and writes holder into its file. When another holds it,
    // returns nothing and puts what that holder wrote into *heldBy (empty when it had not written yet);
    // when the file cannot be made, returns nothing with the reason in *error.
    static std::optional<LockFile> tryTake(const std::filesystem::path& path, std::string_view holder,
                                           std::string* heldBy, std::string* error);

    LockFile(LockFile&& other) noexcept;
    LockFile& operator=(LockFile&& other) noexcept;
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    ~LockFile();

private:
    LockFile(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}
    void release() noexcept;

    std::filesystem::path path_;
    int fd_ = -1;
};

} // namespace lf::platform
