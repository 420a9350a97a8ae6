#include "tessarel/content_store.h"

#include "tessarel/errors.h"

#include "platform/replace_file.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <memory>
#include <random>
#include <set>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace lf::tessarel {

namespace {

constexpr size_t kBuffer = 1 << 20;
constexpr size_t kWholeFile = 8 << 20;

std::string toHex(const unsigned char* p, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

std::string randomSuffix() {
    static thread_local std::mt19937_64 rng{std::random_device{}() ^ static_cast<unsigned>(::getpid())};
    const std::uint64_t v = rng();
    return toHex(reinterpret_cast<const unsigned char*>(&v), sizeof v);
}

void writeAll(int fd, const char* p, size_t n, const std::string& path) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            fileError("Cannot write", path);
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
}

// A new file only its owner may read and write, whatever the umask; -1 when existingIsFine and
// there already is one.
int createPrivate(const std::string& path, bool existingIsFine = false) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.get() < 0) {
        if (existingIsFine && errno == EEXIST)
            return -1;
        fileError("Cannot create", path);
    }
    if (::fchmod(fd.get(), 0600) != 0) {
        ::unlink(path.c_str());
        fileError("Cannot set the permissions of", path);
    }
    return fd.release();
}

constexpr size_t kFlushEachLimit = 16;

// The buffer each thread copies through, kept from one file to the next.
struct Buffer {
    std::unique_ptr<char[]> data;
    size_t size = 0;
};

Buffer& buffer(size_t atLeast) {
    static thread_local Buffer b;
    if (b.size < atLeast) {
        b.data.reset(new char[atLeast]);
        b.size = atLeast;
    }
    return b;
}

void syncFolder(const std::string& folder) {
    Fd d(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d.get() < 0)
        fileError("Cannot open", folder);
    if (::syncfs(d.get()) != 0)
        fileError("Cannot sync", folder);
}

// Flushes one file's (or folder's) data and metadata.
void syncFile(const std::string& path) {
    Fd d(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (d.get() < 0 || ::fsync(d.get()) != 0)
        fileError("Cannot sync", path);
}

} // namespace

Fd::~Fd() {
    if (fd_ >= 0)
        ::close(fd_);
}

void fileError(const std::string& what, const std::string& path) {
    // A step that failed without a system error (a file cut short, a folder where a file belongs) must
    // not read "Success".
    const int error = errno;
    fail(code::FileError,
         what + " " + path + ": " + (error != 0 ? std::strerror(error) : "the file system gave no reason"));
}

void replacementFailed(const platform::FileReplacement& out, const std::string& target) {
    errno = out.error();
    switch (out.failedStep()) {
    case platform::ReplaceStep::CreateTemporary:
        fileError("Cannot create", out.temporary().string());
    case platform::ReplaceStep::IsFolder:
    case platform::ReplaceStep::Rename:
        fileError("Cannot write", target);
    default:
        fileError("Cannot write", out.temporary().string());
    }
}

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_ || EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(ctx_);
        fail(code::StorageError, "Cannot start a SHA-256 digest");
    }
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(ctx_);
}

void Sha256::update(const char* p, size_t n) {
    EVP_DigestUpdate(ctx_, p, n);
}

std::string Sha256::bytes() {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_DigestFinal_ex(ctx_, md, &n);
    return std::string(reinterpret_cast<const char*>(md), n);
}

std::string Sha256::hex() {
    const std::string b = bytes();
    return toHex(reinterpret_cast<const unsigned char*>(b.data()), b.size());
}

Fd openContentSource(const std::string& localFile, bool refuseLinks, std::int64_t& size) {
    Fd in(::open(localFile.c_str(), O_RDONLY | O_CLOEXEC | (refuseLinks ? O_NOFOLLOW : 0)));
    if (in.get() < 0 && refuseLinks && errno == ELOOP)
        fail(code::FileError, localFile + " is a symbolic link; an import never follows links");
    if (in.get() < 0)
        fileError("Cannot read", localFile);
    struct stat st {};
    if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        errno = EISDIR;
        fileError("Not a file:", localFile);
    }
    size = static_cast<std::int64_t>(st.st_size);
    return in;
}

size_t readUpTo(int fd, char* p, size_t n, const std::string& path) {
    size_t have = 0;
    while (have < n) {
        const ssize_t r = ::read(fd, p + have, n - have);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            fileError("Cannot read", path);
        }
        if (r == 0)
            break;
        have += static_cast<size_t>(r);
    }
    return have;
}

std::string sha256OfFile(const std::string& path) {
    Fd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        fileError("Cannot read", path);
    Sha256 d;
    Buffer& buf = buffer(kBuffer);
    while (const size_t n = readUpTo(in.get(), buf.data.get(), buf.size, path))
        d.update(buf.data.get(), n);
    return d.hex();
}

void makePrivateFolder(const std::string& path) {
    // The missing folders, from the deepest up; then made from the top down.
    std::vector<fs::path> missing;
    std::error_code ec;
    for (fs::path p = path; !p.empty() && !fs::exists(fs::symlink_status(p, ec)); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path())
            break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0700) != 0) {
            if (errno == EEXIST)
                continue;
            fileError("Cannot create", it->string());
        }
        // The umask may have taken bits away; the folder gets exactly these.
        if (::chmod(it->c_str(), 0700) != 0)
            fileError("Cannot set the permissions of", it->string());
    }
    if (!fs::is_directory(path, ec))
        fail(code::FileError, "Cannot create " + path + ": it is not a folder");
}

void makePrivateFile(const std::string& path) {
    const int fd = createPrivate(path, true);
    if (fd >= 0)
        ::close(fd);
}

FileContentStore::FileContentStore(std::string folder) : root_(std::move(folder)) {
    makePrivateFolder(root_ + "/tmp");
}

std::string FileContentStore::pathOf(const std::string& hash) const {
    return root_ + "/" + hash.substr(0, 2) + "/" + hash;
}

bool FileContentStore::contains(const std::string& hash) const {
    struct stat st {};
    return ::stat(pathOf(hash).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

StagedContent FileContentStore::stage(const std::string& localFile, bool refuseLinks) {
    std::int64_t fileSize = 0;
    Fd in(openContentSource(localFile, refuseLinks, fileSize));
    // A file of usual size is read whole (one byte more than its size, to see its end), hashed,
    // and written only when the store does not hold it yet; a larger one, or one that grows while
    // it is read, is copied piece by piece as it is hashed.
    const size_t expected = static_cast<size_t>(std::max<std::int64_t>(fileSize, 0)) + 1;
    Buffer& b = buffer(std::clamp(expected, kBuffer, kWholeFile));
    char* buf = b.data.get();
    const size_t capacity = b.size;
    const size_t have = readUpTo(in.get(), buf, capacity, localFile);
    const bool atEnd = have < capacity;
    Sha256 d;
    d.update(buf, have);
    StagedContent out;
    out.size = static_cast<std::int64_t>(have);
    if (atEnd) {
        out.hash = d.hex();
        if (contains(out.hash)) {
            out.reused = true;
            return out;
        }
    }
    out.tempPath = root_ + "/tmp/" + randomSuffix();
    Fd tmp(createPrivate(out.tempPath));
    try {
        writeAll(tmp.get(), buf, have, out.tempPath);
        while (!atEnd) {
            const size_t r = readUpTo(in.get(), buf, capacity, localFile);
            if (r == 0)
                break;
            d.update(buf, r);
            writeAll(tmp.get(), buf, r, out.tempPath);
            out.size += static_cast<std::int64_t>(r);
        }
        if (!atEnd)
            out.hash = d.hex();
        // Start writing the bytes to the disk now, while the next files are read: the sync that
        // publish makes then mostly finds them written.
        ::sync_file_range(tmp.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
        if (::close(tmp.release()) != 0)
            fileError("Cannot write", out.tempPath);
    } catch (...) {
        ::unlink(out.tempPath.c_str());
        throw;
    }
    return out;
}

void FileContentStore::publish(std::vector<StagedContent>& staged) {
    size_t fresh = 0;
    for (const auto& s : staged) {
        if (s.reused && !contains(s.hash))
            fail(code::NoContent, "The content " + s.hash + " left the repository while it was stored again");
        if (!s.tempPath.empty())
            ++fresh;
    }
    if (fresh == 0)
        return;
    // A few files are flushed one by one; a batch is flushed with one sync of the file system,
    // far cheaper than a flush per file when an operation carries thousands of them.
    const bool batch = fresh > kFlushEachLimit;
    std::set<std::string> folders;
    if (batch) {
        syncFolder(root_);
    } else {
        for (const auto& s : staged) {
            if (!s.tempPath.empty())
                syncFile(s.tempPath);
        }
    }
    for (auto& s : staged) {
        if (s.tempPath.empty())
            continue;
        const std::string target = pathOf(s.hash);
        std::string folder = target.substr(0, target.rfind('/'));
        if (contains(s.hash)) {
            ::unlink(s.tempPath.c_str());
        } else {
            if (!folders.count(folder))
                makePrivateFolder(folder);
            if (::rename(s.tempPath.c_str(), target.c_str()) != 0)
                fileError("Cannot store", target);
            folders.insert(std::move(folder));
        }
        s.tempPath.clear();
    }
    if (batch) {
        syncFolder(root_);
    } else {
        for (const auto& f : folders)
            syncFile(f);
        syncFile(root_);
    }
}

void FileContentStore::discard(std::vector<StagedContent>& staged) {
    for (auto& s : staged) {
        if (!s.tempPath.empty())
            ::unlink(s.tempPath.c_str());
        s.tempPath.clear();
    }
}

void FileContentStore::copyOut(const std::string& hash, const std::string& target) const {
    const std::string source = pathOf(hash);
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        fail(code::NoContent, "The content " + hash + " is missing from the repository");
    struct stat st {};
    if (::fstat(in.get(), &st) != 0)
        fileError("Cannot read", source);
    // An export writes many files into one folder: none is flushed on its own, and no file looks
    // through the folder for leftovers of its name.
    platform::ReplaceOptions options;
    options.mode = 0644;
    options.removeLeftovers = false;
    platform::FileReplacement out(target, options);
    if (!out.ok())
        replacementFailed(out, target);
    // A file system that shares blocks between files makes the copy a clone of the content
    // (written again only when either side changes); elsewhere the bytes go through one
    // buffer, in as few reads and writes as the size allows, which costs the file system
    // less than splicing them page by page. Either way every byte is hashed on its way: what
    // is put in place is what the content's name says, or nothing is.
    const bool cloned = ::ioctl(out.fd(), FICLONE, in.get()) == 0;
    const size_t expected = static_cast<size_t>(std::max<off_t>(st.st_size, 0)) + 1;
    Buffer& b = buffer(std::clamp(expected, kBuffer, kWholeFile));
    Sha256 digest;
    for (;;) {
        const ssize_t r = ::read(in.get(), b.data.get(), b.size);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            fileError("Cannot read", source);
        }
        if (r == 0)
            break;
        digest.update(b.data.get(), static_cast<size_t>(r));
        if (!cloned && !out.write(std::string_view(b.data.get(), static_cast<size_t>(r))))
            replacementFailed(out, target);
    }
    if (digest.hex() != hash)
        fail(code::NoContent, "The content " + hash + " in the repository does not match its hash");
    if (!out.commit())
        replacementFailed(out, target);
}

std::vector<std::string> FileContentStore::allContent() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& sub : fs::directory_iterator(root_, ec)) {
        if (!sub.is_directory() || sub.path().filename() == "tmp")
            continue;
        for (const auto& f : fs::directory_iterator(sub.path(), ec)) {
            if (f.is_regular_file())
                out.push_back(f.path().filename().string());
        }
    }
    return out;
}

std::vector<std::string> FileContentStore::stagingLeftovers() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& f : fs::directory_iterator(root_ + "/tmp", ec))
        out.push_back(f.path().string());
    return out;
}

bool FileContentStore::verify(const std::string& hash) const {
    return sha256OfFile(pathOf(hash)) == hash;
}

void FileContentStore::remove(const std::string& hash) {
    ::unlink(pathOf(hash).c_str());
}

} // namespace lf::tessarel
