// Page 4 through the real window with the program's own parts: the course check it runs once the
// fields are verified, the run that Next still starts, the paths its failure lines name, and the
// drive-letter form offered for a host folder typed as a repository path.
#include "course_builder.h"
#include "wizard/program.h"
#include "wizard_fixture.h"

#include <QTableWidget>
#include <QTemporaryDir>

#include <filesystem>

namespace fs = std::filesystem;
using namespace lf::wizard;
using namespace lf::wizard::test;
using lf::platform::MessageAnswer;

namespace {

fs::path host(const QString& windowsPath) {
    const fs::path path = lf::platform::toHostPath(windowsPath).path.toStdString();
    fs::create_directories(path.parent_path());
    return path;
}

class PageFourCheck : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        lf::test::writeDeck(host("C:\\Course\\x").parent_path(), "01_Intro.pptx",
                            {lf::test::titledSlide("Welcome"), lf::test::titledSlide("Agenda")});
        lf::test::writeDeck(host("C:\\Course\\x").parent_path(), "02_More.pptx",
                            {lf::test::titledSlide("More")});
        lf::test::writeWordTemplate(host("C:\\Templates\\Toc.docx"));
        fs::create_directories(host("C:\\Out"));
    }
    // The program as built, on pages 2 and 3 with the TOC chosen and its fields filled, then page 4.
    void toPageFour(const QString& destination) {
        wizard = std::make_unique<frmWizard>(programParts());
        wizard->show();
        next();
        wizard->chkTOC->click();
        next();
        wizard->txtSourcePath->setText("C:\\Course\\");
        wizard->txtDestinationPath->setText(destination);
        wizard->txtTOCTemplate->setText("C:\\Templates\\Toc.docx");
        wizard->txtTOCName->setText("00b_Toc.docx");
        wizard->txtCourseName->setText("Networks 101");
        next();
        ASSERT_EQ(wizard->PageNumber, 4);
    }
    QStringList problemRows() const {
        QStringList rows;
        const QTableWidget& list = *wizard->lstProblems;
        for (int row = 0; row < list.rowCount(); ++row)
            rows.append(list.item(row, 0)->text() + " | " + list.item(row, 1)->text() + " | " +
                        list.item(row, 2)->text());
        return rows;
    }
    QStringList log() const {
        QStringList lines;
        for (int i = 0; i < wizard->lstOperations->count(); ++i)
            lines.append(wizard->lstOperations->item(i)->text());
        return lines;
    }
    lf::platform::RecordingPointer pointer;
};

} // namespace

TEST_F(PageFourCheck, ListsAMissingDestinationAndAWronglyNamedDeckAndNextStillRuns) {
    lf::test::writeDeck(host("C:\\Course\\x").parent_path(), "Intro.pptx", {lf::test::titledSlide("Stray")});
    toPageFour("C:\\Courses\\Missing\\");
    frmWizard& w = *wizard;

    EXPECT_EQ(w.lblWelcome->text(), "Click Next to perform all operations");
    EXPECT_EQ(w.lblProblems->text(), "The check found 2 problems in the course. Click Back to fix them, or "
                                     "Next to run anyway.");
    const QStringList rows = problemRows();
    ASSERT_EQ(rows.size(), 2) << rows.join('\n').toStdString();
    EXPECT_EQ(rows[0], "C:\\Courses\\Missing |  | the destination folder does not exist");
    EXPECT_TRUE(rows[1].startsWith("C:\\Course\\Intro.pptx |  | Wrong Name: ")) << rows[1].toStdString();
    EXPECT_TRUE(w.lstProblems->isVisible());
    EXPECT_EQ(pointer.changes, std::vector<bool>({true, false})) << "the wait pointer, then the default";
    EXPECT_FALSE(fs::exists(host("C:\\Courses\\Missing"))) << "the check writes nothing";
    EXPECT_TRUE(boxes.shown.empty());

    ASSERT_TRUE(w.cmdNext->isEnabled());
    next();
    EXPECT_EQ(w.PageNumber, 5);
    EXPECT_FALSE(w.lstProblems->isVisible()) << "the list belongs to page 4";
    EXPECT_TRUE(log().contains("TOC - Begin")) << log().join('\n').toStdString();
}

// A clean course says so; the destination folder then removed, the check lists it, and the TOC that
// fails on it at the end names the document by the path the user typed, not by its host path.
TEST_F(PageFourCheck, ACleanCourseSaysNoneAndAMissingDestinationIsLoggedAsTyped) {
    toPageFour("C:\\Out");
    EXPECT_EQ(wizard->lblProblems->text(), "The check found no problems in the course.");
    EXPECT_TRUE(wizard->lblProblems->isVisible());
    EXPECT_FALSE(wizard->lstProblems->isVisible());

    back();
    wizard->txtDestinationPath->setText("C:\\Courses\\Out");
    next();
    EXPECT_EQ(problemRows(), QStringList({"C:\\Courses\\Out |  | the destination folder does not exist"}));
    next();
    const QStringList lines = log();
    const QString hostC = lf::platform::driveFolder('C');
    QString failure;
    for (const QString& line : lines) {
        EXPECT_FALSE(line.contains(hostC)) << line.toStdString();
        if (line.startsWith("WriteTOC - Serious error:"))
            failure = line;
    }
    EXPECT_TRUE(failure.contains("C:\\Courses\\Out\\00b_Toc.docx")) << lines.join('\n').toStdString();
}

// The check reads the slides as the TOC would under the setting TOCTitleSource: a title kept only in the
// slide's title placeholder is a title unless the settings file says "rule".
TEST_F(PageFourCheck, TheCheckTakesTitlesAsTheSettingSays) {
    lf::test::SlideSpec placeholderOnly;
    placeholderOnly.shapes = {lf::test::placeholderShape(2, "Title 1", {"title", -1}, std::nullopt,
                                                         lf::test::paragraph(lf::test::run("Summary")))};
    lf::test::writeDeck(host("C:\\Course\\x").parent_path(), "03_End.pptx", {placeholderOnly});
    toPageFour("C:\\Out");
    EXPECT_EQ(wizard->lblProblems->text(), "The check found no problems in the course.");

    lf::test::writeFile(fs::path((lf::platform::configFolder() + "/Syllabo.ini").toStdString()),
                        "[Other Values]\r\nTOCTitleSource=rule\r\n");
    toPageFour("C:\\Out");
    EXPECT_EQ(problemRows(), QStringList({"C:\\Course\\03_End.pptx | 1 | no title shape (an auto shape named "
                                          "\"Rectangle...\" less than 52 points from the top, with bold "
                                          "text): the TOC leaves the slide out"}));
}

// "/home/me/course" is a repository path; while no repository is connected and this computer has that
// folder, page 4 offers its drive-letter form: Yes puts it into the field, which is then checked and
// saved as such; No keeps the repository path and its "Not connected" check.
TEST_F(WizardTest, AHostFolderTypedAsARepositoryPathIsOfferedItsDriveLetterForm) {
    QTemporaryDir course;
    ASSERT_FALSE(course.path().startsWith(QDir::homePath())) << "the test expects the folder under Z:";
    const QString driveForm = "Z:" + QString(course.path()).replace('/', '\\');
    frmWizard& w = start();
    next();
    w.chkGrayscale->click();
    next();
    w.txtSourcePath->setText(course.path());
    boxes.answers = {MessageAnswer::Yes};
    next();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Path on this computer");
    EXPECT_EQ(boxes.shown[0].text, course.path() +
                                       " is a folder on this computer, and no repository is connected.\n"
                                       "Click Yes to use it as " +
                                       driveForm + ", or No to keep it as a repository path.");
    EXPECT_EQ(w.txtSourcePath->text(), driveForm);
    EXPECT_TRUE(w.cmdNext->isEnabled()) << w.lblWelcome->text().toStdString();
    EXPECT_TRUE(settingsText().contains("SourcePath=" + driveForm));

    back();
    w.txtSourcePath->setText(course.path());
    boxes.shown.clear();
    boxes.answers = {MessageAnswer::No};
    next();
    EXPECT_EQ(w.txtSourcePath->text(), course.path());
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].title, "Not connected");
    EXPECT_FALSE(w.cmdNext->isEnabled());
}
