// Customer data: the custom XML parts a slide's list references, in list order, and the tagged word
// selected from each.
#include "deck_builder.h"
#include "office/presentation/presentation.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace lf::ppt;
using namespace lf::test;

namespace {

std::string tag(const std::string& word) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tagwise><entry><indexword>" + word +
           "</indexword></entry></tagwise>";
}

// Elements nested depth deep around the word "deep!".
std::string deepNest(int depth) {
    std::string s;
    for (int i = 0; i < depth; ++i) {
        s += "<n>";
    }
    s += "deep!";
    for (int i = 0; i < depth; ++i) {
        s += "</n>";
    }
    return s;
}

} // namespace

TEST(PresentationCustomerData, GivesThePartsInListOrderAndTheirTaggedWords) {
    TempDir dir;
    DeckBuilder b;
    SlideSpec tagged;
    tagged.customXml = {
        tag("Cache"),
        "<?xml version=\"1.0\"?><other><note>no word here</note></other>",
        "<root><deep><er><indexword>First</indexword></er></deep><indexword>Second</indexword>"
        "</root>",
        "<root><indexword>Mixed <b>content</b> word</indexword></root>",
        tag("Caf\xc3\xa9 &amp; co"),
        "<indexword>Solo</indexword>",
        "<a>" + std::string(20000, ' ') + deepNest(255) + "</a>"};
    b.slides.push_back(tagged);
    b.slides.push_back(SlideSpec{});
    b.write(dir / "tags.pptx");

    Application app;
    Presentation deck = app.presentations().open(dir / "tags.pptx");
    std::vector<CustomXMLPart> parts = deck.slides().item(1).customerData();
    ASSERT_EQ(parts.size(), 7u);
    EXPECT_EQ(parts[0].partName(), "/customXml/item1.xml");
    EXPECT_EQ(parts[4].partName(), "/customXml/item5.xml");

    auto word = [](const CustomXMLPart& part) {
        std::optional<CustomXMLNode> node = part.selectSingleNode("descendant::indexword");
        return node ? std::optional<std::string>(node->text()) : std::nullopt;
    };
    EXPECT_EQ(word(parts[0]), "Cache");
    EXPECT_EQ(word(parts[1]), std::nullopt); // no node, no failure
    EXPECT_EQ(word(parts[2]), "First");      // the first in document order, at any depth
    EXPECT_EQ(word(parts[3]), "Mixed content word");
    EXPECT_EQ(word(parts[4]), "Caf\xc3\xa9 & co");
    EXPECT_EQ(word(parts[5]), "Solo"); // the root element itself is a descendant of the document
    // Nesting up to the limit of 256 levels is read.
    EXPECT_EQ(parts[6].selectSingleNode("/a")->text().size(), 20000u + 5u);
    EXPECT_EQ(parts[1].selectSingleNode("descendant::note")->text(), "no word here");
    EXPECT_THROW(parts[0].selectSingleNode("descendant::[["), PresentationError);

    EXPECT_TRUE(deck.slides().item(2).customerData().empty());
}

TEST(PresentationCustomerData, APartThatDoesNotParseFailsWhenRead) {
    TempDir dir;
    DeckBuilder b;
    SlideSpec s;
    s.customXml = {"<indexword>unclosed"};
    b.slides.push_back(s);
    b.write(dir / "broken.pptx");
    Application app;
    Presentation deck = app.presentations().open(dir / "broken.pptx");
    try {
        deck.slides().item(1).customerData().at(0).selectSingleNode("descendant::indexword");
        FAIL() << "read a broken part";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("broken.pptx"), std::string::npos) << e.what();
    }
}

TEST(PresentationCustomerData, APartNestedPast256LevelsIsRefusedNamingTheLimit) {
    // 50,000 levels in 350 KB: refused before it is parsed, so no walk over it can exhaust the stack.
    TempDir dir;
    DeckBuilder b;
    SlideSpec s;
    s.customXml = {"<a>" + deepNest(50000) + "</a>"};
    b.slides.push_back(s);
    b.write(dir / "deep.pptx");
    Application app;
    Presentation deck = app.presentations().open(dir / "deep.pptx");
    try {
        deck.slides().item(1).customerData().at(0).selectSingleNode("descendant::n");
        FAIL() << "read a part nested 50,000 levels deep";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("deeper than the limit of 256 levels"), std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("/customXml/item1.xml"), std::string::npos) << e.what();
    }
}
