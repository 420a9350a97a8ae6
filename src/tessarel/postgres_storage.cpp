// The server backend: a repository in a PostgreSQL database, in the schema "tessarel". Users are
// the server's roles and log in with their own passwords, which the server checks; what each may
// see and change is enforced by the database itself (grants, row-level security and triggers), so
// a user who connects with another client gets no more than this library gives them. Content lives
// in the database too, in chunks, and commits with the metadata that points to it.
#include "tessarel/errors.h"
#include "tessarel/repository_store.h"
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
#include <map>
#include <poll.h>
#include <set>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace lf::tessarel {

namespace {

// Content travels and is kept in chunks of this size: a deck of usual size is one chunk, and no
// statement ever carries more than this. Content is named by its chunk digest: the SHA-256 of the
// SHA-256 digests of its chunks, one after the other (the empty content: the SHA-256 of nothing),
// which the server computes chunk by chunk as the bytes arrive, whatever the content's size.
constexpr size_t kChunkBytes = 1 << 20;
// What a content publication sends before it waits for the server to have stored it.
constexpr size_t kPipelineBytes = 16 << 20;

constexpr Oid kText = 25, kInt8 = 20, kInt4 = 23, kFloat8 = 701, kBool = 16, kBytea = 17;

// The tables of a repository. Authors only read them (under row-level security); everything they
// change goes through the functions of kRules.
const char* kTables = R"sql(
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
  hash text COLLATE "C" NOT NULL REFERENCES content(hash) ON DELETE CASCADE ON UPDATE CASCADE,
  n integer NOT NULL,
  data bytea NOT NULL,
  digest bytea NOT NULL,
  PRIMARY KEY (hash, n));
-- Decks and documents are zip files already: kept as they come, not compressed again.
ALTER TABLE content_chunks ALTER COLUMN data SET STORAGE EXTERNAL;
)sql";

// The tables schema version 3 added (also made by the upgrade from version 2).
const char* kTablesOf3 = R"sql(
SET search_path TO tessarel;
-- The repository's two group roles, by name: a restore under another database name keeps them.
CREATE TABLE repository_roles(authors text NOT NULL, admins text NOT NULL);
-- The chunk digests of content a transaction sent that the repository held already: compared
-- with the stored ones when the transaction commits, then gone.
CREATE TABLE content_uploads(
  xact xid8 NOT NULL,
  hash text COLLATE "C" NOT NULL,
  n integer NOT NULL,
  size bigint NOT NULL DEFAULT 0,
  digest bytea,
  PRIMARY KEY (xact, hash, n));
-- Who did what, appended by the repository's functions only.
CREATE TABLE audit(
  seq bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  at timestamptz NOT NULL DEFAULT now(),
  who text COLLATE "C" NOT NULL,
  action text COLLATE "C" NOT NULL,
  object_id text COLLATE "C" NOT NULL DEFAULT '',
  path text COLLATE "C" NOT NULL DEFAULT '',
  detail text NOT NULL DEFAULT '');
CREATE INDEX audit_object ON audit(object_id);
CREATE INDEX audit_path ON audit(path);
)sql";

// From schema 2 to 3 (then kTablesOf3 and kRules): no one writes while it runs; content is
// renamed to its chunk digest, in the chunks, objects and versions (past the trigger that keeps
// versions, which only this owner's step may set aside).
const char* kFrom2 = R"sql(
SET search_path TO tessarel;
LOCK TABLE tessarel.objects, tessarel.versions, tessarel.content, tessarel.content_chunks, tessarel.formats
  IN ACCESS EXCLUSIVE MODE;
ALTER TABLE tessarel.content_chunks ADD COLUMN digest bytea;
UPDATE tessarel.content_chunks SET digest = sha256(data);
ALTER TABLE tessarel.content_chunks ALTER COLUMN digest SET NOT NULL,
  DROP CONSTRAINT content_chunks_hash_fkey,
  ADD CONSTRAINT content_chunks_hash_fkey FOREIGN KEY (hash) REFERENCES tessarel.content(hash)
    ON DELETE CASCADE ON UPDATE CASCADE;
CREATE TEMPORARY TABLE renamed ON COMMIT DROP AS
  SELECT c.hash AS old, encode(sha256(coalesce((SELECT string_agg(ch.digest, ''::bytea ORDER BY ch.n)
    FROM tessarel.content_chunks ch WHERE ch.hash = c.hash), ''::bytea)), 'hex') AS new
  FROM tessarel.content c;
ALTER TABLE tessarel.versions DISABLE TRIGGER versions_kept;
UPDATE tessarel.content c SET hash = r.new FROM renamed r WHERE c.hash = r.old;
UPDATE tessarel.objects o SET content_hash = r.new FROM renamed r WHERE o.content_hash = r.old;
UPDATE tessarel.versions v SET content_hash = r.new FROM renamed r WHERE v.content_hash = r.old;
ALTER TABLE tessarel.versions ENABLE TRIGGER versions_kept;
)sql";

// The rules: functions, triggers, row-level security and grants, as the owner (the role that made
// the repository) installs them. {AUTHORS} and {ADMINS} are the repository's two group roles (as
// identifiers), {ADMINS_NAME} the second as a string, {CHUNK} kChunkBytes. Every function has a
// fixed search path and names what it uses by schema. Authors change the repository only through
// the SECURITY DEFINER functions below, which run as the owner: each checks what the caller may
// see itself (the owner is past row-level security), takes who is acting from session_user (in
// them current_user is the owner), and sets who and when itself. Writers lock rows, never the
// repository: check-out, cancel and check-in their document's row only; a new object or a change
// of one its cabinet's row FOR SHARE (FOR UPDATE for a change of paths: a folder renamed or moved,
// a cabinet renamed), then the rows it reads or writes. Check-ins of different documents run side
// by side, and a transaction left open holds up what it locked only.
const char* kRules = R"sql(
SET search_path TO tessarel;

CREATE OR REPLACE FUNCTION tessarel.ts_is_admin() RETURNS boolean LANGUAGE plpgsql STABLE
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  RETURN pg_catalog.pg_has_role(session_user, {ADMINS_NAME}, 'MEMBER');
END $$;

-- The privacy and owner of a cabinet, whoever asks.
-- (In PL/pgSQL, as every function called for each row written: a session keeps its plans, where a
-- function in SQL of its own settings is planned anew at every call.)
CREATE OR REPLACE FUNCTION tessarel.ts_cabinet_of(cab text, OUT is_private boolean, OUT owner_name text)
  LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  SELECT o.is_private, o.owner_name INTO is_private, owner_name
    FROM tessarel.objects o WHERE o.id = cab AND o.type = 'ts_cabinet';
END $$;

-- A cabinet made private or public, or given another owner: every row of it follows (the trigger
-- below takes the cabinet's values again for each row written).
CREATE OR REPLACE FUNCTION tessarel.ts_cabinet_follow(cab text) RETURNS void
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  UPDATE tessarel.objects SET cabinet_owner = cabinet_owner WHERE cabinet_id = cab AND id <> cab;
END $$;

-- Whether this transaction made the content row.
CREATE OR REPLACE FUNCTION tessarel.ts_content_is_new(h text) RETURNS boolean
  LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  RETURN EXISTS (SELECT 1 FROM tessarel.content WHERE hash = h AND xmin = pg_current_xact_id()::xid);
END $$;

-- Each row carries its cabinet's privacy and owner.
CREATE OR REPLACE FUNCTION tessarel.ts_objects_guard() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
DECLARE
  cab record;
BEGIN
  IF NEW.type = 'ts_cabinet' THEN
    NEW.cabinet_id := NEW.id;
    NEW.cabinet_private := NEW.is_private;
    NEW.cabinet_owner := NEW.owner_name;
  ELSE
    SELECT * INTO cab FROM tessarel.ts_cabinet_of(NEW.cabinet_id);
    IF cab.owner_name IS NULL THEN
      RAISE EXCEPTION 'There is no cabinet %', NEW.cabinet_id USING ERRCODE = '23503';
    END IF;
    NEW.cabinet_private := cab.is_private;
    NEW.cabinet_owner := cab.owner_name;
  END IF;
  RETURN NEW;
END $$;

CREATE OR REPLACE FUNCTION tessarel.ts_cabinet_changed() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  PERFORM tessarel.ts_cabinet_follow(NEW.id);
  RETURN NULL;
END $$;

-- A version, once written, is history: no one rewrites or removes it.
CREATE OR REPLACE FUNCTION tessarel.ts_versions_kept() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  RAISE EXCEPTION 'A version is never rewritten or removed' USING ERRCODE = '42501';
END $$;
-- Nor the audit trail.
CREATE FUNCTION tessarel.ts_audit_kept() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  RAISE EXCEPTION 'The audit trail is never rewritten or removed' USING ERRCODE = '42501';
END $$;
CREATE TRIGGER audit_kept BEFORE UPDATE OR DELETE ON tessarel.audit FOR EACH ROW
  EXECUTE FUNCTION tessarel.ts_audit_kept();
CREATE TRIGGER audit_kept_whole BEFORE TRUNCATE ON tessarel.audit FOR EACH STATEMENT
  EXECUTE FUNCTION tessarel.ts_audit_kept();

-- A version is recorded by the check-in that replaces it: when the transaction commits, the
-- document holds a version of another label (else its next check-in could not record it).
CREATE OR REPLACE FUNCTION tessarel.ts_version_replaced() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  IF EXISTS (SELECT 1 FROM tessarel.objects WHERE id = NEW.object_id AND version_label = NEW.version_label) THEN
    RAISE EXCEPTION 'Version % of % is recorded only by the check-in that replaces it', NEW.version_label,
      NEW.object_id USING ERRCODE = '23514';
  END IF;
  RETURN NULL;
END $$;

-- Content a transaction sent, checked when it commits: new content (a row of content) and content
-- the repository held already (a row of content_uploads) alike, with the same refusals from the
-- same lines, so that no refusal tells whether the repository held it. What was sent is complete,
-- its name is the chunk digest of its chunks (and held content's stored digests are the ones sent),
-- and an object or version this transaction wrote holds it.
CREATE OR REPLACE FUNCTION tessarel.ts_content_check() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
DECLARE
  pieces integer;
  sent integer;
  last integer;
  total bigint;
  named text;
  stored_differs boolean := false;
  fault text;
BEGIN
  IF TG_TABLE_NAME = 'content' THEN
    pieces := NEW.chunks;
    SELECT count(*), coalesce(max(n), -1), coalesce(sum(octet_length(data)), 0),
           encode(sha256(coalesce(string_agg(digest, ''::bytea ORDER BY n), ''::bytea)), 'hex')
      INTO sent, last, total, named FROM tessarel.content_chunks WHERE hash = NEW.hash;
  ELSE
    pieces := ((NEW.size + {CHUNK} - 1) / {CHUNK})::integer;
    SELECT count(*), coalesce(max(n), -1), NEW.size,
           encode(sha256(coalesce(string_agg(digest, ''::bytea ORDER BY n), ''::bytea)), 'hex')
      INTO sent, last, total, named FROM tessarel.content_uploads WHERE xact = NEW.xact AND hash = NEW.hash AND n >= 0;
    stored_differs := (SELECT c.size FROM tessarel.content c WHERE c.hash = NEW.hash) IS DISTINCT FROM NEW.size
      OR EXISTS (SELECT 1 FROM tessarel.content_uploads u
                   LEFT JOIN tessarel.content_chunks c ON c.hash = u.hash AND c.n = u.n
                  WHERE u.xact = NEW.xact AND u.hash = NEW.hash AND u.n >= 0 AND c.digest IS DISTINCT FROM u.digest);
  END IF;
  IF sent <> pieces OR last <> pieces - 1 OR total <> NEW.size THEN
    fault := 'is incomplete';
  ELSIF named <> NEW.hash OR stored_differs THEN
    fault := 'holds other bytes';
  ELSIF NOT EXISTS (SELECT 1 FROM tessarel.objects WHERE content_hash = NEW.hash AND content_hash <> ''
                      AND xmin = pg_current_xact_id()::xid)
        AND NOT EXISTS (SELECT 1 FROM tessarel.versions WHERE content_hash = NEW.hash AND xmin = pg_current_xact_id()::xid) THEN
    fault := 'was sent without an object that holds it';
  END IF;
  IF fault IS NOT NULL THEN
    RAISE EXCEPTION 'The content % %', NEW.hash, fault USING ERRCODE = '23514';
  END IF;
  IF TG_TABLE_NAME = 'content_uploads' THEN
    DELETE FROM tessarel.content_uploads u WHERE u.xact = pg_current_xact_id() AND u.hash = NEW.hash;
  END IF;
  RETURN NULL;
END $$;
CREATE CONSTRAINT TRIGGER content_upload_matches AFTER INSERT ON tessarel.content_uploads
  DEFERRABLE INITIALLY DEFERRED FOR EACH ROW WHEN (NEW.n = -1) EXECUTE FUNCTION tessarel.ts_content_check();

-- ---- What the functions share (none callable by authors).

CREATE FUNCTION tessarel.ts_now() RETURNS text LANGUAGE plpgsql STABLE
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  RETURN to_char(statement_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"');
END $$;

-- Who acts: the caller; an administrator may act as a user named (the administration tool's
-- sessions own what they make and hold their locks as the user they act for).
CREATE FUNCTION tessarel.ts_actor(p_user text) RETURNS text LANGUAGE plpgsql STABLE
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  IF coalesce(p_user, '') <> '' AND p_user <> session_user AND tessarel.ts_is_admin() THEN
    RETURN p_user;
  END IF;
  RETURN session_user;
END $$;

CREATE FUNCTION tessarel.ts_visible(o tessarel.objects) RETURNS boolean LANGUAGE plpgsql STABLE
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  RETURN o.id IS NOT NULL AND (NOT o.cabinet_private OR o.cabinet_owner = session_user OR tessarel.ts_is_admin());
END $$;

CREATE FUNCTION tessarel.ts_path(o tessarel.objects) RETURNS text LANGUAGE plpgsql IMMUTABLE
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  RETURN o.parent_path || '/' || o.name;
END $$;

-- The one name rule of the library (checkObjectName).
CREATE FUNCTION tessarel.ts_check_name(p_name text) RETURNS void LANGUAGE plpgsql IMMUTABLE
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  IF p_name IS NULL OR octet_length(p_name) NOT BETWEEN 1 AND 239 OR p_name IN ('.', '..')
     OR p_name ~ '[\x01-\x1f\x7f/\\]' THEN
    RAISE EXCEPTION 'The name % breaks the rule: a name in the repository is 1 to 239 bytes, not ''.'' or ''..'', without ''/'', ''\'' or control characters',
      quote_literal(coalesce(p_name, '')) USING ERRCODE = 'TSBN0';
  END IF;
END $$;

CREATE FUNCTION tessarel.ts_check_format(p_format text) RETURNS void LANGUAGE plpgsql STABLE
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  IF p_format IS NULL OR (p_format <> '' AND NOT EXISTS (SELECT 1 FROM tessarel.formats WHERE name = p_format)) THEN
    RAISE EXCEPTION 'There is no format %', quote_literal(coalesce(p_format, '')) USING ERRCODE = 'TSBA0';
  END IF;
END $$;

-- The size of content the caller may point an object at: content this transaction sent, or
-- content an object or version the caller sees holds. Any other name fails the same way whether
-- the repository holds it or not.
CREATE FUNCTION tessarel.ts_usable_content(h text) RETURNS bigint LANGUAGE plpgsql STABLE
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
DECLARE
  found_size bigint;
BEGIN
  IF h = '' THEN
    RETURN 0;
  END IF;
  SELECT c.size INTO found_size FROM tessarel.content c WHERE c.hash = h AND (
      c.xmin = pg_current_xact_id()::xid
      OR EXISTS (SELECT 1 FROM tessarel.content_uploads u WHERE u.xact = pg_current_xact_id() AND u.hash = h AND u.n = -1)
      OR EXISTS (SELECT 1 FROM tessarel.objects o WHERE o.content_hash = h AND o.content_hash <> '' AND tessarel.ts_visible(o))
      OR EXISTS (SELECT 1 FROM tessarel.versions v JOIN tessarel.objects o ON o.id = v.object_id
                  WHERE v.content_hash = h AND tessarel.ts_visible(o)));
  IF found_size IS NULL THEN
    RAISE EXCEPTION 'The content % is not in the repository; send it first', h USING ERRCODE = 'TSNC1';
  END IF;
  RETURN found_size;
END $$;

-- Locks the cabinets' rows, in the order of their ids: FOR SHARE for a write in them, FOR UPDATE
-- for a change of paths. Writes run in read committed transactions only, where each statement
-- sees what committed before it (a later snapshot could leave a row behind a move).
CREATE FUNCTION tessarel.ts_lock_cabinets(cabs text[], exclusive boolean) RETURNS void LANGUAGE plpgsql
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  IF current_setting('transaction_isolation') <> 'read committed' THEN
    RAISE EXCEPTION 'The repository is written in read committed transactions only' USING ERRCODE = '25001';
  END IF;
  IF exclusive THEN
    PERFORM 1 FROM tessarel.objects WHERE id = ANY(cabs) ORDER BY id FOR UPDATE;
  ELSE
    PERFORM 1 FROM tessarel.objects WHERE id = ANY(cabs) ORDER BY id FOR SHARE;
  END IF;
END $$;

-- The object the caller sees, its cabinet's row locked FOR SHARE (a cabinet's own FOR UPDATE)
-- The document the caller sees, its row locked FOR UPDATE (check-out, cancel, check-in): nothing
-- else is locked, so a transaction left open after one holds up that document only. What would
-- miss such a lock (a move into a private cabinet, a cabinet made private, each checking the
-- locks of what it takes) locks those rows first.
CREATE FUNCTION tessarel.ts_hold(p_id text) RETURNS tessarel.objects LANGUAGE plpgsql
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
DECLARE
  held tessarel.objects;
BEGIN
  PERFORM tessarel.ts_lock_cabinets('{}', false);
  SELECT * INTO held FROM tessarel.objects WHERE id = p_id FOR UPDATE;
  IF NOT tessarel.ts_visible(held) THEN
    RAISE EXCEPTION 'The object ''%'' no longer exists', p_id USING ERRCODE = 'TSNF0';
  END IF;
  RETURN held;
END $$;

-- The folder (or cabinet) of that id the caller sees, locked FOR SHARE with its cabinet.
CREATE FUNCTION tessarel.ts_hold_folder(p_id text, exclusive boolean) RETURNS tessarel.objects LANGUAGE plpgsql
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
DECLARE
  f tessarel.objects;
  held tessarel.objects;
BEGIN
  LOOP
    SELECT * INTO f FROM tessarel.objects WHERE id = p_id;
    IF NOT tessarel.ts_visible(f) OR f.type NOT IN ('ts_folder', 'ts_cabinet') THEN
      RAISE EXCEPTION 'There is no folder of id %', quote_literal(coalesce(p_id, '')) USING ERRCODE = 'TSNF0';
    END IF;
    PERFORM tessarel.ts_lock_cabinets(ARRAY[f.cabinet_id], exclusive);
    SELECT * INTO held FROM tessarel.objects WHERE id = p_id FOR SHARE;
    EXIT WHEN held.cabinet_id = f.cabinet_id;
  END LOOP;
  RETURN held;
END $$;

CREATE FUNCTION tessarel.ts_audit(p_action text, o tessarel.objects, p_actor text, p_detail text) RETURNS void
  LANGUAGE plpgsql SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  INSERT INTO tessarel.audit(who, action, object_id, path, detail)
    VALUES (session_user, p_action, coalesce(o.id, ''), coalesce(tessarel.ts_path(o), ''),
            p_detail || CASE WHEN p_actor <> session_user THEN ' (acting as ' || p_actor || ')' ELSE '' END);
END $$;

-- The label after a version's (1.0 -> 1.1, 3 -> 3.1; anything else starts again at 1.0).
CREATE FUNCTION tessarel.ts_next_version_label(label text) RETURNS text LANGUAGE plpgsql IMMUTABLE
  SET search_path = pg_catalog, tessarel, pg_temp AS $$
DECLARE
  dot integer := position('.' in label);
  num text;
BEGIN
  num := substring(CASE WHEN dot = 0 THEN label ELSE substr(label, dot + 1) END
                   FROM '^[[:space:]]*([+-]?[0-9]+)');
  IF num IS NULL OR num::numeric NOT BETWEEN -2147483648 AND 2147483647 THEN
    RETURN '1.0';
  END IF;
  IF dot = 0 THEN
    RETURN num::integer::text || '.1';
  END IF;
  RETURN substr(label, 1, dot - 1) || '.' || (num::bigint + 1)::text;
END $$;

-- A new object: a cabinet, or a folder or document in the folder of p_folder_id, whose path and
-- cabinet it takes. Owner and modifier are who acts, the dates the server's, the version 1.0.
CREATE FUNCTION tessarel.ts_new_object(p_action text, p_id text, p_type text, p_name text, p_folder_id text,
  p_is_private boolean, p_content_type text, p_hash text, p_user text) RETURNS tessarel.objects
  LANGUAGE plpgsql SET search_path = pg_catalog, tessarel, pg_temp AS $$
DECLARE
  actor text := tessarel.ts_actor(p_user);
  stamp text := tessarel.ts_now();
  parent tessarel.objects;
  o tessarel.objects;
  bytes bigint := 0;
BEGIN
  PERFORM tessarel.ts_check_name(p_name);
  IF p_id IS NULL OR p_id !~ '^[0-9A-Za-z_-]{1,64}$' THEN
    RAISE EXCEPTION 'An object id is 1 to 64 letters and digits, not %', quote_literal(coalesce(p_id, ''))
      USING ERRCODE = 'TSBA0';
  END IF;
  IF p_type NOT IN ('ts_cabinet', 'ts_folder', 'ts_document') THEN
    RAISE EXCEPTION 'There is no object type %', quote_literal(coalesce(p_type, '')) USING ERRCODE = 'TSBA0';
  END IF;
  IF p_type <> 'ts_document' AND coalesce(p_hash, '') <> '' THEN
    RAISE EXCEPTION 'A folder has no content' USING ERRCODE = 'TSBA0';
  END IF;
  IF coalesce(p_is_private, false) AND p_type <> 'ts_cabinet' THEN
    RAISE EXCEPTION 'Only a cabinet can be private' USING ERRCODE = 'TSBA0';
  END IF;
  PERFORM tessarel.ts_check_format(p_content_type);
  IF p_type = 'ts_cabinet' THEN
    parent.parent_path := '';
    parent.name := '';
  ELSE
    parent := tessarel.ts_hold_folder(p_folder_id, false);
  END IF;
  IF EXISTS (SELECT 1 FROM tessarel.objects WHERE id = p_id) THEN
    RAISE EXCEPTION 'The id % is in use', p_id USING ERRCODE = 'TSDUP';
  END IF;
  IF p_type <> 'ts_document' AND EXISTS (SELECT 1 FROM tessarel.objects WHERE type <> 'ts_document'
       AND parent_path = CASE WHEN p_type = 'ts_cabinet' THEN '' ELSE tessarel.ts_path(parent) END AND name = p_name) THEN
    RAISE EXCEPTION 'There is already a folder %', quote_literal(
      CASE WHEN p_type = 'ts_cabinet' THEN '' ELSE tessarel.ts_path(parent) END || '/' || p_name) USING ERRCODE = 'TSDUP';
  END IF;
  bytes := tessarel.ts_usable_content(coalesce(p_hash, ''));
  INSERT INTO tessarel.objects(id, type, name, content_type, is_private, owner_name, version_label,
      creation_date, modify_date, folder_id, parent_path, cabinet_id, content_hash, content_size, modifier)
    VALUES (p_id, p_type, p_name, p_content_type, coalesce(p_is_private, false), actor, '1.0', stamp, stamp,
      CASE WHEN p_type = 'ts_cabinet' THEN NULL ELSE parent.id END,
      CASE WHEN p_type = 'ts_cabinet' THEN '' ELSE tessarel.ts_path(parent) END,
      CASE WHEN p_type = 'ts_cabinet' THEN p_id ELSE parent.cabinet_id END,
      coalesce(p_hash, ''), bytes, actor)
    RETURNING * INTO o;
  PERFORM tessarel.ts_audit(p_action, o, actor, p_type);
  RETURN o;
END $$;

-- ---- The library's operations: what authors may call.

CREATE FUNCTION tessarel.ts_make_object(p_id text, p_type text, p_name text, p_folder_id text,
  p_is_private boolean, p_content_type text, p_hash text, p_user text) RETURNS tessarel.objects
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  RETURN tessarel.ts_new_object('make', p_id, p_type, p_name, p_folder_id, p_is_private, p_content_type, p_hash, p_user);
END $$;

CREATE FUNCTION tessarel.ts_import_document(p_id text, p_name text, p_folder_id text, p_content_type text,
  p_hash text, p_user text) RETURNS tessarel.objects
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  RETURN tessarel.ts_new_object('import', p_id, 'ts_document', p_name, p_folder_id, false, p_content_type, p_hash, p_user);
END $$;

-- Check-out: true when the document was free and is now checked out by who acts.
CREATE FUNCTION tessarel.ts_check_out(p_id text, p_user text, p_path text) RETURNS boolean
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp AS $$
DECLARE
  actor text := tessarel.ts_actor(p_user);
  o tessarel.objects := tessarel.ts_hold(p_id);
BEGIN
  IF o.type <> 'ts_document' THEN
    RAISE EXCEPTION '''%'' is a folder, not a document', o.name USING ERRCODE = 'TSBA0';
  END IF;
  IF o.lock_owner <> '' THEN
    RETURN false;
  END IF;
  UPDATE tessarel.objects SET lock_owner = actor, lock_path = coalesce(p_path, '') WHERE id = o.id RETURNING * INTO o;
  PERFORM tessarel.ts_audit('check-out', o, actor, coalesce(p_path, ''));
  RETURN true;
END $$;

-- Clears a check-out: who acts's own (p_user), or any (p_user ''), which only the lock's owner or
-- an administrator may. False when there was no such lock.
CREATE FUNCTION tessarel.ts_cancel_checkout(p_id text, p_user text) RETURNS boolean
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp AS $$
DECLARE
  actor text := tessarel.ts_actor(p_user);
  o tessarel.objects := tessarel.ts_hold(p_id);
  holder text := o.lock_owner;
BEGIN
  IF holder = '' OR (coalesce(p_user, '') <> '' AND holder <> actor) THEN
    RETURN false;
  END IF;
  IF holder <> actor AND NOT tessarel.ts_is_admin() THEN
    RAISE EXCEPTION '''%'' is checked out by %: only they or an administrator clear the lock', o.name, holder
      USING ERRCODE = '42501';
  END IF;
  UPDATE tessarel.objects SET lock_owner = '', lock_path = '' WHERE id = o.id RETURNING * INTO o;
  IF holder = actor THEN
    PERFORM tessarel.ts_audit('cancel', o, actor, '');
  ELSE
    PERFORM tessarel.ts_audit('lock cleared', o, actor, 'checked out by ' || holder);
  END IF;
  RETURN true;
END $$;

-- Check-in by the lock's owner: the current version is recorded, the new content becomes the
-- next version, and the lock is cleared.
CREATE FUNCTION tessarel.ts_check_in(p_id text, p_user text, p_hash text, p_content_type text)
  RETURNS tessarel.objects
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp AS $$
DECLARE
  actor text := tessarel.ts_actor(p_user);
  o tessarel.objects := tessarel.ts_hold(p_id);
  bytes bigint;
BEGIN
  IF o.lock_owner <> actor THEN
    RAISE EXCEPTION '''%'' is no longer checked out by %', o.name, actor USING ERRCODE = 'TSNO0';
  END IF;
  PERFORM tessarel.ts_check_format(p_content_type);
  bytes := tessarel.ts_usable_content(coalesce(p_hash, ''));
  INSERT INTO tessarel.versions(object_id, version_label, content_type, content_hash, content_size, modify_date, modifier)
    VALUES (o.id, o.version_label, o.content_type, o.content_hash, o.content_size, o.modify_date, o.modifier);
  UPDATE tessarel.objects SET content_hash = coalesce(p_hash, ''), content_size = bytes, content_type = p_content_type,
      version_label = tessarel.ts_next_version_label(o.version_label), modify_date = tessarel.ts_now(),
      modifier = actor, lock_owner = '', lock_path = ''
    WHERE id = o.id RETURNING * INTO o;
  PERFORM tessarel.ts_audit('check-in', o, actor, 'version ' || o.version_label);
  RETURN o;
END $$;

-- What TsObject::save changes on an object it holds: its name, its folder (a folder takes what it
-- holds along), its privacy, its format and the content of a document no one else has checked out.
CREATE FUNCTION tessarel.ts_update_object(p_id text, p_user text, p_name text, p_folder_id text,
  p_is_private boolean, p_content_type text, p_hash text) RETURNS tessarel.objects
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp AS $$
DECLARE
  actor text := tessarel.ts_actor(p_user);
  o tessarel.objects;
  held tessarel.objects;
  dest tessarel.objects;
  moving boolean;
  renamed boolean;
  paths boolean;
  old_path text;
  new_parent text;
  new_cabinet text;
  bytes bigint;
  cab record;
  outsider text;
  dest_cabinet text;
BEGIN
  LOOP
    SELECT * INTO o FROM tessarel.objects WHERE id = p_id;
    IF NOT tessarel.ts_visible(o) THEN
      RAISE EXCEPTION 'The object ''%'' no longer exists', p_id USING ERRCODE = 'TSNF0';
    END IF;
    moving := o.type <> 'ts_cabinet' AND p_folder_id IS DISTINCT FROM o.folder_id;
    IF o.type = 'ts_cabinet' AND p_folder_id IS NOT NULL THEN
      RAISE EXCEPTION 'A cabinet lies in no folder' USING ERRCODE = 'TSBA0';
    END IF;
    dest := NULL;
    IF moving THEN
      SELECT * INTO dest FROM tessarel.objects WHERE id = p_folder_id;
      IF NOT tessarel.ts_visible(dest) OR dest.type NOT IN ('ts_folder', 'ts_cabinet') THEN
        RAISE EXCEPTION 'There is no folder of id %', quote_literal(coalesce(p_folder_id, '')) USING ERRCODE = 'TSNF0';
      END IF;
    END IF;
    dest_cabinet := dest.cabinet_id;
    paths := o.type <> 'ts_document' AND (moving OR p_name IS DISTINCT FROM o.name);
    PERFORM tessarel.ts_lock_cabinets(ARRAY[o.cabinet_id, dest.cabinet_id], paths OR o.type = 'ts_cabinet');
    SELECT * INTO held FROM tessarel.objects WHERE id = p_id FOR UPDATE;
    IF moving THEN
      SELECT * INTO dest FROM tessarel.objects WHERE id = p_folder_id FOR SHARE;
    END IF;
    EXIT WHEN held.cabinet_id = o.cabinet_id AND held.folder_id IS NOT DISTINCT FROM o.folder_id
      AND held.name = o.name AND (NOT moving OR dest.cabinet_id IS NOT DISTINCT FROM dest_cabinet);
  END LOOP;
  o := held;
  IF NOT tessarel.ts_visible(o) THEN
    RAISE EXCEPTION 'The object ''%'' no longer exists', p_id USING ERRCODE = 'TSNF0';
  END IF;
  renamed := p_name IS DISTINCT FROM o.name;
  IF renamed THEN
    PERFORM tessarel.ts_check_name(p_name);
  END IF;
  IF p_content_type IS DISTINCT FROM o.content_type THEN
    PERFORM tessarel.ts_check_format(p_content_type);
  END IF;
  IF o.lock_owner NOT IN ('', actor) AND (renamed OR moving OR coalesce(p_hash, '') <> o.content_hash
      OR p_content_type IS DISTINCT FROM o.content_type) THEN
    RAISE EXCEPTION '''%'' is checked out by %', o.name, o.lock_owner USING ERRCODE = 'TSLC0';
  END IF;
  IF coalesce(p_is_private, false) <> o.is_private AND o.owner_name <> actor AND NOT tessarel.ts_is_admin() THEN
    RAISE EXCEPTION 'Only the owner of ''%'' makes it private or public', o.name USING ERRCODE = '42501';
  END IF;
  -- A cabinet made private hides what it holds: only what its owner owns and no one else holds.
  IF coalesce(p_is_private, false) AND NOT o.is_private THEN
    IF o.type <> 'ts_cabinet' THEN
      RAISE EXCEPTION 'Only a cabinet can be private' USING ERRCODE = 'TSBA0';
    END IF;
    PERFORM 1 FROM tessarel.objects m WHERE m.cabinet_id = o.id ORDER BY m.id FOR UPDATE;
    SELECT m.name INTO outsider FROM tessarel.objects m
     WHERE m.cabinet_id = o.id AND m.id <> o.id
       AND (m.owner_name <> o.owner_name OR m.lock_owner NOT IN ('', o.owner_name))
     LIMIT 1;
    IF outsider IS NOT NULL THEN
      RAISE EXCEPTION '''%'' is owned or checked out by someone else: the cabinet ''%'' stays public', outsider, o.name
        USING ERRCODE = '42501';
    END IF;
  END IF;
  old_path := tessarel.ts_path(o);
  new_parent := CASE WHEN moving THEN tessarel.ts_path(dest) ELSE o.parent_path END;
  new_cabinet := CASE WHEN o.type = 'ts_cabinet' THEN o.id WHEN moving THEN dest.cabinet_id ELSE o.cabinet_id END;
  IF moving AND o.type <> 'ts_document' AND (new_parent = old_path OR starts_with(new_parent, old_path || '/')) THEN
    RAISE EXCEPTION 'A folder cannot be moved into itself' USING ERRCODE = 'TSBA0';
  END IF;
  IF paths AND EXISTS (SELECT 1 FROM tessarel.objects WHERE type <> 'ts_document' AND parent_path = new_parent
                       AND name = p_name AND id <> o.id) THEN
    RAISE EXCEPTION 'There is already a folder %', quote_literal(new_parent || '/' || p_name) USING ERRCODE = 'TSDUP';
  END IF;
  -- Into a private cabinet only what its owner owns and no one else has checked out: the rest
  -- would vanish from those who own or hold it.
  IF moving AND new_cabinet <> o.cabinet_id THEN
    SELECT * INTO cab FROM tessarel.ts_cabinet_of(new_cabinet);
    IF cab.is_private THEN
      PERFORM 1 FROM tessarel.objects m
       WHERE m.id = o.id OR (o.type <> 'ts_document' AND m.cabinet_id = o.cabinet_id
             AND (m.parent_path = old_path OR starts_with(m.parent_path, old_path || '/')))
       ORDER BY m.id FOR UPDATE;
      SELECT m.name INTO outsider FROM tessarel.objects m
       WHERE (m.id = o.id OR (o.type <> 'ts_document' AND m.cabinet_id = o.cabinet_id
              AND (m.parent_path = old_path OR starts_with(m.parent_path, old_path || '/'))))
         AND (m.owner_name <> cab.owner_name OR m.lock_owner NOT IN ('', cab.owner_name))
       LIMIT 1;
      IF outsider IS NOT NULL THEN
        RAISE EXCEPTION '''%'' is owned or checked out by someone else: it does not move into the private cabinet of %',
          outsider, cab.owner_name USING ERRCODE = '42501';
      END IF;
    END IF;
  END IF;
  IF coalesce(p_hash, '') <> o.content_hash THEN
    IF o.type <> 'ts_document' THEN
      RAISE EXCEPTION 'A folder has no content' USING ERRCODE = 'TSBA0';
    END IF;
    bytes := tessarel.ts_usable_content(coalesce(p_hash, ''));
  ELSE
    bytes := o.content_size;
  END IF;
  held := o;
  UPDATE tessarel.objects SET name = p_name, folder_id = CASE WHEN moving THEN dest.id ELSE folder_id END,
      parent_path = new_parent, cabinet_id = new_cabinet, is_private = coalesce(p_is_private, false),
      content_type = p_content_type, content_hash = coalesce(p_hash, ''), content_size = bytes,
      modify_date = tessarel.ts_now(), modifier = actor
    WHERE id = o.id RETURNING * INTO o;
  IF paths OR (o.type = 'ts_cabinet' AND renamed) THEN
    UPDATE tessarel.objects SET parent_path = tessarel.ts_path(o) || substr(parent_path, length(old_path) + 1),
        cabinet_id = new_cabinet
      WHERE cabinet_id = held.cabinet_id AND id <> o.id
        AND (parent_path = old_path OR (parent_path >= old_path || '/' AND parent_path < old_path || '0'));
  END IF;
  IF renamed THEN
    PERFORM tessarel.ts_audit('rename', o, actor, 'from ' || held.name);
  END IF;
  IF moving THEN
    PERFORM tessarel.ts_audit('move', o, actor, 'from ' || old_path);
  END IF;
  IF o.is_private <> held.is_private OR o.content_type <> held.content_type THEN
    PERFORM tessarel.ts_audit('attributes', o, actor, 'is_private ' || o.is_private || ', content_type ' || o.content_type);
  END IF;
  IF o.content_hash <> held.content_hash THEN
    PERFORM tessarel.ts_audit('new content', o, actor, o.content_hash);
  END IF;
  RETURN o;
END $$;

CREATE FUNCTION tessarel.ts_add_format(p_name text, p_extension text) RETURNS void
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  IF p_name IS NULL OR p_name !~ '^[0-9a-z_]{1,32}$' OR p_extension IS NULL
     OR octet_length(p_extension) NOT BETWEEN 1 AND 15 OR p_extension ~ '[\x01-\x1f\x7f/\\.]' THEN
    RAISE EXCEPTION 'A format is a short name and an extension of 1 to 15 bytes' USING ERRCODE = 'TSBA0';
  END IF;
  INSERT INTO tessarel.formats(name, extension) VALUES (p_name, p_extension) ON CONFLICT DO NOTHING;
END $$;

-- Content is sent by the transaction whose objects then hold it: first its name and size, then
-- its chunks. Content the repository holds already is taken the same way (nothing tells the
-- caller it was there); its chunk digests are compared with the stored ones at commit.
CREATE FUNCTION tessarel.ts_put_content(h text, total bigint) RETURNS void
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp AS $$
BEGIN
  IF h IS NULL OR h !~ '^[0-9a-f]{64}$' OR total IS NULL OR total < 0 THEN
    RAISE EXCEPTION 'A content is named by 64 hex digits and has a size' USING ERRCODE = 'TSBA0';
  END IF;
  INSERT INTO tessarel.content(hash, size, chunks) VALUES (h, total, ((total + {CHUNK} - 1) / {CHUNK})::integer)
    ON CONFLICT DO NOTHING;
  IF NOT FOUND AND NOT tessarel.ts_content_is_new(h) THEN
    -- Kept while this transaction lasts (a repair does not remove it meanwhile).
    PERFORM 1 FROM tessarel.content WHERE hash = h FOR KEY SHARE;
    INSERT INTO tessarel.content_uploads(xact, hash, n, size) VALUES (pg_current_xact_id(), h, -1, total)
      ON CONFLICT (xact, hash, n) DO UPDATE SET size = EXCLUDED.size;
  END IF;
END $$;

CREATE FUNCTION tessarel.ts_put_chunk(h text, k integer, piece bytea) RETURNS void
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp AS $$
DECLARE
  total bigint;
  fresh boolean := tessarel.ts_content_is_new(h);
BEGIN
  IF fresh THEN
    SELECT size INTO total FROM tessarel.content WHERE hash = h;
  ELSE
    SELECT size INTO total FROM tessarel.content_uploads WHERE xact = pg_current_xact_id() AND hash = h AND n = -1;
  END IF;
  IF total IS NULL THEN
    RAISE EXCEPTION 'The content % was not begun in this transaction', h USING ERRCODE = 'TSBA0';
  END IF;
  IF k IS NULL OR k < 0 OR k::bigint * {CHUNK} >= total OR piece IS NULL
     OR octet_length(piece) <> least({CHUNK}::bigint, total - k::bigint * {CHUNK}) THEN
    RAISE EXCEPTION 'Chunk % of the content % does not fit its size', k, h USING ERRCODE = 'TSBA0';
  END IF;
  IF fresh THEN
    INSERT INTO tessarel.content_chunks(hash, n, data, digest) VALUES (h, k, piece, sha256(piece))
      ON CONFLICT (hash, n) DO UPDATE SET data = EXCLUDED.data, digest = EXCLUDED.digest;
  ELSE
    INSERT INTO tessarel.content_uploads(xact, hash, n, digest) VALUES (pg_current_xact_id(), h, k, sha256(piece))
      ON CONFLICT (xact, hash, n) DO UPDATE SET digest = EXCLUDED.digest;
  END IF;
END $$;

-- A repair's removal of content nothing holds (administrators only), recorded.
CREATE FUNCTION tessarel.ts_remove_content(h text) RETURNS boolean
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, tessarel, pg_temp AS $$
DECLARE
  c tessarel.content;
BEGIN
  IF NOT tessarel.ts_is_admin() THEN
    RAISE EXCEPTION 'Only an administrator removes content' USING ERRCODE = '42501';
  END IF;
  SELECT * INTO c FROM tessarel.content WHERE hash = h FOR UPDATE;
  IF NOT FOUND OR EXISTS (SELECT 1 FROM tessarel.objects WHERE content_hash = h AND content_hash <> '')
     OR EXISTS (SELECT 1 FROM tessarel.versions WHERE content_hash = h) THEN
    RETURN false;
  END IF;
  DELETE FROM tessarel.content WHERE hash = h;
  INSERT INTO tessarel.audit(who, action, detail)
    VALUES (session_user, 'fsck repair', 'removed content ' || h || ' (' || c.size || ' bytes) that nothing held');
  RETURN true;
END $$;

DROP TRIGGER IF EXISTS objects_guard ON tessarel.objects;
CREATE TRIGGER objects_guard BEFORE INSERT OR UPDATE ON tessarel.objects FOR EACH ROW
  EXECUTE FUNCTION tessarel.ts_objects_guard();
DROP TRIGGER IF EXISTS objects_cabinet_changed ON tessarel.objects;
CREATE TRIGGER objects_cabinet_changed AFTER UPDATE ON tessarel.objects FOR EACH ROW
  WHEN (NEW.type = 'ts_cabinet' AND (OLD.is_private <> NEW.is_private OR OLD.owner_name <> NEW.owner_name))
  EXECUTE FUNCTION tessarel.ts_cabinet_changed();
DROP TRIGGER IF EXISTS versions_kept ON tessarel.versions;
CREATE TRIGGER versions_kept BEFORE UPDATE OR DELETE ON tessarel.versions FOR EACH ROW
  EXECUTE FUNCTION tessarel.ts_versions_kept();
DROP TRIGGER IF EXISTS versions_kept_whole ON tessarel.versions;
CREATE TRIGGER versions_kept_whole BEFORE TRUNCATE ON tessarel.versions FOR EACH STATEMENT
  EXECUTE FUNCTION tessarel.ts_versions_kept();
DROP TRIGGER IF EXISTS versions_replaced ON tessarel.versions;
CREATE CONSTRAINT TRIGGER versions_replaced AFTER INSERT ON tessarel.versions DEFERRABLE INITIALLY DEFERRED
  FOR EACH ROW EXECUTE FUNCTION tessarel.ts_version_replaced();
DROP TRIGGER IF EXISTS content_complete ON tessarel.content;
CREATE CONSTRAINT TRIGGER content_complete AFTER INSERT ON tessarel.content DEFERRABLE INITIALLY DEFERRED
  FOR EACH ROW EXECUTE FUNCTION tessarel.ts_content_check();

-- What a user sees: the public cabinets, their own private ones, and what those hold, with the
-- versions and content of what they see. Administrators see everything. Nothing else: authors
-- write through the functions above.
ALTER TABLE tessarel.objects ENABLE ROW LEVEL SECURITY;
DROP POLICY IF EXISTS objects_seen ON tessarel.objects;
DROP POLICY IF EXISTS objects_made ON tessarel.objects;
DROP POLICY IF EXISTS objects_changed ON tessarel.objects;
DROP POLICY IF EXISTS versions_seen ON tessarel.versions;
DROP POLICY IF EXISTS versions_made ON tessarel.versions;
DROP POLICY IF EXISTS content_seen ON tessarel.content;
DROP POLICY IF EXISTS content_made ON tessarel.content;
DROP POLICY IF EXISTS chunks_seen ON tessarel.content_chunks;
DROP POLICY IF EXISTS chunks_made ON tessarel.content_chunks;
CREATE POLICY objects_seen ON tessarel.objects FOR SELECT
  USING (NOT cabinet_private OR cabinet_owner = session_user OR tessarel.ts_is_admin());
ALTER TABLE tessarel.versions ENABLE ROW LEVEL SECURITY;
CREATE POLICY versions_seen ON tessarel.versions FOR SELECT
  USING (EXISTS (SELECT 1 FROM tessarel.objects o WHERE o.id = versions.object_id));
ALTER TABLE tessarel.content ENABLE ROW LEVEL SECURITY;
-- Each test of objects names the condition of its partial index (objects_content), which the
-- planner does not infer from the hash: without it, a read of content scans every object.
CREATE POLICY content_seen ON tessarel.content FOR SELECT
  USING (EXISTS (SELECT 1 FROM tessarel.objects o WHERE o.content_hash = content.hash AND o.content_hash <> '')
         OR EXISTS (SELECT 1 FROM tessarel.versions v WHERE v.content_hash = content.hash)
         OR tessarel.ts_content_is_new(hash));
ALTER TABLE tessarel.content_chunks ENABLE ROW LEVEL SECURITY;
CREATE POLICY chunks_seen ON tessarel.content_chunks FOR SELECT
  USING (EXISTS (SELECT 1 FROM tessarel.objects o WHERE o.content_hash = content_chunks.hash AND o.content_hash <> '')
         OR EXISTS (SELECT 1 FROM tessarel.versions v WHERE v.content_hash = content_chunks.hash));

-- Authors read; they change things through the functions only. Administrators read the audit.
REVOKE ALL ON SCHEMA tessarel FROM PUBLIC;
REVOKE ALL ON ALL TABLES IN SCHEMA tessarel FROM PUBLIC, {AUTHORS}, {ADMINS};
REVOKE ALL ON ALL SEQUENCES IN SCHEMA tessarel FROM PUBLIC, {AUTHORS}, {ADMINS};
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA tessarel FROM PUBLIC, {AUTHORS}, {ADMINS};
GRANT USAGE ON SCHEMA tessarel TO {AUTHORS};
GRANT SELECT ON tessarel.schema_version, tessarel.repository_roles, tessarel.objects, tessarel.versions,
  tessarel.formats, tessarel.content, tessarel.content_chunks TO {AUTHORS};
GRANT SELECT ON tessarel.audit TO {ADMINS};
-- What row-level security calls as the reader, and the operations.
GRANT EXECUTE ON FUNCTION tessarel.ts_is_admin(), tessarel.ts_content_is_new(text),
  tessarel.ts_make_object(text, text, text, text, boolean, text, text, text),
  tessarel.ts_import_document(text, text, text, text, text, text),
  tessarel.ts_check_out(text, text, text), tessarel.ts_cancel_checkout(text, text),
  tessarel.ts_check_in(text, text, text, text),
  tessarel.ts_update_object(text, text, text, text, boolean, text, text),
  tessarel.ts_add_format(text, text), tessarel.ts_put_content(text, bigint),
  tessarel.ts_put_chunk(text, integer, bytea), tessarel.ts_remove_content(text) TO {AUTHORS};
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
    // The refusals of the repository's own functions, as the library's own checks name them.
    static const std::map<std::string, const char*> functionStates = {
        {"TSNF0", code::ObjectNotFound}, {"TSLC0", code::LockConflict}, {"TSNO0", code::NotLockOwner},
        {"TSBN0", code::BadName},        {"TSDUP", code::NameConflict}, {"TSBA0", code::BadArgument},
        {"TSNC1", code::NoContent},
    };
    if (const auto known = functionStates.find(s); known != functionStates.end())
        fail(known->second, msg);
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
    // A user's login (asUser) is refused on a repository of an older schema, whose tables authors
    // may still write to past the server's functions: the administrator upgrades it first.
    ServerStorage(std::shared_ptr<Connection> c, std::string conninfo, bool create, bool asUser)
        : c_(std::move(c)), conninfo_(std::move(conninfo)) {
        database_ = c_->run("SELECT current_database()", {}).text(0, 0);
        authors_ = database_ + "_authors";
        admins_ = database_ + "_admins";
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
        const int v = schemaVersion();
        if (v > kSchemaVersion)
            fail(code::UnsupportedBackend,
                 "The repository in " + database_ + " has schema version " + std::to_string(v) +
                     ", made by a newer program; this one reads up to " + std::to_string(kSchemaVersion));
        if (v < kSchemaVersion && asUser)
            fail(code::UnsupportedBackend,
                 "The repository in " + database_ + " has schema version " + std::to_string(v) +
                     ", which lets authors write past its rules; " +
                     "an administrator brings it to version " + std::to_string(kSchemaVersion) +
                     " with tessarel-admin upgrade before anyone works in it");
        if (v >= 3)
            readRoles();
    }

    void begin() override {
        c_->command("BEGIN");
        inTransaction_ = true;
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

    ObjectRecord insertObject(const ObjectRecord& r, bool imported) override {
        if (imported)
            return stored("tessarel.ts_import_document($1, $2, $3, $4, $5, $6)",
                          {text(r.id), text(r.name), nullableText(r.folderId), text(r.contentType),
                           text(r.contentHash), text(r.owner)});
        return stored("tessarel.ts_make_object($1, $2, $3, $4, $5, $6, $7, $8)",
                      {text(r.id), text(r.type), text(r.name), nullableText(r.folderId), boolean(r.isPrivate),
                       text(r.contentType), text(r.contentHash), text(r.owner)});
    }

    ObjectRecord updateObject(const ObjectRecord& r) override {
        return stored("tessarel.ts_update_object($1, $2, $3, $4, $5, $6, $7)",
                      {text(r.id), text(r.modifier), text(r.name),
                       nullableText(r.type == "ts_cabinet" ? std::string() : r.folderId),
                       boolean(r.isPrivate), text(r.contentType), text(r.contentHash)});
    }

    bool lockObject(const std::string& id, const std::string& user, const std::string& localPath) override {
        // Of two sessions racing for the lock, the second waits for the first's row and then
        // finds it taken.
        return c_->run("SELECT tessarel.ts_check_out($1, $2, $3)", {text(id), text(user), text(localPath)})
            .flag(0, 0);
    }

    bool unlockObject(const std::string& id, const std::string& user) override {
        return c_->run("SELECT tessarel.ts_cancel_checkout($1, $2)", {text(id), text(user)}).flag(0, 0);
    }

    ObjectRecord checkIn(const std::string& id, const std::string& user, const std::string& hash,
                         std::int64_t, const std::string& contentType) override {
        // The server takes the size from the content it holds.
        return stored("tessarel.ts_check_in($1, $2, $3, $4)",
                      {text(id), text(user), text(hash), text(contentType)});
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
        // The server's schema starts at version 2; every step past it goes in the one transaction.
        c_->command("BEGIN");
        inTransaction_ = true;
        try {
            const int had = schemaVersion();
            if (had == 2) {
                c_->command(kFrom2);
                c_->command(kTablesOf3);
                c_->command(rules());
                recordRoles();
                c_->run("UPDATE tessarel.schema_version SET version = $1", {int4(kSchemaVersion)});
            }
            commit();
            c_->command("SET search_path TO tessarel");
            readRoles();
            if (had == 2) {
                // The authors made before the server's limits get them now; one the upgrading role
                // may not alter keeps working without them.
                for (const auto& user : users()) {
                    try {
                        applyAuthorLimits(user);
                    } catch (const TsException&) {
                    }
                }
            }
            return had;
        } catch (...) {
            rollback();
            throw;
        }
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
        c_->run("SELECT tessarel.ts_add_format($1, $2)", {text(format), text(extension)});
    }

    std::vector<AuditEntry> auditTrail(const std::string& path) override {
        // Of a path: every entry at that path or below it, and those of the objects there now
        // under any of their former paths.
        std::string id;
        if (!path.empty() && path != "/") {
            const auto [parent, name] = splitRepositoryPath(path);
            if (auto o = objectByPath(parent, name, Viewer{"", true}, false))
                id = o->id;
        }
        const std::string under = path == "/" ? std::string() : path;
        Result r = c_->run(
            "SELECT to_char(at AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), who, action, "
            "object_id, "
            "path, detail FROM tessarel.audit WHERE $1 = '' OR path = $1 OR (path >= $1 || '/' AND path < $1 "
            "|| '0') OR object_id IN (SELECT id FROM tessarel.objects WHERE id = $2 OR parent_path = $1 OR "
            "(parent_path >= $1 || '/' AND parent_path < $1 || '0')) ORDER BY seq",
            {text(under), text(id)});
        std::vector<AuditEntry> out;
        for (int i = 0; i < r.rows(); ++i)
            out.push_back(
                {r.text(i, 0), r.text(i, 1), r.text(i, 2), r.text(i, 3), r.text(i, 4), r.text(i, 5)});
        return out;
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
    const std::string& authorsName() const { return authors_; }
    const std::string& adminsName() const { return admins_; }
    // The group roles as the repository records them (a schema 2 repository named them after its
    // database, as authors_ and admins_ start).
    void readRoles() {
        Result r = c_->run("SELECT authors, admins FROM tessarel.repository_roles", {});
        if (r.rows() != 1)
            fail(code::Damaged, "The repository in " + database_ + " does not record its group roles");
        authors_ = r.text(0, 0);
        admins_ = r.text(0, 1);
    }
    // The object a function of the server returns, as it stored it.
    ObjectRecord stored(const std::string& call, const std::vector<Param>& params) {
        Result r = c_->run(std::string("SELECT ") + kObjectColumns + " FROM " + call, params);
        if (r.rows() != 1)
            fail(code::StorageError, "The repository server stored no object");
        return readObject(r, 0);
    }
    // The rules with this repository's roles.
    std::string rules() const {
        std::string out = kRules;
        replaceAll(out, "{AUTHORS}", authors());
        replaceAll(out, "{ADMINS}", identifier(c_->raw(), adminsName()));
        replaceAll(out, "{ADMINS_NAME}", literal(c_->raw(), adminsName()));
        replaceAll(out, "{CHUNK}", std::to_string(kChunkBytes));
        return out;
    }
    void recordRoles() {
        c_->run("INSERT INTO tessarel.repository_roles(authors, admins) VALUES($1, $2)",
                {text(authorsName()), text(adminsName())});
    }
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

    // The schema, the repository's two group roles (recorded in it) and the formats, in one
    // transaction.
    void make() {
        if (authorsName().size() > 63)
            fail(code::BadName, "The database name " + database_ + " is too long for a repository's roles");
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
            c_->command(kTables);
            c_->command(kTablesOf3);
            c_->command(rules());
            recordRoles();
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
    std::string authors_;
    std::string admins_;
    bool inTransaction_ = false;
};

// The chunk digest that names content on the server: the SHA-256 of the SHA-256 digests of its
// kChunkBytes chunks, one after the other.
class ChunkDigest {
public:
    void chunk(const char* p, size_t n) {
        Sha256 one;
        one.update(p, n);
        const std::string d = one.bytes();
        all_.update(d.data(), d.size());
    }
    std::string hex() { return all_.hex(); }

private:
    Sha256 all_;
};

class ServerContentStore : public ContentStore {
public:
    explicit ServerContentStore(std::shared_ptr<Connection> c) : c_(std::move(c)) {}

    // Names the file by its chunk digest; its bytes travel when the content is published, inside
    // the transaction.
    StagedContent stage(const std::string& localFile, bool refuseLinks) override {
        std::int64_t size = 0;
        const Fd fd = openContentSource(localFile, refuseLinks, size);
        std::string buffer(kChunkBytes, '\0');
        ChunkDigest digest;
        StagedContent out;
        out.source = localFile;
        out.refuseLinks = refuseLinks;
        while (const size_t n = readUpTo(fd.get(), buffer.data(), buffer.size(), localFile)) {
            digest.chunk(buffer.data(), n);
            out.size += static_cast<std::int64_t>(n);
        }
        out.hash = digest.hex();
        return out;
    }

    // Content this user cannot see in the repository goes to the server chunk by chunk, whether
    // the server holds it or not (which the user is not told); the file is read again and must
    // still be what staging named. The statements go in a pipeline that waits for the server once
    // every kPipelineBytes, so the next file is read while the server stores the last.
    void publish(std::vector<StagedContent>& staged) override {
        // What this user sees already, in one statement.
        std::string wanted;
        for (const auto& s : staged) {
            if (!s.source.empty())
                wanted += (wanted.empty() ? "" : ",") + s.hash;
        }
        if (wanted.empty())
            return;
        std::set<std::string> held;
        Result r = c_->run("SELECT hash FROM tessarel.content WHERE hash = ANY($1::text[])",
                           {text("{" + wanted + "}")});
        for (int i = 0; i < r.rows(); ++i)
            held.insert(r.text(i, 0));
        static const std::string putContent = "SELECT tessarel.ts_put_content($1, $2)";
        static const std::string putChunk = "SELECT tessarel.ts_put_chunk($1, $2, $3)";
        c_->prepared(putContent, {text(""), int8(0)});
        c_->prepared(putChunk, {text(""), int4(0), bytes("", 0)});
        std::string buffer(kChunkBytes, '\0');
        std::set<std::string> sent;
        c_->enterPipeline();
        try {
            size_t unsynced = 0;
            for (auto& s : staged) {
                if (s.source.empty())
                    continue;
                if (held.count(s.hash)) {
                    s.reused = true;
                    s.source.clear();
                    continue;
                }
                // Staged twice in this batch: sent once.
                if (!sent.insert(s.hash).second) {
                    s.source.clear();
                    continue;
                }
                const int chunks = static_cast<int>((s.size + static_cast<std::int64_t>(kChunkBytes) - 1) /
                                                    static_cast<std::int64_t>(kChunkBytes));
                c_->sendInPipeline(putContent, {text(s.hash), int8(s.size)});
                std::int64_t size = 0;
                const Fd fd = openContentSource(s.source, s.refuseLinks, size);
                ChunkDigest digest;
                std::int64_t read = 0;
                for (int n = 0; n < chunks; ++n) {
                    const size_t want = static_cast<size_t>(
                        std::min<std::int64_t>(static_cast<std::int64_t>(kChunkBytes), s.size - read));
                    const size_t got = readUpTo(fd.get(), buffer.data(), want, s.source);
                    if (got != want)
                        break;
                    digest.chunk(buffer.data(), got);
                    c_->sendInPipeline(putChunk, {text(s.hash), int4(n), bytes(buffer.data(), got)});
                    read += static_cast<std::int64_t>(got);
                }
                char extra = 0;
                if (read != s.size || readUpTo(fd.get(), &extra, 1, s.source) != 0 || digest.hex() != s.hash)
                    fail(code::FileError, s.source + " changed while it was stored; nothing of it was kept");
                s.source.clear();
                unsynced += static_cast<size_t>(read);
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
        return c_->run("SELECT 1 FROM tessarel.content WHERE hash = $1", {text(hash)}).rows() > 0;
    }

    void copyOut(const std::string& hash, const std::string& target) const override {
        platform::ReplaceOptions options;
        options.mode = 0644;
        options.removeLeftovers = false;
        std::unique_ptr<platform::FileReplacement> out;
        ChunkDigest digest;
        int chunks = 1;
        for (int n = 0; n < chunks; ++n) {
            // The first chunk comes with the number of chunks; a content of no bytes has none.
            Result r =
                c_->run(n == 0 ? "SELECT c.chunks, ch.data FROM tessarel.content c LEFT JOIN "
                                 "tessarel.content_chunks ch ON ch.hash = c.hash AND ch.n = $2 "
                                 "WHERE c.hash = $1"
                               : "SELECT 0, data FROM tessarel.content_chunks WHERE hash = $1 AND n = $2",
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
            digest.chunk(r.data(0, 1), r.length(0, 1));
            if (!out->write(std::string_view(r.data(0, 1), r.length(0, 1))))
                replacementFailed(*out, target);
        }
        // What is written is what the name says, or nothing is.
        if (digest.hex() != hash)
            fail(code::NoContent, "The content " + hash + " in the repository does not match its hash");
        if (!out->commit())
            replacementFailed(*out, target);
    }

    std::vector<std::string> allContent() const override {
        Result r = c_->run("SELECT hash FROM tessarel.content ORDER BY hash", {});
        std::vector<std::string> out;
        for (int i = 0; i < r.rows(); ++i)
            out.push_back(r.text(i, 0));
        return out;
    }
    // Content is only ever sent inside a transaction: nothing is left over.
    std::vector<std::string> stagingLeftovers() const override { return {}; }

    bool verify(const std::string& hash) const override {
        ChunkDigest digest;
        Result count = c_->run("SELECT chunks FROM tessarel.content WHERE hash = $1", {text(hash)});
        if (count.rows() == 0)
            return false;
        const int chunks = static_cast<int>(count.integer(0, 0));
        for (int n = 0; n < chunks; ++n) {
            Result r = c_->run("SELECT data FROM tessarel.content_chunks WHERE hash = $1 AND n = $2",
                               {text(hash), int4(n)}, true);
            if (r.rows() == 0)
                return false;
            digest.chunk(r.data(0, 0), r.length(0, 0));
        }
        return digest.hex() == hash;
    }
    // Removed only while nothing holds it, and recorded in the audit trail.
    void remove(const std::string& hash) override {
        c_->run("SELECT tessarel.ts_remove_content($1)", {text(hash)});
    }

private:
    std::shared_ptr<Connection> c_;
};

} // namespace

ServerBackend openPostgresBackend(const std::string& conninfo, const std::string& user,
                                  const std::string& password, bool create) {
    auto connection = std::make_shared<Connection>(conninfo, user, password);
    auto storage = std::make_unique<ServerStorage>(connection, conninfo, create, !user.empty());
    ServerBackend b;
    b.storage = std::move(storage);
    b.content = std::make_unique<ServerContentStore>(connection);
    return b;
}

} // namespace lf::tessarel
