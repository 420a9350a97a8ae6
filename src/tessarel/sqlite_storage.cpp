// The embedded backend: one SQLite database per repository (WAL, busy timeout, foreign keys).
#include "tessarel/errors.h"
#include "tessarel/repository_store.h"
#include "tessarel/storage.h"
#include "tessarel/tql_sql.h"

#include <argon2.h>
#include <openssl/rand.h>
#include <sqlite3.h>

#include <cstring>

#include <unordered_map>
#include <variant>

namespace lf::tessarel {

namespace {

const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS objects(
  id TEXT PRIMARY KEY,
  type TEXT NOT NULL,
  name TEXT NOT NULL,
  content_type TEXT NOT NULL DEFAULT '',
  is_private INTEGER NOT NULL DEFAULT 0,
  owner_name TEXT NOT NULL,
  lock_owner TEXT NOT NULL DEFAULT '',
  lock_path TEXT NOT NULL DEFAULT '',
  version_label TEXT NOT NULL,
  creation_date TEXT NOT NULL,
  modify_date TEXT NOT NULL,
  folder_id TEXT REFERENCES objects(id),
  parent_path TEXT NOT NULL,
  cabinet_id TEXT NOT NULL,
  content_hash TEXT NOT NULL DEFAULT '',
  content_size INTEGER NOT NULL DEFAULT 0,
  modifier TEXT NOT NULL DEFAULT '');
-- Folder queries read this index alone: a folder's objects lie side by side, in name order.
CREATE INDEX IF NOT EXISTS objects_tree ON objects(parent_path, name, type, content_type, cabinet_id, id);
CREATE INDEX IF NOT EXISTS objects_folder ON objects(folder_id);
CREATE TABLE IF NOT EXISTS versions(
  object_id TEXT NOT NULL REFERENCES objects(id) ON DELETE CASCADE,
  version_label TEXT NOT NULL,
  content_type TEXT NOT NULL,
  content_hash TEXT NOT NULL,
  content_size INTEGER NOT NULL,
  modify_date TEXT NOT NULL,
  modifier TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS versions_object ON versions(object_id);
CREATE TABLE IF NOT EXISTS users(name TEXT PRIMARY KEY, password_hash TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS formats(name TEXT PRIMARY KEY, extension TEXT NOT NULL);
)sql";

// The version table; a repository made before it is version 1.
const char* kVersionTable = "CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL);";

const char* kFormats[][2] = {
    {"ppt8", "pptx"}, {"msw8", "docx"},  {"msw6", "doc"},  {"zip", "zip"},         {"pdf", "pdf"},
    {"prn", "prn"},   {"crtext", "txt"}, {"ppt", "ppt"},   {"excel8book", "xlsx"}, {"excel", "xls"},
    {"rtf", "rtf"},   {"html", "htm"},   {"xml", "xml"},   {"jpeg", "jpg"},        {"png", "png"},
    {"gif", "gif"},   {"potx", "potx"},  {"dotx", "dotx"}, {"csv", "csv"},
};

// Passwords are kept as argon2id hashes.
constexpr uint32_t kTimeCost = 2;
constexpr uint32_t kMemoryKiB = 19 * 1024;
constexpr uint32_t kLanes = 1;
constexpr size_t kHashLength = 32;
constexpr size_t kSaltLength = 16;

std::string hashPassword(const std::string& password) {
    unsigned char salt[kSaltLength];
    if (RAND_bytes(salt, sizeof salt) != 1)
        fail(code::StorageError, "No random numbers available");
    const size_t len = argon2_encodedlen(kTimeCost, kMemoryKiB, kLanes, kSaltLength, kHashLength, Argon2_id);
    std::string encoded(len, '\0');
    const int rc = argon2id_hash_encoded(kTimeCost, kMemoryKiB, kLanes, password.data(), password.size(),
                                         salt, sizeof salt, kHashLength, encoded.data(), encoded.size());
    if (rc != ARGON2_OK)
        fail(code::StorageError, std::string("Cannot hash the password: ") + argon2_error_message(rc));
    encoded.resize(std::strlen(encoded.c_str()));
    return encoded;
}

const char* kObjectColumns = "id, type, name, content_type, is_private, owner_name, lock_owner, lock_path, "
                             "version_label, creation_date, modify_date, coalesce(folder_id, ''), "
                             "parent_path, cabinet_id, content_hash, content_size, modifier";

sqlite3_stmt* prepare(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        fail(code::StorageError, std::string("Cannot prepare a statement: ") + sqlite3_errmsg(db));
    }
    return st;
}

// Prepared statements kept for reuse: an import or export runs the same few statements once per
// object, and preparing one costs more than running it.
class StatementCache {
public:
    explicit StatementCache(sqlite3*& db) : db_(db) {}
    ~StatementCache() { clear(); }
    StatementCache(const StatementCache&) = delete;
    StatementCache& operator=(const StatementCache&) = delete;

    sqlite3* db() const { return db_; }
    // A statement for sql, taken out of the cache while it is in use.
    sqlite3_stmt* take(const std::string& sql) {
        const auto it = idle_.find(sql);
        if (it == idle_.end())
            return prepare(db_, sql);
        sqlite3_stmt* st = it->second;
        idle_.erase(it);
        return st;
    }
    void give(const std::string& sql, sqlite3_stmt* st) {
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
        if (!idle_.emplace(sql, st).second)
            sqlite3_finalize(st);
    }
    void clear() {
        for (auto& [sql, st] : idle_)
            sqlite3_finalize(st);
        idle_.clear();
    }

private:
    sqlite3*& db_;
    std::unordered_map<std::string, sqlite3_stmt*> idle_;
};

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) : db_(db), st_(prepare(db, sql)) {}
    Statement(StatementCache& cache, std::string sql)
        : db_(cache.db()), cache_(&cache), sql_(std::move(sql)), st_(cache.take(sql_)) {}
    ~Statement() {
        if (cache_)
            cache_->give(sql_, st_);
        else
            sqlite3_finalize(st_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int i, const std::string& s) {
        sqlite3_bind_text(st_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bindNullable(int i, const std::string& s) {
        if (s.empty())
            sqlite3_bind_null(st_, i);
        else
            bind(i, s);
        return *this;
    }
    Statement& bind(int i, std::int64_t v) {
        sqlite3_bind_int64(st_, i, v);
        return *this;
    }
    Statement& bind(int i, double v) {
        sqlite3_bind_double(st_, i, v);
        return *this;
    }
    // True while a row is current.
    bool step() {
        const int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        const std::string msg = sqlite3_errmsg(db_);
        if (rc == SQLITE_BUSY)
            fail(code::StorageError, "The repository is busy: " + msg);
        if (rc == SQLITE_CONSTRAINT)
            fail(code::StorageError, "A repository constraint failed: " + msg);
        fail(code::StorageError, "Repository database error: " + msg);
    }
    std::string text(int c) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, c));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(st_, c))) : std::string();
    }
    std::int64_t integer(int c) const { return sqlite3_column_int64(st_, c); }
    sqlite3_stmt* raw() const { return st_; }

private:
    sqlite3* db_;
    StatementCache* cache_ = nullptr;
    std::string sql_;
    sqlite3_stmt* st_ = nullptr;
};

ObjectRecord readObject(const Statement& s) {
    ObjectRecord r;
    r.id = s.text(0);
    r.type = s.text(1);
    r.name = s.text(2);
    r.contentType = s.text(3);
    r.isPrivate = s.integer(4) != 0;
    r.owner = s.text(5);
    r.lockOwner = s.text(6);
    r.lockPath = s.text(7);
    r.versionLabel = s.text(8);
    r.created = s.text(9);
    r.modified = s.text(10);
    r.folderId = s.text(11);
    r.parentPath = s.text(12);
    r.cabinetId = s.text(13);
    r.contentHash = s.text(14);
    r.contentSize = s.integer(15);
    r.modifier = s.text(16);
    return r;
}

class SqliteCursor : public QueryCursor {
public:
    SqliteCursor(sqlite3* db, const tql::SqlStatement& statement, std::vector<std::string> columns)
        : st_(db, statement.sql), columns_(std::move(columns)) {
        int i = 1;
        for (const auto& p : statement.params) {
            std::visit(
                [&](const auto& v) {
                    if constexpr (std::is_same_v<std::decay_t<decltype(v)>, bool>)
                        st_.bind(i, std::int64_t{v});
                    else
                        st_.bind(i, v);
                },
                p);
            ++i;
        }
    }
    bool next() override { return st_.step(); }
    std::string value(size_t column) const override {
        if (column >= columns_.size())
            fail(code::BadArgument, "No column " + std::to_string(column));
        if (kinds_.empty()) {
            for (const auto& c : columns_) {
                const auto* info = tql::findAttribute(c);
                kinds_.push_back(info ? info->kind : tql::ValueKind::String);
            }
        }
        const int c = static_cast<int>(column);
        if (kinds_[column] == tql::ValueKind::Boolean)
            return st_.integer(c) ? "true" : "false";
        return st_.text(c);
    }
    const std::vector<std::string>& columns() const override { return columns_; }

private:
    Statement st_;
    std::vector<std::string> columns_;
    mutable std::vector<tql::ValueKind> kinds_;
};

// The label after a version's: 1.0 gives 1.1, 3 gives 3.1, anything else starts again at 1.0.
std::string nextVersionLabel(const std::string& label) {
    const auto dot = label.find('.');
    try {
        if (dot == std::string::npos)
            return std::to_string(std::stoi(label)) + ".1";
        return label.substr(0, dot) + "." + std::to_string(std::stoi(label.substr(dot + 1)) + 1);
    } catch (...) {
        return "1.0";
    }
}

class SqliteStorage : public Storage {
public:
    SqliteStorage(const std::string& file, bool create) {
        // One thread at a time uses a repository store, as it does the sessions on it and the
        // statements kept for reuse, so the connection takes no lock of its own on every call.
        const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            const std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            db_ = nullptr;
            fail(code::UnknownRepository, "Cannot open the repository database " + file + ": " + msg);
        }
        // A refusal here (a repository of a newer schema, say) leaves no connection behind.
        try {
            sqlite3_busy_timeout(db_, 15000);
            exec("PRAGMA journal_mode=WAL");
            exec("PRAGMA synchronous=FULL");
            exec("PRAGMA foreign_keys=ON");
            exec("PRAGMA case_sensitive_like=ON");
            // Room for the tree index of a large repository, so that folder queries read it from memory.
            exec("PRAGMA cache_size=-65536");
            if (create) {
                exec("BEGIN IMMEDIATE");
                exec(kSchema);
                exec(kVersionTable);
                exec(("INSERT INTO schema_version(version) VALUES(" + std::to_string(kSchemaVersion) + ")")
                         .c_str());
                for (const auto& f : kFormats) {
                    Statement s(db_, "INSERT OR IGNORE INTO formats(name, extension) VALUES(?, ?)");
                    s.bind(1, std::string(f[0])).bind(2, std::string(f[1])).step();
                }
                exec("COMMIT");
            } else {
                Statement s(db_, "SELECT count(*) FROM sqlite_master WHERE type='table' AND name='objects'");
                if (!s.step() || s.integer(0) == 0)
                    fail(code::UnknownRepository, file + " is not a repository database");
                if (const int v = schemaVersion(); v > kSchemaVersion)
                    fail(code::UnsupportedBackend, file + " has schema version " + std::to_string(v) +
                                                       ", made by a newer program; this one reads up to " +
                                                       std::to_string(kSchemaVersion));
            }
        } catch (...) {
            cache_.clear();
            sqlite3_close_v2(db_);
            db_ = nullptr;
            throw;
        }
    }
    ~SqliteStorage() override {
        cache_.clear();
        sqlite3_close_v2(db_);
    }

    void begin() override { exec("BEGIN IMMEDIATE"); }
    void commit() override { exec("COMMIT"); }
    void rollback() override {
        if (!sqlite3_get_autocommit(db_))
            exec("ROLLBACK");
    }

    std::optional<ObjectRecord> objectById(const std::string& id, const Viewer& v) override {
        Statement s(cache_, std::string("SELECT ") + kObjectColumns + " FROM objects o WHERE o.id = ?" +
                                visibility(v, 2));
        s.bind(1, id);
        bindViewer(s, v, 2);
        if (!s.step())
            return std::nullopt;
        return readObject(s);
    }

    std::optional<ObjectRecord> objectByPath(const std::string& parentPath, const std::string& name,
                                             const Viewer& v, bool foldersOnly) override {
        Statement s(cache_, std::string("SELECT ") + kObjectColumns +
                                " FROM objects o WHERE o.parent_path = ? AND o.name = ?" +
                                (foldersOnly ? " AND o.type IN ('ts_folder', 'ts_cabinet')" : "") +
                                visibility(v, 3) + " ORDER BY o.rowid LIMIT 1");
        s.bind(1, parentPath).bind(2, name);
        bindViewer(s, v, 3);
        if (!s.step())
            return std::nullopt;
        return readObject(s);
    }

    bool idExists(const std::string& id) override {
        Statement s(cache_, "SELECT 1 FROM objects WHERE id = ?");
        s.bind(1, id);
        return s.step();
    }

    ObjectRecord insertObject(const ObjectRecord& r, bool) override {
        Statement s(
            cache_,
            "INSERT INTO objects(id, type, name, content_type, is_private, owner_name, lock_owner, "
            "lock_path, version_label, creation_date, modify_date, folder_id, parent_path, "
            "cabinet_id, content_hash, content_size, modifier) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        s.bind(1, r.id).bind(2, r.type).bind(3, r.name).bind(4, r.contentType);
        s.bind(5, std::int64_t{r.isPrivate}).bind(6, r.owner).bind(7, r.lockOwner).bind(8, r.lockPath);
        s.bind(9, r.versionLabel).bind(10, r.created).bind(11, r.modified).bindNullable(12, r.folderId);
        s.bind(13, r.parentPath)
            .bind(14, r.cabinetId)
            .bind(15, r.contentHash)
            .bind(16, r.contentSize)
            .bind(17, r.modifier);
        s.step();
        return r;
    }

    ObjectRecord updateObject(const ObjectRecord& r) override {
        const auto current = r.isFolder() ? objectById(r.id, Viewer{"", true}) : std::nullopt;
        Statement s(cache_, "UPDATE objects SET type=?, name=?, content_type=?, is_private=?, owner_name=?, "
                            "version_label=?, modify_date=?, folder_id=?, parent_path=?, cabinet_id=?, "
                            "content_hash=?, content_size=?, modifier=? WHERE id=?");
        s.bind(1, r.type).bind(2, r.name).bind(3, r.contentType).bind(4, std::int64_t{r.isPrivate});
        s.bind(5, r.owner).bind(6, r.versionLabel).bind(7, r.modified).bindNullable(8, r.folderId);
        s.bind(9, r.parentPath)
            .bind(10, r.cabinetId)
            .bind(11, r.contentHash)
            .bind(12, r.contentSize)
            .bind(13, r.modifier);
        s.bind(14, r.id);
        s.step();
        if (current && current->ownPath() != r.ownPath())
            movePaths(current->ownPath(), r.ownPath(), r.cabinetId);
        return r;
    }

    ObjectRecord checkIn(const std::string& id, const std::string& user, const std::string& hash,
                         std::int64_t size, const std::string& contentType) override {
        auto cur = objectById(id, Viewer{"", true});
        if (!cur)
            fail(code::ObjectNotFound, "The object '" + id + "' no longer exists");
        if (!unlockObject(id, user))
            fail(code::NotLockOwner, "'" + cur->name + "' is no longer checked out by " + user);
        addVersion({cur->id, cur->versionLabel, cur->contentType, cur->contentHash, cur->contentSize,
                    cur->modified, cur->modifier});
        ObjectRecord r = *cur;
        r.contentType = contentType;
        r.contentHash = hash;
        r.contentSize = size;
        r.versionLabel = nextVersionLabel(cur->versionLabel);
        r.modified = nowText();
        r.modifier = user;
        r.lockOwner.clear();
        r.lockPath.clear();
        return updateObject(r);
    }

    // Moves every object below oldPath to newPath, in the cabinet cabinetId.
    void movePaths(const std::string& oldPath, const std::string& newPath, const std::string& cabinetId) {
        Statement s(cache_, "UPDATE objects SET parent_path = ? || substr(parent_path, ?), cabinet_id = ? "
                            "WHERE parent_path = ? OR (parent_path >= ? AND parent_path < ?)");
        s.bind(1, newPath).bind(2, static_cast<std::int64_t>(oldPath.size() + 1)).bind(3, cabinetId);
        s.bind(4, oldPath).bind(5, oldPath + "/").bind(6, oldPath + "0");
        s.step();
    }

    bool lockObject(const std::string& id, const std::string& user, const std::string& localPath) override {
        Statement s(cache_,
                    "UPDATE objects SET lock_owner = ?, lock_path = ? WHERE id = ? AND lock_owner = ''");
        s.bind(1, user).bind(2, localPath).bind(3, id);
        s.step();
        return sqlite3_changes(db_) == 1;
    }

    bool unlockObject(const std::string& id, const std::string& user) override {
        Statement s(
            cache_,
            user.empty()
                ? "UPDATE objects SET lock_owner = '', lock_path = '' WHERE id = ? AND lock_owner <> ''"
                : "UPDATE objects SET lock_owner = '', lock_path = '' WHERE id = ? AND lock_owner = ?");
        s.bind(1, id);
        if (!user.empty())
            s.bind(2, user);
        s.step();
        return sqlite3_changes(db_) == 1;
    }

    void addVersion(const VersionRecord& v) {
        Statement s(cache_, "INSERT INTO versions(object_id, version_label, content_type, content_hash, "
                            "content_size, modify_date, modifier) VALUES(?,?,?,?,?,?,?)");
        s.bind(1, v.objectId).bind(2, v.versionLabel).bind(3, v.contentType).bind(4, v.contentHash);
        s.bind(5, v.contentSize).bind(6, v.modified).bind(7, v.modifier);
        s.step();
    }

    std::vector<VersionRecord> versions(const std::string& objectId) override {
        std::vector<VersionRecord> out;
        Statement s(cache_,
                    "SELECT object_id, version_label, content_type, content_hash, content_size, modify_date, "
                    "modifier FROM versions WHERE object_id = ? ORDER BY rowid");
        s.bind(1, objectId);
        while (s.step())
            out.push_back({s.text(0), s.text(1), s.text(2), s.text(3), s.integer(4), s.text(5), s.text(6)});
        return out;
    }

    std::set<std::string> referencedContent() override {
        std::set<std::string> out;
        Statement s(cache_, "SELECT content_hash FROM objects WHERE content_hash <> '' UNION "
                            "SELECT content_hash FROM versions WHERE content_hash <> ''");
        while (s.step())
            out.insert(s.text(0));
        return out;
    }

    void forEachObject(bool foldersOnly, const std::function<void(const ObjectRecord&)>& each) override {
        Statement s(cache_, std::string("SELECT ") + kObjectColumns + " FROM objects o WHERE o.type " +
                                (foldersOnly ? "IN" : "NOT IN") + " ('ts_folder', 'ts_cabinet')");
        while (s.step())
            each(readObject(s));
    }

    std::unique_ptr<QueryCursor> runQuery(const tql::Query& q, const Viewer& v) override {
        const auto statement =
            tql::compileQuery(q, tql::Dialect::Sqlite, v.administrator ? std::nullopt : std::optional(v.user),
                              [&](const tql::FolderTest& f) { return queryFolderPath(*this, f, v); });
        return std::make_unique<SqliteCursor>(db_, statement, q.attributes);
    }

    bool addUser(const std::string& name, const std::string& password) override {
        Statement s(cache_, "INSERT OR IGNORE INTO users(name, password_hash) VALUES(?, ?)");
        s.bind(1, name).bind(2, hashPassword(password)).step();
        return sqlite3_changes(db_) == 1;
    }
    bool setPassword(const std::string& name, const std::string& password) override {
        Statement s(cache_, "UPDATE users SET password_hash = ? WHERE name = ?");
        s.bind(1, hashPassword(password)).bind(2, name).step();
        return sqlite3_changes(db_) == 1;
    }
    bool userExists(const std::string& name) override { return passwordHash(name).has_value(); }
    bool passwordMatches(const std::string& name, const std::string& password) override {
        const auto hash = passwordHash(name);
        return hash && argon2id_verify(hash->c_str(), password.data(), password.size()) == ARGON2_OK;
    }
    std::vector<std::string> users() override {
        std::vector<std::string> out;
        Statement s(cache_, "SELECT name FROM users ORDER BY name");
        while (s.step())
            out.push_back(s.text(0));
        return out;
    }

    int schemaVersion() override {
        Statement t(cache_,
                    "SELECT count(*) FROM sqlite_master WHERE type='table' AND name='schema_version'");
        if (!t.step() || t.integer(0) == 0)
            return 1;
        Statement s(cache_, "SELECT max(version) FROM schema_version");
        return s.step() ? static_cast<int>(s.integer(0)) : 1;
    }
    int upgradeSchema() override {
        Transaction t(*this);
        const int had = schemaVersion();
        if (had < 2)
            exec(kVersionTable);
        // Version 3 changed the server's schema only.
        if (had < kSchemaVersion) {
            Statement s(cache_, "INSERT INTO schema_version(version) VALUES(?)");
            s.bind(1, std::int64_t{kSchemaVersion}).step();
        }
        t.commit();
        return had;
    }

    std::optional<std::string> formatExtension(const std::string& format) override {
        Statement s(cache_, "SELECT extension FROM formats WHERE name = ?");
        s.bind(1, format);
        if (!s.step())
            return std::nullopt;
        return s.text(0);
    }
    std::optional<std::string> formatForExtension(const std::string& extension) override {
        Statement s(cache_,
                    "SELECT name FROM formats WHERE lower(extension) = lower(?) ORDER BY rowid LIMIT 1");
        s.bind(1, extension);
        if (!s.step())
            return std::nullopt;
        return s.text(0);
    }
    void addFormat(const std::string& format, const std::string& extension) override {
        Statement s(cache_, "INSERT OR IGNORE INTO formats(name, extension) VALUES(?, ?)");
        s.bind(1, format).bind(2, extension).step();
    }

    std::vector<AuditEntry> auditTrail(const std::string&) override {
        fail(code::UnsupportedBackend,
             "The embedded repository keeps no audit trail; a server repository does");
    }

private:
    std::optional<std::string> passwordHash(const std::string& name) {
        Statement s(cache_, "SELECT password_hash FROM users WHERE name = ?");
        s.bind(1, name);
        if (!s.step())
            return std::nullopt;
        return s.text(0);
    }

    void exec(const char* sql) {
        char* err = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
            const std::string msg = err ? err : sqlite3_errmsg(db_);
            sqlite3_free(err);
            fail(code::StorageError, "Repository database error: " + msg);
        }
    }

    static std::string visibility(const Viewer& v, int) {
        if (v.administrator)
            return "";
        return tql::visibleCabinetsClause("?");
    }
    static void bindViewer(Statement& s, const Viewer& v, int index) {
        if (!v.administrator)
            s.bind(index, v.user);
    }

    sqlite3* db_ = nullptr;
    StatementCache cache_{db_};
};

} // namespace

std::unique_ptr<Storage> openSqliteStorage(const std::string& databaseFile, bool create) {
    return std::make_unique<SqliteStorage>(databaseFile, create);
}

} // namespace lf::tessarel
