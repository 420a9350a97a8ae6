#pragma once
// The content store: one file per distinct content, named by its SHA-256, under content/ab/abcd....
// New content is staged in content/tmp, synced, and only then given its name, so a name always
// stands for complete bytes; the metadata that points to it commits after that.
#include <cstdint>
#include <string>
#include <vector>

namespace lf::tessarel {

struct StagedContent {
    std::string tempPath; // "" once published
    std::string hash;
    std::int64_t size = 0;
};

class ContentStore {
public:
    explicit ContentStore(std::string folder);

    // Copies a local file into the staging folder, hashing it on the way.
    StagedContent stage(const std::string& localFile);
    // Syncs every staged file, gives each its name and syncs the names.
    void publish(std::vector<StagedContent>& staged);
    // Removes staged files that were not published (an operation that failed).
    void discard(std::vector<StagedContent>& staged);

    std::string pathOf(const std::string& hash) const;
    bool contains(const std::string& hash) const;
    // Writes the content to target through a temporary file beside it, which then replaces target
    // (a symbolic link at target is replaced, never followed).
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

// SHA-256 of a file's bytes as 64 lower-case hex digits.
std::string sha256OfFile(const std::string& path);

} // namespace lf::tessarel
