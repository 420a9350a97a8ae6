// The server backend: a repository in a PostgreSQL database, in the schema "tessarel". Users are
// the server's roles and log in with their own passwords, which the server checks; what each may
// see and change is enforced by the database itself (grants, row-level security and triggers), so
// a user who connects with another client gets no more than this library gives them. Content lives
// in the database too, in chunks, and commits with the metadata that points to it.
#include "tessarel/errors.h"
#include "tessarel/storage.h"
#include "tessarel/tql_sql.h"

#include "platform/replace_file.h"

#include <libpq-fe.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <future>
#include <poll.h>
#include <set>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace lf::tessarel {

namespace {

// Content travels and is kept in chunks of this size: a deck of usual size is one chunk, and no
// statement ever carries more than this.
constexpr size_t kChunkBytes = 1 << 20;
// What a content publication sends before it waits for the server to have stored it.
constexpr size_t kPipelineBytes = 16 << 20;
// The server checks the hash of content up to this size when it commits (it hashes content as one
// value, which the server bounds); every export and check-out checks it again as it writes.
constexpr std::int64_t kServerVerifiedBytes = 512LL << 20;
// The key of the repository's write lock (an advisory lock of the transaction, per database).
constexpr std::int64_t kWriteLockKey = 0x7473776c; // "tswl"

constexpr Oid kText = 25, kInt8 = 20, kInt4 = 23, kFloat8 = 701, kBool = 16, kBytea = 17;

// The schema a repository is made with. {AUTHORS} and {ADMINS} are the repository's two group
// roles (as identifiers), {ADMINS_NAME} the second as a string. Every function that reads past
// row-level security is SECURITY DEFINER with a fixed search path.
const char* kSchema = R"sql(
CREATE SCHEMA tessarel;
SET search_path TO tessarel;
CREATE TABLE schema_version(version integer NOT NULL);
CREATE TABLE objects(
  seq bigint GENERATED ALWAYS AS IDENTITY,
  id text COLLATE "C" PRIMARY KEY,
  type text COLLATE "C" NOT NULL CHECK (type IN ('ts_cabinet', 'ts_folder', 'ts_document')),
  name text COLLATE "C" NOT NULL,
  content_type text COLLATE "C" NOT NULL DEFAULT '',
  is_private boolean NOT NULL DEFAULT false,
  owner_name text COLLATE "C" NOT NULL,
  lock_owner text COLLATE "C" NOT NULL DEFAULT '',
  lock_path text NOT NULL DEFAULT '',
  version_label text COLLATE "C" NOT NULL,
  creation_date text COLLATE "C" NOT NULL,
  modify_date text COLLATE "C" NOT NULL,
  folder_id text COLLATE "C" REFERENCES objects(id),
  parent_path text COLLATE "C" NOT NULL,
  cabinet_id text COLLATE "C" NOT NULL,
  content_hash text COLLATE "C" NOT NULL DEFAULT '',
  content_size bigint NOT NULL DEFAULT 0,
  modifier text COLLATE "C" NOT NULL DEFAULT '',
  -- The privacy and owner of the row's cabinet, kept by a trigger: what row-level security reads.
  cabinet_private boolean NOT NULL DEFAULT false,
  cabinet_owner text COLLATE "C" NOT NULL DEFAULT '');
-- Folder queries read a folder's objects side by side, in name order.
CREATE INDEX objects_tree ON objects(parent_path, name, type, content_type, cabinet_id, id);
CREATE INDEX objects_folder ON objects(folder_id);
CREATE INDEX objects_content ON objects(content_hash) WHERE content_hash <> '';
-- One folder of a name in a folder, whoever can see it.
CREATE UNIQUE INDEX objects_folder_names ON objects(parent_path, name) WHERE type <> 'ts_document';
CREATE TABLE versions(
  seq bigint GENERATED ALWAYS AS IDENTITY,
  object_id text COLLATE "C" NOT NULL REFERENCES objects(id),
  version_label text COLLATE "C" NOT NULL,
  content_type text COLLATE "C" NOT NULL,
  content_hash text COLLATE "C" NOT NULL,
  content_size bigint NOT NULL,
  modify_date text COLLATE "C" NOT NULL,
  modifier text COLLATE "C" NOT NULL,
  UNIQUE (object_id, version_label));
CREATE INDEX versions_content ON versions(content_hash);
CREATE TABLE formats(
  seq bigint GENERATED ALWAYS AS IDENTITY,
  name text COLLATE "C" PRIMARY KEY,
  extension text COLLATE "C" NOT NULL);
CREATE TABLE content(
  hash text COLLATE "C" PRIMARY KEY CHECK (hash ~ '^[0-9a-f]{64}$'),
  size bigint NOT NULL CHECK (size >= 0),
  chunks integer NOT NULL CHECK (chunks >= 0));
CREATE TABLE content_chunks(
  hash text COLLATE "C" NOT NULL REFERENCES content(hash) ON DELETE CASCADE,
  n integer NOT NULL,
  data bytea NOT NULL,
  PRIMARY KEY (hash, n));
-- Decks and documents are zip files already: kept as they come, not compressed again.
ALTER TABLE content_chunks ALTER COLUMN data SET STORAGE EXTERNAL;

CREATE FUNCTION ts_is_admin() RETURNS boolean LANGUAGE sql STABLE
  AS $$ SELECT pg_has_role(current_user, {ADMINS_NAME}, 'MEMBER') $$;

-- The privacy and owner of a cabinet, whoever asks.
-- (In PL/pgSQL, as every function called for each row written: a session keeps its plans, where a
-- function in SQL of its own settings is planned anew at every call.)
CREATE FUNCTION ts_cabinet_of(cab text, OUT is_private boolean, OUT owner_name text)
  LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  SELECT o.is_private, o.owner_name INTO is_private, owner_name
    FROM tessarel.objects o WHERE o.id = cab AND o.type = 'ts_cabinet';
END $$;

-- A cabinet made private or public, or given another owner: every row of it follows (the guard
-- below takes the cabinet's values again for each row written).
CREATE FUNCTION ts_cabinet_follow(cab text) RETURNS void
  LANGUAGE sql SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp
  AS $$ UPDATE tessarel.objects SET cabinet_owner = cabinet_owner WHERE cabinet_id = cab AND id <> cab $$;

-- Whether this transaction made the content row: chunks are added only to content being made.
CREATE FUNCTION ts_content_is_new(h text) RETURNS boolean
  LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  RETURN EXISTS (SELECT 1 FROM tessarel.content WHERE hash = h AND xmin = pg_current_xact_id()::xid);
END $$;

-- The rules of locks, owners and cabinets on every row written, for every role but the
-- administrators: a check-out lock is taken for oneself and cleared by its owner; a document
-- checked out by someone else keeps its content; owners are changed by administrators only.
CREATE FUNCTION ts_objects_guard() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
DECLARE
  cab record;
BEGIN
  IF NOT ts_is_admin() THEN
    IF TG_OP = 'INSERT' THEN
      IF NEW.lock_owner NOT IN ('', current_user) THEN
        RAISE EXCEPTION 'A check-out lock is taken by its own user, not for %', NEW.lock_owner
          USING ERRCODE = '42501';
      END IF;
    ELSE
      IF NEW.id <> OLD.id OR NEW.owner_name <> OLD.owner_name THEN
        RAISE EXCEPTION 'Only an administrator changes the id or owner of ''%''', OLD.name USING ERRCODE = '42501';
      END IF;
      IF NEW.is_private <> OLD.is_private AND OLD.owner_name <> current_user THEN
        RAISE EXCEPTION 'Only the owner of ''%'' makes it private or public', OLD.name USING ERRCODE = '42501';
      END IF;
      IF OLD.lock_owner NOT IN ('', current_user) THEN
        -- The lock's path is the file its owner's check-in reads: it is the lock's, as fixed.
        IF NEW.lock_owner <> OLD.lock_owner OR NEW.lock_path <> OLD.lock_path THEN
          RAISE EXCEPTION '''%'' is checked out by %: only they or an administrator clear the lock',
            OLD.name, OLD.lock_owner USING ERRCODE = '42501';
        END IF;
        -- A document someone else has checked out also keeps its name and its folder, as the
        -- library keeps them (a folder moved with it still takes it along).
        IF NEW.content_hash <> OLD.content_hash OR NEW.version_label <> OLD.version_label
           OR NEW.name <> OLD.name OR NEW.folder_id IS DISTINCT FROM OLD.folder_id THEN
          RAISE EXCEPTION '''%'' is checked out by %', OLD.name, OLD.lock_owner USING ERRCODE = '42501';
        END IF;
      ELSIF NEW.lock_owner NOT IN ('', OLD.lock_owner, current_user) THEN
        RAISE EXCEPTION 'A check-out lock is taken by its own user, not for %', NEW.lock_owner
          USING ERRCODE = '42501';
      END IF;
    END IF;
  END IF;
  IF NEW.type = 'ts_cabinet' THEN
    NEW.cabinet_id := NEW.id;
    NEW.cabinet_private := NEW.is_private;
    NEW.cabinet_owner := NEW.owner_name;
  ELSE
    SELECT * INTO cab FROM ts_cabinet_of(NEW.cabinet_id);
    IF cab.owner_name IS NULL THEN
      RAISE EXCEPTION 'There is no cabinet %', NEW.cabinet_id USING ERRCODE = '23503';
    END IF;
    NEW.cabinet_private := cab.is_private;
    NEW.cabinet_owner := cab.owner_name;
  END IF;
  RETURN NEW;
END $$;
CREATE TRIGGER objects_guard BEFORE INSERT OR UPDATE ON objects FOR EACH ROW EXECUTE FUNCTION ts_objects_guard();

CREATE FUNCTION ts_cabinet_changed() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  PERFORM ts_cabinet_follow(NEW.id);
  RETURN NULL;
END $$;
CREATE TRIGGER objects_cabinet_changed AFTER UPDATE ON objects FOR EACH ROW
  WHEN (NEW.type = 'ts_cabinet' AND (OLD.is_private <> NEW.is_private OR OLD.owner_name <> NEW.owner_name))
  EXECUTE FUNCTION ts_cabinet_changed();

-- A version, once written, is history: no one rewrites or removes it.
CREATE FUNCTION ts_versions_kept() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  RAISE EXCEPTION 'A version is never rewritten or removed' USING ERRCODE = '42501';
END $$;
CREATE TRIGGER versions_kept BEFORE UPDATE OR DELETE ON versions FOR EACH ROW EXECUTE FUNCTION ts_versions_kept();
CREATE TRIGGER versions_kept_whole BEFORE TRUNCATE ON versions FOR EACH STATEMENT EXECUTE FUNCTION ts_versions_kept();

-- A version is recorded by the check-in that replaces it: when the transaction commits, the
-- document holds a version of another label (else its next check-in could not record it).
CREATE FUNCTION ts_version_replaced() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  IF EXISTS (SELECT 1 FROM tessarel.objects WHERE id = NEW.object_id AND version_label = NEW.version_label) THEN
    RAISE EXCEPTION 'Version % of % is recorded only by the check-in that replaces it', NEW.version_label,
      NEW.object_id USING ERRCODE = '23514';
  END IF;
  RETURN NULL;
END $$;
CREATE CONSTRAINT TRIGGER versions_replaced AFTER INSERT ON versions DEFERRABLE INITIALLY DEFERRED
  FOR EACH ROW EXECUTE FUNCTION ts_version_replaced();

-- New content is complete and its bytes are the ones its hash names, checked when the
-- transaction that made it commits.
CREATE FUNCTION ts_content_check() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
DECLARE
  total bigint;
  pieces integer;
  last integer;
  digest text;
BEGIN
  SELECT coalesce(sum(octet_length(data)), 0), count(*), coalesce(max(n), -1)
    INTO total, pieces, last FROM tessarel.content_chunks WHERE hash = NEW.hash;
  IF total <> NEW.size OR pieces <> NEW.chunks OR last <> NEW.chunks - 1 THEN
    RAISE EXCEPTION 'The content % is incomplete', NEW.hash USING ERRCODE = '23514';
  END IF;
  IF NEW.size <= {VERIFIED_BYTES} THEN
    SELECT encode(sha256(coalesce(string_agg(data, ''::bytea ORDER BY n), ''::bytea)), 'hex')
      INTO digest FROM tessarel.content_chunks WHERE hash = NEW.hash;
    IF digest <> NEW.hash THEN
      RAISE EXCEPTION 'The content stored as % holds other bytes', NEW.hash USING ERRCODE = '23514';
    END IF;
  END IF;
  RETURN NULL;
END $$;
CREATE CONSTRAINT TRIGGER content_complete AFTER INSERT ON content DEFERRABLE INITIALLY DEFERRED
  FOR EACH ROW EXECUTE FUNCTION ts_content_check();

-- What a user sees: the public cabinets, their own private ones, and what those hold, with the
-- versions and content of what they see. Administrators see everything.
ALTER TABLE objects ENABLE ROW LEVEL SECURITY;
CREATE POLICY objects_seen ON objects FOR SELECT
  USING (NOT cabinet_private OR cabinet_owner = current_user OR ts_is_admin());
CREATE POLICY objects_made ON objects FOR INSERT
  WITH CHECK ((NOT cabinet_private OR cabinet_owner = current_user OR ts_is_admin())
              AND (owner_name = current_user OR ts_is_admin()));
CREATE POLICY objects_changed ON objects FOR UPDATE
  USING (NOT cabinet_private OR cabinet_owner = current_user OR ts_is_admin())
  WITH CHECK (NOT cabinet_private OR cabinet_owner = current_user OR ts_is_admin());
ALTER TABLE versions ENABLE ROW LEVEL SECURITY;
CREATE POLICY versions_seen ON versions FOR SELECT
  USING (EXISTS (SELECT 1 FROM objects o WHERE o.id = versions.object_id));
-- A version records what a document holds, as it is, when a new version replaces it.
CREATE POLICY versions_made ON versions FOR INSERT
  WITH CHECK (EXISTS (SELECT 1 FROM objects o WHERE o.id = versions.object_id
                      AND o.version_label = versions.version_label AND o.content_hash = versions.content_hash
                      AND o.content_type = versions.content_type AND o.content_size = versions.content_size
                      AND o.modify_date = versions.modify_date AND o.modifier = versions.modifier));
ALTER TABLE content ENABLE ROW LEVEL SECURITY;
-- Each test of objects names the condition of its partial index (objects_content), which the
-- planner does not infer from the hash: without it, a read of content scans every object.
CREATE POLICY content_seen ON content FOR SELECT
  USING (EXISTS (SELECT 1 FROM objects o WHERE o.content_hash = content.hash AND o.content_hash <> '')
         OR EXISTS (SELECT 1 FROM versions v WHERE v.content_hash = content.hash)
         OR ts_content_is_new(hash));
CREATE POLICY content_made ON content FOR INSERT WITH CHECK (true);
ALTER TABLE content_chunks ENABLE ROW LEVEL SECURITY;
CREATE POLICY chunks_seen ON content_chunks FOR SELECT
  USING (EXISTS (SELECT 1 FROM objects o WHERE o.content_hash = content_chunks.hash AND o.content_hash <> '')
         OR EXISTS (SELECT 1 FROM versions v WHERE v.content_hash = content_chunks.hash));
CREATE POLICY chunks_made ON content_chunks FOR INSERT WITH CHECK (ts_content_is_new(hash));

-- Authors read and add; nobody but the owner removes anything.
REVOKE ALL ON SCHEMA tessarel FROM PUBLIC;
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA tessarel FROM PUBLIC;
GRANT USAGE ON SCHEMA tessarel TO {AUTHORS};
GRANT EXECUTE ON ALL FUNCTIONS IN SCHEMA tessarel TO {AUTHORS};
-- Only the trigger of a cabinet's change rewrites its rows.
REVOKE EXECUTE ON FUNCTION ts_cabinet_follow(text) FROM {AUTHORS};
GRANT SELECT ON schema_version TO {AUTHORS};
GRANT SELECT, INSERT, UPDATE ON objects TO {AUTHORS};
GRANT SELECT, INSERT ON versions, formats, content, content_chunks TO {AUTHORS};
GRANT USAGE ON ALL SEQUENCES IN SCHEMA tessarel TO {AUTHORS};
GRANT {AUTHORS} TO {ADMINS};
)sql";

const char* kFormats[][2] = {
    {"ppt8", "pptx"}, {"msw8", "docx"},  {"msw6", "doc"},  {"zip", "zip"},         {"pdf", "pdf"},
    {"prn", "prn"},   {"crtext", "txt"}, {"ppt", "ppt"},   {"excel8book", "xlsx"}, {"excel", "xls"},
    {"rtf", "rtf"},   {"html", "htm"},   {"xml", "xml"},   {"jpeg", "jpg"},        {"png", "png"},
    {"gif", "gif"},   {"potx", "potx"},  {"dotx", "dotx"}, {"csv", "csv"},
};

const char* kObjectColumns = "id, type, name, content_type, is_private, owner_name, lock_owner, lock_path, "
                             "version_label, creation_date, modify_date, coalesce(folder_id, ''), "
                             "parent_path, cabinet_id, content_hash, content_size, modifier";

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

struct Param {
    std::string value;
    Oid type = kText;
    bool binary = false;
    bool null = false;
};
Param text(std::string s) {
    return {std::move(s), kText};
}
Param nullableText(const std::string& s) {
    return {s, kText, false, s.empty()};
}
Param int8(std::int64_t v) {
    return {std::to_string(v), kInt8};
}
Param int4(int v) {
    return {std::to_string(v), kInt4};
}
Param boolean(bool v) {
    return {v ? "true" : "false", kBool};
}
Param bytes(const char* p, size_t n) {
    return {std::string(p, n), kBytea, true};
}

class Result {
public:
    explicit Result(PGresult* r = nullptr) : r_(r) {}
    ~Result() { PQclear(r_); }
    Result(Result&& o) noexcept : r_(o.r_) { o.r_ = nullptr; }
    Result& operator=(Result&& o) noexcept {
        std::swap(r_, o.r_);
        return *this;
    }
    int rows() const { return PQntuples(r_); }
    // A cell the result does not have fails: a statement that should have given a row and did not
    // is a repository that lacks one, never a read past the result.
    std::string text(int row, int col) const {
        return std::string(data(row, col), static_cast<size_t>(PQgetlength(r_, row, col)));
    }
    const char* data(int row, int col) const {
        const char* p = PQgetvalue(r_, row, col);
        if (!p)
            fail(code::StorageError, "The repository server's answer has no row " + std::to_string(row) +
                                         ", column " + std::to_string(col));
        return p;
    }
    size_t length(int row, int col) const { return static_cast<size_t>(PQgetlength(r_, row, col)); }
    std::int64_t integer(int row, int col) const {
        const std::string t = text(row, col);
        try {
            return std::stoll(t);
        } catch (const std::exception&) {
            fail(code::StorageError, "The repository server gave '" + t + "' where a number belongs");
        }
    }
    bool flag(int row, int col) const { return data(row, col)[0] == 't'; }
    // Rows a command changed.
    int changed() const {
        const char* n = PQcmdTuples(r_);
        return n && *n ? std::atoi(n) : 0;
    }
    PGresult* raw() const { return r_; }

private:
    PGresult* r_;
};

// A message of the server or of libpq without the line end it comes with.
std::string messageText(const char* text) {
    std::string msg = text ? text : "";
    while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' '))
        msg.pop_back();
    return msg;
}

// The description of a failed statement, as a TsException of the kind it is.
[[noreturn]] void failWith(const PGresult* r, PGconn* conn) {
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const std::string msg = messageText(primary ? primary : PQerrorMessage(conn));
    const std::string s = state ? state : "";
    if (s == "55P03" || s == "40P01" || s == "40001")
        fail(code::StorageError, "The repository is busy: " + msg);
    if (s == "42501")
        fail(code::StorageError, "The repository server refused: " + msg);
    const char* constraint = r ? PQresultErrorField(r, PG_DIAG_CONSTRAINT_NAME) : nullptr;
    if (s == "23505" && constraint && std::strcmp(constraint, "objects_folder_names") == 0)
        fail(code::NameConflict, "There is already a folder of that name there");
    if (s.rfind("23", 0) == 0)
        fail(code::StorageError, "A repository constraint failed: " + msg);
    if (PQstatus(conn) == CONNECTION_BAD)
        fail(code::NotConnected, "The connection to the repository server was lost: " + msg);
    fail(code::StorageError, "Repository database error: " + msg);
}

class Connection;

// The rows of a query as the server sends them, one at a time, so the first rows of a large
// result arrive at once. While it streams, the connection carries nothing else: a statement sent
// meanwhile first takes the rest of the rows into memory.
class Stream {
public:
    Stream(Connection& c, std::vector<std::string> columns);
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    // The next row, or false at the end.
    bool next();
    const std::vector<std::string>& row() const { return row_; }
    const std::vector<std::string>& columns() const { return columns_; }
    // Reads every row still to come into memory; the connection is free afterwards.
    void drain();

private:
    bool receive(std::vector<std::string>& into);
    void finish();

    Connection& conn_;
    std::vector<std::string> columns_;
    std::vector<std::string> row_;
    std::deque<std::vector<std::string>> buffered_;
    bool streaming_ = true;
};

// How long the client waits for the server to send anything while it owes an answer: 30 s, or the
// seconds in TESSAREL_ANSWER_TIMEOUT (a positive whole number). A stalled server (stopped, or a
// machine that went away without closing the connection) makes the call fail instead of hanging.
int answerTimeoutSeconds() {
    if (const char* env = std::getenv("TESSAREL_ANSWER_TIMEOUT")) {
        char* end = nullptr;
        const long v = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && v > 0 && v <= 24 * 3600)
            return static_cast<int>(v);
    }
    return 30;
}

class Connection {
public:
    Connection(const std::string& conninfo, const std::string& user, const std::string& password)
        : answerSeconds_(answerTimeoutSeconds()) {
        // Our defaults come first, so the connection string may set its own: a server that does not
        // accept the connection in 10 s is not waited for, and a TCP connection (keepalives do not
        // apply to a Unix socket) finds a peer that went away in about a minute. The connection
        // string is expanded next; a user and password given override its own.
        std::vector<const char*> keys{"connect_timeout",     "keepalives",       "keepalives_idle",
                                      "keepalives_interval", "keepalives_count", "dbname",
                                      "application_name",    "client_encoding"};
        std::vector<const char*> values{"10", "1", "30", "10", "3", conninfo.c_str(), "tessarel", "UTF8"};
        if (!user.empty()) {
            keys.push_back("user");
            values.push_back(user.c_str());
            keys.push_back("password");
            values.push_back(password.c_str());
        }
        keys.push_back(nullptr);
        values.push_back(nullptr);
        conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
        if (!conn_)
            fail(code::NotConnected, "Cannot reach the repository server: out of memory");
        if (PQstatus(conn_) != CONNECTION_OK) {
            const std::string msg = messageText(PQerrorMessage(conn_));
            PQfinish(conn_);
            conn_ = nullptr;
            if (msg.find("authentication failed") != std::string::npos ||
                msg.find("no password supplied") != std::string::npos ||
                (msg.find("role \"") != std::string::npos && msg.find("does not exist") != std::string::npos))
                fail(code::LoginRefused, "The repository server refused the login: " + msg);
            if (msg.find("database \"") != std::string::npos &&
                msg.find("does not exist") != std::string::npos)
                fail(code::UnknownRepository, "There is no repository database: " + msg);
            fail(code::NotConnected, "Cannot reach the repository server: " + msg);
        }
        // Every wait for the server is ours (await), with its deadline: libpq never blocks.
        if (PQsetnonblocking(conn_, 1) != 0) {
            const std::string msg = messageText(PQerrorMessage(conn_));
            PQfinish(conn_);
            conn_ = nullptr;
            fail(code::NotConnected, "Cannot use the connection to the repository server: " + msg);
        }
        // The repository's schema, and a wait for a busy repository as long as the embedded
        // database's, in one round trip.
        command("SET search_path TO tessarel; SET lock_timeout TO '15s'");
    }
    // A query's rows keep their store, and so their connection, until they are read or dropped.
    ~Connection() { PQfinish(conn_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The libpq connection; fails once the connection was dropped.
    PGconn* raw() const {
        if (!conn_)
            fail(code::NotConnected, dropped_);
        return conn_;
    }
    bool dropped() const { return !conn_; }

    // A statement (or several) without parameters; fails as the first that failed.
    void command(const std::string& sql) {
        settle();
        if (!PQsendQuery(raw(), sql.c_str()))
            failWith(nullptr, conn_);
        collect();
    }

    // A statement prepared once per connection and kept, with its parameters; binaryResult asks
    // for the rows in the server's binary form.
    Result run(const std::string& sql, const std::vector<Param>& params, bool binaryResult = false) {
        settle();
        const std::string& name = prepared(sql, params);
        Values v(params);
        if (!PQsendQueryPrepared(raw(), name.c_str(), static_cast<int>(params.size()), v.values.data(),
                                 v.lengths.data(), v.formats.data(), binaryResult ? 1 : 0))
            failWith(nullptr, conn_);
        return collect();
    }

    // Statements sent one after another without waiting for each one's result (libpq's pipeline
    // mode): the connection waits for the server once per sync, and the server works on what was
    // sent while the client gets the next statement ready. Each statement is prepared and kept
    // as run's are (before the pipeline starts sending).
    void enterPipeline() {
        settle();
        if (PQenterPipelineMode(raw()) != 1)
            failWith(nullptr, conn_);
    }
    void sendInPipeline(const std::string& sql, const std::vector<Param>& params,
                        std::function<void(const Result&)> done = {}) {
        Values v(params);
        if (!PQsendQueryPrepared(raw(), prepared_.at(sql).c_str(), static_cast<int>(params.size()),
                                 v.values.data(), v.lengths.data(), v.formats.data(), 0))
            failWith(nullptr, conn_);
        pipelined_.push_back(std::move(done));
        // What was sent leaves now, so the client's buffer stays small and a stalled server is found
        // while sending too.
        flush();
    }
    // Waits for every statement sent since the last sync, giving each its result in order; fails
    // as the first statement that failed (the server skipped every statement after it).
    void syncPipeline() {
        auto callbacks = std::move(pipelined_);
        pipelined_.clear();
        if (PQpipelineSync(raw()) != 1)
            failWith(nullptr, conn_);
        std::optional<Result> failure;
        for (auto& done : callbacks) {
            // A statement's results end with a null pointer.
            while (PGresult* raw = nextResult()) {
                Result r(raw);
                const auto st = PQresultStatus(raw);
                if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) {
                    if (done && !failure)
                        done(r);
                } else if (st != PGRES_PIPELINE_ABORTED && !failure) {
                    failure = std::move(r);
                }
            }
        }
        Result sync(nextResult());
        if (failure)
            failWith(failure->raw(), conn_);
        if (PQresultStatus(sync.raw()) != PGRES_PIPELINE_SYNC)
            failWith(sync.raw(), conn_);
    }
    // Leaves pipeline mode; after a failure, first takes in and drops what is still to come.
    void exitPipeline() {
        if (!conn_)
            return;
        if (!pipelined_.empty()) {
            pipelined_.assign(pipelined_.size(), {});
            try {
                syncPipeline();
            } catch (const TsException&) {
            }
        }
        if (conn_)
            PQexitPipelineMode(conn_);
    }

    // The name of the statement prepared for sql on this connection, prepared on first use.
    const std::string& prepared(const std::string& sql, const std::vector<Param>& params) {
        auto it = prepared_.find(sql);
        if (it == prepared_.end()) {
            const std::string name = "s" + std::to_string(prepared_.size() + 1);
            std::vector<Oid> types;
            for (const auto& p : params)
                types.push_back(p.type);
            if (!PQsendPrepare(raw(), name.c_str(), sql.c_str(), static_cast<int>(types.size()),
                               types.data()))
                failWith(nullptr, conn_);
            collect();
            it = prepared_.emplace(sql, name).first;
        }
        return it->second;
    }

    // Sends a statement whose rows stream (Stream); not kept prepared, as a query's statement
    // differs from one query to the next.
    void send(const std::string& sql, const std::vector<Param>& params, Stream* stream) {
        settle();
        std::vector<Oid> types;
        for (const auto& p : params)
            types.push_back(p.type);
        Values v(params);
        if (!PQsendQueryParams(raw(), sql.c_str(), static_cast<int>(params.size()), types.data(),
                               v.values.data(), v.lengths.data(), v.formats.data(), 0))
            failWith(nullptr, conn_);
        PQsetSingleRowMode(conn_);
        stream_ = stream;
    }
    void released(Stream* s) {
        if (stream_ == s)
            stream_ = nullptr;
    }

    // Asks the server to stop the statement running. libpq sends the request on a connection of its
    // own and waits for the server's answer without a deadline, so it goes from a thread of its
    // own; a server that has not taken it within the answer timeout is stalled, and this
    // connection is dropped (a request arriving later could stop a later statement).
    void cancelRunning() {
        PGcancel* cancel = PQgetCancel(raw());
        if (!cancel)
            return;
        auto sent = std::make_shared<std::promise<void>>();
        std::future<void> taken = sent->get_future();
        std::thread([cancel, sent] {
            char error[256];
            PQcancel(cancel, error, sizeof error);
            PQfreeCancel(cancel);
            sent->set_value();
        }).detach();
        if (taken.wait_for(std::chrono::seconds(answerSeconds_)) != std::future_status::ready)
            drop(noReply());
    }

    // The next result of what was sent (null at the end of a statement's results), waiting for the
    // server no longer than the answer timeout without a byte from it.
    PGresult* nextResult() {
        flush();
        while (PQisBusy(raw())) {
            awaitSocket(POLLIN);
            if (!PQconsumeInput(conn_))
                failWith(nullptr, conn_);
        }
        return PQgetResult(conn_);
    }

private:
    struct Values {
        explicit Values(const std::vector<Param>& params) {
            for (const auto& p : params) {
                values.push_back(p.null ? nullptr : p.value.data());
                lengths.push_back(static_cast<int>(p.value.size()));
                formats.push_back(p.binary ? 1 : 0);
            }
        }
        std::vector<const char*> values;
        std::vector<int> lengths;
        std::vector<int> formats;
    };

    // Every result of the statement sent, to its end; fails as the first that failed, else gives
    // the last.
    Result collect() {
        std::optional<Result> failure;
        Result last;
        while (PGresult* raw = nextResult()) {
            Result r(raw);
            const auto st = PQresultStatus(raw);
            if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK)
                last = std::move(r);
            else if (!failure)
                failure = std::move(r);
        }
        if (failure)
            failWith(failure->raw(), conn_);
        return last;
    }

    // Sends what libpq still holds, reading what the server sends meanwhile.
    void flush() {
        for (;;) {
            const int r = PQflush(raw());
            if (r == 0)
                return;
            if (r < 0)
                failWith(nullptr, conn_);
            if (awaitSocket(POLLIN | POLLOUT) & POLLIN) {
                if (!PQconsumeInput(conn_))
                    failWith(nullptr, conn_);
            }
        }
    }

    // Waits for the socket to be ready for events; when nothing comes within the answer timeout,
    // the connection is dropped (a stalled server's connection is never used again) and the call
    // fails.
    short awaitSocket(short events) {
        pollfd p{PQsocket(raw()), events, 0};
        for (;;) {
            const int n = ::poll(&p, 1, answerSeconds_ * 1000);
            if (n > 0)
                return p.revents;
            if (n < 0 && errno == EINTR)
                continue;
            drop(n == 0 ? noReply()
                        : "The repository server does not answer (cannot wait for it: " +
                              std::string(std::strerror(errno)) + ")");
        }
    }

    std::string noReply() const {
        return "The repository server does not answer (no reply in " + std::to_string(answerSeconds_) + " s)";
    }

    [[noreturn]] void drop(const std::string& message) {
        PQfinish(conn_);
        conn_ = nullptr;
        stream_ = nullptr;
        pipelined_.clear();
        dropped_ = message + "; the connection to it was closed";
        fail(code::NotConnected, message);
    }

    // Frees the connection of a query still streaming.
    void settle() {
        if (stream_)
            stream_->drain();
    }

    PGconn* conn_ = nullptr;
    const int answerSeconds_;
    std::string dropped_;
    std::unordered_map<std::string, std::string> prepared_;
    Stream* stream_ = nullptr;
    std::vector<std::function<void(const Result&)>> pipelined_;
};

Stream::Stream(Connection& c, std::vector<std::string> columns) : conn_(c), columns_(std::move(columns)) {}

Stream::~Stream() {
    if (!streaming_ || conn_.dropped())
        return;
    // Left before its end: the server stops sending, and what it sent is dropped.
    try {
        conn_.cancelRunning();
        finish();
    } catch (const TsException&) {
        // The connection was dropped meanwhile: nothing is left to take.
    }
}

bool Stream::receive(std::vector<std::string>& into) {
    Result r;
    try {
        r = Result(conn_.nextResult());
    } catch (const TsException&) {
        streaming_ = false;
        conn_.released(this);
        throw;
    }
    const auto st = PQresultStatus(r.raw());
    if (st == PGRES_SINGLE_TUPLE) {
        into.clear();
        const int cols = PQnfields(r.raw());
        for (int c = 0; c < cols; ++c)
            into.push_back(r.text(0, c));
        return true;
    }
    if (st == PGRES_TUPLES_OK) {
        finish();
        return false;
    }
    // An error ends the stream: take what else the server sends, then report it.
    Result failure = std::move(r);
    finish();
    failWith(failure.raw(), conn_.raw());
}

void Stream::finish() {
    streaming_ = false;
    conn_.released(this);
    while (PGresult* rest = conn_.nextResult())
        PQclear(rest);
}

bool Stream::next() {
    if (!buffered_.empty()) {
        row_ = std::move(buffered_.front());
        buffered_.pop_front();
        return true;
    }
    if (!streaming_)
        return false;
    return receive(row_);
}

void Stream::drain() {
    std::vector<std::string> row;
    while (streaming_ && receive(row))
        buffered_.push_back(std::move(row));
}

class ServerCursor : public QueryCursor {
public:
    ServerCursor(Connection& c, const std::string& sql, const std::vector<Param>& params,
                 std::vector<std::string> columns)
        : stream_(c, std::move(columns)) {
        for (const auto& col : stream_.columns()) {
            const auto* info = tql::findAttribute(col);
            booleans_.push_back(info && info->kind == tql::ValueKind::Boolean);
        }
        c.send(sql, params, &stream_);
    }
    bool next() override { return stream_.next(); }
    std::string value(size_t column) const override {
        if (column >= stream_.columns().size())
            fail(code::BadArgument, "No column " + std::to_string(column));
        const std::string& v = stream_.row().at(column);
        if (booleans_[column])
            return v == "t" ? "true" : "false";
        return v;
    }
    const std::vector<std::string>& columns() const override { return stream_.columns(); }

private:
    Stream stream_;
    std::vector<bool> booleans_;
};

// An object row from its columns (kObjectColumns) as text, however they came.
template <class Column> ObjectRecord objectFromColumns(const Column& column) {
    ObjectRecord o;
    o.id = column(0);
    o.type = column(1);
    o.name = column(2);
    o.contentType = column(3);
    o.isPrivate = column(4) == "t";
    o.owner = column(5);
    o.lockOwner = column(6);
    o.lockPath = column(7);
    o.versionLabel = column(8);
    o.created = column(9);
    o.modified = column(10);
    o.folderId = column(11);
    o.parentPath = column(12);
    o.cabinetId = column(13);
    o.contentHash = column(14);
    o.contentSize = std::stoll(column(15));
    o.modifier = column(16);
    return o;
}

ObjectRecord readObject(const Result& r, int row) {
    return objectFromColumns([&](int c) { return r.text(row, c); });
}

// Quoted for statement text; only role names are, which statements cannot take as parameters.
std::string identifier(PGconn* c, const std::string& name) {
    char* q = PQescapeIdentifier(c, name.data(), name.size());
    if (!q)
        fail(code::BadName, "'" + name + "' cannot be a user name: " + PQerrorMessage(c));
    std::string out(q);
    PQfreemem(q);
    return out;
}
std::string literal(PGconn* c, const std::string& text) {
    char* q = PQescapeLiteral(c, text.data(), text.size());
    if (!q)
        fail(code::BadArgument, std::string("Cannot quote a value: ") + PQerrorMessage(c));
    std::string out(q);
    PQfreemem(q);
    return out;
}

class ServerStorage : public Storage {
public:
    ServerStorage(std::shared_ptr<Connection> c, std::string conninfo, bool create)
        : c_(std::move(c)), conninfo_(std::move(conninfo)) {
        database_ = c_->run("SELECT current_database()", {}).text(0, 0);
        if (create) {
            make();
            return;
        }
        Result s = c_->run("SELECT count(*) FROM pg_namespace WHERE nspname = 'tessarel'", {});
        if (s.integer(0, 0) == 0)
            fail(code::UnknownRepository, "The database " + database_ +
                                              " holds no repository (tessarel-admin init NAME --server ...)");
        Result usage = c_->run("SELECT has_schema_privilege('tessarel', 'USAGE')", {});
        if (!usage.flag(0, 0))
            fail(code::LoginRefused,
                 "The user '" + currentUser() + "' is not a user of the repository in " + database_);
        if (const int v = schemaVersion(); v > kSchemaVersion)
            fail(code::UnsupportedBackend,
                 "The repository in " + database_ + " has schema version " + std::to_string(v) +
                     ", made by a newer program; this one reads up to " + std::to_string(kSchemaVersion));
    }

    void begin() override {
        c_->command("BEGIN");
        inTransaction_ = true;
        c_->run("SELECT pg_advisory_xact_lock($1)", {int8(kWriteLockKey)});
    }
    void commit() override {
        inTransaction_ = false;
        c_->command("COMMIT");
    }
    void rollback() override {
        if (inTransaction_ || PQtransactionStatus(c_->raw()) != PQTRANS_IDLE) {
            inTransaction_ = false;
            c_->command("ROLLBACK");
        }
    }

    std::optional<ObjectRecord> objectById(const std::string& id, const Viewer&) override {
        Result r =
            c_->run(std::string("SELECT ") + kObjectColumns + " FROM objects WHERE id = $1", {text(id)});
        if (r.rows() == 0)
            return std::nullopt;
        return readObject(r, 0);
    }

    std::optional<ObjectRecord> objectByPath(const std::string& parentPath, const std::string& name,
                                             const Viewer&, bool foldersOnly) override {
        Result r = c_->run(
            std::string("SELECT ") + kObjectColumns + " FROM objects WHERE parent_path = $1 AND name = $2" +
                (foldersOnly ? " AND type IN ('ts_folder', 'ts_cabinet')" : "") + " ORDER BY seq LIMIT 1",
            {text(parentPath), text(name)});
        if (r.rows() == 0)
            return std::nullopt;
        return readObject(r, 0);
    }

    bool idExists(const std::string& id) override {
        // Ids are unique over the whole repository, whoever may see the object: the insert would
        // fail on an id in use, which is too rare to ask about past what the user sees.
        return c_->run("SELECT 1 FROM objects WHERE id = $1", {text(id)}).rows() > 0;
    }

    void insertObject(const ObjectRecord& r) override {
        c_->run("INSERT INTO objects(id, type, name, content_type, is_private, owner_name, lock_owner, "
                "lock_path, version_label, creation_date, modify_date, folder_id, parent_path, cabinet_id, "
                "content_hash, content_size, modifier) "
                "VALUES($1,$2,$3,$4,$5,$6,$7,$8,$9,$10,$11,$12,$13,$14,$15,$16,$17)",
                {text(r.id), text(r.type), text(r.name), text(r.contentType), boolean(r.isPrivate),
                 text(r.owner), text(r.lockOwner), text(r.lockPath), text(r.versionLabel), text(r.created),
                 text(r.modified), nullableText(r.folderId), text(r.parentPath), text(r.cabinetId),
                 text(r.contentHash), int8(r.contentSize), text(r.modifier)});
    }

    void updateObject(const ObjectRecord& r) override {
        c_->run("UPDATE objects SET type=$1, name=$2, content_type=$3, is_private=$4, owner_name=$5, "
                "version_label=$6, modify_date=$7, folder_id=$8, parent_path=$9, cabinet_id=$10, "
                "content_hash=$11, content_size=$12, modifier=$13 WHERE id=$14",
                {text(r.type), text(r.name), text(r.contentType), boolean(r.isPrivate), text(r.owner),
                 text(r.versionLabel), text(r.modified), nullableText(r.folderId), text(r.parentPath),
                 text(r.cabinetId), text(r.contentHash), int8(r.contentSize), text(r.modifier), text(r.id)});
    }

    void movePaths(const std::string& oldPath, const std::string& newPath,
                   const std::string& cabinetId) override {
        c_->run("UPDATE objects SET parent_path = $1 || substr(parent_path, $2), cabinet_id = $3 "
                "WHERE parent_path = $4 OR (parent_path >= $5 AND parent_path < $6)",
                {text(newPath), int4(static_cast<int>(oldPath.size() + 1)), text(cabinetId), text(oldPath),
                 text(oldPath + "/"), text(oldPath + "0")});
    }

    bool lockObject(const std::string& id, const std::string& user, const std::string& localPath) override {
        // One statement: of two sessions racing for the lock, the second waits for the first's
        // row and then finds it taken.
        return c_->run("UPDATE objects SET lock_owner = $1, lock_path = $2 WHERE id = $3 AND lock_owner = ''",
                       {text(user), text(localPath), text(id)})
                   .changed() == 1;
    }

    bool unlockObject(const std::string& id, const std::string& user) override {
        if (user.empty())
            return c_->run("UPDATE objects SET lock_owner = '', lock_path = '' WHERE id = $1 AND lock_owner "
                           "<> ''",
                           {text(id)})
                       .changed() == 1;
        return c_->run("UPDATE objects SET lock_owner = '', lock_path = '' WHERE id = $1 AND lock_owner = $2",
                       {text(id), text(user)})
                   .changed() == 1;
    }

    void addVersion(const VersionRecord& v) override {
        c_->run("INSERT INTO versions(object_id, version_label, content_type, content_hash, content_size, "
                "modify_date, modifier) VALUES($1,$2,$3,$4,$5,$6,$7)",
                {text(v.objectId), text(v.versionLabel), text(v.contentType), text(v.contentHash),
                 int8(v.contentSize), text(v.modified), text(v.modifier)});
    }

    std::vector<VersionRecord> versions(const std::string& objectId) override {
        Result r = c_->run("SELECT object_id, version_label, content_type, content_hash, content_size, "
                           "modify_date, modifier FROM versions WHERE object_id = $1 ORDER BY seq",
                           {text(objectId)});
        std::vector<VersionRecord> out;
        for (int i = 0; i < r.rows(); ++i)
            out.push_back({r.text(i, 0), r.text(i, 1), r.text(i, 2), r.text(i, 3), r.integer(i, 4),
                           r.text(i, 5), r.text(i, 6)});
        return out;
    }

    std::set<std::string> referencedContent() override {
        Result r = c_->run("SELECT content_hash FROM objects WHERE content_hash <> '' UNION "
                           "SELECT content_hash FROM versions WHERE content_hash <> ''",
                           {});
        std::set<std::string> out;
        for (int i = 0; i < r.rows(); ++i)
            out.insert(r.text(i, 0));
        return out;
    }

    void forEachObject(bool foldersOnly, const std::function<void(const ObjectRecord&)>& each) override {
        // Row by row: a large repository is never held in memory whole.
        Stream rows(*c_, std::vector<std::string>(17));
        c_->send(std::string("SELECT ") + kObjectColumns + " FROM objects WHERE type " +
                     (foldersOnly ? "IN" : "NOT IN") + " ('ts_folder', 'ts_cabinet')",
                 {}, &rows);
        while (rows.next())
            each(objectFromColumns([&](int c) { return rows.row().at(static_cast<size_t>(c)); }));
    }

    std::unique_ptr<QueryCursor> runQuery(const tql::Query& q, const Viewer& v) override {
        // What the user sees is the server's to decide: no viewer condition of ours.
        const auto statement =
            tql::compileQuery(q, tql::Dialect::Postgres, std::nullopt,
                              [&](const tql::FolderTest& f) { return queryFolderPath(*this, f, v); });
        std::vector<Param> params;
        for (const auto& p : statement.params) {
            if (const auto* s = std::get_if<std::string>(&p))
                params.push_back(text(*s));
            else if (const auto* i = std::get_if<std::int64_t>(&p))
                params.push_back(int8(*i));
            else if (const auto* d = std::get_if<double>(&p))
                params.push_back({std::to_string(*d), kFloat8});
            else
                params.push_back(boolean(std::get<bool>(p)));
        }
        return std::make_unique<ServerCursor>(*c_, statement.sql, params, q.attributes);
    }

    bool addUser(const std::string& name, const std::string& password) override {
        if (userExists(name))
            return false;
        if (c_->run("SELECT 1 FROM pg_roles WHERE rolname = $1", {text(name)}).rows() > 0)
            fail(code::UserExists, "The server already has a role '" + name +
                                       "'; an administrator makes it a user "
                                       "of this repository with GRANT " +
                                       authors() + " TO " + identifier(c_->raw(), name));
        c_->command("CREATE ROLE " + identifier(c_->raw(), name) + " LOGIN PASSWORD " +
                    literal(c_->raw(), scram(name, password)) + " IN ROLE " + authors());
        applyAuthorLimits(name);
        return true;
    }
    bool setPassword(const std::string& name, const std::string& password) override {
        if (!userExists(name))
            return false;
        c_->command("ALTER ROLE " + identifier(c_->raw(), name) + " PASSWORD " +
                    literal(c_->raw(), scram(name, password)));
        return true;
    }
    bool userExists(const std::string& name) override {
        return c_->run("SELECT 1 FROM pg_roles r WHERE r.rolname = $1 AND r.rolcanlogin AND "
                       "pg_has_role(r.oid, $2, 'MEMBER')",
                       {text(name), text(authorsName())})
                   .rows() > 0;
    }
    bool passwordMatches(const std::string& name, const std::string& password) override {
        if (name.empty() || !userExists(name))
            return false;
        try {
            Connection probe(conninfo_, name, password);
        } catch (const TsException& e) {
            if (e.code() == code::LoginRefused)
                return false;
            throw;
        }
        return true;
    }
    std::vector<std::string> users() override {
        Result r = c_->run("SELECT r.rolname FROM pg_roles r WHERE r.rolcanlogin AND NOT r.rolsuper AND "
                           "pg_has_role(r.oid, $1, 'MEMBER') ORDER BY r.rolname COLLATE \"C\"",
                           {text(authorsName())});
        std::vector<std::string> out;
        for (int i = 0; i < r.rows(); ++i)
            out.push_back(r.text(i, 0));
        return out;
    }

    int schemaVersion() override {
        Result r = c_->run("SELECT coalesce(max(version), 0) FROM schema_version", {});
        return static_cast<int>(r.integer(0, 0));
    }
    int upgradeSchema() override {
        // The server's schema starts at version 2; the steps past it go here, each in the one
        // transaction.
        return schemaVersion();
    }

    std::optional<std::string> formatExtension(const std::string& format) override {
        Result r = c_->run("SELECT extension FROM formats WHERE name = $1", {text(format)});
        if (r.rows() == 0)
            return std::nullopt;
        return r.text(0, 0);
    }
    std::optional<std::string> formatForExtension(const std::string& extension) override {
        Result r = c_->run("SELECT name FROM formats WHERE lower(extension) = lower($1) ORDER BY seq LIMIT 1",
                           {text(extension)});
        if (r.rows() == 0)
            return std::nullopt;
        return r.text(0, 0);
    }
    void addFormat(const std::string& format, const std::string& extension) override {
        c_->run("INSERT INTO formats(name, extension) VALUES($1, $2) ON CONFLICT DO NOTHING",
                {text(format), text(extension)});
    }

private:
    // The server's own limits for an author: a statement that runs for a minute, or a transaction
    // left open and idle for a minute, is ended by the server, so no author holds rows or the
    // repository's write lock from the others (a client that stalls included). Settings of a role
    // are not inherited from its group roles, hence one role at a time: each user as it is made,
    // and the users made before by the upgrade that brings these limits.
    void applyAuthorLimits(const std::string& role) {
        const std::string r = identifier(c_->raw(), role);
        c_->command("ALTER ROLE " + r + " SET statement_timeout = '60s'; ALTER ROLE " + r +
                    " SET idle_in_transaction_session_timeout = '60s'");
    }

    std::string currentUser() { return c_->run("SELECT current_user", {}).text(0, 0); }
    std::string authorsName() const { return database_ + "_authors"; }
    std::string adminsName() const { return database_ + "_admins"; }
    std::string authors() const { return identifier(c_->raw(), authorsName()); }

    // The password as the server keeps it (a SCRAM verifier), made here so that the password
    // itself never reaches the server or its logs.
    std::string scram(const std::string& user, const std::string& password) {
        char* v = PQencryptPasswordConn(c_->raw(), password.c_str(), user.c_str(), "scram-sha-256");
        if (!v)
            fail(code::StorageError,
                 std::string("Cannot encrypt the password: ") + PQerrorMessage(c_->raw()));
        std::string out(v);
        PQfreemem(v);
        return out;
    }

    // The schema, the repository's two group roles and the formats, in one transaction.
    void make() {
        if (authorsName().size() > 63)
            fail(code::BadName, "The database name " + database_ + " is too long for a repository's roles");
        std::string schema = kSchema;
        replaceAll(schema, "{AUTHORS}", authors());
        replaceAll(schema, "{ADMINS}", identifier(c_->raw(), adminsName()));
        replaceAll(schema, "{ADMINS_NAME}", literal(c_->raw(), adminsName()));
        replaceAll(schema, "{VERIFIED_BYTES}", std::to_string(kServerVerifiedBytes));
        c_->command("BEGIN");
        try {
            if (c_->run("SELECT count(*) FROM pg_namespace WHERE nspname = 'tessarel'", {}).integer(0, 0) > 0)
                fail(code::NameConflict, "The database " + database_ + " already holds a repository");
            for (const std::string& role : {authorsName(), adminsName()}) {
                if (c_->run("SELECT 1 FROM pg_roles WHERE rolname = $1", {text(role)}).rows() == 0)
                    c_->command("CREATE ROLE " + identifier(c_->raw(), role) + " NOLOGIN");
            }
            // The repository's maker administers it.
            c_->command("GRANT " + identifier(c_->raw(), adminsName()) + " TO CURRENT_USER");
            c_->command(schema);
            c_->run("INSERT INTO schema_version(version) VALUES($1)", {int4(kSchemaVersion)});
            for (const auto& f : kFormats)
                c_->run("INSERT INTO formats(name, extension) VALUES($1, $2)", {text(f[0]), text(f[1])});
            c_->command("COMMIT");
        } catch (...) {
            c_->command("ROLLBACK");
            throw;
        }
        // The session's search path now finds the new schema.
        c_->command("SET search_path TO tessarel");
    }

    std::shared_ptr<Connection> c_;
    std::string conninfo_;
    std::string database_;
    bool inTransaction_ = false;
};

class ServerContentStore : public ContentStore {
public:
    explicit ServerContentStore(std::shared_ptr<Connection> c) : c_(std::move(c)) {}

    // Hashes the file; its bytes travel when the content is published, inside the transaction.
    StagedContent stage(const std::string& localFile, bool refuseLinks) override {
        std::int64_t size = 0;
        const Fd fd = openContentSource(localFile, refuseLinks, size);
        std::string buffer(kChunkBytes, '\0');
        Sha256 digest;
        StagedContent out;
        out.source = localFile;
        out.refuseLinks = refuseLinks;
        while (const size_t n = readUpTo(fd.get(), buffer.data(), buffer.size(), localFile)) {
            digest.update(buffer.data(), n);
            out.size += static_cast<std::int64_t>(n);
        }
        out.hash = digest.hex();
        return out;
    }

    // Content the repository does not hold yet goes to the server chunk by chunk; the file is
    // read again and must still be what staging hashed. The statements go in a pipeline that
    // waits for the server once every kPipelineBytes, so the next file is read and hashed while
    // the server stores the last.
    void publish(std::vector<StagedContent>& staged) override {
        // What the server holds already (of the content this user may see), in one statement.
        std::string wanted;
        for (const auto& s : staged) {
            if (!s.source.empty())
                wanted += (wanted.empty() ? "" : ",") + s.hash;
        }
        if (wanted.empty())
            return;
        std::set<std::string> held;
        Result r =
            c_->run("SELECT hash FROM content WHERE hash = ANY($1::text[])", {text("{" + wanted + "}")});
        for (int i = 0; i < r.rows(); ++i)
            held.insert(r.text(i, 0));
        // Of two transactions storing the same new content, the second waits for the first and
        // then finds it stored; chunks go only into content this transaction made.
        static const std::string makeContent =
            "INSERT INTO content(hash, size, chunks) VALUES($1, $2, $3) ON CONFLICT DO NOTHING";
        static const std::string addChunk =
            "INSERT INTO content_chunks(hash, n, data) SELECT $1, $2, $3 WHERE ts_content_is_new($1)";
        c_->prepared(makeContent, {text(""), int8(0), int4(0)});
        c_->prepared(addChunk, {text(""), int4(0), bytes("", 0)});
        std::string buffer(kChunkBytes, '\0');
        c_->enterPipeline();
        try {
            size_t unsynced = 0;
            for (auto& s : staged) {
                if (s.source.empty())
                    continue;
                // Held already, or staged twice in this batch: stored once.
                if (!held.insert(s.hash).second) {
                    s.reused = true;
                    s.source.clear();
                    continue;
                }
                const int chunks = static_cast<int>((s.size + static_cast<std::int64_t>(kChunkBytes) - 1) /
                                                    static_cast<std::int64_t>(kChunkBytes));
                c_->sendInPipeline(makeContent, {text(s.hash), int8(s.size), int4(chunks)},
                                   [&s](const Result& made) {
                                       if (made.changed() == 0)
                                           s.reused = true;
                                   });
                std::int64_t size = 0;
                const Fd fd = openContentSource(s.source, s.refuseLinks, size);
                Sha256 digest;
                std::int64_t sent = 0;
                for (int n = 0; n < chunks; ++n) {
                    const size_t want = static_cast<size_t>(
                        std::min<std::int64_t>(static_cast<std::int64_t>(kChunkBytes), s.size - sent));
                    const size_t got = readUpTo(fd.get(), buffer.data(), want, s.source);
                    if (got != want)
                        break;
                    digest.update(buffer.data(), got);
                    c_->sendInPipeline(addChunk, {text(s.hash), int4(n), bytes(buffer.data(), got)});
                    sent += static_cast<std::int64_t>(got);
                }
                char extra = 0;
                if (sent != s.size || readUpTo(fd.get(), &extra, 1, s.source) != 0 || digest.hex() != s.hash)
                    fail(code::FileError, s.source + " changed while it was stored; nothing of it was kept");
                s.source.clear();
                unsynced += static_cast<size_t>(sent);
                if (unsynced >= kPipelineBytes) {
                    c_->syncPipeline();
                    unsynced = 0;
                }
            }
            c_->syncPipeline();
        } catch (...) {
            c_->exitPipeline();
            throw;
        }
        c_->exitPipeline();
    }

    // Nothing was sent outside a transaction, and the transaction's end takes it all back.
    void discard(std::vector<StagedContent>& staged) override {
        for (auto& s : staged)
            s.source.clear();
    }

    bool contains(const std::string& hash) const override {
        return c_->run("SELECT 1 FROM content WHERE hash = $1", {text(hash)}).rows() > 0;
    }

    void copyOut(const std::string& hash, const std::string& target) const override {
        platform::ReplaceOptions options;
        options.mode = 0644;
        options.removeLeftovers = false;
        std::unique_ptr<platform::FileReplacement> out;
        Sha256 digest;
        int chunks = 1;
        for (int n = 0; n < chunks; ++n) {
            // The first chunk comes with the number of chunks; a content of no bytes has none.
            Result r = c_->run(n == 0 ? "SELECT c.chunks, ch.data FROM content c LEFT JOIN content_chunks ch "
                                        "ON ch.hash = c.hash AND ch.n = $2 WHERE c.hash = $1"
                                      : "SELECT 0, data FROM content_chunks WHERE hash = $1 AND n = $2",
                               {text(hash), int4(n)}, true);
            if (n == 0 && r.rows() == 1) {
                uint32_t count = 0;
                std::memcpy(&count, r.data(0, 0), std::min(sizeof count, r.length(0, 0)));
                chunks = static_cast<int>(ntohl(count));
            }
            if (r.rows() == 0 || (chunks > 0 && PQgetisnull(r.raw(), 0, 1)))
                fail(code::NoContent, "The content " + hash + " is missing from the repository");
            if (!out) {
                out = std::make_unique<platform::FileReplacement>(target, options);
                if (!out->ok())
                    replacementFailed(*out, target);
            }
            if (chunks == 0)
                break;
            digest.update(r.data(0, 1), r.length(0, 1));
            if (!out->write(std::string_view(r.data(0, 1), r.length(0, 1))))
                replacementFailed(*out, target);
        }
        // What is written is what the hash names, or nothing is.
        if (digest.hex() != hash)
            fail(code::NoContent, "The content " + hash + " in the repository does not match its hash");
        if (!out->commit())
            replacementFailed(*out, target);
    }

    std::vector<std::string> allContent() const override {
        Result r = c_->run("SELECT hash FROM content ORDER BY hash", {});
        std::vector<std::string> out;
        for (int i = 0; i < r.rows(); ++i)
            out.push_back(r.text(i, 0));
        return out;
    }
    // Content is only ever sent inside a transaction: nothing is left over.
    std::vector<std::string> stagingLeftovers() const override { return {}; }

    bool verify(const std::string& hash) const override {
        Sha256 digest;
        Result count = c_->run("SELECT chunks FROM content WHERE hash = $1", {text(hash)});
        if (count.rows() == 0)
            return false;
        const int chunks = static_cast<int>(count.integer(0, 0));
        for (int n = 0; n < chunks; ++n) {
            Result r = c_->run("SELECT data FROM content_chunks WHERE hash = $1 AND n = $2",
                               {text(hash), int4(n)}, true);
            if (r.rows() == 0)
                return false;
            digest.update(r.data(0, 0), r.length(0, 0));
        }
        return digest.hex() == hash;
    }
    void remove(const std::string& hash) override {
        c_->run("DELETE FROM content WHERE hash = $1", {text(hash)});
    }

private:
    std::shared_ptr<Connection> c_;
};

} // namespace

ServerBackend openPostgresBackend(const std::string& conninfo, const std::string& user,
                                  const std::string& password, bool create) {
    auto connection = std::make_shared<Connection>(conninfo, user, password);
    auto storage = std::make_unique<ServerStorage>(connection, conninfo, create);
    ServerBackend b;
    b.storage = std::move(storage);
    b.content = std::make_unique<ServerContentStore>(connection);
    return b;
}

} // namespace lf::tessarel
