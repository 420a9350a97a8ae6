// The location browser driven through its real window with clicks and keys, over a real repository in a
// temporary folder and real folders reached through the drive map.
#include "platform/dialogs.h"
#include "platform/folders.h"
#include "platform/program_settings.h"
#include "repository/frmBrowser.h"
#include "repository_fixture.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace lf::test {
namespace {

namespace fs = std::filesystem;
using repository::frmBrowser;

QStringList itemsOf(const QListWidget* list) {
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names.append(list->item(i)->text());
    return names;
}

// The drives or cabinets the box offers (its items' values, not the captions shown).
QStringList itemsOf(const QComboBox* box) {
    QStringList names;
    for (int i = 0; i < box->count(); ++i)
        names.append(box->itemData(i).toString());
    return names;
}

class BrowserTest : public RepositoryTest {
protected:
    void SetUp() override {
        RepositoryTest::SetUp();
        target.setToolTip("Enter the path of the course");
        other.setToolTip("Enter the destination path");
    }
    void TearDown() override {
        frmBrowser::unloadInstance();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        RepositoryTest::TearDown();
    }

    frmBrowser& open(QLineEdit& box, bool forFile) {
        repository::Browse(&box, forFile);
        return frmBrowser::instance();
    }
    static void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    static void click(QListWidget* list, const QString& name, bool twice = false) {
        QCoreApplication::processEvents(); // lays out lists just shown
        const auto found = list->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        const QPoint at = list->visualItemRect(found[0]).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        if (twice)
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    }
    static void choose(QComboBox* box, const QString& text) {
        box->setFocus();
        const int index = box->findData(text);
        ASSERT_GE(index, 0) << text.toStdString();
        while (box->currentIndex() != index)
            QTest::keyClick(box, box->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
    }
    void logIn() { ASSERT_TRUE(loginThroughDialog(kUser, kPassword)); }

    QLineEdit target;
    QLineEdit other;
};

TEST_F(BrowserTest, RepositoryShowsPublicCabinetsAndPicksTheLastDocumentClicked) {
    tessarel::makeCabinet(repo->admin, "Archive", false);
    tessarel::makeCabinet(repo->admin, "Alices own", true); // private, even to its owner
    const fs::path a = temp / "Bob's notes.docx";
    const fs::path b = temp / "Outline.docx";
    writeFile(a, "first");
    writeFile(b, "second");
    repo->importFiles({a, b}, kCourse);
    logIn();

    target.setText(QString(kCourse) + "/Outline.docx");
    frmBrowser& browser = open(target, true);
    EXPECT_TRUE(browser.isVisible());
    EXPECT_EQ(itemsOf(browser.cmbCabinet).size(), 2);
    EXPECT_TRUE(itemsOf(browser.cmbCabinet).contains("/Archive"));
    EXPECT_FALSE(itemsOf(browser.cmbCabinet).contains("/Alices own"));
    EXPECT_EQ(browser.cabinet(), "/Edvara");
    EXPECT_EQ(browser.currentPath(), "/Edvara/Courses/Storage/");
    EXPECT_EQ(browser.Label1->text(), "Selected Object:>");
    EXPECT_EQ(browser.cmdSelectPath->text(), "<&Select Object");
    EXPECT_EQ(itemsOf(browser.lstObjects), QStringList({"Bob's notes.docx", "Outline.docx"}));

    click(browser.lstObjects, "Outline.docx");
    click(browser.lstObjects, "Bob's notes.docx");
    EXPECT_EQ(browser.currentPath(), "/Edvara/Courses/Storage/Bob's notes.docx");
    click(browser.cmdSelectPath);
    EXPECT_EQ(target.text(), "/Edvara/Courses/Storage/Bob's notes.docx");
    EXPECT_FALSE(frmBrowser::isLoaded());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(BrowserTest, GoingUpFromRepositoryFoldersAndDrives) {
    logIn();
    target.setText("/Edvara/Courses/");
    frmBrowser& browser = open(target, false);
    EXPECT_FALSE(browser.lstObjects->isVisible());
    EXPECT_EQ(itemsOf(browser.lstFolders), QStringList({"Storage"}));
    click(browser.cmdDrillUp);
    EXPECT_EQ(browser.currentPath(), "/Edvara/");
    EXPECT_EQ(itemsOf(browser.lstFolders), QStringList({"Courses"}));
    click(browser.cmdDrillUp);
    EXPECT_EQ(browser.currentPath(), "/");
    EXPECT_TRUE(itemsOf(browser.lstFolders).isEmpty());
    click(browser.cmdTop);

    // Enter on a folder opens it as a double click does.
    browser.lstFolders->setFocus();
    QTest::keyClick(browser.lstFolders, Qt::Key_Down);
    QTest::keyClick(browser.lstFolders, Qt::Key_Return);
    EXPECT_EQ(browser.currentPath(), "/Edvara/Courses/");

    click(browser.cmdMyComputer);
    EXPECT_EQ(browser.currentPath(), "C:\\");
    click(browser.cmdDrillUp);
    EXPECT_EQ(browser.currentPath(), "C:\\");
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(BrowserTest, LocalDrivesListInProgramOrderAndADriveNotReadyListsNothing) {
    writeFile(fs::path(platform::configFolder().toStdString()) / "drives.ini",
              "[Drives]\nT=" + driveT.string() + "\nn=" + (temp / "no such folder").string() + "\n");
    fs::create_directories(driveT / "beta");
    fs::create_directories(driveT / "Alpha");
    fs::create_directories(driveT / ".hidden");
    writeFile(driveT / "b.docx", "b");
    writeFile(driveT / "A.pptx", "a");
    writeFile(driveT / ".secret.docx", "s");
    writeFile(driveT / "Alpha" / "notes.docx", "n");

    target.setText(target.toolTip()); // the field's hint: the browser opens at the default drive
    frmBrowser& browser = open(target, true);
    EXPECT_EQ(itemsOf(browser.cmbCabinet), QStringList({"C:", "H:", "N:", "T:", "Z:"}));
    EXPECT_EQ(browser.cabinet(), "C:");
    EXPECT_EQ(browser.currentPath(), "C:\\");

    choose(browser.cmbCabinet, "N:");
    EXPECT_EQ(browser.currentPath(), "N:\\");
    EXPECT_TRUE(itemsOf(browser.lstFolders).isEmpty());
    EXPECT_TRUE(itemsOf(browser.lstObjects).isEmpty());

    choose(browser.cmbCabinet, "T:");
    EXPECT_EQ(browser.currentPath(), "T:\\");
    EXPECT_EQ(itemsOf(browser.lstFolders), QStringList({"Alpha", "beta"}));
    EXPECT_EQ(itemsOf(browser.lstObjects), QStringList({"A.pptx", "b.docx"}));

    // Selecting without an object is refused and the browser stays; arrows pick an object.
    click(browser.cmdSelectPath);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Object Not Selected");
    EXPECT_EQ(boxes.shown[0].text, "Please select an object/file");
    EXPECT_EQ(boxes.shown[0].icon, platform::MessageIcon::Exclamation);
    ASSERT_TRUE(frmBrowser::isLoaded());
    browser.lstObjects->setFocus();
    QTest::keyClick(browser.lstObjects, Qt::Key_Down);
    QTest::keyClick(browser.lstObjects, Qt::Key_Down);
    EXPECT_EQ(browser.currentPath(), "T:\\b.docx");

    // Escape cancels: the target keeps its text.
    QTest::keyClick(browser.lstObjects, Qt::Key_Escape);
    EXPECT_FALSE(frmBrowser::isLoaded());
    EXPECT_EQ(target.text(), target.toolTip());
    EXPECT_EQ(boxes.shown.size(), 1u);

    // A target naming a document opens at its folder.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    target.setText("T:\\Alpha\\notes.docx");
    frmBrowser& again = open(target, true);
    EXPECT_EQ(again.currentPath(), "T:\\Alpha\\");
    EXPECT_EQ(itemsOf(again.lstObjects), QStringList({"notes.docx"}));
}

TEST_F(BrowserTest, TheLastBrowseTargetWinsWhileTheBrowserStaysOpen) {
    fs::create_directories(driveT / "Course");
    writeFile(driveT / "Course" / "plan.docx", "p");
    target.setText("T:\\");
    other.setText("C:\\elsewhere.docx");
    frmBrowser& browser = open(target, false);
    EXPECT_FALSE(browser.lstObjects->isVisible());
    repository::Browse(&other, true);
    EXPECT_EQ(&frmBrowser::instance(), &browser);
    EXPECT_EQ(browser.currentPath(), "T:\\"); // the open browser keeps its place
    EXPECT_TRUE(browser.lstObjects->isVisible());
    EXPECT_EQ(browser.cmdSelectPath->text(), "<&Select Object");
    click(browser.lstFolders, "Course", true);
    EXPECT_EQ(browser.currentPath(), "T:\\Course\\");
    EXPECT_FALSE(pointer.hourglass);
    click(browser.lstObjects, "plan.docx");
    click(browser.cmdSelectPath);
    EXPECT_EQ(other.text(), "T:\\Course\\plan.docx");
    EXPECT_EQ(target.text(), "T:\\");
}

TEST_F(BrowserTest, ARepositoryTargetWithoutLoginAsksThenOpensTheLocalDisks) {
    ScriptedLogin login;
    login.script = [](repository::frmLogin& dialog) { dialog.cmdCancel_Click(); };
    target.setText(kCourse);
    frmBrowser& browser = open(target, false);
    EXPECT_EQ(login.shown, 1);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Not connected");
    EXPECT_EQ(browser.cabinet(), "C:");
    EXPECT_EQ(browser.currentPath(), "C:\\");

    // A failed check elsewhere while the browser is open points it at C:\.
    click(browser.cmdTop);
    choose(browser.cmbCabinet, "T:");
    EXPECT_TRUE(repository::EnsureConnection(kCourse));
    EXPECT_EQ(browser.currentPath(), "C:\\");

    // A login while the browser is open switches it to the repository.
    login.script = [](repository::frmLogin& dialog) {
        dialog.txtUserName->setText(kUser);
        dialog.txtPassword->setText(kPassword);
        dialog.cmdOK_Click();
    };
    click(browser.cmdRepository);
    EXPECT_TRUE(repository::IsConnected());
    EXPECT_EQ(browser.cabinet(), "/Edvara");
    EXPECT_EQ(browser.currentPath(), "/Edvara/");
    EXPECT_EQ(itemsOf(browser.lstFolders), QStringList({"Courses"}));
    click(browser.cmdMyComputer);
    EXPECT_EQ(browser.currentPath(), "C:\\");
}

TEST_F(BrowserTest, ABadRepositoryPathOpensTheCabinetTopAndTheProgramGoesOn) {
    logIn();
    target.setText("/Edvara/Nowhere/");
    frmBrowser& browser = open(target, false);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Bad path");
    EXPECT_EQ(boxes.shown[0].text, "There was a problem with the path name");
    EXPECT_EQ(boxes.shown[0].icon, platform::MessageIcon::Critical);
    ASSERT_TRUE(frmBrowser::isLoaded());
    EXPECT_EQ(browser.currentPath(), "/Edvara/");
    EXPECT_EQ(itemsOf(browser.lstFolders), QStringList({"Courses"}));
    click(browser.cmdSelectPath);
    EXPECT_EQ(target.text(), "/Edvara/");
    EXPECT_TRUE(linesOf("Browse").isEmpty());
}

TEST_F(BrowserTest, OpensModalOnItsWindowAtTheFieldsLastFolderWithTheDriveBoxAgreeing) {
    platform::programSettings()->remove("Browse");
    writeFile(fs::path(platform::configFolder().toStdString()) / "drives.ini",
              "[Drives]\nT=" + driveT.string() + "\n");
    fs::create_directories(driveT / "Course" / "Part 1");
    QWidget window;
    window.setGeometry(300, 200, 900, 700);
    auto* source = new QLineEdit(&window);
    auto* destination = new QLineEdit(&window);
    source->setObjectName("txtSourcePath");
    destination->setObjectName("txtDestinationPath");
    for (QLineEdit* field : {source, destination}) {
        field->setToolTip("Enter the path");
        field->setText(field->toolTip());
    }
    window.show();

    frmBrowser& browser = open(*source, false);
    EXPECT_EQ(browser.parentWidget(), &window);
    EXPECT_TRUE(browser.isWindow());
    EXPECT_EQ(browser.windowModality(), Qt::WindowModal);
    EXPECT_LE((browser.frameGeometry().center() - window.frameGeometry().center()).manhattanLength(), 2);
    // Each drive with what it stands for; the path is built from the drive alone.
    EXPECT_EQ(browser.cmbCabinet->itemText(browser.cmbCabinet->findData("Z:")), "Z:  (whole computer)");
    EXPECT_EQ(browser.cmbCabinet->itemText(browser.cmbCabinet->findData("T:")),
              "T:  (" + QString::fromStdString(driveT.string()) + ")");
    // No access key belongs to two buttons.
    QStringList keys;
    for (const QPushButton* button : browser.findChildren<QPushButton*>()) {
        const qsizetype amp = button->text().indexOf('&');
        ASSERT_GE(amp, 0) << button->text().toStdString();
        const QString key = button->text().mid(amp + 1, 1).toUpper();
        EXPECT_FALSE(keys.contains(key)) << button->text().toStdString();
        keys.append(key);
    }

    choose(browser.cmbCabinet, "T:");
    click(browser.lstFolders, "Course", true);
    click(browser.lstFolders, "Part 1", true);
    click(browser.cmdSelectPath);
    EXPECT_EQ(source->text(), "T:\\Course\\Part 1\\");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // Back at its hint, the field's Browse starts at the folder it chose last, the drive box on its
    // drive, and stays on it going up.
    source->setText(source->toolTip());
    frmBrowser& again = open(*source, false);
    EXPECT_EQ(again.currentPath(), "T:\\Course\\Part 1\\");
    EXPECT_EQ(again.cabinet(), "T:");
    click(again.cmdDrillUp);
    EXPECT_EQ(again.currentPath(), "T:\\Course\\");
    EXPECT_EQ(again.cabinet(), "T:");
    click(again.cmdCancel);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // The other field has nothing remembered and starts at C:.
    frmBrowser& other = open(*destination, false);
    EXPECT_EQ(other.currentPath(), "C:\\");
    EXPECT_EQ(other.cabinet(), "C:");
    click(other.cmdCancel);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // A field holding a path opens there, the drive box on its drive.
    destination->setText("z:\\");
    frmBrowser& typed = open(*destination, false);
    EXPECT_EQ(typed.currentPath(), "z:\\");
    EXPECT_EQ(typed.cabinet(), "Z:");
    click(typed.cmdCancel);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // A remembered folder that is gone is passed over.
    fs::remove_all(driveT / "Course");
    frmBrowser& gone = open(*source, false);
    EXPECT_EQ(gone.currentPath(), "C:\\");
}

} // namespace
} // namespace lf::test
