// The language set in a PDF after its export: an update appended to the file that PDF readers take,
// every byte before it left alone, again and again; a PDF laid out otherwise than the office writes
// them is refused with a description and left as it was.
#include "office/render/libreoffice.h"
#include "office/render/pdf_catalog.h"
#include "test_pdf.h"
#include "test_support.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace lf::render;
using namespace lf::test;

namespace {

// qpdf's exit status for the arguments.
int qpdf(const QStringList& arguments) {
    QProcess tool;
    tool.start("qpdf", arguments);
    tool.waitForFinished(60000);
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

QString q(const fs::path& path) {
    return QString::fromStdString(path.string());
}

} // namespace

TEST(PdfCatalog, TheLanguageIsAnUpdateThatReadersTakeAndTheBytesBeforeItStay) {
    TempDir dir;
    const fs::path pdf = dir / "handout.pdf";
    writeTestPdf(pdf, 2);
    const std::string original = readFile(pdf);

    setPdfLanguage(pdf, "ja-JP");
    setPdfLanguage(pdf, "de-DE");
    const std::string updated = readFile(pdf);
    EXPECT_EQ(updated.substr(0, original.size()), original) << "the PDF as written is kept whole";
    EXPECT_EQ(pdfLanguage(pdf), "de-DE");
    EXPECT_EQ(readPdfFacts(pdf).language, "de-DE") << "a reader takes the newest catalog";
    EXPECT_EQ(pdfPageCount(pdf), 2);
    EXPECT_EQ(qpdf({"--check", q(pdf)}), 0) << "qpdf finds the file sound";

    setPdfLanguage(pdf, "de-DE");
    EXPECT_EQ(readFile(pdf), updated) << "nothing is written when the catalog already says so";
}

TEST(PdfCatalog, APdfLaidOutOtherwiseIsRefusedAndLeftAsItWas) {
    TempDir dir;
    writeTestPdf(dir / "plain.pdf", 1);
    // Object streams and a cross-reference stream, as other writers lay PDFs out.
    ASSERT_EQ(qpdf({"--object-streams=generate", q(dir / "plain.pdf"), q(dir / "packed.pdf")}), 0);
    const std::string packed = readFile(dir / "packed.pdf");
    try {
        setPdfLanguage(dir / "packed.pdf", "ja-JP");
        ADD_FAILURE() << "a PDF with a cross-reference stream was updated";
    } catch (const RenderError& e) {
        EXPECT_STREQ(e.what(), "the PDF packed.pdf is not laid out as LibreOffice writes PDFs: no "
                               "cross-reference table where startxref points");
    }
    EXPECT_EQ(readFile(dir / "packed.pdf"), packed);
    EXPECT_THROW(setPdfLanguage(dir / "plain.pdf", "ja JP) /Foo (x"), RenderError) << "no language tag";
    EXPECT_EQ(pdfLanguage(dir / "plain.pdf"), "");
}
