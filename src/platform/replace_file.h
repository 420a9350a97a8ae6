#pragma once
// One way to replace a file safely: the new bytes go to a hidden temporary file beside the target,
// which is then renamed over it, so a reader (or a crash, or a full disk) never meets a half-written
// file and a failed replacement leaves the old file exactly as it was. Plain std::filesystem and
// POSIX, no Qt: the office engine's package layer writes through it as well as the program's copies,
// the repository's exports and the zip packer.
//
// The temporary is named "." + the target's name + ".lf-" + six letters or digits, in the target's
// folder (a name too long for that is cut short first, so any name the file system takes can be
// written). Each replacement makes a temporary of its own, so several replacements into one folder,
// of one target even, never meet; each holds a lock on its temporary until it is renamed or removed.
#include <filesystem>
#include <string_view>
#include <sys/types.h>

namespace lf::platform {

// How far a replacement makes sure the new file survives a crash of the machine.
enum class Durability {
    None,          // renamed into place; the system writes the bytes out in its own time
    FileAndFolder, // the bytes are flushed before the rename, the folder's new entry after it
};

// The permissions the new file gets.
enum class NewMode {
    Masked, // `mode` less the umask (and as a folder's default ACL has it), as for any new file
    Exact,  // `mode` exactly, whatever the umask
    Kept,   // those of the file replaced; where there is none, 0666 less the umask
};

struct ReplaceOptions {
    Durability durability = Durability::None;
    NewMode newMode = NewMode::Masked;
    mode_t mode = 0666; // for Masked and Exact
    // A file whose mode has no write bit for its owner is read-only and refused, even for root (root
    // may write anything, so asking whether the caller may write would not tell); so is one the
    // caller may not write, though the folder would allow the rename.
    bool refuseReadOnly = false;
    // A symbolic link at the target: the file it leads to is replaced. Otherwise the link itself is.
    bool followLink = false;
    // Temporaries of this target that killed replacements left (not locked by a live one) are removed
    // first. It reads the whole folder: a caller writing many files into one folder turns it off.
    bool removeLeftovers = true;
    // The new file stays open after the commit, with the lock the replacement held on it, for the
    // caller to take (takeFd): a writer that holds a lock on the file it replaces goes on holding one
    // on the file that took its place, with no moment when the file at the path is unlocked.
    bool keepOpen = false;
};

// The step a replacement failed at.
enum class ReplaceStep {
    None,
    IsFolder,        // a folder has the target's name
    ReadOnly,        // refuseReadOnly: the owner may not write the file
    NotWritable,     // refuseReadOnly: the caller may not write the file
    CreateTemporary, // the temporary could not be made in the folder
    SetMode,         // its permissions could not be set
    Write,           // writing it failed (write, or a write error that closing reports)
    Flush,           // flushing it to the disk failed
    Rename,          // it could not be renamed over the target
};

// One replacement under way. Made, it holds its temporary open (fd()) unless a step failed; the
// caller writes the new bytes, then commit() puts them in place. A replacement that is not committed
// removes its temporary when it goes, whatever way the caller leaves.
class FileReplacement {
public:
    explicit FileReplacement(const std::filesystem::path& target, const ReplaceOptions& options = {});
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    bool ok() const { return failed_ == ReplaceStep::None; }
    ReplaceStep failedStep() const { return failed_; }
    int error() const { return error_; } // the errno of the failed step

    // The temporary, open for reading and writing; -1 once a step failed or after commit.
    int fd() const { return fd_; }
    // The file replaced: the target, or the file a followed link leads to.
    const std::filesystem::path& target() const { return target_; }
    const std::filesystem::path& folder() const { return folder_; }
    // The temporary's name (the last one tried, when none could be made).
    const std::filesystem::path& temporary() const { return temporary_; }

    // Appends bytes to the temporary; false (the step Write) when that fails.
    bool write(std::string_view bytes);
    // Flushes as the options ask, renames the temporary over the target and closes it; false (with
    // the step and errno) when that fails, the temporary then removed and the target untouched.
    bool commit();
    // With keepOpen, after a commit: the descriptor of the new file, locked (flock, exclusive), now the
    // caller's to close; -1 otherwise.
    int takeFd();

private:
    bool fail(ReplaceStep step, int error);
    void removeTemporary();

    ReplaceOptions options_;
    std::filesystem::path target_;
    std::filesystem::path folder_;
    std::filesystem::path temporary_;
    int fd_ = -1;
    int kept_ = -1; // the new file after a commit with keepOpen, until taken
    ReplaceStep failed_ = ReplaceStep::None;
    int error_ = 0;
};

// Copies the file's bytes and permissions over target through a hidden temporary beside it, so that
// no listing (and no zip of the folder) ever picks up a half-written copy. 0, or the errno of what
// failed; the target is then untouched.
int copyIntoPlace(const std::filesystem::path& from, const std::filesystem::path& target);

} // namespace lf::platform
