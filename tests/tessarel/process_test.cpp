// Two processes racing for one lock, a process killed in the middle of an import, and the
// administration tool as a user runs it, on the embedded repository and on the server.
#include "admin_tool.h"
#include "fixture.h"

#include "platform/profile.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace lf::tessarel;
using namespace lf::tessarel::test;

namespace {

std::string zipEntry(const std::string& zipPath, const std::string& entry) {
    int err = 0;
    zip_t* z = zip_open(zipPath.c_str(), ZIP_RDONLY, &err);
    if (!z)
        return "";
    std::string out;
    if (zip_file_t* f = zip_fopen(z, entry.c_str(), 0)) {
        char buf[4096];
        zip_int64_t n;
        while ((n = zip_fread(f, buf, sizeof buf)) > 0)
            out.append(buf, static_cast<size_t>(n));
        zip_fclose(f);
    }
    zip_close(z);
    return out;
}

// On the server, a client killed in a transaction leaves it open until the server notices the
// closed connection; waits (at most 20 s) until no transaction is open on the database.
bool serverTransactionsEnded(const std::string& database) {
    const QDeadlineTimer deadline(20000);
    while (
        lf::test::sharedPostgres().exec("SELECT count(*) FROM pg_stat_activity WHERE datname = '" + database +
                                        "' AND pid <> pg_backend_pid() AND xact_start IS NOT NULL") != "0") {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

// The owner's connection string without its password, as a user gives it to init --server: libpq
// takes the password from the password file PGPASSFILE names (as it would from ~/.pgpass), for as
// long as this lives.
class PasswordFileLogin {
public:
    PasswordFileLogin(const lf::test::PrivatePostgres& server, const lf::test::PrivatePostgres::Database& db,
                      const fs::path& folder)
        : conninfo(server.conninfo(db.name, db.owner, "")) {
        const fs::path file = folder / "pgpass";
        lf::test::writeFile(file, "*:*:" + db.name + ":" + db.owner + ":" + db.password + "\n");
        fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
        ::setenv("PGPASSFILE", file.c_str(), 1);
    }
    ~PasswordFileLogin() { ::unsetenv("PGPASSFILE"); }
    PasswordFileLogin(const PasswordFileLogin&) = delete;
    PasswordFileLogin& operator=(const PasswordFileLogin&) = delete;

    const std::string conninfo;
};

class TessarelProcessTest : public OnEveryBackend<TessarelRepositoryTest> {};
// The tool's own files and arguments: the same whatever the repository.
class TessarelToolTest : public TessarelRepositoryTest {};

} // namespace

TEST_P(TessarelProcessTest, OfTwoProcessesRacingForALockExactlyOneWins) {
    makeDocument(admin_, "/Edvara/Courses", "01_Race.pptx", "contested deck");
    const std::string repo = location();
    // Each logs in with its password: on the server, as the user's own role.
    const std::map<std::string, std::string> passwords = {{"alice", makeFile("alice.pw", "alice-secret\n")},
                                                          {"bob", makeFile("bob.pw", "bob-secret\n")}};
    for (int round = 0; round < 4; ++round) {
        // Same user in even rounds, two users in odd ones: the lock is one statement either way.
        const std::string second = round % 2 ? "bob" : "alice";
        QProcess a, b;
        const auto dirA = local("a" + std::to_string(round)).string();
        const auto dirB = local("b" + std::to_string(round)).string();
        a.start(TESSAREL_ADMIN, args({"checkout", repo, "/Edvara/Courses/01_Race.pptx", dirA, "--user",
                                      "alice", "--password-file", passwords.at("alice")}));
        b.start(TESSAREL_ADMIN, args({"checkout", repo, "/Edvara/Courses/01_Race.pptx", dirB, "--user",
                                      second, "--password-file", passwords.at(second)}));
        ASSERT_TRUE(a.waitForFinished(60000));
        ASSERT_TRUE(b.waitForFinished(60000));
        const int wins = (a.exitCode() == 0) + (b.exitCode() == 0);
        ASSERT_EQ(wins, 1) << "round " << round;
        QProcess& loser = a.exitCode() == 0 ? b : a;
        const std::string winner = a.exitCode() == 0 ? "alice" : second;
        EXPECT_NE(loser.readAllStandardError().toStdString().find(
                      "[TS_LOCK_CONFLICT] '01_Race.pptx' is already checked out by " + winner),
                  std::string::npos);
        const std::string loserDir = a.exitCode() == 0 ? dirB : dirA;
        EXPECT_FALSE(fs::exists(loserDir + "/01_Race.pptx")) << "the loser writes nothing";
        auto deck = admin_->objectByPath("/Edvara/Courses/01_Race.pptx");
        ASSERT_TRUE(deck->isCheckedOut());
        EXPECT_EQ(deck->lockOwner(), winner);
        deck->cancelCheckout();
    }
}

TEST_P(TessarelProcessTest, AKilledImportLeavesTheOldStateOrTheNew) {
    // Large enough that the import is still transferring when the kill arrives.
    const int files = 160;
    std::mt19937_64 rng(7);
    for (int i = 0; i < files; ++i) {
        std::string bytes(256 * 1024, '\0');
        for (size_t k = 0; k + 8 <= bytes.size(); k += 8) {
            const auto v = rng();
            std::memcpy(&bytes[k], &v, 8);
        }
        makeFile("course/" + std::to_string(1000 + i) + "_Deck.pptx", bytes);
    }
    const std::string repo = location();
    // Killed after the first transfer, half way, after the last transfer (while content is
    // named and metadata commits), and not at all.
    int oldStates = 0;
    bool committed = false;
    int killedInTransaction = 0;
    for (int killAt : {1, files / 2, files, -1}) {
        const std::string target = "/Edvara/Crash" + std::to_string(killAt);
        QProcess p;
        p.start(TESSAREL_ADMIN, args({"import", repo, local("course").string(), target, "--verbose"}));
        ASSERT_TRUE(p.waitForStarted(10000));
        int lines = 0;
        while (killAt >= 0 && lines < killAt && p.state() != QProcess::NotRunning) {
            if (!p.canReadLine() && !p.waitForReadyRead(20000))
                break;
            while (p.canReadLine()) {
                if (p.readLine().startsWith("progress"))
                    ++lines;
            }
        }
        // On the server the content travels inside the transaction, after every file was read:
        // the last kill waits until the import's transaction has begun to write.
        bool inTransaction = false;
        if (onServer() && killAt == files) {
            const QDeadlineTimer deadline(20000);
            while (!inTransaction && p.state() != QProcess::NotRunning && !deadline.hasExpired()) {
                inTransaction = lf::test::sharedPostgres().exec(
                                    "SELECT count(*) FROM pg_stat_activity WHERE backend_xid IS NOT NULL AND "
                                    "application_name = 'tessarel' AND datname = '" +
                                    database().name + "'") == "1";
                if (!inTransaction)
                    QThread::msleep(5);
            }
        }
        if (killAt >= 0)
            p.kill();
        ASSERT_TRUE(p.waitForFinished(60000));
        if (onServer()) {
            ASSERT_TRUE(serverTransactionsEnded(database().name)) << "killed at " << killAt;
        }

        auto store = openRepository(location());
        auto s = openAdminSession(store, "ts_notes", "tsadmin");
        int count = 0;
        if (s->folderByPath(target))
            count = countRows(s, "select r_object_id from ts_document where folder('" + target + "')");
        EXPECT_TRUE(count == 0 || count == files)
            << "killed at " << killAt << " with " << count << " objects";
        oldStates += count == 0;
        killedInTransaction += inTransaction && count == 0;
        committed = committed || count == files;
        if (killAt < 0) {
            EXPECT_EQ(count, files);
        }
        if (onServer()) {
            // Content travels inside the import's transaction: a killed one leaves no content
            // row and no chunk, and what is stored is what the documents point to.
            const auto& db = database().name;
            const std::string expected = committed ? std::to_string(files) : "0";
            EXPECT_EQ(lf::test::sharedPostgres().exec("SELECT count(*) FROM tessarel.content", db), expected)
                << "killed at " << killAt;
            EXPECT_EQ(lf::test::sharedPostgres().exec("SELECT count(*) FROM tessarel.content_chunks", db),
                      expected)
                << "killed at " << killAt;
            EXPECT_EQ(lf::test::sharedPostgres().exec(
                          "SELECT count(*) FROM tessarel.content c WHERE NOT EXISTS (SELECT 1 FROM "
                          "tessarel.objects o WHERE o.content_hash = c.hash)",
                          db),
                      "0")
                << "killed at " << killAt;
            EXPECT_TRUE(fsck(*store, false, false).orphanContent.empty()) << "killed at " << killAt;
        }
        const auto report = fsck(*store, true, false);
        EXPECT_TRUE(report.missingContent.empty()) << "killed at " << killAt;
        EXPECT_TRUE(report.corruptContent.empty()) << "killed at " << killAt;
        if (count == files) {
            auto doc = s->objectByPath(target + "/1007_Deck.pptx");
            ASSERT_TRUE(doc);
            doc->getFile(local("check.pptx").string());
            EXPECT_EQ(lf::test::readFile(local("check.pptx")),
                      lf::test::readFile(local("course/1007_Deck.pptx")));
        }
    }
    EXPECT_GE(oldStates, 1) << "no kill landed before the commit";
    if (onServer()) {
        EXPECT_EQ(killedInTransaction, 1) << "the kill did not land while the content was sent";
    }
    // What the killed runs left behind is removable, and the repository goes on working.
    auto store = openRepository(location());
    fsck(*store, false, true);
    EXPECT_TRUE(fsck(*store, true, false).clean());
    const AdminRun again = runAdmin(args({"import", repo, local("course").string(), "/Edvara/After"}));
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(runAdmin(args({"fsck", repo})).out, "clean\n");
}

TEST_P(TessarelProcessTest, PasswordsNeverComeFromTheCommandLine) {
    const std::string repo = location();
    const AdminRun refused = runAdmin(args({"user", "add", repo, "carol", "--password", "topsecret"}));
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("never taken from the command line"), std::string::npos);

    const std::string pwFile = makeFile("pw.txt", "carol's secret\n");
    EXPECT_EQ(runAdmin(args({"user", "add", repo, "carol", "--password-file", pwFile})).exitCode, 0);
    EXPECT_TRUE(login("carol", "carol's secret"));
    // From standard input when there is no file (no terminal here, so no echo to switch off).
    EXPECT_EQ(runAdmin(args({"user", "passwd", repo, "carol"}), "changed\n").exitCode, 0);
    EXPECT_TRUE(login("carol", "changed"));
    EXPECT_EQ(thrown([&] { login("carol", "carol's secret"); }).code(), code::LoginRefused);
    const AdminRun list = runAdmin(args({"user", "list", repo}));
    // On the server the database's owner, the administrator, logs in as a user too.
    EXPECT_EQ(list.out, onServer() ? "alice\nbob\ncarol\n" + database().owner + "\n" : "alice\nbob\ncarol\n");
    EXPECT_EQ(runAdmin(args({"user", "add", repo, "carol", "--password-file", pwFile})).exitCode, 1);
}

TEST_F(TessarelToolTest, MistypedMisplacedAndSurplusOptionsAreRefusedWithTheUsageAndDoNothing) {
    const std::string repo = location();
    const std::string pwFile = makeFile("pw.txt", "carol's secret\n");
    makeFile("course/01_Intro.pptx", "intro");
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{"user", "add", repo, "carol", "--pasword-file", pwFile}, "unknown option --pasword-file"},
        {{"user", "add", repo, "carol", "-p", pwFile}, "unknown option -p"},
        {{"user", "add", repo, "carol", "--user", "alice", "--password-file", pwFile},
         "user add does not take --user"},
        {{"mkdir", repo, "/Edvara/New", "--private"}, "mkdir does not take --private"},
        {{"mkdir", repo, "/Edvara/New", "/Edvara/Other"}, "too many arguments for mkdir: /Edvara/Other"},
        {{"mkcabinet", repo, "Notes", "--private", "--private"}, "--private is given twice"},
        {{"mkcabinet", repo, "Notes", "--user"}, "--user needs a value"},
        {{"import", repo, local("course").string(), "/Edvara/New", "--repair"},
         "import does not take --repair"},
        {{"fsck", repo, "--verbose"}, "fsck does not take --verbose"},
        {{"fsck", repo, "--user", "alice"}, "fsck does not take --user"},
        {{"user", "list", repo, "--password-file", pwFile}, "user list does not take --password-file"},
    };
    for (const auto& c : cases) {
        const AdminRun r = runAdmin(args(c.args));
        EXPECT_EQ(r.exitCode, 2) << c.says;
        EXPECT_EQ(r.err.rfind("tessarel-admin: " + c.says + "\n", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("usage: tessarel-admin COMMAND"), std::string::npos) << c.says;
        EXPECT_EQ(r.out, "") << c.says;
    }
    EXPECT_EQ(listUsers(*store_), (std::vector<std::string>{"alice", "bob"}));
    EXPECT_FALSE(admin_->folderByPath("/Edvara/New"));
    EXPECT_FALSE(admin_->folderByPath("/Notes"));
    // "--" ends the options, for a local folder whose name starts with a dash.
    makeFile("-course/02_Next.pptx", "next");
    const AdminRun dashed = runAdmin(
        args({"import", repo, "--user", "alice", "--", local("-course").string(), "/Edvara/Dashed"}));
    EXPECT_EQ(dashed.exitCode, 0) << dashed.err;
    EXPECT_TRUE(admin_->objectByPath("/Edvara/Dashed/02_Next.pptx"));
}

TEST_P(TessarelProcessTest, APasswordFileIsCheckedAgainstTheActingUserBeforeAnythingIsDone) {
    const std::string repo = location();
    const std::string right = makeFile("right.txt", "alice-secret\n");
    const std::string wrong = makeFile("wrong.txt", "bob-secret\n");
    makeFile("course/01_Intro.pptx", "intro");

    AdminRun r =
        runAdmin(args({"mkdir", repo, "/Edvara/Wrong", "--user", "alice", "--password-file", wrong}));
    EXPECT_EQ(r.exitCode, 1);
    // The server says why it refused the login after that.
    const std::string refusal = "[TS_LOGIN_REFUSED] The password in the password file " + wrong +
                                " is not the password of the user 'alice'";
    if (onServer())
        EXPECT_EQ(r.err.rfind(refusal + ": The repository server refused the login: ", 0), 0u) << r.err;
    else
        EXPECT_EQ(r.err, refusal + "\n");
    r = runAdmin(args({"import", repo, local("course").string(), "/Edvara/Wrong", "--user", "alice",
                       "--password-file", wrong}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    r = runAdmin(args({"mkdir", repo, "/Edvara/Wrong", "--password-file", right}));
    EXPECT_EQ(r.exitCode, 1) << "the default user tsadmin has no password to match";
    // The server does not tell a user without a role from a wrong password.
    EXPECT_NE(
        r.err.find(onServer() ? "is not the password of the user 'tsadmin'" : "There is no user 'tsadmin'"),
        std::string::npos)
        << r.err;
    EXPECT_FALSE(admin_->folderByPath("/Edvara/Wrong"));
    EXPECT_EQ(countRows(admin_, "select r_object_id from ts_document"), 0);

    r = runAdmin(args({"import", repo, local("course").string(), "/Edvara/Right", "--user", "alice",
                       "--password-file", right}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    auto deck = admin_->objectByPath("/Edvara/Right/01_Intro.pptx");
    ASSERT_TRUE(deck);
    EXPECT_EQ(deck->getString("owner_name"), "alice");

    // user passwd takes the file as the new password, not as a check of the old one.
    r = runAdmin(args({"user", "passwd", repo, "alice", "--password-file", wrong}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(login("alice", "bob-secret"));
    EXPECT_EQ(runAdmin(args({"ls", repo, "/Edvara", "--user", "alice", "--password-file", right})).exitCode,
              1);
}

TEST_P(TessarelProcessTest, ImportSkipsSymbolicLinksAndCommitsNothingWhenAnyFileFails) {
    const std::string repo = location();
    makeFile("course/01_Intro.pptx", "intro");
    makeFile("course/sub/02_Storage.pptx", "storage");
    const std::string secret = makeFile("outside/host.txt", "this host's own file");
    fs::create_directory_symlink(".", local("course/again"));   // a loop
    fs::create_directory_symlink("..", local("course/sub/up")); // another, one level down
    fs::create_symlink(secret, local("course/hostname.txt"));   // a file outside the tree
    fs::create_directory_symlink(local("outside"), local("course/sub/elsewhere"));

    AdminRun r = runAdmin(args({"import", repo, local("course").string(), "/Edvara/Courses/Linked"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Imported 2 documents\n");
    for (const char* link : {"course/again", "course/hostname.txt", "course/sub/elsewhere", "course/sub/up"})
        EXPECT_NE(r.err.find("skipped " + local(link).string() + ": a symbolic link"), std::string::npos)
            << link << "\n"
            << r.err;
    EXPECT_EQ(
        countRows(admin_,
                  "select r_object_id from ts_sysobject where folder('/Edvara/Courses/Linked',descend)"),
        3)
        << "the two decks and sub, nothing behind a link";
    r = runAdmin(args({"export", repo, "/Edvara/Courses/Linked", local("out").string()}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::set<std::string> exported;
    for (const auto& e : fs::recursive_directory_iterator(local("out")))
        exported.insert(fs::relative(e.path(), local("out")).string());
    EXPECT_EQ(exported, (std::set<std::string>{"01_Intro.pptx", "sub", "sub/02_Storage.pptx"}));

    // One file that cannot be imported (its name breaks the name rule) and nothing is: no
    // document, no folder, no content left behind.
    makeFile("failing/01_Good.pptx", "good");
    makeFile("failing/deep/02_Good.pptx", "good too");
    makeFile("failing/deep/tab\there.pptx", "bad name");
    r = runAdmin(args({"import", repo, local("failing").string(), "/Edvara/Courses/New/Failing"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "Imported nothing\n");
    EXPECT_NE(r.err.find("error: [TS_BAD_NAME] The name 'tab\\x09here.pptx' holds a control character"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("error: [TS_CANCELLED] Nothing was imported: 1 of 3 files could not be"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(admin_->folderByPath("/Edvara/Courses/New"));
    EXPECT_EQ(countRows(admin_, "select r_object_id from ts_sysobject"), 6)
        << "what the first import made, only";
    EXPECT_TRUE(fsck(*store_, true, false).clean());

    // A link that takes a file's place after the walk is refused by the import itself.
    auto op = client_->newImportOperation();
    op->setSession(admin_);
    op->setDestinationFolder(admin_->folderByPath("/Edvara/Courses")->objectId());
    op->add(std::make_shared<TsFileObject>(local("course/hostname.txt").string()));
    EXPECT_FALSE(op->execute());
    ASSERT_GE(op->errors()->count(), 1);
    EXPECT_EQ(op->errors()->item(0)->getMessage(),
              local("course/hostname.txt").string() + " is a symbolic link; an import never follows links");
    EXPECT_FALSE(admin_->objectByPath("/Edvara/Courses/hostname.txt"));
}

TEST_P(TessarelProcessTest, AdminCommandsEndToEnd) {
    const std::string repo = location();
    makeFile("course/01_Intro.pptx", "intro");
    makeFile("course/sub/02_Storage.pptx", "storage");
    EXPECT_EQ(runAdmin(args({"mkcabinet", repo, "Private Notes", "--private", "--user", "alice"})).exitCode,
              0);
    EXPECT_EQ(runAdmin(args({"mkdir", repo, "/Edvara/Courses/Storage/Deep"})).exitCode, 0);
    AdminRun r = runAdmin(args({"import", repo, local("course").string(), "/Edvara/Courses/Storage"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Imported 2 documents\n");
    r = runAdmin(args({"ls", repo, "/Edvara/Courses/Storage"}));
    EXPECT_NE(r.out.find("01_Intro.pptx"), std::string::npos);
    EXPECT_NE(r.out.find("sub/"), std::string::npos);
    r = runAdmin(args({"query", repo,
                       "select object_name, r_folder_path from ts_document where "
                       "folder('/Edvara/Courses/Storage',descend) and a_content_type = 'ppt8'"}));
    EXPECT_EQ(r.out, "object_name\tr_folder_path\n01_Intro.pptx\t/Edvara/Courses/Storage\n"
                     "02_Storage.pptx\t/Edvara/Courses/Storage/sub\n");
    r = runAdmin(args({"query", repo, "select object_name form ts_document"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "[TS_QUERY_SYNTAX] Expected 'from' but found 'form' at position 20\n");

    r = runAdmin(args({"export", repo, "/Edvara/Courses/Storage", local("out").string()}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(lf::test::readFile(local("out/sub/02_Storage.pptx")), "storage");

    r = runAdmin(args(
        {"checkout", repo, "/Edvara/Courses/Storage/01_Intro.pptx", local("co").string(), "--user", "bob"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    lf::test::writeFile(local("co/01_Intro.pptx"), "intro, second version");
    r = runAdmin(args({"checkin", repo, "/Edvara/Courses/Storage/01_Intro.pptx", "--user", "alice"}));
    EXPECT_EQ(r.exitCode, 1) << "only the lock owner checks in";
    r = runAdmin(args({"checkin", repo, "/Edvara/Courses/Storage/01_Intro.pptx", "--user", "bob"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "/Edvara/Courses/Storage/01_Intro.pptx is now version 1.1\n");
    r = runAdmin(args({"versions", repo, "/Edvara/Courses/Storage/01_Intro.pptx"}));
    EXPECT_EQ(r.out.rfind("1.0 ", 0), 0u);
    EXPECT_NE(r.out.find("\n1.1 "), std::string::npos);
    EXPECT_NE(r.out.find("bob"), std::string::npos);
    EXPECT_NE(r.out.find("(current)"), std::string::npos);
    EXPECT_EQ(runAdmin(args({"fsck", repo, "--verify"})).out, "clean\n");
    // The server's audit trail of that document; the embedded repository keeps none.
    r = runAdmin(args({"log", repo, "/Edvara/Courses/Storage/01_Intro.pptx"}));
    if (onServer()) {
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(
            r.out.find("\tcheck-in\t/Edvara/Courses/Storage/01_Intro.pptx\tversion 1.1 (acting as bob)\n"),
            std::string::npos)
            << r.out;
    } else {
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "[TS_UNSUPPORTED_BACKEND] The embedded repository keeps no audit trail; a server "
                         "repository does\n");
    }

    auto cabinets =
        column(alice(), "select object_name from ts_cabinet where is_private = true", "object_name");
    EXPECT_EQ(cabinets, std::vector<std::string>{"Private Notes"});
    EXPECT_TRUE(
        column(bob(), "select object_name from ts_cabinet where is_private = true", "object_name").empty());
    EXPECT_EQ(runAdmin(args({"frobnicate", repo})).exitCode, 2);
}

TEST_P(TessarelProcessTest, DemoMakesAReadyToTryRepository) {
    // On the server, in a database of its own, listed in tessarel.ini by the tool.
    QStringList demo = args({"demo", local("demo").string()});
    std::string listedAs = "sqlite:" + local("demo").string();
    std::unique_ptr<PasswordFileLogin> owner;
    if (onServer()) {
        lf::test::sharedPostgres().exec("DROP ROLE IF EXISTS demo");
        const auto db = lf::test::sharedPostgres().makeDatabase("demo");
        owner = std::make_unique<PasswordFileLogin>(server(), db, tmp_.path());
        demo = args({"demo", "demo", "--server", owner->conninfo});
        listedAs = "postgresql:" + owner->conninfo;
    }
    const AdminRun r = runAdmin(demo);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto userAt = r.out.find("User name: ");
    const auto pwAt = r.out.find("Password: ");
    ASSERT_NE(userAt, std::string::npos);
    ASSERT_NE(pwAt, std::string::npos);
    const std::string user = r.out.substr(userAt + 11, r.out.find('\n', userAt) - userAt - 11);
    const std::string password = r.out.substr(pwAt + 10, r.out.find('\n', pwAt) - pwAt - 10);
    EXPECT_EQ(runAdmin(demo).exitCode, 1) << "an existing repository is never overwritten";

    // Log in with what it printed, through the ini file, as the program does.
    const QString ini = lf::platform::profileFilePath("tessarel.ini");
    if (onServer())
        EXPECT_EQ(lf::platform::GetPrivateProfileString("Repositories", "demo", "", ini).toStdString(),
                  listedAs);
    else
        lf::platform::WritePrivateProfileString("Repositories", "demo", QString::fromStdString(listedAs),
                                                ini);
    auto manager = client_->localClient()->newSessionManager();
    auto info = client_->newLoginInfo();
    info->setUser(user);
    info->setPassword(password);
    manager->setIdentity("demo", info);
    auto s = manager->getSession("demo");
    auto folder = s->folderByPath("/Edvara/Courses/Sample");
    ASSERT_TRUE(folder);
    auto decks = column(s,
                        "select object_name from ts_document where folder(ID('" + folder->objectId()->text() +
                            "'),descend) and (a_content_type = 'ppt8')",
                        "object_name");
    EXPECT_EQ(decks, (std::vector<std::string>{"01_Introduction.pptx", "02_Storage.pptx", "03_Backup.pptx",
                                               "03a_Labs.pptx"}));
    EXPECT_GE(countRows(s, "select r_object_id from ts_document where folder('/Edvara/Courses/Sample') and "
                           "a_content_type = 'msw8'"),
              1);
    EXPECT_TRUE(s->objectByPath("/Edvara/Templates/TOC.docx"));

    // The decks carry title rectangles near the top with bold text and tagged index words.
    auto deck = s->objectByPath("/Edvara/Courses/Sample/02_Storage.pptx");
    const std::string file = deck->getFile(local("02_Storage.pptx").string());
    const std::string slide = zipEntry(file, "ppt/slides/slide1.xml");
    EXPECT_NE(slide.find("name=\"Rectangle 2\""), std::string::npos);
    EXPECT_NE(slide.find("b=\"1\""), std::string::npos);
    EXPECT_NE(slide.find("<a:off x=\"457200\" y=\"304800\"/>"), std::string::npos)
        << "24 points from the top";
    EXPECT_NE(slide.find("<p:custData r:id=\"rId2\"/>"), std::string::npos);
    EXPECT_NE(zipEntry(file, "ppt/slides/_rels/slide1.xml.rels").find("customXml/item"), std::string::npos);
    EXPECT_NE(zipEntry(file, "customXml/item1.xml").find("<indexword>volume</indexword>"), std::string::npos);
    auto toc = s->objectByPath("/Edvara/Templates/TOC.docx");
    const std::string tocFile = toc->getFile(local("TOC.docx").string());
    EXPECT_NE(zipEntry(tocFile, "word/header1.xml").find("Course Name"), std::string::npos);
    EXPECT_NE(zipEntry(tocFile, "word/styles.xml").find("toc 2"), std::string::npos);
}

TEST_P(TessarelProcessTest, InitKeepsNoPasswordAndListsTheRepositoryInAFileForItsOwnerOnly) {
    const QString ini = lf::platform::profileFilePath("tessarel.ini");
    // The fixture's file, as a program before may have left it: readable by everyone.
    ASSERT_EQ(::chmod(ini.toLocal8Bit().constData(), 0644), 0);
    const std::string listed = lf::test::readFile(ini.toStdString());
    QStringList init = args({"init", "more"});
    std::unique_ptr<PasswordFileLogin> owner;
    if (onServer()) {
        const auto db = server().makeDatabase("more");
        const std::string uri = "postgresql://" + db.owner + ":" + db.password + "@/" + db.name +
                                "?host=" + server().socketFolder() +
                                "&port=" + std::to_string(server().port());
        // A password in the connection string, as keywords or in a URI, is refused before anything
        // is made or listed.
        for (const std::string& withPassword : {db.conninfo, uri}) {
            const AdminRun refused = runAdmin(args({"init", "shared", "--server", withPassword}));
            EXPECT_EQ(refused.exitCode, 1) << withPassword;
            EXPECT_EQ(refused.err.rfind("[TS_BAD_ARGUMENT] ", 0), 0u) << refused.err;
            EXPECT_NE(refused.err.find("~/.pgpass (or the file PGPASSFILE names)"), std::string::npos)
                << refused.err;
            EXPECT_EQ(lf::test::readFile(ini.toStdString()), listed);
            EXPECT_EQ(server().exec("SELECT count(*) FROM pg_namespace WHERE nspname = 'tessarel'", db.name),
                      "0");
        }
        owner = std::make_unique<PasswordFileLogin>(server(), db, tmp_.path());
        init = args({"init", "shared", "--server", owner->conninfo});
    }
    if (onServer()) {
        // Here the tool makes the file, whatever the umask: its owner's alone from the start.
        ASSERT_TRUE(QFile::remove(ini));
    }
    const mode_t umask = ::umask(0);
    const AdminRun made = runAdmin(init);
    ::umask(umask);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    struct stat st {};
    ASSERT_EQ(::stat(ini.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    if (onServer())
        EXPECT_EQ(lf::platform::GetPrivateProfileString("Repositories", "shared", "", ini).toStdString(),
                  "postgresql:" + owner->conninfo);
    else
        EXPECT_EQ(lf::platform::GetPrivateProfileString("Repositories", "ts_notes", "", ini).toStdString(),
                  location())
            << "the file is narrowed, and keeps what it listed";
}

TEST_P(TessarelProcessTest, ADamagedFolderRowFailsTheExportNamingItAndFsckFindsIt) {
    const std::string repo = location();
    makeFile("course/01_Intro.pptx", "intro");
    makeFile("course/sub/02_Storage.pptx", "storage");
    ASSERT_EQ(runAdmin(args({"import", repo, local("course").string(), "/Edvara/Courses/Storage"})).exitCode,
              0);
    const std::string storage = admin_->folderByPath("/Edvara/Courses/Storage")->record().id;
    const std::string sub = admin_->folderByPath("/Edvara/Courses/Storage/sub")->record().id;
    const std::string subNamed = "'/Edvara/Courses/Storage/sub' (id " + sub + ")";
    const std::string missingParent = subNamed + " has a parent folder (id 00000000deadbeef) that is missing";

    // The folder's parent link points at no row.
    ASSERT_EQ(damageSql("UPDATE objects SET folder_id = '00000000deadbeef' WHERE id = '" + sub + "'"), "");
    AdminRun r = runAdmin(args({"export", repo, "/Edvara/Courses/Storage", local("out").string()}));
    EXPECT_EQ(r.exitCode, 1) << "a failure, not a crash: " << r.err;
    EXPECT_NE(r.err.find("error: [TS_REPOSITORY_DAMAGED] The repository is damaged: " + missingParent + "\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(lf::test::readFile(local("out/01_Intro.pptx")), "intro") << "the sound folder is exported";
    EXPECT_FALSE(fs::exists(local("out/sub")));
    // A document below it, exported the way the program exports a course (by a query over the
    // tree), fails naming the folder rather than being written or left out.
    auto deck = alice()->objectByPath("/Edvara/Courses/Storage/sub/02_Storage.pptx");
    ASSERT_TRUE(deck);
    auto op = client_->newExportOperation();
    op->setDestinationDirectory(local("course-run").string());
    op->add(deck);
    EXPECT_FALSE(op->execute());
    ASSERT_EQ(op->errors()->count(), 1);
    EXPECT_EQ(op->errors()->item(0)->code(), code::Damaged);
    EXPECT_EQ(op->errors()->item(0)->getMessage(),
              "The repository is damaged: the folder " + subNamed + " above '/Edvara/Courses/Storage/sub/" +
                  "02_Storage.pptx' (id " + deck->record().id +
                  ") has a parent folder (id 00000000deadbeef) " + "that is missing");
    EXPECT_TRUE(fs::is_empty(local("course-run")));
    r = runAdmin(args({"fsck", repo}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "broken folder link: " + missingParent + "\nproblems found\n");

    // The folder and its parent made each other's parent: a cycle that never reaches the cabinet.
    ASSERT_EQ(damageSql("UPDATE objects SET folder_id = '" + sub + "' WHERE id = '" + storage +
                        "'; UPDATE objects SET folder_id = '" + storage + "' WHERE id = '" + sub + "'"),
              "");
    auto report = fsck(*store_, false, false);
    std::sort(report.brokenLinks.begin(), report.brokenLinks.end());
    EXPECT_EQ(report.brokenLinks,
              (std::vector<std::string>{"'/Edvara/Courses/Storage' (id " + storage +
                                            ") lies in a cycle of parent folders",
                                        subNamed + " lies in a cycle of parent folders"}));
    EXPECT_FALSE(report.clean());
    r = runAdmin(args({"export", repo, "/Edvara/Courses", local("cycle").string()}));
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("'/Edvara/Courses/Storage' (id " + storage + ")"), std::string::npos) << r.err;

    if (!onServer()) {
        // A folder row of an unknown type (the server's table refuses one): no folder to walk into.
        ASSERT_EQ(damageSql("UPDATE objects SET folder_id = '" + storage +
                            "', type = 'ts_fxlder' WHERE id = '" + sub +
                            "'; UPDATE objects SET folder_id = (SELECT id FROM objects WHERE name = "
                            "'Courses') WHERE id = '" +
                            storage + "'"),
                  "");
        r = runAdmin(args({"export", repo, "/Edvara/Courses/Storage", local("typed").string()}));
        EXPECT_EQ(r.exitCode, 1) << "a failure, not a crash: " << r.err;
        EXPECT_NE(r.err.find(subNamed + " has the unknown type 'ts_fxlder'"), std::string::npos) << r.err;
        r = runAdmin(args({"fsck", repo}));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.out.find("broken folder link: " + subNamed + " has the unknown type 'ts_fxlder'\n"),
                  std::string::npos)
            << r.out;
    }
}

TEST_P(TessarelProcessTest, AFlippedByteInStoredContentFailsExportAndCheckOutAndLeavesNoFile) {
    const std::string repo = location();
    auto deck = makeDocument(alice(), "/Edvara/Courses", "01_Intro.pptx", "the bytes of the intro deck");
    const std::string hash = deck->record().contentHash;
    if (onServer()) {
        ASSERT_EQ(damageSql("UPDATE content_chunks SET data = set_byte(data, 3, get_byte(data, 3) # 1) "
                            "WHERE hash = '" +
                            hash + "'"),
                  "");
    } else {
        const std::string stored = dynamic_cast<FileContentStore&>(store_->content()).pathOf(hash);
        std::string bytes = lf::test::readFile(stored);
        bytes[3] = static_cast<char>(bytes[3] ^ 1);
        lf::test::writeFile(stored, bytes);
    }
    const std::string mismatch = "'/Edvara/Courses/01_Intro.pptx' (id " + deck->record().id +
                                 "): The content " + hash + " in the repository does not match its hash";

    // A file of the user's in the way stays as it was; nothing else is left in the folder.
    makeFile("work/01_Intro.pptx", "the user's own");
    auto ex = client_->newExportOperation();
    ex->setDestinationDirectory(local("work").string());
    ex->add(deck);
    EXPECT_FALSE(ex->execute());
    ASSERT_EQ(ex->errors()->count(), 1);
    EXPECT_EQ(ex->errors()->item(0)->code(), code::NoContent);
    EXPECT_EQ(ex->errors()->item(0)->getMessage(), mismatch);
    EXPECT_EQ(lf::test::readFile(local("work/01_Intro.pptx")), "the user's own");
    EXPECT_EQ(lf::test::folderNames(local("work")), std::vector<std::string>{"01_Intro.pptx"});

    auto co = client_->newCheckoutOperation();
    co->setDestinationDirectory(local("co").string());
    co->add(deck);
    EXPECT_FALSE(co->execute());
    ASSERT_EQ(co->errors()->count(), 1);
    EXPECT_EQ(co->errors()->item(0)->getMessage(), mismatch);
    EXPECT_TRUE(fs::is_empty(local("co")));
    deck->refresh();
    EXPECT_FALSE(deck->isCheckedOut()) << "the lock is given back";

    for (const char* command : {"export", "checkout"}) {
        const fs::path dest = local(std::string("tool-") + command);
        const AdminRun r = runAdmin(args({command, repo, "/Edvara/Courses/01_Intro.pptx", dest.string()}));
        EXPECT_EQ(r.exitCode, 1) << command;
        EXPECT_EQ(r.err, "error: [TS_NO_CONTENT] " + mismatch + "\n") << command;
        EXPECT_TRUE(fs::is_empty(dest)) << command;
    }
    const AdminRun r = runAdmin(args({"fsck", repo, "--verify"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "content that does not match its hash: " + hash + "\nproblems found\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, TessarelProcessTest, everyBackend(), backendName);
