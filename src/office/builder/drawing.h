#pragma once
// Pieces of slide XML (DrawingML and PresentationML): text runs and paragraphs, shapes of every kind
// a deck holds, and the custom XML part the tagging add-in writes for a tagged word. Each returns the
// element as text, to be put into a SlideSpec (deck.h) as it is or inside another piece.
#include <cstdint>
#include <optional>
#include <string>

namespace lf::builder {

// EMU for points.
constexpr std::int64_t emuPt(double points) {
    return static_cast<std::int64_t>(points * 12700.0);
}

struct Rect {
    std::int64_t x, y, cx, cy;
};

// Text. A bold of nullopt writes no b attribute (the text inherits it); size is in hundredths of a
// point, 0 writing no sz attribute.
std::string run(const std::string& text, std::optional<bool> bold = std::nullopt, int size = 0);
std::string lineBreak();
std::string field(const std::string& text, std::optional<bool> bold = std::nullopt);
std::string paragraph(const std::string& runsXml, int level = 0, std::optional<bool> endBold = std::nullopt);
// a:lstStyle with lvl1pPr (and lvl2pPr) setting bold.
std::string listStyle(std::optional<bool> level1Bold, std::optional<bool> level2Bold = std::nullopt);

// Shape elements. A placeholder is written as type/idx; an empty type writes no type attribute.
struct Ph {
    std::string type;
    int idx = -1;
};
std::string autoShape(int id, const std::string& name, std::optional<Rect> xfrm,
                      const std::string& paragraphs, const std::string& lstStyle = {},
                      const std::string& preset = "rect");
std::string textBox(int id, const std::string& name, Rect xfrm, const std::string& paragraphs,
                    const std::string& lstStyle = {});
std::string placeholderShape(int id, const std::string& name, Ph ph, std::optional<Rect> xfrm,
                             const std::string& paragraphs, const std::string& lstStyle = {});
std::string freeform(int id, const std::string& name, Rect xfrm);
// A picture of the deck's image (relationship rIdImg, added to every slide that uses it).
std::string picture(int id, const std::string& name, Rect xfrm);
std::string connector(int id, const std::string& name, Rect xfrm);
std::string group(int id, const std::string& name, Rect xfrm, const std::string& members);
std::string table(int id, const std::string& name, Rect xfrm, const std::string& cellText);
std::string graphicFrame(int id, const std::string& name, Rect xfrm, const std::string& uri);

// A custom XML part body as the tagging add-in writes it for one tagged word.
std::string taggedWord(const std::string& word);

} // namespace lf::builder
