#include "tessarel/repository_store.h"

#include "tessarel/errors.h"
#include "tessarel/tql.h"

#include "platform/ascii.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <sys/random.h>
#include <vector>

namespace fs = std::filesystem;

namespace lf::tessarel {

namespace {

void randomBytes(void* p, size_t n) {
    auto* out = static_cast<unsigned char*>(p);
    while (n > 0) {
        const ssize_t r = ::getrandom(out, n, 0);
        if (r < 0)
            fail(code::StorageError, "No random numbers available");
        out += r;
        n -= static_cast<size_t>(r);
    }
}

} // namespace

std::optional<std::string> serverConnection(const std::string& location) {
    for (const char* prefix : {"postgresql:", "postgres:"}) {
        const std::string p(prefix);
        if (location.rfind(p, 0) == 0) {
            // "postgresql://host/db" is a URI as it stands; "postgresql:host=... dbname=..." holds
            // key=value pairs after the prefix.
            if (location.compare(p.size(), 2, "//") == 0)
                return location;
            return location.substr(p.size());
        }
    }
    return std::nullopt;
}

namespace {

std::string embeddedFolder(const std::string& location) {
    std::string folder = location;
    if (folder.rfind("sqlite:", 0) == 0) {
        folder = folder.substr(7);
    } else if (const auto colon = folder.find(':');
               colon != std::string::npos && colon > 1 && folder.find('/') > colon) {
        fail(code::UnsupportedBackend, "The repository location '" + location + "' names an unknown backend");
    }
    if (folder.empty())
        fail(code::UnknownRepository, "The repository location is empty");
    return folder;
}

} // namespace

std::shared_ptr<RepositoryStore> RepositoryStore::open(const std::string& location, bool create) {
    if (const auto conninfo = serverConnection(location)) {
        ServerBackend b = openPostgresBackend(*conninfo, "", "", create);
        return std::shared_ptr<RepositoryStore>(
            new RepositoryStore("", std::move(b.storage), std::move(b.content)));
    }
    const std::string folder = embeddedFolder(location);
    std::error_code ec;
    const std::string database = (fs::path(folder) / "repository.db").string();
    if (create) {
        // Made private before the database opens it: its journal files take its permissions.
        makePrivateFolder(folder);
        makePrivateFile(database);
    } else if (!fs::is_regular_file(database, ec)) {
        fail(code::UnknownRepository, "There is no repository at " + folder);
    }
    auto storage = openSqliteStorage(database, create);
    return std::shared_ptr<RepositoryStore>(new RepositoryStore(
        folder, std::move(storage), std::make_unique<FileContentStore>(folder + "/content")));
}

std::shared_ptr<RepositoryStore> RepositoryStore::login(const std::string& location, const std::string& user,
                                                        const std::string& password) {
    if (const auto conninfo = serverConnection(location)) {
        if (user.empty())
            fail(code::LoginRefused, "No user name was given");
        ServerBackend b = openPostgresBackend(*conninfo, user, password, false);
        return std::shared_ptr<RepositoryStore>(
            new RepositoryStore("", std::move(b.storage), std::move(b.content)));
    }
    auto store = open(location);
    if (!store->passwordMatches(user, password))
        fail(code::LoginRefused, "Login refused for user '" + user + "'");
    return store;
}

RepositoryStore::RepositoryStore(std::string folder, std::unique_ptr<Storage> storage,
                                 std::unique_ptr<ContentStore> content)
    : folder_(std::move(folder)), storage_(std::move(storage)), content_(std::move(content)) {}

std::string RepositoryStore::newObjectId() {
    static const char* digits = "0123456789abcdef";
    while (true) {
        unsigned char b[8];
        randomBytes(b, sizeof b);
        // The first two digits name the kind of id, as "09" does for every repository object.
        std::string id = "09";
        for (size_t i = 1; i < sizeof b; ++i) {
            id += digits[b[i] >> 4];
            id += digits[b[i] & 15];
        }
        if (!storage_->idExists(id))
            return id;
    }
}

std::string RepositoryStore::formatForFile(const std::string& fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == fileName.size())
        return "";
    if (fileName.size() - dot - 1 > kMaxFormatExtensionBytes)
        return "";
    const std::string ext = platform::asciiLower(fileName.substr(dot + 1));
    if (auto f = storage_->formatForExtension(ext))
        return *f;
    std::string name = ext;
    if (storage_->formatExtension(name))
        name += "_file";
    storage_->addFormat(name, ext);
    return name;
}

std::string RepositoryStore::extensionOf(const std::string& format) {
    if (format.empty())
        return "";
    return storage_->formatExtension(format).value_or("");
}

bool RepositoryStore::passwordMatches(const std::string& user, const std::string& password) {
    if (user.empty())
        return false;
    return storage_->passwordMatches(user, password);
}

std::string nowText() {
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

std::pair<std::string, std::string> splitRepositoryPath(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {"", path};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

namespace {

// A name as an error message shows it: quoted, control characters as \xNN, a long one cut short
// (at the start of a character).
std::string shownName(const std::string& name, size_t kShown = 60) {
    size_t end = std::min(name.size(), kShown);
    while (end > 0 && end < name.size() && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    std::string out;
    for (size_t i = 0; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7f) {
            static const char* digits = "0123456789abcdef";
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return tql::quoteString(out) + (end < name.size() ? "..." : "");
}

} // namespace

void checkObjectName(const std::string& name) {
    std::string fault;
    if (name.empty()) {
        fault = "is empty";
    } else if (name.size() > kMaxObjectNameBytes) {
        fault = "is " + std::to_string(name.size()) + " bytes long";
    } else if (name == "." || name == "..") {
        fault = "stands for a folder itself or the one above it";
    } else {
        for (unsigned char c : name) {
            if (c == '/' || c == '\\') {
                fault = std::string("holds '") + static_cast<char>(c) + "'";
                break;
            }
            if (c < 0x20 || c == 0x7f) {
                fault = "holds a control character";
                break;
            }
        }
    }
    if (!fault.empty())
        fail(code::BadName, "The name " + (name.empty() ? std::string() : shownName(name) + " ") + fault +
                                ": a name in the repository is 1 to " + std::to_string(kMaxObjectNameBytes) +
                                " bytes, not '.' or '..', without '/', '\\' or control characters");
}

std::string describeObject(const ObjectRecord& r) {
    const std::string path = r.parentPath + "/" + r.name;
    return shownName(path, 300) + " (id " + r.id + ")";
}

void copyObjectContent(const ContentStore& content, const ObjectRecord& r, const std::string& target) {
    try {
        content.copyOut(r.contentHash, target);
    } catch (const TsException& e) {
        // Content missing or damaged: the message says whose.
        if (e.code() != code::NoContent)
            throw;
        fail(code::NoContent, describeObject(r) + ": " + e.message());
    }
}

std::string folderLinkFault(const ObjectRecord& r, const ObjectRecord* parent) {
    if (r.type != "ts_document" && !r.isFolder())
        return "has the unknown type " + shownName(r.type);
    if (r.type == "ts_cabinet") {
        if (!r.folderId.empty() || !r.parentPath.empty())
            return "is a cabinet, yet has a parent folder";
        if (r.cabinetId != r.id)
            return "is a cabinet, yet belongs to another cabinet (id " + r.cabinetId + ")";
        return "";
    }
    if (r.folderId.empty())
        return "has no parent folder";
    if (!parent)
        return "has a parent folder (id " + r.folderId + ") that is missing";
    if (!parent->isFolder())
        return "has a parent (id " + r.folderId + ") that is not a folder but a " + shownName(parent->type);
    if (parent->ownPath() != r.parentPath)
        return "is recorded in " + shownName(r.parentPath, 300) + ", but its parent folder (id " +
               r.folderId + ") is " + shownName(parent->ownPath(), 300);
    if (parent->cabinetId != r.cabinetId)
        return "belongs to the cabinet (id " + r.cabinetId + "), but its parent folder (id " + r.folderId +
               ") to the cabinet (id " + parent->cabinetId + ")";
    return "";
}

void checkFolderLinks(Storage& storage, const ObjectRecord& object, const Viewer& viewer,
                      std::map<std::string, ObjectRecord>& soundFolders) {
    // From the object up to its cabinet, each row's link to its parent folder; a folder found
    // sound once is not looked up again.
    auto damaged = [&](const ObjectRecord& at, const std::string& why) {
        const std::string where =
            at.id == object.id ? describeObject(at)
                               : "the folder " + describeObject(at) + " above " + describeObject(object);
        fail(code::Damaged, "The repository is damaged: " + where + " " + why);
    };
    std::vector<ObjectRecord> walked;
    std::set<std::string> seen;
    ObjectRecord at = object;
    for (;;) {
        if (!seen.insert(at.id).second)
            damaged(at, "lies in a cycle of parent folders");
        const ObjectRecord* parent = nullptr;
        std::optional<ObjectRecord> looked;
        bool parentSound = false;
        if (at.type != "ts_cabinet" && !at.folderId.empty()) {
            if (const auto known = soundFolders.find(at.folderId); known != soundFolders.end()) {
                parent = &known->second;
                parentSound = true;
            } else if ((looked = storage.objectById(at.folderId, viewer))) {
                parent = &*looked;
            }
        }
        if (const std::string why = folderLinkFault(at, parent); !why.empty())
            damaged(at, why);
        walked.push_back(at);
        if (!parent || parentSound)
            break;
        at = *parent;
    }
    // Every folder on the way is sound now (the object itself too, when it is a folder).
    for (auto& r : walked) {
        if (r.isFolder())
            soundFolders.emplace(r.id, std::move(r));
    }
}

} // namespace lf::tessarel
