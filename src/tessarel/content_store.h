#pragma once
// The content store: one file per distinct content, named by its SHA-256, under content/ab/abcd....
// New content is staged in content/tmp, synced, and only then given its name, so a name always
// stands for complete bytes; the metadata that points to it commits after that.
#include <cstdint>
#include <string>
#include <vector>

namespace lf::tessarel {

struct StagedContent {
    std::string tempPath; // "" once published, and when the store already held the content
    std::string hash;
    std::int64_t size = 0;
    bool reused = false; // the store already held these bytes: nothing was written
};

class ContentStore {
public:
    explicit ContentStore(std::string folder);

    // Copies a local file into the staging folder, hashing it on the way, and starts writing it
    // to the disk. Content the store already holds is not written again. Several threads may
    // stage at once; everything else belongs to one thread at a time. With refuseLinks, a
    // symbolic link at localFile fails (an import never follows links).
    StagedContent stage(const std::string& localFile, bool refuseLinks = false);
    // Makes every staged file durable, gives each its name and makes the names durable; called
    // under the database's write lock, before the metadata that points to the content commits.
    // Fails when content that staging found already stored has gone since.
    void publish(std::vector<StagedContent>& staged);
    // Removes staged files that were not published (an operation that failed).
    void discard(std::vector<StagedContent>& staged);

    std::string pathOf(const std::string& hash) const;
    bool contains(const std::string& hash) const;
    // Writes the content to target through a temporary file beside it, which then replaces target
    // (a symbolic link at target is replaced, never followed). The temporary's name is cut short
    // where it would be too long (platform/replace_file.h), so any target name the file system takes
    // can be written. Nothing is flushed: an export writes many files.
    void copyOut(const std::string& hash, const std::string& target) const;

    // Every content file present, by hash; and the left-over staging files.
    std::vector<std::string> allContent() const;
    std::vector<std::string> stagingLeftovers() const;
    // Hashes the file again; false when its bytes do not match its name.
    bool verify(const std::string& hash) const;
    void remove(const std::string& hash);

private:
    std::string root_;
};

// The repository's own files and folders are private to their owner, whatever the umask: files
// 0600, folders 0700. Each makes what is missing (a folder with every missing folder above it)
// and leaves what exists as it is.
void makePrivateFolder(const std::string& path);
void makePrivateFile(const std::string& path);

// SHA-256 of a file's bytes as 64 lower-case hex digits.
std::string sha256OfFile(const std::string& path);

} // namespace lf::tessarel
