// The ways an operation could lose or spoil a user's course on real folders through the drive map: the
// course kept in the working directory and typed another way, a destination that is the working
// directory, a run ended early, a staging that failed half way, names only letter case tells apart.
#include "indexing/CollectIndex.h"
#include "indexing/CollectTOC.h"
#include "indexing_fixture.h"
#include "platform/folders.h"
#include "printready/modZipIt.h"

#include <QFile>

using namespace lf::test;
namespace fs = std::filesystem;

namespace {

const QString kTemplate = "C:\\Templates\\Template.docx";

class CourseSafety : public IndexingOperation {
protected:
    void TearDown() override {
        QFile::remove(lf::platform::configFolder() + "/drives.ini");
        IndexingOperation::TearDown();
    }
    // Every file of a folder with its bytes.
    static std::map<std::string, std::string> contents(const QString& folder) {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(host(folder + "\\x").parent_path()))
            if (entry.is_regular_file())
                files[entry.path().filename().string()] = readFile(entry.path());
        return files;
    }
    void clearFolder(const QString& folder) {
        for (const auto& entry : fs::directory_iterator(host(folder + "\\x").parent_path()))
            fs::remove_all(entry.path());
    }
};

void runIndex(const QString& source, const QString& destination) {
    lf::indexing::CollectIndex(kTemplate, "Index.docx", source, destination, "Course", "C:\\syllabo", true);
}
void runTOC(const QString& source, const QString& destination) {
    lf::indexing::CollectTOC(kTemplate, "TOC.docx", source, destination, "Course", "C:\\syllabo", true,
                             lf::indexing::TOCTitleSource::RuleThenPlaceholder);
}
void runZip(const QString& source, const QString& destination) {
    lf::printready::RunZipPackaging(source, destination, "C:\\syllabo", true, "Course.zip");
}

} // namespace

// The course lies in the working directory itself and the user types it another way: every operation
// reads it where it stands, reports success, and leaves every deck and every file of the user's.
TEST_F(CourseSafety, ACourseInTheWorkingDirectorySurvivesEverySpellingOfIt) {
    const fs::path c = lf::platform::driveFolder(QChar('C')).toStdString();
    writeFile(fs::path(lf::platform::configFolder().toStdString()) / "drives.ini",
              "[Drives]\nE=" + c.string() + "\n");
    fs::create_directory_symlink(c / "syllabo", c / "linked");
    deck("C:\\syllabo", "01_Intro.pptx", {titledSlide("Welcome", {"apple"})});
    deck("C:\\syllabo", "02_More.pptx", {titledSlide("More", {"pear"})});
    writeFile(host("C:\\syllabo\\notes.txt"), "the user's own notes");
    const auto before = contents("C:\\syllabo");

    const std::pair<const char*, void (*)(const QString&, const QString&)> operations[] = {
        {"Index - Indexing Complete", runIndex},
        {"TOC - TOC Creation Complete", runTOC},
        {"Zip - Zipping operations complete", runZip}};
    for (const char* spelling : {"C:\\SYLLABO", "c:\\Syllabo\\", "C:\\syllabo\\..\\syllabo", "C:\\\\syllabo",
                                 "\\syllabo", "C:\\syllabo\\.", "E:\\syllabo", "C:\\linked"}) {
        for (const auto& [closingLine, run] : operations) {
            SCOPED_TRACE(std::string(spelling) + " " + closingLine);
            log.lines.clear();
            log.failures.clear();
            clearFolder("C:\\Out");
            run(spelling, "C:\\Out");
            EXPECT_TRUE(logged(closingLine)) << allLines();
            EXPECT_TRUE(log.failures.isEmpty()) << allLines();
            EXPECT_FALSE(allLines().find("Copying files") != std::string::npos) << allLines();
            EXPECT_EQ(contents("C:\\syllabo"), before) << allLines();
            EXPECT_EQ(contents("C:\\Out").size(), 1u) << allLines();
        }
    }
}

// The results delivered into the working directory, however it is typed, are results, not working
// files: the cleanup leaves them.
TEST_F(CourseSafety, ADestinationThatIsTheWorkingDirectoryKeepsTheResults) {
    deck("C:\\Course", "01_Intro.pptx", {titledSlide("Welcome", {"apple"})});
    runIndex("C:\\Course", "C:\\SYLLABO");
    runTOC("C:\\Course", "c:\\syllabo\\.");
    runZip("C:\\Course", "C:\\Syllabo");
    EXPECT_TRUE(log.failures.isEmpty()) << allLines();
    EXPECT_TRUE(exists("C:\\syllabo\\Index.docx"));
    EXPECT_TRUE(exists("C:\\syllabo\\TOC.docx"));
    EXPECT_TRUE(exists("C:\\syllabo\\Course.zip"));
    EXPECT_FALSE(exists("C:\\syllabo\\01_Intro.pptx")) << "the staged copy is a working file";
    EXPECT_TRUE(exists("C:\\Course\\01_Intro.pptx"));
}

// A run that a wrongly named deck ends removes what it staged, and a later run reads only the decks it
// staged itself, not a leftover of a run that was killed.
TEST_F(CourseSafety, AnEarlyEndLeavesNothingAndALaterCourseReadsOnlyItsOwnDecks) {
    deck("C:\\First", "01_Intro.pptx", {titledSlide("Welcome")});
    deck("C:\\First", "02_More.pptx", {titledSlide("More")});
    deck("C:\\First", "Appendix.pptx", {titledSlide("Wrongly named")});
    lf::indexing::CollectIndex(kTemplate, "Index.docx", "C:\\First", "C:\\Out", "Course", "C:\\syllabo",
                               false);
    runTOC("C:\\syllabo", "C:\\Out");
    EXPECT_EQ(log.failures.size(), 2) << allLines();
    EXPECT_FALSE(logged("TOC - TOC Creation Complete"));
    EXPECT_TRUE(contents("C:\\syllabo").empty()) << allLines();
    EXPECT_TRUE(contents("C:\\Out").empty());

    deck("C:\\syllabo", "05_Killed.pptx", {titledSlide("Left by a killed run")});
    deck("C:\\Second", "10_Only.pptx", {titledSlide("Only")});
    runTOC("C:\\Second", "C:\\Out");
    EXPECT_EQ(nonEmptyTexts(readParagraphs(host("C:\\Out\\TOC.docx"))),
              (std::vector<std::string>{"Table of Contents", "Module 10: Only", "Only\t10-1"}))
        << allLines();
    EXPECT_TRUE(exists("C:\\syllabo\\05_Killed.pptx")) << "not the program's to delete";
}

// One deck that cannot be staged (here a folder of its name is in the way): the Index fails, and the
// TOC that follows it does not build a document from the decks that did arrive.
TEST_F(CourseSafety, APartialStagingWritesNoDocument) {
    deck("C:\\Course", "01_Intro.pptx", {titledSlide("Welcome", {"apple"})});
    deck("C:\\Course", "02_More.pptx", {titledSlide("More", {"pear"})});
    makeFolder("C:\\syllabo\\02_More.pptx");
    lf::indexing::CollectIndex(kTemplate, "Index.docx", "C:\\Course", "C:\\Out", "Course", "C:\\syllabo",
                               false);
    runTOC("C:\\syllabo", "C:\\Out");
    EXPECT_FALSE(logged("Index - Indexing Complete"));
    EXPECT_FALSE(logged("TOC - TOC Creation Complete")) << allLines();
    EXPECT_EQ(log.failures.size(), 2) << allLines();
    EXPECT_TRUE(contents("C:\\Out").empty()) << allLines();
    EXPECT_FALSE(exists("C:\\syllabo\\01_Intro.pptx")) << "the partial staging is removed";
}

// Two decks whose names only letter case tells apart are one file to the program's paths: each
// operation refuses them before copying anything, instead of packing or reading one twice.
TEST_F(CourseSafety, NamesDifferingOnlyInCaseFailBeforeAnythingIsCopied) {
    deck("C:\\Course", "01_dup.pptx", {titledSlide("Lower")});
    deck("C:\\Course", "01_DUP.pptx", {titledSlide("Upper")});
    for (const auto run : {runZip, runTOC, runIndex}) {
        log.lines.clear();
        log.failures.clear();
        run("C:\\Course", "C:\\Out");
        ASSERT_EQ(log.failures.size(), 1) << allLines();
        EXPECT_NE(log.failures[0].indexOf("01_DUP.pptx and 01_dup.pptx"), -1) << allLines();
        EXPECT_TRUE(contents("C:\\syllabo").empty());
        EXPECT_TRUE(contents("C:\\Out").empty());
    }
}

// An output name that holds a separator would write outside the folders the log names.
TEST_F(CourseSafety, AnOutputNameWithASeparatorIsRefused) {
    deck("C:\\Course", "01_Intro.pptx", {titledSlide("Welcome")});
    lf::indexing::CollectTOC(kTemplate, "..\\escaped_toc.docx", "C:\\Course", "C:\\Out", "Course",
                             "C:\\syllabo", true, lf::indexing::TOCTitleSource::RuleThenPlaceholder);
    lf::printready::RunZipPackaging("C:\\Course", "C:\\Out", "C:\\syllabo", true, "..\\escaped.zip");
    EXPECT_EQ(log.failures.size(), 2) << allLines();
    EXPECT_FALSE(exists("C:\\escaped_toc.docx"));
    EXPECT_FALSE(exists("C:\\escaped.zip"));
    EXPECT_TRUE(contents("C:\\syllabo").empty());
}
