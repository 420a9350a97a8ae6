#include "office/document/word.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <QProcess>

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int exitCode = -1;
    std::string err;
};

ToolRun runTool(const std::vector<std::string>& args, const std::string& input) {
    QProcess tool;
    QStringList list;
    for (const auto& a : args)
        list << QString::fromStdString(a);
    tool.start(LF_DOC_TOOL, list);
    EXPECT_TRUE(tool.waitForStarted());
    tool.write(QByteArray::fromStdString(input));
    tool.closeWriteChannel();
    EXPECT_TRUE(tool.waitForFinished(60000));
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
            tool.readAllStandardError().toStdString()};
}

const fs::path kTemplate = lf::test::corpusDir() / "docx" / "poi-ThreeColHead.docx";

} // namespace

TEST(DocTool, BuildsTheDocumentAsTheWritersDo) {
    lf::test::TempDir tmp;
    const std::string json = R"({"header": {"find": "Mid", "replace": "Course 7"},
      "paragraphs": [
        {"text": "Table of Contents", "style": "TOC 3", "font": "Helvetica", "size": 28, "align": 1},
        {"text": "", "italic": false, "bold": false, "align": 0},
        {"text": "Storage Basics\t2-3", "style": "TOC 2", "font": "Helvetica", "size": 0},
        {"text": "A", "style": "Plain Text", "font": "Courier New", "size": 10, "bold": true},
        {"text": "kept", "align": -1}]})";
    const ToolRun run = runTool({"build", kTemplate.string(), (tmp / "out.docx").string()}, json);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    lf::word::Application word;
    lf::word::Document doc = word.documents().open(tmp / "out.docx");
    ASSERT_EQ(doc.paragraphs().count(), 6);
    EXPECT_EQ(doc.paragraphs().item(2).range().text(), "Table of Contents\r");
    EXPECT_EQ(doc.paragraphs().item(2).range().paragraphFormat().alignment(), 1);
    EXPECT_EQ(doc.paragraphs().item(4).range().style(), "TOC 2");
    EXPECT_TRUE(doc.paragraphs().item(5).range().font().bold());
    EXPECT_EQ(doc.paragraphs().item(5).range().font().size(), 10);
    EXPECT_EQ(doc.paragraphs().item(6).range().paragraphFormat().alignment(), 0)
        << "kept from the paragraph before";
    EXPECT_EQ(doc.sections().item(1).headers().item(1).range().text(),
              "First header column!\tCourse 7 header\tRight header!\r");
}

TEST(DocTool, FailsWithTheReasonOnStandardError) {
    lf::test::TempDir tmp;
    const std::string out = (tmp / "out.docx").string();
    ToolRun run =
        runTool({"build", (lf::test::corpusDir() / "bad" / "truncated62886.docx").string(), out}, "{}");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("truncated62886.docx"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(out));

    run = runTool({"build", kTemplate.string(), out}, "{\"paragraphs\": [");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("not JSON"), std::string::npos) << run.err;
    run = runTool({"build", kTemplate.string(), out}, R"({"paragraphs": [{"text": 5}]})");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("paragraph 1"), std::string::npos) << run.err;
    run = runTool({"build", kTemplate.string(), out},
                  R"({"paragraphs": [{"text": "x", "style": "Nonesuch"}]})");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Nonesuch"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(out));
    run = runTool({"build", kTemplate.string(), (tmp / "no" / "such" / "folder.docx").string()}, "{}");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("folder.docx"), std::string::npos) << run.err;
    run = runTool({"make"}, "");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("usage"), std::string::npos);
}
