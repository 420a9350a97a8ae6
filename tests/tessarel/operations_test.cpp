// Export, import, check-out and check-in with their nodes, monitors, errors and versions.
#include "fixture.h"

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <utility>

namespace fs = std::filesystem;
using namespace lf::tessarel;
using namespace lf::tessarel::test;

namespace {

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec))
        out.insert(fs::relative(e.path(), dir).string());
    return out;
}

class TessarelOperationsTest : public OnEveryBackend<TessarelRepositoryTest> {
protected:
    void SetUp() override {
        TessarelRepositoryTest::SetUp();
        s_ = alice();
        monitor_ = std::make_shared<RecordingMonitor>();
    }
    TsSessionPtr s_;
    std::shared_ptr<RecordingMonitor> monitor_;
};

} // namespace

TEST_P(TessarelOperationsTest, ExportWritesNameOrNameDotExtension) {
    auto a = makeDocument(s_, "/Edvara/Courses", "02_Storage.pptx", "deck A");
    auto b = makeDocument(s_, "/Edvara/Courses", "03_Backup", "deck B", "03_Backup.pptx");
    auto c = makeDocument(s_, "/Edvara/Courses", "Notes.PPTX", "deck C");
    auto d = makeDocument(s_, "/Edvara/Courses", "O'Brien's guide", "doc D", "guide.docx");
    auto op = client_->newExportOperation();
    const fs::path dest = local("work");
    op->setDestinationDirectory(dest.string());
    EXPECT_EQ(op->destinationDirectory(), dest.string());
    for (const auto& o : {a, b, c, d})
        ASSERT_TRUE(op->add(o));
    EXPECT_EQ(op->add(a), op->nodes()[0]) << "an object is exported once";
    EXPECT_FALSE(op->add(client_->fileObject(makeFile("x.txt", "x")))) << "export takes repository objects";
    op->setMonitor(monitor_);
    ASSERT_TRUE(op->execute());
    EXPECT_EQ(listing(dest), (std::set<std::string>{"02_Storage.pptx", "03_Backup.pptx", "Notes.PPTX",
                                                    "O'Brien's guide.docx"}));
    EXPECT_EQ(lf::test::readFile(dest / "03_Backup.pptx"), "deck B");
    EXPECT_EQ(op->exportedObjects()->count(), 4);
    EXPECT_EQ(op->exportedObjects()->item(1)->objectName(), "03_Backup");
    EXPECT_EQ(op->errors()->count(), 0);

    ASSERT_EQ(monitor_->reports.size(), 4u);
    EXPECT_EQ(monitor_->reports[0].operation, "Export");
    EXPECT_EQ(monitor_->reports[0].step, "Export content");
    EXPECT_EQ(monitor_->reports[0].operationPercent, 25);
    EXPECT_EQ(monitor_->reports.back().operationPercent, 100);
    EXPECT_EQ(monitor_->reports.back().stepPercent, 100);
    EXPECT_TRUE(monitor_->errors.empty());

    // Exporting again over the files asks before it replaces them; the program's monitor says yes.
    ASSERT_TRUE(op->execute());
    EXPECT_EQ(monitor_->questions.size(), 4u);
    monitor_->yes = false;
    EXPECT_FALSE(op->execute());
    EXPECT_EQ(op->errors()->item(0)->code(), code::Cancelled);
}

TEST_P(TessarelOperationsTest, UnsafeObjectNamesWriteNothingOutsideTheDestination) {
    const fs::path dest = local("box/work");
    fs::create_directories(dest);
    const auto before = listing(local("box"));
    // Names the name rule keeps out of the repository, as one made before the rule may hold them:
    // the export's own check still refuses them.
    std::vector<TsObjectPtr> objects;
    int n = 0;
    for (const char* name : {"../escape.pptx", "../../escape2", "..", "sub/dir.pptx", "back\\slash.pptx",
                             "bell\x07.pptx", "line\nbreak.pptx"}) {
        auto doc = makeDocument(s_, "/Edvara/Courses", "legacy" + std::to_string(++n), "evil", "evil.pptx");
        // Past the repository's rules, as a repository made before them may hold it.
        ASSERT_EQ(damageSql("UPDATE objects SET name = " + tql::quoteString(name) + " WHERE id = '" +
                            doc->objectId()->text() + "'"),
                  "");
        doc->refresh();
        objects.push_back(doc);
    }
    auto good = makeDocument(s_, "/Edvara/Courses", "01_Good.pptx", "good");
    auto op = client_->newExportOperation();
    op->setDestinationDirectory(dest.string());
    for (const auto& o : objects)
        op->add(o);
    op->add(good);
    op->setMonitor(monitor_);
    EXPECT_FALSE(op->execute());
    EXPECT_EQ(op->errors()->count(), static_cast<int>(objects.size()));
    for (int i = 0; i < op->errors()->count(); ++i) {
        EXPECT_EQ(op->errors()->item(i)->code(), code::BadName);
        EXPECT_EQ(op->errors()->item(i)->node()->object(), objects[static_cast<size_t>(i)]);
    }
    EXPECT_EQ(monitor_->errors.size(), objects.size()) << "every failure is reported to the monitor";
    EXPECT_EQ(listing(dest), std::set<std::string>{"01_Good.pptx"});
    auto after = listing(local("box"));
    after.erase("work/01_Good.pptx");
    EXPECT_EQ(after, before);
    EXPECT_FALSE(fs::exists(local("escape.pptx")));
    EXPECT_EQ(op->exportedObjects()->count(), 1);

    // Check-out refuses them the same way, and takes no lock.
    auto co = client_->newCheckoutOperation();
    co->setDestinationDirectory(dest.string());
    co->add(objects[0]);
    EXPECT_FALSE(co->execute());
    EXPECT_EQ(co->errors()->item(0)->code(), code::BadName);
    objects[0]->refresh();
    EXPECT_FALSE(objects[0]->isCheckedOut());
}

TEST_P(TessarelOperationsTest, ExportReplacesALinkInsteadOfWritingThroughIt) {
    const fs::path dest = local("work");
    fs::create_directories(dest);
    const std::string outside = makeFile("outside/keep.pptx", "must stay");
    fs::create_symlink(outside, dest / "01_Deck.pptx");
    auto op = client_->newExportOperation();
    op->setDestinationDirectory(dest.string());
    op->add(makeDocument(s_, "/Edvara/Courses", "01_Deck.pptx", "exported"));
    ASSERT_TRUE(op->execute());
    EXPECT_EQ(lf::test::readFile(outside), "must stay");
    EXPECT_FALSE(fs::is_symlink(dest / "01_Deck.pptx"));
    EXPECT_EQ(lf::test::readFile(dest / "01_Deck.pptx"), "exported");
}

TEST_P(TessarelOperationsTest, TwoObjectsForOneLocalFileAreNotMerged) {
    makeFolders(s_, "/Edvara/Courses/A");
    makeFolders(s_, "/Edvara/Courses/B");
    auto first = makeDocument(s_, "/Edvara/Courses/A", "01_Intro.pptx", "from A");
    auto second = makeDocument(s_, "/Edvara/Courses/B", "01_Intro.pptx", "from B");
    auto op = client_->newExportOperation();
    op->setDestinationDirectory(local("work").string());
    op->add(first);
    op->add(second);
    EXPECT_FALSE(op->execute());
    ASSERT_EQ(op->errors()->count(), 1);
    EXPECT_EQ(op->errors()->item(0)->code(), code::NameConflict);
    EXPECT_EQ(lf::test::readFile(local("work/01_Intro.pptx")), "from A");
}

TEST_P(TessarelOperationsTest, EmptyOperationsSucceedWithoutReports) {
    auto ex = client_->newExportOperation();
    ex->setMonitor(monitor_);
    EXPECT_TRUE(ex->execute()) << "even without a destination, there is nothing to do";
    auto co = client_->newCheckoutOperation();
    co->setDestinationDirectory(local("work").string());
    co->setMonitor(monitor_);
    EXPECT_TRUE(co->execute());
    EXPECT_EQ(co->checkedOutObjects()->count(), 0);
    auto ci = client_->newCheckinOperation();
    ci->setMonitor(monitor_);
    EXPECT_TRUE(ci->execute());
    EXPECT_TRUE(monitor_->reports.empty());
    EXPECT_TRUE(monitor_->errors.empty());
}

TEST_P(TessarelOperationsTest, AMonitorThatAnswersZeroStopsTheOperation) {
    auto op = client_->newExportOperation();
    op->setDestinationDirectory(local("work").string());
    for (int i = 0; i < 3; ++i)
        op->add(makeDocument(s_, "/Edvara/Courses", "0" + std::to_string(i) + "_D.pptx", "d"));
    monitor_->stopAfterReports = 1;
    op->setMonitor(monitor_);
    EXPECT_FALSE(op->execute());
    EXPECT_EQ(monitor_->reports.size(), 1u);
    EXPECT_EQ(op->exportedObjects()->count(), 1);
    EXPECT_EQ(op->errors()->count(), 2);
    EXPECT_EQ(op->errors()->item(0)->code(), code::Cancelled);
    EXPECT_FALSE(fs::exists(local("work/02_D.pptx")));
}

TEST_P(TessarelOperationsTest, ImportTakesTheFormatFromTheExtension) {
    auto folder = s_->folderByPath("/Edvara/Courses");
    auto op = client_->newImportOperation();
    op->setSession(s_);
    op->setDestinationFolder(folder->objectId());
    const std::vector<std::pair<std::string, std::string>> files = {
        {"01_Intro.pptx", "ppt8"}, {"Guide.docx", "msw8"}, {"Old.doc", "msw6"},     {"Course.zip", "zip"},
        {"Print.prn", "prn"},      {"Read.TXT", "crtext"}, {"Data.weird", "weird"}, {"NoExtension", ""}};
    for (const auto& [name, format] : files) {
        auto node = std::dynamic_pointer_cast<TsImportNode>(
            op->add(client_->fileObject(makeFile("in/" + name, name))));
        ASSERT_TRUE(node);
        EXPECT_EQ(node->newObjectName(), name);
    }
    std::dynamic_pointer_cast<TsImportNode>(op->nodes()[1])->setNewObjectName("Lab Guide");
    EXPECT_FALSE(op->add(s_->folderByPath("/Edvara"))) << "import takes files";
    op->setMonitor(monitor_);
    ASSERT_TRUE(op->execute());
    EXPECT_EQ(op->importedObjects()->count(), static_cast<int>(files.size()));
    for (size_t i = 0; i < files.size(); ++i) {
        auto obj = op->importedObjects()->item(static_cast<int>(i));
        EXPECT_EQ(obj->getString("a_content_type"), files[i].second) << files[i].first;
        EXPECT_EQ(obj->getString("owner_name"), "alice");
    }
    EXPECT_TRUE(s_->objectByPath("/Edvara/Courses/Lab Guide"));
    EXPECT_EQ(monitor_->reports.back().operation, "Import");
    EXPECT_EQ(monitor_->reports.back().operationPercent, 100);

    // The new format is kept, and an export names the file after it.
    auto ex = client_->newExportOperation();
    ex->setDestinationDirectory(local("out").string());
    ex->add(s_->objectByPath("/Edvara/Courses/Data.weird"));
    ex->add(s_->objectByPath("/Edvara/Courses/Lab Guide"));
    ex->add(s_->objectByPath("/Edvara/Courses/NoExtension"));
    ASSERT_TRUE(ex->execute());
    EXPECT_EQ(listing(local("out")), (std::set<std::string>{"Data.weird", "Lab Guide.docx", "NoExtension"}));
}

TEST_P(TessarelOperationsTest, ImportFailuresAreReportedPerNode) {
    auto op = client_->newImportOperation();
    op->setMonitor(monitor_);
    op->add(client_->fileObject(makeFile("in/a.pptx", "a")));
    EXPECT_FALSE(op->execute());
    EXPECT_EQ(op->errors()->item(0)->code(), code::NotConnected);

    op->setSession(s_);
    op->setDestinationFolder(client_->objectIdFromText("0900000000000000"));
    EXPECT_FALSE(op->execute());
    EXPECT_EQ(op->errors()->item(0)->code(), code::ObjectNotFound);

    // A file that vanished after it was added fails its node; the others are imported.
    op->setDestinationFolder(s_->folderByPath("/Edvara/Courses")->objectId());
    const std::string gone = makeFile("in/b.pptx", "b");
    op->add(client_->fileObject(gone));
    fs::remove(gone);
    EXPECT_FALSE(op->execute());
    ASSERT_EQ(op->errors()->count(), 1);
    EXPECT_EQ(op->errors()->item(0)->code(), code::FileError);
    EXPECT_TRUE(s_->objectByPath("/Edvara/Courses/a.pptx"));
    EXPECT_FALSE(s_->objectByPath("/Edvara/Courses/b.pptx"));
    EXPECT_TRUE(fsck(*store_, true, false).clean());
}

TEST_P(TessarelOperationsTest, CheckOutLocksForOneUserAndCheckInMakesVersions) {
    auto deck = makeDocument(s_, "/Edvara/Courses", "02_Storage", "version one", "x.pptx");
    const std::string id = deck->objectId()->text();

    auto q = client_->newQuery();
    q->setTQL("select r_object_id from ts_document where folder('/Edvara/Courses',descend) and "
              "a_content_type='ppt8'");
    auto rows = q->execute(s_, 0);
    auto co = client_->newCheckoutOperation();
    co->setDestinationDirectory(local("work").string());
    while (rows->next()) {
        auto node = std::dynamic_pointer_cast<TsCheckoutNode>(
            co->add(s_->objectById(client_->objectIdFromText(rows->getString("r_object_id")))));
        ASSERT_TRUE(node);
        EXPECT_EQ(node->objectId()->text(), id);
    }
    rows->close();
    co->setMonitor(monitor_);
    ASSERT_TRUE(co->execute());
    EXPECT_EQ(monitor_->reports.back().operation, "Checkout");
    auto list = co->checkedOutObjects();
    ASSERT_EQ(list->count(), 1);
    EXPECT_TRUE(list->item(0)->isCheckedOut());
    EXPECT_EQ(list->item(0)->lockOwner(), "alice");
    const fs::path localFile = local("work/02_Storage.pptx");
    EXPECT_EQ(lf::test::readFile(localFile), "version one");
    EXPECT_EQ(
        column(s_, "select r_lock_owner from ts_document where r_object_id = '" + id + "'", "r_lock_owner"),
        std::vector<std::string>{"alice"});

    // Bob can neither take the lock nor check in nor cancel Alice's check-out.
    auto b = bob();
    auto bco = client_->newCheckoutOperation();
    bco->setDestinationDirectory(local("bobwork").string());
    bco->add(b->objectById(id));
    EXPECT_FALSE(bco->execute());
    EXPECT_EQ(bco->errors()->item(0)->code(), code::LockConflict);
    EXPECT_EQ(bco->errors()->item(0)->getMessage(), "'02_Storage' is already checked out by alice");
    EXPECT_FALSE(fs::exists(local("bobwork/02_Storage.pptx")));
    auto bci = client_->newCheckinOperation();
    bci->add(b->objectById(id));
    EXPECT_FALSE(bci->execute());
    EXPECT_EQ(bci->errors()->item(0)->code(), code::NotLockOwner);
    EXPECT_EQ(thrown([&] { b->objectById(id)->cancelCheckout(); }).code(), code::NotLockOwner);
    auto edit = b->objectById(id);
    edit->setObjectName("Renamed by Bob");
    EXPECT_EQ(thrown([&] { edit->save(); }).code(), code::LockConflict);

    // Alice edits the checked-out file and checks the list back in: version 1.1, same id.
    lf::test::writeFile(localFile, "version two");
    auto ci = client_->newCheckinOperation();
    for (int i = 0; i < list->count(); ++i) {
        auto node =
            std::dynamic_pointer_cast<TsCheckinNode>(ci->add(s_->objectById(list->item(i)->objectId())));
        ASSERT_TRUE(node);
        EXPECT_EQ(node->objectId()->text(), id);
    }
    ASSERT_TRUE(ci->execute());
    deck = s_->objectById(id);
    EXPECT_FALSE(deck->isCheckedOut());
    EXPECT_EQ(deck->versionLabel(), "1.1");
    EXPECT_EQ(column(s_, "select r_version_label from ts_document where object_name = '02_Storage'",
                     "r_version_label"),
              std::vector<std::string>{"1.1"});
    deck->getFile(local("current.pptx").string());
    EXPECT_EQ(lf::test::readFile(local("current.pptx")), "version two");

    // A second round with a content file set on the object: 1.2, and every version keeps its content.
    auto co2 = client_->newCheckoutOperation();
    co2->setDestinationDirectory(local("work").string());
    co2->add(deck);
    ASSERT_TRUE(co2->execute());
    deck->setFile(makeFile("elsewhere/new.pptx", "version three"));
    auto ci2 = client_->newCheckinOperation();
    ci2->add(deck);
    ASSERT_TRUE(ci2->execute());
    EXPECT_EQ(deck->versionLabel(), "1.2");
    EXPECT_EQ(deck->getString("r_modifier"), "alice");
    const auto versions = objectVersions(deck);
    ASSERT_EQ(versions.size(), 3u);
    EXPECT_EQ(versions[0].label, "1.0");
    EXPECT_EQ(versions[1].label, "1.1");
    EXPECT_TRUE(versions[2].current);
    EXPECT_EQ(versions[0].hash, store_->content().stage(makeFile("v1", "version one")).hash);
    for (const auto& v : versions)
        EXPECT_TRUE(store_->content().contains(v.hash)) << v.label;
    EXPECT_TRUE(fsck(*store_, true, false).clean());

    // Checking in what is not checked out fails.
    auto ci3 = client_->newCheckinOperation();
    ci3->add(deck);
    EXPECT_FALSE(ci3->execute());
    EXPECT_EQ(ci3->errors()->item(0)->code(), code::NotCheckedOut);
}

TEST_P(TessarelOperationsTest, VersioningADocumentThatIsNotCheckedOut) {
    // The TOC writer's "version it" road: check the object out by itself, set the saved document as
    // its content, put it in a fresh list and check that list in.
    makeDocument(s_, "/Edvara/Courses", "TOC.docx", "old toc");
    auto toc = s_->objectByPath("/Edvara/Courses/TOC.docx");
    ASSERT_FALSE(toc->isCheckedOut());
    auto co = client_->newCheckoutOperation();
    co->setDestinationDirectory(local("temp").string());
    co->add(toc);
    ASSERT_TRUE(co->execute());
    toc->setFile(makeFile("working/TOC.docx", "new toc"));
    auto list = co->checkedOutObjects();
    list->clear();
    list->append(toc);
    auto ci = client_->newCheckinOperation();
    for (int i = 0; i < list->count(); ++i)
        ci->add(s_->objectById(list->item(i)->objectId()));
    ASSERT_TRUE(ci->execute());
    auto now = alice()->objectByPath("/Edvara/Courses/TOC.docx");
    now->refresh();
    EXPECT_EQ(now->versionLabel(), "1.1");
    now->getFile(local("check.docx").string());
    EXPECT_EQ(lf::test::readFile(local("check.docx")), "new toc");
}

TEST_P(TessarelOperationsTest, CancellingACheckOutFreesTheLock) {
    auto deck = makeDocument(s_, "/Edvara/Courses", "01_Intro.pptx", "deck");
    auto co = client_->newCheckoutOperation();
    co->setDestinationDirectory(local("work").string());
    co->add(deck);
    ASSERT_TRUE(co->execute());
    deck->cancelCheckout();
    EXPECT_FALSE(deck->isCheckedOut());
    EXPECT_EQ(thrown([&] { deck->cancelCheckout(); }).code(), code::NotCheckedOut);
    auto bco = client_->newCheckoutOperation();
    bco->setDestinationDirectory(local("bob").string());
    bco->add(bob()->objectById(deck->objectId()));
    EXPECT_TRUE(bco->execute());
    EXPECT_EQ(deck->versionLabel(), "1.0") << "cancelling makes no version";
}

TEST_P(TessarelOperationsTest, FsckFindsBothKindsOfDamage) {
    auto deck = makeDocument(s_, "/Edvara/Courses", "01_Intro.pptx", "deck bytes");
    EXPECT_TRUE(fsck(*store_, true, false).clean());
    const std::string hash = deck->record().contentHash;
    // Content without metadata under a hash name, and metadata whose content is gone: damage that
    // only comes past the repository's rules (by hand on its files, or on its database by a
    // superuser with the triggers off).
    const std::string stray = std::string(64, 'a');
    if (onServer()) {
        lf::test::sharedPostgres().exec("SET session_replication_role = replica; "
                                        "INSERT INTO tessarel.content VALUES('" +
                                            stray +
                                            "', 5, 1); "
                                            "INSERT INTO tessarel.content_chunks VALUES('" +
                                            stray +
                                            "', 0, 'stray', sha256('stray')); "
                                            "DELETE FROM tessarel.content WHERE hash = '" +
                                            hash + "'",
                                        database().name);
    } else {
        fs::create_directories(repoDir() / "content/aa");
        lf::test::writeFile(repoDir() / "content/aa" / stray, "stray");
        fs::remove(dynamic_cast<FileContentStore&>(store_->content()).pathOf(hash));
    }
    auto report = fsck(*store_, false, true);
    EXPECT_EQ(report.orphanContent, std::vector<std::string>{stray});
    EXPECT_EQ(report.missingContent, std::vector<std::string>{hash});
    EXPECT_EQ(report.objectsWithoutContent,
              std::vector<std::string>{"'/Edvara/Courses/01_Intro.pptx' (id " + deck->record().id +
                                       ") has lost its content " + hash});
    // While an object misses its content, an orphan may be those very bytes under a hash the
    // damage changed: repair keeps it.
    EXPECT_TRUE(report.orphansKept);
    EXPECT_TRUE(store_->content().contains(stray)) << "repair keeps the orphan while metadata is damaged";
    // Exporting the damaged object fails its node with a clear error.
    auto ex = client_->newExportOperation();
    ex->setDestinationDirectory(local("work").string());
    ex->add(deck);
    EXPECT_FALSE(ex->execute());
    EXPECT_EQ(ex->errors()->item(0)->code(), code::NoContent);

    // With the damaged object gone, the orphan is one for sure.
    ASSERT_EQ(damageSql("DELETE FROM objects WHERE content_hash = '" + hash + "'"), "");
    report = fsck(*store_, false, true);
    EXPECT_FALSE(report.orphansKept);
    EXPECT_FALSE(store_->content().contains(stray)) << "repair removes the orphan";
    EXPECT_TRUE(fsck(*store_, false, false).clean());
}

TEST_P(TessarelOperationsTest, ExportWritesTheCurrentVersionEvenFromAnOldReference) {
    auto mine = makeDocument(s_, "/Edvara/Courses", "01_Intro.pptx", "first");
    auto b = bob();
    auto theirs = b->objectById(mine->objectId());
    auto co = client_->newCheckoutOperation();
    co->setDestinationDirectory(local("bob").string());
    co->add(theirs);
    ASSERT_TRUE(co->execute());
    lf::test::writeFile(local("bob/01_Intro.pptx"), "second");
    auto ci = client_->newCheckinOperation();
    ci->add(theirs);
    ASSERT_TRUE(ci->execute());

    auto ex = client_->newExportOperation();
    ex->setDestinationDirectory(local("work").string());
    ex->add(mine);
    ASSERT_TRUE(ex->execute());
    EXPECT_EQ(lf::test::readFile(local("work/01_Intro.pptx")), "second");
    EXPECT_EQ(mine->versionLabel(), "1.1");
}

TEST_P(TessarelOperationsTest, AFileChangedAfterStagingIsNeverStoredHalfChanged) {
    // Small files, the same bytes twice, an empty file, and a file of three chunks on the server.
    std::mt19937_64 rng(5);
    auto bytes = [&](size_t n) {
        std::string b(n, '\0');
        for (auto& c : b)
            c = static_cast<char>(rng());
        return b;
    };
    const std::string same = bytes(70000);
    const std::map<std::string, std::string> content = {{"a.pptx", same},
                                                        {"b.pptx", same},
                                                        {"c.docx", bytes(5000)},
                                                        {"empty.txt", ""},
                                                        {"big.zip", bytes(2621447)},
                                                        {"d.pptx", bytes(9000)}};
    std::vector<std::string> files;
    for (const auto& [name, b] : content)
        files.push_back(makeFile("in/" + name, b));
    const size_t before = store_->content().allContent().size();
    auto importAll = [&](const std::string& folder, bool changeAfterStaging) {
        makeFolders(admin_, folder);
        auto op = client_->newImportOperation();
        op->setSession(s_);
        op->setDestinationFolder(s_->folderByPath(folder)->objectId());
        for (const auto& f : files)
            op->add(client_->fileObject(f));
        struct Changer : RecordingMonitor {
            std::function<void()> once;
            int progressReport(const std::shared_ptr<TsOperation>& o, int p, const TsOperationStepPtr& step,
                               int sp, const std::shared_ptr<TsOperationNode>& n) override {
                if (once && step->name() == "Transfer content" && sp == 100)
                    std::exchange(once, nullptr)();
                return RecordingMonitor::progressReport(o, p, step, sp, n);
            }
        };
        auto monitor = std::make_shared<Changer>();
        if (changeAfterStaging)
            monitor->once = [&] { lf::test::writeFile(local("in/c.docx"), bytes(5000)); };
        op->setMonitor(monitor);
        return std::make_pair(op->execute(), op);
    };

    // Every file is staged when c.docx changes. The embedded repository stored a copy of what it
    // staged; the server reads the file again as it sends it, finds other bytes and fails the
    // whole import, with every statement sent before it taken back.
    const auto [changedOk, changed] = importAll("/Edvara/Changed", true);
    if (onServer()) {
        EXPECT_FALSE(changedOk);
        ASSERT_GT(changed->errors()->count(), 0);
        EXPECT_EQ(changed->errors()->item(0)->code(), code::FileError);
        EXPECT_EQ(countRows(s_, "select r_object_id from ts_document where folder('/Edvara/Changed')"), 0);
        EXPECT_EQ(store_->content().allContent().size(), before);
    } else {
        EXPECT_TRUE(changedOk);
        EXPECT_EQ(
            lf::test::readFile(s_->objectByPath("/Edvara/Changed/c.docx")->getFile(local("c").string())),
            content.at("c.docx"));
    }

    // The session goes on: the files import, each distinct content once, and read back whole.
    const auto [ok, op] = importAll("/Edvara/Again", false);
    ASSERT_TRUE(ok);
    EXPECT_EQ(store_->content().allContent().size(), before + (onServer() ? 5 : 6));
    ASSERT_TRUE(importAll("/Edvara/Third", false).first);
    EXPECT_EQ(store_->content().allContent().size(), before + (onServer() ? 5 : 6)) << "held already";
    auto ex = client_->newExportOperation();
    ex->setDestinationDirectory(local("out").string());
    for (int i = 0; i < op->importedObjects()->count(); ++i)
        ex->add(op->importedObjects()->item(i));
    ASSERT_TRUE(ex->execute());
    for (const auto& f : files)
        EXPECT_EQ(lf::test::readFile(local("out") / fs::path(f).filename()), lf::test::readFile(f)) << f;
    EXPECT_TRUE(fsck(*store_, true, false).clean());
}

INSTANTIATE_TEST_SUITE_P(Backends, TessarelOperationsTest, everyBackend(), backendName);
