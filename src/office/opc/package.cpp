#include "office/opc/package.h"

#include "office/opc/xml_scan.h"
#include "office/opc/zip_archive.h"
#include "platform/ascii.h"
#include "platform/replace_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unordered_map>

namespace lf::opc {

using platform::asciiLower;

namespace {

constexpr const char* kContentTypesName = "/[Content_Types].xml";
constexpr const char* kContentTypesNs = "http://schemas.openxmlformats.org/package/2006/content-types";

// Whitespace-only text (<a:t> </a:t>), comments, processing instructions and the declaration all
// survive a load and a save, so an unchanged part carries the same information back.
constexpr unsigned kParseOptions = pugi::parse_full | pugi::parse_ws_pcdata;
constexpr unsigned kFormatOptions = pugi::format_raw | pugi::format_no_declaration;

std::string extensionOf(const std::string& partName) {
    const auto slash = partName.rfind('/');
    const auto dot = partName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return asciiLower(partName.substr(dot + 1));
}

std::string displayName(const std::filesystem::path& file) {
    return file.empty() ? std::string("(unsaved package)") : file.string();
}

// Why an entry name cannot be a part of this package, or "" when it can.
std::string badEntryName(const std::string& name) {
    if (name.empty())
        return "an entry has an empty name";
    if (name.find('\0') != std::string::npos)
        return "an entry name holds a NUL character";
    if (name.find('\\') != std::string::npos)
        return "entry \"" + name + "\" uses backslashes";
    if (name.front() == '/')
        return "entry \"" + name + "\" has an absolute name";
    if (name.size() >= 2 && name[1] == ':')
        return "entry \"" + name + "\" names a drive";
    std::size_t start = 0;
    while (start <= name.size()) {
        auto end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        const std::string segment = name.substr(start, end - start);
        if (segment == ".." || segment == ".")
            return "entry \"" + name + "\" leaves the package";
        if (segment.empty() && end != name.size())
            return "entry \"" + name + "\" has an empty path segment";
        start = end + 1;
    }
    return {};
}

std::string serialise(const pugi::xml_document& doc) {
    // The part is written as UTF-8 whatever it was read as; its declaration must say so.
    pugi::xml_node decl = doc.first_child();
    if (decl.type() == pugi::node_declaration) {
        pugi::xml_attribute enc = decl.attribute("encoding");
        if (enc && asciiLower(enc.value()) != "utf-8")
            enc.set_value("UTF-8");
    }
    std::ostringstream out;
    doc.save(out, "", kFormatOptions, pugi::encoding_utf8);
    return out.str();
}

// Replaces `target` with `bytes` so that a crash or a full disk never leaves a half-written file:
// the package is durable once saved (the file and its folder flushed), a read-only file is refused,
// and a symbolic link is written through.
// With a writer's lock on the file, the lock goes over to the new file.
void replaceFileAtomically(const std::filesystem::path& requested, const std::string& bytes, FileLock* lock) {
    platform::ReplaceOptions options;
    options.durability = platform::Durability::FileAndFolder;
    options.newMode = platform::NewMode::Kept;
    options.refuseReadOnly = true;
    options.followLink = true;
    options.keepOpen = lock != nullptr;
    platform::FileReplacement replacement(requested, options);
    if (replacement.write(bytes) && replacement.commit()) {
        if (lock)
            lock->moveTo(replacement.takeFd());
        return;
    }
    const std::string what = replacement.target().string();
    const std::string reason = std::strerror(replacement.error());
    switch (replacement.failedStep()) {
    case platform::ReplaceStep::IsFolder:
        throw PackageError(what + ": cannot save: a folder of that name exists");
    case platform::ReplaceStep::ReadOnly:
        throw PackageError(what + ": cannot save: the file is read-only");
    case platform::ReplaceStep::NotWritable:
        throw PackageError(what + ": cannot save: you may not write the file (" + reason + ")");
    case platform::ReplaceStep::CreateTemporary:
        throw PackageError(what + ": cannot save: cannot create a temporary file in " +
                           replacement.folder().string() + ": " + reason);
    case platform::ReplaceStep::Write:
        throw PackageError(what + ": cannot write: " + reason);
    default:
        throw PackageError(what + ": cannot save: " + reason);
    }
}

} // namespace

struct Package::Impl {
    struct Entry {
        std::string name;           // part name, "/word/document.xml"
        std::int64_t zipIndex = -1; // index in the stored archive's directory, -1 for added parts
        std::uint64_t size = 0;
        bool removed = false;
        bool dirty = false;                      // written anew on save
        mutable bool counted = false;            // its inflated size is in totalRead
        mutable bool checked = false;            // its stored data inflated cleanly with its checksum
        mutable bool wellFormed = false;         // it parsed as XML
        std::optional<std::string> bytes;        // raw bytes given by writePart
        std::unique_ptr<pugi::xml_document> xml; // cached parse, serialised on save when dirty
    };

    std::filesystem::path path;
    std::filesystem::path origin; // the file it was read from, named in messages
    Limits limits;
    std::string bytes;        // the package as stored; the reader works on it
    zip::Directory directory; // its central directory, checked against the local headers
    std::vector<Entry> entries;
    std::unordered_map<std::string, std::size_t> byName; // lower-case part name -> entries index
    std::map<std::string, std::string> defaults;         // extension -> content type
    std::map<std::string, std::string> overrides;        // lower-case part name -> content type
    mutable std::uint64_t totalRead = 0;
    std::uint64_t xmlBytes = 0; // XML parsed and kept, against the package's XML limits
    std::uint64_t xmlNodes = 0;
    bool structureChanged = false;  // a part was removed
    std::shared_ptr<FileLock> lock; // the writer's lock on the file at path
    // nextPartName: for a pattern, a number below which every name is taken (parts are added one
    // after another, and each search starts where the last one ended); forgotten when a part goes.
    mutable std::unordered_map<std::string, long> takenBelow;
    // addRelationship: for a .rels part (lower-case name), at least its highest "rId" number, while
    // only this class has changed the part since it was counted.
    std::unordered_map<std::string, long long> highestRelId;

    void load() {
        checkSignature();
        openReader();
        readDirectory();
        loadContentTypes();
    }

    std::string fail(const std::string& problem) const {
        return displayName(path.empty() ? origin : path) + ": " + problem;
    }

    Entry* find(const std::string& partName) {
        auto it = byName.find(asciiLower(partName));
        if (it == byName.end() || entries[it->second].removed)
            return nullptr;
        return &entries[it->second];
    }
    const Entry* find(const std::string& partName) const { return const_cast<Impl*>(this)->find(partName); }

    void openReader() {
        try {
            directory = zip::readDirectory(bytes, limits.maxEntries);
        } catch (const zip::FormatError& e) {
            throw PackageError(fail(e.what()));
        }
    }

    void checkSignature() const {
        if (bytes.empty())
            throw PackageError(fail("the file is empty (0 bytes), not a zip package"));
        static const unsigned char ole[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
        if (bytes.size() >= sizeof ole && std::memcmp(bytes.data(), ole, sizeof ole) == 0)
            throw PackageError(
                fail("not a zip package (it is an OLE compound file: encrypted or legacy binary file)"));
        if (bytes.size() < 22)
            throw PackageError(fail("truncated: too short to be a zip package"));
        if (bytes.compare(0, 4, "PK\x05\x06") == 0)
            throw PackageError(fail("the zip package holds no parts"));
        if (bytes.compare(0, 4, "PK\x03\x04") != 0)
            throw PackageError(fail("not a zip package"));
    }

    // Reads the central directory into entries and refuses what a hostile or damaged package holds.
    void readDirectory() {
        std::uint64_t declaredTotal = 0;
        for (std::size_t i = 0; i < directory.entries.size(); ++i) {
            const zip::Entry& stored = directory.entries[i];
            const std::string& name = stored.name;
            if (std::string problem = badEntryName(name); !problem.empty())
                throw PackageError(fail(problem));
            if (stored.isFolder())
                continue; // a folder entry, not a part
            if (stored.encrypted())
                throw PackageError(fail("entry \"" + name + "\" is encrypted"));
            if (stored.method != zip::kStored && stored.method != zip::kDeflated)
                throw PackageError(fail("entry \"" + name + "\" uses an unsupported compression method"));
            if (stored.size > limits.maxPartSize)
                throw PackageError(fail("entry \"" + name + "\" inflates to " + std::to_string(stored.size) +
                                        " bytes, past the limit of " + std::to_string(limits.maxPartSize)));
            if (stored.size > (1u << 20) &&
                stored.size / std::max<std::uint64_t>(stored.compressedSize, 1) > limits.maxCompressionRatio)
                throw PackageError(
                    fail("entry \"" + name + "\" has an implausible compression ratio (a zip bomb)"));
            declaredTotal += stored.size;
            if (declaredTotal > limits.maxTotalSize)
                throw PackageError(fail("the parts inflate past the limit of " +
                                        std::to_string(limits.maxTotalSize) + " bytes"));
            Entry entry;
            entry.name = "/" + name;
            entry.zipIndex = static_cast<std::int64_t>(i);
            entry.size = stored.size;
            const std::string key = asciiLower(entry.name);
            if (byName.count(key))
                throw PackageError(fail("entry \"" + name + "\" occurs more than once"));
            byName.emplace(key, entries.size());
            entries.push_back(std::move(entry));
        }
    }

    std::string readStored(const Entry& entry) const {
        // The declared sizes were checked against the limits; inflating cannot go past them.
        if (!entry.counted && totalRead + entry.size > limits.maxTotalSize)
            throw PackageError(fail("part " + entry.name + " inflates past the limits"));
        std::string out;
        try {
            out = zip::readData(bytes, directory.entries[static_cast<std::size_t>(entry.zipIndex)]);
        } catch (const zip::FormatError& e) {
            throw PackageError(fail("part " + entry.name + " " + e.what()));
        }
        if (!entry.counted) {
            totalRead += out.size();
            entry.counted = true;
        }
        entry.checked = true;
        return out;
    }

    std::string partBytes(const Entry& entry) const {
        if (entry.bytes)
            return *entry.bytes;
        if (entry.xml && entry.dirty)
            return serialise(*entry.xml);
        if (entry.zipIndex >= 0)
            return readStored(entry);
        return entry.xml ? serialise(*entry.xml) : std::string();
    }

    Entry& addEntry(const std::string& partName) {
        if (partName.empty() || partName.front() != '/' || !badEntryName(partName.substr(1)).empty() ||
            partName.back() == '/')
            throw PackageError(fail("\"" + partName + "\" is not a valid part name"));
        if (Entry* existing = find(partName))
            return *existing;
        const std::string key = asciiLower(partName);
        auto it = byName.find(key);
        if (it != byName.end()) {
            // A removed part comes back: it is written anew in its old place.
            Entry& e = entries[it->second];
            e.removed = false;
            e.name = partName;
            return e;
        }
        Entry e;
        e.name = partName;
        byName.emplace(key, entries.size());
        entries.push_back(std::move(e));
        return entries.back();
    }

    bool stored(const Entry& entry) const { return entry.zipIndex >= 0 && !entry.dirty && !entry.bytes; }

    // Refuses an XML part past the XML limits before the parser makes a node of it; `kept` counts it
    // against the package's totals as well (a part parsed only to be checked is not kept).
    xml::Scan checkShape(const std::string& partName, std::string_view data, bool kept) const {
        const std::string part = "part " + partName;
        if (data.size() > limits.maxXmlPartSize)
            throw PackageError(fail(part + " is " + std::to_string(data.size()) +
                                    " bytes of XML, past the limit of " +
                                    std::to_string(limits.maxXmlPartSize) + " bytes for one XML part"));
        if (kept && xmlBytes + data.size() > limits.maxXmlTotalSize)
            throw PackageError(fail(part + " would take the XML read from the package past the limit of " +
                                    std::to_string(limits.maxXmlTotalSize) + " bytes for one package"));
        const std::uint64_t left = limits.maxXmlTotalNodes - std::min(xmlNodes, limits.maxXmlTotalNodes);
        const std::uint64_t bound = kept ? std::min(limits.maxXmlNodes, left) : limits.maxXmlNodes;
        const xml::Scan scan = xml::scan(data, {bound, limits.maxXmlDepth});
        if (scan.tooDeep)
            throw PackageError(fail(part + " nests elements deeper than the limit of " +
                                    std::to_string(limits.maxXmlDepth) + " levels"));
        if (scan.tooManyNodes && bound == limits.maxXmlNodes)
            throw PackageError(
                fail(part + " holds more than " + std::to_string(limits.maxXmlNodes) +
                     " XML nodes (elements, attributes and text), the limit for one XML part"));
        if (scan.tooManyNodes)
            throw PackageError(fail(part + " would take the XML read from the package past the limit of " +
                                    std::to_string(limits.maxXmlTotalNodes) + " nodes for one package"));
        return scan;
    }

    std::string xmlBytesOf(const Entry& entry) const {
        // A stored part declares its size: one past the limit is refused before it is inflated.
        if (stored(entry) && entry.size > limits.maxXmlPartSize)
            throw PackageError(fail("part " + entry.name + " is " + std::to_string(entry.size) +
                                    " bytes of XML, past the limit of " +
                                    std::to_string(limits.maxXmlPartSize) + " bytes for one XML part"));
        return partBytes(entry);
    }

    [[noreturn]] void notWellFormed(const std::string& partName, const pugi::xml_parse_result& result) const {
        throw PackageError(fail("part " + partName + " is not well-formed XML: " + result.description() +
                                " at offset " + std::to_string(result.offset)));
    }

    pugi::xml_document& parse(Entry& entry) {
        if (!entry.xml) {
            const std::string data = xmlBytesOf(entry);
            const xml::Scan shape = checkShape(entry.name, data, true);
            auto doc = std::make_unique<pugi::xml_document>();
            const pugi::xml_parse_result result =
                doc->load_buffer(data.data(), data.size(), kParseOptions, shape.encoding);
            if (!result)
                notWellFormed(entry.name, result);
            xmlBytes += data.size();
            xmlNodes += shape.nodes;
            entry.wellFormed = true;
            entry.xml = std::move(doc);
        }
        return *entry.xml;
    }

    bool isXml(const Entry& entry) const {
        if (extensionOf(entry.name) == "rels")
            return true;
        auto over = overrides.find(asciiLower(entry.name));
        const std::string& type = over != overrides.end() ? over->second : defaultType(entry.name);
        auto endsWith = [&](const char* tail) {
            const std::size_t n = std::strlen(tail);
            return type.size() >= n && type.compare(type.size() - n, n, tail) == 0;
        };
        return endsWith("+xml") || endsWith("/xml");
    }

    const std::string& defaultType(const std::string& partName) const {
        static const std::string none;
        auto def = defaults.find(extensionOf(partName));
        return def == defaults.end() ? none : def->second;
    }

    // Checks a part that a save would copy byte for byte: its data inflates cleanly to its declared
    // size with its checksum, and an XML part is well-formed (within the XML limits). A part read
    // or parsed before was checked then. With `keep`, an XML part stays parsed for later use;
    // otherwise it is parsed only to be checked.
    void check(Entry& entry, bool keep) {
        if (!stored(entry))
            return;
        const bool xmlPart = isXml(entry);
        if (entry.checked && (!xmlPart || entry.wellFormed))
            return;
        if (!xmlPart) {
            (void)readStored(entry);
            return;
        }
        if (keep) {
            (void)parse(entry);
            return;
        }
        checkParses(entry.name, xmlBytesOf(entry));
        entry.wellFormed = true;
    }

    // Parses XML only to check it, as it would be parsed when read: within the XML limits, not kept.
    // Returns how many elements it holds at its top level.
    int checkParses(const std::string& partName, std::string_view data) const {
        const xml::Scan shape = checkShape(partName, data, false);
        pugi::xml_document doc;
        const pugi::xml_parse_result result =
            doc.load_buffer(data.data(), data.size(), kParseOptions, shape.encoding);
        if (!result)
            notWellFormed(partName, result);
        int roots = 0;
        for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling())
            roots += n.type() == pugi::node_element ? 1 : 0;
        return roots;
    }

    // Every stored entry checked as a save would copy it; folder entries too (they are copied as well).
    void checkAll(bool keep) {
        for (Entry& e : entries)
            if (!e.removed)
                check(e, keep);
        for (const zip::Entry& stored : directory.entries)
            if (stored.isFolder())
                checkFolder(stored);
    }

    void checkFolder(const zip::Entry& stored) const {
        try {
            (void)zip::readData(bytes, stored);
        } catch (const zip::FormatError& e) {
            throw PackageError(fail("folder entry \"" + stored.name + "\" " + e.what()));
        }
    }

    void loadContentTypes() {
        Entry* ct = find(kContentTypesName);
        if (!ct)
            throw PackageError(fail("[Content_Types].xml is missing: not an Office Open XML package"));
        pugi::xml_document& doc = parse(*ct);
        pugi::xml_node types = doc.child("Types");
        if (!types)
            throw PackageError(fail("[Content_Types].xml has no Types element"));
        for (pugi::xml_node d : types.children("Default"))
            defaults[asciiLower(d.attribute("Extension").value())] = d.attribute("ContentType").value();
        for (pugi::xml_node o : types.children("Override"))
            overrides[asciiLower(o.attribute("PartName").value())] = o.attribute("ContentType").value();
    }

    pugi::xml_node typesNode() {
        Entry* ct = find(kContentTypesName);
        pugi::xml_document& doc = parse(*ct);
        pugi::xml_node types = doc.child("Types");
        if (!types) {
            types = doc.append_child("Types");
            types.append_attribute("xmlns") = kContentTypesNs;
        }
        return types;
    }

    void markDirty(Entry& e) { e.dirty = true; }

    void setOverride(const std::string& partName, const std::string& type) {
        const std::string key = asciiLower(partName);
        auto def = defaults.find(extensionOf(partName));
        auto over = overrides.find(key);
        if (over == overrides.end() && def != defaults.end() && def->second == type)
            return;
        if (over != overrides.end() && over->second == type)
            return;
        pugi::xml_node types = typesNode();
        pugi::xml_node node;
        // Every Override is in `overrides`: a part without one (most of those added) needs no search.
        if (over != overrides.end())
            for (pugi::xml_node o : types.children("Override"))
                if (asciiLower(o.attribute("PartName").value()) == key) {
                    node = o;
                    break;
                }
        if (!node) {
            node = types.append_child("Override");
            node.append_attribute("PartName") = partName.c_str();
            node.append_attribute("ContentType");
        }
        node.attribute("ContentType").set_value(type.c_str());
        overrides[key] = type;
        markDirty(*find(kContentTypesName));
    }

    void dropOverride(const std::string& partName) {
        const std::string key = asciiLower(partName);
        if (!overrides.erase(key))
            return;
        pugi::xml_node types = typesNode();
        for (pugi::xml_node o = types.child("Override"); o;) {
            pugi::xml_node next = o.next_sibling("Override");
            if (asciiLower(o.attribute("PartName").value()) == key)
                types.remove_child(o);
            o = next;
        }
        markDirty(*find(kContentTypesName));
    }
};

Package::Package() : impl_(std::make_unique<Impl>()) {}
Package::~Package() = default;

std::unique_ptr<Package> Package::open(const std::filesystem::path& file, const Limits& limits, Access access,
                                       std::shared_ptr<FileLock> lock) {
    std::unique_ptr<Package> package(new Package());
    Impl& d = *package->impl_;
    d.path = file;
    d.origin = file;
    d.limits = limits;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec))
        throw PackageError(d.fail("the file does not exist"));
    if (std::filesystem::is_directory(file, ec))
        throw PackageError(d.fail("is a folder, not a package"));
    d.lock = std::move(lock);
    const auto size = std::filesystem::file_size(file, ec);
    if (ec)
        throw PackageError(d.fail("cannot read: " + ec.message()));
    if (size > limits.maxTotalSize)
        throw PackageError(
            d.fail("the file is larger than the limit of " + std::to_string(limits.maxTotalSize) + " bytes"));
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw PackageError(d.fail(std::string("cannot read: ") + std::strerror(errno)));
    d.bytes.resize(static_cast<std::size_t>(size));
    in.read(d.bytes.data(), static_cast<std::streamsize>(size));
    if (static_cast<std::uintmax_t>(in.gcount()) != size)
        throw PackageError(d.fail("cannot read the whole file"));
    d.load();
    if (access == Access::Write)
        d.checkAll(true);
    return package;
}

std::unique_ptr<Package> Package::openBuffer(std::string bytes, const std::string& name,
                                             const Limits& limits) {
    std::unique_ptr<Package> package(new Package());
    Impl& d = *package->impl_;
    d.origin = name;
    d.limits = limits;
    if (bytes.size() > limits.maxTotalSize)
        throw PackageError(d.fail("the package is larger than the limit of " +
                                  std::to_string(limits.maxTotalSize) + " bytes"));
    d.bytes = std::move(bytes);
    d.load();
    return package;
}

std::unique_ptr<Package> Package::openTemplate(const std::filesystem::path& file, const Limits& limits) {
    auto package = open(file, limits, Access::Write);
    package->impl_->path.clear();
    return package;
}

const std::shared_ptr<FileLock>& Package::writerLock() const {
    return impl_->lock;
}

const std::filesystem::path& Package::path() const {
    return impl_->path;
}

std::vector<std::string> Package::partNames() const {
    std::vector<std::string> names;
    for (const auto& e : impl_->entries)
        if (!e.removed && asciiLower(e.name) != asciiLower(kContentTypesName))
            names.push_back(e.name);
    return names;
}

bool Package::hasPart(const std::string& partName) const {
    return impl_->find(partName) != nullptr;
}

bool Package::isXmlPart(const std::string& partName) const {
    const Impl::Entry* e = impl_->find(partName);
    return e && impl_->isXml(*e);
}

std::string Package::readPart(const std::string& partName) const {
    const Impl::Entry* e = impl_->find(partName);
    if (!e)
        throw PackageError(impl_->fail("part " + partName + " is missing"));
    return impl_->partBytes(*e);
}

pugi::xml_document& Package::xmlPart(const std::string& partName) {
    Impl::Entry* e = impl_->find(partName);
    if (!e)
        throw PackageError(impl_->fail("part " + partName + " is missing"));
    impl_->highestRelId.erase(asciiLower(partName)); // a .rels part handed out may be changed anywhere
    return impl_->parse(*e);
}

void Package::checkXml(const std::string& partName, std::string_view bytes) const {
    const int roots = impl_->checkParses(partName, bytes);
    if (roots != 1)
        throw PackageError(impl_->fail(
            "part " + partName + " is not well-formed XML: it holds " +
            (roots == 0 ? std::string("no element") : std::to_string(roots) + " top-level elements") +
            " where a document has one"));
}

void Package::markChanged(const std::string& partName) {
    Impl::Entry* e = impl_->find(partName);
    if (!e)
        throw PackageError(impl_->fail("part " + partName + " is missing"));
    if (!e->xml)
        impl_->parse(*e);
    e->bytes.reset(); // the parsed document is what the part holds now
    e->dirty = true;
}

void Package::writePart(const std::string& partName, std::string bytes, const std::string& contentType) {
    Impl::Entry& e = impl_->addEntry(partName);
    impl_->highestRelId.erase(asciiLower(e.name));
    e.xml.reset();
    e.bytes = std::move(bytes);
    e.dirty = true;
    if (!contentType.empty())
        impl_->setOverride(e.name, contentType);
}

pugi::xml_document& Package::createXmlPart(const std::string& partName, const std::string& contentType) {
    Impl::Entry& e = impl_->addEntry(partName);
    impl_->highestRelId.erase(asciiLower(e.name));
    e.bytes.reset();
    e.xml = std::make_unique<pugi::xml_document>();
    pugi::xml_node decl = e.xml->append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    decl.append_attribute("standalone") = "yes";
    e.dirty = true;
    if (!contentType.empty())
        impl_->setOverride(e.name, contentType);
    return *e.xml;
}

void Package::removePart(const std::string& partName) {
    Impl::Entry* e = impl_->find(partName);
    if (!e)
        return;
    if (asciiLower(e->name) == asciiLower(kContentTypesName))
        throw PackageError(impl_->fail("[Content_Types].xml cannot be removed"));
    e->removed = true;
    e->dirty = false;
    e->xml.reset();
    e->bytes.reset();
    impl_->structureChanged = true;
    impl_->takenBelow.clear();
    impl_->highestRelId.erase(asciiLower(e->name));
    impl_->dropOverride(e->name);
}

std::string Package::contentType(const std::string& partName) const {
    auto over = impl_->overrides.find(asciiLower(partName));
    if (over != impl_->overrides.end())
        return over->second;
    auto def = impl_->defaults.find(extensionOf(partName));
    return def == impl_->defaults.end() ? std::string() : def->second;
}

void Package::setContentType(const std::string& partName, const std::string& contentType) {
    if (!hasPart(partName))
        throw PackageError(impl_->fail("part " + partName + " is missing"));
    impl_->setOverride(impl_->find(partName)->name, contentType);
}

std::vector<Relationship> Package::relationships(const std::string& sourcePartName) const {
    Impl::Entry* e = impl_->find(rels::partFor(sourcePartName));
    return e ? rels::read(impl_->parse(*e)) : std::vector<Relationship>();
}

std::optional<std::string> Package::relatedPart(const std::string& sourcePartName,
                                                const std::string& type) const {
    for (const Relationship& rel : relationships(sourcePartName))
        if (!rel.external && rel.type == type)
            return rels::resolveTarget(sourcePartName, rel.target);
    return std::nullopt;
}

std::string Package::addRelationship(const std::string& sourcePartName, const std::string& type,
                                     const std::string& target) {
    const std::string relsName = rels::partFor(sourcePartName);
    Impl::Entry* e = impl_->find(relsName);
    pugi::xml_document& doc = e ? impl_->parse(*e) : createXmlPart(relsName, rels::kContentType);
    const auto [known, fresh] = impl_->highestRelId.try_emplace(asciiLower(relsName), 0);
    if (fresh)
        known->second = rels::highestId(doc);
    const std::string id = rels::add(doc, type, target, known->second);
    impl_->find(relsName)->dirty = true;
    return id;
}

bool Package::removeRelationship(const std::string& sourcePartName, const std::string& id) {
    Impl::Entry* e = impl_->find(rels::partFor(sourcePartName));
    if (!e || !rels::remove(impl_->parse(*e), id))
        return false;
    e->dirty = true;
    return true;
}

std::string Package::resolveTarget(const std::string& sourcePartName, const std::string& target) {
    return rels::resolveTarget(sourcePartName, target);
}

std::string Package::relativeTarget(const std::string& sourcePartName, const std::string& partName) {
    return rels::relativeTarget(sourcePartName, partName);
}

std::string Package::nextPartName(const std::string& pattern) const {
    const auto at = pattern.find("%d");
    if (at == std::string::npos)
        return pattern;
    long& n = impl_->takenBelow.try_emplace(pattern, 1).first->second;
    for (;; ++n) {
        std::string name = pattern.substr(0, at) + std::to_string(n) + pattern.substr(at + 2);
        if (!hasPart(name))
            return name;
    }
}

bool Package::changed() const {
    if (impl_->structureChanged)
        return true;
    return std::any_of(impl_->entries.begin(), impl_->entries.end(),
                       [](const Impl::Entry& e) { return e.dirty && !e.removed; });
}

void Package::save() {
    if (impl_->path.empty())
        throw PackageError(
            "(unsaved package): cannot save in place: the package has no file yet; use saveAs");
    if (!changed())
        return; // nothing to write: the file on disk already holds this package
    saveAs(impl_->path);
}

void Package::saveAs(const std::filesystem::path& file) {
    Impl& d = *impl_;
    const std::string what = file.string();
    // Nothing damaged is passed on: every record copied as stored was checked first.
    d.checkAll(false);
    std::string output;
    if (!changed()) {
        output = d.bytes;
    } else {
        // Unchanged entries are copied with their local records as stored, in their order; changed
        // ones are written anew in their place; added ones follow.
        zip::Writer writer;
        writer.reserve(d.bytes.size() + d.bytes.size() / 4);
        // Folder entries are not parts but are kept as they were.
        std::vector<const Impl::Entry*> partAt(d.directory.entries.size(), nullptr);
        for (const Impl::Entry& e : d.entries)
            if (e.zipIndex >= 0)
                partAt[static_cast<std::size_t>(e.zipIndex)] = &e;
        auto write = [&](const Impl::Entry& e) { writer.add(e.name.substr(1), d.partBytes(e)); };
        try {
            for (std::size_t i = 0; i < partAt.size(); ++i) {
                const Impl::Entry* e = partAt[i];
                if (!e)
                    writer.copy(d.bytes, d.directory.entries[i]);
                else if (e->removed)
                    continue;
                else if (e->dirty)
                    write(*e);
                else
                    writer.copy(d.bytes, d.directory.entries[i]);
            }
            for (const Impl::Entry& e : d.entries)
                if (e.zipIndex < 0 && !e.removed)
                    write(e);
            output = writer.finish(d.directory.comment);
        } catch (const zip::FormatError& e) {
            throw PackageError(what + ": cannot save: " + e.what());
        }
    }

    // A save in place keeps the writer's lock; a copy elsewhere leaves it on this package's file.
    replaceFileAtomically(file, output, d.lock && file == d.path ? d.lock.get() : nullptr);

    // The file now holds this package: read on from the new bytes; cached XML stays valid.
    std::vector<std::unique_ptr<pugi::xml_document>> docs;
    std::vector<std::string> names;
    for (Impl::Entry& e : d.entries)
        if (!e.removed && e.xml) {
            names.push_back(e.name);
            docs.push_back(std::move(e.xml));
        }
    d.bytes = std::move(output);
    d.path = file;
    d.entries.clear();
    d.byName.clear();
    d.structureChanged = false;
    d.openReader();
    d.readDirectory();
    // Every record of the new file was checked before it was copied, or was written here.
    for (Impl::Entry& e : d.entries)
        e.checked = e.wellFormed = true;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (Impl::Entry* e = d.find(names[i]))
            e->xml = std::move(docs[i]);
}

} // namespace lf::opc
