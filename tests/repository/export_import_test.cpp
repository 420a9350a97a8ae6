// ExportFolder and ImportFiles against a real repository: selectors, the working files list, the
// log lines, the zipped import, and the quoting of texts placed in queries.
#include "repository/monitor.h"
#include "repository/repository_ops.h"
#include "repository_fixture.h"
#include "tessarel/repository_store.h"
#include "workfiles/working_files.h"

#include <QProcess>

#include <sqlite3.h>
#include <zip.h>

#include <algorithm>
#include <optional>

namespace lf::test {
namespace {

namespace fs = std::filesystem;
using repository::ExportFolder;
using repository::ImportFiles;

QStringList sorted(QStringList l) {
    l.sort();
    return l;
}

class ExportTest : public RepositoryTest {
protected:
    void SetUp() override {
        RepositoryTest::SetUp();
        const fs::path src = temp / "src";
        fs::create_directories(src);
        const auto decks = corpusFiles("pptx");
        const auto docs = corpusFiles("docx");
        ASSERT_GE(decks.size(), 3u);
        ASSERT_GE(docs.size(), 2u);
        fs::copy_file(decks[0], src / "Module 1.pptx");
        fs::copy_file(decks[1], src / "Module 2.pptx");
        fs::copy_file(docs[1], src / "Notes.docx");
        writeFile(src / "Old.doc", "an old Word document");
        writeFile(src / "Readme.pdf", "%PDF-1.4 not a deck");
        repo->importFiles({src / "Module 1.pptx", src / "Module 2.pptx", src / "Notes.docx", src / "Old.doc",
                           src / "Readme.pdf"},
                          kCourse);
        fs::create_directories(temp / "labs");
        fs::copy_file(decks[2], temp / "labs" / "Lab 1.pptx");
        repo->importFiles({temp / "labs" / "Lab 1.pptx"}, std::string(kCourse) + "/Labs");
        // A document whose name lacks its extension.
        auto handout = repo->admin->newObject("ts_document");
        handout->setObjectName("Handout");
        handout->setFile((src / "Notes.docx").string());
        handout->link(kCourse);
        handout->save();
        ASSERT_TRUE(loginThroughDialog(kUser, kPassword));
        courseId = repository::folderIdText(kCourse);
        ASSERT_FALSE(courseId.isEmpty());
    }
    // The working files of the run the exports are made for.
    workfiles::WorkingFiles& files() {
        if (!files_) {
            fs::create_directories(driveT / "work"); // made by the settings when missing
            files_.emplace(QStringLiteral("T:\\work"));
        }
        return *files_;
    }
    bool exportInto(const QString& id, const QString& destination, std::int16_t selector,
                    QStringList* names = nullptr) {
        return ExportFolder(repository::connection().session, &files(), id, destination, selector, names);
    }
    QString courseId;
    std::optional<workfiles::WorkingFiles> files_;
};

TEST_F(ExportTest, DecksOnlyRecordsEveryExportedFileThatIsNew) {
    // A file the user had there before is replaced by the export, but it is not a working file.
    fs::create_directories(driveT / "work");
    writeFile(driveT / "work" / "Module 2.pptx", "the user's own");
    QStringList exported;
    ASSERT_TRUE(exportInto(courseId, "T:\\work", repository::kExportDecks, &exported));
    EXPECT_EQ(sorted(exported), (QStringList{"Lab 1.pptx", "Module 1.pptx", "Module 2.pptx"}));
    EXPECT_EQ(sorted(files().files()), (QStringList{"T:\\work\\Lab 1.pptx", "T:\\work\\Module 1.pptx"}));
    for (const QString& f : files().files())
        EXPECT_TRUE(fs::is_regular_file(hostOf(f))) << f.toStdString();
    EXPECT_EQ(readFile(driveT / "work" / "Module 1.pptx"), readFile(corpusFiles("pptx")[0]));
    EXPECT_EQ(linesOf("Export"), (QStringList{"Starting export to T:\\work",
                                              "Please wait, this could take a while", "Exported 3 objects"}));
    EXPECT_TRUE(log.errors.isEmpty());
    EXPECT_FALSE(pointer.hourglass);
    EXPECT_EQ(pointer.changes.front(), true);
    EXPECT_FALSE(repository::frmProgress::isLoaded());

    // The cleanup deletes exactly what the export recorded.
    files().CleanWorkingFiles();
    EXPECT_TRUE(linesOf("CleanWorkingFiles").isEmpty());
    EXPECT_FALSE(fs::exists(driveT / "work" / "Module 1.pptx"));
    EXPECT_TRUE(fs::exists(driveT / "work" / "Module 2.pptx"));
    EXPECT_EQ(files().count(), 0);
}

TEST_F(ExportTest, WordDocumentsOnlyAddTheMissingExtension) {
    ASSERT_TRUE(exportInto(courseId, "T:\\work", repository::kExportWordDocuments));
    EXPECT_EQ(sorted(files().files()),
              (QStringList{"T:\\work\\Handout.docx", "T:\\work\\Notes.docx", "T:\\work\\Old.doc"}));
    EXPECT_TRUE(fs::is_regular_file(driveT / "work" / "Handout.docx"));
    EXPECT_EQ(linesOf("Export").last(), "Exported 3 objects");
}

TEST_F(ExportTest, DecksAndDocumentsLeaveOtherFormatsBehind) {
    ASSERT_TRUE(exportInto(courseId, "T:\\work\\all", repository::kExportDecksAndDocuments));
    EXPECT_EQ(files().files().size(), 6);
    EXPECT_FALSE(files().files().contains("T:\\work\\all\\Readme.pdf"));
    EXPECT_FALSE(fs::exists(driveT / "work" / "all" / "Readme.pdf"));
    EXPECT_EQ(linesOf("Export").last(), "Exported 6 objects");
}

TEST_F(ExportTest, AnyOtherSelectorSendsTheEmptyQuery) {
    EXPECT_TRUE(repository::exportQuery(courseId, 3).isEmpty());
    EXPECT_TRUE(repository::exportQuery(courseId, 0).isEmpty());
    EXPECT_FALSE(exportInto(courseId, "T:\\work", 3));
    EXPECT_TRUE(files().files().isEmpty());
    ASSERT_EQ(linesOf("Export").size(), 1);
    EXPECT_FALSE(linesOf("Export")[0].startsWith("Starting export"));
    EXPECT_FALSE(pointer.hourglass);
}

TEST_F(ExportTest, QueryTextsFollowTheSelector) {
    EXPECT_EQ(repository::exportQuery("0123456789abcdef", 2),
              "select r_object_id from ts_document where folder(ID('0123456789abcdef'),descend) and "
              "(a_content_type = 'ppt8')");
    EXPECT_EQ(repository::exportQuery("x", 1),
              "select r_object_id from ts_document where folder(ID('x'),descend) "
              "and (a_content_type = 'msw8' or a_content_type = 'msw6')");
    EXPECT_EQ(
        repository::exportQuery("x", 4),
        "select r_object_id from ts_document where folder(ID('x'),descend) and (a_content_type = 'ppt8' "
        "or a_content_type = 'msw6' or a_content_type = 'msw8')");
}

TEST_F(ExportTest, AQuoteInTheIdNeverWidensTheQuery) {
    const QString hostile = courseId + "'),descend) or (a_content_type = 'pdf') or folder(ID('" + courseId;
    EXPECT_TRUE(repository::exportQuery(hostile, 2).contains("''),descend) or (a_content_type = ''pdf'')"));
    EXPECT_FALSE(exportInto(hostile, "T:\\work", repository::kExportDecks));
    EXPECT_TRUE(files().files().isEmpty());
    EXPECT_FALSE(fs::exists(driveT / "work" / "Readme.pdf"));
    EXPECT_EQ(linesOf("Export").size(), 1);
}

TEST_F(ExportTest, AnEmptyFolderExportsNothingSuccessfully) {
    tessarel::makeFolders(repo->admin, "/Edvara/Empty");
    ASSERT_TRUE(exportInto(repository::folderIdText("/Edvara/Empty"), "T:\\work", 2));
    EXPECT_EQ(linesOf("Export").last(), "Exported 0 objects");
    EXPECT_TRUE(files().files().isEmpty());
}

TEST_F(ExportTest, ADamagedFolderOfTheCourseFailsTheExportRatherThanPassingOverIt) {
    // The Labs folder's row no longer agrees with its parent (as damage by hand would leave it);
    // the deck below it is still found by the course's query.
    auto labs = repo->store->storage().objectByPath(kCourse, "Labs", tessarel::Viewer{"", true});
    ASSERT_TRUE(labs);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((repo->store->folder() + "/repository.db").c_str(), &db), SQLITE_OK);
    const std::string damage =
        "UPDATE objects SET parent_path = '/Edvara/Elsewhere' WHERE id = '" + labs->id + "'";
    EXPECT_EQ(sqlite3_exec(db, damage.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    QStringList exported;
    EXPECT_FALSE(exportInto(courseId, "T:\\work", repository::kExportDecks, &exported));
    EXPECT_FALSE(exported.contains("Lab 1.pptx"));
    EXPECT_FALSE(fs::exists(driveT / "work" / "Lab 1.pptx"));
    const QStringList lines = linesOf("Export");
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const QString& line) {
        return line.startsWith("The repository is damaged: '/Edvara/Courses/Storage/Labs/Lab 1.pptx'") &&
               line.contains("its parent folder (id " + QString::fromStdString(labs->id) + ")");
    })) << lines.join('\n').toStdString();
}

TEST_F(ExportTest, ABadIdIsReportedUnderExport) {
    EXPECT_FALSE(exportInto("not-an-id", "T:\\work", 2));
    EXPECT_EQ(linesOf("Export").size(), 1);
    EXPECT_FALSE(linesOf("Export")[0].startsWith("Serious error:")); // the library's own message
    EXPECT_FALSE(pointer.hourglass);
}

TEST_F(ExportTest, WithoutASessionNothingHappens) {
    repository::connection().session.reset();
    pointer.changes.clear();
    EXPECT_FALSE(exportInto(courseId, "T:\\work", 2));
    EXPECT_EQ(log.lines,
              QStringList{"Export - You are not connected to the repository.  Click the Connect button."});
    EXPECT_TRUE(pointer.changes.empty());
}

class ImportTest : public RepositoryTest {
protected:
    void SetUp() override {
        RepositoryTest::SetUp();
        out = driveT / "out";
        fs::create_directories(out);
        writeFile(out / "A.prn", std::string(20000, 'a'));
        writeFile(out / "b.prn", "print file b");
        writeFile(out / "notes.txt", "not a print file");
        tessarel::makeFolders(repo->admin, "/Edvara/O'Brien's course/Print");
        ASSERT_TRUE(loginThroughDialog(kUser, kPassword));
    }
    std::string contentOf(const std::string& repositoryPath) {
        auto object = repo->admin->objectByPath(repositoryPath);
        if (!object)
            return {};
        const fs::path copy = temp / "fetched";
        object->getFile(copy.string());
        return readFile(copy);
    }
    const QString dest = "/Edvara/O'Brien's course/Print";
    fs::path out;
};

TEST_F(ImportTest, APatternImportsEachMatchingFile) {
    ASSERT_TRUE(ImportFiles(repository::connection().session, nullptr, "T:\\out", "*.prn", dest, false, ""));
    EXPECT_EQ(linesOf("Import"), (QStringList{"Added node A.prn", "Added node b.prn",
                                              "Starting import into /Edvara/O'Brien's course/Print",
                                              "Please wait, this could take a while", "Import successful"}));
    EXPECT_EQ(contentOf("/Edvara/O'Brien's course/Print/A.prn"), std::string(20000, 'a'));
    EXPECT_EQ(contentOf("/Edvara/O'Brien's course/Print/b.prn"), "print file b");
    EXPECT_FALSE(repo->admin->objectByPath("/Edvara/O'Brien's course/Print/notes.txt"));
    EXPECT_FALSE(pointer.hourglass);
    EXPECT_FALSE(repository::frmProgress::isLoaded());
    EXPECT_TRUE(log.errors.isEmpty());
}

// The repository keeps names as text: a print file named in bytes that are not UTF-8 would come back
// under another name. The import is refused naming it, and nothing reaches the folder.
TEST_F(ImportTest, ANameThatIsNotUtf8IsRefusedAndNothingIsImported) {
    writeFile(out / std::string("c\xe9.prn"), "print file c");
    EXPECT_FALSE(ImportFiles(repository::connection().session, nullptr, "T:\\out", "*.prn", dest, false, ""));
    EXPECT_FALSE(log.failures.isEmpty());
    EXPECT_TRUE(log.lines.join('\n').contains(
        QString::fromUtf8("The repository cannot keep the name \"c\uFFFD.prn\"")))
        << log.lines.join('\n').toStdString();
    EXPECT_FALSE(repo->admin->objectByPath("/Edvara/O'Brien's course/Print/A.prn"));
    EXPECT_FALSE(repo->admin->objectByPath("/Edvara/O'Brien's course/Print/b.prn"));
}

TEST_F(ImportTest, APatternMatchingNothingStillRunsTheOperation) {
    const bool ok =
        ImportFiles(repository::connection().session, nullptr, "T:\\out", "*.pdf", dest, false, "");
    const QStringList lines = linesOf("Import");
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], "Starting import into " + dest);
    EXPECT_EQ(ok, lines.last() == "Import successful");
}

TEST_F(ImportTest, AZippedImportMakesOneNodeAfterTheWinZipBox) {
    ASSERT_TRUE(ImportFiles(repository::connection().session, nullptr, "T:\\out", "\\*.prn", dest, true,
                            "Print.zip"));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "WinZip Done?");
    EXPECT_EQ(boxes.shown[0].text, "Please click OK when WinZip is finished");
    EXPECT_EQ(boxes.shown[0].icon, platform::MessageIcon::Information);
    EXPECT_EQ(linesOf("Import"), (QStringList{"Added node Print.zip", "Starting import into " + dest,
                                              "Please wait, this could take a while", "Import successful"}));
    const std::string zipBytes = contentOf("/Edvara/O'Brien's course/Print/Print.zip");
    ASSERT_FALSE(zipBytes.empty());
    writeFile(temp / "check.zip", zipBytes);
    QProcess unzip;
    unzip.start("unzip", {"-Z1", QString::fromStdString((temp / "check.zip").string())});
    ASSERT_TRUE(unzip.waitForFinished(30000));
    EXPECT_EQ(unzip.exitCode(), 0);
    QStringList names = QString::fromUtf8(unzip.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(sorted(names), (QStringList{"A.prn", "b.prn"}));
    EXPECT_FALSE(repo->admin->objectByPath("/Edvara/O'Brien's course/Print/A.prn"));
}

TEST_F(ImportTest, AZipThatWasNotMadeStopsTheImport) {
    ASSERT_FALSE(ImportFiles(repository::connection().session, nullptr, "T:\\missing", "\\*.prn", dest, true,
                             "Print.zip"));
    EXPECT_TRUE(boxes.shown.empty()); // no "WinZip Done?" for a zip that was not made
    EXPECT_EQ(linesOf("Import"), QStringList{"The zip file Print.zip was not made; nothing was imported"});
    EXPECT_EQ(linesOf("Zip").size(), 1); // the packer said why
    EXPECT_FALSE(pointer.hourglass);
}

TEST_F(ImportTest, AMissingDestinationFolderIsNamed) {
    EXPECT_FALSE(ImportFiles(repository::connection().session, nullptr, "T:\\out", "*.prn", "/Edvara/Nowhere",
                             false, ""));
    EXPECT_EQ(linesOf("Import").last(), "Destination path is non-existant or ID cannot be retrieved.");
    EXPECT_FALSE(pointer.hourglass);
}

TEST_F(ImportTest, WithoutASessionNothingHappens) {
    repository::connection().session.reset();
    EXPECT_FALSE(
        ImportFiles(repository::connection().session, nullptr, "T:\\out", "*.prn", dest, true, "Print.zip"));
    EXPECT_EQ(log.lines, QStringList{"Import - Please connect first.  Use the Connect button."});
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_FALSE(fs::exists(out / "Print.zip"));
}

} // namespace
} // namespace lf::test
