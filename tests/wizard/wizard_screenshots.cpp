// Not a test: walks the wizard through its pages and saves a picture of each one (page1.png ...) into
// the folder given as the first argument, for looking at the layout. Operations are stand-ins that
// only log a line each; printers are a fixed list.
#include "platform/doubles.h"
#include "platform/oplog.h"
#include "wizard/frmWizard.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>

using namespace lf::wizard;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString(argv[1]) : QString(".");
    lf::platform::FixedPrinterCatalog printers({"PDF Writer", "Office Laser"});
    lf::platform::ScriptedMessageBoxes boxes;

    WizardParts parts;
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
    return 0;
}
