// The wizard's pages driven through its buttons: the controls and their tags, the page rules, the
// field rules per operation mask, tag growth, the confirmation page's checks, and the page-2 options.
#include "wizard_fixture.h"

#include <QApplication>
#include <QKeyEvent>

using namespace lf::wizard;
using namespace lf::wizard::test;
using lf::platform::MessageAnswer;
using lf::platform::MessageButtons;
using lf::platform::MessageIcon;

namespace {

struct ControlRow {
    const char* name;
    const char* tag; // nullptr: no tag
    const char* text;
    const char* tooltip;
};

const ControlRow kControls[] = {
    {"Picture1", "0", nullptr, nullptr},
    {"lblWelcome", "0", nullptr, nullptr},
    {"cmdBack", "0", nullptr, nullptr},
    {"cmdNext", "0", "&Next>", nullptr},
    {"chkGrayscale", "2", "Set grayscale and resize", nullptr},
    {"chkIndex", "2", "Create Index (only do this after using the Tagwise Powerpoint Addin)", nullptr},
    {"chkTOC", "2", "Create Table of Contents", nullptr},
    {"chkPRU", "2", "Create print ready files ", nullptr},
    {"chkZip", "2", "Create zip file containing modules and labs", nullptr},
    {"chkPDF", "2", "Print as PDF too", nullptr},
    {"chkZipPDFs", "2", "Zip result", nullptr},
    {"cmbPPTPrinter", "2", "Select the PPT Printer", nullptr},
    {"lblPPTPrinter", "2", "PowerPoint Printer", nullptr},
    {"cmbWordPrinter", "2", "Select the Word Printer", nullptr},
    {"lblWordPrinter", "2", "Word Printer", nullptr},
    {"cmbAdobePrinter", "2", "Select the Adobe Printer", nullptr},
    {"lblAdobePrinter", "2", "Adobe Printer", nullptr},
    {"txtSourcePath", "3", "Source Path", "Source Path"},
    {"cmdSourcePath", "3", "Browse", nullptr},
    {"lblSource", "3", "&Source Path:", nullptr},
    {"txtDestinationPath", "3", "Destination Path", "Destination Path"},
    {"cmdDestination", "3", "Browse", nullptr},
    {"lblDestination", "3", "&Destination Path:", nullptr},
    {"txtTOCTemplate", "3", "TOC Template", "TOC Template"},
    {"cmdTOCTemplate", "3", "Browse", nullptr},
    {"lblTOCtemplate", "3", "&TOC Template:", nullptr},
    {"txtIndexTemplate", "3", "Index Template", "Index Template"},
    {"cmdIndexTemplate", "3", "Browse", nullptr},
    {"lblIndexTemplate", "3", "&Index Template", nullptr},
    {"txtTOCName", "3", "Enter TOC Output File Name",
     "The file name of the table of contents the run writes in the destination"},
    {"lblTOCName", "3", "TOC &Output File Name", nullptr},
    {"txtIndexName", "3", "Enter Index Output File Name",
     "The file name of the index the run writes in the destination"},
    {"lblIndexName", "3", "Inde&x Output File Name", nullptr},
    {"txtCourseName", "3", "Enter Course Name", "Enter Course Name"},
    {"lblCourseName", "3", "&Course Name:", nullptr},
    {"lblProblems", "4", nullptr, nullptr},
    {"lstProblems", "4", nullptr, nullptr},
    {"lstOperations", "5", nullptr, nullptr},
    {"lblProgress", "5", nullptr, nullptr},
    {"cmdStop", "5", "&Stop", nullptr},
    {"prgOperation", "5", nullptr, nullptr},
    {"lblSummary", "5", nullptr, nullptr},
    {"lstFailures", "5", nullptr, nullptr},
    {"cmdSaveLog", "5", "Save &log...", nullptr},
    {"cmdCopyLog", "5", "&Copy", nullptr},
    {"txtWorkingDirectory", nullptr, nullptr, nullptr},
    {"txtPrintReadyZipFilename", nullptr, nullptr, nullptr},
};

QString textOf(QWidget* c) {
    if (auto* b = qobject_cast<QAbstractButton*>(c))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(c))
        return l->text();
    if (auto* t = qobject_cast<QLineEdit*>(c))
        return t->text();
    if (auto* box = qobject_cast<QComboBox*>(c))
        return box->currentText();
    return QString();
}

const QStringList kPage1 = {"Picture1", "lblWelcome", "cmdBack", "cmdNext"};

} // namespace

TEST_F(WizardTest, EveryControlHasItsNameTagTextAndTooltip) {
    frmWizard& w = start();
    EXPECT_EQ(w.windowTitle(), "Lessonforge Wizard - Office 2010 Version");
    ASSERT_EQ(w.controls().size(), qsizetype(std::size(kControls)));
    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.name);
        QWidget* c = w.findChild<QWidget*>(row.name);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(frmWizard::tagOf(c), row.tag ? QString(row.tag) : QString());
        if (row.text) {
            EXPECT_EQ(textOf(c), row.text);
        }
        if (row.tooltip) {
            EXPECT_EQ(c->toolTip(), row.tooltip);
        }
    }
    EXPECT_EQ(w.txtPrintReadyZipFilename->parentWidget(), w.Picture1);
    EXPECT_LT(w.cmdBack->x(), w.cmdNext->x()) << "Back left of Next";
    EXPECT_GT(w.lblWelcome->x(), w.Picture1->x() + w.Picture1->width() - 1) << "header right of the picture";
}

TEST_F(WizardTest, StartShowsOnlyPageOneAndReadsNoSettings) {
    frmWizard& w = start();
    EXPECT_EQ(w.PageNumber, 1);
    EXPECT_EQ(w.lblWelcome->text(), "Welcome to the Lessonforge wizard!\nClick Next to begin.");
    EXPECT_EQ(shownControls(), kPage1);
    EXPECT_EQ(w.cmdBack->text(), "&Quit");
    EXPECT_EQ(w.cmdNext->text(), "&Next>");
    EXPECT_FALSE(QFile::exists(lf::platform::configFolder() + "/Syllabo.ini"));
    EXPECT_EQ(w.txtSourcePath->text(), "Source Path") << "page 1 loads nothing";
    EXPECT_TRUE(repository->checkedPaths.isEmpty());
}

TEST_F(WizardTest, PageTwoShowsTheOperationsAndFillsThePrinterListsOnEachEntry) {
    frmWizard& w = start();
    next();
    EXPECT_EQ(w.PageNumber, 2);
    EXPECT_EQ(w.lblWelcome->text(), "Select operations to perform:");
    EXPECT_EQ(w.cmdBack->text(), "<&Back");
    EXPECT_EQ(shownControls(), QStringList({"Picture1", "lblWelcome", "cmdBack", "cmdNext", "chkGrayscale",
                                            "chkIndex", "chkTOC", "chkPRU", "lblPPTPrinter", "lblWordPrinter",
                                            "lblAdobePrinter", "chkZip"}))
        << "the print-ready options stay disabled while chkPRU is unchecked";
    EXPECT_TRUE(w.chkPDF->isVisible());
    EXPECT_EQ(w.cmbPPTPrinter->count(), 2);
    EXPECT_EQ(w.cmbPPTPrinter->currentText(), "Select the PPT Printer") << "filling keeps the shown text";
    back();
    EXPECT_EQ(w.PageNumber, 1);
    EXPECT_EQ(shownControls(), kPage1);
    next();
    for (QComboBox* list : {w.cmbAdobePrinter, w.cmbPPTPrinter, w.cmbWordPrinter}) {
        ASSERT_EQ(list->count(), 2) << "every printer once";
        EXPECT_EQ(list->itemText(0), "PDF Writer");
        EXPECT_EQ(list->itemText(1), "Office Laser");
    }
}

TEST_F(WizardTest, PublishPDFsHidesThePdfPrinterListForGood) {
    frmWizard& w = start();
    next(); // no settings file: PublishPDFs defaults to 1
    EXPECT_TRUE(w.settings().PublishPDFs);
    EXPECT_EQ(frmWizard::tagOf(w.cmbAdobePrinter), "false");
    EXPECT_FALSE(w.cmbAdobePrinter->isVisible());
    EXPECT_TRUE(w.lblAdobePrinter->isVisible());
    EXPECT_EQ(w.lblAdobePrinter->text(), "");
    w.chkPRU->click();
    w.chkPDF->click();
    EXPECT_TRUE(boxes.shown.empty()) << "no PDF printer warning when PDFs are exported";

    // Switching PublishPDFs off later does not bring the list back in this run.
    lf::test::writeFile(std::filesystem::path((lf::platform::configFolder() + "/Syllabo.ini").toStdString()),
                        "[Other Values]\r\nPublishPDFs=0\r\n");
    back();
    next();
    EXPECT_FALSE(w.settings().PublishPDFs);
    EXPECT_FALSE(w.cmbAdobePrinter->isVisible());
}

TEST_F(WizardTest, PrintReadyOptionsFollowChkPRUAndTheWarningFollowsChkPDF) {
    lf::test::writeFile(std::filesystem::path((lf::platform::configFolder() + "/Syllabo.ini").toStdString()),
                        "[Other Values]\r\nPublishPDFs=0\r\n");
    frmWizard& w = start();
    next();
    EXPECT_FALSE(w.settings().PublishPDFs);
    EXPECT_TRUE(w.cmbAdobePrinter->isVisible());
    EXPECT_FALSE(w.chkPDF->isEnabled());
    EXPECT_FALSE(w.cmbAdobePrinter->isEnabled());

    w.chkPRU->click();
    EXPECT_TRUE(w.chkPDF->isEnabled());
    EXPECT_TRUE(w.chkZipPDFs->isEnabled());
    EXPECT_TRUE(w.cmbPPTPrinter->isEnabled());
    EXPECT_TRUE(w.cmbWordPrinter->isEnabled());
    EXPECT_FALSE(w.cmbAdobePrinter->isEnabled());

    w.chkPDF->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    const auto& warning = boxes.shown[0];
    EXPECT_EQ(warning.title, "Adobe PDF Settings");
    EXPECT_EQ(warning.icon, MessageIcon::Exclamation);
    EXPECT_EQ(warning.buttons, MessageButtons::Ok);
    const QStringList lines = warning.text.split('\n');
    ASSERT_EQ(lines.size(), 11);
    EXPECT_EQ(lines[0], "Before continuing, ensure the following settings");
    EXPECT_EQ(lines[1], "are set on your local computer:");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "There is a printer (settings > printers) setup as an Adobe printer");
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(lines[5], "The printing preferences are set so that 'View Adobe PDF");
    EXPECT_EQ(lines[6], "results' in UNCHECKED and 'Prompt for Adobe PDF filename'");
    EXPECT_EQ(lines[7], "is UNCHECKED.  If these preferences are not set correctly");
    EXPECT_EQ(lines[8], "it will cause the program to work incorrectly.");
    EXPECT_EQ(lines[9], "");
    EXPECT_EQ(lines[10], "This setting does not prevent PRN files from also being created.");
    EXPECT_TRUE(w.cmbAdobePrinter->isEnabled());

    w.chkPDF->click(); // unchecking shows nothing
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_FALSE(w.cmbAdobePrinter->isEnabled());
    w.chkPDF->click(); // each time it becomes checked
    EXPECT_EQ(boxes.shown.size(), 2u);

    w.chkZipPDFs->click();
    w.chkPRU->click(); // unchecking chkPRU unchecks and disables the options, the PDF list too
    EXPECT_FALSE(w.chkPDF->isChecked());
    EXPECT_FALSE(w.chkZipPDFs->isChecked());
    EXPECT_FALSE(w.chkPDF->isEnabled());
    EXPECT_FALSE(w.chkZipPDFs->isEnabled());
    EXPECT_FALSE(w.cmbPPTPrinter->isEnabled());
    EXPECT_FALSE(w.cmbWordPrinter->isEnabled());
    EXPECT_FALSE(w.cmbAdobePrinter->isEnabled());
    EXPECT_EQ(boxes.shown.size(), 2u);
}

TEST_F(WizardTest, OnlyChoosingAPrinterSetsTheSelection) {
    frmWizard& w = start();
    next();
    w.chkPRU->click();
    w.cmbPPTPrinter->setFocus();
    w.cmbPPTPrinter->setEditText("Typed Printer");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(w.cmbPPTPrinter, &enter);
    EXPECT_TRUE(w.pptPrinterSelection.isEmpty()) << "typing (and Enter) is not choosing";
    EXPECT_EQ(w.cmbPPTPrinter->count(), 2) << "typed text is not added to the list";
    // Choosing with the keyboard: Down moves to an entry and chooses it.
    w.cmbWordPrinter->setCurrentIndex(0);
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(w.cmbWordPrinter, &down);
    EXPECT_EQ(w.wordPrinterSelection, "Office Laser");
    EXPECT_TRUE(w.pptPrinterSelection.isEmpty());
    emit w.cmbPPTPrinter->activated(0);
    EXPECT_EQ(w.pptPrinterSelection, "PDF Writer");

    back();
    next();
    EXPECT_EQ(w.wordPrinterSelection, "Office Laser") << "kept across pages";
    EXPECT_EQ(w.cmbWordPrinter->count(), 2);
}

TEST_F(WizardTest, UnavailableOperationsAreDisabledWithATooltip) {
    frmWizard& w = start(IndexBit | TOCBit);
    next();
    for (QCheckBox* box : {w.chkGrayscale, w.chkPRU, w.chkZip}) {
        EXPECT_FALSE(box->isEnabled()) << box->objectName().toStdString();
        EXPECT_TRUE(box->isVisible());
        EXPECT_EQ(box->toolTip(), "This operation is not available yet");
    }
    for (QCheckBox* box : {w.chkIndex, w.chkTOC}) {
        EXPECT_TRUE(box->isEnabled());
        EXPECT_TRUE(box->toolTip().isEmpty());
    }
    w.chkGrayscale->click();
    EXPECT_FALSE(w.chkGrayscale->isChecked());
}

TEST_F(WizardTest, PageThreeWithNothingCheckedAsksToGoBack) {
    frmWizard& w = start();
    next();
    next();
    EXPECT_EQ(w.PageNumber, 3);
    EXPECT_EQ(w.lblWelcome->text(), "Click Back and select at least one\ncheckbox.");
    EXPECT_FALSE(w.cmdNext->isEnabled());
    EXPECT_EQ(shownControls(), QStringList({"Picture1", "lblWelcome", "cmdBack"}));
    next(); // a disabled Next does nothing
    EXPECT_EQ(w.PageNumber, 3);
    back();
    EXPECT_EQ(w.PageNumber, 2);
    EXPECT_TRUE(w.cmdNext->isEnabled()) << "every page build enables Next again";
}

namespace {

struct MaskCase {
    std::uint16_t mask;
    QStringList shownBoxes; // text boxes shown
    QStringList required;   // text boxes required (last flag 1)
};

} // namespace

TEST_F(WizardTest, FieldRulesFollowTheOperationMask) {
    const QStringList all = {"txtSourcePath", "txtDestinationPath", "txtTOCTemplate", "txtIndexTemplate",
                             "txtTOCName",    "txtIndexName",       "txtCourseName"};
    const MaskCase cases[] = {
        {1, {"txtSourcePath"}, {"txtSourcePath"}},
        {6,
         all,
         {"txtSourcePath", "txtDestinationPath", "txtTOCTemplate", "txtIndexTemplate", "txtIndexName",
          "txtCourseName"}},
        {31,
         all,
         {"txtSourcePath", "txtDestinationPath", "txtTOCTemplate", "txtIndexTemplate", "txtIndexName",
          "txtCourseName"}},
        {4,
         {"txtSourcePath", "txtDestinationPath", "txtTOCTemplate", "txtTOCName", "txtCourseName"},
         {"txtSourcePath", "txtDestinationPath", "txtTOCTemplate", "txtCourseName"}},
        {5,
         {"txtSourcePath", "txtDestinationPath", "txtTOCTemplate", "txtTOCName", "txtCourseName"},
         {"txtSourcePath", "txtDestinationPath", "txtTOCTemplate", "txtCourseName"}},
        {2,
         {"txtSourcePath", "txtDestinationPath", "txtIndexTemplate", "txtIndexName", "txtCourseName"},
         {"txtSourcePath", "txtDestinationPath", "txtIndexTemplate", "txtIndexName"}},
        {3 | 8,
         {"txtSourcePath", "txtDestinationPath", "txtIndexTemplate", "txtIndexName", "txtCourseName"},
         {"txtSourcePath", "txtDestinationPath", "txtIndexTemplate", "txtIndexName"}},
        {8, {"txtSourcePath", "txtDestinationPath"}, {"txtSourcePath", "txtDestinationPath"}},
        {16, {"txtSourcePath", "txtDestinationPath"}, {"txtSourcePath", "txtDestinationPath"}},
        {1 | 16, {"txtSourcePath", "txtDestinationPath"}, {"txtSourcePath", "txtDestinationPath"}},
    };
    const std::pair<const char*, const char*> buttonOf[] = {{"txtSourcePath", "cmdSourcePath"},
                                                            {"txtDestinationPath", "cmdDestination"},
                                                            {"txtTOCTemplate", "cmdTOCTemplate"},
                                                            {"txtIndexTemplate", "cmdIndexTemplate"}};
    for (const MaskCase& c : cases) {
        SCOPED_TRACE(c.mask);
        frmWizard& w = start();
        next();
        const std::pair<QCheckBox*, std::uint16_t> boxesByBit[] = {
            {w.chkGrayscale, 1}, {w.chkIndex, 2}, {w.chkTOC, 4}, {w.chkPRU, 8}, {w.chkZip, 16}};
        for (const auto& [box, bit] : boxesByBit)
            if (c.mask & bit)
                box->click();
        EXPECT_EQ(w.whichControlsChecked(), c.mask);
        next();
        EXPECT_EQ(w.lblWelcome->text(), "Enter the path and name info:");
        QStringList shownBoxes, required;
        for (const QString& name : all) {
            QWidget* box = w.findChild<QWidget*>(name);
            if (box->isVisible() && box->isEnabled())
                shownBoxes.append(name);
            if (w.isVerificationRequired(box))
                required.append(name);
        }
        EXPECT_EQ(shownBoxes, c.shownBoxes);
        EXPECT_EQ(required, c.required);
        for (const auto& [boxName, buttonName] : buttonOf)
            EXPECT_EQ(w.findChild<QWidget*>(buttonName)->isVisible(), c.shownBoxes.contains(boxName))
                << buttonName;
        EXPECT_EQ(frmWizard::tagOf(w.txtTOCName), "3") << "the TOC name never gets a flag";
        EXPECT_FALSE(w.chkGrayscale->isVisible()) << "page 2 controls are gone";
        EXPECT_TRUE(w.cmdNext->isEnabled());
        wizard.reset();
    }
}

TEST_F(WizardTest, TagsOnlyGrowAndTheLastFlagCounts) {
    frmWizard& w = start();
    next();
    w.chkGrayscale->click();
    next();
    EXPECT_EQ(frmWizard::tagOf(w.txtSourcePath), "3,1");
    EXPECT_EQ(frmWizard::tagOf(w.txtDestinationPath), "3,0");
    next(); // page 4
    back(); // page 3 again
    EXPECT_EQ(frmWizard::tagOf(w.txtSourcePath), "3,1,1");
    back();
    w.chkGrayscale->click();
    w.chkZip->click();
    next();
    EXPECT_EQ(frmWizard::tagOf(w.txtDestinationPath), "3,0,0,1");
    EXPECT_TRUE(w.isVerificationRequired(w.txtDestinationPath));
    EXPECT_EQ(frmWizard::tagOf(w.txtCourseName), "3,0,0,0");
    EXPECT_FALSE(w.isVerificationRequired(w.txtCourseName));
    EXPECT_TRUE(w.txtDestinationPath->isVisible()) << "a grown tag still names page 3";
}

TEST_F(WizardTest, VerificationTreatsPlaceholderTextLikeEmpty) {
    frmWizard& w = start();
    next();
    w.chkTOC->click();
    next();
    w.txtCourseName->setText("Enter Course Name"); // still the placeholder
    next();
    EXPECT_EQ(w.PageNumber, 4);
    EXPECT_EQ(w.cmdNext->text(), "&Next");
    EXPECT_EQ(w.lblWelcome->text(), "Please complete all path information.  Click Back.");
    EXPECT_FALSE(w.cmdNext->isEnabled());
    EXPECT_EQ(shownControls(), QStringList({"Picture1", "lblWelcome", "cmdBack"}));
    // Every required box was checked for a connection, none skipped after the first failure.
    EXPECT_EQ(repository->checkedPaths,
              QStringList({"C:\\Temp\\", "C:\\Temp\\", w.txtTOCTemplate->text(), "Enter Course Name"}));

    back();
    w.txtCourseName->setText("");
    next();
    EXPECT_FALSE(w.cmdNext->isEnabled()) << "empty fails too";
    back();
    w.txtCourseName->setText("Networks 101");
    next();
    EXPECT_EQ(w.lblWelcome->text(), "Click Next to perform all operations");
    EXPECT_TRUE(w.cmdNext->isEnabled());
    EXPECT_EQ(w.cmdNext->text(), "&Next");
    back();
    back();
    back();
    EXPECT_EQ(w.cmdNext->text(), "&Next") << "once page 4 was shown the caption stays";
}

TEST_F(WizardTest, NotRequiredFieldsAreNotChecked) {
    frmWizard& w = start();
    next();
    w.chkGrayscale->click();
    next();
    w.txtDestinationPath->setText("");
    w.txtCourseName->setText("");
    next();
    EXPECT_TRUE(w.cmdNext->isEnabled()) << "grayscale needs only a source";
    EXPECT_EQ(repository->checkedPaths, QStringList({"C:\\Temp\\"}));
}

TEST_F(WizardTest, RepositoryPathWithoutSessionFailsWithTheNotConnectedBox) {
    frmWizard& w = start();
    next();
    w.chkZip->click();
    next();
    w.txtSourcePath->setText("/Edvara/Courses/Storage");
    next();
    EXPECT_FALSE(w.cmdNext->isEnabled());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Not connected");
    EXPECT_EQ(boxes.shown[0].text,
              "The path indicates that you should be connected.\nRepository not available");
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_TRUE(settingsText().contains("SourcePath=/Edvara/Courses/Storage")) << "saved before the check";

    repository->connected = true;
    back();
    w.txtSourcePath->setText("/Edvara/Courses/Storage");
    next();
    EXPECT_TRUE(w.cmdNext->isEnabled());
}

TEST_F(WizardTest, TheStandInSeamHasNoSession) {
    NoRepository none;
    EXPECT_FALSE(none.EnsureConnection("C:\\Courses"));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(none.EnsureConnection("/Edvara/Courses"));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Not connected");
}

TEST_F(WizardTest, StripTrailingSeparatorRemovesOneCharacter) {
    EXPECT_EQ(StripTrailingSeparator("C:\\"), "C:");
    EXPECT_EQ(StripTrailingSeparator("C:\\Temp\\"), "C:\\Temp");
    EXPECT_EQ(StripTrailingSeparator("C:\\Temp\\\\"), "C:\\Temp\\");
    EXPECT_EQ(StripTrailingSeparator("/Cabinet/Folder/"), "/Cabinet/Folder");
    EXPECT_EQ(StripTrailingSeparator("C:\\Temp"), "C:\\Temp");
    EXPECT_EQ(StripTrailingSeparator(""), "");
}

TEST_F(WizardTest, BrowseButtonsNameTheirFieldAndWhetherAFileIsWanted) {
    frmWizard& w = start();
    next();
    w.chkTOC->click();
    w.chkIndex->click();
    next();
    w.cmdSourcePath->click();
    w.cmdDestination->click();
    w.cmdTOCTemplate->click();
    w.cmdIndexTemplate->click();
    ASSERT_EQ(repository->browsed.size(), 4u);
    EXPECT_EQ(repository->browsed[0], std::make_pair(w.txtSourcePath, false));
    EXPECT_EQ(repository->browsed[1], std::make_pair(w.txtDestinationPath, false));
    EXPECT_EQ(repository->browsed[2], std::make_pair(w.txtTOCTemplate, true));
    EXPECT_EQ(repository->browsed[3], std::make_pair(w.txtIndexTemplate, true));
}

TEST_F(WizardTest, ControlMethodsByName) {
    frmWizard& w = start();
    w.displayControl("txtSourcePath");
    EXPECT_TRUE(w.txtSourcePath->isVisible());
    EXPECT_TRUE(w.txtSourcePath->isEnabled());
    w.hideControl("txtSourcePath");
    EXPECT_FALSE(w.txtSourcePath->isVisible());
    EXPECT_FALSE(w.txtSourcePath->isEnabled());
    w.hideControl("noSuchControl"); // nothing happens
    w.displayControls(3);
    EXPECT_TRUE(w.txtSourcePath->isVisible());
    EXPECT_FALSE(w.chkGrayscale->isVisible());
    EXPECT_FALSE(w.txtWorkingDirectory->isVisible()) << "a control without a tag is never shown";
    w.disableAllControls();
    EXPECT_FALSE(w.txtSourcePath->isVisible());
    EXPECT_TRUE(w.cmdNext->isVisible());
    w.disableBack();
    EXPECT_FALSE(w.cmdBack->isEnabled());
    w.enableBack();
    EXPECT_TRUE(w.cmdBack->isEnabled());
}
