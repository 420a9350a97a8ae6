// The print-ready run through lessonforge-run, one course per run: a run that ends early leaves
// nothing for the next one to print, a repository destination receives exactly the print files (and
// PDFs) the run made and the working directory is empty afterwards, the TOC and Index this same run
// wrote into the destination are no "existing files", and a drive root is a destination like any other
// folder. Real decks and documents, a real repository, a private CUPS server.
#include "../indexing/course_builder.h"
#include "course_fixture.h"
#include "platform/folders.h"
#include "platform/paths.h"
#include "private_cups.h"
#include "repository_fixture.h"
#include "tessarel/admin.h"
#include "test_support.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace lf::test {
namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

struct RunResult {
    int exitCode = -1;
    QString out;
    QString err;
    std::string said() const { return (out + "\n--- stderr ---\n" + err).toStdString(); }
};

RunResult runTool(const QStringList& arguments) {
    QProcess tool;
    tool.start(LF_RUN_TOOL, arguments);
    tool.waitForFinished(600000);
    RunResult r;
    r.exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    r.out = QString::fromLocal8Bit(tool.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(tool.readAllStandardError());
    return r;
}

// The files directly in a folder (no folders).
Names filesIn(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file())
            names.insert(entry.path().filename().string());
    return names;
}

// Every file below a folder, as paths relative to it.
Names filesBelow(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            names.insert(fs::relative(entry.path(), folder).string());
    return names;
}

class OneCoursePerRun : public RepositoryTest {
protected:
    void SetUp() override {
        RepositoryTest::SetUp();
        const QString reason = PrivateCups::unavailableReason();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        cups.emplace();
        // C: as the program sees it: nothing from an earlier test, the settings file's defaults.
        driveC = platform::driveFolder(QChar('C')).toStdString();
        for (const auto& entry : fs::directory_iterator(driveC))
            fs::remove_all(entry.path());
        fs::remove(fs::path(platform::configFolder().toStdString()) / "Syllabo.ini");
        workingDirectory = driveC / "syllabo";
        fs::create_directories(workingDirectory);
        writeFile(temp / "password", std::string(kPassword) + "\n");
        local = temp / "decks";
        fs::create_directories(local);
    }

    QStringList login() const {
        return {"--repository", "ts_notes",        "--user",
                kUser,          "--password-file", QString::fromStdString((temp / "password").string())};
    }
    static QStringList printers() {
        return {"--ppt-printer", PrivateCups::psPrinter, "--word-printer", PrivateCups::psPrinter};
    }

    // The names of the documents in a repository folder, read through a session of its own.
    Names repositoryFolder(const std::string& path) const {
        auto session =
            tessarel::openAdminSession(tessarel::openRepository(repo->location), "ts_notes", kUser);
        auto folder = session->folderByPath(path);
        Names names;
        if (!folder)
            return names;
        auto rows = folder->contents("object_name,r_object_type");
        while (rows->next())
            if (rows->getString("r_object_type") != "ts_folder")
                names.insert(rows->getString("object_name"));
        rows->close();
        return names;
    }

    // A repository course of decks (courseDeck) and corpus documents, made from local copies.
    void repositoryCourse(const std::string& path, const std::vector<std::string>& decks,
                          const std::vector<std::string>& documents) {
        std::vector<fs::path> files;
        for (const std::string& name : decks) {
            courseDeck(2, name).write(local / name);
            files.push_back(local / name);
        }
        for (const std::string& name : documents) {
            fs::copy_file(corpusFiles("docx").front(), local / name, fs::copy_options::overwrite_existing);
            files.push_back(local / name);
        }
        repo->importFiles(files, path);
    }

    static constexpr const char* kOut = "/Edvara/Courses/Printed";
    std::optional<PrivateCups> cups;
    fs::path driveC;
    fs::path workingDirectory;
    fs::path local;
};

// A run that ends early must not hand its exported decks to the next run: the second course's
// destination receives that course's print files and nothing of the first.
TEST_F(OneCoursePerRun, ARunThatEndedEarlyLeavesNothingForTheNextCourse) {
    repositoryCourse(kCourse, {"00_Welcome.pptx", "02_Storage.pptx"}, {});
    repositoryCourse("/Edvara/Courses/Networks", {"01_Routing.pptx"}, {"Lab.docx"});
    tessarel::makeFolders(repo->admin, kOut);

    const RunResult first = runTool(QStringList{"--print-ready", "--source", kCourse, "--destination", kOut,
                                                "--word-printer", PrivateCups::psPrinter} +
                                    login());
    EXPECT_EQ(first.exitCode, 3) << first.said();
    EXPECT_TRUE(first.err.contains("The PowerPoint printer was not selected")) << first.said();

    const RunResult second =
        runTool(QStringList{"--print-ready", "--source", "/Edvara/Courses/Networks", "--destination", kOut} +
                printers() + login());
    EXPECT_EQ(second.exitCode, 0) << second.said();
    EXPECT_EQ(repositoryFolder(kOut), (Names{"01_Routing.prn", "Lab.prn"})) << second.said();
    const Names left = filesBelow(workingDirectory);
    EXPECT_FALSE(left.count("00_Welcome.pptx")) << second.said();
    EXPECT_FALSE(left.count("02_Storage.pptx")) << second.said();
}

// "Print as PDF too" into a repository folder: every print file and every PDF beside it reaches the
// destination, and the working directory keeps none of the run's files.
TEST_F(OneCoursePerRun, EveryPrintFileOfARepositoryCourseIsImportedAndTheWorkingDirectoryEmptied) {
    repositoryCourse(kCourse, {"00_Welcome.pptx", "02_Storage.pptx"}, {"Handout.docx"});
    tessarel::makeFolders(repo->admin, kOut);

    const RunResult r =
        runTool(QStringList{"--print-ready", "--pdf", "--source", kCourse, "--destination", kOut} +
                printers() + login());
    EXPECT_EQ(r.exitCode, 0) << r.said();
    EXPECT_TRUE(r.out.contains(" - Import successful\n")) << r.said();
    EXPECT_EQ(repositoryFolder(kOut), (Names{"00_Welcome.pdf", "00_Welcome.prn", "02_Storage.pdf",
                                             "02_Storage.prn", "Handout.pdf", "Handout.prn"}))
        << r.said();
    EXPECT_EQ(filesBelow(workingDirectory), Names{}) << r.said();
}

// The TOC and Index written into the destination by the same run are not files the user must
// remove: no "Existing files" box, and the destination holds them beside one print file each.
TEST_F(OneCoursePerRun, TheTocAndIndexOfTheSameRunAreNoExistingFiles) {
    const fs::path course = driveC / "Course";
    fs::create_directories(course);
    fs::create_directories(driveC / "Templates");
    writeDeck(course, "01_Intro.pptx",
              {titledSlide("Welcome", {"apple"}), titledSlide("Agenda", {"Banana"})});
    writeDeck(course, "02_More.pptx", {titledSlide("More", {"apple"})});
    fs::copy_file(corpusFiles("docx").front(), course / "Handout.docx");
    writeWordTemplate(driveC / "Templates" / "Template.docx");
    fs::create_directories(driveC / "Out");

    const RunResult r =
        runTool(QStringList{"--index", "--toc", "--print-ready", "--source", "C:\\Course", "--destination",
                            "C:\\Out", "--toc-template", "C:\\Templates\\Template.docx", "--index-template",
                            "C:\\Templates\\Template.docx", "--toc-name", "TOC.docx", "--index-name",
                            "Index.docx", "--course-name", "One Course"} +
                printers());
    EXPECT_EQ(r.exitCode, 0) << r.said();
    EXPECT_FALSE(r.out.contains("[box] Existing files")) << r.said();
    EXPECT_EQ(filesIn(driveC / "Out"),
              (Names{"01_Intro.prn", "02_More.prn", "Handout.prn", "Index.docx", "TOC.docx"}))
        << r.said();
}

// A drive root is a destination folder: the print files land at the root of the mapped drive.
TEST_F(OneCoursePerRun, ADriveRootTakesThePrintFiles) {
    TempDir driveD;
    writeFile(fs::path(platform::configFolder().toStdString()) / "drives.ini",
              "[Drives]\nT=" + driveT.string() + "\nD=" + driveD.path().string() + "\n");
    const fs::path course = driveC / "Course";
    fs::create_directories(course);
    courseDeck(2, "Welcome").write(course / "00_Welcome.pptx");
    courseDeck(3, "Storage").write(course / "02_Storage.pptx");
    fs::copy_file(corpusFiles("docx").front(), course / "Handout.docx");

    const RunResult r =
        runTool(QStringList{"--print-ready", "--source", "C:\\Course", "--destination", "D:\\"} + printers());
    EXPECT_EQ(r.exitCode, 0) << r.said();
    EXPECT_EQ(filesIn(driveD.path()), (Names{"00_Welcome.prn", "02_Storage.prn", "Handout.prn"})) << r.said();
}

// The course folder as the destination, spelled otherwise: the print files would replace the course's
// own PDFs and print files. Refused before anything is printed; every file of the course stays.
TEST_F(OneCoursePerRun, ADestinationThatIsTheCourseItselfIsRefusedBeforeAnythingIsPrinted) {
    const fs::path course = driveC / "Course";
    fs::create_directories(course);
    courseDeck(2, "Storage").write(course / "02_Storage.pptx");
    writeFile(course / "02_Storage.pdf", "the author's own PDF");
    writeFile(course / "02_Storage.prn", "the author's own print file");
    const Names before = filesIn(course);

    const RunResult r = runTool(
        QStringList{"--print-ready", "--pdf", "--source", "C:\\Course", "--destination", "c:\\course\\.\\"} +
        printers());
    EXPECT_EQ(r.exitCode, 3) << r.said();
    EXPECT_TRUE(r.err.contains("is the course folder")) << r.said();
    EXPECT_FALSE(r.out.contains("Printing 02_Storage.pptx")) << r.said();
    EXPECT_FALSE(r.out.contains("[box] Existing files")) << r.said();
    EXPECT_EQ(filesIn(course), before);
    EXPECT_EQ(readFile(course / "02_Storage.pdf"), "the author's own PDF");
    EXPECT_EQ(readFile(course / "02_Storage.prn"), "the author's own print file");
}

// PrintReadyZipFilename is a file name in the print-ready folder: one that leads out of it (to a user's
// file, or anywhere on C:) is refused before printing, and nothing reaches the shared repository.
TEST_F(OneCoursePerRun, AZipNameLeadingOutOfThePrintFolderIsRefusedAndNothingIsImported) {
    repositoryCourse(kCourse, {"00_Welcome.pptx"}, {});
    tessarel::makeFolders(repo->admin, kOut);
    writeFile(driveC / "Important.docx", "the user's own document");
    for (const char* name : {"..\\..\\Important.docx", "..\\..\\..\\evil.zip", "CON.zip"}) {
        writeFile(fs::path(platform::configFolder().toStdString()) / "Syllabo.ini",
                  std::string("[Other Values]\r\nPrintReadyZipFilename=") + name + "\r\n");
        const RunResult r =
            runTool(QStringList{"--print-ready", "--zip-result", "--source", kCourse, "--destination", kOut} +
                    printers() + login());
        EXPECT_EQ(r.exitCode, 3) << name << "\n" << r.said();
        EXPECT_TRUE(r.err.contains("PrintReadyZipFilename is not a file name")) << r.said();
        EXPECT_FALSE(r.out.contains("Printing 00_Welcome.pptx")) << r.said();
        EXPECT_EQ(repositoryFolder(kOut), Names{}) << r.said();
    }
    EXPECT_EQ(readFile(driveC / "Important.docx"), "the user's own document");
    EXPECT_FALSE(fs::exists(driveC / "evil.zip"));
    EXPECT_FALSE(fs::exists(driveC.parent_path() / "evil.zip"));
    EXPECT_EQ(filesBelow(workingDirectory), Names{});
}

} // namespace
} // namespace lf::test
