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
