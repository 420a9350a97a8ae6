// Windows-style local paths through the drive map: drives.ini, the default drives, the not-ready
// drive, ".." kept inside the drive's folder, components found without regard to case.
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

using namespace lf::platform;
using lf::test::TempDir;
using lf::test::writeFile;

namespace {

class DriveMap : public testing::Test {
protected:
    void SetUp() override { QFile::remove(configFolder() + "/drives.ini"); }
    void TearDown() override { QFile::remove(configFolder() + "/drives.ini"); }
    void mapDrive(const QString& letter, const QString& folder) {
        writeFile(std::filesystem::path((configFolder() + "/drives.ini").toStdString()),
                  ("[Drives]\r\n" + letter + "=" + folder + "\r\n").toStdString());
    }
};

} // namespace

TEST(Paths, RepositoryPathHoldsASlashAnywhere) {
    EXPECT_TRUE(isRepositoryPath("/Edvara/Courses/Storage"));
    EXPECT_TRUE(isRepositoryPath("C:\\Courses/Storage"));
    EXPECT_TRUE(isRepositoryPath("abc/"));
    EXPECT_FALSE(isRepositoryPath("C:\\Courses\\Storage"));
    EXPECT_FALSE(isRepositoryPath(""));
}

// A name copied from an old Windows share is bytes that need not be UTF-8: whatever the bytes, the
// program's text for them gives the same bytes back, UTF-8 reads as itself, and only the bytes that
// do not decode are shown as the replacement character.
TEST(Paths, HostNamesInAnyBytesComeBackByteForByte) {
    std::mt19937 random(25);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(static_cast<qsizetype>(random() % 24), '\0');
        for (char& c : bytes) // mostly high bytes, so that sequences valid and broken both occur
            c = static_cast<char>(random() % 3 == 0 ? 'a' + random() % 26 : 0x80 + random() % 0x80);
        if (round % 4 == 0) // some well-formed text among the noise
            bytes += QString::fromUcs4(U"\u00e9\u4e2d\U0001F600").toUtf8();
        ASSERT_EQ(encodeHostName(decodeHostName(bytes)), bytes) << bytes.toHex().toStdString();
        ASSERT_EQ(hostFsPath(decodeHostName(bytes)).native(), bytes.toStdString());
    }
    const QString utf8 = QString::fromUtf8("Caf\u00e9 \U0001F600.pptx");
    EXPECT_EQ(decodeHostName(utf8.toUtf8()), utf8);
    EXPECT_FALSE(holdsUndecodedBytes(utf8));
    // Latin-1, an overlong "/", an encoded surrogate and a sequence cut short do not decode.
    for (const char* raw : {"Sp\xe9"
                            "cial",
                            "\xc0\xaf", "\xed\xa0\x80", "\xe4\xb8"}) {
        const QString name = decodeHostName(QByteArray(raw));
        EXPECT_TRUE(holdsUndecodedBytes(name)) << raw;
        EXPECT_FALSE(holdsUndecodedBytes(shownName(name))) << raw;
        EXPECT_EQ(encodeHostName(name), QByteArray(raw));
    }
    EXPECT_EQ(shownName(decodeHostName("02_Sp\xe9"
                                       "cial.pptx")),
              QString::fromUtf8("02_Sp\uFFFDcial.pptx"));
}

TEST(Paths, JoinAndFileName) {
    EXPECT_EQ(joinPath("C:\\", "a"), "C:\\a");
    EXPECT_EQ(joinPath("C:\\syllabo", "01_Intro.pptx"), "C:\\syllabo\\01_Intro.pptx");
    EXPECT_EQ(joinPath("C:\\syllabo\\", "x"), "C:\\syllabo\\x");
    EXPECT_EQ(fileNameOf("C:\\a\\b.pptx"), "b.pptx");
    EXPECT_EQ(fileNameOf("C:b.pptx"), "b.pptx");
    EXPECT_EQ(fileNameOf("/Cab/Folder/Doc"), "Doc");
}

// A name the program writes into a folder must be that file in that folder on Windows too.
TEST(Paths, AFileNameTheProgramWritesIsAPlainWindowsFileName) {
    for (const char* name :
         {"00b_Toc.docx", "Course.zip", "console.docx", "COM10.zip", "a. b.zip", "NULL.docx"})
        EXPECT_EQ(fileNameProblem(name), QString()) << name;
    for (const char* name :
         {"..\\..\\evil.zip", "..", "C:evil.zip", "a/b.zip", "CON", "con.docx", "Nul .zip", "LPT1.txt",
          "com9.docx", "nul.tar.gz", "Course.zip.", "Course.zip ", "a?.zip", ""})
        EXPECT_NE(fileNameProblem(name), QString()) << name;
}

TEST_F(DriveMap, DefaultDrivesWhenNothingIsConfigured) {
    const QString c = driveFolder('C');
    EXPECT_EQ(c, dataFolder() + "/drive_c");
    EXPECT_TRUE(QDir(c).exists()) << "C: is created on first use";
    EXPECT_EQ(driveFolder('c'), c);
    EXPECT_EQ(driveFolder('H'), QDir::homePath());
    EXPECT_EQ(driveFolder('Z'), "/");
    EXPECT_TRUE(driveFolder('Q').isEmpty());

    EXPECT_EQ(toHostPath("C:\\syllabo").path, c + "/syllabo");
    EXPECT_EQ(toHostPath("Z:\\etc").path, "/etc");
    EXPECT_EQ(toHostPath("Z:\\").path, "/");
    EXPECT_EQ(toHostPath("C:").path, c);
}

TEST_F(DriveMap, UnmappedOrMissingDriveIsNotReady) {
    const HostPath q = toHostPath("Q:\\Courses");
    EXPECT_FALSE(q.ok());
    EXPECT_TRUE(q.path.isEmpty());
    EXPECT_TRUE(q.error.contains("Q: is not ready")) << q.error.toStdString();

    // A drive mapped to a folder that does not exist is not ready either.
    mapDrive("D", "/nonexistent/lessonforge/drive");
    EXPECT_FALSE(toHostPath("D:\\x").ok());
}

TEST_F(DriveMap, ConfiguredDriveAndCaseOfLetterAndKey) {
    TempDir dir;
    mapDrive("d", dir.qpath());
    EXPECT_EQ(toHostPath("D:\\Courses\\Storage").path, dir.qpath() + "/Courses/Storage");
    EXPECT_EQ(toHostPath("d:\\Courses").path, dir.qpath() + "/Courses");
    // "D:" as a key works too.
    mapDrive("E:", dir.qpath());
    EXPECT_EQ(toHostPath("E:\\x").path, dir.qpath() + "/x");
}

TEST_F(DriveMap, DotDotNeverLeavesTheDrive) {
    TempDir dir;
    mapDrive("D", dir.qpath());
    EXPECT_EQ(toHostPath("D:\\..\\..\\etc\\passwd").path, dir.qpath() + "/etc/passwd");
    EXPECT_EQ(toHostPath("D:\\a\\..\\..\\b").path, dir.qpath() + "/b");
    EXPECT_EQ(toHostPath("D:\\a\\.\\b\\..\\c").path, dir.qpath() + "/a/c");
    EXPECT_EQ(toHostPath("D:\\..").path, dir.qpath());
}

TEST_F(DriveMap, DoubledSeparatorsAndPathsWithoutDrive) {
    TempDir dir;
    mapDrive("D", dir.qpath());
    EXPECT_EQ(toHostPath("D:\\a\\\\b\\").path, dir.qpath() + "/a/b");
    // Without a drive letter a path is taken from the root of C:.
    EXPECT_EQ(toHostPath("\\syllabo").path, driveFolder('C') + "/syllabo");
    EXPECT_EQ(toHostPath("syllabo").path, driveFolder('C') + "/syllabo");
}

TEST_F(DriveMap, RejectsRepositoryNetworkAndMalformedPaths) {
    EXPECT_FALSE(toHostPath("/Edvara/Courses").ok());
    EXPECT_FALSE(toHostPath("\\\\server\\share\\x").ok());
    EXPECT_FALSE(toHostPath("1:\\x").ok());
    EXPECT_FALSE(toHostPath("C:\\a:b").ok());
    EXPECT_FALSE(toHostPath("").ok());
}

TEST_F(DriveMap, ComponentsAreFoundWithoutRegardToCase) {
    TempDir dir;
    mapDrive("D", dir.qpath());
    QDir(dir.qpath()).mkpath("Courses/Storage");
    writeFile(dir / "Courses/Storage/01_Intro.pptx", "x");
    EXPECT_EQ(toHostPath("D:\\COURSES\\storage\\01_INTRO.PPTX").path,
              dir.qpath() + "/Courses/Storage/01_Intro.pptx");
    // A missing tail is kept as typed, below the part that was found.
    EXPECT_EQ(toHostPath("D:\\courses\\New Folder\\Sub").path, dir.qpath() + "/Courses/New Folder/Sub");

    // The exact name wins; otherwise the first in NTFS order (upper-cased) among several matches.
    QDir(dir.qpath()).mkpath("Twin");
    QDir(dir.qpath()).mkpath("twin");
    EXPECT_EQ(toHostPath("D:\\twin").path, dir.qpath() + "/twin");
    EXPECT_EQ(toHostPath("D:\\Twin").path, dir.qpath() + "/Twin");
    EXPECT_EQ(toHostPath("D:\\TWIN").path, dir.qpath() + "/Twin");
}

// What the drive map gives is kept between lookups, and a change to the map, by the user in an editor
// or by the program, is seen at once.
TEST_F(DriveMap, AKeptDriveMapSeesEveryChangeToIt) {
    TempDir first, second, third;
    mapDrive("D", first.qpath());
    const std::filesystem::path map = (configFolder() + "/drives.ini").toStdString();
    // The map's times set back an hour, as a copy that keeps them (cp -p) leaves them.
    const auto age = [&] {
        const timespec hourAgo{::time(nullptr) - 3600, 0};
        const timespec times[2] = {hourAgo, hourAgo};
        ASSERT_EQ(::utimensat(AT_FDCWD, map.c_str(), times, 0), 0);
    };
    age();
    EXPECT_EQ(toHostPath("D:\\x").path, first.qpath() + "/x");
    EXPECT_EQ(toHostPath("D:\\x").path, first.qpath() + "/x");

    {
        std::ofstream inPlace(map, std::ios::binary | std::ios::trunc); // the same file, written over
        inPlace << "[Drives]\r\nD=" << second.qpath().toStdString() << "\r\n";
    }
    EXPECT_EQ(toHostPath("D:\\x").path, second.qpath() + "/x");
    age();
    EXPECT_EQ(toHostPath("D:\\x").path, second.qpath() + "/x");

    ASSERT_TRUE(WritePrivateProfileString("Drives", "D", third.qpath(), "drives.ini"));
    age();
    EXPECT_EQ(toHostPath("D:\\x").path, third.qpath() + "/x");

    std::filesystem::remove(map);
    EXPECT_EQ(toHostPath("D:\\x").error, "Drive D: is not ready (no host folder is mapped to it)");
}

// The listing a lookup without regard to case reads is kept for the next lookup in the folder, and
// still sees what changed since: a file the program wrote and one someone else removed.
TEST_F(DriveMap, AKeptFolderListingSeesEveryChangeToTheFolder) {
    TempDir dir;
    mapDrive("D", dir.qpath());
    QDir(dir.qpath()).mkpath("Work");
    writeFile(dir / "Work/Notes.txt", "notes");
    // A folder last changed an hour ago: its listing is kept.
    const auto age = [&] {
        const timespec hourAgo{::time(nullptr) - 3600, 0};
        const timespec times[2] = {hourAgo, hourAgo};
        ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "Work").c_str(), times, 0), 0);
    };
    age();
    EXPECT_EQ(toHostPath("D:\\WORK\\NOTES.TXT").path, dir.qpath() + "/Work/Notes.txt");

    std::filesystem::remove(dir / "Work/Notes.txt"); // someone else
    EXPECT_EQ(toHostPath("D:\\Work\\NOTES.TXT").path, dir.qpath() + "/Work/NOTES.TXT");

    age();
    EXPECT_EQ(toHostPath("D:\\Work\\REPORT.TXT").path, dir.qpath() + "/Work/REPORT.TXT");
    writeFile(dir / "Work/source.txt", "report");
    ASSERT_EQ(copyFile("D:\\Work\\source.txt", "D:\\Work\\Report.txt"), CopyOutcome::Created);
    EXPECT_EQ(toHostPath("D:\\Work\\REPORT.TXT").path, dir.qpath() + "/Work/Report.txt");

    // Renamed by someone else, in a folder whose listing was kept: the new name is found, not the old.
    age();
    EXPECT_EQ(toHostPath("D:\\Work\\SOURCE.TXT").path, dir.qpath() + "/Work/source.txt");
    std::filesystem::rename(dir / "Work/source.txt", dir / "Work/Draft.txt");
    EXPECT_EQ(toHostPath("D:\\Work\\SOURCE.TXT").path, dir.qpath() + "/Work/SOURCE.TXT");
    EXPECT_EQ(toHostPath("D:\\Work\\DRAFT.TXT").path, dir.qpath() + "/Work/Draft.txt");
}

// An engine names the files it failed on by their host paths; the user reads them with the drive
// letters they typed, through the drive that holds them most closely, and a repository path in the
// same text stays as it is.
TEST_F(DriveMap, HostPathsInATextAreGivenByTheirDriveLetters) {
    TempDir mapped;
    mapDrive("K", QString::fromStdString(mapped.path().string()));
    const QString c = driveFolder('C');
    const QString k = QString::fromStdString(mapped.path().string());
    EXPECT_EQ(localPathOf(c + "/Courses/Out/00b_Toc.docx"), "C:\\Courses\\Out\\00b_Toc.docx");
    EXPECT_EQ(localPathOf(k), "K:\\");
    EXPECT_EQ(localPathOf("/usr/share"), "Z:\\usr\\share");

    const QString engine = c + "/Nope/00b_Toc.docx: cannot save: cannot create a temporary file in " + c +
                           "/Nope: No such file or directory; \"" + k + "/My Course/01_Intro.pptx\" (" + k +
                           "/x), not in /Edvara/Courses/Sample";
    EXPECT_EQ(withLocalPaths(engine),
              "C:\\Nope\\00b_Toc.docx: cannot save: cannot create a temporary file in C:\\Nope: No such "
              "file or directory; \"K:\\My Course\\01_Intro.pptx\" (K:\\x), not in /Edvara/Courses/Sample");
}
