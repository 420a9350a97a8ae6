#pragma once
// The zip container of a package, held in memory: its central directory read and checked against the
// local headers, an entry's data inflated and verified, and a writer that copies unchanged entries
// byte for byte and deflates new ones. Only what packages use is supported: stored and deflated
// entries, zip64 sizes and offsets, data descriptors; not encryption, not multi-disk archives.
// Errors are FormatError with what is wrong, without the file name (the package adds it).
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lf::opc::zip {

class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;

struct Entry {
    std::string name;    // UTF-8 (names stored in the legacy code page are converted)
    std::string rawName; // the name bytes as stored
    std::uint16_t versionMadeBy = 0;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t dosTime = 0;
    std::uint16_t dosDate = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t localOffset = 0; // the local header
    std::uint64_t dataOffset = 0;  // the first byte of the (compressed) data
    std::uint64_t recordEnd = 0;   // past the data and its data descriptor
    std::string extra;             // the central extra field, without its zip64 record
    std::string comment;

    bool encrypted() const { return (flags & 0x0001) != 0; }
    bool isFolder() const { return !name.empty() && name.back() == '/'; }
};

struct Directory {
    std::vector<Entry> entries; // in central-directory order
    std::string comment;        // the archive's comment
};

// Reads the central directory and checks every entry against its local header: names, methods,
// sizes and checksums agree, every record lies inside the archive before the directory, and no two
// records overlap. Refuses more than maxEntries entries before reading them.
Directory readDirectory(std::string_view archive, std::uint64_t maxEntries);

// The entry's content: stored data copied, deflated data inflated into exactly `size` bytes (data
// that would inflate past it is refused, not trusted), its CRC-32 checked. A FormatError here says
// what is wrong with the entry as a predicate: "is truncated", "inflates past its declared size".
std::string readData(std::string_view archive, const Entry& entry);

// Writes a new archive: records in the order they are added, then the central directory.
class Writer {
public:
    Writer();
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    void reserve(std::size_t bytes);
    // An entry of an archive read with readDirectory, its local record copied byte for byte.
    void copy(std::string_view archive, const Entry& entry);
    // A new entry with `content`, deflated (stored when deflating does not make it smaller).
    void add(const std::string& name, std::string_view content);
    // The archive; the writer is empty again afterwards.
    std::string finish(const std::string& comment = {});

private:
    void appendCentral(const Entry& entry, std::uint64_t offset);

    std::string out_;
    std::string central_;
    std::string packed_; // deflated data of the part being added
    std::uint64_t count_ = 0;
    std::uint16_t dosTime_ = 0;
    std::uint16_t dosDate_ = 0;
};

} // namespace lf::opc::zip
