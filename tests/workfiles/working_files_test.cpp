// The working files of a working directory: the record of what the program made there, kept across
// runs, the cleanup of a run's list, the removal of an earlier run's leftovers, and the check-out
// directory guard.
#include "workfiles/working_files.h"
#include "workfiles_fixture.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace lf::test {
namespace {

namespace fs = std::filesystem;
using platform::MessageAnswer;
using workfiles::WorkingFiles;

class WorkingFilesTest : public DriveTTest {
protected:
    void SetUp() override {
        DriveTTest::SetUp();
        workingDirectory = "T:\\syllabo";
        fs::create_directories(driveT / "syllabo" / "PrintReady");
    }
    QString workingDirectory;
};

TEST_F(WorkingFilesTest, AnEmptyListLogsOnlyTheClosingLine) {
    WorkingFiles(workingDirectory).CleanWorkingFiles();
    EXPECT_EQ(log.lines, QStringList{"Cleaning - All temporary working files deleted"});
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(WorkingFilesTest, EveryListedFileIsDeletedAndOthersSurvive) {
    writeFile(driveT / "syllabo" / "Kept.docx", "not listed");
    writeFile(driveT / "syllabo" / "PrintReady" / "Module 1.prn", "print file");
    WorkingFiles files(workingDirectory);
    ASSERT_TRUE(files.willMake("T:\\syllabo\\Module 1.pptx"));
    writeFile(driveT / "syllabo" / "Module 1.pptx", "deck");
    ASSERT_TRUE(files.willMake("T:\\syllabo\\Course.zip"));
    writeFile(driveT / "syllabo" / "Course.zip", "zip");
    // A file of the user's is never the program's, whatever replaces it.
    EXPECT_FALSE(files.willMake("T:\\syllabo\\Kept.docx"));
    EXPECT_FALSE(files.willMake("T:\\Course\\01_Intro.pptx"));
    EXPECT_EQ(files.files(), (QStringList{"T:\\syllabo\\Module 1.pptx", "T:\\syllabo\\Course.zip"}));

    files.CleanWorkingFiles();
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
    EXPECT_TRUE(files.files().isEmpty());
    EXPECT_FALSE(fs::exists(driveT / "syllabo" / ".lessonforge-files"));
}

// What one run made and did not clean is known to the next run in that working directory, which
// removes it before it stages (one line each); the user's files and decks still checked out stay.
TEST_F(WorkingFilesTest, TheNextRunRemovesWhatAnEarlierRunLeftAndNothingElse) {
    writeFile(driveT / "syllabo" / "Notes.docx", "the user's");
    {
        WorkingFiles first(workingDirectory);
        first.willMake("T:\\syllabo\\01_Intro.pptx");
        writeFile(driveT / "syllabo" / "01_Intro.pptx", "staged");
        first.willMake("T:\\syllabo\\PrintReady\\01_Intro.prn");
        writeFile(driveT / "syllabo" / "PrintReady" / "01_Intro.prn", "printed");
        first.willCheckOut("T:\\syllabo\\02_Held.pptx");
        writeFile(driveT / "syllabo" / "02_Held.pptx", "checked out, with the author's work");
        first.willMake("T:\\syllabo\\never made.pptx");
    }
    WorkingFiles second(workingDirectory);
    EXPECT_TRUE(second.isProgramFile("T:\\SYLLABO\\01_intro.pptx"));
    EXPECT_FALSE(second.isProgramFile("T:\\syllabo\\Notes.docx"));
    ASSERT_TRUE(second.RemoveLeftovers("Zip"));
    EXPECT_EQ(log.lines,
              (QStringList{
                  "Zip - Deleted T:\\syllabo\\01_Intro.pptx, left in the working directory by an earlier run",
                  "Zip - Deleted T:\\syllabo\\PrintReady\\01_Intro.prn, left in the working directory by an "
                  "earlier run"}));
    EXPECT_FALSE(fs::exists(driveT / "syllabo" / "01_Intro.pptx"));
    EXPECT_FALSE(fs::exists(driveT / "syllabo" / "PrintReady" / "01_Intro.prn"));
    EXPECT_EQ(readFile(driveT / "syllabo" / "02_Held.pptx"), "checked out, with the author's work");
    EXPECT_EQ(readFile(driveT / "syllabo" / "Notes.docx"), "the user's");

    // Checked back in, the deck is an ordinary working file of the run that checked it in.
    log.lines.clear();
    second.willCheckOut("T:\\syllabo\\02_Held.pptx");
    second.checkedIn("T:\\syllabo\\02_Held.pptx");
    second.CleanWorkingFiles();
    EXPECT_FALSE(fs::exists(driveT / "syllabo" / "02_Held.pptx"));
    EXPECT_FALSE(fs::exists(driveT / "syllabo" / ".lessonforge-files"));
}

// A run killed in the middle of writing its files (kill -9: no destructor, no cleanup) leaves a record
// that names every file it had begun, so the next run removes them all and keeps every user file.
TEST_F(WorkingFilesTest, ARunKilledWhileWritingLeavesNothingTheNextRunDoesNotRemove) {
    writeFile(driveT / "syllabo" / "01_Intro.pptx", "the user's own deck");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        WorkingFiles files(workingDirectory);
        files.willMake("T:\\syllabo\\01_Intro.pptx"); // the user's: replaced, never recorded
        for (int i = 2; i <= 4; ++i) {
            const std::string name = "0" + std::to_string(i) + "_Module.pptx";
            files.willMake(QString::fromStdString("T:\\syllabo\\" + name));
            writeFile(driveT / "syllabo" / name, i == 4 ? "half a dec" : "a whole deck");
        }
        ::kill(::getpid(), SIGKILL);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    WorkingFiles next(workingDirectory);
    ASSERT_TRUE(next.RemoveLeftovers("Index"));
    EXPECT_EQ(log.lines.size(), 3);
    for (const char* name : {"02_Module.pptx", "03_Module.pptx", "04_Module.pptx"})
        EXPECT_FALSE(fs::exists(driveT / "syllabo" / name)) << name;
    EXPECT_EQ(readFile(driveT / "syllabo" / "01_Intro.pptx"), "the user's own deck");
}

TEST_F(WorkingFilesTest, ACheckoutDirectoryAsksAndNoKeepsEverything) {
    workingDirectory = "T:\\Users\\me\\Checkout";
    fs::create_directories(driveT / "Users" / "me" / "Checkout");
    WorkingFiles files(workingDirectory);
    files.willMake("T:\\Users\\me\\Checkout\\a.pptx");
    writeFile(driveT / "Users" / "me" / "Checkout" / "a.pptx", "deck");
    boxes.answers = {MessageAnswer::No};
    files.CleanWorkingFiles();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Delete checked out files?");
    EXPECT_EQ(boxes.shown[0].text, "It appears as if the working directory is your checkout directory.\n"
                                   "Continuing could cause you to delete and lose changes to checked \n"
                                   "out files.\n\nDo you really want to delete them?");
    EXPECT_EQ(boxes.shown[0].icon, platform::MessageIcon::Exclamation);
    EXPECT_EQ(boxes.shown[0].buttons, platform::MessageButtons::YesNo);
    EXPECT_EQ(log.lines, QStringList{"cleanWorking - User canceled clean of working directory"});
    EXPECT_TRUE(fs::exists(driveT / "Users" / "me" / "Checkout" / "a.pptx"));
    EXPECT_EQ(files.count(), 1);

    // The list is kept for the next cleanup, which the user lets go on.
    boxes.answers = {MessageAnswer::Yes};
    files.CleanWorkingFiles();
    EXPECT_FALSE(fs::exists(driveT / "Users" / "me" / "Checkout" / "a.pptx"));
    EXPECT_EQ(files.count(), 0);
}

// A path that leads out of the working directory (another folder, a way out through "..", a link that
// leads out) is never the program's to record or delete.
TEST_F(WorkingFilesTest, AFileOutsideTheWorkingDirectoryIsNeverRecorded) {
    fs::create_directories(driveT / "Course");
    fs::create_directory_symlink(driveT / "Course", driveT / "syllabo" / "linked");
    WorkingFiles files(workingDirectory);
    EXPECT_FALSE(files.willMake("T:\\Course\\01_Intro.pptx"));
    EXPECT_FALSE(files.willMake("T:\\syllabo\\..\\Course\\01_Intro.pptx"));
    EXPECT_FALSE(files.willMake("T:\\syllabo\\linked\\01_Intro.pptx"));
    EXPECT_TRUE(files.willMake("T:\\SYLLABO\\staged.pptx"));
    EXPECT_EQ(files.count(), 1);
}

TEST_F(WorkingFilesTest, TheGuardIgnoresCaseAndLooksAnywhereInThePath) {
    for (const char* dir : {"T:\\mycheckouts", "C:\\CHECKOUT\\x", "D:\\CheckOut"}) {
        workingDirectory = dir;
        boxes.shown.clear();
        boxes.answers = {MessageAnswer::No};
        WorkingFiles(workingDirectory).CleanWorkingFiles();
        EXPECT_EQ(boxes.shown.size(), 1u) << dir;
    }
    workingDirectory = "C:\\check out";
    boxes.shown.clear();
    WorkingFiles(workingDirectory).CleanWorkingFiles();
    EXPECT_TRUE(boxes.shown.empty());
}

} // namespace
} // namespace lf::test
