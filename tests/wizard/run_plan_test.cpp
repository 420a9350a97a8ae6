// The run plan without a window: the settings file's working directory carries a real course through
// the Index and the TOC the program plugs in, and what they staged there is cleaned from there.
#include "course_builder.h"
#include "platform/doubles.h"
#include "platform/folders.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"
#include "test_support.h"
#include "wizard/program.h"
#include "wizard/run_plan.h"
#include "wizard/settings.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace lf::wizard;

namespace {

fs::path host(const QString& windowsPath) {
    return fs::path(lf::platform::toHostPath(windowsPath).path.toStdString());
}

TEST(RunPlan, TheSettingsWorkingDirectoryCarriesTheCourseAndIsCleaned) {
    fs::remove_all(host("C:\\work"));
    lf::test::writeFile(fs::path((lf::platform::configFolder() + "/Syllabo.ini").toStdString()),
                        "[Other Values]\r\nWorkingDirectory=C:\\work\r\n");
    fs::create_directories(host("C:\\Course"));
    fs::create_directories(host("C:\\Out"));
    fs::create_directories(host("C:\\Templates"));
    lf::test::writeDeck(host("C:\\Course"), "01_Intro.pptx", {lf::test::titledSlide("Welcome", {"apple"})});
    lf::test::writeWordTemplate(host("C:\\Templates\\Template.docx"));
    lf::oplog::RecordingLogSink log;
    lf::platform::ScriptedMessageBoxes boxes;
    lf::platform::RecordingSleeper sleeper;

    const Settings settings = ReadSettings();
    RunRequest request;
    request.mask = IndexBit | TOCBit;
    request.sourcePath = "C:\\Course\\";
    request.destinationPath = "C:\\Out\\";
    request.tocTemplate = request.indexTemplate = "C:\\Templates\\Template.docx";
    request.tocName = "TOC.docx";
    request.indexName = "Index.docx";
    request.courseName = "Course";
    request.workingDirectory = settings.WorkingDirectory;
    RunOperations(programParts().operations, request);

    const std::string lines = log.lines.join("\n").toStdString();
    EXPECT_TRUE(log.failures.isEmpty()) << lines;
    EXPECT_TRUE(log.lines.contains("TOC - Opening C:\\work\\01_Intro.pptx")) << lines;
    EXPECT_TRUE(fs::exists(host("C:\\Out\\Index.docx")));
    EXPECT_TRUE(fs::exists(host("C:\\Out\\TOC.docx")));
    ASSERT_TRUE(fs::is_directory(host("C:\\work"))) << "made by the settings' load";
    EXPECT_TRUE(fs::is_empty(host("C:\\work"))) << lines;
    EXPECT_TRUE(fs::exists(host("C:\\Course\\01_Intro.pptx")));
}

// Asks for the stop while the run is in the named operation: at its first file (a progress report),
// or, for an operation without one, at its first pause for the window (the zip's).
class StopDuring : public lf::oplog::RecordingLogSink, public lf::platform::EventYield {
public:
    StopDuring(lf::platform::StopRequest& stop, QString operation, QString pausingTag)
        : stop_(stop), operation_(std::move(operation)), pausingTag_(std::move(pausingTag)),
          previousYield_(&lf::platform::eventYield()) {
        lf::platform::installEventYield(this);
    }
    ~StopDuring() override { lf::platform::installEventYield(previousYield_); }
    void showProgress(const QString& operation, const QString& item, int done, int total) override {
        RecordingLogSink::showProgress(operation, item, done, total);
        if (operation == operation_)
            stop_.request();
    }
    void processEvents() override {
        if (!pausingTag_.isEmpty() && !lines.isEmpty() && lines.last().startsWith(pausingTag_ + " - "))
            stop_.request();
    }

private:
    lf::platform::StopRequest& stop_;
    QString operation_, pausingTag_;
    lf::platform::EventYield* previousYield_;
};

// A stop in the middle of each operation ends it as a failure ends it: nothing half-written in the
// destination, nothing the run made left in the working directory, one line saying so under the
// operation's tag, and no later operation called.
TEST(RunPlan, AStopEndsTheOperationRunningAndCallsNoLaterOne) {
    struct Case {
        std::uint16_t mask;
        QString progress, pausingTag, stoppedTag;
        QStringList notCalled;
    };
    const Case cases[] = {
        {IndexBit | TOCBit | ZipBit, "Index", "", "Index", {"TOC", "Zip"}},
        {TOCBit | ZipBit, "Table of Contents", "", "TOC", {"Zip"}},
        {ZipBit, "", "Zip", "Zip", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stoppedTag.toStdString());
        for (const char* folder : {"C:\\work", "C:\\Out", "C:\\Course"})
            fs::remove_all(host(folder));
        fs::create_directories(host("C:\\work"));
        fs::create_directories(host("C:\\Out"));
        fs::create_directories(host("C:\\Templates"));
        fs::create_directories(host("C:\\Course"));
        lf::test::writeDeck(host("C:\\Course"), "01_Intro.pptx",
                            {lf::test::titledSlide("Welcome", {"apple"})});
        lf::test::writeDeck(host("C:\\Course"), "02_More.pptx", {lf::test::titledSlide("More", {"pear"})});
        lf::test::writeWordTemplate(host("C:\\Templates\\Template.docx"));
        lf::platform::StopRequest stop;
        StopDuring log(stop, c.progress, c.pausingTag);
        lf::platform::ScriptedMessageBoxes boxes;
        lf::platform::RecordingSleeper sleeper;

        RunRequest request;
        request.mask = c.mask;
        request.sourcePath = "C:\\Course";
        request.destinationPath = "C:\\Out";
        request.tocTemplate = request.indexTemplate = "C:\\Templates\\Template.docx";
        request.tocName = "TOC.docx";
        request.indexName = "Index.docx";
        request.courseName = "Course";
        request.workingDirectory = "C:\\work";
        request.stop = &stop;
        RunOperations(programParts().operations, request);

        const std::string lines = log.lines.join("\n").toStdString();
        EXPECT_EQ(log.lines.filter(QRegularExpression("Stopped by the user$")),
                  QStringList{c.stoppedTag + " - Stopped by the user"})
            << lines;
        EXPECT_EQ(log.failures.size(), 1) << lines;
        EXPECT_TRUE(log.lines.filter(QRegularExpression("[Cc]omplete$")).isEmpty()) << lines;
        for (const QString& tag : c.notCalled)
            EXPECT_TRUE(log.lines.filter(QRegularExpression("^" + tag + " - ")).isEmpty()) << lines;
        EXPECT_TRUE(fs::is_empty(host("C:\\Out"))) << lines;
        for (const auto& entry : fs::directory_iterator(host("C:\\work")))
            EXPECT_EQ(entry.path().filename().string().front(), '.') << entry.path() << "\n" << lines;
        EXPECT_EQ(std::distance(fs::directory_iterator(host("C:\\Course")), fs::directory_iterator()), 2);
    }
}

} // namespace
