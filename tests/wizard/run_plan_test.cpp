// The run plan without a window: the settings file's working directory carries a real course through
// the Index and the TOC the program plugs in, and what they staged there is cleaned from there.
#include "course_builder.h"
#include "platform/doubles.h"
#include "platform/folders.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "test_support.h"
#include "wizard/program.h"
#include "wizard/run_plan.h"
#include "wizard/settings.h"

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

} // namespace
