#include "deck_builder.h"

#include <zip.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace lf::test {

namespace {

const std::string kNs = R"(xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" )"
                        R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" )"
                        R"(xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main")";
const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const std::string kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
const std::string kCtPml = "application/vnd.openxmlformats-officedocument.presentationml.";

std::string boldAttr(std::optional<bool> bold) {
    if (!bold) {
        return {};
    }
    return *bold ? " b=\"1\"" : " b=\"0\"";
}

std::string xfrmXml(const Rect& r, const char* prefix = "a") {
    std::string p(prefix);
    return "<" + p + ":xfrm><a:off x=\"" + std::to_string(r.x) + "\" y=\"" + std::to_string(r.y) +
           "\"/><a:ext cx=\"" + std::to_string(r.cx) + "\" cy=\"" + std::to_string(r.cy) + "\"/></" + p +
           ":xfrm>";
}

std::string textBody(const std::string& paragraphs, const std::string& lstStyle) {
    return "<p:txBody><a:bodyPr/>" + (lstStyle.empty() ? std::string("<a:lstStyle/>") : lstStyle) +
           (paragraphs.empty() ? std::string("<a:p><a:endParaRPr lang=\"en-US\"/></a:p>") : paragraphs) +
           "</p:txBody>";
}

std::string phXml(const Ph& ph) {
    std::string s = "<p:ph";
    if (!ph.type.empty()) {
        s += " type=\"" + ph.type + "\"";
    }
    if (ph.idx >= 0) {
        s += " idx=\"" + std::to_string(ph.idx) + "\"";
    }
    return s + "/>";
}

const std::string kGroupHead =
    R"(<p:nvGrpSpPr><p:cNvPr id="1" name=""/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>)"
    R"(<p:grpSpPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="0" cy="0"/>)"
    R"(<a:chOff x="0" y="0"/><a:chExt cx="0" cy="0"/></a:xfrm></p:grpSpPr>)";

std::string styleLevels(std::optional<bool> bold, int size) {
    std::string s;
    for (int l = 1; l <= 9; ++l) {
        s += "<a:lvl" + std::to_string(l) + "pPr marL=\"" + std::to_string((l - 1) * 342900) +
             "\"><a:defRPr sz=\"" + std::to_string(size) + "\"" + boldAttr(bold) + "/></a:lvl" +
             std::to_string(l) + "pPr>";
    }
    return s;
}

std::string rels(const std::vector<std::pair<std::string, std::string>>& typeTargets,
                 const std::vector<std::string>& ids = {}) {
    std::string s =
        kDecl + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (std::size_t i = 0; i < typeTargets.size(); ++i) {
        std::string id = i < ids.size() ? ids[i] : "rId" + std::to_string(i + 1);
        std::string type = typeTargets[i].first.find("://") == std::string::npos
                               ? kRelNs + typeTargets[i].first
                               : typeTargets[i].first;
        s += "<Relationship Id=\"" + id + "\" Type=\"" + type + "\" Target=\"" + typeTargets[i].second +
             "\"/>";
    }
    return s + "</Relationships>";
}

// A 1x1 grey PNG.
const unsigned char kPng[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00,
    0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00, 0x00, 0x3A, 0x7E, 0x9B, 0x55, 0x00,
    0x00, 0x00, 0x0A, 0x49, 0x44, 0x41, 0x54, 0x08, 0xD7, 0x63, 0x68, 0x00, 0x00, 0x00, 0x82, 0x00, 0x81,
    0xDD, 0x43, 0x6A, 0xF4, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

std::string theme() {
    std::string colors;
    const char* names[][2] = {{"dk2", "44546A"},     {"lt2", "E7E6E6"},     {"accent1", "4472C4"},
                              {"accent2", "ED7D31"}, {"accent3", "A5A5A5"}, {"accent4", "FFC000"},
                              {"accent5", "5B9BD5"}, {"accent6", "70AD47"}, {"hlink", "0563C1"},
                              {"folHlink", "954F72"}};
    for (auto& n : names) {
        colors += std::string("<a:") + n[0] + "><a:srgbClr val=\"" + n[1] + "\"/></a:" + n[0] + ">";
    }
    std::string fill = R"(<a:solidFill><a:schemeClr val="phClr"/></a:solidFill>)";
    std::string line = R"(<a:ln w="9525"><a:solidFill><a:schemeClr val="phClr"/></a:solidFill></a:ln>)";
    std::string effect = "<a:effectStyle><a:effectLst/></a:effectStyle>";
    return kDecl +
           "<a:theme xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
           "name=\"Test\"><a:themeElements>"
           "<a:clrScheme name=\"Test\"><a:dk1><a:srgbClr val=\"000000\"/></a:dk1><a:lt1><a:srgbClr "
           "val=\"FFFFFF\"/>"
           "</a:lt1>" +
           colors +
           "</a:clrScheme><a:fontScheme name=\"Test\"><a:majorFont><a:latin typeface=\"DejaVu Sans\"/><a:ea "
           "typeface=\"\"/><a:cs typeface=\"\"/></a:majorFont><a:minorFont><a:latin typeface=\"DejaVu "
           "Sans\"/>"
           "<a:ea typeface=\"\"/><a:cs typeface=\"\"/></a:minorFont></a:fontScheme><a:fmtScheme "
           "name=\"Test\">"
           "<a:fillStyleLst>" +
           fill + fill + fill + "</a:fillStyleLst><a:lnStyleLst>" + line + line + line +
           "</a:lnStyleLst><a:effectStyleLst>" + effect + effect + effect +
           "</a:effectStyleLst><a:bgFillStyleLst>" + fill + fill + fill +
           "</a:bgFillStyleLst></a:fmtScheme></a:themeElements></a:theme>";
}

const std::string kClrMap = R"(<p:clrMap bg1="lt1" tx1="dk1" bg2="lt2" tx2="dk2" accent1="accent1" )"
                            R"(accent2="accent2" accent3="accent3" accent4="accent4" accent5="accent5" )"
                            R"(accent6="accent6" hlink="hlink" folHlink="folHlink"/>)";

} // namespace

std::string escapeXml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string run(const std::string& text, std::optional<bool> bold) {
    return "<a:r><a:rPr lang=\"en-US\"" + boldAttr(bold) + "/><a:t>" + escapeXml(text) + "</a:t></a:r>";
}

std::string lineBreak() {
    return "<a:br><a:rPr lang=\"en-US\"/></a:br>";
}

std::string field(const std::string& text, std::optional<bool> bold) {
    return "<a:fld id=\"{B6F15528-21DE-4FAA-801E-634DDDAF4B2B}\" type=\"slidenum\"><a:rPr lang=\"en-US\"" +
           boldAttr(bold) + "/><a:t>" + escapeXml(text) + "</a:t></a:fld>";
}

std::string paragraph(const std::string& runsXml, int level, std::optional<bool> endBold) {
    std::string s = "<a:p>";
    if (level > 0) {
        s += "<a:pPr lvl=\"" + std::to_string(level) + "\"/>";
    }
    return s + runsXml + "<a:endParaRPr lang=\"en-US\"" + boldAttr(endBold) + "/></a:p>";
}

std::string listStyle(std::optional<bool> level1Bold, std::optional<bool> level2Bold) {
    return "<a:lstStyle><a:lvl1pPr><a:defRPr" + boldAttr(level1Bold) + "/></a:lvl1pPr><a:lvl2pPr><a:defRPr" +
           boldAttr(level2Bold) + "/></a:lvl2pPr></a:lstStyle>";
}

std::string autoShape(int id, const std::string& name, std::optional<Rect> xfrm,
                      const std::string& paragraphs, const std::string& lstStyle, const std::string& preset) {
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" + escapeXml(name) +
           "\"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr>" + (xfrm ? xfrmXml(*xfrm) : std::string()) +
           "<a:prstGeom prst=\"" + preset + "\"><a:avLst/></a:prstGeom></p:spPr>" +
           textBody(paragraphs, lstStyle) + "</p:sp>";
}

std::string textBox(int id, const std::string& name, Rect xfrm, const std::string& paragraphs,
                    const std::string& lstStyle) {
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" + escapeXml(name) +
           "\"/><p:cNvSpPr txBox=\"1\"/><p:nvPr/></p:nvSpPr><p:spPr>" + xfrmXml(xfrm) +
           "<a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom><a:noFill/></p:spPr>" +
           textBody(paragraphs, lstStyle) + "</p:sp>";
}

std::string placeholderShape(int id, const std::string& name, Ph ph, std::optional<Rect> xfrm,
                             const std::string& paragraphs, const std::string& lstStyle) {
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" + escapeXml(name) +
           "\"/><p:cNvSpPr><a:spLocks noGrp=\"1\"/></p:cNvSpPr><p:nvPr>" + phXml(ph) +
           "</p:nvPr></p:nvSpPr><p:spPr>" + (xfrm ? xfrmXml(*xfrm) : std::string()) + "</p:spPr>" +
           textBody(paragraphs, lstStyle) + "</p:sp>";
}

std::string freeform(int id, const std::string& name, Rect xfrm) {
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" + escapeXml(name) +
           "\"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr>" + xfrmXml(xfrm) +
           "<a:custGeom><a:avLst/><a:gdLst/><a:ahLst/><a:cxnLst/><a:rect l=\"0\" t=\"0\" r=\"r\" b=\"b\"/>"
           "<a:pathLst><a:path w=\"100\" h=\"100\"><a:moveTo><a:pt x=\"0\" y=\"0\"/></a:moveTo><a:lnTo>"
           "<a:pt x=\"100\" y=\"100\"/></a:lnTo><a:lnTo><a:pt x=\"0\" y=\"100\"/></a:lnTo><a:close/></a:path>"
           "</a:pathLst></a:custGeom></p:spPr>" +
           textBody({}, {}) + "</p:sp>";
}

std::string picture(int id, const std::string& name, Rect xfrm) {
    return "<p:pic><p:nvPicPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" + escapeXml(name) +
           "\"/><p:cNvPicPr><a:picLocks noChangeAspect=\"1\"/></p:cNvPicPr><p:nvPr/></p:nvPicPr><p:blipFill>"
           "<a:blip r:embed=\"rIdImg\"/><a:stretch><a:fillRect/></a:stretch></p:blipFill><p:spPr>" +
           xfrmXml(xfrm) + "<a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></p:spPr></p:pic>";
}

std::string connector(int id, const std::string& name, Rect xfrm) {
    return "<p:cxnSp><p:nvCxnSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" + escapeXml(name) +
           "\"/><p:cNvCxnSpPr/><p:nvPr/></p:nvCxnSpPr><p:spPr>" + xfrmXml(xfrm) +
           "<a:prstGeom prst=\"straightConnector1\"><a:avLst/></a:prstGeom><a:ln w=\"12700\"><a:solidFill>"
           "<a:srgbClr val=\"FF0000\"/></a:solidFill></a:ln></p:spPr></p:cxnSp>";
}

std::string group(int id, const std::string& name, Rect xfrm, const std::string& members) {
    return "<p:grpSp><p:nvGrpSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" + escapeXml(name) +
           "\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr><p:grpSpPr><a:xfrm><a:off x=\"" +
           std::to_string(xfrm.x) + "\" y=\"" + std::to_string(xfrm.y) + "\"/><a:ext cx=\"" +
           std::to_string(xfrm.cx) + "\" cy=\"" + std::to_string(xfrm.cy) + "\"/><a:chOff x=\"" +
           std::to_string(xfrm.x) + "\" y=\"" + std::to_string(xfrm.y) + "\"/><a:chExt cx=\"" +
           std::to_string(xfrm.cx) + "\" cy=\"" + std::to_string(xfrm.cy) + "\"/></a:xfrm></p:grpSpPr>" +
           members + "</p:grpSp>";
}

std::string graphicFrame(int id, const std::string& name, Rect xfrm, const std::string& uri) {
    return "<p:graphicFrame><p:nvGraphicFramePr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" +
           escapeXml(name) + "\"/><p:cNvGraphicFramePr/><p:nvPr/></p:nvGraphicFramePr>" + xfrmXml(xfrm, "p") +
           "<a:graphic><a:graphicData uri=\"" + uri + "\"/></a:graphic></p:graphicFrame>";
}

std::string table(int id, const std::string& name, Rect xfrm, const std::string& cellText) {
    return "<p:graphicFrame><p:nvGraphicFramePr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" +
           escapeXml(name) +
           "\"/><p:cNvGraphicFramePr><a:graphicFrameLocks noGrp=\"1\"/></p:cNvGraphicFramePr><p:nvPr/>"
           "</p:nvGraphicFramePr>" +
           xfrmXml(xfrm, "p") +
           "<a:graphic><a:graphicData uri=\"http://schemas.openxmlformats.org/drawingml/2006/table\"><a:tbl>"
           "<a:tblPr firstRow=\"1\" bandRow=\"1\"/><a:tblGrid><a:gridCol w=\"" +
           std::to_string(xfrm.cx) + "\"/></a:tblGrid><a:tr h=\"" + std::to_string(xfrm.cy) +
           "\"><a:tc><a:txBody><a:bodyPr/><a:lstStyle/><a:p>" + run(cellText) +
           "</a:p></a:txBody><a:tcPr/></a:tc></a:tr></a:tbl></a:graphicData></a:graphic></p:graphicFrame>";
}

DeckBuilder::DeckBuilder() = default;

std::vector<std::pair<std::string, std::string>> DeckBuilder::parts() const {
    std::vector<std::pair<std::string, std::string>> out;
    bool anyPicture = false;
    std::vector<int> order = listOrder;
    if (order.empty()) {
        for (std::size_t i = 0; i < slides.size(); ++i) {
            order.push_back(static_cast<int>(i));
        }
    }

    // Content types.
    std::string ct = kDecl +
                     "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                     "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package."
                     "relationships+xml\"/><Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                     "<Default Extension=\"png\" ContentType=\"image/png\"/>";
    auto over = [&](const std::string& part, const std::string& type) {
        ct += "<Override PartName=\"" + part + "\" ContentType=\"" + type + "\"/>";
    };
    over("/ppt/presentation.xml", kCtPml + "presentation.main+xml");
    over("/ppt/slideMasters/slideMaster1.xml", kCtPml + "slideMaster+xml");
    over("/ppt/slideLayouts/slideLayout1.xml", kCtPml + "slideLayout+xml");
    over("/ppt/slideLayouts/slideLayout2.xml", kCtPml + "slideLayout+xml");
    over("/ppt/theme/theme1.xml", "application/vnd.openxmlformats-officedocument.theme+xml");
    if (notesMaster) {
        over("/ppt/notesMasters/notesMaster1.xml", kCtPml + "notesMaster+xml");
        over("/ppt/theme/theme2.xml", "application/vnd.openxmlformats-officedocument.theme+xml");
    }
    int notesCount = 0;
    for (std::size_t i = 0; i < slides.size(); ++i) {
        over("/ppt/slides/slide" + std::to_string(i + 1) + ".xml", kCtPml + "slide+xml");
        if (slides[i].notesShapes) {
            over("/ppt/notesSlides/notesSlide" + std::to_string(++notesCount) + ".xml",
                 kCtPml + "notesSlide+xml");
        }
        anyPicture = anyPicture || slides[i].usesPicture;
    }
    out.emplace_back("[Content_Types].xml", ct + "</Types>");
    out.emplace_back("_rels/.rels", rels({{"officeDocument", "ppt/presentation.xml"}}));

    // Presentation.
    std::string pres = kDecl + "<p:presentation " + kNs;
    if (firstSlideNumber) {
        pres += " firstSlideNum=\"" + std::to_string(*firstSlideNumber) + "\"";
    }
    pres += "><p:sldMasterIdLst><p:sldMasterId id=\"2147483648\" r:id=\"rId1\"/></p:sldMasterIdLst>";
    if (notesMaster) {
        pres += "<p:notesMasterIdLst><p:notesMasterId r:id=\"rId3\"/></p:notesMasterIdLst>";
    }
    pres += "<p:sldIdLst>";
    for (int i : order) {
        pres +=
            "<p:sldId id=\"" + std::to_string(256 + i) + "\" r:id=\"rIdS" + std::to_string(i + 1) + "\"/>";
    }
    pres += "</p:sldIdLst><p:sldSz cx=\"9144000\" cy=\"6858000\" type=\"screen4x3\"/>"
            "<p:notesSz cx=\"6858000\" cy=\"9144000\"/><p:defaultTextStyle>" +
            styleLevels(defaultTextBold, 1800) + "</p:defaultTextStyle></p:presentation>";
    out.emplace_back("ppt/presentation.xml", pres);
    std::vector<std::pair<std::string, std::string>> presRels = {
        {"slideMaster", "slideMasters/slideMaster1.xml"}, {"theme", "theme/theme1.xml"}};
    std::vector<std::string> presIds = {"rId1", "rId2"};
    if (notesMaster) {
        presRels.emplace_back("notesMaster", "notesMasters/notesMaster1.xml");
        presIds.push_back("rId3");
    }
    for (std::size_t i = 0; i < slides.size(); ++i) {
        presRels.emplace_back("slide", "slides/slide" + std::to_string(i + 1) + ".xml");
        presIds.push_back("rIdS" + std::to_string(i + 1));
    }
    out.emplace_back("ppt/_rels/presentation.xml.rels", rels(presRels, presIds));
    out.emplace_back("ppt/theme/theme1.xml", theme());

    // Master: title and body placeholders, text styles.
    std::string master =
        kDecl + "<p:sldMaster " + kNs +
        "><p:cSld><p:bg><p:bgRef idx=\"1001\"><a:schemeClr val=\"bg1\"/></p:bgRef>"
        "</p:bg><p:spTree>" +
        kGroupHead + placeholderShape(2, "Title Placeholder 1", {"title", -1}, masterTitle, {}) +
        placeholderShape(3, "Text Placeholder 2", {"body", 1}, masterBody, {}) + "</p:spTree></p:cSld>" +
        kClrMap +
        "<p:sldLayoutIdLst><p:sldLayoutId id=\"2147483649\" r:id=\"rId1\"/><p:sldLayoutId id=\"2147483650\" "
        "r:id=\"rId2\"/></p:sldLayoutIdLst><p:txStyles><p:titleStyle>" +
        styleLevels(masterTitleBold, 4400) + "</p:titleStyle><p:bodyStyle>" +
        styleLevels(masterBodyBold, 2800) + "</p:bodyStyle><p:otherStyle>" + styleLevels(std::nullopt, 1800) +
        "</p:otherStyle></p:txStyles></p:sldMaster>";
    out.emplace_back("ppt/slideMasters/slideMaster1.xml", master);
    out.emplace_back("ppt/slideMasters/_rels/slideMaster1.xml.rels",
                     rels({{"slideLayout", "../slideLayouts/slideLayout1.xml"},
                           {"slideLayout", "../slideLayouts/slideLayout2.xml"},
                           {"theme", "../theme/theme1.xml"}}));

    // Layout 1: title (no transform: the master's), body with its own transform. Layout 2: title only.
    std::string layout1 =
        kDecl + "<p:sldLayout " + kNs +
        " type=\"obj\" preserve=\"1\"><p:cSld name=\"Title and "
        "Content\"><p:spTree>" +
        kGroupHead + placeholderShape(2, "Title 1", {"title", -1}, std::nullopt, {}, layoutTitleListStyle) +
        placeholderShape(3, "Content Placeholder 2", {"", 1}, layoutBody, {}) +
        "</p:spTree></p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sldLayout>";
    std::string layout2 =
        kDecl + "<p:sldLayout " + kNs +
        " type=\"titleOnly\" preserve=\"1\"><p:cSld name=\"Title "
        "Only\"><p:spTree>" +
        kGroupHead + placeholderShape(2, "Title 1", {"title", -1}, std::nullopt, {}, layoutTitleListStyle) +
        "</p:spTree></p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sldLayout>";
    out.emplace_back("ppt/slideLayouts/slideLayout1.xml", layout1);
    out.emplace_back("ppt/slideLayouts/slideLayout2.xml", layout2);
    out.emplace_back("ppt/slideLayouts/_rels/slideLayout1.xml.rels",
                     rels({{"slideMaster", "../slideMasters/slideMaster1.xml"}}));
    out.emplace_back("ppt/slideLayouts/_rels/slideLayout2.xml.rels",
                     rels({{"slideMaster", "../slideMasters/slideMaster1.xml"}}));

    if (notesMaster) {
        std::string nm =
            kDecl + "<p:notesMaster " + kNs + "><p:cSld><p:spTree>" + kGroupHead +
            "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"Slide Image Placeholder 1\"/><p:cNvSpPr><a:spLocks "
            "noGrp=\"1\"/></p:cNvSpPr><p:nvPr><p:ph type=\"sldImg\" idx=\"2\"/></p:nvPr></p:nvSpPr><p:spPr>" +
            xfrmXml(notesMasterImage) + "</p:spPr></p:sp>" +
            placeholderShape(3, "Notes Placeholder 2", {"body", 3}, notesMasterBody, {}) +
            "</p:spTree></p:cSld>" + kClrMap + "<p:notesStyle>" + styleLevels(std::nullopt, 1200) +
            "</p:notesStyle></p:notesMaster>";
        out.emplace_back("ppt/notesMasters/notesMaster1.xml", nm);
        out.emplace_back("ppt/notesMasters/_rels/notesMaster1.xml.rels",
                         rels({{"theme", "../theme/theme2.xml"}}));
        out.emplace_back("ppt/theme/theme2.xml", theme());
    }

    // Slides, their notes pages and customer data.
    int customCount = 0;
    notesCount = 0;
    for (std::size_t i = 0; i < slides.size(); ++i) {
        const SlideSpec& s = slides[i];
        std::string n = std::to_string(i + 1);
        std::vector<std::pair<std::string, std::string>> slideRels = {
            {"slideLayout", "../slideLayouts/slideLayout" + std::to_string(s.layout) + ".xml"}};
        std::vector<std::string> ids = {"rId1"};
        std::string custData;
        for (const std::string& body : s.customXml) {
            std::string item = std::to_string(++customCount);
            out.emplace_back("customXml/item" + item + ".xml", body);
            slideRels.emplace_back("customXml", "../../customXml/item" + item + ".xml");
            ids.push_back("rIdC" + item);
            custData += "<p:custData r:id=\"rIdC" + item + "\"/>";
        }
        if (s.usesPicture) {
            slideRels.emplace_back("image", "../media/image1.png");
            ids.push_back("rIdImg");
        }
        if (s.notesShapes) {
            std::string nn = std::to_string(++notesCount);
            slideRels.emplace_back("notesSlide", "../notesSlides/notesSlide" + nn + ".xml");
            ids.push_back("rIdN");
            std::string notes = kDecl + "<p:notes " + kNs + "><p:cSld><p:spTree>" + kGroupHead;
            for (const std::string& shape : *s.notesShapes) {
                notes += shape;
            }
            notes += "</p:spTree></p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:notes>";
            out.emplace_back("ppt/notesSlides/notesSlide" + nn + ".xml", notes);
            std::vector<std::pair<std::string, std::string>> notesRels = {
                {"slide", "../slides/slide" + n + ".xml"}};
            if (notesMaster) {
                notesRels.emplace_back("notesMaster", "../notesMasters/notesMaster1.xml");
            }
            out.emplace_back("ppt/notesSlides/_rels/notesSlide" + nn + ".xml.rels", rels(notesRels));
        }
        std::string slide = kDecl + "<p:sld " + kNs + "><p:cSld><p:spTree>" + kGroupHead;
        for (const std::string& shape : s.shapes) {
            slide += shape;
        }
        slide += "</p:spTree>";
        if (!custData.empty()) {
            slide += "<p:custDataLst>" + custData + "</p:custDataLst>";
        }
        slide += "</p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sld>";
        out.emplace_back("ppt/slides/slide" + n + ".xml", slide);
        out.emplace_back("ppt/slides/_rels/slide" + n + ".xml.rels", rels(slideRels, ids));
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

void writeZip(const std::filesystem::path& file,
              const std::vector<std::pair<std::string, std::string>>& entries) {
    int error = 0;
    zip_t* zip = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip) {
        throw std::runtime_error("cannot create " + file.string());
    }
    for (const auto& [name, bytes] : entries) {
        void* copy = std::malloc(bytes.size() ? bytes.size() : 1);
        std::memcpy(copy, bytes.data(), bytes.size());
        zip_source_t* source = zip_source_buffer(zip, copy, bytes.size(), 1);
        if (!source || zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(source);
            zip_discard(zip);
            throw std::runtime_error("cannot add " + name + " to " + file.string());
        }
    }
    if (zip_close(zip) != 0) {
        zip_discard(zip);
        throw std::runtime_error("cannot write " + file.string());
    }
}

namespace {

template <class F> void forEachEntry(const std::filesystem::path& file, zip_flags_t flags, F&& f) {
    int error = 0;
    zip_t* zip = zip_open(file.c_str(), ZIP_RDONLY, &error);
    if (!zip) {
        throw std::runtime_error("cannot open " + file.string() + " as a zip");
    }
    zip_int64_t n = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &st);
        zip_file_t* entry = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), flags);
        std::string bytes;
        std::uint64_t size = (flags & ZIP_FL_COMPRESSED) ? st.comp_size : st.size;
        bytes.resize(size);
        if (entry) {
            zip_fread(entry, bytes.data(), size);
            zip_fclose(entry);
        }
        f(std::string(st.name), static_cast<int>(st.comp_method), std::move(bytes));
    }
    zip_close(zip);
}

} // namespace

std::map<std::string, std::string> readZip(const std::filesystem::path& file) {
    std::map<std::string, std::string> out;
    forEachEntry(file, 0, [&](std::string name, int, std::string bytes) { out[name] = std::move(bytes); });
    return out;
}

std::map<std::string, std::pair<int, std::string>> readZipRaw(const std::filesystem::path& file) {
    std::map<std::string, std::pair<int, std::string>> out;
    forEachEntry(file, ZIP_FL_COMPRESSED, [&](std::string name, int method, std::string bytes) {
        out[name] = {method, std::move(bytes)};
    });
    return out;
}

} // namespace lf::test
