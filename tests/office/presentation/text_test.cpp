// Text of shapes: paragraphs and line breaks, fields, sentences, and bold resolved through run
// properties, the shape's list style, the layout and master placeholders and the default styles.
#include "deck_builder.h"
#include "office/presentation/presentation.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace lf::ppt;
using namespace lf::test;

namespace {

const Rect kBox{emuPt(10), emuPt(10), emuPt(100), emuPt(50)};

// Opens a one-slide deck of the given shapes and returns the text range of each.
class OneSlide {
public:
    explicit OneSlide(const std::vector<std::string>& shapes, DeckBuilder b = {}) {
        SlideSpec s;
        s.shapes = shapes;
        b.slides.push_back(s);
        b.write(dir_ / "text.pptx");
        deck_ = std::make_unique<Presentation>(app_.presentations().open(dir_ / "text.pptx"));
    }
    TextRange range(int shape) {
        return deck_->slides().item(1).shapes().item(shape).textFrame().textRange();
    }

private:
    TempDir dir_;
    Application app_;
    std::unique_ptr<Presentation> deck_;
};

std::vector<std::string> texts(const std::vector<TextRange>& ranges) {
    std::vector<std::string> out;
    for (const TextRange& r : ranges) {
        out.push_back(r.text());
    }
    return out;
}

} // namespace

TEST(PresentationText, JoinsParagraphsWithReturnsAndKeepsLineBreaksAndFields) {
    OneSlide deck(
        {autoShape(2, "Rectangle 2", kBox,
                   paragraph(run("Line one") + lineBreak() + run("line two")) + paragraph(run("Next")) +
                       paragraph("") + paragraph(run("Slide ") + field("7"))),
         autoShape(3, "Rectangle 3", kBox, {}),
         "<p:sp><p:nvSpPr><p:cNvPr id=\"4\" name=\"No body\"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr>"
         "<p:spPr/></p:sp>"});
    EXPECT_EQ(deck.range(1).text(), "Line one\vline two\rNext\r\rSlide 7");
    EXPECT_EQ(deck.range(1).text().find('\v'), 8u); // code 11
    EXPECT_EQ(deck.range(2).text(), "");
    EXPECT_EQ(deck.range(3).text(), ""); // an auto shape without a text body still has a frame
    EXPECT_TRUE(deck.range(3).sentences().empty());
}

TEST(PresentationText, SplitsSentencesAtPeriodsAndParagraphEnds) {
    OneSlide deck(
        {autoShape(2, "Rectangle 2", kBox,
                   paragraph(run("First one.  Second? Third!Still third. e.g.x stays")) +
                       paragraph(run("Own paragraph")) + paragraph(run("Ends here.  ")) +
                       paragraph(run("Wow!! Done"))),
         autoShape(3, "Rectangle 3", kBox, paragraph(run("Multi ") + run("run.", true) + run(" Tail")))});
    EXPECT_EQ(texts(deck.range(1).sentences()),
              (std::vector<std::string>{"First one.  ", "Second? ", "Third!Still third. ", "e.g.x stays\r",
                                        "Own paragraph\r", "Ends here.  \r", "Wow!! ", "Done"}));
    // Sentences cross runs.
    auto parts = deck.range(2).sentences();
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].text(), "Multi run. ");
    EXPECT_EQ(parts[0].font().bold(), office::msoTriStateMixed);
    EXPECT_EQ(parts[1].text(), "Tail");
    EXPECT_EQ(parts[1].font().bold(), office::msoFalse);
}

TEST(PresentationText, BoldIsExplicitMixedOrNone) {
    OneSlide deck({autoShape(2, "All", kBox, paragraph(run("Bold ", true) + run("too", true))),
                   autoShape(3, "None", kBox, paragraph(run("Plain ") + run("text", false))),
                   autoShape(4, "Mixed", kBox, paragraph(run("Plain. ") + run("Bold.", true))),
                   autoShape(5, "Breaks", kBox, paragraph(run("A", true) + lineBreak() + run("B", true)))});
    EXPECT_EQ(deck.range(1).font().bold(), office::msoTrue);
    EXPECT_EQ(deck.range(2).font().bold(), office::msoFalse);
    EXPECT_EQ(deck.range(3).font().bold(), office::msoTriStateMixed);
    // A title rectangle whose first sentence is plain and second bold gives one bold sentence.
    auto sentences = deck.range(3).sentences();
    ASSERT_EQ(sentences.size(), 2u);
    EXPECT_EQ(sentences[0].font().bold(), 0);
    EXPECT_EQ(sentences[1].font().bold(), -1);
    // A line break between bold runs does not make the range mixed.
    EXPECT_EQ(deck.range(4).font().bold(), office::msoTrue);
}

TEST(PresentationText, BoldIsInheritedThroughStylesAndPlaceholders) {
    DeckBuilder b;
    b.masterTitleBold = true; // master title style: bold
    b.masterBodyBold = false; // master body style: not bold
    b.defaultTextBold = std::nullopt;
    OneSlide deck(
        {
            // 1: title placeholder, bold from the master's title style.
            placeholderShape(2, "Title 1", {"title", -1}, std::nullopt, paragraph(run("Inherited title"))),
            // 2: the same, with the run saying not bold.
            placeholderShape(3, "Title 2", {"title", -1}, std::nullopt,
                             paragraph(run("Explicitly plain", false))),
            // 3: body placeholder whose own list style makes level 2 bold.
            placeholderShape(4, "Content Placeholder 3", {"", 1}, std::nullopt,
                             paragraph(run("level one")) + paragraph(run("level two"), 1),
                             listStyle(std::nullopt, true)),
            // 4: a text box takes the presentation's default style: not bold here.
            textBox(5, "TextBox 5", kBox, paragraph(run("box"))),
            // 5: a field inherits like a run.
            placeholderShape(6, "Title 6", {"title", -1}, std::nullopt, paragraph(field("3"))),
        },
        b);
    EXPECT_EQ(deck.range(1).font().bold(), office::msoTrue);
    EXPECT_EQ(deck.range(2).font().bold(), office::msoFalse);
    auto sentences = deck.range(3).sentences();
    ASSERT_EQ(sentences.size(), 2u);
    EXPECT_EQ(sentences[0].font().bold(), office::msoFalse);
    EXPECT_EQ(sentences[1].font().bold(), office::msoTrue);
    EXPECT_EQ(deck.range(3).font().bold(), office::msoTriStateMixed);
    EXPECT_EQ(deck.range(4).font().bold(), office::msoFalse);
    EXPECT_EQ(deck.range(5).font().bold(), office::msoTrue);
}

TEST(PresentationText, LayoutStyleOutranksTheMasterAndDefaultStyleReachesTextBoxes) {
    DeckBuilder b;
    b.masterTitleBold = true;
    b.layoutTitleListStyle = listStyle(false); // the layout's title says not bold
    b.defaultTextBold = true;                  // default text style: bold
    OneSlide deck(
        {placeholderShape(2, "Title 1", {"title", -1}, std::nullopt, paragraph(run("Layout plain"))),
         textBox(3, "TextBox 3", kBox, paragraph(run("Default bold"))),
         textBox(4, "TextBox 4", kBox, paragraph(run("Own plain")), listStyle(false))},
        b);
    EXPECT_EQ(deck.range(1).font().bold(), office::msoFalse);
    EXPECT_EQ(deck.range(2).font().bold(), office::msoTrue);
    EXPECT_EQ(deck.range(3).font().bold(), office::msoFalse);
}

TEST(PresentationText, EmptyRangeTakesTheBoldOfItsParagraphEnd) {
    OneSlide deck({autoShape(2, "Empty bold", kBox, paragraph("", 0, true)),
                   autoShape(3, "Empty plain", kBox, paragraph(""))});
    EXPECT_EQ(deck.range(1).font().bold(), office::msoTrue);
    EXPECT_EQ(deck.range(2).font().bold(), office::msoFalse);
}
