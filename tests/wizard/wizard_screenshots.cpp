// Not a test: the pictures of the user guide (docs/guide.md; `make screenshots`). It walks the real
// wizard, with the program's own operations, over the demo course that `tessarel-admin demo` makes
// (the sample decks and documents, the TOC and Index templates, in a repository ts_notes), and saves
// into the folder given as the first argument: page1.png ... page5.png, page2-print-ready.png,
// page4-incomplete.png, page4-problems.png (the check's list for the course on drive C: with a
// wrongly named deck and a destination folder that does not exist), browser-local.png,
// browser-repository.png, login.png, progress.png (the progress window half-way through an export),
// errors.png (the errors dialog after a check-out that another author's lock refused) and page5-errors.png.
// Printers are a fixed list; message boxes are answered as a user would (and listed on standard output);
// configuration, data and drive C: go to a temporary folder.
#include "platform/dialogs.h"
#include "platform/doubles.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"
#include "repository/connection.h"
#include "repository/frmBrowser.h"
#include "repository/frmLogin.h"
#include "repository/monitor.h"
#include "sample_course.h"
#include "tessarel/admin.h"
#include "tessarel/tessarel.h"
#include "wizard/frmError.h"
#include "wizard/frmWizard.h"
#include "wizard/program.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace lf::wizard;

namespace {

QString g_folder;

void save(QWidget& widget, const QString& name) {
    QApplication::processEvents();
    const QString file = g_folder + "/" + name + ".png";
    if (!widget.grab().save(file))
        std::fprintf(stderr, "wizard_screenshots: cannot write %s\n", file.toLocal8Bit().constData());
    else
        std::printf("%s\n", file.toLocal8Bit().constData());
}

// The demo author logs in; the dialog is pictured once, filled in, before OK is pressed.
class DemoLogin : public lf::repository::LoginPresenter {
public:
    void showModal(lf::repository::frmLogin& dialog) override {
        dialog.txtUserName->setText("demo");
        dialog.txtPassword->setText("demo");
        if (!pictured) {
            pictured = true;
            dialog.show();
            dialog.txtPassword->setFocus();
            save(dialog, "login");
        }
        dialog.cmdOK_Click();
    }
    bool pictured = false;
};

// Lets the events run as the program does, and pictures the progress window the first time it
// shows an export half done.
class ProgressCamera : public lf::platform::EventYield {
public:
    ProgressCamera() { lf::platform::installEventYield(this); }
    ~ProgressCamera() override { lf::platform::installEventYield(nullptr); }
    void processEvents() override {
        QApplication::processEvents();
        if (pictured || !lf::repository::frmProgress::isLoaded())
            return;
        auto& form = lf::repository::frmProgress::instance();
        if (form.isVisible() && form.lblProgressOperation->text().startsWith("Export operation is 50")) {
            pictured = true;
            save(form, "progress");
        }
    }
    bool pictured = false;
};

// Pictures the errors dialog when a run shows it, then presses the button a user would.
void answerErrorDialog(const QString& picture) {
    auto* timer = new QTimer;
    timer->setInterval(50);
    QObject::connect(timer, &QTimer::timeout, [timer, picture] {
        if (!frmError::isLoaded() || !frmError::instance().isVisible())
            return;
        frmError& dialog = frmError::instance();
        dialog.lstErrors->setCurrentRow(0);
        save(dialog, picture);
        timer->stop();
        timer->deleteLater();
        dialog.cmdContinue->click();
    });
    timer->start();
}

// The demo repository, as `tessarel-admin demo ts_notes --user demo` makes it, listed in
// tessarel.ini; a second author, alice; and the same course on drive C: (C:\Courses).
void makeDemo(const QString& home) {
    namespace ts = lf::tessarel;
    const QString location = home + "/data/lessonforge/tessarel/ts_notes";
    auto store = ts::initRepository("sqlite:" + location.toStdString());
    ts::addUser(*store, "demo", "demo");
    ts::addUser(*store, "alice", "alice");
    auto demo = ts::openAdminSession(store, "ts_notes", "demo");
    ts::makeCabinet(demo, "Edvara", false);
    ts::makeFolders(demo, "/Edvara/Courses/Sample");
    ts::makeFolders(demo, "/Edvara/Templates");
    const std::string staging = (home + "/staging").toStdString();
    ts::sample::writeSampleCourse(staging + "/course");
    ts::sample::writeSampleTemplates(staging + "/templates");
    for (const auto& [local, target] :
         {std::pair<std::string, std::string>{"course", "/Edvara/Courses/Sample"},
          {"templates", "/Edvara/Templates"}}) {
        const ts::TreeImport made = ts::importTree(demo, staging + "/" + local, target, nullptr);
        for (const auto& e : made.errors)
            std::fprintf(stderr, "wizard_screenshots: %s\n", e.c_str());
    }
    QDir(home + "/staging").removeRecursively();
    QDir().mkpath(home + "/config/lessonforge");
    QFile ini(home + "/config/lessonforge/tessarel.ini");
    if (ini.open(QIODevice::WriteOnly))
        ini.write(("[Repositories]\nts_notes=sqlite:" + location + "\n").toUtf8());

    const QString courses = lf::platform::toHostPath("C:\\Courses").path;
    ts::sample::writeSampleCourse((courses + "/Sample").toStdString());
    ts::sample::writeSampleTemplates((courses + "/Templates").toStdString());
}

// Alice checks decks out, so that the demo author's check-out of the course meets her locks.
void aliceChecksOut(const QString& home, const std::vector<std::string>& paths) {
    namespace ts = lf::tessarel;
    auto store = ts::openRepository("sqlite:" + (home + "/data/lessonforge/tessarel/ts_notes").toStdString());
    auto alice = ts::openAdminSession(store, "ts_notes", "alice");
    ts::TsClient client;
    auto operation = client.newCheckoutOperation();
    QDir().mkpath(home + "/alice");
    operation->setDestinationDirectory((home + "/alice").toStdString());
    for (const std::string& path : paths)
        operation->add(alice->objectByPath(path));
    if (!operation->execute())
        std::fprintf(stderr, "wizard_screenshots: alice could not check out the decks\n");
}

// The run's log as the wizard shows it, for reading beside the pictures.
// The program's parts, with a window that starts as a first session's would: each picture shows the
// boxes it ticks itself.
WizardParts screenshotParts() {
    WizardParts parts = programParts();
    parts.rememberWindow = false;
    return parts;
}

void listLog(const frmWizard& wizard) {
    for (int i = 0; i < wizard.lstOperations->count(); ++i)
        std::printf("  %s\n", wizard.lstOperations->item(i)->text().toLocal8Bit().constData());
}

void listBoxes(const lf::platform::ScriptedMessageBoxes& boxes) {
    for (const auto& box : boxes.shown)
        std::printf("[box] %s: %s\n", box.title.toLocal8Bit().constData(),
                    QString(box.text).replace('\n', "\\n").toLocal8Bit().constData());
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    QApplication app(argc, argv);
    g_folder = argc > 1 ? QString(argv[1]) : QString(".");
    QDir().mkpath(g_folder);
    lf::platform::FixedPrinterCatalog printers({"Office_Laser", "PDF"});
    lf::platform::ScriptedMessageBoxes boxes;
    DemoLogin login;
    lf::repository::installLoginPresenter(&login);
    ProgressCamera camera;
    makeDemo(home.path());

    auto browser = []() -> lf::repository::frmBrowser& { return lf::repository::frmBrowser::instance(); };
    {
        frmWizard wizard(screenshotParts());
        wizard.show();
        save(wizard, "page1");

        wizard.cmdNext->click();
        wizard.chkPRU->click();
        wizard.chkPDF->click();
        wizard.chkZipPDFs->click();
        wizard.cmbPPTPrinter->setCurrentIndex(0);
        emit wizard.cmbPPTPrinter->activated(0);
        wizard.cmbWordPrinter->setCurrentIndex(0);
        emit wizard.cmbWordPrinter->activated(0);
        save(wizard, "page2-print-ready");
        wizard.chkPRU->click(); // the run below makes no print files
        wizard.chkGrayscale->click();
        wizard.chkIndex->click();
        wizard.chkTOC->click();
        save(wizard, "page2");

        wizard.cmdNext->click();
        wizard.txtSourcePath->setText("C:\\Courses\\Sample");
        wizard.cmdSourcePath->click();
        save(browser(), "browser-local");
        browser().cmdCancel->click();
        wizard.txtTOCTemplate->setText("/Edvara/Templates/TOC.docx");
        wizard.cmdTOCTemplate->click(); // not connected: the login window comes first
        const auto templates = browser().lstObjects->findItems("TOC.docx", Qt::MatchExactly);
        if (!templates.isEmpty()) {
            browser().lstObjects->setCurrentItem(templates.first());
            browser().lstObjects_Click("TOC.docx");
        }
        save(browser(), "browser-repository");
        browser().cmdSelectPath->click();

        wizard.txtSourcePath->setText("/Edvara/Courses/Sample");
        wizard.txtDestinationPath->setText("/Edvara/Courses/Sample");
        wizard.txtTOCTemplate->setText("/Edvara/Templates/TOC.docx");
        wizard.txtIndexTemplate->setText("/Edvara/Templates/Index.docx");
        wizard.txtCourseName->setText("Storage and Backup");
        save(wizard, "page3");

        wizard.cmdNext->click();
        wizard.cmdBack->click();
        wizard.txtCourseName->setText("");
        wizard.cmdNext->click();
        save(wizard, "page4-incomplete");
        wizard.cmdBack->click();
        wizard.txtCourseName->setText("Storage and Backup");

        // The same course on drive C:, with a deck that lost its module number and a destination
        // folder that is not there.
        const QString local = lf::platform::toHostPath("C:\\Courses\\Sample").path;
        const QString stray = local + "/Storage overview.pptx";
        QFile::copy(local + "/02_Storage.pptx", stray);
        wizard.txtSourcePath->setText("C:\\Courses\\Sample");
        wizard.txtDestinationPath->setText("C:\\Courses\\Handouts");
        wizard.cmdNext->click();
        save(wizard, "page4-problems");
        wizard.cmdBack->click();
        QFile::remove(stray);
        wizard.txtSourcePath->setText("/Edvara/Courses/Sample");
        wizard.txtDestinationPath->setText("/Edvara/Courses/Sample");
        wizard.cmdNext->click();
        save(wizard, "page4");

        wizard.cmdNext->click(); // the run
        save(wizard, "page5");
        listLog(wizard);
        wizard.cmdNext->click(); // Finish
    }
    {
        // Another run of grayscale over the course while alice holds one of its decks.
        aliceChecksOut(home.path(),
                       {"/Edvara/Courses/Sample/02_Storage.pptx", "/Edvara/Courses/Sample/03_Backup.pptx"});
        frmWizard wizard(screenshotParts());
        wizard.show();
        wizard.cmdNext->click();
        wizard.chkGrayscale->click();
        wizard.cmdNext->click();
        wizard.cmdNext->click();
        answerErrorDialog("errors");
        wizard.cmdNext->click();
        save(wizard, "page5-errors");
        listLog(wizard);
        wizard.cmdNext->click();
    }
    listBoxes(boxes);
    lf::repository::installLoginPresenter(nullptr);
    return camera.pictured && login.pictured ? 0 : 1;
}
