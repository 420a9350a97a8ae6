// Decks the engine changed and saved open in another office suite: LibreOffice converts them to PDF
// with one page per slide.
#include "deck_builder.h"
#include "office/presentation/presentation.h"
#include "test_support.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace lf::ppt;
using namespace lf::test;

namespace {

int pdfPages(const std::filesystem::path& pdf) {
    QProcess p;
    p.start("pdfinfo", {QString::fromStdString(pdf.string())});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        return -1;
    }
    auto m = QRegularExpression("Pages:\\s+(\\d+)").match(QString::fromUtf8(p.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Converts the deck to PDF in the folder; the PDF's path, or empty when the conversion failed.
std::filesystem::path convertToPdf(const std::filesystem::path& deck, const TempDir& profile) {
    QProcess p;
    p.start("soffice", {"-env:UserInstallation=file://" + profile.qpath(), "--headless", "--convert-to",
                        "pdf", "--outdir", QString::fromStdString(deck.parent_path().string()),
                        QString::fromStdString(deck.string())});
    EXPECT_TRUE(p.waitForFinished(240000)) << "soffice did not finish";
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    std::filesystem::path pdf = deck;
    pdf.replace_extension(".pdf");
    return std::filesystem::exists(pdf) ? pdf : std::filesystem::path();
}

void grayAndNotes(Presentation& deck) {
    for (const Slide& slide : deck.slides()) {
        for (Shape shape : slide.shapes()) {
            shape.setBlackWhiteMode(office::msoBlackWhiteGrayScale);
        }
        Shapes notes = slide.notesPage().shapes();
        Shape image = notes.item(1);
        image.setTop(14.375);
        image.setLeft(50);
        image.setHeight(337.5);
        image.setWidth(450);
        if (notes.count() > 1) {
            Shape text = notes.item(2);
            text.setTop(365);
            text.setLeft(53);
            text.setHeight(324);
            text.setWidth(444);
        }
    }
}

} // namespace

TEST(PresentationLibreOffice, ChangedDecksConvertWithOnePagePerSlide) {
    TempDir profile;
    TempDir dir;
    // A built deck without notes master (the engine makes it) and a real deck from the corpus.
    DeckBuilder b;
    b.notesMaster = false;
    Rect r{emuPt(300), emuPt(200), emuPt(100), emuPt(100)};
    for (int i = 1; i <= 4; ++i) {
        SlideSpec s;
        s.usesPicture = true;
        s.shapes = {placeholderShape(2, "Title 1", {"title", -1}, std::nullopt,
                                     paragraph(run("Slide " + std::to_string(i)))),
                    placeholderShape(3, "Content Placeholder 2", {"", 1}, std::nullopt,
                                     paragraph(run("Point one.") + lineBreak() + run("Point two."))),
                    picture(4, "Picture 4", r)};
        b.slides.push_back(s);
    }
    b.write(dir / "01_Built.pptx");
    std::filesystem::copy_file(corpusDir() / "pptx" / "poi-45541_Header.pptx", dir / "02_Real.pptx");
    std::filesystem::permissions(dir / "02_Real.pptx", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);

    for (const char* name : {"01_Built.pptx", "02_Real.pptx"}) {
        SCOPED_TRACE(name);
        int slides = 0;
        {
            Application app;
            Presentation deck = app.presentations().open(dir / name);
            slides = deck.slides().count();
            grayAndNotes(deck);
            deck.save();
        }
        std::filesystem::path pdf = convertToPdf(dir / name, profile);
        ASSERT_FALSE(pdf.empty()) << "no PDF written";
        EXPECT_EQ(pdfPages(pdf), slides);
    }
}

TEST(PresentationLibreOffice, ATaggedDeckConvertsToTheSamePagesAsBefore) {
    TempDir profile;
    TempDir before;
    TempDir after;
    for (const TempDir* dir : {&before, &after}) {
        std::filesystem::copy_file(corpusDir() / "pptx" / "poi-aptia.pptx", *dir / "03_Tagged.pptx");
        std::filesystem::permissions(*dir / "03_Tagged.pptx", std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    }
    {
        Application app;
        Presentation deck = app.presentations().open(after / "03_Tagged.pptx");
        for (Slide slide : deck.slides()) {
            slide.addCustomerData(taggedWord("Slide " + std::to_string(slide.slideNumber())));
            slide.addCustomerData(taggedWord("Caf\xc3\xa9 & co"));
        }
        deck.save();
    }
    const std::filesystem::path original = convertToPdf(before / "03_Tagged.pptx", profile);
    const std::filesystem::path tagged = convertToPdf(after / "03_Tagged.pptx", profile);
    ASSERT_FALSE(original.empty() || tagged.empty()) << "no PDF written";
    EXPECT_GT(pdfPages(original), 0);
    EXPECT_EQ(pdfPages(tagged), pdfPages(original));
}
