// Notes pages: finding a slide's notes page, and making one (with a notes master and its theme when
// the deck has none) the way the office application does when a slide's notes page is first used.
#include "office/presentation/deck.h"
#include "office/presentation/presentation.h"

#include <cmath>
#include <cstdlib>

namespace lf::ppt {

using oxml::child;
using oxml::localName;

namespace {

constexpr const char* kNotesSlideType =
    "application/vnd.openxmlformats-officedocument.presentationml.notesSlide+xml";
constexpr const char* kNotesMasterType =
    "application/vnd.openxmlformats-officedocument.presentationml.notesMaster+xml";
constexpr const char* kThemeType = "application/vnd.openxmlformats-officedocument.theme+xml";

constexpr const char* kNamespaces =
    R"(xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" )"
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" )"
    R"(xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main")";

constexpr const char* kGroupProperties =
    R"(<p:nvGrpSpPr><p:cNvPr id="1" name=""/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>)"
    R"(<p:grpSpPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="0" cy="0"/><a:chOff x="0" y="0"/>)"
    R"(<a:chExt cx="0" cy="0"/></a:xfrm></p:grpSpPr>)";

std::string notesSlideXml() {
    return std::string(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)") + "\n<p:notes " +
           kNamespaces + "><p:cSld><p:spTree>" + kGroupProperties +
           R"(<p:sp><p:nvSpPr><p:cNvPr id="2" name="Slide Image Placeholder 1"/>)"
           R"(<p:cNvSpPr><a:spLocks noGrp="1" noRot="1" noChangeAspect="1"/></p:cNvSpPr>)"
           R"(<p:nvPr><p:ph type="sldImg"/></p:nvPr></p:nvSpPr><p:spPr/></p:sp>)"
           R"(<p:sp><p:nvSpPr><p:cNvPr id="3" name="Notes Placeholder 2"/>)"
           R"(<p:cNvSpPr><a:spLocks noGrp="1"/></p:cNvSpPr><p:nvPr><p:ph type="body" idx="1"/></p:nvPr>)"
           R"(</p:nvSpPr><p:spPr/><p:txBody><a:bodyPr/><a:lstStyle/><a:p><a:endParaRPr lang="en-US"/></a:p>)"
           R"(</p:txBody></p:sp></p:spTree></p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:notes>)";
}

std::string placeholderXml(int id, const char* name, const char* phType, int idx, std::int64_t x,
                           std::int64_t y, std::int64_t cx, std::int64_t cy, bool text) {
    std::string s = "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" + name +
                    "\"/><p:cNvSpPr><a:spLocks noGrp=\"1\"/></p:cNvSpPr><p:nvPr><p:ph type=\"" + phType +
                    "\"";
    if (idx > 0) {
        s += " idx=\"" + std::to_string(idx) + "\"";
    }
    s += "/></p:nvPr></p:nvSpPr><p:spPr><a:xfrm><a:off x=\"" + std::to_string(x) + "\" y=\"" +
         std::to_string(y) + "\"/><a:ext cx=\"" + std::to_string(cx) + "\" cy=\"" + std::to_string(cy) +
         "\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom>";
    if (!text) {
        s += "<a:noFill/><a:ln w=\"12700\"><a:solidFill><a:prstClr val=\"black\"/></a:solidFill></a:ln>";
    }
    s += "</p:spPr>";
    if (text) {
        s += "<p:txBody><a:bodyPr vert=\"horz\" lIns=\"91440\" tIns=\"45720\" rIns=\"91440\" bIns=\"45720\" "
             "rtlCol=\"0\"/><a:lstStyle/><a:p><a:endParaRPr lang=\"en-US\"/></a:p></p:txBody>";
    }
    return s + "</p:sp>";
}

// A notes master laid out on a notes page of cx by cy EMU, in the proportions of the usual one
// (7.5 by 10 inches): header and date at the top, slide image, notes text, footer and number below.
std::string notesMasterXml(std::int64_t cx, std::int64_t cy) {
    auto sx = [cx](double f) { return static_cast<std::int64_t>(std::llround(f * static_cast<double>(cx))); };
    auto sy = [cy](double f) { return static_cast<std::int64_t>(std::llround(f * static_cast<double>(cy))); };
    std::string s = std::string(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)") +
                    "\n<p:notesMaster " + kNamespaces +
                    "><p:cSld><p:bg><p:bgRef idx=\"1001\"><a:schemeClr val=\"bg1\"/>"
                    "</p:bgRef></p:bg><p:spTree>" +
                    kGroupProperties;
    s += placeholderXml(2, "Header Placeholder 1", "hdr", 0, 0, 0, sx(0.4333), sy(0.0502), true);
    s += placeholderXml(3, "Date Placeholder 2", "dt", 1, sx(0.5664), 0, sx(0.4333), sy(0.0502), true);
    s += placeholderXml(4, "Slide Image Placeholder 3", "sldImg", 2, sx(0.1667), sy(0.075), sx(0.6667),
                        sy(0.375), false);
    s += placeholderXml(5, "Notes Placeholder 4", "body", 3, sx(0.1), sy(0.4813), sx(0.8), sy(0.3938), true);
    s += placeholderXml(6, "Footer Placeholder 5", "ftr", 4, 0, sy(0.9498), sx(0.4333), sy(0.0502), true);
    s += placeholderXml(7, "Slide Number Placeholder 6", "sldNum", 5, sx(0.5664), sy(0.9498), sx(0.4333),
                        sy(0.0502), true);
    s += R"(</p:spTree></p:cSld><p:clrMap bg1="lt1" tx1="dk1" bg2="lt2" tx2="dk2" accent1="accent1" )"
         R"(accent2="accent2" accent3="accent3" accent4="accent4" accent5="accent5" accent6="accent6" )"
         R"(hlink="hlink" folHlink="folHlink"/><p:notesStyle>)";
    for (int level = 1; level <= 9; ++level) {
        s += "<a:lvl" + std::to_string(level) + "pPr marL=\"" + std::to_string((level - 1) * 457200) +
             "\" algn=\"l\" defTabSz=\"914400\" rtl=\"0\" eaLnBrk=\"1\" latinLnBrk=\"0\" hangingPunct=\"1\">"
             "<a:defRPr sz=\"1200\" kern=\"1200\"><a:solidFill><a:schemeClr val=\"tx1\"/></a:solidFill>"
             "<a:latin typeface=\"+mn-lt\"/><a:ea typeface=\"+mn-ea\"/><a:cs "
             "typeface=\"+mn-cs\"/></a:defRPr></a:lvl" +
             std::to_string(level) + "pPr>";
    }
    s += "</p:notesStyle></p:notesMaster>";
    return s;
}

std::string themeXml() {
    std::string colors;
    const char* names[][2] = {{"dk2", "44546A"},     {"lt2", "E7E6E6"},     {"accent1", "4472C4"},
                              {"accent2", "ED7D31"}, {"accent3", "A5A5A5"}, {"accent4", "FFC000"},
                              {"accent5", "5B9BD5"}, {"accent6", "70AD47"}, {"hlink", "0563C1"},
                              {"folHlink", "954F72"}};
    for (auto& n : names) {
        colors += std::string("<a:") + n[0] + "><a:srgbClr val=\"" + n[1] + "\"/></a:" + n[0] + ">";
    }
    std::string fill = R"(<a:solidFill><a:schemeClr val="phClr"/></a:solidFill>)";
    std::string line = R"(<a:ln w="6350"><a:solidFill><a:schemeClr val="phClr"/></a:solidFill></a:ln>)";
    std::string effect = R"(<a:effectStyle><a:effectLst/></a:effectStyle>)";
    return std::string(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)") +
           "\n<a:theme xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" name=\"Office "
           "Theme\">"
           "<a:themeElements><a:clrScheme name=\"Office\"><a:dk1><a:sysClr val=\"windowText\" "
           "lastClr=\"000000\"/>"
           "</a:dk1><a:lt1><a:sysClr val=\"window\" lastClr=\"FFFFFF\"/></a:lt1>" +
           colors +
           "</a:clrScheme><a:fontScheme name=\"Office\"><a:majorFont><a:latin typeface=\"Calibri Light\"/>"
           "<a:ea typeface=\"\"/><a:cs typeface=\"\"/></a:majorFont><a:minorFont><a:latin "
           "typeface=\"Calibri\"/>"
           "<a:ea typeface=\"\"/><a:cs typeface=\"\"/></a:minorFont></a:fontScheme><a:fmtScheme "
           "name=\"Office\">"
           "<a:fillStyleLst>" +
           fill + fill + fill + "</a:fillStyleLst><a:lnStyleLst>" + line + line + line +
           "</a:lnStyleLst><a:effectStyleLst>" + effect + effect + effect +
           "</a:effectStyleLst><a:bgFillStyleLst>" + fill + fill + fill +
           "</a:bgFillStyleLst></a:fmtScheme></a:themeElements><a:objectDefaults/>"
           "<a:extraClrSchemeLst/></a:theme>";
}

void load(pugi::xml_document& doc, const std::string& xml) {
    pugi::xml_parse_result ok = doc.load_string(xml.c_str(), pugi::parse_full);
    (void)ok; // the texts above are fixed and well-formed
}

} // namespace

std::optional<std::string> Deck::notesPage(std::size_t slideIndex, bool create) {
    const std::string& slide = slides_.at(slideIndex).part;
    if (auto notes = related(slide, "notesSlide")) {
        return notes;
    }
    if (!create) {
        return std::nullopt;
    }
    requireWritable();
    std::string master = ensureNotesMaster();
    std::string notes = package().nextPartName("/ppt/notesSlides/notesSlide%d.xml");
    load(package().createXmlPart(notes, kNotesSlideType), notesSlideXml());
    addRelationship(notes, "notesMaster", master);
    addRelationship(notes, "slide", slide);
    addRelationship(slide, "notesSlide", notes);
    return notes;
}

std::string Deck::ensureNotesMaster() {
    if (auto existing = related(presentationPart_, "notesMaster")) {
        if (package().hasPart(*existing)) {
            return *existing;
        }
    }
    pugi::xml_node presentation = root(presentationPart_);
    // The notes page size the master is laid out on; a deck without one gets the usual 7.5 by 10 inches.
    pugi::xml_node notesSize = child(presentation, "notesSz");
    if (!notesSize) {
        pugi::xml_node after = child(presentation, "sldSz");
        if (!after) {
            after = child(presentation, "sldIdLst");
        }
        notesSize = oxml::insertElementAfter(presentation, after ? after : presentation.last_child(),
                                             oxml::kPresentationNs, "p", "notesSz");
        notesSize.append_attribute("cx") = 6858000;
        notesSize.append_attribute("cy") = 9144000;
    }
    std::int64_t cx = std::strtoll(oxml::attribute(notesSize, "cx").value(), nullptr, 10);
    std::int64_t cy = std::strtoll(oxml::attribute(notesSize, "cy").value(), nullptr, 10);
    if (cx <= 0 || cy <= 0) {
        cx = 6858000;
        cy = 9144000;
    }

    std::string theme = package().nextPartName("/ppt/theme/theme%d.xml");
    load(package().createXmlPart(theme, kThemeType), themeXml());
    std::string master = package().nextPartName("/ppt/notesMasters/notesMaster%d.xml");
    load(package().createXmlPart(master, kNotesMasterType), notesMasterXml(cx, cy));
    addRelationship(master, "theme", theme);
    std::string rid = addRelationship(presentationPart_, "notesMaster", master);

    // The notes master list follows the slide master list.
    pugi::xml_node list = child(presentation, "notesMasterIdLst");
    if (!list) {
        list = oxml::insertElementAfter(presentation, child(presentation, "sldMasterIdLst"),
                                        oxml::kPresentationNs, "p", "notesMasterIdLst");
    }
    list.remove_children();
    pugi::xml_node id = oxml::appendElement(list, oxml::kPresentationNs, "p", "notesMasterId");
    std::string r = oxml::prefixFor(presentation, oxml::kRelationshipsNs, "r");
    id.append_attribute((r.empty() ? std::string("id") : r + ":id").c_str()) = rid.c_str();
    touch(presentationPart_);
    return master;
}

} // namespace lf::ppt
