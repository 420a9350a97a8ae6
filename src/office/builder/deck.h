#pragma once
// Real .pptx decks from a description: presentation, theme, one slide master with its text styles,
// layouts, an optional notes master, slides with any shapes (drawing.h), notes pages and custom XML
// parts. The default is the deck the engine's tests are made of; bareMaster, the theme, customXmlProperties
// and numberedIds give the plainer decks of the demo course.
#include "office/builder/drawing.h"
#include "office/builder/package.h"

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lf::builder {

struct SlideSpec {
    std::vector<std::string> shapes;
    int layout = 1; // 1 title and content, 2 title only (a bare master has layout 1 only: blank)
    // Custom XML part bodies for the slide's customer data, in list order.
    std::vector<std::string> customXml;
    // Shapes of the slide's notes page; none means the slide has no notes page.
    std::optional<std::vector<std::string>> notesShapes;
    bool usesPicture = false;
    bool hidden = false; // left out of the slide show (show="0")
};

// The colours and fonts of the deck's theme (and of the notes master's).
struct Theme {
    std::string name = "Test";
    // The dark 1 and light 1 colours: a:srgbClr or a:sysClr elements.
    std::string dark1 = "<a:srgbClr val=\"000000\"/>";
    std::string light1 = "<a:srgbClr val=\"FFFFFF\"/>";
    // dk2, lt2, accent1 ... accent6, hlink, folHlink with their RRGGBB values, in that order.
    std::vector<std::pair<std::string, std::string>> colors = {
        {"dk2", "44546A"},     {"lt2", "E7E6E6"},     {"accent1", "4472C4"}, {"accent2", "ED7D31"},
        {"accent3", "A5A5A5"}, {"accent4", "FFC000"}, {"accent5", "5B9BD5"}, {"accent6", "70AD47"},
        {"hlink", "0563C1"},   {"folHlink", "954F72"}};
    // The major and minor Latin typeface.
    std::string font = "DejaVu Sans";
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
    // A master without background, placeholders or text styles, one blank layout and no default
    // text style, as a minimal writer makes them; the text style and layout settings above are unused.
    bool bareMaster = false;
    // Each custom XML part with its item properties part (a datastore item id), as the office suite
    // writes them.
    bool customXmlProperties = false;
    // Relationship ids of the slides and custom XML parts numbered rId1, rId2... in their parts, as
    // the office suite numbers them, rather than the builder's own rIdS1 and rIdC1 (the image keeps
    // rIdImg, which picture() refers to, and a notes page rIdN).
    bool numberedIds = false;
    Theme theme;

    // Geometry of the master and layouts (EMU).
    Rect masterTitle{emuPt(36), emuPt(20), emuPt(648), emuPt(90)};
    Rect masterBody{emuPt(36), emuPt(126), emuPt(648), emuPt(360)};
    Rect layoutBody{emuPt(40), emuPt(130), emuPt(640), emuPt(350)}; // layout 1's own body transform
    Rect notesMasterImage{emuPt(90), emuPt(54), emuPt(360), emuPt(270)};
    Rect notesMasterBody{emuPt(54), emuPt(342), emuPt(432), emuPt(324)};

    // Bytes of the image that pictures show; empty gives a 1x1 PNG.
    std::string image;

    // Every part name with its bytes, [Content_Types].xml first.
    Parts parts() const;
    void write(const std::filesystem::path& file) const;
};

} // namespace lf::builder
