// The working files list and its cleanup, with the check-out directory guard.
#include "workfiles/working_files.h"
#include "workfiles_fixture.h"

namespace lf::test {
namespace {

namespace fs = std::filesystem;
using platform::MessageAnswer;
using workfiles::AddWorkingFile;
using workfiles::CleanWorkingFiles;

class WorkingFilesTest : public DriveTTest {
protected:
    void SetUp() override {
        DriveTTest::SetUp();
        workingDirectory = "T:\\syllabo";
        fs::create_directories(driveT / "syllabo" / "PrintReady");
    }
    void TearDown() override {
        workingDirectory = "T:\\syllabo";
        {
            oplog::RecordingLogSink quiet;
            CleanWorkingFiles(workingDirectory);
        }
    }
    QString workingDirectory;
};

TEST_F(WorkingFilesTest, AnEmptyListLogsOnlyTheClosingLine) {
    CleanWorkingFiles(workingDirectory);
    EXPECT_EQ(log.lines, QStringList{"Cleaning - All temporary working files deleted"});
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(WorkingFilesTest, EveryListedFileIsDeletedAndOthersSurvive) {
    writeFile(driveT / "syllabo" / "Module 1.pptx", "deck");
    writeFile(driveT / "syllabo" / "Course.zip", "zip");
    writeFile(driveT / "syllabo" / "Kept.docx", "not listed");
    writeFile(driveT / "syllabo" / "PrintReady" / "Module 1.prn", "print file");
    AddWorkingFile("T:\\syllabo\\Module 1.pptx");
    AddWorkingFile("T:\\syllabo\\Course.zip");
    EXPECT_EQ(workfiles::workingFileCount(), 2);
    EXPECT_EQ(workfiles::workingFiles(),
              (QStringList{"T:\\syllabo\\Module 1.pptx", "T:\\syllabo\\Course.zip"}));

    CleanWorkingFiles(workingDirectory);
    EXPECT_EQ(
        log.lines,
        (QStringList{"Cleaning - Deleteing working files", "Cleaning - Deleted T:\\syllabo\\Module 1.pptx",
                     "Cleaning - Deleteing working files", "Cleaning - Deleted T:\\syllabo\\Course.zip",
                     "Cleaning - All temporary working files deleted"}));
    EXPECT_TRUE(log.errors.isEmpty());
    EXPECT_FALSE(fs::exists(driveT / "syllabo" / "Module 1.pptx"));
    EXPECT_FALSE(fs::exists(driveT / "syllabo" / "Course.zip"));
    EXPECT_TRUE(fs::exists(driveT / "syllabo" / "Kept.docx"));
    EXPECT_TRUE(fs::exists(driveT / "syllabo" / "PrintReady" / "Module 1.prn"));
    EXPECT_TRUE(fs::is_directory(driveT / "syllabo" / "PrintReady"));
    EXPECT_EQ(workfiles::workingFileCount(), 0);
    EXPECT_TRUE(workfiles::workingFiles().isEmpty());
}

TEST_F(WorkingFilesTest, APathListedTwiceFailsOnceAndTheCleanupEnds) {
    writeFile(driveT / "syllabo" / "a.pptx", "deck");
    AddWorkingFile("T:\\syllabo\\a.pptx");
    AddWorkingFile("T:\\syllabo\\a.pptx");
    AddWorkingFile("T:\\syllabo\\never made.pptx");
    CleanWorkingFiles(workingDirectory);
    const QStringList failed = linesOf("CleanWorkingFiles");
    ASSERT_EQ(failed.size(), 2);
    EXPECT_TRUE(failed[0].startsWith("T:\\syllabo\\a.pptx "));
    EXPECT_GT(failed[0].size(), QString("T:\\syllabo\\a.pptx ").size()); // the failure's description
    EXPECT_TRUE(failed[1].startsWith("T:\\syllabo\\never made.pptx "));
    EXPECT_EQ(linesOf("Cleaning").count("Deleteing working files"), 3);
    EXPECT_EQ(linesOf("Cleaning").count("Deleted T:\\syllabo\\a.pptx"), 1);
    EXPECT_EQ(log.lines.last(), "Cleaning - All temporary working files deleted");
    EXPECT_TRUE(log.errors.isEmpty());
    EXPECT_EQ(workfiles::workingFileCount(), 0);
}

TEST_F(WorkingFilesTest, ACheckoutDirectoryAsksAndNoKeepsEverything) {
    workingDirectory = "T:\\Users\\me\\Checkout";
    fs::create_directories(driveT / "Users" / "me" / "Checkout");
    writeFile(driveT / "Users" / "me" / "Checkout" / "a.pptx", "deck");
    AddWorkingFile("T:\\Users\\me\\Checkout\\a.pptx");
    boxes.answers = {MessageAnswer::No};
    CleanWorkingFiles(workingDirectory);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Delete checked out files?");
    EXPECT_EQ(boxes.shown[0].text, "It appears as if the working directory is your checkout directory.\n"
                                   "Continuing could cause you to delete and lose changes to checked \n"
                                   "out files.\n\nDo you really want to delete them?");
    EXPECT_EQ(boxes.shown[0].icon, platform::MessageIcon::Exclamation);
    EXPECT_EQ(boxes.shown[0].buttons, platform::MessageButtons::YesNo);
    EXPECT_EQ(log.lines, QStringList{"cleanWorking - User canceled clean of working directory"});
    EXPECT_TRUE(fs::exists(driveT / "Users" / "me" / "Checkout" / "a.pptx"));
    EXPECT_EQ(workfiles::workingFileCount(), 1);

    // The list is kept for the next cleanup, which the user lets go on.
    boxes.answers = {MessageAnswer::Yes};
    CleanWorkingFiles(workingDirectory);
    EXPECT_FALSE(fs::exists(driveT / "Users" / "me" / "Checkout" / "a.pptx"));
    EXPECT_EQ(workfiles::workingFileCount(), 0);
}

// Whatever put it on the list, a file outside the working directory as the host resolves it (another
// folder, a way out through "..", a link that leads out) is not the cleanup's to delete.
TEST_F(WorkingFilesTest, AFileOutsideTheWorkingDirectoryIsRefusedAndKept) {
    fs::create_directories(driveT / "Course");
    writeFile(driveT / "Course" / "01_Intro.pptx", "the user's deck");
    fs::create_directory_symlink(driveT / "Course", driveT / "syllabo" / "linked");
    writeFile(driveT / "syllabo" / "staged.pptx", "a copy");
    AddWorkingFile("T:\\Course\\01_Intro.pptx");
    AddWorkingFile("T:\\syllabo\\..\\Course\\01_Intro.pptx");
    AddWorkingFile("T:\\syllabo\\linked\\01_Intro.pptx");
    AddWorkingFile("T:\\SYLLABO\\staged.pptx");
    CleanWorkingFiles(workingDirectory);
    EXPECT_EQ(readFile(driveT / "Course" / "01_Intro.pptx"), "the user's deck");
    EXPECT_FALSE(fs::exists(driveT / "syllabo" / "staged.pptx"));
    const QStringList refused = linesOf("CleanWorkingFiles");
    ASSERT_EQ(refused.size(), 3);
    EXPECT_EQ(refused[0], "T:\\Course\\01_Intro.pptx is not inside the working directory T:\\syllabo and "
                          "was not deleted");
    EXPECT_EQ(workfiles::workingFileCount(), 0);
}

TEST_F(WorkingFilesTest, TheGuardIgnoresCaseAndLooksAnywhereInThePath) {
    for (const char* dir : {"T:\\mycheckouts", "C:\\CHECKOUT\\x", "D:\\CheckOut"}) {
        workingDirectory = dir;
        boxes.shown.clear();
        boxes.answers = {MessageAnswer::No};
        CleanWorkingFiles(workingDirectory);
        EXPECT_EQ(boxes.shown.size(), 1u) << dir;
    }
    workingDirectory = "C:\\check out";
    boxes.shown.clear();
    CleanWorkingFiles(workingDirectory);
    EXPECT_TRUE(boxes.shown.empty());
}

} // namespace
} // namespace lf::test
