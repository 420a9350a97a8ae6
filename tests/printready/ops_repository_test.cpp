// The grayscale and zip operations against a real repository: decks checked out, changed and checked
// in as new versions (also below a folder named O'Brien's course), a failing deck leaving the
// repository as it was, and the course exported, packed and the zip imported.
#include "course_fixture.h"
#include "courserun/course_run.h"
#include "office/presentation/presentation.h"
#include "printready/modRandG.h"
#include "printready/modZipIt.h"
#include "repository_fixture.h"
#include "tessarel/admin.h"
#include "workfiles/working_files.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace lf::test {
namespace {

namespace fs = std::filesystem;
namespace ppt = lf::ppt;

int grayShapes(const fs::path& file, int* total) {
    ppt::Application app;
    ppt::Presentation deck = app.presentations().open(file, true);
    int gray = 0;
    *total = 0;
    for (const ppt::Slide& slide : deck.slides()) {
        for (const ppt::Shape& shape : slide.shapes()) {
            ++*total;
            gray += shape.blackWhiteMode() == ppt::office::msoBlackWhiteGrayScale ? 1 : 0;
        }
    }
    return gray;
}

class OpsRepository : public RepositoryTest {
protected:
    void SetUp() override {
        RepositoryTest::SetUp();
        fs::create_directories(driveT / "work");
        src = temp / "src";
        fs::create_directories(src / "labs");
        courseDeck(2, "Intro").write(src / "01_Intro.pptx");
        courseDeck(3, "Storage").write(src / "02_Storage.pptx");
        courseDeck(1, "Lab").write(src / "labs" / "03_Lab.pptx");
        fs::copy_file(corpusFiles("docx").front(), src / "Handout.docx");
        repo->importFiles({src / "01_Intro.pptx", src / "02_Storage.pptx", src / "Handout.docx"}, kCourse);
        repo->importFiles({src / "labs" / "03_Lab.pptx"}, std::string(kCourse) + "/Labs");
        ASSERT_TRUE(loginThroughDialog(kUser, kPassword));
        log.lines.clear();
    }

    tessarel::TsObjectPtr object(const std::string& path) {
        tessarel::TsObjectPtr o = repo->admin->objectByPath(path);
        if (o)
            o->refresh();
        return o;
    }
    // The current content of a repository document, copied out.
    fs::path content(const std::string& path, const std::string& as) {
        const fs::path out = temp / "out" / as;
        fs::create_directories(out.parent_path());
        fs::remove(out);
        object(path)->getFile(out.string());
        return out;
    }

    fs::path src;
};

TEST_F(OpsRepository, GrayscaleChecksOutChangesAndChecksInNewVersions) {
    const std::string intro = std::string(kCourse) + "/01_Intro.pptx";
    const std::string lab = std::string(kCourse) + "/Labs/03_Lab.pptx";
    const auto before = tessarel::objectVersions(object(intro)).size();

    printready::RunGrayscaleResize(kCourse, "T:\\work", true);

    const QStringList resize = linesOf("Resize");
    ASSERT_FALSE(resize.isEmpty());
    EXPECT_EQ(resize.first(), "Begin");
    EXPECT_TRUE(resize.contains("Resizing and setting grayscale for 01_Intro.pptx"));
    EXPECT_TRUE(resize.contains("Resizing and setting grayscale for 02_Storage.pptx"));
    EXPECT_EQ(resize.mid(resize.size() - 2),
              (QStringList{"Checking in files", "Resize and grayscale complete"}));
    // Every deck of the folder and its subfolders was checked out: three, and no Word document.
    EXPECT_EQ(linesOf("Checkout").filter("Added ").size(), 3);
    EXPECT_EQ(linesOf("Checkin").filter("Added checkin node ").size(), 3);
    EXPECT_TRUE(linesOf("Checkin").contains("Items checked in"));
    EXPECT_TRUE(log.errors.isEmpty());

    EXPECT_EQ(tessarel::objectVersions(object(intro)).size(), before + 1);
    EXPECT_FALSE(object(intro)->isCheckedOut());
    EXPECT_FALSE(object(lab)->isCheckedOut());
    int total = 0;
    const fs::path introNow = content(intro, "intro.pptx");
    EXPECT_EQ(grayShapes(introNow, &total), total);
    EXPECT_EQ(total, 6);
    // lessonforge-deck show reads the checked-in deck with the notes-page layout.
    const std::string shown = deckShow(introNow);
    EXPECT_NE(shown.find("\"top\": 365, \"left\": 53, \"width\": 444, \"height\": 324"), std::string::npos)
        << shown;
    EXPECT_NE(shown.find("\"left\": 50, \"width\": 450, \"height\": 337.5"), std::string::npos) << shown;
    EXPECT_EQ(grayShapes(content(std::string(kCourse) + "/02_Storage.pptx", "storage.pptx"), &total), total);
    EXPECT_EQ(total, 9);
}

TEST_F(OpsRepository, GrayscaleFindsTheDecksBelowAFolderWithQuotesInItsName) {
    const std::string folder = "/Edvara/Courses/O'Brien's course";
    repo->importFiles({src / "01_Intro.pptx"}, folder);
    printready::RunGrayscaleResize(QString::fromStdString(folder), "T:\\work", true);
    EXPECT_EQ(linesOf("Checkout").filter("Added ").size(), 1);
    EXPECT_EQ(linesOf("Resize").last(), "Resize and grayscale complete");
    int total = 0;
    EXPECT_EQ(grayShapes(content(folder + "/01_Intro.pptx", "obrien.pptx"), &total), total);
    EXPECT_EQ(total, 6);
    // The decks of the course folder itself were not touched.
    EXPECT_FALSE(object(std::string(kCourse) + "/01_Intro.pptx")->isCheckedOut());
    EXPECT_EQ(readFile(content(std::string(kCourse) + "/01_Intro.pptx", "plain.pptx")),
              readFile(src / "01_Intro.pptx"));
}

// A failing deck ends the run before the check-in: the repository keeps every deck as it was (the
// decks stay checked out, as the operation leaves them).
TEST_F(OpsRepository, AFailingDeckChecksNothingIn) {
    fs::copy_file(corpusFiles("bad").front().parent_path() / "poi-Divino_Revelado.pptx",
                  src / "01_ZBad.pptx");
    repo->importFiles({src / "01_ZBad.pptx"}, kCourse);
    const std::string intro = std::string(kCourse) + "/01_Intro.pptx";
    const auto before = tessarel::objectVersions(object(intro)).size();

    printready::RunGrayscaleResize(kCourse, "T:\\work", true);

    const QStringList resize = linesOf("Resize");
    EXPECT_FALSE(resize.contains("Checking in files"));
    EXPECT_FALSE(resize.contains("Resize and grayscale complete"));
    EXPECT_TRUE(linesOf("Checkin").isEmpty());
    EXPECT_EQ(tessarel::objectVersions(object(intro)).size(), before);
    EXPECT_EQ(readFile(content(intro, "intro.pptx")), readFile(src / "01_Intro.pptx"));
    // The failing deck and the one after it are byte-identical in the working directory too.
    EXPECT_EQ(readFile(driveT / "work" / "01_ZBad.pptx"), readFile(src / "01_ZBad.pptx"));
    EXPECT_EQ(readFile(driveT / "work" / "02_Storage.pptx"), readFile(src / "02_Storage.pptx"));
}

// The operation's log, with a hook on its first deck.
class AtFirstDeck : public oplog::RecordingLogSink {
public:
    explicit AtFirstDeck(std::function<void()> hook) : hook_(std::move(hook)) {}
    void showProgress(const QString& operation, const QString& item, int done, int total) override {
        RecordingLogSink::showProgress(operation, item, done, total);
        if (done == 1)
            hook_();
    }

private:
    std::function<void()> hook_;
};

// Stopped after its first deck, or cancelled in the errors dialog of its check-in (an administrator
// ended the check-out of one deck meanwhile), the grayscale ends as a failure does: no deck stays
// checked out, the working directory holds none of the decks, no "complete" line.
TEST_F(OpsRepository, AStopOrCancelAfterErrorsEndsTheGrayscaleWithNoDeckCheckedOut) {
    const std::string decks[] = {std::string(kCourse) + "/01_Intro.pptx",
                                 std::string(kCourse) + "/02_Storage.pptx",
                                 std::string(kCourse) + "/Labs/03_Lab.pptx"};
    for (const bool cancelAfterErrors : {false, true}) {
        SCOPED_TRACE(cancelAfterErrors ? "cancel after errors" : "stop");
        platform::StopRequest stop;
        AtFirstDeck sink([&] {
            if (cancelAfterErrors)
                object(decks[2])->cancelCheckout();
            else
                stop.request();
        });
        {
            courserun::CourseRun run("T:\\work");
            run.obey(&stop);
            printready::RunGrayscaleResize(run, kCourse, true);
        }
        const std::string lines = sink.lines.join("\n").toStdString();
        EXPECT_EQ(sink.lines.filter("Stopped by the user"), QStringList{"Resize - Stopped by the user"})
            << lines;
        EXPECT_FALSE(sink.lines.contains("Resize - Resize and grayscale complete")) << lines;
        EXPECT_EQ(sink.lines.contains("Checkin - User chose not to continue after errors"), cancelAfterErrors)
            << lines;
        if (!cancelAfterErrors) {
            EXPECT_EQ(sink.progress.size(), 1) << lines;
        }
        EXPECT_EQ(sink.errorDialogsShown, cancelAfterErrors ? 1 : 0);
        for (const std::string& deck : decks)
            EXPECT_FALSE(object(deck)->isCheckedOut()) << deck;
        for (const auto& entry : fs::directory_iterator(driveT / "work"))
            EXPECT_EQ(entry.path().filename().string().front(), '.') << entry.path() << "\n" << lines;
    }
}

TEST_F(OpsRepository, GrayscaleWithoutASessionEndsWithTheFailure) {
    repository::resetConnection();
    printready::RunGrayscaleResize(kCourse, "T:\\work", true);
    const QStringList resize = linesOf("Resize");
    ASSERT_EQ(resize.size(), 2);
    EXPECT_EQ(resize[0], "Begin");
    EXPECT_FALSE(resize[1].isEmpty());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(OpsRepository, ZipExportsPacksAndImportsTheCourse) {
    const std::string outFolder = "/Edvara/Courses/Out";
    tessarel::makeFolders(repo->admin, outFolder);

    printready::RunZipPackaging(kCourse, QString::fromStdString(outFolder), "T:\\work", true, "Course.zip");

    const QStringList zip = linesOf("Zip");
    EXPECT_EQ(zip,
              (QStringList{"Begin", "Export files from " + QString(kCourse) + " to T:\\work", "Zipping files",
                           "Finished zipping files", "Importing zip file into repository",
                           "Imported zip file", "Zipping operations complete"}));
    EXPECT_TRUE(sleeper.durations.empty()); // the packer has finished when it returns
    EXPECT_TRUE(linesOf("Import").contains("Import successful"));

    const tessarel::TsObjectPtr imported = object(outFolder + "/Course.zip");
    ASSERT_TRUE(imported);
    const fs::path zipCopy = content(outFolder + "/Course.zip", "Course.zip");
    QProcess unzip;
    unzip.start("unzip", {"-tq", QString::fromStdString(zipCopy.string())});
    ASSERT_TRUE(unzip.waitForFinished(60000));
    EXPECT_EQ(unzip.exitCode(), 0);
    std::vector<std::string> names;
    for (const auto& [name, bytes] : readZip(zipCopy))
        names.push_back(name);
    std::sort(names.begin(), names.end());
    // Decks and Word documents of the folder and its subfolders.
    EXPECT_EQ(names,
              (std::vector<std::string>{"01_Intro.pptx", "02_Storage.pptx", "03_Lab.pptx", "Handout.docx"}));
    EXPECT_EQ(readZip(zipCopy).at("02_Storage.pptx"), readFile(src / "02_Storage.pptx"));

    // The cleanup took the exported files and the zip file out of the working directory.
    EXPECT_TRUE(fs::is_empty(driveT / "work"));
}

TEST_F(OpsRepository, ZipFromALocalFolderIntoTheRepository) {
    fs::create_directories(driveT / "Course");
    fs::copy_file(src / "01_Intro.pptx", driveT / "Course" / "01_Intro.pptx");
    tessarel::makeFolders(repo->admin, "/Edvara/Courses/Out");
    printready::RunZipPackaging("T:\\Course", "/Edvara/Courses/Out", "T:\\work", true, "Course.zip");
    EXPECT_TRUE(linesOf("Zip").contains("Imported zip file"));
    EXPECT_TRUE(object("/Edvara/Courses/Out/Course.zip"));
    EXPECT_TRUE(fs::exists(driveT / "Course" / "01_Intro.pptx"));
    EXPECT_TRUE(fs::is_empty(driveT / "work"));
}

// An import into a folder that does not exist: "There was a problem importing", then the cleanup and
// the closing line all the same.
TEST_F(OpsRepository, AFailedImportStillCleansUp) {
    printready::RunZipPackaging(kCourse, "/Edvara/Courses/Nowhere", "T:\\work", true, "Course.zip");
    const QStringList zip = linesOf("Zip");
    EXPECT_TRUE(zip.contains("There was a problem importing"));
    EXPECT_EQ(zip.last(), "Zipping operations complete");
    EXPECT_TRUE(fs::is_empty(driveT / "work"));
}

// A source folder that is not in the repository: the operation ends with its "Serious error" line and
// makes no zip file.
TEST_F(OpsRepository, AnUnknownSourceFolderEndsTheZipRun) {
    printready::RunZipPackaging("/Edvara/Courses/Missing", "/Edvara/Courses", "T:\\work", true, "Course.zip");
    const QStringList zip = linesOf("Zip");
    ASSERT_EQ(zip.size(), 2);
    EXPECT_TRUE(zip[1].startsWith("Serious error ")) << zip[1].toStdString();
    EXPECT_FALSE(fs::exists(driveT / "work" / "Course.zip"));
}

} // namespace
} // namespace lf::test
