// The zip operation from local folders: staging the decks, packing the working directory, delivery
// with the "Overwrite file?" question and its NewCourse.zip answer, the cleanup, and failures that
// must leave no zip file made and an existing one whole.
#include "course_fixture.h"
#include "platform/folders.h"
#include "printready/modZipIt.h"
#include "small_disk.h"
#include "workfiles/working_files.h"

#include <QProcess>

#include <random>

#include <gtest/gtest.h>

using namespace lf::test;
using lf::platform::MessageAnswer;
using lf::printready::RunZipPackaging;

namespace {

bool unzipTestPasses(const std::filesystem::path& zip) {
    QProcess unzip;
    unzip.start("unzip", {"-tq", QString::fromStdString(zip.string())});
    return unzip.waitForFinished(60000) && unzip.exitStatus() == QProcess::NormalExit &&
           unzip.exitCode() == 0;
}

std::vector<std::string> entryNames(const std::filesystem::path& zip) {
    std::vector<std::string> names;
    for (const auto& [name, bytes] : readZip(zip))
        names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

class ZipPackaging : public CourseTest {
protected:
    void SetUp() override {
        CourseTest::SetUp();
        makeFolder("Course");
        makeFolder("work");
        makeFolder("out");
        courseDeck(2, "Intro").write(host("Course/01_Intro.pptx"));
        courseDeck(3, "Storage").write(host("Course/02_Storage.pptx"));
        writeFile(host("Course/Handout.docx"), "a Word document of the course");
        writeFile(host("work/leftover.txt"), "already in the working directory");
        log.lines.clear();
    }
    void TearDown() override { CourseTest::TearDown(); }
    void run(const QString& source, const QString& destination) {
        RunZipPackaging(source, destination, local("work"), true, "Course.zip");
    }
};

} // namespace

TEST_F(ZipPackaging, LocalCourseIsStagedPackedCopiedAndCleanedUp) {
    run(local("Course"), local("out"));

    const QStringList zipLines = linesOf("Zip");
    EXPECT_EQ(zipLines, (QStringList{
                            "Zip - Begin",
                            "Zip - Copying files to working directory",
                            "Zip - Copied D:\\Course\\01_Intro.pptx to D:\\work\\",
                            "Zip - Copied D:\\Course\\02_Storage.pptx to D:\\work\\",
                            "Zip - Zipping files",
                            "Zip - Finished zipping files",
                            "Zip - Copied Course.zip to D:\\out",
                            "Zip - Zipping operations complete",
                        }));
    EXPECT_TRUE(log.errors.isEmpty());
    // The packer has finished when it returns: there is nothing left to sleep on.
    EXPECT_TRUE(sleeper.durations.empty());
    EXPECT_EQ(yields.count, 1);
    EXPECT_TRUE(boxes.shown.empty());

    // Only the decks of a local source are staged, and everything in the working directory is packed.
    ASSERT_TRUE(unzipTestPasses(host("out/Course.zip")));
    EXPECT_EQ(entryNames(host("out/Course.zip")),
              (std::vector<std::string>{"01_Intro.pptx", "02_Storage.pptx", "leftover.txt"}));
    const auto entries = readZip(host("out/Course.zip"));
    EXPECT_EQ(entries.at("02_Storage.pptx"), readFile(host("Course/02_Storage.pptx")));

    // The cleanup deletes the copied decks, nothing else; the zip file the run made was moved out of the
    // working directory to its destination, so there is none of it left to delete.
    EXPECT_TRUE(log.lines.contains("Cleaning - Deleted D:\\work\\01_Intro.pptx"));
    EXPECT_FALSE(log.lines.contains("Cleaning - Deleted D:\\work\\Course.zip"));
    EXPECT_FALSE(std::filesystem::exists(host("work/01_Intro.pptx")));
    EXPECT_FALSE(std::filesystem::exists(host("work/Course.zip")));
    EXPECT_TRUE(std::filesystem::exists(host("work/leftover.txt")));
    EXPECT_TRUE(std::filesystem::exists(host("Course/01_Intro.pptx")));
    // Nothing of the run is left for a later one to remove.
    EXPECT_FALSE(std::filesystem::exists(host("work/.lessonforge-files")));
    // The cleanup runs before the closing line.
    EXPECT_EQ(log.lines.last(), "Zip - Zipping operations complete");
}

// Working files kept for the user to look at keep the zip file too: it is copied to its destination.
TEST_F(ZipPackaging, KeptWorkingFilesKeepTheZipFileBesideTheDeliveredOne) {
    RunZipPackaging(local("Course"), local("out"), local("work"), false, "Course.zip");
    ASSERT_TRUE(std::filesystem::exists(host("work/Course.zip")));
    EXPECT_EQ(readFile(host("work/Course.zip")), readFile(host("out/Course.zip")));
    EXPECT_TRUE(unzipTestPasses(host("out/Course.zip")));
}

TEST_F(ZipPackaging, AnExistingZipIsReplacedOnYes) {
    writeFile(host("out/Course.zip"), "an older zip file");
    boxes.answers = {MessageAnswer::Yes};
    run(local("Course"), local("out"));

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Overwrite file?");
    EXPECT_EQ(boxes.shown[0].text, "The zipfile exists at D:\\out.  Do\nyou want to overwrite?");
    EXPECT_EQ(boxes.shown[0].icon, lf::platform::MessageIcon::Exclamation);
    EXPECT_EQ(boxes.shown[0].buttons, lf::platform::MessageButtons::YesNo);
    EXPECT_TRUE(log.lines.contains("Zip - Overwrote Course.zip at D:\\out"));
    EXPECT_TRUE(unzipTestPasses(host("out/Course.zip")));
    EXPECT_FALSE(std::filesystem::exists(host("out/NewCourse.zip")));
    EXPECT_FALSE(std::filesystem::exists(host("work/Course.zip")));
    std::vector<std::string> outFiles;
    for (const auto& e : std::filesystem::directory_iterator(host("out")))
        outFiles.push_back(e.path().filename().string());
    EXPECT_EQ(outFiles, std::vector<std::string>{"Course.zip"}) << "no temporary file is left beside it";
}

TEST_F(ZipPackaging, NoWritesNewCourseZipAndKeepsBothZipFiles) {
    writeFile(host("out/Course.zip"), "an older zip file");
    boxes.answers = {MessageAnswer::No};
    run(local("Course"), local("out"));

    EXPECT_TRUE(log.lines.contains("Zip - Created new NewCourse.zip at D:\\out"));
    EXPECT_EQ(readFile(host("out/Course.zip")), "an older zip file");
    EXPECT_TRUE(unzipTestPasses(host("out/NewCourse.zip")));
    // The zip file the run made in the working directory goes with the cleanup, whatever the answer:
    // left there, a later run would pack the older course into its own.
    EXPECT_FALSE(std::filesystem::exists(host("work/Course.zip")));
    EXPECT_FALSE(std::filesystem::exists(host("work/01_Intro.pptx")));
    EXPECT_EQ(log.lines.last(), "Zip - Zipping operations complete");
}

TEST_F(ZipPackaging, TheWorkingDirectoryAsSourceIsPackedWithAllItsFiles) {
    std::filesystem::copy_file(host("Course/Handout.docx"), host("work/Handout.docx"));
    std::filesystem::copy_file(host("Course/01_Intro.pptx"), host("work/01_Intro.pptx"));
    run(local("work"), local("out"));

    EXPECT_FALSE(log.lines.contains("Zip - Copying files to working directory"));
    EXPECT_EQ(entryNames(host("out/Course.zip")),
              (std::vector<std::string>{"01_Intro.pptx", "Handout.docx", "leftover.txt"}));
    // Nothing was staged, so the user's files in it stay; only the zip file goes.
    EXPECT_TRUE(std::filesystem::exists(host("work/01_Intro.pptx")));
    EXPECT_TRUE(std::filesystem::exists(host("work/Handout.docx")));
    EXPECT_FALSE(std::filesystem::exists(host("work/Course.zip")));
}

// Windows paths do not differ by case: D:\WORK is the working directory, and copying its decks onto
// themselves would put them on the working files list for the cleanup to delete.
TEST_F(ZipPackaging, TheWorkingDirectoryTypedInAnotherCaseIsNotStagedOrDeleted) {
    std::filesystem::copy_file(host("Course/01_Intro.pptx"), host("work/01_Intro.pptx"));
    run("D:\\WORK", local("out"));
    EXPECT_FALSE(log.lines.contains("Zip - Copying files to working directory"));
    EXPECT_TRUE(std::filesystem::exists(host("work/01_Intro.pptx")));
    EXPECT_TRUE(unzipTestPasses(host("out/Course.zip")));
}

// The working directory as the destination: the zip file is already there and must survive the
// cleanup that would otherwise delete the delivered file.
TEST_F(ZipPackaging, TheWorkingDirectoryAsDestinationKeepsTheZipFile) {
    run(local("Course"), local("work"));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(log.lines.contains("Zip - Copied Course.zip to D:\\work"));
    ASSERT_TRUE(std::filesystem::exists(host("work/Course.zip")));
    EXPECT_TRUE(unzipTestPasses(host("work/Course.zip")));
    EXPECT_FALSE(std::filesystem::exists(host("work/01_Intro.pptx")));
}

// A zip file of the same name that the user keeps in the working directory (one delivered there) is
// the one the packer adds to, and it stays the user's; it is never packed into itself.
TEST_F(ZipPackaging, AnEarlierZipInTheWorkingDirectoryIsAddedTo) {
    writeFile(host("out/Course.zip"), "an older zip file");
    run(local("Course"), local("work")); // delivered into the working directory: the user's
    ASSERT_TRUE(std::filesystem::exists(host("work/Course.zip")));
    writeFile(host("Course/03_Extra.pptx"), readFile(host("Course/01_Intro.pptx")));
    std::filesystem::remove(host("work/leftover.txt"));
    boxes.answers = {MessageAnswer::Yes};
    run(local("Course"), local("out"));
    EXPECT_EQ(
        entryNames(host("out/Course.zip")),
        (std::vector<std::string>{"01_Intro.pptx", "02_Storage.pptx", "03_Extra.pptx", "leftover.txt"}));
    EXPECT_TRUE(std::filesystem::exists(host("work/Course.zip")));
}

// The packer cannot make the zip file (its folder is missing): the operation ends at its "Serious
// error" line, with nothing delivered, without cleanup or closing line, and the existing zip file
// stays whole.
TEST_F(ZipPackaging, AMissingZipFileEndsTheRunAndLeavesTheDestinationZipWhole) {
    writeFile(host("out/Course.zip"), "an older zip file");
    boxes.answers = {MessageAnswer::Yes};
    RunZipPackaging(local("nowhere"), local("out"), local("nowhere"), true, "Course.zip");

    ASSERT_FALSE(log.lines.isEmpty());
    EXPECT_EQ(log.lines.last(),
              "Zip - Serious error WinZip could not add D:\\nowhere\\*.*: The folder D:\\nowhere does not "
              "exist");
    EXPECT_EQ(log.failures.size(), 1);
    EXPECT_FALSE(log.lines.contains("Zip - Finished zipping files"));
    EXPECT_FALSE(log.lines.contains("Zip - Zipping operations complete"));
    EXPECT_EQ(linesOf("Cleaning").size(), 0);
    EXPECT_TRUE(log.errors.isEmpty());
    EXPECT_EQ(readFile(host("out/Course.zip")), "an older zip file");
}

// The packer fails midway: the working directory's disk fills up while the zip file is written. The
// run says so in its "Serious error" line, lessonforge-run fails with it, and no zip file is left,
// neither whole nor cut short, in the working directory or at the destination; the staged decks go.
TEST_F(ZipPackaging, APackerThatFailsMidwayFailsTheRunAndLeavesNoZipFile) {
    std::filesystem::remove_all(host("work"));
    SmallDisk disk(host("work"), 400);
    if (!disk.mounted())
        GTEST_SKIP() << disk.unavailableReason().toStdString();
    // Room for this and the staged decks, not for a zip file holding them all.
    std::mt19937 random(29);
    std::string lecture(280u << 10, '\0');
    for (char& c : lecture)
        c = static_cast<char>(random());
    writeFile(host("work/lecture.mp4"), lecture);
    auto workNames = [&] {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(host("work")))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = workNames();

    run(local("Course"), local("out"));
    const QString failure = log.failures.isEmpty() ? QString() : log.failures.last();
    EXPECT_TRUE(failure.startsWith("Zip - Serious error WinZip could not add D:\\work\\Course.zip: ") &&
                failure.contains("No space left on device"))
        << log.lines.join("\n").toStdString();
    EXPECT_EQ(log.failures.size(), 1);
    EXPECT_FALSE(log.lines.contains("Zip - Finished zipping files"));
    EXPECT_FALSE(log.lines.contains("Zip - Zipping operations complete"));
    EXPECT_TRUE(log.lines.contains("Cleaning - Deleted D:\\work\\01_Intro.pptx"));
    EXPECT_EQ(workNames(), before);
    EXPECT_TRUE(std::filesystem::is_empty(host("out")));

    // The same run from the command line: a failed run, and still no zip file.
    writeFile(std::filesystem::path(lf::platform::configFolder().toStdString()) / "Syllabo.ini",
              "[Other Values]\r\nWorkingDirectory=D:\\work\r\n");
    QProcess tool;
    tool.start(LF_RUN_TOOL, {"--zip", "--source", local("Course"), "--destination", local("out")});
    ASSERT_TRUE(tool.waitForFinished(120000));
    const QString said = QString::fromLocal8Bit(tool.readAllStandardOutput());
    EXPECT_EQ(tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1, 3) << said.toStdString();
    EXPECT_TRUE(said.contains("Zip - Serious error WinZip could not add D:\\work\\Course.zip: "))
        << said.toStdString();
    EXPECT_FALSE(said.contains("Zip - Finished zipping files"));
    EXPECT_EQ(workNames(), before);
    EXPECT_TRUE(std::filesystem::is_empty(host("out")));
}

// A deck that cannot be copied ends the staging with its "Serious error" line.
TEST_F(ZipPackaging, AFailedStagingCopyEndsTheRun) {
    std::filesystem::remove_all(host("work"));
    run(local("Course"), local("out"));
    EXPECT_TRUE(log.lines.last().startsWith("Zip - Serious error ")) << log.lines.last().toStdString();
    EXPECT_FALSE(std::filesystem::exists(host("out/Course.zip")));
}

// The delivery over an existing zip file, killed while the new zip file is being copied: the
// destination still holds the old zip file, whole. Run to its end, it holds the new one, whole.
TEST_F(ZipPackaging, AKilledDeliveryNeverLeavesATruncatedZipFile) {
    std::mt19937 random(11);
    std::string big(24u << 20, '\0');
    for (char& c : big)
        c = static_cast<char>(random());
    writeFile(host("work/lecture.mp4"), big);
    const std::string old = "an older zip file";
    writeFile(host("out/Course.zip"), old);
    const QStringList args{local("work"), local("out"), local("work")};
    auto strays = [&] {
        std::vector<std::filesystem::path> found;
        for (const auto& e : std::filesystem::directory_iterator(host("out"))) {
            if (e.path().filename() != "Course.zip")
                found.push_back(e.path());
        }
        return found;
    };

    bool killedMidCopy = false;
    for (int attempt = 0; attempt < 8 && !killedMidCopy; ++attempt) {
        for (const auto& s : strays())
            std::filesystem::remove(s);
        QProcess child;
        child.start(LF_ZIP_CHILD, args);
        ASSERT_TRUE(child.waitForStarted());
        while (child.state() != QProcess::NotRunning) {
            if (!strays().empty()) { // the copy has begun beside the old file
                child.kill();
                killedMidCopy = true;
                break;
            }
            child.waitForFinished(1);
        }
        child.waitForFinished(60000);
        if (killedMidCopy)
            EXPECT_EQ(readFile(host("out/Course.zip")), old);
        else // the copy ran to its end before it was caught: this attempt proves nothing
            writeFile(host("out/Course.zip"), old);
    }
    ASSERT_TRUE(killedMidCopy) << "the copy was never caught under way";

    for (const auto& s : strays())
        std::filesystem::remove(s);
    QProcess child;
    child.start(LF_ZIP_CHILD, args);
    ASSERT_TRUE(child.waitForFinished(120000));
    EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardOutput().toStdString();
    EXPECT_TRUE(unzipTestPasses(host("out/Course.zip")));
    EXPECT_EQ(readZip(host("out/Course.zip")).at("lecture.mp4"), big);
    EXPECT_TRUE(strays().empty());
}
