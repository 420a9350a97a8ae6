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

// Checks the document out into work and checks it in with these bytes, as its session's user.
void checkInNewVersion(TsClient& client, const TsObjectPtr& doc, const fs::path& work,
                       const std::string& bytes) {
    auto co = client.newCheckoutOperation();
    co->setDestinationDirectory(work.string());
    co->add(doc);
    ASSERT_TRUE(co->execute());
    lf::test::writeFile(co->nodes()[0]->localPath(), bytes);
    auto ci = client.newCheckinOperation();
    ci->add(doc);
    ASSERT_TRUE(ci->execute());
}

std::string sqlText(const std::string& s) {
    return "'" + s + "'";
}

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
            "FROM tessarel.content_chunks ch))");
    }
    void newVersion(const TsObjectPtr& doc, const std::string& bytes) {
        checkInNewVersion(*client_, doc, local("work-" + doc->session().userName()), bytes);
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
    const std::string hashes = "(" + sqlText(sha256OfFile(makeFile("v1", "alice's first draft"))) + ", " +
                               sqlText(sha256OfFile(makeFile("v2", "alice's second draft"))) + ")";
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

TEST_F(TessarelServerTest, BobsOwnSqlChangesNothingHeMayNotAndAnAdministratorClearsHisLock) {
    auto a = alice();
    makeCabinet(a, "Alice Drafts", true);
    makeFolders(a, "/Alice Drafts/Notes");
    auto draft = makeDocument(a, "/Alice Drafts/Notes", "Draft.docx", "alice's draft");
    auto shared = makeDocument(a, "/Edvara/Courses", "Shared.pptx", "shared deck 1.0");
    newVersion(shared, "shared deck 1.1");
    auto co = client_->newCheckoutOperation();
    co->setDestinationDirectory(local("alicework").string());
    co->add(shared);
    ASSERT_TRUE(co->execute());
    auto b = bob();
    auto bobs = makeDocument(b, "/Edvara/Courses", "Bobs.pptx", "bob's deck");
    auto bco = client_->newCheckoutOperation();
    bco->setDestinationDirectory(local("bobwork").string());
    bco->add(bobs);
    ASSERT_TRUE(bco->execute());

    const std::string sharedId = sqlText(shared->objectId()->text());
    const std::string bobsHash = sqlText(bobs->record().contentHash);
    const std::string before = everything();
    SqlClient sql = connect("bob", "bob-secret");
    ASSERT_TRUE(sql.ok()) << sql.error();
    struct Attempt {
        std::string sql;
        std::string state;
    };
    const std::vector<Attempt> refused = {
        // Alice's check-out: its lock, its content, where her check-in reads from, its history.
        {"UPDATE tessarel.objects SET lock_owner = '', lock_path = '' WHERE id = " + sharedId, "42501"},
        {"UPDATE tessarel.objects SET lock_owner = 'bob' WHERE id = " + sharedId, "42501"},
        {"UPDATE tessarel.objects SET content_hash = " + bobsHash + " WHERE id = " + sharedId, "42501"},
        {"UPDATE tessarel.objects SET version_label = '9.9' WHERE id = " + sharedId, "42501"},
        {"UPDATE tessarel.objects SET lock_path = '/home/alice/.ssh/id_rsa' WHERE id = " + sharedId, "42501"},
        // Its name and its folder, which the library keeps while someone else holds it.
        {"UPDATE tessarel.objects SET name = 'Gone.pptx' WHERE id = " + sharedId, "42501"},
        {"UPDATE tessarel.objects SET folder_id = cabinet_id WHERE id = " + sharedId, "42501"},
        // The rows of a cabinet are rewritten by its own change only.
        {"SELECT tessarel.ts_cabinet_follow(cabinet_id) FROM tessarel.objects WHERE id = " + sharedId,
         "42501"},
        {"INSERT INTO tessarel.versions(object_id, version_label, content_type, content_hash, content_size, "
         "modify_date, modifier) SELECT id, version_label, content_type, content_hash, content_size, "
         "modify_date, modifier FROM tessarel.objects WHERE id = " +
             sharedId,
         "23514"},
        // History as it was: a version records its own maker.
        {"INSERT INTO tessarel.versions(object_id, version_label, content_type, content_hash, content_size, "
         "modify_date, modifier) SELECT id, version_label, content_type, content_hash, content_size, "
         "modify_date, 'alice' FROM tessarel.objects WHERE id = " +
             sqlText(bobs->objectId()->text()),
         "42501"},
        // Owners, and what no author changes at all.
        {"UPDATE tessarel.objects SET owner_name = 'bob' WHERE id = " + sharedId, "42501"},
        {"UPDATE tessarel.objects SET owner_name = 'bob' WHERE name = 'Edvara'", "42501"},
        {"UPDATE tessarel.versions SET modifier = 'bob'", "42501"},
        {"DELETE FROM tessarel.versions", "42501"},
        {"DELETE FROM tessarel.objects WHERE id = " + sharedId, "42501"},
        {"TRUNCATE tessarel.versions", "42501"},
        {"TRUNCATE tessarel.objects CASCADE", "42501"},
        {"TRUNCATE tessarel.content_chunks", "42501"},
        {"UPDATE tessarel.schema_version SET version = 1", "42501"},
        {"CREATE TABLE tessarel.mine(x integer)", "42501"},
        // Content: no chunk added to what is stored, nothing put into Alice's private cabinet.
        {"INSERT INTO tessarel.content_chunks(hash, n, data) VALUES(" + bobsHash + ", 1, 'x')", "42501"},
        {"INSERT INTO tessarel.objects(id, type, name, owner_name, version_label, creation_date, "
         "modify_date, "
         "folder_id, parent_path, cabinet_id) SELECT '09ffffffffffffff', 'ts_document', 'Planted', 'bob', "
         "'1.0', '', '', " +
             sqlText(draft->getString("i_folder_id")) + ", '/Alice Drafts/Notes', " +
             sqlText(draft->getString("i_cabinet_id")),
         "42501"},
    };
    for (const auto& attempt : refused) {
        const std::string state = sql.state("BEGIN; " + attempt.sql + "; COMMIT");
        EXPECT_EQ(state, attempt.state) << attempt.sql << "\n" << sql.message();
        sql.rollback();
    }
    // Alice's private draft is not there to change.
    EXPECT_EQ(sql.state("UPDATE tessarel.objects SET name = 'Mine' WHERE id = " +
                        sqlText(draft->objectId()->text())),
              "ok");
    EXPECT_EQ(sql.changed(), 0);
    // Content whose bytes are not the ones its hash names: every statement goes through, the
    // commit fails.
    EXPECT_EQ(sql.state("BEGIN"), "ok");
    EXPECT_EQ(sql.state("INSERT INTO tessarel.content(hash, size, chunks) VALUES("
                        "encode(sha256(convert_to('genuine', 'UTF8')), 'hex'), 7, 1)"),
              "ok");
    EXPECT_EQ(
        sql.state("INSERT INTO tessarel.content_chunks(hash, n, data) VALUES("
                  "encode(sha256(convert_to('genuine', 'UTF8')), 'hex'), 0, convert_to('forgery', 'UTF8'))"),
        "ok")
        << sql.message();
    EXPECT_EQ(sql.state("COMMIT"), "23514");
    EXPECT_NE(sql.message().find("holds other bytes"), std::string::npos) << sql.message();
    EXPECT_EQ(everything(), before) << "nothing Bob tried changed anything";

    // Alice's check-in goes through as it would have.
    lf::test::writeFile(local("alicework/Shared.pptx"), "shared deck 1.2");
    auto ci = client_->newCheckinOperation();
    ci->add(shared);
    ASSERT_TRUE(ci->execute()) << ci->errors()->item(0)->getMessage();
    EXPECT_EQ(shared->versionLabel(), "1.2");
    EXPECT_EQ(lf::test::readFile(shared->getFile(local("check.pptx").string())), "shared deck 1.2");

    // An administrator, a member of the repository's administrators, clears Bob's lock.
    addUser(*store_, "carol", "carol-secret");
    superuser("GRANT " + database().name + "_admins TO carol");
    SqlClient admin = connect("carol", "carol-secret");
    EXPECT_EQ(admin.state("UPDATE tessarel.objects SET lock_owner = '', lock_path = '' WHERE id = " +
                          sqlText(bobs->objectId()->text())),
              "ok")
        << admin.message();
    EXPECT_EQ(admin.changed(), 1);
    bobs->refresh();
    EXPECT_FALSE(bobs->isCheckedOut());
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
    ASSERT_EQ(stalled.state("BEGIN; UPDATE tessarel.objects SET lock_owner = 'alice', lock_path = '/stalled' "
                            "WHERE name = 'Deck.pptx'"),
              "ok")
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
        EXPECT_EQ(up.out, "Upgraded the repository's schema from version 1 to 2\n");
        EXPECT_EQ(objectVersions(a->objectByPath("/Edvara/Courses/Deck.pptx")).size(), 2u);
    }
    const AdminRun again = runAdmin(args({"upgrade", location()}));
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out, "The repository's schema is at version 2 already\n");
    EXPECT_EQ(openRepository(location())->storage().schemaVersion(), 2);
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
        refused.message().find("has schema version 99, made by a newer program; this one reads up to 2"),
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
