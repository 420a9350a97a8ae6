// The TOC and Index against a real repository made in a temporary folder: a course exported from a
// repository folder, documents stored there as new objects, imported, or versioned through check-out
// and check-in, and a template fetched from the repository.
#include "course_builder.h"
#include "indexing/CollectIndex.h"
#include "indexing/CollectTOC.h"
#include "indexing/modTagwise.h"
#include "repository/repository_ops.h"
#include "repository_fixture.h"
#include "workfiles/working_files.h"

using namespace lf::test;
using lf::indexing::CollectIndex;
using lf::indexing::CollectTOC;
using lf::platform::MessageAnswer;

namespace {

namespace fs = std::filesystem;

const QString kDestination = "/Edvara/Courses/Storage/Docs";

class RepositoryIndexing : public RepositoryTest {
protected:
    void SetUp() override {
        RepositoryTest::SetUp();
        fs::create_directories(hostOf("T:\\syllabo"));
        fs::create_directories(hostOf("T:\\Out"));
        fs::create_directories(hostOf("T:\\Templates"));
        writeWordTemplate(hostOf("T:\\Templates\\Template.docx"));
        ASSERT_TRUE(loginThroughDialog(kUser, kPassword));
        lf::tessarel::makeFolders(repo->admin, kDestination.toStdString(), true);
        log.lines.clear();
    }

    // Decks made in a local folder and imported into the course folder of the repository.
    void importCourse() {
        const fs::path local = temp / "decks";
        fs::create_directories(local);
        std::vector<SlideSpec> first = {titledSlide("Storage Basics", {"Cache"}),
                                        titledSlide("Disks", {"disk"})};
        std::vector<SlideSpec> second = {titledSlide("Volumes"), titledSlide("Caching again", {"cache"})};
        repo->importFiles(
            {writeDeck(local, "01_Storage.pptx", first), writeDeck(local, "02b_Volumes.pptx", second)},
            kCourse);
    }

    // The content of the repository document at path, fetched into a local file.
    fs::path fetch(const QString& path) {
        auto object = repo->admin->objectByPath(path.toStdString());
        if (!object)
            return {};
        const fs::path file = temp / ("fetched" + std::to_string(++fetched_) + ".docx");
        object->getFile(file.string());
        return file;
    }

    std::string allLines() const { return log.lines.join("\n").toStdString(); }

private:
    int fetched_ = 0;
};

TEST_F(RepositoryIndexing, TOCFromARepositoryCourseToALocalFolder) {
    importCourse();
    CollectTOC("T:\\Templates\\Template.docx", "TOC.docx", kCourse, "T:\\Out", "Storage", "T:\\syllabo", true,
               lf::indexing::TOCTitleSource::RuleThenPlaceholder);
    const QStringList toc = linesOf("TOC");
    EXPECT_TRUE(toc.contains("Files downloaded to T:\\syllabo for TOC creation")) << allLines();
    EXPECT_TRUE(toc.contains("Opening T:\\syllabo\\01_Storage.pptx")) << allLines();
    EXPECT_TRUE(toc.contains("Created TOC document in T:\\Out"));
    EXPECT_EQ(toc.last(), "TOC Creation Complete");
    const auto texts = nonEmptyTexts(readParagraphs(hostOf("T:\\Out\\TOC.docx")));
    EXPECT_EQ(texts, (std::vector<std::string>{"Table of Contents", "Module 1: Storage Basics",
                                               "Storage Basics\t1-1", "Disks\t1-2", "Module 2b: Volumes",
                                               "Volumes\t2b-1", "Caching again\t2b-2"}));
    // The exported decks were working files.
    EXPECT_FALSE(fs::exists(hostOf("T:\\syllabo\\01_Storage.pptx")));
}

TEST_F(RepositoryIndexing, IndexIntoTheRepositoryIsImportedThenVersioned) {
    importCourse();
    CollectIndex("T:\\Templates\\Template.docx", "Index.docx", kCourse, kDestination, "Storage",
                 "T:\\syllabo", true);
    EXPECT_TRUE(linesOf("Index").contains("Files downloaded to T:\\syllabo for indexing")) << allLines();
    EXPECT_FALSE(linesOf("Index").contains("Created index document in " + kDestination));
    EXPECT_EQ(linesOf("Index").last(), "Indexing Complete") << allLines();
    EXPECT_TRUE(boxes.shown.empty());
    const fs::path first = fetch(kDestination + "/Index.docx");
    ASSERT_FALSE(first.empty()) << allLines();
    EXPECT_EQ(nonEmptyTexts(readParagraphs(first)),
              (std::vector<std::string>{"C", "Cache, 1-1, 2b-2", "D", "disk, 1-2"}));
    EXPECT_EQ(readHeaderText(first), "Storage");
    const std::string firstVersion =
        repo->admin->objectByPath((kDestination + "/Index.docx").toStdString())->versionLabel();

    // Again, with another course name: the document exists and the user chooses a new version.
    boxes.answers = {MessageAnswer::Yes};
    log.lines.clear();
    CollectIndex("T:\\Templates\\Template.docx", "Index.docx", kCourse, kDestination, "Storage 2",
                 "T:\\syllabo", true);
    ASSERT_EQ(boxes.shown.size(), 1u) << allLines();
    EXPECT_EQ(boxes.shown[0].title, "Version object");
    EXPECT_EQ(boxes.shown[0].text, "The index file appears to exist in the repository at\n"
                                   "the selected location.  Would you like to version \n"
                                   "it (Yes) or import it as new (No)?");
    EXPECT_EQ(boxes.shown[0].icon, lf::platform::MessageIcon::Exclamation);
    EXPECT_EQ(linesOf("Index").last(), "Indexing Complete") << allLines();
    auto object = repo->admin->objectByPath((kDestination + "/Index.docx").toStdString());
    ASSERT_TRUE(object);
    EXPECT_NE(object->versionLabel(), firstVersion);
    EXPECT_FALSE(object->isCheckedOut());
    EXPECT_EQ(readHeaderText(fetch(kDestination + "/Index.docx")), "Storage 2");
}

TEST_F(RepositoryIndexing, TOCBecomesANewObjectThenAVersionOrAnImport) {
    importCourse();
    CollectTOC("T:\\Templates\\Template.docx", "TOC.docx", kCourse, kDestination, "Storage", "T:\\syllabo",
               true, lf::indexing::TOCTitleSource::RuleThenPlaceholder);
    EXPECT_TRUE(linesOf("TOC").contains("Created TOC document in " + kDestination)) << allLines();
    auto object = repo->admin->objectByPath((kDestination + "/TOC.docx").toStdString());
    ASSERT_TRUE(object) << allLines();
    EXPECT_EQ(object->type(), "ts_document");
    EXPECT_EQ(object->format()->name(), "msw8");
    EXPECT_EQ(nonEmptyTexts(readParagraphs(fetch(kDestination + "/TOC.docx")))[1],
              "Module 1: Storage Basics");

    // The object is checked out by the user: Yes checks the new content in directly.
    lf::repository::CheckOutObjects(
        "T:\\co", "",
        lf::repository::connection().session->objectByPath((kDestination + "/TOC.docx").toStdString()));
    boxes.answers = {MessageAnswer::Yes};
    log.lines.clear();
    CollectTOC("T:\\Templates\\Template.docx", "TOC.docx", kCourse, kDestination, "Checked out",
               "T:\\syllabo", true, lf::indexing::TOCTitleSource::RuleThenPlaceholder);
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text.left(48), "The TOC doc appears to exist in the repository a");
    EXPECT_EQ(linesOf("TOC").last(), "TOC Creation Complete") << allLines();
    EXPECT_EQ(readHeaderText(fetch(kDestination + "/TOC.docx")), "Checked out");

    // No imports it as a new object.
    boxes.answers = {MessageAnswer::No};
    log.lines.clear();
    CollectTOC("T:\\Templates\\Template.docx", "TOC.docx", kCourse, kDestination, "Imported", "T:\\syllabo",
               true, lf::indexing::TOCTitleSource::RuleThenPlaceholder);
    EXPECT_TRUE(linesOf("Import").contains("Starting import into " + kDestination)) << allLines();
    EXPECT_EQ(linesOf("TOC").last(), "TOC Creation Complete") << allLines();
}

TEST_F(RepositoryIndexing, ATemplateInTheRepositoryIsFetchedIntoTheWorkingPath) {
    importCourse();
    const fs::path local = temp / "templates";
    fs::create_directories(local);
    writeWordTemplate(local / "TOC", "Course Name handbook");
    repo->importFiles({local / "TOC"}, "/Edvara/Templates");
    CollectTOC("/Edvara/Templates/TOC", "TOC.docx", kCourse, "T:\\Out", "Storage", "T:\\syllabo", true,
               lf::indexing::TOCTitleSource::RuleThenPlaceholder);
    EXPECT_TRUE(log.lines.contains("OpenDoc - Opening template T:\\syllabo\\TOC.docx")) << allLines();
    EXPECT_EQ(readHeaderText(hostOf("T:\\Out\\TOC.docx")), "Storage handbook");
    // The fetched template was a working file.
    EXPECT_FALSE(fs::exists(hostOf("T:\\syllabo\\TOC.docx")));
}

TEST_F(RepositoryIndexing, ATemplateNamedWithItsExtensionKeepsItsName) {
    importCourse();
    const fs::path local = temp / "templates";
    fs::create_directories(local);
    writeWordTemplate(local / "Index.docx", "Index of Course Name");
    repo->importFiles({local / "Index.docx"}, "/Edvara/Templates");
    CollectIndex("/Edvara/Templates/Index.docx", "Index.docx", kCourse, "T:\\Out", "Storage", "T:\\syllabo",
                 true);
    EXPECT_TRUE(log.lines.contains("OpenDoc - Opening template T:\\syllabo\\Index.docx")) << allLines();
    EXPECT_EQ(readHeaderText(hostOf("T:\\Out\\Index.docx")), "Index of Storage");
    EXPECT_EQ(nonEmptyTexts(readParagraphs(hostOf("T:\\Out\\Index.docx")))[1], "Cache, 1-1, 2b-2");
}

TEST_F(RepositoryIndexing, AMissingRepositoryFolderEndsTheOperation) {
    CollectIndex("T:\\Templates\\Template.docx", "Index.docx", "/Edvara/Nowhere", "T:\\Out", "Storage",
                 "T:\\syllabo", true);
    const QStringList lines = linesOf("Index");
    ASSERT_EQ(lines.size(), 2) << allLines();
    EXPECT_TRUE(lines[1].startsWith("Serious error:")) << allLines();
    EXPECT_TRUE(lines[1].contains("/Edvara/Nowhere"));
}

TEST_F(RepositoryIndexing, WithoutASessionTheOperationEndsWithTheLibrarysMessage) {
    lf::repository::resetConnection();
    CollectTOC("T:\\Templates\\Template.docx", "TOC.docx", kCourse, "T:\\Out", "Storage", "T:\\syllabo", true,
               lf::indexing::TOCTitleSource::RuleThenPlaceholder);
    const QStringList lines = linesOf("TOC");
    ASSERT_EQ(lines.size(), 2) << allLines();
    EXPECT_EQ(lines[0], "Begin");
    EXPECT_FALSE(lines[1].isEmpty());
    EXPECT_FALSE(fs::exists(hostOf("T:\\Out\\TOC.docx")));
}

} // namespace
