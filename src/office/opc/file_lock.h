#pragma once
// The writer's lock on a package file: a program that changes a file holds it from reading the file
// to saving it, so two writers of one file run one after the other and neither loses the other's
// change. It is an advisory lock (flock) on the file itself, which leaves nothing beside the file.
// A save in place puts a new file at the path by a rename, so a lock on the old file would guard
// nothing: the save hands the lock on to the new file (Package::save), and a waiter that gets the old
// file's lock sees that it is no longer the file at the path and tries again. Readers take no lock.
#include <filesystem>
#include <functional>

namespace lf::opc {

// How long a writer waits for another to finish: it tries, sleeps a step through `sleep`, and tries
// again until the steps it slept add up to `limitMs`.
struct LockWait {
    int limitMs = 20000;
    int stepMs = 50;
    std::function<void(int milliseconds)> sleep;
};

class FileLock {
public:
    // Locks the file at the path, waiting as `wait` says. Throws FileBusyError when another holder
    // keeps it past the wait, PackageError when the file cannot be opened. Locks of one file exclude
    // each other also within a process; a program that opens a file twice shares the one lock.
    static FileLock acquire(const std::filesystem::path& file, const LockWait& wait);
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Whether the locked file is the one at the path now.
    bool holds(const std::filesystem::path& file) const;
    // Takes over the descriptor of the file that replaced the locked one, already locked, and lets
    // the old one go.
    void moveTo(int lockedFd);

private:
    explicit FileLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

} // namespace lf::opc
