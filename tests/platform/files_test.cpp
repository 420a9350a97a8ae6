// Dir listings (wildcards, attributes, NTFS order) and the file calls on Windows-style paths.
#include "platform/files.h"
#include "platform/folders.h"
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

    EXPECT_TRUE(copyFile("D:\\a.pptx", "D:\\work\\b.pptx", &error)) << error.toStdString();
    EXPECT_EQ(readFile(dir / "work/b.pptx"), "first");
    writeFile(dir / "a.pptx", "second");
    EXPECT_TRUE(copyFile("D:\\a.pptx", "D:\\WORK\\B.pptx", &error))
        << "replaces, found without regard to case";
    EXPECT_EQ(readFile(dir / "work/b.pptx"), "second");
    EXPECT_EQ(QDir(dir.qpath() + "/work").entryList(QDir::Files), QStringList({"b.pptx"}))
        << "no temporary left";
    EXPECT_FALSE(copyFile("D:\\none.pptx", "D:\\work\\c.pptx", &error));
    EXPECT_FALSE(copyFile("D:\\a.pptx", "D:\\work", &error)) << "a folder is not replaced by a file";
    EXPECT_TRUE(folderExists("D:\\work"));

    EXPECT_TRUE(deleteFile("D:\\work\\B.PPTX", &error)) << error.toStdString();
    EXPECT_FALSE(fileExists("D:\\work\\b.pptx"));
    EXPECT_FALSE(deleteFile("D:\\work\\b.pptx", &error));
    EXPECT_FALSE(deleteFile("D:\\work", &error)) << "a folder is not a file";
}
