// Dir listings (wildcards, attributes, NTFS order) and the file calls on Windows-style paths.
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/paths.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace lf::platform;
using lf::test::readFile;
using lf::test::TempDir;
using lf::test::writeFile;

namespace {

class Files : public testing::Test {
protected:
    void SetUp() override {
        writeFile(std::filesystem::path((configFolder() + "/drives.ini").toStdString()),
                  ("[Drives]\nD=" + dir.qpath() + "\n").toStdString());
    }
    void TearDown() override { QFile::remove(configFolder() + "/drives.ini"); }
    TempDir dir;
};

} // namespace

TEST(Wildcards, StarQuestionAndCase) {
    EXPECT_TRUE(wildcardMatch("01_Intro.pptx", "*.pptx"));
    EXPECT_TRUE(wildcardMatch("01_Intro.PPTX", "*.pptx"));
    EXPECT_FALSE(wildcardMatch("01_Intro.pptx.bak", "*.pptx"));
    EXPECT_FALSE(wildcardMatch("01_Intro.ppt", "*.pptx"));
    EXPECT_TRUE(wildcardMatch("a.b.c", "*.c"));
    EXPECT_TRUE(wildcardMatch("README", "*.*"));
    EXPECT_TRUE(wildcardMatch("README", "*"));
    EXPECT_TRUE(wildcardMatch("ab", "a?"));
    EXPECT_FALSE(wildcardMatch("a", "a?"));
    EXPECT_FALSE(wildcardMatch("abc", "a?"));
    EXPECT_TRUE(wildcardMatch("Ärger.docx", "ä*.DOCX"));
    EXPECT_TRUE(wildcardMatch("", "*"));
    EXPECT_FALSE(wildcardMatch("", "?"));
    EXPECT_TRUE(wildcardMatch("aXbXc", "a*b*c"));
    EXPECT_FALSE(wildcardMatch("aXbXd", "a*b*c"));
}

TEST(NtfsOrder, UpperCasedUnitsDecide) {
    // "_" (0x5F) sorts after upper-case letters, so after "B" although before "b" by raw value.
    EXPECT_LT(compareNtfsNames("B.pptx", "_x.pptx"), 0);
    EXPECT_LT(compareNtfsNames("b.pptx", "_x.pptx"), 0);
    EXPECT_EQ(compareNtfsNames("Intro", "INTRO"), 0);
    EXPECT_LT(compareNtfsNames("01", "1"), 0);
    EXPECT_LT(compareNtfsNames("10_a", "2_a"), 0) << "no numeric ordering";
    EXPECT_LT(compareNtfsNames("abc", "abcd"), 0);
    EXPECT_GT(compareNtfsNames("abd", "ABC"), 0);
}

TEST_F(Files, DirListsMatchesInNtfsOrderFilesOrFolders) {
    QDir(dir.qpath()).mkpath("Course");
    for (const char* name :
         {"b.pptx", "_x.pptx", "A.PPTX", "10_m.pptx", "2_m.pptx", "notes.docx", ".hidden.pptx"})
        writeFile(dir / "Course" / name, "x");
    QDir(dir.qpath()).mkpath("Course/Sub.pptx");
    QDir(dir.qpath()).mkpath("Course/labs");

    EXPECT_EQ(Dir("D:\\Course\\*.pptx", EntryKind::Files),
              QStringList({"10_m.pptx", "2_m.pptx", "A.PPTX", "b.pptx", "_x.pptx"}));
    EXPECT_EQ(Dir("D:\\course\\*.PPTX", EntryKind::Folders), QStringList({"Sub.pptx"}));
    EXPECT_EQ(Dir("D:\\Course\\", EntryKind::Folders), QStringList({"labs", "Sub.pptx"}));
    EXPECT_EQ(Dir("D:\\Course\\*.*", EntryKind::FilesAndFolders).size(), 8);
    EXPECT_EQ(Dir("D:\\Course\\NOTES.docx", EntryKind::Files), QStringList({"notes.docx"}));
    EXPECT_TRUE(Dir("D:\\Course\\?.docx", EntryKind::Files).isEmpty());
}

TEST_F(Files, DirOrderIsTotalForNamesDifferingOnlyInCase) {
    for (const char* name : {"intro.pptx", "Intro.pptx", "INTRO.pptx"})
        writeFile(dir / name, "x");
    const QStringList first = Dir("D:\\*.pptx", EntryKind::Files);
    EXPECT_EQ(first, QStringList({"INTRO.pptx", "Intro.pptx", "intro.pptx"}));
}

TEST_F(Files, DirOfMissingFolderIsEmptyOfBadDriveReportsWhy) {
    QString error;
    EXPECT_TRUE(Dir("D:\\nothing\\*.pptx", EntryKind::Files, &error).isEmpty());
    EXPECT_TRUE(error.isEmpty());
    EXPECT_TRUE(Dir("Q:\\*.pptx", EntryKind::Files, &error).isEmpty());
    EXPECT_TRUE(error.contains("not ready"));
    error.clear();
    EXPECT_TRUE(Dir("/Cabinet/Folder/*.pptx", EntryKind::Files, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(Files, ExistenceCopyDeleteAndMakeFolder) {
    writeFile(dir / "a.pptx", "first");
    EXPECT_TRUE(fileExists("D:\\A.pptx"));
    EXPECT_FALSE(folderExists("D:\\a.pptx"));
    EXPECT_TRUE(pathExists("D:\\a.pptx"));
    EXPECT_TRUE(folderExists("D:\\"));
    EXPECT_FALSE(pathExists("Q:\\a.pptx"));

    QString error;
    EXPECT_TRUE(makeFolder("D:\\work", &error)) << error.toStdString();
    EXPECT_FALSE(makeFolder("D:\\work", &error)) << "an existing folder is a failure";
    EXPECT_FALSE(makeFolder("D:\\missing\\child", &error)) << "one level only";
    EXPECT_FALSE(folderExists("D:\\missing"));

    EXPECT_EQ(copyFile("D:\\a.pptx", "D:\\work\\b.pptx", &error), CopyOutcome::Created)
        << error.toStdString();
    EXPECT_EQ(readFile(dir / "work/b.pptx"), "first");
    writeFile(dir / "a.pptx", "second");
    EXPECT_EQ(copyFile("D:\\a.pptx", "D:\\WORK\\B.pptx", &error), CopyOutcome::Replaced)
        << "replaces, found without regard to case";
    EXPECT_EQ(readFile(dir / "work/b.pptx"), "second");
    EXPECT_EQ(QDir(dir.qpath() + "/work").entryList(QDir::Files | QDir::Hidden), QStringList({"b.pptx"}))
        << "no temporary left";
    EXPECT_EQ(copyFile("D:\\none.pptx", "D:\\work\\c.pptx", &error), CopyOutcome::Failed);
    EXPECT_EQ(copyFile("D:\\a.pptx", "D:\\work", &error), CopyOutcome::Failed)
        << "a folder is not replaced by a file";
    EXPECT_TRUE(folderExists("D:\\work"));

    EXPECT_TRUE(deleteFile("D:\\work\\B.PPTX", &error)) << error.toStdString();
    EXPECT_FALSE(fileExists("D:\\work\\b.pptx"));
    EXPECT_FALSE(deleteFile("D:\\work\\b.pptx", &error));
    EXPECT_FALSE(deleteFile("D:\\work", &error)) << "a folder is not a file";
}

// The spellings a user types for the one folder the course lies in: every one must be found to be
// that folder, or a staging would copy each deck onto itself and the cleanup would delete the course.
TEST_F(Files, OneLocationWhateverItsSpelling) {
    writeFile(std::filesystem::path((configFolder() + "/drives.ini").toStdString()),
              ("[Drives]\nD=" + dir.qpath() + "\nE=" + dir.qpath() + "/syllabo/..\n").toStdString());
    std::filesystem::create_directories(dir / "syllabo");
    std::filesystem::create_directories(dir / "other");
    std::filesystem::create_directory_symlink(dir / "syllabo", dir / "link");
    writeFile(dir / "syllabo" / "01_Intro.pptx", "the user's deck");

    for (const char* spelling : {"D:\\SYLLABO", "d:\\Syllabo\\", "D:\\syllabo\\..\\syllabo", "D:\\\\syllabo",
                                 "D:\\syllabo\\.", "E:\\syllabo", "D:\\link", "D:\\LINK\\"})
        EXPECT_TRUE(sameLocation(spelling, "D:\\syllabo")) << spelling;
    EXPECT_FALSE(sameLocation("D:\\other", "D:\\syllabo"));
    EXPECT_FALSE(sameLocation("D:\\syllabo\\x", "D:\\syllabo"));
    EXPECT_FALSE(sameLocation("/Edvara/syllabo", "D:\\syllabo"));
    EXPECT_FALSE(sameLocation("Q:\\syllabo", "Q:\\syllabo")) << "a drive that is not ready is nowhere";
    EXPECT_TRUE(sameLocation("D:\\syllabo\\New.docx", "D:\\LINK\\new.DOCX")) << "a file not made yet";

    // A copy onto itself, however spelled, is a no-op that says so and keeps every byte.
    QString error;
    EXPECT_EQ(copyFile("D:\\syllabo\\01_Intro.pptx", "E:\\LINK\\01_intro.pptx", &error),
              CopyOutcome::SameFile);
    EXPECT_EQ(readFile(dir / "syllabo" / "01_Intro.pptx"), "the user's deck");

    // Inside the folder: what lies below it, never the folder itself nor what a link leads out to.
    std::filesystem::create_directory_symlink(dir / "other", dir / "syllabo" / "out");
    EXPECT_TRUE(isInsideFolder("D:\\syllabo\\01_Intro.pptx", "D:\\SYLLABO\\"));
    EXPECT_TRUE(isInsideFolder("D:\\link\\not yet.pptx", "D:\\syllabo"));
    EXPECT_TRUE(isInsideFolder("D:\\syllabo\\out", "D:\\syllabo")) << "the link itself lies inside";
    EXPECT_FALSE(isInsideFolder("D:\\syllabo\\out\\x.pptx", "D:\\syllabo"));
    EXPECT_FALSE(isInsideFolder("D:\\syllabo", "D:\\syllabo"));
    EXPECT_FALSE(isInsideFolder("D:\\other\\x.pptx", "D:\\syllabo"));
}
