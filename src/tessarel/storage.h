#pragma once
// The storage interface: every statement the repository sends to its database lies behind it, so
// that the object model is the same on every database. The embedded backend is SQLite, one
// database file per repository folder; the server backend is PostgreSQL, where the server itself
// checks the users (its roles) and enforces what each may see and change.
#include "tessarel/content_store.h"
#include "tessarel/tql.h"

#include <cstdint>
#include <functional>
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

// One row of a server repository's audit trail.
struct AuditEntry {
    std::string at; // the server's time, UTC
    std::string who;
    std::string action;
    std::string objectId;
    std::string path;
    std::string detail;
};

// Who looks: a user sees public cabinets and the private cabinets they own; the administrator
// (working on the repository's files, or as the server database's owner) sees everything. On the
// server the database applies the same rule to the role that connected, whatever the viewer says.
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

    // Transactions. The embedded database's write transactions take its write lock at once, so
    // writers follow one another; on the server a transaction locks nothing by itself: the
    // server's functions lock the rows they change.
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;

    virtual std::optional<ObjectRecord> objectById(const std::string& id, const Viewer& v) = 0;
    // The first object (oldest) of that name in the folder of that path.
    virtual std::optional<ObjectRecord> objectByPath(const std::string& parentPath, const std::string& name,
                                                     const Viewer& v, bool foldersOnly = false) = 0;
    virtual bool idExists(const std::string& id) = 0;
    // Each write returns the object as the repository stored it: on the server, the server sets
    // who and when (owner, modifier, lock owner: the user that connected, or the user an
    // administrator acts for), the dates, the first version and the paths (from the parent row).
    // A new object; imported says a document comes from an import (for the audit trail).
    virtual ObjectRecord insertObject(const ObjectRecord& r, bool imported = false) = 0;
    // Writes name, content, type, folder and dates; the lock columns are left alone. A folder
    // renamed or moved takes what it holds along (into another cabinet too: what it holds is then
    // seen as that cabinet's).
    virtual ObjectRecord updateObject(const ObjectRecord& r) = 0;
    // One atomic statement: true when the object was free and now belongs to user.
    virtual bool lockObject(const std::string& id, const std::string& user, const std::string& localPath) = 0;
    // Clears the lock when it belongs to user (any lock when user is empty).
    virtual bool unlockObject(const std::string& id, const std::string& user) = 0;
    // The check-in of a document user holds: records its current version, makes the content
    // (hash, size, contentType) the next version and clears the lock. Fails with
    // TS_NOT_LOCK_OWNER when user no longer holds it.
    virtual ObjectRecord checkIn(const std::string& id, const std::string& user, const std::string& hash,
                                 std::int64_t size, const std::string& contentType) = 0;
    virtual std::vector<VersionRecord> versions(const std::string& objectId) = 0;
    virtual std::set<std::string> referencedContent() = 0;
    // Every object as the administrator sees it, one at a time: the folders and cabinets
    // (foldersOnly), or every other row (documents, and rows of any type a damage left). For fsck,
    // which must not hold a large repository in memory; each must not use the storage.
    virtual void forEachObject(bool foldersOnly, const std::function<void(const ObjectRecord&)>& each) = 0;

    virtual std::unique_ptr<QueryCursor> runQuery(const tql::Query& q, const Viewer& v) = 0;

    // Users. The embedded database keeps an argon2id hash of each password; on the server a user
    // is a role that logs in with its password (SCRAM), which the server checks.
    // addUser is false when the user exists, setPassword when there is no such user.
    virtual bool addUser(const std::string& name, const std::string& password) = 0;
    virtual bool setPassword(const std::string& name, const std::string& password) = 0;
    virtual bool userExists(const std::string& name) = 0;
    virtual bool passwordMatches(const std::string& name, const std::string& password) = 0;
    virtual std::vector<std::string> users() = 0;

    // The version of the repository's schema, and the step that brings it to kSchemaVersion
    // (returns the version it had). A repository older than the program opens as it is.
    virtual int schemaVersion() = 0;
    virtual int upgradeSchema() = 0;

    // Formats: name and file extension.
    virtual std::optional<std::string> formatExtension(const std::string& format) = 0;
    virtual std::optional<std::string> formatForExtension(const std::string& extension) = 0;
    virtual void addFormat(const std::string& format, const std::string& extension) = 0;

    // The audit trail, oldest first: every entry, or those of the object at path and of what
    // lies below it. The embedded repository keeps none (fails with TS_UNSUPPORTED_BACKEND).
    virtual std::vector<AuditEntry> auditTrail(const std::string& path) = 0;
};

// The schema this program makes and reads. 1: the embedded repositories made before schemas had
// a version (no version table); 2: the version table; 3: on the server, authors write through the
// server's functions only, content is named by its chunk digest, and the server keeps an audit
// trail (the embedded schema is unchanged).
inline constexpr int kSchemaVersion = 3;

// Opens (and with create, makes) the embedded database in a repository folder.
std::unique_ptr<Storage> openSqliteStorage(const std::string& databaseFile, bool create);

// A server repository: its storage and its content store, on one connection.
struct ServerBackend {
    std::unique_ptr<Storage> storage;
    std::unique_ptr<ContentStore> content;
};
// Connects to a PostgreSQL repository with a libpq connection string. With a user, the login is
// that role's with password (the server checks it; a refusal fails with TS_LOGIN_REFUSED); without,
// the connection string's own (its user, a password file or the server's peer check). create makes
// the schema in the database, which must be empty of it.
ServerBackend openPostgresBackend(const std::string& conninfo, const std::string& user,
                                  const std::string& password, bool create);

// The path a query's folder test stands for ("" for the root); fails when the viewer knows no
// such folder.
std::string queryFolderPath(Storage& storage, const tql::FolderTest& f, const Viewer& v);

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
