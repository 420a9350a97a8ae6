// Decks whose XML parses but holds what no office program writes: the engine answers or fails with a
// description, never crashes (this runs under the address and undefined-behaviour sanitizers too).
#include "deck_builder.h"
#include "office/presentation/presentation.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <limits>

using namespace lf::ppt;
using namespace lf::test;

TEST(PresentationHostile, OddButWellFormedSlidesAreReadAndChangedSafely) {
    TempDir dir;
    DeckBuilder b;
    b.firstSlideNumber = 2147483647;
    SlideSpec odd;
    odd.shapes = {
        // No non-visual properties, no shape properties, no text body.
        "<p:sp/>",
        // Transform values that are not numbers, or far out of range.
        "<p:sp><p:nvSpPr><p:cNvPr id=\"3\" name=\"Odd 3\"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr><a:xfrm>"
        "<a:off x=\"abc\" y=\"99999999999999999999999\"/><a:ext cx=\"-5\"/></a:xfrm></p:spPr><p:txBody>"
        "<a:p><a:pPr lvl=\"99999999999\"/><a:r><a:rPr b=\"maybe\"/><a:t>Odd.</a:t></a:r></a:p>"
        "<a:p><a:pPr lvl=\"-3\"/><a:r><a:t></a:t></a:r><a:r/></a:p></p:txBody></p:sp>",
        // A placeholder whose index and type match nothing.
        "<p:sp><p:nvSpPr><p:cNvPr id=\"4\" name=\"Stray 4\"/><p:cNvSpPr/><p:nvPr><p:ph type=\"zzz\" "
        "idx=\"4294967295999\"/></p:nvPr></p:nvSpPr><p:spPr/></p:sp>",
        // A group and a frame without transforms, an alternate-content shape.
        "<p:grpSp><p:nvGrpSpPr><p:cNvPr id=\"5\" name=\"Group "
        "5\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr></p:grpSp>",
        "<p:graphicFrame><p:nvGraphicFramePr><p:cNvPr id=\"6\" name=\"Frame "
        "6\"/><p:cNvGraphicFramePr/><p:nvPr/>"
        "</p:nvGraphicFramePr></p:graphicFrame>",
        "<mc:AlternateContent xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\">"
        "<mc:Choice Requires=\"p14\"><p:sp><p:nvSpPr><p:cNvPr id=\"7\" name=\"Choice "
        "7\"/><p:cNvSpPr/><p:nvPr/>"
        "</p:nvSpPr><p:spPr/></p:sp></mc:Choice><mc:Fallback><p:sp><p:nvSpPr><p:cNvPr id=\"7\" "
        "name=\"Fallback 7\"/>"
        "<p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr/></p:sp></mc:Fallback></mc:AlternateContent>",
        "<p:unknownThing/>",
    };
    b.slides.push_back(odd);
    b.write(dir / "odd.pptx");

    Application app;
    {
        Presentation deck = app.presentations().open(dir / "odd.pptx");
        Slide slide = deck.slides().item(1);
        EXPECT_EQ(slide.slideNumber(), 1 << 30); // kept where numbering cannot overflow
        Shapes shapes = slide.shapes();
        ASSERT_EQ(shapes.count(), 6); // the unknown element is no shape
        for (Shape shape : shapes) {
            SCOPED_TRACE(shape.name());
            (void)shape.type();
            (void)(shape.top() + shape.left() + shape.width() + shape.height());
            if (shape.hasTextFrame()) {
                TextRange range = shape.textFrame().textRange();
                for (const TextRange& s : range.sentences()) {
                    (void)s.font().bold();
                }
            }
            shape.setBlackWhiteMode(2);
            shape.setTop(10);
            shape.setWidth(20);
            EXPECT_DOUBLE_EQ(shape.top(), 10);
            EXPECT_DOUBLE_EQ(shape.width(), 20);
            EXPECT_THROW(shape.setLeft(std::numeric_limits<double>::quiet_NaN()), PresentationError);
            EXPECT_THROW(shape.setLeft(1e300), PresentationError);
        }
        EXPECT_EQ(shapes.item(2).textFrame().textRange().text(), "Odd.\r");
        EXPECT_EQ(shapes.item(6).name(), "Choice 7");
        deck.save();
    }
    Presentation again = app.presentations().open(dir / "odd.pptx");
    Shapes shapes = again.slides().item(1).shapes();
    for (const Shape& shape : shapes) {
        EXPECT_EQ(shape.blackWhiteMode(), 2) << shape.name();
        EXPECT_DOUBLE_EQ(shape.top(), 10) << shape.name();
    }
    // The fallback of the alternate content was kept in step with its choice.
    std::string slide = readZip(dir / "odd.pptx")["ppt/slides/slide1.xml"];
    std::size_t fallback = slide.find("Fallback 7");
    ASSERT_NE(fallback, std::string::npos);
    EXPECT_NE(slide.find("bwMode=\"gray\"", fallback), std::string::npos);
}

TEST(PresentationHostile, SlidesWithoutShapeTreeOrWithBrokenCustomerDataFailCleanly) {
    TempDir dir;
    DeckBuilder b;
    b.slides.push_back(SlideSpec{});
    auto parts = b.parts();
    for (auto& [name, bytes] : parts) {
        if (name == "ppt/slides/slide1.xml") {
            bytes = "<?xml version=\"1.0\"?><p:sld "
                    "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/"
                    "main\"><p:cSld><p:custDataLst><p:custData/></p:custDataLst></p:cSld></p:sld>";
        }
    }
    writeZip(dir / "nocust.pptx", parts);
    Application app;
    try {
        app.presentations().open(dir / "nocust.pptx");
        FAIL() << "opened a slide whose customer data names no part";
    } catch (const PresentationError& e) {
        EXPECT_NE(std::string(e.what()).find("customer data"), std::string::npos) << e.what();
    }
    for (auto& [name, bytes] : parts) {
        if (name == "ppt/slides/slide1.xml") {
            bytes = "<?xml version=\"1.0\"?><p:sld "
                    "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/"
                    "main\"/>";
        }
    }
    writeZip(dir / "empty.pptx", parts);
    Presentation deck = app.presentations().open(dir / "empty.pptx");
    EXPECT_EQ(deck.slides().item(1).shapes().count(), 0);
    EXPECT_TRUE(deck.slides().item(1).customerData().empty());
    EXPECT_EQ(deck.slides().item(1).notesPage().shapes().count(), 2);
}
