// The written documents checked by another reader: LibreOffice must convert each to PDF, and the PDF
// text must show the paragraphs and the replaced header.
#include "office/document/compose.h"
#include "office/document/word.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <QProcess>

namespace fs = std::filesystem;
using namespace lf::word;

namespace {

std::string run(const QString& program, const QStringList& args, int* exitCode) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(30000)) {
        *exitCode = -1;
        return "cannot start " + program.toStdString();
    }
    p.waitForFinished(240000);
    *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAll().toStdString();
}

} // namespace

TEST(WordWithLibreOffice, EveryCorpusTemplateGivesADocumentLibreOfficeReads) {
    lf::test::TempDir tmp;
    auto files = lf::test::corpusFiles("docx");
    files.push_back(lf::test::corpusDir() / "bad" / "zero-length.docx");
    Application word;
    struct Expect {
        fs::path out;
        bool header;
    };
    std::vector<Expect> outputs;
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].filename().string());
        // The placeholder goes into the template's primary header, where there is one.
        const fs::path templ = tmp / ("template" + std::to_string(i) + files[i].extension().string());
        bool header = false;
        {
            Document t = word.documents().open(files[i]);
            HeaderFooter h = t.sections().item(t.sections().count()).headers().item(1);
            if (h.exists()) {
                h.range().insertAfter(" Course Name");
                header = true;
            }
            t.saveAs(templ);
            t.close();
        }
        auto doc = word.documents().add(templ);
        ASSERT_TRUE(doc) << word.documents().lastError();
        doc->range().deleteContent();
        const bool replaced = doc->sections().item(1).headers().item(1).range().find().execute(
            "Course Name", {.matchCase = true,
                            .matchWholeWord = true,
                            .replaceWith = "Zanzibar",
                            .replace = office::wdReplaceAll});
        EXPECT_EQ(replaced, header);
        appendParagraph(*doc, {"Table of Contents", "TOC 3", "Helvetica", 28, false, false, 1});
        appendParagraph(*doc, {"", "", "", 0, false, false, 0});
        appendParagraph(*doc, {"Module Overview\t1-2", "TOC 2", "Helvetica", 14, true, false, 0});
        appendParagraph(*doc, {"Quarterly Backups\t3-12", "TOC 2", "Helvetica", 0, false, false, 0});
        appendParagraph(*doc, {"Bandwidth, 2-1", "Plain Text", "Courier New", 10, false, true, 0});
        // A second page, where a different first-page header gives way to the primary one.
        appendParagraph(*doc, {"\fOverleaf", "", "", 0, false, false, 0});
        const fs::path out = tmp / ("out" + std::to_string(i) + ".docx");
        doc->saveAs(out);
        doc->close();
        outputs.push_back({out, header});
    }
    // One LibreOffice run for all, with a profile of its own.
    QStringList args{"-env:UserInstallation=file://" + tmp.qpath() + "/profile",
                     "--headless",
                     "--convert-to",
                     "pdf",
                     "--outdir",
                     tmp.qpath() + "/pdf"};
    for (const Expect& e : outputs)
        args << QString::fromStdString(e.out.string());
    int code = 0;
    const std::string log = run("soffice", args, &code);
    ASSERT_EQ(code, 0) << log;
    for (const Expect& e : outputs) {
        SCOPED_TRACE(e.out.filename().string());
        const fs::path pdf = tmp / "pdf" / (e.out.stem().string() + ".pdf");
        ASSERT_TRUE(fs::exists(pdf)) << log;
        const std::string text = run("pdftotext", {QString::fromStdString(pdf.string()), "-"}, &code);
        ASSERT_EQ(code, 0) << text;
        for (const char* expected : {"Table of Contents", "Module Overview", "1-2", "Quarterly Backups",
                                     "3-12", "Bandwidth, 2-1", "Overleaf"})
            EXPECT_NE(text.find(expected), std::string::npos) << expected << " missing from:\n" << text;
        if (e.header) {
            EXPECT_NE(text.find("Zanzibar"), std::string::npos) << text;
            EXPECT_EQ(text.find("Name"), std::string::npos) << text;
        }
    }
}
