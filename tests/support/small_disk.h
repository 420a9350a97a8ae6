#pragma once
// A file system of a few hundred kilobytes of the test's own, mounted on a folder the test names, for
// what a program does when the disk it writes to fills up. A tmpfs where the test may mount one (it
// runs as root and the system allows it); otherwise an ext2 image on a loop device; unmounted when it
// goes. unavailableReason() says why neither can be had here (for GTEST_SKIP).
#include <QString>

#include <cstdint>
#include <filesystem>

namespace lf::test {

class SmallDisk {
public:
    // Mounts a file system of `kilobytes` on mountPoint (made when missing). mounted() says whether
    // that worked; unavailableReason() why not.
    SmallDisk(const std::filesystem::path& mountPoint, int kilobytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const QString& unavailableReason() const { return reason_; }
    // The bytes free on it now.
    std::uintmax_t freeBytes() const;

private:
    std::filesystem::path mountPoint_;
    std::filesystem::path image_; // the loop file system's image, beside the mount point
    bool mounted_ = false;
    QString reason_;
};

} // namespace lf::test
