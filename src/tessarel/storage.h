#pragma once
// The storage interface: every statement the repository sends to its database lies behind it, so
// another database can be added without touching the object model. The embedded backend is SQLite.
#include "tessarel/tql.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace lf::tessarel {

struct ObjectRecord {
    std::string id;
    std::string type; // ts_cabinet, ts_folder, ts_document
    std::string name;
    std::string contentType; // format name, "" for none
    bool isPrivate = false;
    std::string owner;
    std::string lockOwner;
    std::string lockPath; // the local file a check-out wrote
    std::string versionLabel;
    std::string created;
    std::string modified;
    std::string folderId;   // "" for a cabinet
    std::string parentPath; // path of the folder that holds it, "" for a cabinet
    std::string cabinetId;
    std::string contentHash; // "" when there is no content
    std::int64_t contentSize = 0;
    std::string modifier; // who made the current version

    bool isFolder() const { return type == "ts_folder" || type == "ts_cabinet"; }
    // The path of a folder or cabinet itself.
    std::string ownPath() const { return parentPath + "/" + name; }
};

struct VersionRecord {
    std::string objectId;
    std::string versionLabel;
    std::string contentType;
    std::string contentHash;
    std::int64_t contentSize = 0;
    std::string modified;
    std::string modifier;
};

// Who looks: a user sees public cabinets and the private cabinets they own; the administrator
// (working on the repository's files directly) sees everything.
struct Viewer {
    std::string user;
    bool administrator = false;
};

class QueryCursor {
public:
    virtual ~QueryCursor() = default;
    virtual bool next() = 0;
    virtual std::string value(size_t column) const = 0;
    virtual const std::vector<std::string>& columns() const = 0;
};

class Storage {
public:
    virtual ~Storage() = default;

    // Transactions: write transactions take the database's write lock at once.
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;

    virtual std::optional<ObjectRecord> objectById(const std::string& id, const Viewer& v) = 0;
    // The first object (oldest) of that name in the folder of that path.
    virtual std::optional<ObjectRecord> objectByPath(const std::string& parentPath, const std::string& name,
                                                     const Viewer& v, bool foldersOnly = false) = 0;
    virtual bool idExists(const std::string& id) = 0;
    virtual void insertObject(const ObjectRecord& r) = 0;
    // Writes name, content, type, folder and dates; the lock columns are left alone.
    virtual void updateObject(const ObjectRecord& r) = 0;
    // Moves every object below oldPath to newPath (a folder renamed or moved).
    virtual void movePaths(const std::string& oldPath, const std::string& newPath) = 0;
    // One atomic statement: true when the object was free and now belongs to user.
    virtual bool lockObject(const std::string& id, const std::string& user, const std::string& localPath) = 0;
    // Clears the lock when it belongs to user (any lock when user is empty).
    virtual bool unlockObject(const std::string& id, const std::string& user) = 0;
    virtual void addVersion(const VersionRecord& v) = 0;
    virtual std::vector<VersionRecord> versions(const std::string& objectId) = 0;
    virtual std::set<std::string> referencedContent() = 0;

    virtual std::unique_ptr<QueryCursor> runQuery(const tql::Query& q, const Viewer& v) = 0;

    // Users: name and argon2id hash.
    virtual bool addUser(const std::string& name, const std::string& hash) = 0;
    virtual bool setPasswordHash(const std::string& name, const std::string& hash) = 0;
    virtual std::optional<std::string> passwordHash(const std::string& name) = 0;
    virtual std::vector<std::string> users() = 0;

    // Formats: name and file extension.
    virtual std::optional<std::string> formatExtension(const std::string& format) = 0;
    virtual std::optional<std::string> formatForExtension(const std::string& extension) = 0;
    virtual void addFormat(const std::string& format, const std::string& extension) = 0;
};

// Opens (and with create, makes) the embedded database in a repository folder.
std::unique_ptr<Storage> openSqliteStorage(const std::string& databaseFile, bool create);

// Commits on commit(), rolls back when left without.
class Transaction {
public:
    explicit Transaction(Storage& s) : s_(s) { s_.begin(); }
    ~Transaction() {
        if (!done_) {
            try {
                s_.rollback();
            } catch (...) {
            }
        }
    }
    void commit() {
        s_.commit();
        done_ = true;
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

private:
    Storage& s_;
    bool done_ = false;
};

} // namespace lf::tessarel
