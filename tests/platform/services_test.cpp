// The services and their doubles, and the operation log with its process count.
#include "platform/doubles.h"
#include "platform/oplog.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <gtest/gtest.h>

using namespace lf::platform;
using namespace lf::oplog;

TEST(Services, DoublesInstallThemselvesAndRestoreWhatTheyReplaced) {
    MessageBoxService* real = &messageBoxes();
    {
        ScriptedMessageBoxes outer;
        outer.answers = {MessageAnswer::Yes};
        {
            ScriptedMessageBoxes inner;
            EXPECT_EQ(&messageBoxes(), &inner);
            EXPECT_EQ(messageBox("T", "question", MessageIcon::Question, MessageButtons::YesNo),
                      MessageAnswer::No)
                << "an unscripted Yes/No box is answered No";
            EXPECT_EQ(inner.unscripted, 1);
        }
        EXPECT_EQ(&messageBoxes(), &outer);
        EXPECT_EQ(
            messageBox("Title", "line 1\nline 2", MessageIcon::Exclamation, MessageButtons::YesNo, true),
            MessageAnswer::Yes);
        ASSERT_EQ(outer.shown.size(), 1u);
        EXPECT_EQ(outer.shown[0].title, "Title");
        EXPECT_EQ(outer.shown[0].text, "line 1\nline 2");
        EXPECT_EQ(outer.shown[0].icon, MessageIcon::Exclamation);
        EXPECT_EQ(outer.shown[0].buttons, MessageButtons::YesNo);
        EXPECT_TRUE(outer.shown[0].foreground);
        EXPECT_EQ(messageBox("T", "ok box", MessageIcon::Information), MessageAnswer::Ok);
    }
    EXPECT_EQ(&messageBoxes(), real);
}

TEST(Services, PointerSleepYieldAndProcessDoublesRecord) {
    RecordingPointer pointerDouble;
    showHourglass();
    showHourglass();
    showDefaultPointer();
    EXPECT_FALSE(pointerDouble.hourglass);
    EXPECT_EQ(pointerDouble.changes, (std::vector<bool>{true, true, false}));

    RecordingSleeper sleeperDouble;
    QElapsedTimer clock;
    clock.start();
    sleepFor(60000);
    sleepFor(5000);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(sleeperDouble.durations, (std::vector<int>{60000, 5000}));

    RecordingEventYield yieldDouble;
    yieldToEventLoop();
    EXPECT_EQ(yieldDouble.count, 1);

    RecordingProcessStarter starter;
    EXPECT_TRUE(startProcess("wzzip", {"-a", "C:\\x.zip"}, "/tmp"));
    starter.result = false;
    QString error;
    EXPECT_FALSE(startProcess("wzzip", {}, QString(), &error));
    EXPECT_FALSE(error.isEmpty());
    ASSERT_EQ(starter.calls.size(), 2u);
    EXPECT_EQ(starter.calls[0].program, "wzzip");
    EXPECT_EQ(starter.calls[0].arguments, QStringList({"-a", "C:\\x.zip"}));
    EXPECT_EQ(starter.calls[0].workingFolder, "/tmp");
}

TEST(Services, RealSleepWaitsAndKeepsEventsRunning) {
    bool fired = false;
    QTimer::singleShot(10, [&] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    sleepFor(120);
    EXPECT_GE(clock.elapsed(), 110);
    EXPECT_TRUE(fired) << "a timer due during the sleep runs (the window keeps painting)";
}

TEST(Services, RealProcessStarterStartsAProgram) {
    lf::test::TempDir dir;
    EXPECT_TRUE(startProcess("/bin/sh", {"-c", "echo started > marker"}, dir.qpath()));
    for (int i = 0; i < 200 && !std::filesystem::exists(dir / "marker"); ++i)
        sleepFor(10);
    EXPECT_TRUE(std::filesystem::exists(dir / "marker"));
    QString error;
    EXPECT_FALSE(startProcess("/nonexistent/program", {}, QString(), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(Printers, FixedCatalogReplacesTheInstalledOnes) {
    FixedPrinterCatalog printers({"PDF", "Laser"});
    EXPECT_EQ(installedPrinters(), QStringList({"PDF", "Laser"}));
}

TEST(OperationLog, LineShapesAndErrorsList) {
    RecordingLogSink sink;
    LogOperation("Resize", "Begin", false);
    EXPECT_EQ(sink.lines, QStringList({"Resize - Begin"}));
    EXPECT_TRUE(sink.errors.isEmpty());
    LogOperation("Resize", "Begin", true);
    EXPECT_EQ(sink.errors, QStringList({"Begin"})) << "the errors list gets the bare message";
    LogOperation("", "no tag", false);
    LogOperation("TOC", "", false);
    EXPECT_EQ(sink.lines, QStringList({"Resize - Begin", "Resize - Begin", " - no tag", "TOC - "}));
}

TEST(OperationLog, CheckNothingProcessed) {
    RecordingLogSink sink;
    EXPECT_FALSE(CheckNothingProcessed(0, "TOC"));
    EXPECT_EQ(sink.lines, QStringList({"TOC - Process count is zero", "TOC - Nothing was processed"}));
    EXPECT_TRUE(sink.errors.isEmpty());
    EXPECT_TRUE(CheckNothingProcessed(1, "TOC"));
    EXPECT_TRUE(CheckNothingProcessed(-5, "TOC"));
    EXPECT_EQ(sink.lines.size(), 2);
}

TEST(OperationLog, ProcessCountIsSixteenBitAndStopsAtItsTop) {
    resetProcessCount();
    EXPECT_EQ(processCount(), 0);
    for (int i = 0; i < 40000; ++i)
        countProcessedFile();
    EXPECT_EQ(processCount(), 32767);
    EXPECT_TRUE(CheckNothingProcessed(processCount(), "PRU"))
        << "a long run never reads as nothing processed";
    resetProcessCount();
    EXPECT_EQ(processCount(), 0);
}

TEST(OperationLog, SinksNestAndErrorDialogAnswers) {
    RecordingLogSink outer;
    {
        RecordingLogSink inner;
        inner.errorDialogAnswer = true;
        EXPECT_TRUE(ShowErrorDialog());
        EXPECT_EQ(inner.errorDialogsShown, 1);
        LogOperation("A", "b", false);
        EXPECT_EQ(inner.lines.size(), 1);
    }
    EXPECT_FALSE(ShowErrorDialog());
    LogOperation("A", "c", false);
    EXPECT_EQ(outer.lines, QStringList({"A - c"}));
}

TEST(Printers, CupsCatalogListsWhatTheSchedulerKnows) {
    QProcess lpstat;
    lpstat.start("lpstat", {"-e"});
    if (!lpstat.waitForStarted(5000))
        GTEST_SKIP() << "lpstat is not installed";
    lpstat.waitForFinished(10000);
    QStringList expected;
    if (lpstat.exitCode() == 0)
        for (const QString& line :
             QString::fromUtf8(lpstat.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
            expected.append(line.trimmed());
    QStringList names = installedPrinters();
    names.sort();
    expected.sort();
    EXPECT_EQ(names, expected);
}
