// Bounded mutation run over the XML of a deck: parts cut, doubled or with bytes changed must give a
// working deck or a description, never a crash (this runs under the sanitizers too).
#include "deck_builder.h"
#include "office/presentation/presentation.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <random>

using namespace lf::ppt;
using namespace lf::test;

namespace {

DeckBuilder richDeck() {
    DeckBuilder b;
    Rect r{emuPt(10), emuPt(20), emuPt(30), emuPt(40)};
    SlideSpec s;
    s.usesPicture = true;
    s.shapes = {
        placeholderShape(2, "Title 1", {"title", -1}, std::nullopt,
                         paragraph(run("Plain. ", false) + run("Bold!", true) + lineBreak() + field("4"))),
        placeholderShape(3, "Content Placeholder 2", {"", 1}, std::nullopt,
                         paragraph(run("one")) + paragraph(run("two"), 1), listStyle(true, false)),
        picture(4, "Picture 4", r),
        group(5, "Group 5", r, autoShape(6, "Inner", r, {})),
        table(7, "Table 7", r, "cell"),
        connector(8, "Connector 8", r)};
    s.customXml = {"<t><indexword>Cache</indexword></t>"};
    s.notesShapes = std::vector<std::string>{
        "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"Slide Image Placeholder 1\"/><p:cNvSpPr/><p:nvPr>"
        "<p:ph type=\"sldImg\"/></p:nvPr></p:nvSpPr><p:spPr/></p:sp>"};
    b.slides.push_back(s);
    b.slides.push_back(
        SlideSpec{{placeholderShape(2, "Title 1", {"title", -1}, std::nullopt, paragraph(run("x")))}});
    return b;
}

std::string mutate(std::string text, std::mt19937& random) {
    if (text.empty()) {
        return text;
    }
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    switch (pick(5)) {
    case 0: { // cut a stretch
        std::size_t at = pick(text.size());
        text.erase(at, pick(std::min<std::size_t>(200, text.size() - at) + 1));
        break;
    }
    case 1: { // double a stretch
        std::size_t at = pick(text.size());
        text.insert(at, text.substr(at, pick(300) + 1));
        break;
    }
    case 2: // change bytes
        for (int i = 0; i < 8; ++i) {
            text[pick(text.size())] = static_cast<char>(pick(256));
        }
        break;
    case 3: { // change digits: sizes, indexes, levels
        for (char& c : text) {
            if (c >= '0' && c <= '9' && pick(6) == 0) {
                c = static_cast<char>('0' + pick(10));
            }
        }
        text.insert(pick(text.size()), "99999999999999");
        break;
    }
    default: { // drop an element's opening tag
        std::size_t at = text.find('<', pick(text.size()));
        if (at != std::string::npos) {
            std::size_t end = text.find('>', at);
            text.erase(at, end == std::string::npos ? 1 : end - at + 1);
        }
    }
    }
    return text;
}

} // namespace

TEST(PresentationMutation, MutatedPartsNeverCrashTheEngine) {
    TempDir dir;
    auto parts = richDeck().parts();
    std::mt19937 random(20261208);
    int opened = 0, refused = 0;
    for (int round = 0; round < 300; ++round) {
        auto mutated = parts;
        for (int k = 0; k < 2; ++k) {
            auto& [name, bytes] =
                mutated[std::uniform_int_distribution<std::size_t>(0, mutated.size() - 1)(random)];
            if (name.ends_with(".xml") || name.ends_with(".rels")) {
                bytes = mutate(bytes, random);
            }
        }
        std::filesystem::path file = dir / ("m" + std::to_string(round) + ".pptx");
        writeZip(file, mutated);
        try {
            Application app;
            Presentation deck = app.presentations().open(file);
            for (const Slide& slide : deck.slides()) {
                for (Shape shape : slide.shapes()) {
                    (void)(shape.name().size() + shape.type() + shape.top() + shape.width());
                    if (shape.hasTextFrame()) {
                        for (const TextRange& s : shape.textFrame().textRange().sentences()) {
                            (void)s.font().bold();
                        }
                    }
                    shape.setBlackWhiteMode(2);
                }
                for (const CustomXMLPart& part : slide.customerData()) {
                    if (auto node = part.selectSingleNode("descendant::indexword")) {
                        (void)node->text();
                    }
                }
                Shapes notes = slide.notesPage().shapes();
                if (notes.count() > 0) {
                    notes.item(1).setTop(14.375);
                }
            }
            deck.save();
            ++opened;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
            ++refused;
        }
        std::filesystem::remove(file);
    }
    // Both outcomes occur, so the run exercised reading as well as refusing.
    EXPECT_GT(opened, 10);
    EXPECT_GT(refused, 10);
}
