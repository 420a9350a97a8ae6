// Decks that the grayscale-and-resize operation changed still open in LibreOffice: each converts to
// PDF with the same number of pages as before the change. Slow: it runs LibreOffice.
#include "course_fixture.h"
#include "printready/modRandG.h"

#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace lf::test;

namespace {

// Converts every deck to PDF into outDir in one LibreOffice run.
void convertAll(const std::vector<std::filesystem::path>& decks, const std::filesystem::path& outDir,
                const TempDir& profile) {
    std::filesystem::create_directories(outDir);
    QStringList args{"-env:UserInstallation=file://" + profile.qpath(),
                     "--headless",
                     "--convert-to",
                     "pdf",
                     "--outdir",
                     QString::fromStdString(outDir.string())};
    for (const auto& d : decks)
        args << QString::fromStdString(d.string());
    QProcess soffice;
    soffice.start("soffice", args);
    ASSERT_TRUE(soffice.waitForFinished(480000)) << "soffice did not finish";
    ASSERT_EQ(soffice.exitCode(), 0) << soffice.readAllStandardError().toStdString();
}

int pdfPages(const std::filesystem::path& pdf) {
    QProcess info;
    info.start("pdfinfo", {QString::fromStdString(pdf.string())});
    if (!info.waitForFinished(60000) || info.exitCode() != 0)
        return -1;
    const QRegularExpressionMatch m =
        QRegularExpression("^Pages:\\s+(\\d+)", QRegularExpression::MultilineOption)
            .match(QString::fromUtf8(info.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

class GrayscaleLibreOffice : public CourseTest {};

} // namespace

TEST_F(GrayscaleLibreOffice, ChangedDecksConvertWithTheSamePageCount) {
    makeFolder("Course");
    makeFolder("Before");
    std::vector<std::string> names;
    for (const char* corpus : {"poi-SampleShow.pptx", "ppt-prs-notes.pptx", "poi-shapes.pptx",
                               "ppt-sld-notes.pptx", "poi-table_test.pptx", "poi-SmartArt.pptx"}) {
        const std::string name = std::string("M") + std::to_string(names.size() + 1) + "_" + corpus;
        std::filesystem::copy_file(corpusDir() / "pptx" / corpus, host("Course/" + name));
        std::filesystem::permissions(host("Course/" + name), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
        names.push_back(name);
    }
    courseDeck(4, "Built").write(host("Course/M9_Built.pptx"));
    names.push_back("M9_Built.pptx");

    std::vector<std::filesystem::path> before, after;
    for (const auto& n : names) {
        std::filesystem::copy_file(host("Course/" + n), host("Before/" + n));
        before.push_back(host("Before/" + n));
        after.push_back(host("Course/" + n));
    }

    lf::printready::RunGrayscaleResize(local("Course"), local("work"), true);
    ASSERT_EQ(log.lines.last(), "Resize - Resize and grayscale complete")
        << log.lines.join("\n").toStdString();
    for (const auto& n : names)
        EXPECT_NE(readFile(host("Course/" + n)), readFile(host("Before/" + n))) << n;

    TempDir profile;
    convertAll(before, host("PdfBefore"), profile);
    convertAll(after, host("PdfAfter"), profile);
    for (const auto& n : names) {
        SCOPED_TRACE(n);
        const std::string pdf = std::filesystem::path(n).replace_extension(".pdf").string();
        const int pagesBefore = pdfPages(host("PdfBefore/" + pdf));
        ASSERT_GT(pagesBefore, 0);
        EXPECT_EQ(pdfPages(host("PdfAfter/" + pdf)), pagesBefore);
    }
}
