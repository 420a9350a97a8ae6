// A server repository backed up with pg_dump and restored with pg_restore into a database of another
// name, as the README's backup and restore tell an administrator to: the repository checks clean,
// every document keeps its versions and exports the bytes it was made of, the users are listed as
// before, and each author logs in and sees what they saw, and can go on working.
#include "admin_tool.h"
#include "fixture.h"

#include "platform/profile.h"

#include <algorithm>

namespace fs = std::filesystem;
using namespace lf::tessarel;
using namespace lf::tessarel::test;

namespace {

class TessarelRestoreTest : public TessarelRepositoryTest {
protected:
    std::string backend() const override { return "postgresql"; }

    // Every object the session sees, one line each: path, name, version, lock; sorted.
    std::vector<std::string> listing(const TsSessionPtr& s) {
        auto q = client_->newQuery();
        q->setTQL("select r_object_id, r_folder_path, object_name, r_version_label, r_lock_owner from "
                  "ts_sysobject");
        auto rows = q->execute(s, 0);
        std::vector<std::string> out;
        while (rows->next())
            out.push_back(rows->getString("r_object_id") + " " + rows->getString("r_folder_path") + "/" +
                          rows->getString("object_name") + " " + rows->getString("r_version_label") +
                          " lock:" + rows->getString("r_lock_owner"));
        rows->close();
        std::sort(out.begin(), out.end());
        return out;
    }
    // Each version of the document: label, format, content hash and size, current or not.
    static std::vector<std::string> history(const TsObjectPtr& doc) {
        std::vector<std::string> out;
        for (const auto& v : objectVersions(doc))
            out.push_back(v.label + " " + v.contentType + " " + v.hash + " " + std::to_string(v.size) +
                          (v.current ? " current" : ""));
        return out;
    }
    // Exports the documents at these paths into a fresh local folder; the bytes of each file written.
    std::vector<std::string> exported(const TsSessionPtr& s, const std::vector<std::string>& paths,
                                      const std::string& folder) {
        auto op = client_->newExportOperation();
        op->setDestinationDirectory(local(folder).string());
        std::vector<std::string> names;
        for (const auto& path : paths) {
            auto doc = s->objectByPath(path);
            if (!doc) {
                ADD_FAILURE() << path << " is not in the repository";
                return {};
            }
            op->add(doc);
            names.push_back(doc->getString("object_name"));
        }
        EXPECT_TRUE(op->execute()) << (op->errors()->count() ? op->errors()->item(0)->getMessage() : "");
        std::vector<std::string> bytes;
        for (const auto& name : names)
            bytes.push_back(fs::exists(local(folder) / name) ? lf::test::readFile(local(folder) / name)
                                                             : "(not written)");
        return bytes;
    }
    // A login to the copy; null, with the failure recorded, when it is refused.
    TsSessionPtr loginToCopy(const std::string& user, const std::string& password) {
        try {
            return login(user, password, "ts_copy");
        } catch (const TsException& e) {
            ADD_FAILURE() << user << " cannot log in to the restored repository: " << e.what();
            return nullptr;
        }
    }
};

TEST_F(TessarelRestoreTest, ARepositoryRestoredUnderAnotherNameKeepsItsUsersTheirViewsAndEveryVersion) {
    const auto decks = lf::test::corpusFiles("pptx");
    auto texts = lf::test::corpusFiles("docx");
    std::erase_if(texts, [](const fs::path& f) { return f.extension() != ".docx"; }); // no templates
    ASSERT_GE(decks.size(), 2u);
    ASSERT_GE(texts.size(), 3u);
    const std::string deck1 = lf::test::readFile(decks[0]), deck2 = lf::test::readFile(decks[1]);
    const std::string notes1 = lf::test::readFile(texts[0]), notes2 = lf::test::readFile(texts[1]);
    const std::string draftBytes = lf::test::readFile(texts[2]);

    // Alice's deck in two versions and a draft in her private cabinet; Bob's notes in two versions,
    // checked out by him when the backup is made.
    auto a = alice();
    auto deck = makeDocument(a, "/Edvara/Courses", "01_Intro.pptx", deck1);
    newVersion(deck, deck2);
    makeCabinet(a, "Alice Drafts", true);
    makeDocument(a, "/Alice Drafts", "Draft.docx", draftBytes);
    auto b = bob();
    auto notes = makeDocument(b, "/Edvara/Courses", "02_Notes.docx", notes1);
    newVersion(notes, notes2);
    auto co = client_->newCheckoutOperation();
    co->setDestinationDirectory(local("bob-work").string());
    co->add(notes);
    ASSERT_TRUE(co->execute());
    const auto alicesView = listing(a), bobsView = listing(b), everything = listing(admin_);
    ASSERT_EQ(alicesView.size(), 6u) << "Edvara, Courses, both documents, her cabinet and draft";
    ASSERT_EQ(bobsView.size(), 4u);
    const auto deckHistory = history(deck), notesHistory = history(notes);
    ASSERT_EQ(deckHistory.size(), 2u);
    const std::string ownerLocation = "postgresql:" + database().conninfo;
    const AdminRun usersBefore = runAdmin(args({"user", "list", ownerLocation}));
    ASSERT_EQ(usersBefore.exitCode, 0) << usersBefore.err;

    // The backup, made by the repository's owner, and its restore by the superuser into a new
    // database of another name owned by the same owner.
    auto& server = lf::test::sharedPostgres();
    const fs::path dump = local("repository.dump");
    std::string printed;
    ASSERT_EQ(
        server.runClient("pg_dump",
                         {"--format=custom", "--file=" + dump.string(), "--dbname=" + database().conninfo},
                         &printed),
        0)
        << printed;
    const std::string copy = database().name + "_copy";
    server.exec("CREATE DATABASE \"" + copy + "\" OWNER \"" + database().owner + "\"");
    ASSERT_EQ(server.runClient("pg_restore",
                               {"--exit-on-error", "--single-transaction",
                                "--dbname=" + server.superuserConninfo(copy), dump.string()},
                               &printed),
              0)
        << printed;
    // The functions the policies and triggers run with their owner's rights still belong to the
    // repository's owner, never to the superuser who restored them.
    EXPECT_EQ(server.exec("SELECT string_agg(DISTINCT proowner::regrole::text, ',') FROM pg_proc WHERE "
                          "pronamespace = 'tessarel'::regnamespace",
                          copy),
              database().owner);

    // The administrator: the copy checks clean, and holds every version and every byte.
    const std::string copyLocation =
        "postgresql:" + server.conninfo(copy, database().owner, database().password);
    const AdminRun check = runAdmin(args({"fsck", copyLocation, "--verify"}));
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("clean"), std::string::npos) << check.out;
    auto store = openRepository(copyLocation);
    auto admin = openAdminSession(store, "ts_copy", "tsadmin");
    EXPECT_EQ(listing(admin), everything);
    EXPECT_EQ(history(admin->objectByPath("/Edvara/Courses/01_Intro.pptx")), deckHistory);
    EXPECT_EQ(history(admin->objectByPath("/Edvara/Courses/02_Notes.docx")), notesHistory);
    EXPECT_EQ(exported(admin,
                       {"/Edvara/Courses/01_Intro.pptx", "/Edvara/Courses/02_Notes.docx",
                        "/Alice Drafts/Draft.docx"},
                       "admin-out"),
              (std::vector<std::string>{deck2, notes2, draftBytes}));

    // The users: the copy's roles are the original database's (ts_notes_N_authors and _admins),
    // kept with the repository, not ones named after the copy's database.
    const AdminRun usersAfter = runAdmin(args({"user", "list", copyLocation}));
    EXPECT_EQ(usersAfter.exitCode, 0) << usersAfter.err;
    EXPECT_EQ(usersAfter.out, usersBefore.out);
    ASSERT_TRUE(lf::platform::WritePrivateProfileString(
        "Repositories", "ts_copy", QString::fromStdString("postgresql:" + server.conninfo(copy, "", "")),
        lf::platform::profileFilePath("tessarel.ini")));
    auto a2 = loginToCopy("alice", "alice-secret");
    auto b2 = loginToCopy("bob", "bob-secret");
    ASSERT_TRUE(a2 && b2);
    EXPECT_EQ(listing(a2), alicesView);
    EXPECT_EQ(listing(b2), bobsView);
    EXPECT_EQ(exported(b2, {"/Edvara/Courses/01_Intro.pptx"}, "bob-out"), std::vector<std::string>{deck2});
    // Alice goes on working on the copy: a third version of her deck, which Bob exports.
    checkInNewVersion(*client_, a2->objectByPath("/Edvara/Courses/01_Intro.pptx"), local("alice-copy-work"),
                      notes1);
    EXPECT_EQ(exported(b2, {"/Edvara/Courses/01_Intro.pptx"}, "bob-out-2"), std::vector<std::string>{notes1});
}

} // namespace
