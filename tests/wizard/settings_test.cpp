// The settings file through the wizard's pages: defaults, reload on page 3, save on page 4, trimming,
// long values read whole, the two switches, and the working folder.
#include "platform/profile.h"
#include "wizard/settings.h"
#include "wizard_fixture.h"

#include "private_cups.h"

#include <QLayout>

using namespace lf::wizard;
using namespace lf::wizard::test;
using lf::platform::configFolder;
using lf::platform::driveFolder;
using lf::platform::fileNameOf;
using lf::platform::hostKind;
using lf::platform::HostKind;
using lf::platform::isRepositoryPath;
using lf::platform::toHostPath;

namespace {

void writeSettings(const std::string& text) {
    lf::test::writeFile(std::filesystem::path((configFolder() + "/Syllabo.ini").toStdString()), text);
}

} // namespace

TEST_F(WizardTest, FirstStartShowsTheDefaultsAndCreatesTheWorkingFolder) {
    frmWizard& w = start();
    next();
    w.chkIndex->click();
    w.chkTOC->click();
    next();
    EXPECT_EQ(w.txtSourcePath->text(), "C:\\Temp\\");
    EXPECT_EQ(w.txtDestinationPath->text(), "C:\\Temp\\");
    // The shipped templates, reached through the drive map.
    for (QLineEdit* box : {w.txtIndexTemplate, w.txtTOCTemplate}) {
        EXPECT_FALSE(isRepositoryPath(box->text())) << box->text().toStdString();
        EXPECT_EQ(hostKind(toHostPath(box->text()).path), HostKind::File) << box->text().toStdString();
    }
    EXPECT_EQ(fileNameOf(w.txtIndexTemplate->text()), "Index Template.docx");
    EXPECT_EQ(fileNameOf(w.txtTOCTemplate->text()), "TOC Template.docx");
    EXPECT_EQ(w.txtIndexName->text(), "00c_Index.docx");
    EXPECT_EQ(w.txtTOCName->text(), "00b_Toc.docx");
    EXPECT_EQ(w.txtCourseName->text(), "");
    EXPECT_EQ(w.txtWorkingDirectory->text(), "C:\\syllabo");
    EXPECT_EQ(w.txtPrintReadyZipFilename->text(), "PrintReady.zip");
    EXPECT_FALSE(w.settings().UseBackgroundPrinting);
    EXPECT_TRUE(QDir(driveFolder('C') + "/syllabo").exists());
    EXPECT_FALSE(QFile::exists(configFolder() + "/Syllabo.ini")) << "reading never creates the file";
    EXPECT_EQ(w.lstOperations->count(), 0);
}

TEST_F(WizardTest, PageFourWritesTheSevenFieldsAndNeverOtherValues) {
    frmWizard& w = start();
    next();
    w.chkGrayscale->click();
    next();
    w.txtSourcePath->setText("  C:\\Courses\\Net  ");
    next();
    const QString text = settingsText();
    EXPECT_TRUE(text.contains("[Source Values]"));
    EXPECT_TRUE(text.contains("[Index Values]"));
    EXPECT_TRUE(text.contains("[TOC Values]"));
    EXPECT_FALSE(text.contains("Other Values"));
    EXPECT_FALSE(text.contains("WorkingDirectory"));
    for (const char* key : {"SourcePath=", "DestinationPath=", "IndexTemplate=", "IndexFileName=",
                            "TOCFileOutput=", "TOCTemplate=", "TOCCourseName="})
        EXPECT_TRUE(text.contains(key)) << key;
    EXPECT_TRUE(text.contains("SourcePath=  C:\\Courses\\Net  ")) << "written as typed";
    // In table order, section by section.
    EXPECT_LT(text.indexOf("SourcePath="), text.indexOf("DestinationPath="));
    EXPECT_LT(text.indexOf("IndexTemplate="), text.indexOf("IndexFileName="));
    EXPECT_LT(text.indexOf("TOCFileOutput="), text.indexOf("TOCTemplate="));
    EXPECT_LT(text.indexOf("TOCTemplate="), text.indexOf("TOCCourseName="));

    // Reading it back trims the blanks.
    back();
    EXPECT_EQ(w.txtSourcePath->text(), "C:\\Courses\\Net");
}

TEST_F(WizardTest, EditsAreDiscardedUnlessPageFourSavedThem) {
    frmWizard& w = start();
    next();
    w.chkZip->click();
    next();
    w.txtSourcePath->setText("C:\\Edited");
    back();
    next();
    EXPECT_EQ(w.txtSourcePath->text(), "C:\\Temp\\") << "reloaded from the file";
    w.txtSourcePath->setText("C:\\Edited");
    next();
    back();
    EXPECT_EQ(w.txtSourcePath->text(), "C:\\Edited");
}

TEST_F(WizardTest, LoadedValuesAreTrimmedWholeAndEmptyStaysEmpty) {
    const std::string longPath = "C:\\" + std::string(293, 'p') + ".ppt";
    writeSettings(
        "; kept\r\n[source values]\r\nsourcepath =   C:\\Courses\\Storage   \r\nDestinationPath=" + longPath +
        "\r\n[TOC Values]\r\nTOCCourseName=\r\nTOCTemplate=\t\"C:\\T\\Toc.docx\"\r\n"
        "[Other Values]\r\nWorkingDirectory=C:\\work\r\nUseBackgroundPrinting= 1 \r\n");
    frmWizard& w = start();
    next();
    w.chkTOC->click();
    next();
    EXPECT_EQ(w.txtSourcePath->text(), "C:\\Courses\\Storage");
    ASSERT_EQ(w.txtDestinationPath->text().size(), 300) << "a long value is read whole";
    EXPECT_EQ(w.txtDestinationPath->text().toStdString(), longPath);
    EXPECT_EQ(w.txtCourseName->text(), "") << "a present empty key is not the default";
    EXPECT_EQ(w.txtTOCTemplate->text(), "C:\\T\\Toc.docx");
    EXPECT_EQ(w.txtWorkingDirectory->text(), "C:\\work");
    EXPECT_TRUE(QDir(driveFolder('C') + "/work").exists());
    EXPECT_TRUE(w.settings().UseBackgroundPrinting);

    // Page 4 writes the long value back unharmed and keeps the comment.
    w.txtCourseName->setText("Storage");
    next();
    EXPECT_TRUE(settingsText().contains(QString::fromStdString("DestinationPath=" + longPath + "\r\n")));
    EXPECT_TRUE(settingsText().startsWith("; kept"));
    EXPECT_TRUE(settingsText().contains("UseBackgroundPrinting= 1 ")) << "never changed by the program";
}

TEST_F(WizardTest, SwitchesAreNumbers) {
    EXPECT_FALSE(switchValue("0"));
    EXPECT_TRUE(switchValue("1"));
    EXPECT_TRUE(switchValue("-1"));
    EXPECT_TRUE(switchValue(" 2 "));
    EXPECT_TRUE(switchValue("0.5"));
    EXPECT_FALSE(switchValue("0.0"));
    EXPECT_FALSE(switchValue("yes")) << "a word counts as 0";
    EXPECT_FALSE(switchValue("True"));
    EXPECT_FALSE(switchValue(""));
    EXPECT_TRUE(switchValue("1 # on"));

    writeSettings("[Other Values]\r\nPublishPDFs=yes\r\nUseBackgroundPrinting=on\r\n");
    EXPECT_FALSE(ReadPublishPDFsSetting());
    writeSettings("[Other Values]\r\nPublishPDFs=\r\n");
    EXPECT_FALSE(ReadPublishPDFsSetting()) << "present but empty is 0, not the default";
    writeSettings("[Other Values]\r\n");
    EXPECT_TRUE(ReadPublishPDFsSetting()) << "missing: the default 1";
}

TEST_F(WizardTest, AWorkingFolderThatCannotBeMadeIsLoggedUnderSettings) {
    writeSettings("[Other Values]\r\nWorkingDirectory=C:\\missing\\syllabo\r\n");
    frmWizard& w = start();
    next();
    w.chkZip->click();
    next();
    EXPECT_FALSE(QDir(driveFolder('C') + "/missing").exists()) << "parents are not made";
    ASSERT_EQ(shownLog()->count(), 1);
    const QString line = shownLog()->item(0)->text();
    EXPECT_TRUE(line.startsWith("Settings - Cannot create the working directory \"C:\\missing\\syllabo\""))
        << line.toStdString();
    EXPECT_EQ(frmError::instance().errorLines().size(), 1);
    EXPECT_TRUE(boxes.shown.empty()) << "no box for this";
    EXPECT_EQ(shownLog()->currentRow(), 0);

    // A drive that is not ready is reported the same way.
    writeSettings("[Other Values]\r\nWorkingDirectory=Q:\\syllabo\r\n");
    back();
    next();
    ASSERT_EQ(shownLog()->count(), 2);
    EXPECT_TRUE(shownLog()->item(1)->text().contains("Q: is not ready"));
}

TEST_F(WizardTest, TheWorkingFolderGoesThroughTheDriveMap) {
    lf::test::TempDir drive;
    mapDrive("D", drive.qpath());
    writeSettings("[Other Values]\r\nWorkingDirectory=D:\\Staging\r\n");
    frmWizard& w = start();
    next();
    w.chkZip->click();
    next();
    EXPECT_TRUE(QDir(drive.qpath() + "/Staging").exists());
    // An existing file of that name is left alone.
    lf::test::writeFile(drive / "plain", "x");
    writeSettings("[Other Values]\r\nWorkingDirectory=D:\\plain\r\n");
    back();
    next();
    EXPECT_EQ(w.lstOperations->count(), 0);
    EXPECT_EQ(lf::test::readFile(drive / "plain"), "x");
}

TEST_F(WizardTest, ASettingsFileThatCannotBeWrittenIsLogged) {
    // The settings file's place is taken by a folder: the save fails and says so.
    QDir().mkpath(configFolder() + "/Syllabo.ini");
    frmWizard& w = start();
    next();
    w.chkGrayscale->click();
    next();
    next();
    EXPECT_EQ(shownLog()->count(), 7);
    EXPECT_TRUE(shownLog()->item(0)->text().startsWith("Settings - Cannot save SourcePath in Syllabo.ini"));
    QDir(configFolder() + "/Syllabo.ini").removeRecursively();
}

// A course name the ANSI code page cannot hold survives a save and a reload through the window; a file
// another program wrote in that code page reads as it always did, and is rewritten in UTF-8 (behind a
// byte-order mark, keeping its comment) only once a value needs it.
TEST_F(WizardTest, NamesOutsideTheCodePageSurviveASaveAndAReload) {
    writeSettings("; written elsewhere\r\n[TOC Values]\r\nTOCCourseName=Caf\xe9 \x80 \x96 course\r\n");
    frmWizard& w = start();
    next();
    w.chkTOC->click();
    next();
    EXPECT_EQ(w.txtCourseName->text(), QString::fromUtf8("Café € – course"));

    for (const char* name : {"日本語コース", "Курс по сетям 🚀"}) {
        w.txtCourseName->setText(QString::fromUtf8(name));
        next();
        EXPECT_TRUE(w.cmdNext->isEnabled()) << w.lblWelcome->text().toStdString();
        back();
        back();
        next(); // page 3 loads the file again
        EXPECT_EQ(w.txtCourseName->text(), QString::fromUtf8(name));
    }
    const std::string bytes =
        lf::test::readFile(std::filesystem::path((configFolder() + "/Syllabo.ini").toStdString()));
    EXPECT_EQ(bytes.rfind("\xEF\xBB\xBF; written elsewhere\r\n[TOC Values]\r\n", 0), 0u) << bytes;
}

// The window comes back at its size with the operations last checked; one this build cannot run stays
// unchecked; a scripted window neither reads nor writes the memory.
TEST_F(WizardTest, TheWindowRemembersItsSizeAndTheOperationsLastChecked) {
    frmWizard& first = start();
    next();
    first.chkIndex->click();
    first.chkZip->click();
    first.resize(first.size() + QSize(120, 90));
    const QSize size = first.size();
    first.close();
    wizard.reset();

    frmWizard& second = start(31 & ~ZipBit);
    EXPECT_EQ(second.size(), size);
    next();
    EXPECT_EQ(second.whichControlsChecked(), IndexBit);
    second.chkTOC->click();
    back();
    next(); // a second visit keeps what the user checked
    EXPECT_EQ(second.whichControlsChecked(), IndexBit | TOCBit);
    second.close();
    wizard.reset();

    WizardParts scripted;
    scripted.rememberWindow = false;
    frmWizard third(std::move(scripted));
    third.cmdNext_Click();
    EXPECT_EQ(third.whichControlsChecked(), 0);
    third.chkGrayscale->click();
    third.close();
    EXPECT_EQ(lf::platform::programSettings()->value("Window/LastOperations").toInt(), IndexBit | TOCBit);
}

// Every visit to page 2 refills the printer lists from the print server: each printer once, one added
// in between listed, and the user's choice kept.
TEST_F(WizardTest, PrinterListsHoldEachPrinterOnceAndKeepTheChoice) {
    if (const QString reason = lf::test::PrivateCups::unavailableReason(); !reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    lf::test::PrivateCups cups;
    lf::platform::installPrinterCatalog(nullptr); // the server's own queues, not the fixture's list
    frmWizard& w = start();
    next();
    w.chkPRU->click();
    w.cmbWordPrinter->setCurrentIndex(w.cmbWordPrinter->findText(lf::test::PrivateCups::psPrinter));
    next();
    back();
    ASSERT_EQ(cups.run("lpadmin", {"-p", "Plotter", "-E", "-v", "file:///dev/null"}), 0);
    next();
    back();
    next();
    for (QComboBox* list : {w.cmbPPTPrinter, w.cmbWordPrinter, w.cmbAdobePrinter}) {
        QStringList listed;
        for (int i = 0; i < list->count(); ++i)
            listed.append(list->itemText(i));
        listed.sort();
        EXPECT_EQ(listed, QStringList({"PDF", "PS-Printer", "Plotter"})) << list->objectName().toStdString();
    }
    EXPECT_EQ(w.cmbWordPrinter->currentText(), lf::test::PrivateCups::psPrinter);
    EXPECT_EQ(w.cmbPPTPrinter->currentText(), "Select the PPT Printer");
}

// On every page the window can be made no smaller than its controls need; each page-3 field is reached
// by its label's access key; the window has the program's icon.
TEST_F(WizardTest, NoPageCutsItsControlsOffAndTheFieldsHaveAccessKeys) {
    frmWizard& w = start();
    for (int page = 1; page <= 3; ++page) {
        if (page == 2)
            w.chkPRU->click();
        w.resize(1, 1);
        EXPECT_GE(w.width(), w.layout()->totalSizeHint().width()) << page;
        EXPECT_GE(w.height(), w.layout()->totalSizeHint().height()) << page;
        if (page < 3)
            next();
    }
    // The access key of each label (in the table of controls) moves to its field.
    for (QLabel* label : {w.lblSource, w.lblDestination, w.lblTOCtemplate, w.lblIndexTemplate, w.lblTOCName,
                          w.lblIndexName, w.lblCourseName})
        EXPECT_TRUE(label->buddy()) << label->objectName().toStdString();
    EXPECT_FALSE(w.windowIcon().pixmap(32).isNull());
}
