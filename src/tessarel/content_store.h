#pragma once
// Where a repository keeps its content: each distinct content once, named by its SHA-256. The
// embedded repository keeps one file per content in its folder (FileContentStore); a server
// repository keeps content in its database, with the metadata that points to it.
#include <cstdint>
#include <string>
#include <vector>

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace lf::platform {
class FileReplacement;
}

namespace lf::tessarel {

// An open file descriptor, closed when it goes.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd();
    Fd(Fd&& o) noexcept : fd_(o.release()) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int f = fd_;
        fd_ = -1;
        return f;
    }

private:
    int fd_;
};

// Fails with TS_FILE_ERROR: what, the path and errno's text.
[[noreturn]] void fileError(const std::string& what, const std::string& path);
// Fails as the step of a local copy's replacement that failed, with its errno.
[[noreturn]] void replacementFailed(const platform::FileReplacement& out, const std::string& target);

struct StagedContent {
    std::string tempPath; // "" once published, and when the store already held the content
    std::string source;   // the local file, for a store that reads it again when it publishes
    bool refuseLinks = false;
    std::string hash;
    std::int64_t size = 0;
    bool reused = false; // the store already held these bytes: nothing was written
};

class ContentStore {
public:
    virtual ~ContentStore() = default;

    // Reads a local file, hashing it on the way, and gets it ready to be published. Content the
    // store already holds is not written again. Several threads may stage at once; everything
    // else belongs to one thread at a time. With refuseLinks, a symbolic link at localFile fails
    // (an import never follows links).
    virtual StagedContent stage(const std::string& localFile, bool refuseLinks = false) = 0;
    // Stores every staged content for good; called inside the write transaction, before the
    // metadata that points to the content commits.
    virtual void publish(std::vector<StagedContent>& staged) = 0;
    // Drops what staging left that was not published (an operation that failed).
    virtual void discard(std::vector<StagedContent>& staged) = 0;

    virtual bool contains(const std::string& hash) const = 0;
    // Writes the content to target through a temporary file beside it, which then replaces target
    // (a symbolic link at target is replaced, never followed). The temporary's name is cut short
    // where it would be too long (platform/replace_file.h), so any target name the file system takes
    // can be written. Nothing is flushed: an export writes many files. The bytes are hashed as they
    // are copied: content whose bytes do not match its hash fails with TS_NO_CONTENT, and target is
    // left as it was.
    virtual void copyOut(const std::string& hash, const std::string& target) const = 0;

    // Every content present, by hash; and what staging left behind (names of files).
    virtual std::vector<std::string> allContent() const = 0;
    virtual std::vector<std::string> stagingLeftovers() const = 0;
    // Hashes the content again; false when its bytes do not match its name.
    virtual bool verify(const std::string& hash) const = 0;
    virtual void remove(const std::string& hash) = 0;
};

// The embedded repository's content: one file per content under content/ab/abcd.... New content is
// staged in content/tmp, synced, and only then given its name, so a name always stands for
// complete bytes; the metadata that points to it commits after that.
class FileContentStore final : public ContentStore {
public:
    explicit FileContentStore(std::string folder);

    // Copies the file into the staging folder and starts writing it to the disk.
    StagedContent stage(const std::string& localFile, bool refuseLinks = false) override;
    // Makes every staged file durable, gives each its name and makes the names durable; called
    // under the database's write lock. Fails when content that staging found already stored has
    // gone since.
    void publish(std::vector<StagedContent>& staged) override;
    void discard(std::vector<StagedContent>& staged) override;

    std::string pathOf(const std::string& hash) const;
    bool contains(const std::string& hash) const override;
    void copyOut(const std::string& hash, const std::string& target) const override;
    std::vector<std::string> allContent() const override;
    std::vector<std::string> stagingLeftovers() const override;
    bool verify(const std::string& hash) const override;
    void remove(const std::string& hash) override;

private:
    std::string root_;
};

// SHA-256, fed piece by piece.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void update(const char* p, size_t n);
    // 64 lower-case hex digits; the digest ends here.
    std::string hex();
    // The 32 bytes of the digest; the digest ends here.
    std::string bytes();

private:
    EVP_MD_CTX* ctx_;
};

// Opens a local file to be stored, never through a symbolic link with refuseLinks; fails unless it
// is a regular file. Gives the file's size too.
Fd openContentSource(const std::string& localFile, bool refuseLinks, std::int64_t& size);
// Reads until n bytes are in or the file ends; returns how many came. A read error fails with
// TS_FILE_ERROR naming path.
size_t readUpTo(int fd, char* p, size_t n, const std::string& path);

// The repository's own files and folders are private to their owner, whatever the umask: files
// 0600, folders 0700. Each makes what is missing (a folder with every missing folder above it)
// and leaves what exists as it is.
void makePrivateFolder(const std::string& path);
void makePrivateFile(const std::string& path);

// SHA-256 of a file's bytes as 64 lower-case hex digits.
std::string sha256OfFile(const std::string& path);

} // namespace lf::tessarel
