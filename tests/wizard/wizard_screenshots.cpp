// Not a test: walks the wizard through its pages and saves a picture of each one (page1.png ...) into
// the folder given as the first argument, for looking at the layout. Operations are stand-ins that
// only log a line each; printers are a fixed list. The location browser is pictured on the local
// disks and in a repository made for the purpose; configuration and data go to a temporary folder.
#include "platform/doubles.h"
#include "platform/oplog.h"
#include "repository/connection.h"
#include "repository/frmBrowser.h"
#include "repository/frmLogin.h"
#include "tessarel/admin.h"
#include "wizard/frmWizard.h"
#include "wizard/repository_connection_seam.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>

using namespace lf::wizard;

namespace {

// Logs in as the pictures' author instead of waiting for someone to type.
class AuthorLogin : public lf::repository::LoginPresenter {
public:
    void showModal(lf::repository::frmLogin& dialog) override {
        dialog.txtUserName->setText("author");
        dialog.txtPassword->setText("pictures only");
        dialog.cmdOK_Click();
    }
};

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString(argv[1]) : QString(".");
    lf::platform::FixedPrinterCatalog printers({"PDF Writer", "Office Laser"});
    lf::platform::ScriptedMessageBoxes boxes;

    WizardParts parts;
    parts.repository = std::make_shared<RepositoryConnectionSeam>();
    AuthorLogin author;
    lf::repository::installLoginPresenter(&author);
    auto say = [](const char* tag) { lf::oplog::LogOperation(tag, "Begin", false); };
    parts.operations.RunGrayscaleResize = [&](const QString&, const QString&, bool) { say("Resize"); };
    parts.operations.CollectIndex = [&](const QString&, const QString&, const QString&, const QString&,
                                        const QString&, const QString&, bool) { say("Index"); };
    parts.operations.CollectTOC = [&](const QString&, const QString&, const QString&, const QString&,
                                      const QString&, const QString&, bool) { say("TOC"); };
    parts.operations.RunPrintReady = [&](const QString&, const QString&, bool, const QString&, bool, bool,
                                         const QString&, const QString&, const QString&, const QString&,
                                         const lf::printready::PrintSwitches&) { say("PRU"); };
    frmWizard wizard(std::move(parts));
    wizard.show();
    auto snap = [&](const QString& name) {
        QApplication::processEvents();
        wizard.grab().save(folder + "/" + name + ".png");
    };
    snap("page1");
    wizard.cmdNext->click();
    wizard.chkIndex->click();
    wizard.chkTOC->click();
    wizard.chkPRU->click();
    snap("page2");
    wizard.cmdNext->click();
    wizard.txtCourseName->setText("Networks 101");
    snap("page3");
    auto snapBrowser = [&](const QString& name) {
        QApplication::processEvents();
        lf::repository::frmBrowser::instance().grab().save(folder + "/" + name + ".png");
    };
    wizard.cmdTOCTemplate->click();
    snapBrowser("browser-local");
    lf::repository::frmBrowser::instance().cmdCancel->click();
    {
        const QString location = home.path() + "/repository";
        auto store = lf::tessarel::initRepository("sqlite:" + location.toStdString());
        lf::tessarel::addUser(*store, "author", "pictures only");
        auto admin = lf::tessarel::openAdminSession(store, "ts_notes", "author");
        lf::tessarel::makeFolders(admin, "/Edvara/Courses/Storage", true);
        lf::tessarel::makeFolders(admin, "/Edvara/Templates", false);
        lf::tessarel::makeCabinet(admin, "Archive", false);
        QFile ini(home.path() + "/config/lessonforge/tessarel.ini");
        if (ini.open(QIODevice::WriteOnly))
            ini.write(("[Repositories]\nts_notes=sqlite:" + location + "\n").toUtf8());
    }
    wizard.txtSourcePath->setText("/Edvara/Courses/");
    wizard.cmdSourcePath->click(); // not connected: the login window comes first
    snapBrowser("browser-repository");
    lf::repository::frmBrowser::instance().cmdCancel->click();
    wizard.cmdNext->click();
    snap("page4");
    wizard.cmdBack->click();
    wizard.txtCourseName->setText("");
    wizard.cmdNext->click();
    snap("page4-incomplete");
    wizard.cmdBack->click();
    wizard.txtCourseName->setText("Networks 101");
    wizard.cmdNext->click();
    wizard.cmdNext->click();
    snap("page5");
    wizard.close();
    lf::repository::installLoginPresenter(nullptr);
    return 0;
}
