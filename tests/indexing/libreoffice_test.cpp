// One written TOC and one written Index opened by LibreOffice, turned into PDF and read back as text:
// another program accepts the documents and shows their content and header.
#include "courserun/course_run.h"
#include "indexing/CollectIndex.h"
#include "indexing/CollectTOC.h"
#include "indexing_fixture.h"

#include <QProcess>

using namespace lf::test;

namespace {

std::string pdfText(const std::filesystem::path& docx) {
    TempDir profile;
    TempDir out;
    QProcess soffice;
    soffice.start("soffice", {"-env:UserInstallation=file://" + profile.qpath(), "--headless", "--convert-to",
                              "pdf", "--outdir", out.qpath(), QString::fromStdString(docx.string())});
    if (!soffice.waitForFinished(240000) || soffice.exitCode() != 0)
        return "soffice failed: " + soffice.readAllStandardError().toStdString();
    const std::filesystem::path pdf = out / (docx.stem().string() + ".pdf");
    QProcess pdftotext;
    pdftotext.start("pdftotext", {"-layout", QString::fromStdString(pdf.string()), "-"});
    pdftotext.waitForFinished(60000);
    return pdftotext.readAllStandardOutput().toStdString();
}

class LibreOffice : public IndexingOperation {};

TEST_F(LibreOffice, ShowsTheWrittenTOCAndIndex) {
    const QString course = "C:\\Courses\\Storage";
    SlideSpec first = titledSlide("Storage Basics", {"Cache", "bandwidth"});
    first.shapes.insert(first.shapes.begin(), banner(3, "Module 2: Storage"));
    deck(course, "02_Storage.pptx", {first, titledSlide("Disk Layout", {"cache"})});
    deck(course, "03a_Labs.pptx", {titledSlide("Labs"), titledSlide("Lab two", {"apple"})});

    lf::courserun::CourseRun run(QStringLiteral("C:\\syllabo"));
    lf::indexing::CollectIndex(run, "C:\\Templates\\Template.docx", "Index.docx", course, "C:\\Out",
                               "Storage Admin", false);
    lf::indexing::CollectTOC(run, "C:\\Templates\\Template.docx", "TOC.docx", "C:\\syllabo", "C:\\Out",
                             "Storage Admin", true, lf::indexing::TOCTitleSource::RuleThenPlaceholder);
    ASSERT_TRUE(logged("TOC - TOC Creation Complete")) << allLines();

    const std::string toc = pdfText(host("C:\\Out\\TOC.docx"));
    for (const char* expected : {"Storage Admin", "Table of Contents", "Module 2: Storage Basics",
                                 "Storage Basics", "2-1", "Disk Layout", "2-2", "Module 3a: Labs", "3a-2"})
        EXPECT_NE(toc.find(expected), std::string::npos) << expected << " not in\n" << toc;

    const std::string index = pdfText(host("C:\\Out\\Index.docx"));
    for (const char* expected : {"Storage Admin", "apple, 3a-2", "bandwidth, 2-1", "Cache, 2-1, 2-2"})
        EXPECT_NE(index.find(expected), std::string::npos) << expected << " not in\n" << index;
    // The letter headings stand alone on their lines, in order.
    const auto a = index.find("\nA\n"), b = index.find("\nB\n"), c = index.find("\nC\n");
    EXPECT_NE(a, std::string::npos) << index;
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
}

} // namespace
