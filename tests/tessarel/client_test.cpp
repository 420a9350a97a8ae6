// The client object, the repository list, logins, sessions and repository objects.
#include "fixture.h"

#include <sqlite3.h>

#include "platform/folders.h"
#include "platform/profile.h"

#include <QFile>

namespace fs = std::filesystem;
using namespace lf::tessarel;
using namespace lf::tessarel::test;

namespace {

std::string contentOf(const TsObjectPtr& obj, const fs::path& where) {
    obj->getFile(where.string());
    return lf::test::readFile(where);
}

} // namespace

TEST(TessarelRepositoryList, ComesFromTheIniFileInItsOrder) {
    lf::test::TempDir tmp;
    const QString ini = lf::platform::profileFilePath("tessarel.ini");
    QFile::remove(ini);
    lf::platform::WritePrivateProfileString("Repositories", "training", "sqlite:/srv/courses/training", ini);
    lf::platform::WritePrivateProfileString("Repositories", "ts_notes", "sqlite:/srv/courses/ts_notes", ini);
    auto list = TsClient::create()->localClient()->repositoryList();
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->nameAt(0), "training");
    EXPECT_EQ(list->nameAt(1), "ts_notes");
    EXPECT_EQ(list->locationAt(1), "sqlite:/srv/courses/ts_notes");
    EXPECT_EQ(thrown([&] { list->nameAt(2); }).code(), code::BadArgument);

    // A file without the section lists nothing and does not fail.
    QFile::remove(ini);
    lf::platform::WritePrivateProfileString("Other", "x", "y", ini);
    EXPECT_EQ(TsClient::create()->localClient()->repositoryList()->count(), 0);
    QFile::remove(ini);
}

TEST(TessarelRepositoryList, WithoutIniListsTheDataFolderRepositories) {
    QFile::remove(lf::platform::profileFilePath("tessarel.ini"));
    const std::string base = lf::platform::dataFolder().toStdString() + "/tessarel";
    fs::remove_all(base);
    EXPECT_EQ(TsClient::create()->localClient()->repositoryList()->count(), 0);
    initRepository(base + "/zeta");
    initRepository(base + "/alpha");
    fs::create_directories(base + "/not_a_repository");
    auto list = TsClient::create()->localClient()->repositoryList();
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->nameAt(0), "alpha");
    EXPECT_EQ(list->nameAt(1), "zeta");
    EXPECT_EQ(list->locationAt(0), "sqlite:" + base + "/alpha");
    fs::remove_all(base);
}

class TessarelClientTest : public OnEveryBackend<TessarelRepositoryTest> {};

TEST_P(TessarelClientTest, LoginChecksAPasswordTheRepositoryKeepsOnlyAsAHash) {
    auto s = alice();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->userName(), "alice");
    EXPECT_EQ(s->repositoryName(), "ts_notes");
    // The embedded database keeps an argon2id hash, the server a SCRAM verifier: never the password.
    std::string hash;
    if (onServer()) {
        hash = lf::test::sharedPostgres().exec("SELECT rolpassword FROM pg_authid WHERE rolname = 'alice'");
        EXPECT_EQ(hash.rfind("SCRAM-SHA-256$", 0), 0u);
    } else {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2((repoDir() / "repository.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
                  SQLITE_OK);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT password_hash FROM users WHERE name = 'alice'", -1, &st, nullptr);
        ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
        hash = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
        sqlite3_close(db);
        EXPECT_EQ(hash.rfind("$argon2id$", 0), 0u);
    }
    EXPECT_EQ(hash.find("alice-secret"), std::string::npos);

    const auto wrong = thrown([&] { login("alice", "bob-secret"); });
    EXPECT_EQ(wrong.code(), code::LoginRefused);
    EXPECT_EQ(thrown([&] { login("mallory", "x"); }).code(), code::LoginRefused);
    EXPECT_EQ(thrown([&] { login("", ""); }).code(), code::LoginRefused);
    // The description parses back into its message, as the login dialog logs it.
    auto parsed = client_->parsedError(wrong.what());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->getMessage(), "Login refused for user 'alice' on repository 'ts_notes'");
    EXPECT_FALSE(client_->parsedError("Automation error"));

    auto manager = client_->localClient()->newSessionManager();
    EXPECT_EQ(thrown([&] { manager->getSession("ts_notes"); }).code(), code::NoIdentity);
    auto info = client_->newLoginInfo();
    info->setUser("alice");
    info->setPassword("alice-secret");
    manager->setIdentity("nowhere", info);
    EXPECT_EQ(thrown([&] { manager->getSession("nowhere"); }).code(), code::UnknownRepository);
    // A released session is handed out again.
    manager->setIdentity("ts_notes", info);
    auto first = manager->getSession("ts_notes");
    manager->release(first);
    EXPECT_EQ(manager->getSession("ts_notes"), first);
    EXPECT_TRUE(first->folderByPath("/Edvara"));

    setUserPassword(*store_, "alice", "new-secret");
    EXPECT_TRUE(login("alice", "new-secret"));
    EXPECT_EQ(thrown([&] { login("alice", "alice-secret"); }).code(), code::LoginRefused);
    EXPECT_EQ(thrown([&] { addUser(*store_, "bob", "again"); }).code(), code::UserExists);
}

TEST_P(TessarelClientTest, NewDocumentRoundTrip) {
    auto s = alice();
    const std::string bytes = std::string("PK\x03\x04 toc body \0 with a zero", 27);
    const std::string file = makeFile("work/TOC.docx", bytes);
    auto doc = s->newObject("ts_document");
    doc->setObjectName("TOC");
    doc->setFile(file, "msw8");
    doc->link("/Edvara/Courses");
    doc->save();
    EXPECT_FALSE(doc->isCheckedOut());

    auto found = s->objectByPath("/Edvara/Courses/TOC");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->objectId()->text(), doc->objectId()->text());
    EXPECT_EQ(found->format()->name(), "msw8");
    EXPECT_EQ(found->format()->fileExtension(), "docx");
    EXPECT_EQ(found->getString("owner_name"), "alice");
    EXPECT_EQ(found->versionLabel(), "1.0");
    EXPECT_EQ(found->getString("r_folder_path"), "/Edvara/Courses");
    EXPECT_EQ(found->getString("i_folder_id"), s->folderByPath("/Edvara/Courses")->objectId()->text());
    EXPECT_EQ(contentOf(found, local("out.docx")), bytes);

    // By id, from its text, in another session.
    auto id = client_->objectIdFromText(doc->objectId()->text());
    auto again = bob()->objectById(id);
    EXPECT_EQ(again->objectName(), "TOC");
    EXPECT_EQ(thrown([&] { client_->objectIdFromText("0900"); }).code(), code::BadId);
    EXPECT_EQ(thrown([&] { s->objectById(std::string("0900000000000000")); }).code(), code::ObjectNotFound);
    EXPECT_FALSE(s->objectByPath("/Edvara/Courses/Missing"));
    EXPECT_FALSE(s->folderByPath("/Edvara/Nowhere"));
    EXPECT_FALSE(s->folderByPath("/Edvara/Courses/TOC")) << "a document is not a folder";
    EXPECT_FALSE(s->folderByPath("relative/path"));

    // A rename is saved; so is new content, which keeps the version.
    found->setObjectName("TOC.docx");
    found->setFile(makeFile("work/TOC2.docx", "second"));
    found->save();
    EXPECT_TRUE(s->objectByPath("/Edvara/Courses/TOC.docx"));
    EXPECT_FALSE(s->objectByPath("/Edvara/Courses/TOC"));
    EXPECT_EQ(contentOf(s->objectByPath("/Edvara/Courses/TOC.docx"), local("out2.docx")), "second");
}

TEST_P(TessarelClientTest, BadNewObjectsAreRefused) {
    auto s = alice();
    auto doc = s->newObject("ts_document");
    doc->setObjectName("Loose");
    EXPECT_EQ(thrown([&] { doc->save(); }).code(), code::BadArgument) << "not linked into a folder";
    EXPECT_EQ(thrown([&] { doc->link("/Edvara/Missing"); }).code(), code::ObjectNotFound);
    EXPECT_EQ(thrown([&] { doc->setFile(local("missing.docx").string()); }).code(), code::FileError);
    EXPECT_EQ(thrown([&] { doc->setFile(makeFile("a.docx", "x"), "nosuchformat"); }).code(),
              code::UnknownFormat);
    EXPECT_EQ(thrown([&] { s->newObject("dm_document"); }).code(), code::BadArgument);
    auto unnamed = s->newObject("ts_document");
    unnamed->link("/Edvara");
    EXPECT_EQ(thrown([&] { unnamed->save(); }).code(), code::BadName);
    auto folder = s->newObject("ts_folder");
    folder->setObjectName("a/b");
    folder->link("/Edvara");
    EXPECT_EQ(thrown([&] { folder->save(); }).code(), code::BadName);
    folder->setObjectName("Courses");
    EXPECT_EQ(thrown([&] { folder->save(); }).code(), code::NameConflict);
    EXPECT_EQ(countRows(admin_, "select r_object_id from ts_sysobject"), 2) << "nothing half-made was left";
}

TEST_P(TessarelClientTest, RenamingAFolderMovesWhatItHolds) {
    auto s = alice();
    makeFolders(s, "/Edvara/Courses/Storage/Labs");
    makeDocument(s, "/Edvara/Courses/Storage/Labs", "01_Lab.pptx", "lab deck");
    auto storage = s->folderByPath("/Edvara/Courses/Storage");
    storage->setObjectName("Storage 2");
    storage->save();
    EXPECT_FALSE(s->folderByPath("/Edvara/Courses/Storage"));
    EXPECT_TRUE(s->folderByPath("/Edvara/Courses/Storage 2/Labs"));
    auto doc = s->objectByPath("/Edvara/Courses/Storage 2/Labs/01_Lab.pptx");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->getString("r_folder_path"), "/Edvara/Courses/Storage 2/Labs");
    EXPECT_EQ(
        countRows(s, "select r_object_id from ts_document where folder('/Edvara/Courses/Storage 2',descend)"),
        1);
    // A folder cannot go into itself.
    storage->link("/Edvara/Courses/Storage 2/Labs");
    EXPECT_EQ(thrown([&] { storage->save(); }).code(), code::BadArgument);
}

TEST_P(TessarelClientTest, QuotesInPaths) {
    auto s = alice();
    makeFolders(s, "/Edvara/O'Brien's course");
    auto folder = s->folderByPath("/Edvara/O'Brien's course");
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->objectName(), "O'Brien's course");
    makeDocument(s, "/Edvara/O'Brien's course", "01_It's here.pptx", "deck");
    EXPECT_TRUE(s->objectByPath("/Edvara/O'Brien's course/01_It's here.pptx"));
    EXPECT_EQ(column(s, "select object_name from ts_document where folder('/Edvara/O''Brien''s course')",
                     "object_name"),
              std::vector<std::string>{"01_It's here.pptx"});
    EXPECT_EQ(column(s, "select object_name from ts_document where object_name = '01_It''s here.pptx'",
                     "object_name")
                  .size(),
              1u);
    // Import into it through the folder's id, as the program does.
    auto op = client_->newImportOperation();
    op->setSession(s);
    op->setDestinationFolder(folder->objectId());
    op->add(client_->fileObject(makeFile("in/02_Quote's.docx", "doc")));
    ASSERT_TRUE(op->execute());
    EXPECT_EQ(countRows(s, "select r_object_id from ts_document where folder(ID('" +
                               folder->objectId()->text() + "'))"),
              2);
}

TEST_P(TessarelClientTest, PrivateCabinetsAreSeenByTheirOwnerOnly) {
    auto a = alice();
    auto b = bob();
    makeCabinet(a, "Alice Drafts", true);
    makeFolders(a, "/Alice Drafts/Notes");
    auto draft = makeDocument(a, "/Alice Drafts/Notes", "Draft.docx", "secret draft");
    const std::string id = draft->objectId()->text();

    EXPECT_TRUE(a->folderByPath("/Alice Drafts"));
    EXPECT_FALSE(b->folderByPath("/Alice Drafts"));
    EXPECT_FALSE(b->folderByPath("/Alice Drafts/Notes"));
    EXPECT_FALSE(b->objectByPath("/Alice Drafts/Notes/Draft.docx"));
    EXPECT_EQ(thrown([&] { b->objectById(id); }).code(), code::ObjectNotFound);
    EXPECT_EQ(thrown([&] {
                  countRows(b, "select r_object_id from ts_document where folder(ID('" + id + "'))");
              }).code(),
              code::ObjectNotFound);
    EXPECT_EQ(countRows(b, "select r_object_id from ts_document"), 0);
    EXPECT_EQ(countRows(a, "select r_object_id from ts_document"), 1);
    EXPECT_EQ(column(b, "select object_name from ts_cabinet", "object_name"),
              std::vector<std::string>{"Edvara"});
    EXPECT_EQ(column(a, "select object_name from ts_cabinet where is_private = false", "object_name"),
              std::vector<std::string>{"Edvara"});
    EXPECT_EQ(column(a, "select object_name from ts_cabinet where is_private = true", "object_name"),
              std::vector<std::string>{"Alice Drafts"});
    // Bob cannot link into it either.
    auto doc = b->newObject("ts_document");
    EXPECT_EQ(thrown([&] { doc->link("/Alice Drafts/Notes"); }).code(), code::ObjectNotFound);
    EXPECT_EQ(thrown([&] { makeDocument(a, "/Edvara", "x", "y")->setPrivate(true); }).code(),
              code::BadArgument);
}

TEST_P(TessarelClientTest, ASessionHandsOutOneObjectPerId) {
    // The TOC writer sets a content file on an object, then the check-in looks the object up again
    // by its id: it must find the same object, content file and all.
    auto s = alice();
    auto doc = makeDocument(s, "/Edvara/Courses", "TOC.docx", "v1");
    auto byPath = s->objectByPath("/Edvara/Courses/TOC.docx");
    EXPECT_EQ(byPath, doc);
    byPath->setFile(makeFile("new/TOC.docx", "v2"));
    EXPECT_EQ(s->objectById(doc->objectId()), byPath);
    EXPECT_EQ(s->objectById(doc->objectId())->pendingFile(), byPath->pendingFile());
}

TEST(TessarelClientObjects, ListsFileObjectsAndParsedErrors) {
    auto client = TsClient::create();
    auto list = client->newObjectList();
    EXPECT_EQ(list->count(), 0);
    EXPECT_EQ(thrown([&] { list->item(0); }).code(), code::BadArgument);
    list->append(nullptr);
    list->append(nullptr);
    EXPECT_EQ(list->count(), 2);
    list->clear();
    EXPECT_EQ(list->count(), 0);

    lf::test::TempDir tmp;
    lf::test::writeFile(tmp / "01_Intro.pptx", "x");
    auto file = client->fileObject((tmp / "01_Intro.pptx").string());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->name(), "01_Intro.pptx");
    EXPECT_FALSE(client->fileObject((tmp / "missing.pptx").string()));
    EXPECT_FALSE(client->fileObject(tmp.path().string())) << "a folder is not a file";
    EXPECT_FALSE(client->fileObject(""));

    auto parsed = client->parsedError("[TS_LOCK_CONFLICT] 'Deck' is already checked out by bob");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->getMessage(), "'Deck' is already checked out by bob");
    EXPECT_EQ(parsed->code(), "TS_LOCK_CONFLICT");
    EXPECT_FALSE(client->parsedError("Method 'getSession' of object failed"));
    EXPECT_FALSE(client->parsedError(""));
}

TEST(TessarelLocalFileNames, NameOrNameDotExtension) {
    EXPECT_EQ(localFileName("02_Storage.pptx", "pptx"), "02_Storage.pptx");
    EXPECT_EQ(localFileName("02_Storage", "pptx"), "02_Storage.pptx");
    EXPECT_EQ(localFileName("Notes.PPTX", "pptx"), "Notes.PPTX");
    EXPECT_EQ(localFileName("Notes.ppt", "pptx"), "Notes.ppt.pptx");
    EXPECT_EQ(localFileName("pptx", "pptx"), "pptx.pptx");
    EXPECT_EQ(localFileName("README", ""), "README");
    EXPECT_TRUE(isSafeFileName("O'Brien's deck.pptx"));
    EXPECT_TRUE(isSafeFileName("...pptx"));
    for (const char* bad :
         {"", ".", "..", "../evil.pptx", "a/b.pptx", "a\\b.pptx", "tab\there", "nl\nx", "del\x7f"})
        EXPECT_FALSE(isSafeFileName(bad)) << bad;
    EXPECT_FALSE(isSafeFileName(std::string(256, 'a')));
}

TEST_F(TessarelRepositoryTest, LocationsOfOtherKindsFailClearly) {
    const QString ini = lf::platform::profileFilePath("tessarel.ini");
    lf::platform::WritePrivateProfileString("Repositories", "pg", "mysql://db.example/ts", ini);
    lf::platform::WritePrivateProfileString("Repositories", "gone", "sqlite:/nonexistent/repository", ini);
    lf::platform::WritePrivateProfileString("Repositories", "plain",
                                            QString::fromStdString(repoDir().string()), ini);
    auto loginTo = [&](const std::string& repo) {
        auto manager = client_->localClient()->newSessionManager();
        auto info = client_->newLoginInfo();
        info->setUser("alice");
        info->setPassword("alice-secret");
        manager->setIdentity(repo, info);
        return manager->getSession(repo);
    };
    EXPECT_EQ(client_->localClient()->repositoryList()->count(), 4);
    EXPECT_EQ(thrown([&] { loginTo("pg"); }).code(), code::UnsupportedBackend);
    EXPECT_EQ(thrown([&] { loginTo("gone"); }).code(), code::UnknownRepository);
    EXPECT_TRUE(loginTo("plain")->folderByPath("/Edvara/Courses"));
}

TEST_P(TessarelClientTest, OneNameRuleOf239BytesForEveryNameThatEntersAndEveryOneExports) {
    ASSERT_EQ(kMaxObjectNameBytes, 239u);
    auto s = alice();
    // The longest name with the longest extension a format may have: 239 + 1 + 15 = 255 bytes,
    // the most a file system takes, and the export writes it (its temporary name is short).
    const std::string longest(kMaxObjectNameBytes, 'n');
    const std::string ext(kMaxFormatExtensionBytes, 'e');
    auto doc = makeDocument(s, "/Edvara/Courses", longest, "longest", "f." + ext);
    EXPECT_EQ(doc->format()->fileExtension(), ext);
    auto ex = client_->newExportOperation();
    ex->setDestinationDirectory(local("out").string());
    ex->add(doc);
    ASSERT_TRUE(ex->execute()) << ex->errors()->item(0)->getMessage();
    EXPECT_EQ(lf::test::readFile(local("out") / (longest + "." + ext)), "longest");
    EXPECT_EQ(store_->formatForFile("f." + ext + "x"), "") << "a longer extension makes no format";
    makeFolders(s, "/Edvara/" + longest);

    // Every way in refuses what breaks the rule, saying which part and what the rule is.
    const std::vector<std::pair<std::string, std::string>> bad = {
        {std::string(kMaxObjectNameBytes + 1, 'n'), "is 240 bytes long"},
        {std::string(5000, 'n'), "is 5000 bytes long"},
        {"tab\there.pptx", "holds a control character"},
        {"line\nbreak.pptx", "holds a control character"},
        {"bell\x07.pptx", "holds a control character"},
        {"back\\slash.pptx", "holds '\\'"},
        {"sub/dir.pptx", "holds '/'"},
        {"..", "stands for a folder itself or the one above it"},
        {"", "is empty"},
    };
    const std::string rule = ": a name in the repository is 1 to 239 bytes, not '.' or '..', without '/', "
                             "'\\' or control characters";
    auto refused = [&](const std::string& what, const std::string& fault, auto&& call) {
        const TsException e = thrown(call);
        EXPECT_EQ(e.code(), code::BadName) << what;
        EXPECT_NE(e.message().find(fault + rule), std::string::npos) << what << ": " << e.message();
        EXPECT_LT(e.message().size(), 300u) << "a long name is shown cut short";
    };
    for (const auto& [name, fault] : bad) {
        // In a path, "/" separates names, and an empty part ("//") counts as none.
        if (!name.empty() && name.find('/') == std::string::npos) {
            refused("mkdir", fault, [&] { makeFolders(s, "/Edvara/Courses/" + name); });
            refused("mkdir of a path", fault, [&] { makeFolders(s, "/Edvara/" + name + "/Below"); });
        }
        refused("mkcabinet", fault, [&] { makeCabinet(admin_, name, false); });
        refused("new document", fault, [&] { makeDocument(s, "/Edvara/Courses", name, "x", "x.pptx"); });
        refused("rename", fault, [&] {
            doc->setObjectName(name);
            doc->save();
        });
        doc->refresh();
        auto op = client_->newImportOperation();
        op->setSession(s);
        op->setDestinationFolder(s->folderByPath("/Edvara/Courses")->objectId());
        auto node =
            std::dynamic_pointer_cast<TsImportNode>(op->add(client_->fileObject(makeFile("in/a.pptx", "a"))));
        node->setNewObjectName(name);
        EXPECT_FALSE(op->execute());
        ASSERT_EQ(op->errors()->count(), 1);
        EXPECT_NE(op->errors()->item(0)->getMessage().find(fault + rule), std::string::npos);
    }
    EXPECT_EQ(countRows(admin_, "select r_object_id from ts_sysobject"), 4)
        << "Edvara, Courses, the long ones";

    // A name from a repository made before the rule stays: its object takes new content.
    ASSERT_EQ(damageSql("UPDATE objects SET name = 'old\tname' WHERE id = '" + doc->objectId()->text() + "'"),
              "");
    doc->refresh();
    doc->setFile(makeFile("new." + ext, "second"));
    doc->save();
    EXPECT_EQ(contentOf(s->objectById(doc->objectId()), local("second")), "second");
}

INSTANTIATE_TEST_SUITE_P(Backends, TessarelClientTest, everyBackend(), backendName);
