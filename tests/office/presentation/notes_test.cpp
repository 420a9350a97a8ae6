// Notes pages: reading them as stored, their placeholders' positions from the notes master, and
// making a notes page (and a notes master with its theme) the first time a slide's notes page is used.
#include "deck_builder.h"
#include "office/presentation/presentation.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace lf::ppt;
using namespace lf::test;

namespace {

std::string notesImage(int id) {
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) +
           "\" name=\"Slide Image Placeholder 1\"/><p:cNvSpPr/><p:nvPr><p:ph type=\"sldImg\"/></p:nvPr>"
           "</p:nvSpPr><p:spPr/></p:sp>";
}

std::string notesText(int id, const std::string& text) {
    return placeholderShape(id, "Notes Placeholder 2", {"body", 1}, std::nullopt, paragraph(run(text)));
}

DeckBuilder threeSlides(bool notesMaster) {
    DeckBuilder b;
    b.notesMaster = notesMaster;
    for (const char* t : {"One", "Two", "Three"}) {
        SlideSpec s;
        s.shapes = {placeholderShape(2, "Title 1", {"title", -1}, std::nullopt, paragraph(run(t)))};
        b.slides.push_back(s);
    }
    return b;
}

} // namespace

TEST(PresentationNotes, StoredNotesPagesInheritPositionsFromTheNotesMaster) {
    TempDir dir;
    DeckBuilder b = threeSlides(true);
    b.slides[0].notesShapes = std::vector<std::string>{notesImage(2), notesText(3, "Say this.")};
    b.write(dir / "notes.pptx");
    Application app;
    Presentation deck = app.presentations().open(dir / "notes.pptx");
    Slide first = deck.slides().item(1);
    ASSERT_TRUE(first.hasNotesPage());
    Shapes shapes = first.notesPage().shapes();
    ASSERT_EQ(shapes.count(), 2);
    // The slide image matches the master's by type, the notes text by type too (its index differs).
    EXPECT_DOUBLE_EQ(shapes.item(1).top(), 54);
    EXPECT_DOUBLE_EQ(shapes.item(1).left(), 90);
    EXPECT_DOUBLE_EQ(shapes.item(1).width(), 360);
    EXPECT_DOUBLE_EQ(shapes.item(1).height(), 270);
    EXPECT_DOUBLE_EQ(shapes.item(2).top(), 342);
    EXPECT_DOUBLE_EQ(shapes.item(2).width(), 432);
    EXPECT_EQ(shapes.item(2).textFrame().textRange().text(), "Say this.");
    EXPECT_FALSE(deck.slides().item(2).hasNotesPage());
}

TEST(PresentationNotes, UsingAMissingNotesPageMakesOneFromTheNotesMaster) {
    TempDir dir;
    DeckBuilder b = threeSlides(true);
    b.slides[0].notesShapes = std::vector<std::string>{notesImage(2), notesText(3, "Stored")};
    b.write(dir / "make.pptx");
    Application app;
    {
        Presentation deck = app.presentations().open(dir / "make.pptx");
        Slide second = deck.slides().item(2);
        ASSERT_FALSE(second.hasNotesPage());
        NotesPage page = second.notesPage();
        EXPECT_TRUE(second.hasNotesPage());
        Shapes shapes = page.shapes();
        ASSERT_EQ(shapes.count(), 2);
        EXPECT_EQ(shapes.item(1).name(), "Slide Image Placeholder 1");
        EXPECT_EQ(shapes.item(2).name(), "Notes Placeholder 2");
        EXPECT_EQ(shapes.item(1).type(), office::msoPlaceholder);
        EXPECT_DOUBLE_EQ(shapes.item(1).top(), 54);
        EXPECT_DOUBLE_EQ(shapes.item(2).left(), 54);
        // The same page is found again, not a second one made.
        EXPECT_EQ(second.notesPage().partName(), page.partName());
        EXPECT_NE(page.partName(), deck.slides().item(1).notesPage().partName());
        shapes.item(2).setTop(365);
        deck.save();
    }
    auto parts = readZip(dir / "make.pptx");
    ASSERT_TRUE(parts.count("ppt/notesSlides/notesSlide2.xml"));
    EXPECT_NE(parts["[Content_Types].xml"].find("/ppt/notesSlides/notesSlide2.xml"), std::string::npos);
    EXPECT_NE(parts["ppt/slides/_rels/slide2.xml.rels"].find("../notesSlides/notesSlide2.xml"),
              std::string::npos);
    std::string notesRels = parts["ppt/notesSlides/_rels/notesSlide2.xml.rels"];
    EXPECT_NE(notesRels.find("../notesMasters/notesMaster1.xml"), std::string::npos);
    EXPECT_NE(notesRels.find("../slides/slide2.xml"), std::string::npos);
    EXPECT_FALSE(parts.count("ppt/notesMasters/notesMaster2.xml"));

    Presentation again = app.presentations().open(dir / "make.pptx");
    ASSERT_TRUE(again.slides().item(2).hasNotesPage());
    EXPECT_DOUBLE_EQ(again.slides().item(2).notesPage().shapes().item(2).top(), 365);
    EXPECT_FALSE(again.slides().item(3).hasNotesPage());
}

TEST(PresentationNotes, ADeckWithoutNotesMasterGetsOneWithItsThemeAndRelationships) {
    TempDir dir;
    threeSlides(false).write(dir / "bare.pptx");
    Application app;
    {
        Presentation deck = app.presentations().open(dir / "bare.pptx");
        for (const Slide& slide : deck.slides()) {
            Shapes shapes = slide.notesPage().shapes();
            ASSERT_EQ(shapes.count(), 2);
            // Laid out on the 7.5 x 10 inch notes page: the image in the upper half.
            EXPECT_GT(shapes.item(1).width(), 0);
            EXPECT_LT(shapes.item(1).top() + shapes.item(1).height(), shapes.item(2).top());
        }
        deck.save();
    }
    auto parts = readZip(dir / "bare.pptx");
    ASSERT_TRUE(parts.count("ppt/notesMasters/notesMaster1.xml"));
    ASSERT_TRUE(parts.count("ppt/theme/theme2.xml")); // theme1 belongs to the slide master
    EXPECT_FALSE(parts.count("ppt/notesMasters/notesMaster2.xml"));
    const std::string& types = parts["[Content_Types].xml"];
    EXPECT_NE(types.find("/ppt/notesMasters/notesMaster1.xml"), std::string::npos);
    EXPECT_NE(types.find("/ppt/theme/theme2.xml"), std::string::npos);
    EXPECT_NE(parts["ppt/notesMasters/_rels/notesMaster1.xml.rels"].find("../theme/theme2.xml"),
              std::string::npos);
    EXPECT_NE(parts["ppt/_rels/presentation.xml.rels"].find("notesMasters/notesMaster1.xml"),
              std::string::npos);
    const std::string& presentation = parts["ppt/presentation.xml"];
    std::size_t masters = presentation.find("</p:sldMasterIdLst>");
    std::size_t notes = presentation.find("<p:notesMasterIdLst>");
    std::size_t slides = presentation.find("<p:sldIdLst>");
    ASSERT_NE(notes, std::string::npos);
    EXPECT_LT(masters, notes);
    EXPECT_LT(notes, slides);

    Presentation again = app.presentations().open(dir / "bare.pptx");
    for (const Slide& slide : again.slides()) {
        ASSERT_TRUE(slide.hasNotesPage());
        EXPECT_EQ(slide.notesPage().shapes().count(), 2);
    }
}

TEST(PresentationNotes, AReadOnlyDeckMakesNoNotesPage) {
    TempDir dir;
    threeSlides(true).write(dir / "ro.pptx");
    std::string bytes = readFile(dir / "ro.pptx");
    Application app;
    Presentation deck = app.presentations().open(dir / "ro.pptx", true);
    EXPECT_FALSE(deck.slides().item(1).hasNotesPage());
    EXPECT_THROW(deck.slides().item(1).notesPage(), PresentationError);
    EXPECT_THROW(deck.slides().item(1).shapes().item(1).setTop(3), PresentationError);
    EXPECT_THROW(deck.save(), PresentationError);
    deck.close();
    EXPECT_EQ(readFile(dir / "ro.pptx"), bytes);
}
