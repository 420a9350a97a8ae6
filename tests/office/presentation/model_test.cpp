// The object model on decks the tests build: application, slide order and numbers, shape order,
// names, types, positions with placeholder inheritance, and the black-and-white mode.
#include "deck_builder.h"
#include "office/presentation/presentation.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace lf::ppt;
using namespace lf::test;

namespace {

std::string titledSlideShape(const std::string& title) {
    return placeholderShape(2, "Title 1", {"title", -1}, std::nullopt, paragraph(run(title)));
}

} // namespace

TEST(PresentationApplication, OpensDecksAndTracksTheActiveOne) {
    TempDir dir;
    DeckBuilder b;
    b.slides.push_back({{titledSlideShape("One")}});
    b.write(dir / "01_One.pptx");
    b.write(dir / "02_Two.pptx");

    Application app;
    EXPECT_FALSE(app.visible());
    app.setVisible(true);
    app.setWindowState(office::ppWindowMinimized);
    EXPECT_TRUE(app.visible());
    EXPECT_EQ(app.windowState(), 2);
    EXPECT_THROW(app.setWindowState(7), PresentationError);
    EXPECT_THROW(app.activePresentation(), PresentationError);

    Presentation one = app.presentations().open(dir / "01_One.pptx", false, false, true);
    Presentation two = app.presentations().open(dir / "02_Two.pptx");
    EXPECT_EQ(app.presentations().count(), 2);
    EXPECT_EQ(app.activePresentation().name(), "02_Two.pptx");
    EXPECT_EQ(one.name(), "01_One.pptx");
    EXPECT_EQ(app.presentations().item(1).name(), "01_One.pptx");
    two.close();
    EXPECT_TRUE(two.closed());
    EXPECT_EQ(app.presentations().count(), 1);
    EXPECT_EQ(app.activePresentation().name(), "01_One.pptx");

    Slide slide = one.slides().item(1);
    app.quit();
    EXPECT_TRUE(one.closed());
    // Objects of a closed deck fail cleanly instead of touching freed memory.
    EXPECT_THROW(slide.shapes(), PresentationError);
    EXPECT_THROW(app.presentations(), PresentationError);
}

TEST(PresentationApplication, OpeningAMissingFileNamesIt) {
    TempDir dir;
    Application app;
    try {
        app.presentations().open(dir / "03_Missing.pptx");
        FAIL() << "opened a missing file";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("03_Missing.pptx"), std::string::npos) << e.what();
    }
}

TEST(PresentationSlides, FollowTheSlideListAndCountFromTheFirstSlideNumber) {
    TempDir dir;
    DeckBuilder b;
    for (const char* t : {"Alpha", "Beta", "Gamma"}) {
        b.slides.push_back({{titledSlideShape(t)}});
    }
    b.listOrder = {2, 0, 1}; // slide3.xml is shown first
    b.write(dir / "order.pptx");
    Application app;
    Presentation deck = app.presentations().open(dir / "order.pptx");
    Slides slides = deck.slides();
    ASSERT_EQ(slides.count(), 3);
    std::vector<std::string> titles;
    for (const Slide& s : slides) {
        titles.push_back(s.shapes().item(1).textFrame().textRange().text());
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"Gamma", "Alpha", "Beta"}));
    EXPECT_EQ(slides.item(1).slideNumber(), 1);
    EXPECT_EQ(slides.item(3).slideNumber(), 3);
    EXPECT_THROW(slides.item(0), PresentationError);
    EXPECT_THROW(slides.item(4), PresentationError);

    b.firstSlideNumber = 5;
    b.write(dir / "numbered.pptx");
    Presentation numbered = app.presentations().open(dir / "numbered.pptx");
    EXPECT_EQ(numbered.slides().item(1).slideNumber(), 5);
    EXPECT_EQ(numbered.slides().item(3).slideNumber(), 7);
}

TEST(PresentationShapes, ReportNamesAndOfficeTypesInTreeOrder) {
    TempDir dir;
    DeckBuilder b;
    Rect r{emuPt(10), emuPt(20), emuPt(30), emuPt(40)};
    SlideSpec s;
    s.usesPicture = true;
    s.shapes = {
        titledSlideShape("Title"),
        autoShape(3, "Rectangle 3", r, paragraph(run("box"))),
        textBox(4, "TextBox 4", r, paragraph(run("note"))),
        picture(5, "Picture 5", r),
        group(6, "Group 6", r, autoShape(7, "Inner", r, {}) + autoShape(8, "Inner 2", r, {})),
        connector(9, "Straight Connector 9", r),
        table(10, "Table 10", r, "cell"),
        graphicFrame(11, "Chart 11", r, "http://schemas.openxmlformats.org/drawingml/2006/chart"),
        graphicFrame(12, "Diagram 12", r, "http://schemas.openxmlformats.org/drawingml/2006/diagram"),
        freeform(13, "Freeform 13", r),
        placeholderShape(14, "Content Placeholder 2", {"", 1}, std::nullopt, paragraph(run("body"))),
    };
    b.slides.push_back(s);
    b.write(dir / "types.pptx");

    Application app;
    Presentation deck = app.presentations().open(dir / "types.pptx");
    Shapes shapes = deck.slides().item(1).shapes();
    ASSERT_EQ(shapes.count(), 11); // the group's members are not top-level shapes
    std::vector<std::pair<std::string, int>> seen;
    for (const Shape& shape : shapes) {
        seen.emplace_back(shape.name(), shape.type());
    }
    std::vector<std::pair<std::string, int>> expected = {{"Title 1", 14},
                                                         {"Rectangle 3", 1},
                                                         {"TextBox 4", 17},
                                                         {"Picture 5", 13},
                                                         {"Group 6", 6},
                                                         {"Straight Connector 9", 9},
                                                         {"Table 10", 19},
                                                         {"Chart 11", 3},
                                                         {"Diagram 12", 24},
                                                         {"Freeform 13", 5},
                                                         {"Content Placeholder 2", 14}};
    EXPECT_EQ(seen, expected);

    // Only shapes that hold text have a text frame; reading the others' fails with a description.
    for (const Shape& shape : shapes) {
        bool expectFrame = shape.type() == 14 || shape.type() == 1 || shape.type() == 17 || shape.type() == 5;
        EXPECT_EQ(shape.hasTextFrame(), expectFrame) << shape.name();
        if (!expectFrame) {
            try {
                shape.textFrame();
                ADD_FAILURE() << shape.name() << " gave a text frame";
            } catch (const PresentationError& e) {
                std::string what = e.what();
                EXPECT_NE(what.find(shape.name()), std::string::npos) << what;
                EXPECT_NE(what.find("types.pptx"), std::string::npos) << what;
                EXPECT_NE(what.find("no text frame"), std::string::npos) << what;
            }
        }
    }
    EXPECT_THROW(shapes.item(12), PresentationError);

    // Placeholders say what they stand for; the slide's title is its title placeholder.
    EXPECT_EQ(shapes.item(1).placeholderFormat().type(), office::ppPlaceholderTitle);
    EXPECT_EQ(shapes.item(11).placeholderFormat().type(), office::ppPlaceholderObject);
    EXPECT_THROW(shapes.item(2).placeholderFormat(), PresentationError);
    ASSERT_TRUE(shapes.hasTitle());
    EXPECT_EQ(shapes.title().name(), "Title 1");
}

TEST(PresentationShapes, PositionsAreInPointsAndPlaceholdersInheritThem) {
    TempDir dir;
    DeckBuilder b;
    SlideSpec s; // layout 1: title without transform (master's), body with its own transform
    s.shapes = {placeholderShape(2, "Title 1", {"title", -1}, std::nullopt, paragraph(run("T"))),
                placeholderShape(3, "Content Placeholder 2", {"", 1}, std::nullopt, paragraph(run("B"))),
                autoShape(4, "Rectangle 4", Rect{12700 * 3, 12700 * 5, 6350, 25400}, {})};
    b.slides.push_back(s);
    SlideSpec own;
    own.layout = 2;
    own.shapes = {placeholderShape(2, "Title 1", {"title", -1}, Rect{emuPt(1), emuPt(2), emuPt(3), emuPt(4)},
                                   paragraph(run("Own")))};
    b.slides.push_back(own);
    b.write(dir / "positions.pptx");

    Application app;
    Presentation deck = app.presentations().open(dir / "positions.pptx");
    Shapes shapes = deck.slides().item(1).shapes();
    Shape title = shapes.item(1);
    EXPECT_DOUBLE_EQ(title.left(), 36); // the master's title, through a layout title without transform
    EXPECT_DOUBLE_EQ(title.top(), 20);
    EXPECT_DOUBLE_EQ(title.width(), 648);
    EXPECT_DOUBLE_EQ(title.height(), 90);
    Shape body = shapes.item(2);
    EXPECT_DOUBLE_EQ(body.left(), 40); // the layout's body
    EXPECT_DOUBLE_EQ(body.top(), 130);
    EXPECT_DOUBLE_EQ(body.width(), 640);
    EXPECT_DOUBLE_EQ(body.height(), 350);
    Shape rect = shapes.item(3);
    EXPECT_DOUBLE_EQ(rect.left(), 3);
    EXPECT_DOUBLE_EQ(rect.top(), 5);
    EXPECT_DOUBLE_EQ(rect.width(), 0.5);
    EXPECT_DOUBLE_EQ(rect.height(), 2);
    Shape ownTitle = deck.slides().item(2).shapes().item(1);
    EXPECT_DOUBLE_EQ(ownTitle.left(), 1);
    EXPECT_DOUBLE_EQ(ownTitle.height(), 4);

    // Setting one value writes the shape's own transform and keeps the other three.
    title.setTop(100);
    EXPECT_DOUBLE_EQ(title.top(), 100);
    EXPECT_DOUBLE_EQ(title.left(), 36);
    EXPECT_DOUBLE_EQ(title.width(), 648);
    EXPECT_DOUBLE_EQ(title.height(), 90);
    body.setWidth(200.5);
    rect.setLeft(14.375);
    EXPECT_THROW(rect.setHeight(-1), PresentationError);
    deck.save();
    deck.close();

    Presentation again = app.presentations().open(dir / "positions.pptx");
    Shapes saved = again.slides().item(1).shapes();
    EXPECT_DOUBLE_EQ(saved.item(1).top(), 100);
    EXPECT_DOUBLE_EQ(saved.item(1).left(), 36);
    EXPECT_DOUBLE_EQ(saved.item(2).width(), 200.5);
    EXPECT_DOUBLE_EQ(saved.item(2).top(), 130);
    EXPECT_NEAR(saved.item(3).left(), 14.375, 1e-4);
    EXPECT_DOUBLE_EQ(saved.item(3).top(), 5);
    // The layout and master were not changed.
    auto parts = readZip(dir / "positions.pptx");
    for (const auto& [name, bytes] : b.parts()) {
        if (name.starts_with("ppt/slideLayouts/") || name.starts_with("ppt/slideMasters/")) {
            EXPECT_EQ(parts[name], bytes) << name;
        }
    }
}

TEST(PresentationShapes, GrayscaleIsWrittenOnEveryKindOfShape) {
    TempDir dir;
    DeckBuilder b;
    Rect r{emuPt(10), emuPt(20), emuPt(30), emuPt(40)};
    SlideSpec s;
    s.usesPicture = true;
    s.shapes = {titledSlideShape("Gray"),
                picture(3, "Picture 3", r),
                connector(4, "Connector 4", r),
                group(5, "Group 5", r, autoShape(6, "Inner", r, {})),
                table(7, "Table 7", r, "x"),
                "<p:sp><p:nvSpPr><p:cNvPr id=\"8\" name=\"Bare 8\"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr></p:sp>"};
    b.slides.push_back(s);
    b.write(dir / "gray.pptx");
    Application app;
    Presentation deck = app.presentations().open(dir / "gray.pptx");
    for (Shape shape : deck.slides().item(1).shapes()) {
        EXPECT_EQ(shape.blackWhiteMode(), office::msoBlackWhiteAutomatic) << shape.name();
        shape.setBlackWhiteMode(office::msoBlackWhiteGrayScale);
        EXPECT_EQ(shape.blackWhiteMode(), 2) << shape.name();
    }
    EXPECT_THROW(deck.slides().item(1).shapes().item(1).setBlackWhiteMode(11), PresentationError);
    deck.save();
    deck.close();
    std::string slide = readZip(dir / "gray.pptx")["ppt/slides/slide1.xml"];
    std::size_t count = 0;
    for (std::size_t at = slide.find("bwMode=\"gray\""); at != std::string::npos;
         at = slide.find("bwMode=\"gray\"", at + 1)) {
        ++count;
    }
    EXPECT_EQ(count, 6u); // the group's member keeps its own mode
    EXPECT_NE(slide.find("<p:graphicFrame bwMode=\"gray\">"), std::string::npos);
    EXPECT_NE(slide.find("<p:grpSpPr bwMode=\"gray\">"), std::string::npos);
    Presentation again = app.presentations().open(dir / "gray.pptx");
    for (const Shape& shape : again.slides().item(1).shapes()) {
        EXPECT_EQ(shape.blackWhiteMode(), 2) << shape.name();
    }
}
