// Customer data: the custom XML parts a slide's list references, in list order, and the tagged word
// selected from each.
#include "deck_builder.h"
#include "office/presentation/presentation.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

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

namespace {

std::filesystem::path writableCopy(const TempDir& dir, const std::string& corpusName, const std::string& as) {
    const std::filesystem::path copy = dir / as;
    std::filesystem::copy_file(corpusDir() / "pptx" / corpusName, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    return copy;
}

std::vector<std::string> words(const Slide& slide) {
    std::vector<std::string> out;
    for (const CustomXMLPart& part : slide.customerData()) {
        auto node = part.selectSingleNode("descendant::indexword");
        out.push_back(node ? node->text() : "(none)");
    }
    return out;
}

} // namespace

TEST(PresentationCustomerData, AddedPartsAreStoredAsTheOfficeSuiteDoesAndRemovedWithoutATrace) {
    // aptia holds three custom XML items of its own (the presentation's); EmbeddedVideo's slides end
    // their common data with an extension list.
    for (const char* corpusName : {"poi-aptia.pptx", "poi-EmbeddedVideo.pptx"}) {
        SCOPED_TRACE(corpusName);
        TempDir dir;
        const std::filesystem::path file = writableCopy(dir, corpusName, "03_Tagged.pptx");
        const auto original = readZipRaw(file);
        const std::set<std::string> changing = {"[Content_Types].xml", "ppt/slides/slide1.xml",
                                                "ppt/slides/_rels/slide1.xml.rels"};
        const std::string cache = tag("Cache");
        const std::string memory =
            "<?xml version=\"1.0\"?>\n<tagwise>\n  <indexword>Memory</indexword>\n</tagwise>";
        int n = 0; // the number of the first item added
        {
            Application app;
            Presentation deck = app.presentations().open(file);
            Slide slide = deck.slides().item(1);
            const std::string item = slide.addCustomerData(cache).partName();
            ASSERT_TRUE(item.starts_with("/customXml/item")) << item;
            n = std::stoi(item.substr(15));
            EXPECT_EQ(slide.addCustomerData(memory).partName(),
                      "/customXml/item" + std::to_string(n + 1) + ".xml");
            EXPECT_EQ(words(slide), (std::vector<std::string>{"Cache", "Memory"}));
            deck.save();
        }
        const auto tagged = readZipRaw(file);
        const auto text = readZip(file);
        for (const auto& [name, stored] : original) {
            ASSERT_TRUE(tagged.count(name)) << name;
            if (!changing.count(name)) {
                EXPECT_EQ(tagged.at(name), stored) << name << " was not copied as stored";
            }
        }
        // Each item with its properties and the relationship to them, under numbers not yet used.
        std::set<std::string> added;
        for (const auto& [name, stored] : tagged) {
            if (!original.count(name)) {
                added.insert(name);
            }
        }
        std::set<std::string> expected;
        for (int i : {n, n + 1}) {
            const std::string k = std::to_string(i);
            expected.insert({"customXml/item" + k + ".xml", "customXml/itemProps" + k + ".xml",
                             "customXml/_rels/item" + k + ".xml.rels"});
            EXPECT_NE(text.at("customXml/_rels/item" + k + ".xml.rels")
                          .find("/relationships/customXmlProps\" Target=\"itemProps" + k + ".xml\""),
                      std::string::npos);
            EXPECT_NE(text.at("[Content_Types].xml")
                          .find("<Override PartName=\"/customXml/itemProps" + k +
                                ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument."
                                "customXmlProperties+xml\"/>"),
                      std::string::npos);
        }
        EXPECT_EQ(added, expected);
        EXPECT_EQ(text.at("customXml/item" + std::to_string(n) + ".xml"), cache);
        EXPECT_EQ(text.at("customXml/item" + std::to_string(n + 1) + ".xml"), memory);
        // Every item's datastore id is its own.
        std::set<std::string> ids;
        int props = 0;
        const std::regex datastoreId(
            R"re(ds:itemID="(\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\})")re");
        for (const auto& [name, bytes] : text) {
            std::smatch m;
            if (added.count(name) && name.starts_with("customXml/itemProps")) {
                ++props;
                ASSERT_TRUE(std::regex_search(bytes, m, datastoreId)) << bytes;
                ids.insert(m[1]);
            } else if (name.starts_with("customXml/itemProps")) {
                ids.insert(bytes.substr(bytes.find("itemID=\"") + 8, 38));
            }
        }
        EXPECT_EQ(props, 2);
        EXPECT_EQ(ids.size(),
                  static_cast<std::size_t>(2 + std::count_if(original.begin(), original.end(), [](auto& e) {
                                               return e.first.starts_with("customXml/itemProps");
                                           })));
        // The entries follow the shape tree, before the extension list.
        const std::string slideXml = text.at("ppt/slides/slide1.xml");
        const std::size_t list = slideXml.find("</p:spTree><p:custDataLst><p:custData r:id=\"");
        ASSERT_NE(list, std::string::npos) << slideXml;
        const std::string after = slideXml.substr(slideXml.find("</p:custDataLst>") + 16, 10);
        EXPECT_TRUE(after == "<p:extLst>" || after.starts_with("</p:cSld>")) << slideXml;

        {
            Application app;
            Presentation deck = app.presentations().open(file);
            Slide slide = deck.slides().item(1);
            EXPECT_EQ(words(slide), (std::vector<std::string>{"Cache", "Memory"}));
            for (CustomXMLPart part : slide.customerData()) {
                part.remove();
            }
            EXPECT_TRUE(slide.customerData().empty());
            deck.save();
        }
        // Nothing of them is left: the deck's own parts, each as stored but the slide's.
        const auto removed = readZipRaw(file);
        const auto removedText = readZip(file);
        std::set<std::string> names, originalNames;
        for (const auto& [name, stored] : removed) {
            names.insert(name);
            if (!changing.count(name)) {
                EXPECT_EQ(stored, original.at(name)) << name;
            }
        }
        for (const auto& [name, stored] : original) {
            originalNames.insert(name);
        }
        EXPECT_EQ(names, originalNames);
        EXPECT_EQ(removedText.at("ppt/slides/slide1.xml").find("custData"), std::string::npos);
        EXPECT_EQ(removedText.at("ppt/slides/_rels/slide1.xml.rels").find("customXml"), std::string::npos);
        EXPECT_EQ(removedText.at("[Content_Types].xml").find("itemProps" + std::to_string(n)),
                  std::string::npos);
    }
}

TEST(PresentationCustomerData, WhatCannotBeStoredIsRefusedAndChangesNothing) {
    TempDir dir;
    const std::filesystem::path file = writableCopy(dir, "poi-SampleShow.pptx", "04_Refused.pptx");
    const std::string bytes = readFile(file);
    Application app;
    {
        Presentation deck = app.presentations().open(file);
        Slide slide = deck.slides().item(2);
        for (const char* bad : {"<tagwise><indexword>open", "", "<a/><b/>"}) {
            try {
                slide.addCustomerData(bad);
                ADD_FAILURE() << "stored " << bad;
            } catch (const PresentationError& e) {
                EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
                EXPECT_NE(std::string(e.what()).find("not well-formed"), std::string::npos) << e.what();
            }
        }
        EXPECT_TRUE(slide.customerData().empty());
        CustomXMLPart part = slide.addCustomerData(tag("Cache"));
        part.remove();
        EXPECT_THROW(part.remove(), PresentationError); // already gone
        deck.close();
    }
    Presentation readOnly = app.presentations().open(file, true);
    EXPECT_THROW(readOnly.slides().item(2).addCustomerData(tag("Cache")), PresentationError);
    readOnly.close();
    EXPECT_EQ(readFile(file), bytes);
}
