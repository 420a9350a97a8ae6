#include "office/builder/deck.h"

#include "office/builder/deck_xml.h"

#include <cstdio>

namespace lf::builder {

namespace {

const std::string kNs = R"(xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" )"
                        R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" )"
                        R"(xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main")";
const std::string kCtPml = "application/vnd.openxmlformats-officedocument.presentationml.";
const std::string kCtTheme = "application/vnd.openxmlformats-officedocument.theme+xml";

// A 1x1 grey PNG.
const unsigned char kPng[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00,
    0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00, 0x00, 0x3A, 0x7E, 0x9B, 0x55, 0x00,
    0x00, 0x00, 0x0A, 0x49, 0x44, 0x41, 0x54, 0x08, 0xD7, 0x63, 0x68, 0x00, 0x00, 0x00, 0x82, 0x00, 0x81,
    0xDD, 0x43, 0x6A, 0xF4, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

std::string themeXml(const Theme& t) {
    std::string colors;
    for (const auto& [name, rgb] : t.colors)
        colors += "<a:" + name + "><a:srgbClr val=\"" + rgb + "\"/></a:" + name + ">";
    const std::string fill = R"(<a:solidFill><a:schemeClr val="phClr"/></a:solidFill>)";
    const std::string line = R"(<a:ln w="9525"><a:solidFill><a:schemeClr val="phClr"/></a:solidFill></a:ln>)";
    const std::string effect = "<a:effectStyle><a:effectLst/></a:effectStyle>";
    const std::string font =
        "<a:latin typeface=\"" + escapeXml(t.font) + "\"/><a:ea typeface=\"\"/><a:cs typeface=\"\"/>";
    const std::string name = escapeXml(t.name);
    return kXmlDeclaration +
           "<a:theme xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" name=\"" + name +
           "\"><a:themeElements><a:clrScheme name=\"" + name + "\"><a:dk1>" + t.dark1 + "</a:dk1><a:lt1>" +
           t.light1 + "</a:lt1>" + colors + "</a:clrScheme><a:fontScheme name=\"" + name +
           "\"><a:majorFont>" + font + "</a:majorFont><a:minorFont>" + font +
           "</a:minorFont></a:fontScheme><a:fmtScheme name=\"" + name + "\"><a:fillStyleLst>" + fill + fill +
           fill + "</a:fillStyleLst><a:lnStyleLst>" + line + line + line +
           "</a:lnStyleLst><a:effectStyleLst>" + effect + effect + effect +
           "</a:effectStyleLst><a:bgFillStyleLst>" + fill + fill + fill +
           "</a:bgFillStyleLst></a:fmtScheme></a:themeElements></a:theme>";
}

const std::string kClrMap = R"(<p:clrMap bg1="lt1" tx1="dk1" bg2="lt2" tx2="dk2" accent1="accent1" )"
                            R"(accent2="accent2" accent3="accent3" accent4="accent4" accent5="accent5" )"
                            R"(accent6="accent6" hlink="hlink" folHlink="folHlink"/>)";
const std::string kMasterColours = "<p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr>";

std::string layoutXml(const std::string& type, const std::string& name, const std::string& shapes) {
    return kXmlDeclaration + "<p:sldLayout " + kNs + " type=\"" + type + "\" preserve=\"1\"><p:cSld name=\"" +
           name + "\"><p:spTree>" + shapeTreeHead() + shapes + "</p:spTree></p:cSld>" + kMasterColours +
           "</p:sldLayout>";
}

// The item properties part of custom XML item n: a datastore item id unique in the deck.
std::string itemProperties(int n) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%012d", n);
    return kXmlDeclaration + "<ds:datastoreItem ds:itemID=\"{6C2E4A10-0000-4000-8000-" + digits +
           "}\" xmlns:ds=\"http://schemas.openxmlformats.org/officeDocument/2006/customXml\">"
           "<ds:schemaRefs/></ds:datastoreItem>";
}

} // namespace

DeckBuilder::DeckBuilder() = default;

Parts DeckBuilder::parts() const {
    Parts out;
    bool anyPicture = false;
    std::vector<int> order = listOrder;
    if (order.empty()) {
        for (std::size_t i = 0; i < slides.size(); ++i)
            order.push_back(static_cast<int>(i));
    }
    const int layouts = bareMaster ? 1 : 2;

    // Content types.
    ContentTypes ct;
    ct.defaults = {{"png", "image/png"}};
    ct.add("/ppt/presentation.xml", kCtPml + "presentation.main+xml");
    ct.add("/ppt/slideMasters/slideMaster1.xml", kCtPml + "slideMaster+xml");
    for (int l = 1; l <= layouts; ++l)
        ct.add("/ppt/slideLayouts/slideLayout" + std::to_string(l) + ".xml", kCtPml + "slideLayout+xml");
    ct.add("/ppt/theme/theme1.xml", kCtTheme);
    if (notesMaster) {
        ct.add("/ppt/notesMasters/notesMaster1.xml", kCtPml + "notesMaster+xml");
        ct.add("/ppt/theme/theme2.xml", kCtTheme);
    }
    int notesCount = 0;
    int customCount = 0;
    for (std::size_t i = 0; i < slides.size(); ++i) {
        ct.add("/ppt/slides/slide" + std::to_string(i + 1) + ".xml", kCtPml + "slide+xml");
        if (slides[i].notesShapes) {
            ct.add("/ppt/notesSlides/notesSlide" + std::to_string(++notesCount) + ".xml",
                   kCtPml + "notesSlide+xml");
        }
        for (std::size_t c = 0; customXmlProperties && c < slides[i].customXml.size(); ++c) {
            ct.add("/customXml/itemProps" + std::to_string(++customCount) + ".xml",
                   "application/vnd.openxmlformats-officedocument.customXmlProperties+xml");
        }
        anyPicture = anyPicture || slides[i].usesPicture;
    }
    out.emplace_back("[Content_Types].xml", ct.xml());
    out.emplace_back("_rels/.rels", relationships({{"officeDocument", "ppt/presentation.xml"}}));

    // Presentation.
    std::string pres = kXmlDeclaration + "<p:presentation " + kNs;
    if (firstSlideNumber)
        pres += " firstSlideNum=\"" + std::to_string(*firstSlideNumber) + "\"";
    pres += "><p:sldMasterIdLst><p:sldMasterId id=\"2147483648\" r:id=\"rId1\"/></p:sldMasterIdLst>";
    if (notesMaster)
        pres += "<p:notesMasterIdLst><p:notesMasterId r:id=\"rId3\"/></p:notesMasterIdLst>";
    // The presentation's relationships: master, theme, notes master, then the slides.
    const std::size_t firstSlideRel = notesMaster ? 3 : 2;
    auto slideRelId = [&](std::size_t i) {
        return numberedIds ? "rId" + std::to_string(firstSlideRel + i + 1) : "rIdS" + std::to_string(i + 1);
    };
    pres += "<p:sldIdLst>";
    for (int i : order)
        pres += "<p:sldId id=\"" + std::to_string(256 + i) + "\" r:id=\"" +
                slideRelId(static_cast<std::size_t>(i)) + "\"/>";
    pres += "</p:sldIdLst><p:sldSz cx=\"9144000\" cy=\"6858000\" type=\"screen4x3\"/>"
            "<p:notesSz cx=\"6858000\" cy=\"9144000\"/>";
    if (!bareMaster)
        pres += "<p:defaultTextStyle>" + textLevels(defaultTextBold, 1800) + "</p:defaultTextStyle>";
    out.emplace_back("ppt/presentation.xml", pres + "</p:presentation>");
    std::vector<std::pair<std::string, std::string>> presRels = {
        {"slideMaster", "slideMasters/slideMaster1.xml"}, {"theme", "theme/theme1.xml"}};
    std::vector<std::string> presIds = {"rId1", "rId2"};
    if (notesMaster) {
        presRels.emplace_back("notesMaster", "notesMasters/notesMaster1.xml");
        presIds.push_back("rId3");
    }
    for (std::size_t i = 0; i < slides.size(); ++i) {
        presRels.emplace_back("slide", "slides/slide" + std::to_string(i + 1) + ".xml");
        presIds.push_back(slideRelId(i));
    }
    out.emplace_back("ppt/_rels/presentation.xml.rels", relationships(presRels, presIds));
    out.emplace_back("ppt/theme/theme1.xml", themeXml(theme));

    // Master: title and body placeholders, text styles.
    std::string master = kXmlDeclaration + "<p:sldMaster " + kNs + "><p:cSld>";
    if (!bareMaster)
        master += "<p:bg><p:bgRef idx=\"1001\"><a:schemeClr val=\"bg1\"/></p:bgRef></p:bg>";
    master += "<p:spTree>" + shapeTreeHead();
    if (!bareMaster) {
        master += placeholderShape(2, "Title Placeholder 1", {"title", -1}, masterTitle, {}) +
                  placeholderShape(3, "Text Placeholder 2", {"body", 1}, masterBody, {});
    }
    master += "</p:spTree></p:cSld>" + kClrMap + "<p:sldLayoutIdLst>";
    std::vector<std::pair<std::string, std::string>> masterRels;
    for (int l = 1; l <= layouts; ++l) {
        master += "<p:sldLayoutId id=\"" + std::to_string(2147483648LL + l) + "\" r:id=\"rId" +
                  std::to_string(l) + "\"/>";
        masterRels.emplace_back("slideLayout", "../slideLayouts/slideLayout" + std::to_string(l) + ".xml");
    }
    master += "</p:sldLayoutIdLst>";
    if (!bareMaster) {
        master += "<p:txStyles><p:titleStyle>" + textLevels(masterTitleBold, 4400) +
                  "</p:titleStyle><p:bodyStyle>" + textLevels(masterBodyBold, 2800) +
                  "</p:bodyStyle><p:otherStyle>" + textLevels(std::nullopt, 1800) +
                  "</p:otherStyle></p:txStyles>";
    }
    out.emplace_back("ppt/slideMasters/slideMaster1.xml", master + "</p:sldMaster>");
    masterRels.emplace_back("theme", "../theme/theme1.xml");
    out.emplace_back("ppt/slideMasters/_rels/slideMaster1.xml.rels", relationships(masterRels));

    // Layout 1: title (no transform: the master's), body with its own transform. Layout 2: title only.
    // A bare master has one blank layout.
    if (bareMaster) {
        out.emplace_back("ppt/slideLayouts/slideLayout1.xml", layoutXml("blank", "Blank", {}));
    } else {
        const std::string title =
            placeholderShape(2, "Title 1", {"title", -1}, std::nullopt, {}, layoutTitleListStyle);
        out.emplace_back(
            "ppt/slideLayouts/slideLayout1.xml",
            layoutXml("obj", "Title and Content",
                      title + placeholderShape(3, "Content Placeholder 2", {"", 1}, layoutBody, {})));
        out.emplace_back("ppt/slideLayouts/slideLayout2.xml", layoutXml("titleOnly", "Title Only", title));
    }
    for (int l = 1; l <= layouts; ++l) {
        out.emplace_back("ppt/slideLayouts/_rels/slideLayout" + std::to_string(l) + ".xml.rels",
                         relationships({{"slideMaster", "../slideMasters/slideMaster1.xml"}}));
    }

    if (notesMaster) {
        const std::string nm =
            kXmlDeclaration + "<p:notesMaster " + kNs + "><p:cSld><p:spTree>" + shapeTreeHead() +
            "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"Slide Image Placeholder 1\"/><p:cNvSpPr><a:spLocks "
            "noGrp=\"1\"/></p:cNvSpPr><p:nvPr><p:ph type=\"sldImg\" idx=\"2\"/></p:nvPr></p:nvSpPr><p:spPr>" +
            xfrmXml(notesMasterImage) + "</p:spPr></p:sp>" +
            placeholderShape(3, "Notes Placeholder 2", {"body", 3}, notesMasterBody, {}) +
            "</p:spTree></p:cSld>" + kClrMap + "<p:notesStyle>" + textLevels(std::nullopt, 1200) +
            "</p:notesStyle></p:notesMaster>";
        out.emplace_back("ppt/notesMasters/notesMaster1.xml", nm);
        out.emplace_back("ppt/notesMasters/_rels/notesMaster1.xml.rels",
                         relationships({{"theme", "../theme/theme2.xml"}}));
        out.emplace_back("ppt/theme/theme2.xml", themeXml(theme));
    }

    // Slides, their notes pages and customer data.
    customCount = 0;
    notesCount = 0;
    for (std::size_t i = 0; i < slides.size(); ++i) {
        const SlideSpec& s = slides[i];
        const std::string n = std::to_string(i + 1);
        std::vector<std::pair<std::string, std::string>> slideRels = {
            {"slideLayout", "../slideLayouts/slideLayout" + std::to_string(s.layout) + ".xml"}};
        std::vector<std::string> ids = {"rId1"};
        std::string custData;
        for (const std::string& body : s.customXml) {
            const std::string item = std::to_string(++customCount);
            out.emplace_back("customXml/item" + item + ".xml", body);
            if (customXmlProperties) {
                out.emplace_back("customXml/_rels/item" + item + ".xml.rels",
                                 relationships({{"customXmlProps", "itemProps" + item + ".xml"}}));
                out.emplace_back("customXml/itemProps" + item + ".xml", itemProperties(customCount));
            }
            slideRels.emplace_back("customXml", "../../customXml/item" + item + ".xml");
            ids.push_back(numberedIds ? "rId" + std::to_string(ids.size() + 1) : "rIdC" + item);
            custData += "<p:custData r:id=\"" + ids.back() + "\"/>";
        }
        if (s.usesPicture) {
            slideRels.emplace_back("image", "../media/image1.png");
            ids.push_back("rIdImg");
        }
        if (s.notesShapes) {
            const std::string nn = std::to_string(++notesCount);
            slideRels.emplace_back("notesSlide", "../notesSlides/notesSlide" + nn + ".xml");
            ids.push_back("rIdN");
            std::string notes = kXmlDeclaration + "<p:notes " + kNs + "><p:cSld><p:spTree>" + shapeTreeHead();
            for (const std::string& shape : *s.notesShapes)
                notes += shape;
            notes += "</p:spTree></p:cSld>" + kMasterColours + "</p:notes>";
            out.emplace_back("ppt/notesSlides/notesSlide" + nn + ".xml", notes);
            std::vector<std::pair<std::string, std::string>> notesRels = {
                {"slide", "../slides/slide" + n + ".xml"}};
            if (notesMaster)
                notesRels.emplace_back("notesMaster", "../notesMasters/notesMaster1.xml");
            out.emplace_back("ppt/notesSlides/_rels/notesSlide" + nn + ".xml.rels", relationships(notesRels));
        }
        std::string slide = kXmlDeclaration + "<p:sld " + kNs + (s.hidden ? " show=\"0\"" : "") +
                            "><p:cSld><p:spTree>" + shapeTreeHead();
        for (const std::string& shape : s.shapes)
            slide += shape;
        slide += "</p:spTree>";
        if (!custData.empty())
            slide += "<p:custDataLst>" + custData + "</p:custDataLst>";
        slide += "</p:cSld>" + kMasterColours + "</p:sld>";
        out.emplace_back("ppt/slides/slide" + n + ".xml", slide);
        out.emplace_back("ppt/slides/_rels/slide" + n + ".xml.rels", relationships(slideRels, ids));
    }
    if (anyPicture) {
        out.emplace_back("ppt/media/image1.png",
                         image.empty() ? std::string(reinterpret_cast<const char*>(kPng), sizeof kPng)
                                       : image);
    }
    return out;
}

void DeckBuilder::write(const std::filesystem::path& file) const {
    writeZip(file, parts());
}

} // namespace lf::builder
