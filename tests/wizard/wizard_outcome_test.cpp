// The end of a run on the run page: failures marked and summed up with a way back to their lines, a
// log that stays where the reader scrolled, and the log kept by saving or copying it.
#include "courserun/course_run.h"
#include "platform/oplog.h"
#include "platform/services.h"
#include "wizard_fixture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

using namespace lf::wizard;
using namespace lf::wizard::test;
using lf::oplog::LogFailure;
using lf::oplog::LogOperation;

namespace {

class WizardOutcomeTest : public WizardTest {
protected:
    // Pages 2 to 4 with the TOC chosen and its fields filled, ending on page 4.
    void prepareTOC() {
        next();
        wizard->chkTOC->click();
        next();
        wizard->txtSourcePath->setText("C:\\Course");
        wizard->txtDestinationPath->setText("C:\\Out");
        wizard->txtTOCTemplate->setText("C:\\Templates\\Toc.docx");
        wizard->txtTOCName->setText("00b_Toc.docx");
        wizard->txtCourseName->setText("Networks 101");
        next();
        ASSERT_TRUE(wizard->cmdNext->isEnabled()) << wizard->lblWelcome->text().toStdString();
    }
};

} // namespace

TEST_F(WizardOutcomeTest, TheSummaryNamesTheFailedDocumentAndLeadsToItsMarkedLine) {
    // A TOC that writes one document, fails another and logs an error, with enough lines around them
    // that the failure is out of sight at the end.
    adjustOperations = [](Operations& ops) {
        ops.CollectTOC = [](lf::courserun::CourseRun& run, const QString&, const QString&, const QString&,
                            const QString& destination, const QString&, bool, lf::indexing::TOCTitleSource) {
            LogOperation("TOC", "Begin", false);
            LogFailure("TOC", "Could not write 00c_Glossary.docx");
            for (int i = 0; i < 80; ++i)
                LogOperation("TOC", QString("Deck %1 read").arg(i), false);
            LogOperation("TOC", "Template has no contents field", true);
            run.noteWritten(destination + "\\00b_Toc.docx");
            LogOperation("TOC", "TOC Creation Complete", false);
        };
    };
    frmWizard& w = start();
    prepareTOC();
    next();

    QListWidget* log = w.lstOperations;
    ASSERT_EQ(log->count(), 84);
    const int failedRow = 1;
    const int errorRow = 82;
    for (int row : {failedRow, errorRow}) {
        EXPECT_FALSE(log->item(row)->icon().isNull())
            << "row " << row << " carries an icon, not colour alone";
        EXPECT_NE(log->item(row)->foreground(), log->item(0)->foreground());
    }
    EXPECT_TRUE(log->item(0)->icon().isNull());
    EXPECT_TRUE(log->item(83)->icon().isNull());

    EXPECT_TRUE(w.lblSummary->isVisible());
    EXPECT_FALSE(w.lblProgress->isVisible());
    const QString summary = w.lblSummary->text();
    EXPECT_TRUE(summary.contains("Create Table of Contents")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("C:\\Out\\00b_Toc.docx"))
        << "written files named as typed: " << summary.toStdString();
    ASSERT_TRUE(w.lstFailures->isVisible());
    ASSERT_EQ(w.lstFailures->count(), 2);
    QListWidgetItem* failure = w.lstFailures->item(0);
    EXPECT_EQ(failure->text(), "TOC - Could not write 00c_Glossary.docx");

    QCoreApplication::processEvents();
    EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum())
        << "the summary does not push the end of the log out of sight";
    EXPECT_EQ(log->selectedItems().size(), 1);
    ASSERT_FALSE(log->visualItemRect(log->item(failedRow)).intersects(log->viewport()->rect()))
        << "the failure starts out of sight";
    const QRect place = w.lstFailures->visualItemRect(failure);
    QTest::mouseClick(w.lstFailures->viewport(), Qt::LeftButton, {}, place.center());
    EXPECT_EQ(log->currentRow(), failedRow);
    EXPECT_EQ(log->selectedItems(), QList<QListWidgetItem*>({log->item(failedRow)}));
    EXPECT_TRUE(log->visualItemRect(log->item(failedRow)).intersects(log->viewport()->rect()));
}

TEST_F(WizardOutcomeTest, TheLogStaysWhereTheReaderScrolledAndFollowsOnlyFromTheEnd) {
    frmWizard& w = start();
    prepareTOC();
    QListWidget* log = w.lstOperations;
    QScrollBar* bar = log->verticalScrollBar();
    // The lines of a busy run reach the list in batches; the window shows them as it would one batch
    // later.
    auto settle = [&] {
        w.showPendingLogLines();
        QCoreApplication::processEvents();
    };
    recorder.onCall = [&](const QString&) {
        for (int i = 0; i < 100; ++i)
            LogOperation("TOC", QString("Line %1").arg(i), false);
        settle();
        ASSERT_GT(bar->maximum(), 0);
        EXPECT_EQ(bar->value(), bar->maximum()) << "followed while at the end";

        bar->setValue(0); // the reader scrolls back up and picks a line
        log->setCurrentRow(3);
        LogOperation("TOC", "Read back undisturbed", true);
        LogOperation("TOC", "Still undisturbed", false);
        settle();
        EXPECT_EQ(bar->value(), 0);
        EXPECT_EQ(log->currentRow(), 3);
        EXPECT_EQ(log->toolTip(), "TOC - Line 3");

        bar->setValue(bar->maximum()); // back at the end: following again
        LogOperation("TOC", "Newest", false);
        settle();
        EXPECT_EQ(bar->value(), bar->maximum());
        EXPECT_EQ(log->currentItem()->text(), "TOC - Newest");
    };
    next();
    EXPECT_EQ(recorder.names(), QStringList({"CollectTOC"}));
}

// A long run's log: lines of a burst show without waiting for another line; 10,000 lines, with the
// event loop let in after each as a run does, arrive whole and in order, the newest selected while the
// log shows its end; a reader who scrolled back mid-run keeps their place and their line.
TEST_F(WizardOutcomeTest, TenThousandLinesArriveInOrderAndAReaderKeepsTheirPlace) {
    frmWizard& w = start();
    prepareTOC();
    QListWidget* log = w.lstOperations;
    QScrollBar* bar = log->verticalScrollBar();
    auto logLines = [](int from, int to) {
        for (int i = from; i < to; ++i) {
            LogOperation("TOC", QString("Line %1").arg(i), false);
            lf::platform::yieldToEventLoop();
        }
    };
    recorder.onCall = [&](const QString&) {
        logLines(0, 3);
        EXPECT_TRUE(QTest::qWaitFor([&] { return log->count() == 3; }, 2000))
            << "the end of a burst shows by itself; shown " << log->count();
        EXPECT_EQ(log->currentRow(), 2);

        logLines(3, 5000);
        w.showPendingLogLines();
        QCoreApplication::processEvents();
        EXPECT_EQ(log->currentRow(), 4999) << "the newest line is selected";
        EXPECT_EQ(bar->value(), bar->maximum());

        bar->setValue(0); // the reader scrolls back up and picks a line
        log->setCurrentRow(3);
        logLines(5000, 10000);
    };
    next();

    ASSERT_EQ(log->count(), 10000) << "the run's end shows every line";
    for (int row = 0; row < log->count(); ++row)
        ASSERT_EQ(log->item(row)->text(), QString("TOC - Line %1").arg(row));
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(log->selectedItems(), QList<QListWidgetItem*>({log->item(3)}));
    EXPECT_EQ(log->toolTip(), "TOC - Line 3");
}

TEST_F(WizardOutcomeTest, SaveLogWritesEveryLineAndCopyTakesTheSelection) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString saved = folder.filePath("run log.txt");
    frmWizard& w = start();
    prepareTOC();
    recorder.onCall = [&](const QString&) {
        LogOperation("TOC", "Begin", false);
        LogOperation("TOC", "Kurs 日本語コース read", false);
        LogFailure("TOC", "Nothing was processed");
    };
    next();
    w.chooseLogFile = [&] { return saved; };
    ASSERT_TRUE(w.cmdSaveLog->isVisible() && w.cmdSaveLog->isEnabled());
    QTest::mouseClick(w.cmdSaveLog, Qt::LeftButton);
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()),
              "TOC - Begin\nTOC - Kurs 日本語コース read\nTOC - Nothing was processed\n");

    w.lstOperations->clearSelection();
    QTest::mouseClick(w.cmdCopyLog, Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              "TOC - Begin\nTOC - Kurs 日本語コース read\nTOC - Nothing was processed");
    w.lstOperations->item(1)->setSelected(true);
    QTest::mouseClick(w.cmdCopyLog, Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "TOC - Kurs 日本語コース read");
}
