// A server repository as the server itself enforces it: users who connect with a client of their
// own get no more than the library gives them, only an author's right password logs in, and many
// clients racing for the same documents leave every history whole. Then, on every backend, what a
// folder moved into a private cabinet brings with it, and the versions of the schema.
#include "admin_tool.h"
#include "fixture.h"

#include <libpq-fe.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

namespace fs = std::filesystem;
using namespace lf::tessarel;
using namespace lf::tessarel::test;

namespace {

// A plain libpq connection, as any client of the user's own would make it.
class SqlClient {
public:
    explicit SqlClient(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str())) {}
    ~SqlClient() { PQfinish(conn_); }
    SqlClient(const SqlClient&) = delete;
    SqlClient& operator=(const SqlClient&) = delete;
    bool ok() const { return PQstatus(conn_) == CONNECTION_OK; }
    std::string error() const { return PQerrorMessage(conn_); }

    // "ok" or the SQLSTATE of the refusal.
    std::string state(const std::string& sql) {
        PGresult* r = PQexec(conn_, sql.c_str());
        const auto st = PQresultStatus(r);
        std::string out = "ok";
        message_.clear();
        if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
            const char* s = PQresultErrorField(r, PG_DIAG_SQLSTATE);
            out = s ? s : "no state";
            message_ = PQresultErrorMessage(r);
        }
        changed_ = std::atoi(PQcmdTuples(r));
        PQclear(r);
        return out;
    }
    // The first value of the rows ("" without rows); a failed statement gives its message.
    std::string value(const std::string& sql) {
        PGresult* r = PQexec(conn_, sql.c_str());
        std::string out = PQresultStatus(r) != PGRES_TUPLES_OK
                              ? std::string("error: ") + PQresultErrorMessage(r)
                          : PQntuples(r) > 0 ? PQgetvalue(r, 0, 0)
                                             : "";
        PQclear(r);
        return out;
    }
    // Ends a transaction a failed statement left open.
    void rollback() {
        if (PQtransactionStatus(conn_) != PQTRANS_IDLE)
            state("ROLLBACK");
    }
    const std::string& message() const { return message_; }
    // Rows the last statement changed.
    int changed() const { return changed_; }

private:
    PGconn* conn_;
    std::string message_;
    int changed_ = 0;
};

std::string sqlText(const std::string& s) {
    return "'" + s + "'";
}

// A statement an author's own SQL tries, and its refusal: the SQLSTATE, then what the message says.
struct Refusal {
    std::string sql;
    std::string refusal;
};

class TessarelServerTest : public TessarelRepositoryTest {
protected:
    std::string backend() const override { return "postgresql"; }

    SqlClient connect(const std::string& user, const std::string& password) {
        return SqlClient(lf::test::sharedPostgres().conninfo(database().name, user, password));
    }
    std::string superuser(const std::string& sql) {
        return lf::test::sharedPostgres().exec(sql, database().name);
    }
    // Everything the repository holds, as one digest.
    std::string everything() {
        return superuser(
            "SELECT md5((SELECT string_agg(o::text, ',' ORDER BY id) FROM tessarel.objects o) || "
            "(SELECT coalesce(string_agg(v::text, ',' ORDER BY seq), '') FROM tessarel.versions v) || "
            "(SELECT coalesce(string_agg(c::text, ',' ORDER BY hash), '') FROM tessarel.content c) || "
            "(SELECT coalesce(string_agg(md5(ch.data) || ch.hash || ch.n, ',' ORDER BY hash, n), '') "
            "FROM tessarel.content_chunks ch) || "
            "(SELECT string_agg(f::text, ',' ORDER BY name) FROM tessarel.formats f) || "
            "(SELECT coalesce(string_agg(a::text, ',' ORDER BY seq), '') FROM tessarel.audit a))");
    }
    // Each statement, in a transaction of its own, fails as its refusal says.
    void expectRefused(SqlClient& sql, const std::vector<Refusal>& attempts) {
        for (const auto& attempt : attempts) {
            EXPECT_EQ(sql.state("BEGIN; " + attempt.sql + "; COMMIT"), attempt.refusal.substr(0, 5))
                << attempt.sql << "\n"
                << sql.message();
            if (attempt.refusal.size() > 6) {
                EXPECT_NE(sql.message().find(attempt.refusal.substr(6)), std::string::npos)
                    << attempt.sql << "\n"
                    << sql.message();
            }
            sql.rollback();
        }
    }
};

} // namespace

TEST_F(TessarelServerTest, BobSeesNothingOfAlicesPrivateCabinetThroughTheLibraryOrHisOwnSql) {
    auto a = alice();
    makeCabinet(a, "Alice Drafts", true);
    makeFolders(a, "/Alice Drafts/Notes");
    auto draft = makeDocument(a, "/Alice Drafts/Notes", "Draft.docx", "alice's first draft");
    newVersion(draft, "alice's second draft");
    makeDocument(a, "/Edvara/Courses", "Shared.pptx", "a shared deck");
    const std::string id = draft->objectId()->text();
    const std::string cabinet = draft->getString("i_cabinet_id");
    auto named = [&](const std::string& file, const std::string& bytes) {
        return sqlText(store_->content().stage(makeFile(file, bytes)).hash);
    };
    const std::string hashes =
        "(" + named("v1", "alice's first draft") + ", " + named("v2", "alice's second draft") + ")";
    ASSERT_EQ(superuser("SELECT count(*) FROM tessarel.content WHERE hash IN " + hashes), "2");

    // Bob's library, even one that claims to be the administrator and knows the draft's id and
    // content: the server hides the rows and the bytes.
    auto b = bob();
    EXPECT_FALSE(b->objectByPath("/Alice Drafts/Notes/Draft.docx"));
    EXPECT_EQ(thrown([&] { b->objectById(id); }).code(), code::ObjectNotFound);
    Storage& bobs = b->store().storage();
    const Viewer claimed{"bob", true};
    EXPECT_FALSE(bobs.objectById(id, claimed));
    EXPECT_FALSE(bobs.objectByPath("/Alice Drafts", "Notes", claimed, true));
    EXPECT_TRUE(bobs.versions(id).empty());
    auto everyDocument = bobs.runQuery(tql::parseTql("select object_name from ts_sysobject"), claimed);
    std::vector<std::string> seen;
    while (everyDocument->next())
        seen.push_back(everyDocument->value(0));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"Courses", "Edvara", "Shared.pptx"}));
    EXPECT_FALSE(b->store().content().contains(draft->record().contentHash));
    auto forged = b->objectFor(draft->record());
    EXPECT_EQ(thrown([&] { forged->getFile(local("stolen.docx").string()); }).code(), code::NoContent);
    auto exportById = client_->newExportOperation();
    exportById->setDestinationDirectory(local("out").string());
    exportById->add(forged);
    EXPECT_FALSE(exportById->execute());
    EXPECT_FALSE(fs::exists(local("out/Draft.docx")));
    EXPECT_FALSE(fs::exists(local("stolen.docx")));

    // Bob's own SQL sees the public rows, and none of the private ones.
    SqlClient sql = connect("bob", "bob-secret");
    ASSERT_TRUE(sql.ok()) << sql.error();
    EXPECT_EQ(sql.value("SELECT count(*) FROM tessarel.objects"), "3");
    EXPECT_EQ(sql.value("SELECT count(*) FROM tessarel.objects WHERE cabinet_id = " + sqlText(cabinet) +
                        " OR is_private OR cabinet_private OR id = " + sqlText(id)),
              "0");
    EXPECT_EQ(sql.value("SELECT count(*) FROM tessarel.versions WHERE object_id = " + sqlText(id)), "0");
    EXPECT_EQ(sql.value("SELECT count(*) FROM tessarel.versions"), "0");
    EXPECT_EQ(sql.value("SELECT count(*) FROM tessarel.content"), "1") << "the shared deck's only";
    EXPECT_EQ(sql.value("SELECT count(*) FROM tessarel.content WHERE hash IN " + hashes), "0");
    EXPECT_EQ(sql.value("SELECT count(*) FROM tessarel.content_chunks WHERE hash IN " + hashes), "0");
    EXPECT_EQ(sql.value("SELECT count(*) FROM tessarel.content_chunks"), "1");
    // Alice herself sees hers.
    SqlClient hers = connect("alice", "alice-secret");
    EXPECT_EQ(hers.value("SELECT count(*) FROM tessarel.content_chunks WHERE hash IN " + hashes), "2");
    EXPECT_EQ(hers.value("SELECT count(*) FROM tessarel.versions WHERE object_id = " + sqlText(id)), "1");
}

TEST_F(TessarelServerTest, ForgedContentVersionsAndAuthorsAreRefusedAndTheServerSetsWhoAndWhen) {
    auto a = alice();
    auto shared = makeDocument(a, "/Edvara/Courses", "Shared.pptx", "shared deck 1.0");
    auto b = bob();
    auto bobs = makeDocument(b, "/Edvara/Courses", "Bobs.pptx", "bob's deck");
    const std::string id = sqlText(shared->objectId()->text());
    const std::string bobsHash = sqlText(bobs->record().contentHash);
    const std::string before = everything();
    SqlClient sql = connect("bob", "bob-secret");
    ASSERT_TRUE(sql.ok()) << sql.error();
    expectRefused(
        sql,
        {
            // New bytes for an unlocked document with no check-out, no version, in the owner's name.
            {"UPDATE tessarel.objects SET content_hash = " + bobsHash +
                 ", content_size = 10 WHERE id = " + id,
             "42501"},
            {"UPDATE tessarel.objects SET modifier = 'alice', modify_date = '2020-01-01T00:00:00Z'", "42501"},
            // A version in another author's name, dated 2020.
            {"INSERT INTO tessarel.versions(object_id, version_label, content_type, content_hash, "
             "content_size, "
             "modify_date, modifier) SELECT id, '0.9', content_type, " +
                 bobsHash + ", 10, '2020-01-01T00:00:00Z', 'alice' FROM tessarel.objects WHERE id = " + id,
             "42501"},
            {"DELETE FROM tessarel.versions", "42501"},
            {"TRUNCATE tessarel.objects CASCADE", "42501"},
            {"UPDATE tessarel.schema_version SET version = 1", "42501"},
            // A check-in without the check-out.
            {"SELECT tessarel.ts_check_in(" + id + ", 'alice', " + bobsHash + ", 'ppt8')",
             "TSNO0 'Shared.pptx' is no longer checked out by bob"},
        });
    EXPECT_EQ(everything(), before) << "nothing Bob tried changed anything";

    // What Bob may do (new content of an unlocked document, as TsObject::save does) is his, now,
    // whatever his call says.
    EXPECT_EQ(sql.state("SELECT tessarel.ts_update_object(id, 'alice', name, folder_id, is_private, "
                        "content_type, " +
                        bobsHash + ") FROM tessarel.objects WHERE id = " + id),
              "ok")
        << sql.message();
    shared->refresh();
    EXPECT_EQ(shared->record().modifier, "bob");
    EXPECT_EQ(shared->record().contentHash, bobs->record().contentHash);
    EXPECT_EQ(shared->record().contentSize, 10);
    EXPECT_EQ(shared->record().modified.substr(0, 4), nowText().substr(0, 4));
    EXPECT_EQ(
        superuser("SELECT who || ' ' || action || ' ' || path FROM tessarel.audit ORDER BY seq DESC LIMIT 1"),
        "bob new content /Edvara/Courses/Shared.pptx");
}

TEST_F(TessarelServerTest, PathsCabinetsAndSeqComeFromTheServerAndNoRowShadowsAnother) {
    auto a = alice();
    makeCabinet(a, "Alice Drafts", true);
    auto notes = makeFolders(a, "/Alice Drafts/Notes");
    auto templ = makeDocument(a, "/Edvara/Courses", "Template.potx", "alice's template");
    const std::string courses = sqlText(templ->getString("i_folder_id"));
    const std::string before = everything();
    SqlClient sql = connect("bob", "bob-secret");
    ASSERT_TRUE(sql.ok()) << sql.error();
    const std::string missing = sqlText(std::string(64, 'a'));
    auto make = [](const std::string& id, const std::string& type, const std::string& name,
                   const std::string& folder, const std::string& hash) {
        return "SELECT tessarel.ts_make_object('" + id + "', '" + type + "', '" + name + "', " + folder +
               ", false, '', " + hash + ", 'alice')";
    };
    expectRefused(
        sql,
        {
            // A deck planted into Alice's private folder, as a row or through the server.
            {"INSERT INTO tessarel.objects(id, type, name, owner_name, version_label, creation_date, "
             "modify_date, "
             "folder_id, parent_path, cabinet_id) VALUES('09ffffffffffffff', 'ts_document', 'Planted', "
             "'alice', "
             "'1.0', '', '', " +
                 sqlText(notes->objectId()->text()) + ", '/Alice Drafts/Notes', " +
                 sqlText(notes->getString("i_cabinet_id")) + ")",
             "42501"},
            {make("09ffffffffffffff", "ts_document", "Planted", sqlText(notes->objectId()->text()), "''"),
             "TSNF0 There is no folder of id '" + notes->objectId()->text() + "'"},
            // A row of a lower seq that objectByPath would find first.
            {"INSERT INTO tessarel.objects(seq, id, type, name, owner_name, version_label, creation_date, "
             "modify_date, folder_id, parent_path, cabinet_id) OVERRIDING SYSTEM VALUE SELECT 0, "
             "'09fffffffffffffe', type, name, owner_name, version_label, creation_date, modify_date, "
             "folder_id, "
             "parent_path, cabinet_id FROM tessarel.objects WHERE id = " +
                 sqlText(templ->objectId()->text()),
             "42501"},
            // A row pointing at content that is not there.
            {make("09fffffffffffffd", "ts_document", "Broken.pptx", courses, missing),
             "TSNC1 The content " + std::string(64, 'a') + " is not in the repository; send it first"},
            {make("09fffffffffffffc", "ts_folder", "a/b", courses, "''"), "TSBN0"},
            {make(templ->objectId()->text(), "ts_document", "Again", courses, "''"),
             "TSDUP The id " + templ->objectId()->text() + " is in use"},
            {make("09fffffffffffffb", "ts_folder", "Inside", sqlText(templ->objectId()->text()), "''"),
             "TSNF0"},
        });
    EXPECT_EQ(everything(), before);

    // A document of the same name made through the server comes after the owner's.
    ASSERT_EQ(sql.state(make("09fffffffffffffa", "ts_document", "Template.potx", courses, "''")), "ok")
        << sql.message();
    auto found = a->objectByPath("/Edvara/Courses/Template.potx");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->objectId()->text(), templ->objectId()->text());
    EXPECT_EQ(
        superuser("SELECT owner_name || ' ' || parent_path || ' ' || version_label FROM tessarel.objects "
                  "WHERE id = '09fffffffffffffa'"),
        "bob /Edvara/Courses 1.0");
}

TEST_F(TessarelServerTest, NothingMovesIntoAPrivateCabinetFromUnderItsOwnersOrLockHolders) {
    auto a = alice();
    auto shared = makeDocument(a, "/Edvara/Courses", "Shared.pptx", "shared deck");
    makeFolders(a, "/Edvara/Alices");
    auto b = bob();
    auto bobsCabinet = makeCabinet(b, "Bob Private", true);
    makeCabinet(b, "Bob Public", false);
    makeDocument(a, "/Bob Public", "AlicesThere.pptx", "alice's deck in bob's cabinet");
    makeFolders(b, "/Edvara/Bobs");
    auto co = client_->newCheckoutOperation();
    co->setDestinationDirectory(local("alicework").string());
    co->add(shared);
    ASSERT_TRUE(co->execute());
    const std::string before = everything();
    SqlClient sql = connect("bob", "bob-secret");
    ASSERT_TRUE(sql.ok()) << sql.error();
    auto move = [&](const std::string& what, const std::string& into) {
        return "SELECT tessarel.ts_update_object(id, 'bob', name, " + sqlText(into) +
               ", is_private, content_type, content_hash) FROM tessarel.objects WHERE " + what;
    };
    const std::string cabinet = bobsCabinet->objectId()->text();
    expectRefused(
        sql, {
                 {"UPDATE tessarel.objects SET parent_path = '/Bob Private', cabinet_id = " +
                      sqlText(cabinet) + " WHERE name = 'Shared.pptx'",
                  "42501"},
                 {move("name = 'Shared.pptx'", cabinet), "TSLC0 'Shared.pptx' is checked out by alice"},
                 {move("name = 'Alices'", cabinet),
                  "42501 'Alices' is owned or checked out by someone else: it does not move into the private "
                  "cabinet of bob"},
             });
    EXPECT_EQ(everything(), before);
    // Bob's own folder, holding his deck that Alice has checked out.
    auto bobsDeck = makeDocument(b, "/Edvara/Bobs", "BobsDeck.pptx", "bob's deck");
    auto aco = client_->newCheckoutOperation();
    aco->setDestinationDirectory(local("alicework2").string());
    aco->add(a->objectById(bobsDeck->objectId()->text()));
    ASSERT_TRUE(aco->execute());
    const std::string held = everything();
    expectRefused(
        sql,
        {{move("name = 'Bobs'", cabinet), "42501 'BobsDeck.pptx' is owned or checked out by someone else"},
         // Nor does a public cabinet become private over what others own or hold.
         {"SELECT tessarel.ts_update_object(id, 'bob', name, NULL, true, '', '') FROM "
          "tessarel.objects WHERE name = 'Bob Public'",
          "42501 is owned or checked out by someone else: the cabinet 'Bob Public' stays public"}});
    EXPECT_EQ(everything(), held);

    // Alice's check-in finds her deck where she left it.
    lf::test::writeFile(local("alicework/Shared.pptx"), "shared deck 1.1");
    auto ci = client_->newCheckinOperation();
    ci->add(shared);
    ASSERT_TRUE(ci->execute()) << ci->errors()->item(0)->getMessage();
    EXPECT_EQ(shared->versionLabel(), "1.1");
}

TEST_F(TessarelServerTest, NoAuthorLocksATableAndAHeldCheckOutHoldsUpOnlyItsOwnDocument) {
    auto a = alice();
    auto first = makeDocument(a, "/Edvara/Courses", "First.pptx", "first");
    auto second = makeDocument(a, "/Edvara/Courses", "Second.pptx", "second");
    auto other = makeFolders(a, "/Edvara/Other");
    auto co = client_->newCheckoutOperation();
    co->setDestinationDirectory(local("alicework").string());
    co->add(second);
    ASSERT_TRUE(co->execute());
    const std::string before = everything();
    SqlClient sql = connect("bob", "bob-secret");
    ASSERT_TRUE(sql.ok()) << sql.error();
    std::vector<Refusal> locks;
    for (const char* table :
         {"objects", "versions", "content", "content_chunks", "formats", "schema_version"}) {
        for (const char* mode : {"ROW EXCLUSIVE", "SHARE UPDATE EXCLUSIVE", "SHARE", "SHARE ROW EXCLUSIVE",
                                 "EXCLUSIVE", "ACCESS EXCLUSIVE"})
            locks.push_back({std::string("LOCK TABLE tessarel.") + table + " IN " + mode + " MODE", "42501"});
        locks.push_back({std::string("SELECT 1 FROM tessarel.") + table + " FOR UPDATE", "42501"});
        locks.push_back({std::string("SELECT 1 FROM tessarel.") + table + " FOR KEY SHARE", "42501"});
    }
    expectRefused(sql, locks);
    EXPECT_EQ(everything(), before);

    // Bob holds the lock the repository once took for every write, and an open transaction in
    // which he checked out the first document.
    ASSERT_EQ(sql.state("SELECT pg_advisory_lock(1953724268)"), "ok") << sql.message();
    ASSERT_EQ(sql.state("BEGIN"), "ok");
    ASSERT_EQ(sql.state("SELECT tessarel.ts_check_out(" + sqlText(first->objectId()->text()) +
                        ", 'bob', '/tmp/x')"),
              "ok")
        << sql.message();
    // Alice's check-in of the other document, and her rename of another folder of the cabinet,
    // go through at once.
    lf::test::writeFile(local("alicework/Second.pptx"), "second 1.1");
    const QDeadlineTimer bound(5000);
    auto ci = client_->newCheckinOperation();
    ci->add(second);
    ASSERT_TRUE(ci->execute()) << ci->errors()->item(0)->getMessage();
    other->setObjectName("Elsewhere");
    other->save();
    EXPECT_FALSE(bound.hasExpired()) << "Alice waited for Bob's transaction";
    EXPECT_EQ(second->versionLabel(), "1.1");
    EXPECT_TRUE(a->folderByPath("/Edvara/Elsewhere"));
    sql.rollback();
}

TEST_F(TessarelServerTest, ContentIsCheckedWhateverItsSizeAndTellsNoOneWhatExists) {
    auto a = alice();
    makeCabinet(a, "Alice Drafts", true);
    auto draft = makeDocument(a, "/Alice Drafts", "Draft.docx", "alice's private draft");
    const std::string secret = draft->record().contentHash;
    const std::string missing = store_->content().stage(makeFile("never", "never stored")).hash;
    auto courses = a->folderByPath("/Edvara/Courses");
    const std::string folder = sqlText(courses->objectId()->text());
    const std::string before = everything();
    SqlClient sql = connect("bob", "bob-secret");
    ASSERT_TRUE(sql.ok()) << sql.error();
    expectRefused(
        sql, {
                 {"INSERT INTO tessarel.content(hash, size, chunks) VALUES(" + sqlText(missing) + ", 1, 1)",
                  "42501"},
                 {"INSERT INTO tessarel.content_chunks(hash, n, data, digest) VALUES(" + sqlText(secret) +
                      ", 1, 'x', 'x')",
                  "42501"},
             });

    // Bytes sent under a name that is not theirs, in three chunks, and a document that holds
    // them: every call goes through, the commit fails; for a name the repository holds (Alice's
    // draft, which Bob cannot see) exactly as for one it does not.
    std::map<std::string, std::string> refusals;
    for (const std::string& name : {secret, missing}) {
        const std::string h = sqlText(name);
        const std::string mib = std::to_string(1 << 20);
        ASSERT_EQ(sql.state("BEGIN"), "ok");
        for (const std::string& call :
             {"SELECT tessarel.ts_put_content(" + h + ", 2 * " + mib + " + 5)",
              "SELECT tessarel.ts_put_chunk(" + h + ", 0, decode(repeat('00', " + mib + "), 'hex'))",
              "SELECT tessarel.ts_put_chunk(" + h + ", 1, decode(repeat('00', " + mib + "), 'hex'))",
              "SELECT tessarel.ts_put_chunk(" + h + ", 2, 'zeros')",
              "SELECT tessarel.ts_make_object('09ffffffffffff0" + std::to_string(refusals.size()) +
                  "', 'ts_document', 'Zeros.docx', " + folder + ", false, 'msw8', " + h + ", 'bob')"})
            EXPECT_EQ(sql.state(call), "ok") << call << "\n" << sql.message();
        EXPECT_EQ(sql.state("COMMIT"), "23514");
        std::string said = sql.message();
        const auto at = said.find(name);
        ASSERT_NE(at, std::string::npos) << said;
        refusals[name] = said.replace(at, name.size(), "H");
        sql.rollback();
    }
    EXPECT_EQ(refusals[secret], refusals[missing]);
    EXPECT_NE(refusals[secret].find("The content H holds other bytes"), std::string::npos)
        << refusals[secret];
    // Pointing at content without sending it: the same refusal for both.
    std::map<std::string, std::string> unsent;
    for (const std::string& name : {secret, missing}) {
        EXPECT_EQ(
            sql.state("SELECT tessarel.ts_make_object('09ffffffffffffee', 'ts_document', 'Stolen.docx', " +
                      folder + ", false, 'msw8', " + sqlText(name) + ", 'bob')"),
            "TSNC1");
        std::string said = sql.message();
        const auto at = said.find(name);
        ASSERT_NE(at, std::string::npos) << said;
        unsent[name] = said.replace(at, name.size(), "H");
    }
    EXPECT_EQ(unsent[secret], unsent[missing]);
    EXPECT_EQ(sql.value("SELECT count(*) FROM tessarel.content WHERE hash = " + sqlText(secret)), "0");
    EXPECT_EQ(everything(), before);

    // Alice's later import of the file whose name Bob tried stores its real bytes.
    auto imported = makeDocument(a, "/Edvara/Courses", "Never.docx", "never stored");
    EXPECT_EQ(imported->record().contentHash, missing);
    EXPECT_EQ(lf::test::readFile(imported->getFile(local("never.docx").string())), "never stored");
    // Bob, who has the draft's bytes himself, may store a document of them.
    auto bobs = makeDocument(bob(), "/Edvara/Courses", "Copy.docx", "alice's private draft");
    EXPECT_EQ(bobs->record().contentHash, secret);
    EXPECT_EQ(lf::test::readFile(bobs->getFile(local("copy.docx").string())), "alice's private draft");
}

TEST_F(TessarelServerTest, EveryFunctionHasAFixedSearchPathAndAuthorsWriteOnlyThroughThem) {
    const std::string path = "search_path=pg_catalog, tessarel, pg_temp";
    EXPECT_EQ(
        superuser("SELECT string_agg(p.proname, ', ' ORDER BY p.proname) FROM pg_proc p JOIN pg_namespace n "
                  "ON n.oid = p.pronamespace WHERE n.nspname = 'tessarel' AND NOT coalesce(p.proconfig @> "
                  "ARRAY['" +
                  path + "'], false)"),
        "")
        << "functions without the fixed search path";
    EXPECT_EQ(superuser("SELECT count(*) FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace WHERE "
                        "n.nspname = 'tessarel' AND (p.proowner <> (SELECT nspowner FROM pg_namespace WHERE "
                        "nspname = 'tessarel') OR has_function_privilege('public', p.oid, 'EXECUTE'))"),
              "0");
    for (const char* table : {"objects", "versions", "content", "content_chunks", "formats", "schema_version",
                              "audit", "repository_roles", "content_uploads"}) {
        for (const char* privilege : {"INSERT", "UPDATE", "DELETE", "TRUNCATE", "REFERENCES", "TRIGGER"})
            EXPECT_EQ(superuser(std::string("SELECT has_table_privilege('alice', 'tessarel.") + table +
                                "', '" + privilege + "')"),
                      "f")
                << table << " " << privilege;
    }
    // Bob's own objects first on his search path change nothing the functions do.
    auto cabinet = admin_->folderByPath("/Edvara");
    SqlClient sql = connect("bob", "bob-secret");
    ASSERT_TRUE(sql.ok()) << sql.error();
    EXPECT_EQ(sql.state("CREATE TEMPORARY TABLE objects(id text, name text)"), "ok") << sql.message();
    EXPECT_EQ(sql.state("CREATE FUNCTION pg_temp.pg_has_role(name, text, text) RETURNS boolean LANGUAGE sql "
                        "AS 'SELECT true'"),
              "ok")
        << sql.message();
    EXPECT_EQ(sql.state("SET search_path = pg_temp, tessarel, public"), "ok");
    EXPECT_EQ(sql.value("SELECT tessarel.ts_is_admin()"), "f");
    EXPECT_EQ(sql.state("SELECT tessarel.ts_make_object('09ffffffffffff00', 'ts_folder', 'Bobs', " +
                        sqlText(cabinet->objectId()->text()) + ", false, '', '', 'alice')"),
              "ok")
        << sql.message();
    EXPECT_EQ(sql.value("SELECT count(*) FROM objects"), "0");
    EXPECT_EQ(
        superuser(
            "SELECT owner_name || ' ' || parent_path FROM tessarel.objects WHERE id = '09ffffffffffff00'"),
        "bob /Edvara");
    // Nor may he call the functions' own helpers, nor read the audit trail.
    expectRefused(
        sql, {{"SELECT tessarel.ts_new_object('make', '09ffffffffffff01', 'ts_folder', 'X', NULL, false, "
               "'', '', 'bob')",
               "42501"},
              {"SELECT tessarel.ts_remove_content(" + sqlText(std::string(64, 'a')) + ")", "42501"},
              {"SELECT count(*) FROM tessarel.audit", "42501"}});
}

TEST_F(TessarelServerTest, TheAuditTrailRecordsALibraryRoundTripAndTheAdminToolPrintsIt) {
    auto a = alice();
    makeFolders(a, "/Edvara/Courses/Unit");
    const std::string deck = makeFile("in/Deck.pptx", "deck 1.0");
    auto import = client_->newImportOperation();
    import->setSession(a);
    import->setDestinationFolder(a->folderByPath("/Edvara/Courses/Unit")->objectId());
    import->add(client_->fileObject(deck));
    ASSERT_TRUE(import->execute());
    auto doc = a->objectByPath("/Edvara/Courses/Unit/Deck.pptx");
    ASSERT_TRUE(doc);
    checkInNewVersion(*client_, doc, local("work"), "deck 1.1");
    auto co = client_->newCheckoutOperation();
    co->setDestinationDirectory(local("work2").string());
    co->add(doc);
    ASSERT_TRUE(co->execute());
    doc->cancelCheckout();
    auto unit = a->folderByPath("/Edvara/Courses/Unit");
    unit->link("/Edvara");
    unit->save();
    unit->setObjectName("Module");
    unit->save();

    const AdminRun log = runAdmin(args({"log", location(), "/Edvara/Module"}));
    ASSERT_EQ(log.exitCode, 0) << log.err;
    std::vector<std::string> lines;
    for (size_t at = 0; at < log.out.size();) {
        const size_t end = log.out.find('\n', at);
        std::string line = log.out.substr(at, end - at);
        // Past the time: who, action, path.
        const auto tab = line.find('\t');
        ASSERT_EQ(tab, 20u) << line;
        line = line.substr(tab + 1);
        lines.push_back(line.substr(0, line.rfind('\t')));
        at = end + 1;
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "alice\tmake\t/Edvara/Courses/Unit",
                         "alice\timport\t/Edvara/Courses/Unit/Deck.pptx",
                         "alice\tcheck-out\t/Edvara/Courses/Unit/Deck.pptx",
                         "alice\tcheck-in\t/Edvara/Courses/Unit/Deck.pptx",
                         "alice\tcheck-out\t/Edvara/Courses/Unit/Deck.pptx",
                         "alice\tcancel\t/Edvara/Courses/Unit/Deck.pptx",
                         "alice\tmove\t/Edvara/Unit",
                         "alice\trename\t/Edvara/Module",
                     }));
    EXPECT_NE(log.out.find("\tcheck-in\t/Edvara/Courses/Unit/Deck.pptx\tversion 1.1\n"), std::string::npos)
        << log.out;
    // An administrator's clearing of Bob's lock is recorded as his, naming whose lock it was.
    addUser(*store_, "carol", "carol-secret");
    superuser("GRANT " + database().name + "_admins TO carol");
    auto b = bob();
    auto bobs = makeDocument(b, "/Edvara/Courses", "Bobs.pptx", "bob's deck");
    auto bco = client_->newCheckoutOperation();
    bco->setDestinationDirectory(local("bobwork").string());
    bco->add(bobs);
    ASSERT_TRUE(bco->execute());
    SqlClient carol = connect("carol", "carol-secret");
    EXPECT_EQ(
        carol.value("SELECT tessarel.ts_cancel_checkout(" + sqlText(bobs->objectId()->text()) + ", '')"),
        "t");
    EXPECT_EQ(
        carol.value("SELECT who || ' ' || action || ' ' || detail FROM tessarel.audit ORDER BY seq DESC "
                    "LIMIT 1"),
        "carol lock cleared checked out by bob");
    expectRefused(carol, {{"DELETE FROM tessarel.audit", "42501"}});
    EXPECT_THROW(superuser("DELETE FROM tessarel.audit"), std::runtime_error) << "nor does the owner";

    // A repair's removal of content nothing holds (left by damage past the rules) is recorded.
    const std::string stray = std::string(64, 'b');
    damageSql("INSERT INTO content VALUES('" + stray + "', 5, 1); INSERT INTO content_chunks VALUES('" +
              stray + "', 0, 'stray', sha256('stray'))");
    EXPECT_EQ(fsck(*store_, false, true).orphanContent, std::vector<std::string>{stray});
    EXPECT_EQ(
        superuser(
            "SELECT who || ' ' || action || ' ' || detail FROM tessarel.audit ORDER BY seq DESC LIMIT 1"),
        database().owner + " fsck repair removed content " + stray + " (5 bytes) that nothing held");
}

TEST_F(TessarelServerTest, OnlyTheRightPasswordOfTheRepositorysAuthorLogsIn) {
    EXPECT_EQ(thrown([&] { login("alice", "bob-secret"); }).code(), code::LoginRefused);
    EXPECT_EQ(thrown([&] { login("alice", ""); }).code(), code::LoginRefused);
    SqlClient wrong = connect("alice", "bob-secret");
    EXPECT_FALSE(wrong.ok());
    EXPECT_NE(wrong.error().find("password authentication failed for user \"alice\""), std::string::npos)
        << wrong.error();
    // A role of the server that is not one of the repository's authors.
    lf::test::sharedPostgres().exec("CREATE ROLE carol LOGIN PASSWORD 'carol-secret'");
    SqlClient carol = connect("carol", "carol-secret");
    ASSERT_TRUE(carol.ok()) << "the server lets her in: " << carol.error();
    EXPECT_EQ(carol.state("SELECT count(*) FROM tessarel.objects"), "42501");
    EXPECT_EQ(thrown([&] { login("carol", "carol-secret"); }).code(), code::LoginRefused);
    const TsException refused = thrown([&] { RepositoryStore::login(location(), "carol", "carol-secret"); });
    EXPECT_EQ(refused.code(), code::LoginRefused);
    EXPECT_NE(refused.message().find("'carol' is not a user of the repository in " + database().name),
              std::string::npos)
        << refused.message();
    EXPECT_TRUE(alice()) << "the right password of an author";
}

namespace {

// What one client saw and did in one round.
struct Round {
    int doc = 0;
    bool checkedOut = false;
    std::string refusal; // the check-out's error
    std::string saw;     // what the check-out wrote
    std::string wrote;
    std::string label; // the version the check-in made
    std::string checkinError;
};

} // namespace

TEST_F(TessarelServerTest, EightClientsRacingForThreeDocumentsLeaveWholeHistoriesOfWhatEachWrote) {
    constexpr int kClients = 8, kRounds = 5, kDocs = 3;
    std::string roles;
    for (int n = 1; n <= kClients; ++n)
        roles += std::string(n > 1 ? ", " : "") + "u" + std::to_string(n);
    lf::test::sharedPostgres().exec("DROP ROLE IF EXISTS " + roles);
    for (int n = 1; n <= kClients; ++n) {
        addUser(*store_, "u" + std::to_string(n), "u" + std::to_string(n) + "-secret");
        makeFile("u" + std::to_string(n) + ".pw", "u" + std::to_string(n) + "-secret\n");
    }
    for (int d = 0; d < kDocs; ++d)
        makeDocument(admin_, "/Edvara/Courses", "Doc" + std::to_string(d) + ".pptx",
                     "original " + std::to_string(d));

    // Each client is a sequence of tool runs, each a login of its own; in each round about three
    // clients want the same document.
    const QDeadlineTimer deadline(60000);
    std::vector<std::vector<Round>> rounds(kClients + 1);
    auto client = [&](int n) {
        const std::string user = "u" + std::to_string(n);
        const std::string pw = local(user + ".pw").string();
        auto tool = [&](std::vector<std::string> arguments, std::string& out, std::string& err) {
            arguments.insert(arguments.end(), {"--user", user, "--password-file", pw});
            const AdminRun run = runAdmin(args(arguments), "",
                                          static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)));
            out = run.out;
            err = run.err;
            return run.exitCode == 0;
        };
        for (int r = 0; r < kRounds && !deadline.hasExpired(); ++r) {
            Round round;
            round.doc = (n + r) % kDocs;
            const std::string path = "/Edvara/Courses/Doc" + std::to_string(round.doc) + ".pptx";
            const fs::path work = local(user + "/" + std::to_string(r));
            std::string out, err;
            round.checkedOut = tool({"checkout", location(), path, work.string()}, out, err);
            if (round.checkedOut) {
                const fs::path file = work / ("Doc" + std::to_string(round.doc) + ".pptx");
                round.saw = lf::test::readFile(file);
                round.wrote = user + " round " + std::to_string(r);
                lf::test::writeFile(file, round.wrote);
                if (tool({"checkin", location(), path}, out, err)) {
                    const std::string says = path + " is now version ";
                    if (out.rfind(says, 0) == 0)
                        round.label = out.substr(says.size(), out.size() - says.size() - 1);
                } else {
                    round.checkinError = err;
                }
            } else {
                round.refusal = err;
            }
            rounds[n].push_back(round);
        }
    };
    std::vector<std::thread> threads;
    for (int n = 1; n <= kClients; ++n)
        threads.emplace_back(client, n);
    for (auto& t : threads)
        t.join();
    ASSERT_FALSE(deadline.hasExpired()) << "the clients did not finish within a minute";

    // Per document, what each version's maker saw and wrote, by version label.
    std::vector<std::map<std::string, Round>> byLabel(kDocs);
    for (int n = 1; n <= kClients; ++n) {
        ASSERT_EQ(rounds[n].size(), static_cast<size_t>(kRounds));
        for (const Round& r : rounds[n]) {
            if (!r.checkedOut) {
                // Refused only because another client held the lock (and may have checked in
                // since).
                const std::string says = "error: [TS_LOCK_CONFLICT] 'Doc" + std::to_string(r.doc) +
                                         ".pptx' is already checked out by ";
                EXPECT_EQ(r.refusal.rfind(says, 0), 0u) << r.refusal;
                const std::string holder = r.refusal.substr(says.size(), r.refusal.find('\n') - says.size());
                EXPECT_TRUE(holder == "another user" ||
                            (holder != "u" + std::to_string(n) && holder.size() == 2 && holder[0] == 'u' &&
                             holder[1] >= '1' && holder[1] <= '0' + kClients))
                    << r.refusal;
                continue;
            }
            ASSERT_EQ(r.checkinError, "") << "the lock owner's check-in";
            ASSERT_FALSE(r.label.empty());
            EXPECT_TRUE(byLabel[r.doc].emplace(r.label, r).second) << "two check-ins made " << r.label;
        }
    }
    int checkins = 0;
    for (int d = 0; d < kDocs; ++d) {
        checkins += static_cast<int>(byLabel[d].size());
        auto doc = admin_->objectByPath("/Edvara/Courses/Doc" + std::to_string(d) + ".pptx");
        ASSERT_TRUE(doc);
        EXPECT_FALSE(doc->isCheckedOut());
        const auto versions = objectVersions(doc);
        ASSERT_EQ(versions.size(), 1 + byLabel[d].size()) << "Doc" << d;
        std::string previous = "original " + std::to_string(d);
        for (size_t v = 0; v < versions.size(); ++v) {
            // 1.0, 1.1, 1.2...: no gap, no label twice.
            EXPECT_EQ(versions[v].label, "1." + std::to_string(v)) << "Doc" << d;
            const fs::path file = local("history/" + std::to_string(d) + "-" + std::to_string(v));
            fs::create_directories(file.parent_path());
            store_->content().copyOut(versions[v].hash, file.string());
            const std::string content = lf::test::readFile(file);
            if (v == 0) {
                EXPECT_EQ(content, previous);
                continue;
            }
            const auto made = byLabel[d].find(versions[v].label);
            ASSERT_NE(made, byLabel[d].end()) << versions[v].label;
            EXPECT_EQ(content, made->second.wrote) << "Doc" << d << " " << versions[v].label;
            // One owner at a time: each version's maker checked out the version before it.
            EXPECT_EQ(made->second.saw, previous) << "Doc" << d << " " << versions[v].label;
            previous = content;
        }
    }
    EXPECT_GE(checkins, kDocs) << "every document was checked in at least once";
    EXPECT_LT(checkins, kClients * kRounds) << "no race at all: no client was ever refused";
}

TEST_F(TessarelServerTest, AnAuthorsTransactionLeftOpenIsEndedByTheServerAndFreesTheDocument) {
    makeDocument(admin_, "/Edvara/Courses", "Deck.pptx", "deck");
    // Every author is made with the server's limits of a statement and of an idle transaction.
    const std::string limits = "SELECT array_to_string(s.setconfig, ',') FROM pg_db_role_setting s "
                               "JOIN pg_roles r ON r.oid = s.setrole WHERE r.rolname = 'alice'";
    EXPECT_EQ(superuser(limits), "statement_timeout=60s,idle_in_transaction_session_timeout=60s");
    // A minute is long for a test: the administrator shortens Alice's idle limit.
    superuser("ALTER ROLE alice SET idle_in_transaction_session_timeout = '1s'");

    // Alice's client takes the deck's row in a transaction and stalls, as a client that hangs
    // halfway through a check-out would.
    SqlClient stalled = connect("alice", "alice-secret");
    ASSERT_TRUE(stalled.ok()) << stalled.error();
    const std::string id = admin_->objectByPath("/Edvara/Courses/Deck.pptx")->objectId()->text();
    ASSERT_EQ(stalled.state("BEGIN; SELECT tessarel.ts_check_out('" + id + "', 'alice', '/stalled')"), "ok")
        << stalled.message();

    // Bob's check-out waits for the row only until the server ends Alice's transaction, well
    // within the repository's wait for a busy row (15 s).
    QElapsedTimer clock;
    clock.start();
    auto co = client_->newCheckoutOperation();
    co->setDestinationDirectory(local("bobwork").string());
    co->add(bob()->objectByPath("/Edvara/Courses/Deck.pptx"));
    ASSERT_TRUE(co->execute()) << (co->errors()->count() ? co->errors()->item(0)->getMessage() : "");
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(admin_->objectByPath("/Edvara/Courses/Deck.pptx")->lockOwner(), "bob");
    EXPECT_EQ(lf::test::readFile(local("bobwork/Deck.pptx")), "deck");
    EXPECT_NE(stalled.state("SELECT 1"), "ok") << "the stalled client's session was ended";
}

namespace {

// A server of the suite's own, which its tests stall, kill and start again: durable, so what
// committed before a kill is there after it.
class TessarelServerOutageTest : public TessarelRepositoryTest {
protected:
    std::string backend() const override { return "postgresql"; }
    lf::test::PrivatePostgres& server() override {
        if (!own_)
            own_ = std::make_unique<lf::test::PrivatePostgres>(true);
        return *own_;
    }

    std::unique_ptr<lf::test::PrivatePostgres> own_;
};

// The client's answer timeout, shortened for the connections made while it lives.
class ShortAnswerTimeout {
public:
    explicit ShortAnswerTimeout(int seconds) {
        ::setenv("TESSAREL_ANSWER_TIMEOUT", std::to_string(seconds).c_str(), 1);
    }
    ~ShortAnswerTimeout() { ::unsetenv("TESSAREL_ANSWER_TIMEOUT"); }
    ShortAnswerTimeout(const ShortAnswerTimeout&) = delete;
    ShortAnswerTimeout& operator=(const ShortAnswerTimeout&) = delete;
};

} // namespace

TEST_F(TessarelServerOutageTest, AStalledServerFailsTheCallWithinTheAnswerTimeoutNeverHanging) {
    makeDocument(admin_, "/Edvara/Courses", "Deck.pptx", "deck");
    const ShortAnswerTimeout timeout(2);
    auto s = alice();
    ASSERT_EQ(countRows(s, "select * from ts_document"), 1);

    // Every process of the server stopped: its kernel still takes the query, nothing answers.
    server().pause();
    QElapsedTimer clock;
    clock.start();
    const TsException stalled = thrown([&] { countRows(s, "select * from ts_document"); });
    const qint64 waited = clock.elapsed();
    // The connection was dropped: the session fails at once from then on, never waiting again.
    clock.restart();
    const TsException after = thrown([&] { s->objectByPath("/Edvara/Courses/Deck.pptx"); });
    const qint64 waitedAfter = clock.elapsed();
    server().resume();

    EXPECT_EQ(stalled.code(), code::NotConnected);
    EXPECT_EQ(stalled.message(), "The repository server does not answer (no reply in 2 s)");
    EXPECT_GE(waited, 2000);
    EXPECT_LT(waited, 8000);
    EXPECT_EQ(after.code(), code::NotConnected);
    EXPECT_LT(waitedAfter, 1000);
    // The server running again, a new login works.
    EXPECT_EQ(countRows(alice(), "select * from ts_document"), 1);
}

TEST_F(TessarelServerOutageTest, AServerGoneDuringACheckOutLeavesTheDocumentFreeAndTheRetryWorks) {
    // Sixteen chunks: the check-out is still copying when the server goes.
    const std::string bytes = randomBytes(16 << 20, 26);
    makeDocument(admin_, "/Edvara/Courses", "Deck.pptx", bytes);
    const fs::path work = local("work");
    fs::create_directories(work);
    auto checkOut = [&](const TsSessionPtr& s) {
        auto co = client_->newCheckoutOperation();
        co->setDestinationDirectory(work.string());
        co->add(s->objectByPath("/Edvara/Courses/Deck.pptx"));
        return co;
    };
    auto co = checkOut(alice());

    // The server is killed, as by a power cut, once the deck's temporary file is there: after
    // the first chunk came and before the last.
    std::atomic<bool> finished{false}, killed{false};
    std::thread killer([&] {
        while (!finished && !killed) {
            std::error_code ignored;
            for (const auto& e : fs::directory_iterator(work, ignored)) {
                if (e.path().filename().string().rfind(".Deck.pptx.lf-", 0) == 0 && !killed) {
                    server().crash();
                    killed = true;
                }
            }
        }
    });
    const bool done = co->execute();
    finished = true;
    killer.join();
    ASSERT_TRUE(killed) << "the check-out ended before the server could be killed";
    EXPECT_FALSE(done);
    ASSERT_GE(co->errors()->count(), 1);
    EXPECT_EQ(co->errors()->item(0)->code(), code::NotConnected) << co->errors()->item(0)->getMessage();
    EXPECT_TRUE(fs::is_empty(work)) << "neither the deck nor its temporary file is left";

    server().restart();
    auto s = alice();
    const auto deck = s->objectByPath("/Edvara/Courses/Deck.pptx");
    ASSERT_TRUE(deck);
    EXPECT_FALSE(deck->isCheckedOut());
    auto retry = checkOut(s);
    ASSERT_TRUE(retry->execute()) << retry->errors()->item(0)->getMessage();
    EXPECT_EQ(lf::test::readFile(work / "Deck.pptx"), bytes);
    EXPECT_EQ(s->objectByPath("/Edvara/Courses/Deck.pptx")->lockOwner(), "alice");
}

namespace {

class TessarelRepositoryRulesTest : public OnEveryBackend<TessarelRepositoryTest> {};

} // namespace

TEST_P(TessarelRepositoryRulesTest, WhatAFolderMovedIntoAPrivateCabinetHoldsIsSeenByItsOwnerOnly) {
    auto a = alice();
    makeCabinet(a, "Alice Drafts", true);
    makeFolders(a, "/Edvara/Courses/Moving/Deeper");
    const std::string id =
        makeDocument(a, "/Edvara/Courses/Moving/Deeper", "Deck.pptx", "deck")->objectId()->text();
    auto b = bob();
    const std::string everything = "select object_name from ts_sysobject where folder('/Edvara',descend)";
    ASSERT_EQ(countRows(b, everything), 4);

    auto moving = a->folderByPath("/Edvara/Courses/Moving");
    moving->link("/Alice Drafts");
    moving->save();
    EXPECT_TRUE(a->objectByPath("/Alice Drafts/Moving/Deeper/Deck.pptx"));
    EXPECT_EQ(countRows(a, "select r_object_id from ts_sysobject where folder('/Alice Drafts',descend)"), 3);
    EXPECT_FALSE(b->objectByPath("/Alice Drafts/Moving/Deeper/Deck.pptx"));
    EXPECT_FALSE(b->folderByPath("/Alice Drafts/Moving/Deeper"));
    EXPECT_EQ(thrown([&] { b->objectById(id); }).code(), code::ObjectNotFound);
    EXPECT_EQ(countRows(b, "select object_name from ts_sysobject"), 2) << "Edvara and Courses";

    // And back out: everyone sees it again.
    moving->link("/Edvara");
    moving->save();
    EXPECT_TRUE(b->objectByPath("/Edvara/Moving/Deeper/Deck.pptx"));
    EXPECT_EQ(countRows(b, everything), 4);
}

TEST_P(TessarelRepositoryRulesTest,
       AnOlderSchemaOpensAsItIsAndUpgradesAndANewerOneIsRefusedNamingItsVersion) {
    auto deck = makeDocument(alice(), "/Edvara/Courses", "Deck.pptx", "deck 1.0");
    const fs::path database = repoDir() / "repository.db";
    if (!onServer()) {
        // A repository of the program before schemas had versions: the same tables, without the
        // version table.
        ASSERT_EQ(sqliteValue(database, "DROP TABLE schema_version"), "");
        EXPECT_EQ(openRepository(location())->storage().schemaVersion(), 1);
        auto a = alice();
        auto old = a->objectByPath("/Edvara/Courses/Deck.pptx");
        ASSERT_TRUE(old);
        EXPECT_EQ(lf::test::readFile(old->getFile(local("old.pptx").string())), "deck 1.0");
        checkInNewVersion(*client_, old, local("work"), "deck 1.1");
        EXPECT_EQ(old->versionLabel(), "1.1");
        EXPECT_EQ(sqliteValue(database, "SELECT count(*) FROM sqlite_master WHERE name = 'schema_version'"),
                  "0")
            << "opened and written to, and left as it was";

        const AdminRun up = runAdmin(args({"upgrade", location()}));
        EXPECT_EQ(up.exitCode, 0) << up.err;
        EXPECT_EQ(up.out, "Upgraded the repository's schema from version 1 to 3\n");
        EXPECT_EQ(objectVersions(a->objectByPath("/Edvara/Courses/Deck.pptx")).size(), 2u);
    }
    const AdminRun again = runAdmin(args({"upgrade", location()}));
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out, "The repository's schema is at version 3 already\n");
    EXPECT_EQ(openRepository(location())->storage().schemaVersion(), 3);
    EXPECT_TRUE(alice()->objectByPath("/Edvara/Courses/Deck.pptx"));

    // A newer program's repository.
    if (onServer())
        lf::test::sharedPostgres().exec("UPDATE tessarel.schema_version SET version = 99",
                                        this->database().name);
    else
        ASSERT_EQ(sqliteValue(database, "INSERT INTO schema_version(version) VALUES(99)"), "");
    const TsException refused = thrown([&] { openRepository(location()); });
    EXPECT_EQ(refused.code(), code::UnsupportedBackend);
    EXPECT_NE(
        refused.message().find("has schema version 99, made by a newer program; this one reads up to 3"),
        std::string::npos)
        << refused.message();
    EXPECT_EQ(thrown([&] { alice(); }).code(), code::UnsupportedBackend);
    for (const auto& command : {std::vector<std::string>{"upgrade", location()},
                                std::vector<std::string>{"ls", location(), "/Edvara", "--user", "alice"}}) {
        const AdminRun r = runAdmin(args(command));
        EXPECT_EQ(r.exitCode, 1) << command[0];
        EXPECT_EQ(r.err.rfind("[TS_UNSUPPORTED_BACKEND] ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("schema version 99"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << command[0];
    }
}

TEST_P(TessarelRepositoryRulesTest, ALockLeftByTheUsersOwnCheckOutOfTheSameFileIsTakenBackByTheirRetry) {
    makeDocument(admin_, "/Edvara/Courses", "Deck.pptx", "deck");
    // What a check-out whose commit reached the repository but whose answer never came back leaves:
    // the lock, and no file.
    const std::string target = fs::absolute(local("work") / "Deck.pptx").string();
    damageSql("UPDATE objects SET lock_owner = 'alice', lock_path = '" + target +
              "' WHERE name = 'Deck.pptx'");
    auto checkOut = [&](const TsSessionPtr& s, const std::string& folder) {
        auto co = client_->newCheckoutOperation();
        co->setDestinationDirectory(local(folder).string());
        co->add(s->objectByPath("/Edvara/Courses/Deck.pptx"));
        const bool ok = co->execute();
        return ok ? std::string("ok") : co->errors()->item(0)->getMessage();
    };
    EXPECT_EQ(checkOut(bob(), "work-bob"), "'Deck.pptx' is already checked out by alice");
    EXPECT_EQ(checkOut(alice(), "elsewhere"), "'Deck.pptx' is already checked out by alice");
    EXPECT_EQ(checkOut(alice(), "work"), "ok");
    EXPECT_EQ(lf::test::readFile(target), "deck");
    EXPECT_EQ(alice()->objectByPath("/Edvara/Courses/Deck.pptx")->lockOwner(), "alice");
}

INSTANTIATE_TEST_SUITE_P(Backends, TessarelRepositoryRulesTest, everyBackend(), backendName);

TEST_F(TessarelServerTest, ASchema2RepositoryIsRefusedToAuthorsUntilItsUpgradeRenamesItsContent) {
    // A repository as the program before made it (its schema kept in tests/tessarel/data), with a
    // document of two versions, in a database of its own.
    const auto db = lf::test::sharedPostgres().makeDatabase("ts_old");
    const std::string old = "postgresql:" + db.conninfo;
    std::string schema = lf::test::readFile(fs::path(LF_SOURCE_DIR) / "tests/tessarel/data/schema2.sql");
    auto put = [&](const std::string& from, const std::string& to) {
        for (size_t at = schema.find(from); at != std::string::npos; at = schema.find(from, at + to.size()))
            schema.replace(at, from.size(), to);
    };
    put("{AUTHORS}", db.name + "_authors");
    put("{ADMINS_NAME}", "'" + db.name + "_admins'");
    put("{ADMINS}", db.name + "_admins");
    put("{VERIFIED_BYTES}", std::to_string(512 << 20));
    SqlClient owner(db.conninfo);
    ASSERT_TRUE(owner.ok()) << owner.error();
    for (const std::string& sql : std::vector<std::string>{
             "CREATE ROLE " + db.name + "_authors NOLOGIN", "CREATE ROLE " + db.name + "_admins NOLOGIN",
             "GRANT " + db.name + "_admins TO CURRENT_USER", "BEGIN", schema,
             "INSERT INTO tessarel.schema_version VALUES(2)",
             "INSERT INTO tessarel.formats(name, extension) VALUES('ppt8', 'pptx')",
             "INSERT INTO tessarel.objects(id, type, name, owner_name, version_label, creation_date, "
             "modify_date, "
             "parent_path, cabinet_id) VALUES('0900000000000001', 'ts_cabinet', 'Old', 'tsadmin', '1.0', "
             "'2026-01-01T00:00:00Z', '2026-01-01T00:00:00Z', '', '0900000000000001')",
             "INSERT INTO tessarel.content SELECT encode(sha256(b), 'hex'), 8, 1 FROM (VALUES ('deck "
             "1.0'::bytea), "
             "('deck 1.1'::bytea)) v(b)",
             "INSERT INTO tessarel.content_chunks SELECT encode(sha256(b), 'hex'), 0, b FROM (VALUES "
             "('deck 1.0'::bytea), ('deck 1.1'::bytea)) v(b)",
             "INSERT INTO tessarel.objects(id, type, name, content_type, owner_name, version_label, "
             "creation_date, "
             "modify_date, folder_id, parent_path, cabinet_id, content_hash, content_size, modifier) VALUES("
             "'0900000000000002', 'ts_document', 'Deck.pptx', 'ppt8', 'alice', '1.1', "
             "'2026-01-01T00:00:00Z', "
             "'2026-01-02T00:00:00Z', '0900000000000001', '/Old', '0900000000000001', "
             "encode(sha256('deck 1.1'::bytea), 'hex'), 8, 'alice')",
             "INSERT INTO tessarel.versions(object_id, version_label, content_type, content_hash, "
             "content_size, "
             "modify_date, modifier) VALUES('0900000000000002', '1.0', 'ppt8', encode(sha256('deck "
             "1.0'::bytea), "
             "'hex'), 8, '2026-01-01T00:00:00Z', 'alice')",
             "COMMIT", "GRANT " + db.name + "_authors TO alice"})
        ASSERT_EQ(owner.state(sql), "ok") << sql << "\n" << owner.message();
    ASSERT_EQ(openRepository(old)->storage().schemaVersion(), 2) << "the administrator opens it";

    // Its authors could write past its rules: no author works in it before the upgrade.
    const TsException refused = thrown([&] { RepositoryStore::login(old, "alice", "alice-secret"); });
    EXPECT_EQ(refused.code(), code::UnsupportedBackend);
    EXPECT_NE(refused.message().find("has schema version 2, which lets authors write past its rules; an "
                                     "administrator brings it to version 3 with tessarel-admin upgrade"),
              std::string::npos)
        << refused.message();

    const AdminRun up = runAdmin(args({"upgrade", old}));
    EXPECT_EQ(up.exitCode, 0) << up.err;
    EXPECT_EQ(up.out, "Upgraded the repository's schema from version 2 to 3\n");
    const std::string v10 = store_->content().stage(makeFile("v10", "deck 1.0")).hash;
    const std::string v11 = store_->content().stage(makeFile("v11", "deck 1.1")).hash;
    auto super = [&](const std::string& sql) { return lf::test::sharedPostgres().exec(sql, db.name); };
    EXPECT_EQ(super("SELECT string_agg(hash, ' ' ORDER BY hash) FROM tessarel.content"),
              std::min(v10, v11) + " " + std::max(v10, v11));
    EXPECT_EQ(super("SELECT content_hash FROM tessarel.objects WHERE id = '0900000000000002'"), v11);
    EXPECT_EQ(super("SELECT content_hash FROM tessarel.versions"), v10);
    EXPECT_EQ(super("SELECT authors || ' ' || admins FROM tessarel.repository_roles"),
              db.name + "_authors " + db.name + "_admins");
    EXPECT_EQ(super("SELECT has_table_privilege('alice', 'tessarel.objects', 'UPDATE')"), "f");
    EXPECT_TRUE(fsck(*openRepository(old), true, false).clean());

    // Alice works in it now, through the server's functions.
    auto s = std::make_shared<TsSession>(RepositoryStore::login(old, "alice", "alice-secret"), "old", "alice",
                                         false);
    auto deck = s->objectByPath("/Old/Deck.pptx");
    ASSERT_TRUE(deck);
    EXPECT_EQ(lf::test::readFile(deck->getFile(local("old.pptx").string())), "deck 1.1");
    checkInNewVersion(*client_, deck, local("oldwork"), "deck 1.2");
    EXPECT_EQ(deck->versionLabel(), "1.2");
    const auto versions = objectVersions(deck);
    ASSERT_EQ(versions.size(), 3u);
    EXPECT_EQ(versions[0].hash, v10);
    EXPECT_EQ(super("SELECT who || ' ' || action FROM tessarel.audit ORDER BY seq DESC LIMIT 1"),
              "alice check-in");
}

TEST_F(TessarelServerTest, AFolderRenamedWhileAnotherAuthorMakesSomethingInItTakesTheNewRowAlong) {
    auto a = alice();
    auto unit = makeFolders(a, "/Edvara/Courses/Unit");
    const std::string parent = sqlText(unit->objectId()->text());
    SqlClient sql = connect("bob", "bob-secret");
    ASSERT_TRUE(sql.ok()) << sql.error();
    // Bob's transaction makes a folder in Unit and stays open a moment.
    ASSERT_EQ(sql.state("BEGIN"), "ok");
    ASSERT_EQ(sql.state("SELECT tessarel.ts_make_object('09ffffffffffff10', 'ts_folder', 'Inside', " +
                        parent + ", false, '', '', 'bob')"),
              "ok")
        << sql.message();
    std::thread commitLater([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        sql.state("COMMIT");
    });
    // Alice's rename of the folder above waits for it, then moves the new row's path too.
    auto courses = a->folderByPath("/Edvara/Courses");
    courses->setObjectName("Lessons");
    courses->save();
    commitLater.join();
    EXPECT_EQ(superuser("SELECT parent_path FROM tessarel.objects WHERE id = '09ffffffffffff10'"),
              "/Edvara/Lessons/Unit");
    EXPECT_TRUE(a->folderByPath("/Edvara/Lessons/Unit/Inside"));
    EXPECT_TRUE(fsck(*store_, false, false).brokenLinks.empty());
}
