#pragma once
// Builds real .pptx files for the tests: presentation, theme, one slide master with its text styles,
// two layouts, an optional notes master, slides with any shapes, notes pages and custom XML parts.
// The zip is written with libzip directly, so the engine's own package writer is not on trial here.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lf::test {

// EMU for points.
constexpr std::int64_t emuPt(double points) {
    return static_cast<std::int64_t>(points * 12700.0);
}

struct Rect {
    std::int64_t x, y, cx, cy;
};

// Pieces of DrawingML text.
// Text with &, <, > and " written as XML entities.
std::string escapeXml(const std::string& text);
std::string run(const std::string& text, std::optional<bool> bold = std::nullopt);
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
// A picture of the builder's image (relationship rIdImg, added to every slide that uses it).
std::string picture(int id, const std::string& name, Rect xfrm);
std::string connector(int id, const std::string& name, Rect xfrm);
std::string group(int id, const std::string& name, Rect xfrm, const std::string& members);
std::string table(int id, const std::string& name, Rect xfrm, const std::string& cellText);
std::string graphicFrame(int id, const std::string& name, Rect xfrm, const std::string& uri);

struct SlideSpec {
    std::vector<std::string> shapes;
    int layout = 1; // 1 title and content, 2 title only
    // Custom XML part bodies for the slide's customer data, in list order.
    std::vector<std::string> customXml;
    // Shapes of the slide's notes page; none means the slide has no notes page.
    std::optional<std::vector<std::string>> notesShapes;
    bool usesPicture = false;
};

class DeckBuilder {
public:
    DeckBuilder();
    std::vector<SlideSpec> slides;
    bool notesMaster = true;
    std::optional<int> firstSlideNumber;
    // Order of the slide list: indexes into slides (default: in order). Lets the list differ
    // from the part numbering.
    std::vector<int> listOrder;
    // Master text styles and the presentation's default text style (lstStyle-like children).
    std::optional<bool> masterTitleBold = true;
    std::optional<bool> masterBodyBold;
    std::optional<bool> defaultTextBold;
    // List style of the layouts' title placeholder (a:lstStyle element, or empty).
    std::string layoutTitleListStyle;

    // Geometry of the master and layouts (EMU).
    Rect masterTitle{emuPt(36), emuPt(20), emuPt(648), emuPt(90)};
    Rect masterBody{emuPt(36), emuPt(126), emuPt(648), emuPt(360)};
    Rect layoutBody{emuPt(40), emuPt(130), emuPt(640), emuPt(350)}; // layout 1's own body transform
    Rect notesMasterImage{emuPt(90), emuPt(54), emuPt(360), emuPt(270)};
    Rect notesMasterBody{emuPt(54), emuPt(342), emuPt(432), emuPt(324)};

    // Bytes of the image that pictures show; empty gives a 1x1 PNG.
    std::string image;

    // Every part name with its bytes, [Content_Types].xml first.
    std::vector<std::pair<std::string, std::string>> parts() const;
    void write(const std::filesystem::path& file) const;
};

// Writes a zip of the given entries, in order, deflated.
void writeZip(const std::filesystem::path& file,
              const std::vector<std::pair<std::string, std::string>>& entries);
// Every entry name with its inflated bytes.
std::map<std::string, std::string> readZip(const std::filesystem::path& file);
// Every entry name with its stored (compressed) bytes and compression method.
std::map<std::string, std::pair<int, std::string>> readZipRaw(const std::filesystem::path& file);

} // namespace lf::test
