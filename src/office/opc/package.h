#pragma once
// The package layer: one OOXML file (a zip of parts) read into memory, its content types and
// relationships, and an atomic save that copies every part it did not change exactly as stored.
// It knows nothing of slides or paragraphs.
#include "office/opc/file_lock.h"
#include "office/opc/relationships.h"

#include <pugixml.hpp>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lf::opc {

// Every failure of the package layer. what() names the file and what is wrong with it,
// e.g. "C:/x/01_Intro.pptx: not a zip package (it is an OLE compound file: encrypted or legacy)".
class PackageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Another program holds the writer's lock on the file (file_lock.h) past the wait.
class FileBusyError : public PackageError {
public:
    using PackageError::PackageError;
};

// Sane bounds against hostile packages; a part or a package past them is refused.
//
// XML has bounds of its own. Parsed, every element and every run of text is a node of 64 bytes and
// every attribute one of 40, so a byte of tiny elements costs some 16 bytes of memory and a deck of a
// few hundred kilobytes could otherwise take gigabytes. Real parts are far below the bounds: the
// largest XML part of the sample corpus is 147 KB (a diagram's data), the most nodes about 10,000
// (a slide of 2,630 elements), the deepest nesting 24 levels; a slide with a large
// table, or a long report's body, runs to a few MiB. Within these bounds one XML part takes at most
// about 100 MB parsed, and all the XML of a package about 330 MB, whatever the file (measured: four
// parts of a million nodes each, 270 MB).
struct Limits {
    std::uint64_t maxPartSize = 512ull << 20;    // inflated size of one part (media may be large)
    std::uint64_t maxTotalSize = 2048ull << 20;  // inflated size of all parts read
    std::uint64_t maxEntries = 100000;           // entries in the central directory
    std::uint64_t maxCompressionRatio = 1000;    // inflated / compressed, for parts above 1 MiB
    std::uint64_t maxXmlPartSize = 16ull << 20;  // inflated size of one XML part
    std::uint64_t maxXmlNodes = 1000000;         // elements, attributes and text runs of one XML part
    std::uint64_t maxXmlDepth = 256;             // elements nested in one another in one XML part
    std::uint64_t maxXmlTotalSize = 64ull << 20; // all XML parsed and kept from one package
    std::uint64_t maxXmlTotalNodes = 4000000;    // all XML nodes parsed and kept
};

// What the package is opened for. Opened for writing, every stored entry is checked at once: it
// inflates cleanly to its declared size with its checksum, and every XML part parses, so that a
// damaged package is refused before any work is done on it rather than passed on by a save that
// copies its records byte for byte. A package opened for reading is checked the same way, entry by
// entry, when it is saved.
enum class Access { Read, Write };

class Package {
public:
    // Opens and validates the package: a real zip (an OLE compound file, an empty or truncated
    // file is refused), no entry name leaving the package, [Content_Types].xml present and parsable.
    // Opening never writes the file. With `lock`, the package is a writer's: the writer's lock on the
    // file (taken before the file is read, FileLock::acquire) is held until the package goes, with
    // any other package that shares it, and every save in place carries it over to the new file.
    static std::unique_ptr<Package> open(const std::filesystem::path& file, const Limits& limits = {},
                                         Access access = Access::Read,
                                         std::shared_ptr<FileLock> lock = nullptr);
    // The writer's lock the package holds; nullptr for a reader's.
    const std::shared_ptr<FileLock>& writerLock() const;
    // A new package from the bytes of an existing one (templates), checked as for writing: it has no
    // file (path() is empty, save() refuses) until saveAs; nothing is written to the template unless
    // saveAs names it.
    static std::unique_ptr<Package> openTemplate(const std::filesystem::path& file,
                                                 const Limits& limits = {});
    // A package from bytes in memory (a download, a fuzzer's input); `name` is used in messages.
    // Like a template it has no file until saveAs.
    static std::unique_ptr<Package> openBuffer(std::string bytes, const std::string& name,
                                               const Limits& limits = {});
    ~Package();
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    const std::filesystem::path& path() const;
    // The file name with extension ("01_Intro.pptx"); "" for a package not saved yet.
    std::string name() const { return path().filename().string(); }

    // Part names are absolute and start with "/" ("/ppt/slides/slide1.xml"), compared case-insensitively
    // as the format requires.
    std::vector<std::string> partNames() const;
    bool hasPart(const std::string& partName) const;

    // The part's bytes (inflated). Throws PackageError when it is missing or exceeds the limits.
    std::string readPart(const std::string& partName) const;
    // Whether the part is XML: a content type ending in "+xml" or "/xml", or a relationships part.
    // (Legacy VML drawings are not: they are seldom well-formed.)
    bool isXmlPart(const std::string& partName) const;
    // The part parsed as XML, cached; whitespace, comments and processing instructions are kept so
    // an unchanged document serialises back to the same information. Throws when it does not parse.
    // Whitespace-only text between elements is kept as text nodes too: walk elements with
    // child("name")/children("name") or check node.type() rather than taking first_child() blindly.
    // A part past the XML limits (size, nodes, depth, or the package's XML totals) is refused before
    // it is parsed, naming the limit. A document type declaration is kept as a node and never acted on:
    // the parser expands only the predefined entities and character references, and reads nothing
    // outside the part.
    pugi::xml_document& xmlPart(const std::string& partName);
    // Checks bytes meant for an XML part as xmlPart would read them: well-formed (one document
    // element) and within the XML limits of one part. Throws PackageError naming the part otherwise;
    // nothing is kept.
    void checkXml(const std::string& partName, std::string_view bytes) const;
    // Marks an XML part obtained from xmlPart as changed: save() serialises it anew.
    void markChanged(const std::string& partName);
    // Adds or replaces a part with raw bytes (and its content type when given). They are saved as
    // given, also after the part was read through xmlPart, until markChanged.
    void writePart(const std::string& partName, std::string bytes, const std::string& contentType = {});
    // Adds or replaces an XML part (and its content type when given); save() serialises it.
    pugi::xml_document& createXmlPart(const std::string& partName, const std::string& contentType);
    void removePart(const std::string& partName);

    // Content type from the Override, else the Default of the extension; "" when neither.
    std::string contentType(const std::string& partName) const;
    void setContentType(const std::string& partName, const std::string& contentType);

    // Relationships of a part ("/" for the package's own). A missing .rels part gives none.
    std::vector<Relationship> relationships(const std::string& sourcePartName) const;
    // The first internal relationship of the type, resolved to a part name; nullopt when none.
    std::optional<std::string> relatedPart(const std::string& sourcePartName, const std::string& type) const;
    // Adds a relationship and returns its new unique id.
    std::string addRelationship(const std::string& sourcePartName, const std::string& type,
                                const std::string& target);
    // Removes a relationship of a part by id; false when there is none.
    bool removeRelationship(const std::string& sourcePartName, const std::string& id);
    // Resolves a relative target against the source part ("../slideLayouts/slideLayout1.xml").
    static std::string resolveTarget(const std::string& sourcePartName, const std::string& target);
    // A relative target from a source part to a part ("/ppt/notesSlides/notesSlide1.xml" from
    // "/ppt/slides/slide1.xml" is "../notesSlides/notesSlide1.xml").
    static std::string relativeTarget(const std::string& sourcePartName, const std::string& partName);
    // A part name not yet used: pattern "/ppt/notesSlides/notesSlide%d.xml" numbered from 1.
    std::string nextPartName(const std::string& pattern) const;

    bool changed() const;
    // Writes the package in place atomically: a temporary file in the same folder, flushed and synced,
    // then renamed over the original. Unchanged parts are copied compressed as stored (no
    // recompression), each checked first (it inflates to its size with its checksum; an XML part
    // parses) unless it was already read; only changed or added parts are written anew. A file whose
    // mode has no write bit for its owner is read-only and not replaced, even for root. Temporary
    // files that an interrupted save of the same file left beside it (".NAME.lf-XXXXXX", not in use
    // by another save) are removed. Throws PackageError on failure, leaving the original untouched.
    void save();
    // The same to another file (which is replaced atomically when it exists).
    void saveAs(const std::filesystem::path& file);

private:
    Package();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lf::opc
