// The content store under imports and exports: identical content stored once, content named only
// after all of it is staged and before the metadata commits, and no temporary file left behind
// by an export that fails.
#include "fixture.h"

#include <cstdio>
#include <functional>
#include <set>

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace lf::tessarel;
using namespace lf::tessarel::test;

namespace {

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        out.insert(e.path().filename().string());
    return out;
}

// A monitor that runs a hook on each progress report, with the step's name.
class HookMonitor : public RecordingMonitor {
public:
    std::function<void(const std::string&)> onReport;
    int progressReport(const std::shared_ptr<TsOperation>& op, int opPercent, const TsOperationStepPtr& step,
                       int stepPercent, const std::shared_ptr<TsOperationNode>& node) override {
        if (onReport)
            onReport(step->name());
        return RecordingMonitor::progressReport(op, opPercent, step, stepPercent, node);
    }
};

class TessarelContentTest : public TessarelRepositoryTest {
protected:
    void SetUp() override {
        TessarelRepositoryTest::SetUp();
        s_ = alice();
    }
    std::shared_ptr<TsImportOperation>
    importInto(const std::string& folder, const std::vector<std::string>& files,
               const std::shared_ptr<ITsOperationMonitor>& monitor = nullptr) {
        auto op = client_->newImportOperation();
        op->setSession(s_);
        op->setDestinationFolder(s_->folderByPath(folder)->objectId());
        for (const auto& f : files)
            op->add(client_->fileObject(f));
        if (monitor)
            op->setMonitor(monitor);
        return op;
    }
    size_t contentCount() const { return store_->content().allContent().size(); }
    TsSessionPtr s_;
};

} // namespace

TEST_F(TessarelContentTest, IdenticalContentIsStoredOnce) {
    // Small files take the whole-file path, the large ones (above 8 MiB) the piece-by-piece one.
    const std::string small = randomBytes(200 * 1024, 1);
    const std::string large = randomBytes(9 * 1024 * 1024 + 17, 2);
    const std::vector<std::string> files = {
        makeFile("in/a.pptx", small),   makeFile("in/b.pptx", small),       makeFile("in/big1.zip", large),
        makeFile("in/big2.zip", large), makeFile("in/other.docx", "other"), makeFile("in/empty.txt", ""),
        makeFile("in/empty2.txt", "")};
    const size_t before = contentCount();
    auto op = importInto("/Edvara/Courses", files);
    ASSERT_TRUE(op->execute());
    ASSERT_EQ(op->importedObjects()->count(), 7);
    EXPECT_EQ(contentCount(), before + 4) << "one content file per distinct content";
    EXPECT_TRUE(store_->content().stagingLeftovers().empty());

    // Importing the same bytes again writes nothing new, and every object reads back its bytes.
    makeFolders(s_, "/Edvara/Again");
    auto again = importInto("/Edvara/Again", files);
    ASSERT_TRUE(again->execute());
    EXPECT_EQ(contentCount(), before + 4);
    EXPECT_TRUE(store_->content().stagingLeftovers().empty());
    EXPECT_EQ(again->importedObjects()->item(0)->record().contentHash,
              op->importedObjects()->item(1)->record().contentHash);
    EXPECT_EQ(again->importedObjects()->item(2)->record().contentSize,
              static_cast<std::int64_t>(large.size()));

    auto ex = client_->newExportOperation();
    ex->setDestinationDirectory(local("out").string());
    for (int i = 0; i < again->importedObjects()->count(); ++i)
        ex->add(again->importedObjects()->item(i));
    ASSERT_TRUE(ex->execute());
    for (const auto& f : files)
        EXPECT_EQ(lf::test::readFile(local("out") / fs::path(f).filename()), lf::test::readFile(f)) << f;
    EXPECT_TRUE(fsck(*store_, true, false).clean());
}

TEST_F(TessarelContentTest, ContentIsNamedAfterStagingAndBeforeTheMetadataCommits) {
    // A batch (flushed with one sync) and a few files (flushed one by one) behave alike.
    for (const int n : {40, 3}) {
        const std::string folder = "/Edvara/Batch" + std::to_string(n);
        makeFolders(s_, folder);
        std::vector<std::string> files;
        for (int i = 0; i < n; ++i)
            files.push_back(
                makeFile("batch" + std::to_string(n) + "/" + std::to_string(i) + "_Deck.pptx",
                         randomBytes(4096 + static_cast<size_t>(i), 100u + static_cast<unsigned>(n + i))));
        const size_t before = contentCount();
        auto monitor = std::make_shared<HookMonitor>();
        int transfers = 0;
        bool checked = false;
        monitor->onReport = [&](const std::string& step) {
            if (step != "Transfer content" || ++transfers != n)
                return;
            // Every file is staged, none is named, and no object points to any of them yet.
            EXPECT_EQ(store_->content().stagingLeftovers().size(), static_cast<size_t>(n));
            EXPECT_EQ(contentCount(), before);
            EXPECT_EQ(countRows(admin_, "select r_object_id from ts_document where folder('" + folder + "')"),
                      0);
            checked = true;
        };
        auto op = importInto(folder, files, monitor);
        ASSERT_TRUE(op->execute()) << n;
        EXPECT_TRUE(checked) << n;
        EXPECT_EQ(contentCount(), before + static_cast<size_t>(n)) << n;
        EXPECT_TRUE(store_->content().stagingLeftovers().empty()) << n;
        EXPECT_EQ(countRows(admin_, "select r_object_id from ts_document where folder('" + folder + "')"), n);
    }
    EXPECT_TRUE(fsck(*store_, true, false).clean());
}

TEST_F(TessarelContentTest, StoredContentThatVanishesBeforeTheCommitFailsTheImport) {
    // Content the store already held is not written again; when it is gone by the time the
    // import commits (removed as an orphan, say), the import fails and points nothing at it.
    const std::string bytes = randomBytes(50000, 3);
    auto first = importInto("/Edvara/Courses", {makeFile("in/a.pptx", bytes)});
    ASSERT_TRUE(first->execute());
    const std::string hash = first->importedObjects()->item(0)->record().contentHash;

    makeFolders(s_, "/Edvara/Later");
    auto monitor = std::make_shared<HookMonitor>();
    monitor->onReport = [&](const std::string& step) {
        if (step == "Transfer content")
            store_->content().remove(hash);
    };
    auto op =
        importInto("/Edvara/Later", {makeFile("in2/b.pptx", bytes), makeFile("in2/c.pptx", "new")}, monitor);
    EXPECT_FALSE(op->execute());
    ASSERT_GE(op->errors()->count(), 1);
    EXPECT_EQ(op->errors()->item(op->errors()->count() - 1)->code(), code::NoContent);
    EXPECT_EQ(countRows(admin_, "select r_object_id from ts_document where folder('/Edvara/Later')"), 0);
    EXPECT_TRUE(store_->content().stagingLeftovers().empty());
    const auto report = fsck(*store_, true, false);
    EXPECT_EQ(report.missingContent, std::vector<std::string>{hash}) << "only the first import's damage";

    // ContentStore on its own: staging bytes it holds writes nothing and says so.
    makeDocument(s_, "/Edvara/Courses", "known.txt", "known bytes");
    FileContentStore content((repoDir() / "content").string());
    lf::test::writeFile(local("known.bin"), "known bytes");
    auto staged = content.stage(local("known.bin").string());
    EXPECT_TRUE(staged.reused);
    EXPECT_TRUE(staged.tempPath.empty());
    EXPECT_EQ(staged.size, 11);
    EXPECT_TRUE(content.stagingLeftovers().empty());
}

TEST_F(TessarelContentTest, AFailedExportLeavesNoTemporaryFile) {
    auto good = makeDocument(s_, "/Edvara/Courses", "01_Good.pptx", "good");
    auto damaged = makeDocument(s_, "/Edvara/Courses", "02_Damaged.pptx", "damaged");
    auto blocked = makeDocument(s_, "/Edvara/Courses", "03_Blocked.pptx", "blocked");
    fs::remove(dynamic_cast<FileContentStore&>(store_->content()).pathOf(damaged->record().contentHash));
    const fs::path dest = local("work");
    // A folder in the way of a file cannot be replaced by it.
    fs::create_directories(dest / "03_Blocked.pptx");
    lf::test::writeFile(dest / "03_Blocked.pptx" / "inside.txt", "kept");
    // An older file in the way is replaced whole.
    lf::test::writeFile(dest / "01_Good.pptx", "an older and longer file");

    auto op = client_->newExportOperation();
    op->setDestinationDirectory(dest.string());
    op->add(good);
    op->add(damaged);
    op->add(blocked);
    EXPECT_FALSE(op->execute());
    ASSERT_EQ(op->errors()->count(), 2);
    EXPECT_EQ(op->errors()->item(0)->code(), code::NoContent);
    EXPECT_EQ(op->errors()->item(1)->code(), code::FileError);
    EXPECT_EQ(listing(dest), (std::set<std::string>{"01_Good.pptx", "03_Blocked.pptx"}))
        << "no temporary file and nothing under a failed node's name";
    EXPECT_EQ(lf::test::readFile(dest / "01_Good.pptx"), "good");
    EXPECT_EQ(lf::test::readFile(dest / "03_Blocked.pptx" / "inside.txt"), "kept");
    EXPECT_EQ(op->exportedObjects()->count(), 1);
}

TEST_F(TessarelContentTest, AFailedStatementLeavesItsReusedStatementWorking) {
    auto& storage = store_->storage();
    auto cabinet = storage.objectByPath("", "Edvara", Viewer{"", true});
    ASSERT_TRUE(cabinet);
    ObjectRecord r = *cabinet;
    r.name = "Copy";
    // The same id twice breaks the primary key; the statement is used again afterwards.
    EXPECT_EQ(thrown([&] { storage.insertObject(r); }).code(), code::StorageError);
    r.id = store_->newObjectId();
    storage.insertObject(r);
    EXPECT_TRUE(storage.idExists(r.id));
    // Statements read only to their first row are reset when given back: another connection
    // can still write and this one sees what it wrote.
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(storage.objectByPath("", "Edvara", Viewer{"", true}));
    auto other = openRepository(location());
    ObjectRecord o = r;
    o.id = other->newObjectId();
    o.name = "FromOther";
    {
        Transaction t(other->storage());
        other->storage().insertObject(o);
        t.commit();
    }
    EXPECT_TRUE(storage.objectByPath("", "FromOther", Viewer{"", true}));
    EXPECT_TRUE(storage.idExists(o.id));
}

TEST_F(TessarelContentTest, ALargeImportReportsItsFailuresInOrderAndStopsCleanly) {
    // Enough files that they are staged on several threads; the reports still come in node order.
    std::vector<std::string> files;
    for (int i = 0; i < 30; ++i)
        files.push_back(makeFile("many/" + std::to_string(100 + i) + "_Deck.pptx",
                                 randomBytes(20000, 500u + static_cast<unsigned>(i))));
    const size_t before = contentCount();
    auto monitor = std::make_shared<RecordingMonitor>();
    auto op = importInto("/Edvara/Courses", files, monitor);
    fs::remove(files[5]);
    fs::remove(files[20]);
    EXPECT_FALSE(op->execute());
    ASSERT_EQ(op->errors()->count(), 2);
    EXPECT_EQ(op->errors()->item(0)->node(), op->nodes()[5]);
    EXPECT_EQ(op->errors()->item(1)->node(), op->nodes()[20]);
    EXPECT_EQ(op->errors()->item(0)->code(), code::FileError);
    EXPECT_EQ(op->importedObjects()->count(), 28);
    EXPECT_EQ(contentCount(), before + 28);
    int lastPercent = -1;
    for (const auto& r : monitor->reports) {
        EXPECT_GE(r.operationPercent, lastPercent);
        lastPercent = r.operationPercent;
    }
    EXPECT_TRUE(store_->content().stagingLeftovers().empty());

    // Stopped by its monitor half way: nothing imported, nothing named, nothing left staged.
    makeFolders(s_, "/Edvara/Stopped");
    lf::test::writeFile(files[5], "back again");
    lf::test::writeFile(files[20], "back too");
    std::vector<std::string> fresh;
    for (int i = 0; i < 30; ++i)
        fresh.push_back(makeFile("fresh/" + std::to_string(i) + ".pptx",
                                 randomBytes(20000, 900u + static_cast<unsigned>(i))));
    auto stopping = std::make_shared<RecordingMonitor>();
    stopping->stopAfterReports = 10;
    auto stopped = importInto("/Edvara/Stopped", fresh, stopping);
    EXPECT_FALSE(stopped->execute());
    EXPECT_EQ(stopped->importedObjects()->count(), 0);
    EXPECT_EQ(countRows(admin_, "select r_object_id from ts_document where folder('/Edvara/Stopped')"), 0);
    EXPECT_EQ(contentCount(), before + 28);
    EXPECT_TRUE(store_->content().stagingLeftovers().empty());
    EXPECT_TRUE(fsck(*store_, true, false).clean());
}

TEST_F(TessarelContentTest, RepositoryFilesAre0600AndFolders0700WhateverTheUmask) {
    auto modesUnder = [](const fs::path& root) {
        std::set<std::string> out; // "path mode" for every file and folder, the root too
        auto add = [&](const fs::path& p) {
            struct stat st {};
            EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
            char mode[8];
            std::snprintf(mode, sizeof mode, "%o", st.st_mode & 07777);
            out.insert(std::string(S_ISDIR(st.st_mode) ? "folder " : "file ") + mode);
        };
        add(root);
        for (const auto& e : fs::recursive_directory_iterator(root))
            add(e.path());
        return out;
    };
    std::vector<std::string> files;
    for (int i = 0; i < 20; ++i) // more than a few: the batch road through content/ab/ folders
        files.push_back(makeFile("batch/" + std::to_string(i) + ".pptx", randomBytes(1000, 100 + i)));
    // The most open umask, and one that takes the owner's own write bit away.
    for (const mode_t mask : {mode_t{0}, mode_t{0277}}) {
        const mode_t old = ::umask(mask);
        const fs::path where = local("umask" + std::to_string(mask));
        {
            auto store = initRepository("sqlite:" + where.string());
            addUser(*store, "carol", "carol-secret");
            auto s = openAdminSession(store, "private", "carol");
            makeFolders(s, "/Private/Courses", true);
            auto op = client_->newImportOperation();
            op->setSession(s);
            op->setDestinationFolder(s->folderByPath("/Private/Courses")->objectId());
            for (const auto& f : files)
                op->add(client_->fileObject(f));
            ASSERT_TRUE(op->execute()) << "umask " << mask;
            makeDocument(s, "/Private/Courses", "One.pptx", "a single file, flushed on its own");
            // While the database is open its journal files exist too.
            EXPECT_TRUE(fs::exists(where / "repository.db-wal"));
            EXPECT_EQ(modesUnder(where), (std::set<std::string>{"file 600", "folder 700"}))
                << "umask " << mask;
        }
        ::umask(old);
    }
    // A repository made before, with files every account could read, goes on working.
    for (const auto& e : fs::recursive_directory_iterator(repoDir()))
        fs::permissions(e.path(), e.is_directory() ? fs::perms(0755) : fs::perms(0644));
    auto reopened = openRepository(location());
    auto s = openAdminSession(reopened, "ts_notes", "alice");
    EXPECT_EQ(makeDocument(s, "/Edvara/Courses", "After.pptx", "after")->versionLabel(), "1.0");
    EXPECT_EQ(countRows(alice(), "select r_object_id from ts_document"), 1);
}
