// The run page: dispatch order and arguments, the Index-then-TOC hand-over, the "Whoops!" box, the
// unload steps, and the operation log as the wizard shows it.
#include "platform/oplog.h"
#include "wizard_fixture.h"

#include "office/printing/office_printing.h"

#include <QTest>
#include <QTimer>

#include <cerrno>
#include <csignal>

using namespace lf::wizard;
using namespace lf::wizard::test;
using lf::oplog::LogOperation;
using lf::platform::MessageIcon;

namespace {

class WizardRunTest : public WizardTest {
protected:
    // Pages 2 to 4 with the given operations and fields, ending on page 4.
    void prepare(std::uint16_t mask) {
        next();
        const std::pair<QCheckBox*, std::uint16_t> byBit[] = {{wizard->chkGrayscale, 1},
                                                              {wizard->chkIndex, 2},
                                                              {wizard->chkTOC, 4},
                                                              {wizard->chkPRU, 8},
                                                              {wizard->chkZip, 16}};
        for (const auto& [box, bit] : byBit)
            if (mask & bit)
                box->click();
        next();
        wizard->txtSourcePath->setText("C:\\");
        wizard->txtDestinationPath->setText("D:\\Out\\\\");
        wizard->txtTOCTemplate->setText("C:\\Templates\\Toc.docx");
        wizard->txtIndexTemplate->setText("C:\\Templates\\Index.docx");
        wizard->txtTOCName->setText("00b_Toc.docx");
        wizard->txtIndexName->setText("00c_Index.docx");
        wizard->txtCourseName->setText("Networks 101");
        next();
        ASSERT_TRUE(wizard->cmdNext->isEnabled()) << wizard->lblWelcome->text().toStdString();
    }
};

} // namespace

TEST_F(WizardRunTest, AllFiveRunInOrderWithTheirArguments) {
    frmWizard& w = start();
    lf::test::writeFile(std::filesystem::path((lf::platform::configFolder() + "/Syllabo.ini").toStdString()),
                        "[Other Values]\r\nPublishPDFs=0\r\nWorkingDirectory=C:\\work\\\r\n"
                        "PrintReadyZipFilename=Ready.zip\r\nTOCTitleSource=Rule\r\nIndexLanguage=sv-SE\r\n"
                        "ArchivePDFs=1\r\n");
    next();
    w.chkPRU->click();
    w.chkPDF->click();
    emit w.cmbPPTPrinter->activated(1);
    emit w.cmbAdobePrinter->activated(0);
    back();
    prepare(31 & ~PrintReadyBit); // chkPRU is already checked
    // The buttons are disabled while the operations run.
    recorder.onCall = [&](const QString&) {
        EXPECT_FALSE(w.cmdNext->isEnabled());
        EXPECT_FALSE(w.cmdBack->isEnabled());
        EXPECT_TRUE(w.isRunning());
    };
    next();
    EXPECT_EQ(w.PageNumber, 5);
    EXPECT_EQ(w.lblWelcome->text(), "Operations");
    EXPECT_EQ(w.cmdNext->text(), "Finish");
    EXPECT_TRUE(w.cmdNext->isEnabled());
    EXPECT_FALSE(w.cmdBack->isEnabled());
    EXPECT_TRUE(w.lstOperations->isVisible());
    EXPECT_FALSE(w.txtSourcePath->isVisible());

    ASSERT_EQ(recorder.names(), QStringList({"RunGrayscaleResize", "CollectIndex", "CollectTOC",
                                             "RunPrintReady", "RunZipPackaging"}));
    const auto& c = recorder.calls;
    EXPECT_EQ(c[0].arguments, QStringList({"C:", "C:\\work\\", "true"}));
    EXPECT_EQ(c[1].arguments, QStringList({"C:\\Templates\\Index.docx", "00c_Index.docx", "C:", "D:\\Out\\",
                                           "Networks 101", "C:\\work\\", "sv-SE", "false"}));
    EXPECT_EQ(c[2].arguments, QStringList({"C:\\Templates\\Toc.docx", "00b_Toc.docx", "C:\\work\\",
                                           "D:\\Out\\", "Networks 101", "C:\\work\\", "true", "rule"}))
        << "the TOC reads the working directory as typed, where the Index left the decks, and takes "
           "titles as the settings file says";
    EXPECT_EQ(c[3].arguments,
              QStringList({"C:", "D:\\Out\\", "true", "C:\\work\\", "true", "false", "Ready.zip",
                           "Office Laser", "", "PDF Writer", "false", "false", "true"}))
        << "the printing switches as the settings file has them";
    EXPECT_EQ(c[4].arguments, QStringList({"C:", "D:\\Out\\", "C:\\work\\", "true", "Course.zip"}));

    next(); // Finish
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(*repository->events, QStringList({"unloadWindows", "releaseSession", "quitDocumentWriter"}));
}

TEST_F(WizardRunTest, IndexAloneCleansUpAndTOCAloneReadsTheSource) {
    start();
    prepare(IndexBit);
    next();
    ASSERT_EQ(recorder.names(), QStringList({"CollectIndex"}));
    EXPECT_EQ(recorder.calls[0].arguments.last(), "true");
    wizard.reset();
    recorder.calls.clear();

    start();
    prepare(TOCBit);
    next();
    ASSERT_EQ(recorder.names(), QStringList({"CollectTOC"}));
    EXPECT_EQ(recorder.calls[0].arguments[2], "C:") << "normalized source";
    EXPECT_EQ(recorder.calls[0].arguments[5], "C:\\syllabo");
    EXPECT_EQ(recorder.calls[0].arguments[7], "rule then placeholder") << "without the setting";
    wizard.reset();
    recorder.calls.clear();

    lf::test::writeFile(std::filesystem::path((lf::platform::configFolder() + "/Syllabo.ini").toStdString()),
                        "[Other Values]\r\nTOCTitleSource=placeholder only\r\n");
    start();
    prepare(TOCBit);
    next();
    ASSERT_EQ(recorder.names(), QStringList({"CollectTOC"}));
    EXPECT_EQ(recorder.calls[0].arguments[7], "rule then placeholder") << "a value it does not know";
}

TEST_F(WizardRunTest, PrintReadyWithoutChosenPrintersPassesEmptySelections) {
    frmWizard& w = start();
    next();
    w.chkPRU->click();
    w.cmbPPTPrinter->setEditText("Typed but not chosen");
    back();
    prepare(0);
    next();
    ASSERT_EQ(recorder.names(), QStringList({"RunPrintReady"}));
    const QStringList& a = recorder.calls[0].arguments;
    EXPECT_EQ(a[2], "false");
    EXPECT_EQ(a[6], "PrintReady.zip");
    EXPECT_EQ(a.mid(7, 3), QStringList({"", "", ""}));
}

// Page 4 starts LibreOffice for a chosen print-ready run; going back to page 3 ends it; the run is
// handed the one started on page 4 and no other starts.
TEST_F(WizardRunTest, LibreOfficeStartedOnPageFourIsTheRunsAndEndsWhenTheWizardGoesBack) {
    int starts = 0;
    startRenderer = [&](const lf::platform::StopRequest* stop) {
        ++starts;
        return lf::printing::startRenderer(stop);
    };
    frmWizard& w = start();
    auto upWithin = [&](std::chrono::seconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        std::vector<int> pids;
        while ((pids = w.startedRenderer()->instanceProcessIds()).empty() &&
               std::chrono::steady_clock::now() < until)
            QTest::qWait(100);
        return pids;
    };
    next();
    w.chkPRU->click();
    back();
    prepare(0);
    ASSERT_EQ(starts, 1) << "page 4 starts LibreOffice for the print-ready run";
    const std::vector<int> first = upWithin(std::chrono::seconds(60));
    ASSERT_EQ(first.size(), 1u) << "the instance did not come up";
    back();
    EXPECT_EQ(w.startedRenderer(), nullptr);
    EXPECT_TRUE(::kill(first.front(), 0) != 0 && errno == ESRCH) << "back on page 3, the instance ended";

    next();
    ASSERT_EQ(starts, 2) << "page 4 again, LibreOffice again";
    next();
    ASSERT_EQ(recorder.names(), QStringList({"RunPrintReady"}));
    EXPECT_TRUE(recorder.tookWarmRenderer) << "the run took the started LibreOffice over";
    EXPECT_EQ(starts, 2) << "the run page started no second one";
    EXPECT_EQ(w.startedRenderer(), nullptr);
}

TEST_F(WizardRunTest, NoOperationOnTheRunPageShowsWhoops) {
    frmWizard& w = start();
    w.PageNumber = 5;
    w.controlState(5);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Whoops!");
    EXPECT_EQ(boxes.shown[0].text, "Something unsupported just happened");
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Critical);
    EXPECT_EQ(boxes.shown[0].buttons, lf::platform::MessageButtons::Ok);
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_FALSE(w.cmdNext->isEnabled());
    EXPECT_FALSE(w.cmdBack->isEnabled());
}

TEST_F(WizardRunTest, AnOperationThatThrowsDoesNotStopTheRun) {
    frmWizard& w = start();
    prepare(GrayscaleBit | ZipBit);
    recorder.onCall = [](const QString& name) {
        if (name == "RunGrayscaleResize")
            throw std::runtime_error("disk full");
    };
    next();
    EXPECT_EQ(recorder.names(), QStringList({"RunGrayscaleResize", "RunZipPackaging"}));
    ASSERT_GE(w.lstOperations->count(), 1);
    EXPECT_EQ(w.lstOperations->item(0)->text(), "Wizard - Serious error:disk full");
    EXPECT_EQ(frmError::instance().errorLines(), QStringList({"Serious error:disk full"}));
    EXPECT_TRUE(w.cmdNext->isEnabled());
}

TEST_F(WizardRunTest, ClosingDuringARunAsksAndStopsOnlyOnYes) {
    frmWizard& w = start();
    prepare(GrayscaleBit | ZipBit);
    boxes.answers = {lf::platform::MessageAnswer::No, lf::platform::MessageAnswer::Yes};
    recorder.onCall = [&, first = true](const QString&) mutable {
        EXPECT_TRUE(w.cmdStop->isVisible() && w.cmdStop->isEnabled());
        EXPECT_FALSE(w.close()) << "refused while running";
        EXPECT_TRUE(repository->events->isEmpty()) << "the session stays while operations run";
        if (first) {
            EXPECT_FALSE(w.stopRequest().requested()) << "No keeps the run going";
            EXPECT_TRUE(w.isVisible());
        } else {
            EXPECT_TRUE(w.stopRequest().requested()) << "Yes stops the run";
            EXPECT_FALSE(w.cmdStop->isEnabled());
        }
        first = false;
    };
    next();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].buttons, lf::platform::MessageButtons::YesNo);
    EXPECT_EQ(recorder.names(), QStringList({"RunGrayscaleResize", "RunZipPackaging"}));
    EXPECT_FALSE(w.isVisible()) << "closed once the run ended";
    EXPECT_EQ(*repository->events, QStringList({"unloadWindows", "releaseSession", "quitDocumentWriter"}));
}

TEST_F(WizardRunTest, StopDuringARunAsksTheOperationsToEndAndTheSummarySaysSo) {
    frmWizard& w = start();
    prepare(GrayscaleBit);
    recorder.onCall = [&](const QString&) {
        ASSERT_TRUE(w.cmdStop->isVisible() && w.cmdStop->isEnabled());
        QTest::mouseClick(w.cmdStop, Qt::LeftButton);
        EXPECT_TRUE(w.stopRequest().requested());
        EXPECT_FALSE(w.cmdStop->isEnabled());
        EXPECT_TRUE(w.lblProgress->text().contains("current file"));
    };
    next();
    EXPECT_FALSE(w.cmdStop->isVisible()) << "no Stop once the run ended";
    EXPECT_FALSE(w.lblProgress->isVisible()) << "the status line gives way to the summary";
    EXPECT_TRUE(w.lblSummary->text().startsWith("Stopped"));
}

TEST_F(WizardRunTest, QuitOnPageOneAndTheCloseBoxUnload) {
    frmWizard& w = start();
    back(); // "&Quit"
    EXPECT_EQ(w.PageNumber, 0);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(*repository->events, QStringList({"unloadWindows", "releaseSession", "quitDocumentWriter"}));
    wizard.reset();

    frmWizard& again = start();
    repository->events->clear();
    next();
    next();
    frmError::instance().addError("left from an operation");
    again.close();
    EXPECT_EQ(*repository->events, QStringList({"unloadWindows", "releaseSession", "quitDocumentWriter"}));
    EXPECT_TRUE(frmError::instance().errorLines().isEmpty()) << "the errors dialog goes with the wizard";
}

TEST_F(WizardRunTest, LogLinesGoToTheListAndErrorsToTheErrorsDialog) {
    frmWizard& w = start();
    LogOperation("Resize", "Begin", false);
    ASSERT_EQ(shownLog()->count(), 1);
    EXPECT_EQ(shownLog()->item(0)->text(), "Resize - Begin");
    EXPECT_EQ(shownLog()->currentRow(), 0);
    EXPECT_TRUE(frmError::instance().errorLines().isEmpty());

    LogOperation("Resize", "Begin", true);
    EXPECT_EQ(shownLog()->count(), 2);
    EXPECT_EQ(shownLog()->currentRow(), 1) << "the newest line is selected";
    EXPECT_EQ(frmError::instance().errorLines(), QStringList({"Begin"}));
    EXPECT_FALSE(frmError::instance().isVisible());

    EXPECT_FALSE(lf::oplog::CheckNothingProcessed(0, "TOC"));
    EXPECT_EQ(shownLog()->item(2)->text(), "TOC - Process count is zero");
    EXPECT_EQ(shownLog()->item(3)->text(), "TOC - Nothing was processed");
    EXPECT_EQ(shownLog()->count(), 4);

    // How far an operation is shows under the log, not in it.
    lf::oplog::LogProgress("Print ready", "deck", 3, 30);
    EXPECT_EQ(w.lblProgress->text(), "Print ready: deck 3 of 30");
    EXPECT_EQ(shownLog()->count(), 4);
}

TEST_F(WizardRunTest, OperationsListClickAndDoubleClick) {
    frmWizard& w = start();
    w.lstOperations_DblClick();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Information");
    EXPECT_EQ(boxes.shown[0].text, "") << "nothing selected: an empty box";
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Information);

    const QString longLine(300, 'x');
    LogOperation("PRU", longLine, false);
    LogOperation("PRU", "second", false);
    w.lstOperations->setCurrentRow(0);
    EXPECT_EQ(w.lstOperations->toolTip(), "PRU - " + longLine);
    w.lstOperations_DblClick();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text, "PRU - " + longLine);
}

TEST_F(WizardRunTest, TheWizardHandsTheLogBackWhenItGoes) {
    start();
    lf::oplog::OperationLogSink* sink = &lf::oplog::operationLogSink();
    wizard.reset();
    EXPECT_NE(&lf::oplog::operationLogSink(), sink);
    lf::oplog::RecordingLogSink recording;
    LogOperation("A", "b", false);
    EXPECT_EQ(recording.lines, QStringList({"A - b"}));
}

TEST_F(WizardRunTest, DoubleClickingALineWithTheMouseShowsIt) {
    frmWizard& w = start();
    prepare(ZipBit);
    next();
    LogOperation("Zip", "first line", false);
    LogOperation("Zip", "second line", false);
    QListWidget* list = w.lstOperations;
    const QPoint first = list->visualItemRect(list->item(0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first);
    EXPECT_EQ(list->toolTip(), "Zip - first line");
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, first);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Information");
    EXPECT_EQ(boxes.shown[0].text, "Zip - first line");
}
