#include "sample_course.h"

#include <zip.h>

#include <filesystem>
#include <stdexcept>
#include <utility>

namespace lf::tessarel::sample {

namespace {

using Parts = std::vector<std::pair<std::string, std::string>>;

std::string escapeXml(const std::string& s) {
    std::string out;
    for (char c : s) {
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

void writePackage(const std::string& path, const Parts& parts) {
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!z)
        throw std::runtime_error("Cannot create " + path);
    for (const auto& [name, text] : parts) {
        zip_source_t* src = zip_source_buffer(z, text.data(), text.size(), 0);
        if (!src || zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(src);
            zip_discard(z);
            throw std::runtime_error("Cannot add " + name + " to " + path);
        }
    }
    if (zip_close(z) != 0) {
        zip_discard(z);
        throw std::runtime_error("Cannot write " + path);
    }
}

const char* kXmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const char* kNsP = "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
                   "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
                   "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"";
const char* kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const char* kPkgRelNs = "http://schemas.openxmlformats.org/package/2006/relationships";

std::string rel(const std::string& id, const std::string& type, const std::string& target) {
    return "<Relationship Id=\"" + id + "\" Type=\"" + kRelNs + "/" + type + "\" Target=\"" + target + "\"/>";
}
std::string rels(const std::string& body) {
    return std::string(kXmlHead) + "<Relationships xmlns=\"" + kPkgRelNs + "\">" + body + "</Relationships>";
}

std::string theme() {
    std::string fill = "<a:solidFill><a:schemeClr val=\"phClr\"/></a:solidFill>";
    std::string line = "<a:ln w=\"9525\"><a:solidFill><a:schemeClr val=\"phClr\"/></a:solidFill></a:ln>";
    std::string effect = "<a:effectStyle><a:effectLst/></a:effectStyle>";
    auto color = [](const char* name, const char* rgb) {
        return std::string("<a:") + name + "><a:srgbClr val=\"" + rgb + "\"/></a:" + name + ">";
    };
    return std::string(kXmlHead) +
           "<a:theme xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" name=\"Sample\">"
           "<a:themeElements><a:clrScheme name=\"Sample\">"
           "<a:dk1><a:sysClr val=\"windowText\" lastClr=\"000000\"/></a:dk1>"
           "<a:lt1><a:sysClr val=\"window\" lastClr=\"FFFFFF\"/></a:lt1>" +
           color("dk2", "1F497D") + color("lt2", "EEECE1") + color("accent1", "4F81BD") +
           color("accent2", "C0504D") + color("accent3", "9BBB59") + color("accent4", "8064A2") +
           color("accent5", "4BACC6") + color("accent6", "F79646") + color("hlink", "0000FF") +
           color("folHlink", "800080") +
           "</a:clrScheme><a:fontScheme name=\"Sample\">"
           "<a:majorFont><a:latin typeface=\"Calibri\"/><a:ea typeface=\"\"/><a:cs "
           "typeface=\"\"/></a:majorFont>"
           "<a:minorFont><a:latin typeface=\"Calibri\"/><a:ea typeface=\"\"/><a:cs "
           "typeface=\"\"/></a:minorFont>"
           "</a:fontScheme><a:fmtScheme name=\"Sample\"><a:fillStyleLst>" +
           fill + fill + fill + "</a:fillStyleLst><a:lnStyleLst>" + line + line + line +
           "</a:lnStyleLst><a:effectStyleLst>" + effect + effect + effect +
           "</a:effectStyleLst><a:bgFillStyleLst>" + fill + fill + fill +
           "</a:bgFillStyleLst></a:fmtScheme></a:themeElements></a:theme>";
}

std::string emptyTree() {
    return "<p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>"
           "<p:grpSpPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext cx=\"0\" cy=\"0\"/>"
           "<a:chOff x=\"0\" y=\"0\"/><a:chExt cx=\"0\" cy=\"0\"/></a:xfrm></p:grpSpPr>";
}

std::string textShape(int id, const std::string& name, long x, long y, long cx, long cy,
                      const std::string& text, bool bold, int size) {
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" + escapeXml(name) +
           "\"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr><a:xfrm><a:off x=\"" + std::to_string(x) + "\" y=\"" +
           std::to_string(y) + "\"/><a:ext cx=\"" + std::to_string(cx) + "\" cy=\"" + std::to_string(cy) +
           "\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></p:spPr>"
           "<p:txBody><a:bodyPr wrap=\"square\"/><a:lstStyle/><a:p><a:r><a:rPr lang=\"en-US\" sz=\"" +
           std::to_string(size * 100) + "\"" + (bold ? " b=\"1\"" : "") + " dirty=\"0\"/><a:t>" +
           escapeXml(text) + "</a:t></a:r></a:p></p:txBody></p:sp>";
}

} // namespace

void writeDeck(const std::string& path, const std::vector<SampleSlide>& slides) {
    Parts parts;
    std::string types =
        std::string(kXmlHead) +
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/ppt/presentation.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml\"/>"
        "<Override PartName=\"/ppt/slideMasters/slideMaster1.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.presentationml.slideMaster+xml\"/>"
        "<Override PartName=\"/ppt/slideLayouts/slideLayout1.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.presentationml.slideLayout+xml\"/>"
        "<Override PartName=\"/ppt/theme/theme1.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.theme+xml\"/>";
    std::string presRels = rel("rId1", "slideMaster", "slideMasters/slideMaster1.xml");
    std::string sldIds;
    int customItem = 0;
    std::vector<std::pair<std::string, std::string>> slideParts;
    for (size_t i = 0; i < slides.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        const auto& s = slides[i];
        types +=
            "<Override PartName=\"/ppt/slides/slide" + n +
            ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.presentationml.slide+xml\"/>";
        presRels += rel("rId" + std::to_string(i + 3), "slide", "slides/slide" + n + ".xml");
        sldIds +=
            "<p:sldId id=\"" + std::to_string(256 + i) + "\" r:id=\"rId" + std::to_string(i + 3) + "\"/>";
        std::string slideRels = rel("rId1", "slideLayout", "../slideLayouts/slideLayout1.xml");
        std::string custData;
        if (!s.indexWord.empty()) {
            ++customItem;
            const std::string c = std::to_string(customItem);
            slideRels += rel("rId2", "customXml", "../../customXml/item" + c + ".xml");
            custData = "<p:custDataLst><p:custData r:id=\"rId2\"/></p:custDataLst>";
            parts.push_back({"customXml/item" + c + ".xml", std::string(kXmlHead) + "<tagwise><indexword>" +
                                                                escapeXml(s.indexWord) +
                                                                "</indexword></tagwise>"});
            parts.push_back({"customXml/_rels/item" + c + ".xml.rels",
                             rels(rel("rId1", "customXmlProps", "itemProps" + c + ".xml"))});
            parts.push_back(
                {"customXml/itemProps" + c + ".xml",
                 std::string(kXmlHead) + "<ds:datastoreItem ds:itemID=\"{6C2E4A10-0000-4000-8000-0000000000" +
                     (customItem < 10 ? "0" : "") + c +
                     "}\" xmlns:ds=\"http://schemas.openxmlformats.org/officeDocument/2006/customXml\">"
                     "<ds:schemaRefs/></ds:datastoreItem>"});
            types +=
                "<Override PartName=\"/customXml/itemProps" + c +
                ".xml\" "
                "ContentType=\"application/vnd.openxmlformats-officedocument.customXmlProperties+xml\"/>";
        }
        const std::string slide =
            std::string(kXmlHead) + "<p:sld " + kNsP + "><p:cSld><p:spTree>" + emptyTree() +
            textShape(2, "Rectangle 2", 457200, 304800, 8229600, 533400, s.title, true, 32) +
            textShape(3, "TextBox 3", 457200, 1600200, 8229600, 4525963, s.body, false, 20) + "</p:spTree>" +
            custData + "</p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sld>";
        slideParts.push_back({"ppt/slides/slide" + n + ".xml", slide});
        slideParts.push_back({"ppt/slides/_rels/slide" + n + ".xml.rels", rels(slideRels)});
    }
    presRels += rel("rId2", "theme", "theme/theme1.xml");
    types += "</Types>";
    Parts all;
    all.push_back({"[Content_Types].xml", types});
    all.push_back({"_rels/.rels", rels(rel("rId1", "officeDocument", "ppt/presentation.xml"))});
    all.push_back(
        {"ppt/presentation.xml",
         std::string(kXmlHead) + "<p:presentation " + kNsP +
             "><p:sldMasterIdLst><p:sldMasterId id=\"2147483648\" r:id=\"rId1\"/></p:sldMasterIdLst>"
             "<p:sldIdLst>" +
             sldIds +
             "</p:sldIdLst>"
             "<p:sldSz cx=\"9144000\" cy=\"6858000\" type=\"screen4x3\"/><p:notesSz cx=\"6858000\" "
             "cy=\"9144000\"/>"
             "</p:presentation>"});
    all.push_back({"ppt/_rels/presentation.xml.rels", rels(presRels)});
    all.push_back({"ppt/slideMasters/slideMaster1.xml",
                   std::string(kXmlHead) + "<p:sldMaster " + kNsP + "><p:cSld><p:spTree>" + emptyTree() +
                       "</p:spTree></p:cSld><p:clrMap bg1=\"lt1\" tx1=\"dk1\" bg2=\"lt2\" tx2=\"dk2\" "
                       "accent1=\"accent1\" "
                       "accent2=\"accent2\" accent3=\"accent3\" accent4=\"accent4\" accent5=\"accent5\" "
                       "accent6=\"accent6\" hlink=\"hlink\" folHlink=\"folHlink\"/>"
                       "<p:sldLayoutIdLst><p:sldLayoutId id=\"2147483649\" "
                       "r:id=\"rId1\"/></p:sldLayoutIdLst></p:sldMaster>"});
    all.push_back({"ppt/slideMasters/_rels/slideMaster1.xml.rels",
                   rels(rel("rId1", "slideLayout", "../slideLayouts/slideLayout1.xml") +
                        rel("rId2", "theme", "../theme/theme1.xml"))});
    all.push_back({"ppt/slideLayouts/slideLayout1.xml",
                   std::string(kXmlHead) + "<p:sldLayout " + kNsP +
                       " type=\"blank\" preserve=\"1\"><p:cSld name=\"Blank\"><p:spTree>" + emptyTree() +
                       "</p:spTree></p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sldLayout>"});
    all.push_back({"ppt/slideLayouts/_rels/slideLayout1.xml.rels",
                   rels(rel("rId1", "slideMaster", "../slideMasters/slideMaster1.xml"))});
    all.push_back({"ppt/theme/theme1.xml", theme()});
    for (auto& p : slideParts)
        all.push_back(std::move(p));
    for (auto& p : parts)
        all.push_back(std::move(p));
    writePackage(path, all);
}

void writeDocument(const std::string& path, const std::vector<std::string>& paragraphs, bool templateStyles) {
    const char* w = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
                    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
    std::string body;
    for (const auto& p : paragraphs)
        body += "<w:p><w:r><w:t xml:space=\"preserve\">" + escapeXml(p) + "</w:t></w:r></w:p>";
    std::string sect = "<w:sectPr>";
    if (templateStyles)
        sect += "<w:headerReference w:type=\"default\" r:id=\"rId2\"/>";
    sect += "<w:pgSz w:w=\"12240\" w:h=\"15840\"/><w:pgMar w:top=\"1440\" w:right=\"1440\" w:bottom=\"1440\" "
            "w:left=\"1440\" w:header=\"720\" w:footer=\"720\" w:gutter=\"0\"/></w:sectPr>";
    std::string styles =
        std::string(kXmlHead) + "<w:styles " + w +
        "><w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"><w:name w:val=\"Normal\"/>"
        "<w:rPr><w:sz w:val=\"22\"/></w:rPr></w:style>";
    if (templateStyles) {
        styles += "<w:style w:type=\"paragraph\" w:styleId=\"TOC2\"><w:name w:val=\"toc 2\"/><w:basedOn "
                  "w:val=\"Normal\"/>"
                  "<w:pPr><w:tabs><w:tab w:val=\"right\" w:leader=\"dot\" w:pos=\"9350\"/></w:tabs><w:ind "
                  "w:left=\"220\"/></w:pPr></w:style>"
                  "<w:style w:type=\"paragraph\" w:styleId=\"TOC3\"><w:name w:val=\"toc 3\"/><w:basedOn "
                  "w:val=\"Normal\"/>"
                  "<w:pPr><w:ind w:left=\"440\"/></w:pPr></w:style>";
    }
    styles += "</w:styles>";
    std::string types =
        std::string(kXmlHead) +
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/word/document.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
        "<Override PartName=\"/word/styles.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml\"/>";
    std::string docRels = rel("rId1", "styles", "styles.xml");
    Parts parts;
    if (templateStyles) {
        types +=
            "<Override PartName=\"/word/header1.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.header+xml\"/>";
        docRels += rel("rId2", "header", "header1.xml");
        parts.push_back({"word/header1.xml", std::string(kXmlHead) + "<w:hdr " + w +
                                                 "><w:p><w:r><w:t>Course Name</w:t></w:r></w:p></w:hdr>"});
    }
    types += "</Types>";
    Parts all;
    all.push_back({"[Content_Types].xml", types});
    all.push_back({"_rels/.rels", rels(rel("rId1", "officeDocument", "word/document.xml"))});
    all.push_back({"word/document.xml", std::string(kXmlHead) + "<w:document " + w + "><w:body>" + body +
                                            sect + "</w:body></w:document>"});
    all.push_back({"word/_rels/document.xml.rels", rels(docRels)});
    all.push_back({"word/styles.xml", styles});
    for (auto& p : parts)
        all.push_back(std::move(p));
    writePackage(path, all);
}

std::vector<std::string> writeSampleCourse(const std::string& folder) {
    std::filesystem::create_directories(folder);
    const std::vector<std::pair<std::string, std::vector<SampleSlide>>> decks = {
        {"01_Introduction.pptx",
         {{"Welcome to the Course", "What this course covers and how it is organised.", "course"},
          {"Course Objectives", "Understand storage, protect data, restore it.", "objective"},
          {"How the Labs Work", "Each module ends with a short lab.", "lab"}}},
        {"02_Storage.pptx",
         {{"Storage Basics", "Disks, volumes and file systems.", "volume"},
          {"Storage Tiers", "Fast, capacity and archive tiers.", "tier"},
          {"Quotas", "Limiting how much a user may store.", "quota"}}},
        {"03_Backup.pptx",
         {{"Why Back Up", "Hardware fails; people delete files.", "backup"},
          {"Full and Incremental Backups", "Trading time for space.", "incremental"},
          {"Restoring Files", "Finding and restoring a lost file.", "restore"}}},
        {"03a_Labs.pptx",
         {{"Lab: Make a Backup", "Back up the lab folder to the backup volume.", "backup"},
          {"Lab: Restore a File", "Restore yesterday's copy of report.txt.", "restore"}}},
    };
    std::vector<std::string> names;
    for (const auto& [name, slides] : decks) {
        writeDeck(folder + "/" + name, slides);
        names.push_back(name);
    }
    writeDocument(folder + "/Course Overview.docx",
                  {"Course Overview", "This sample course has three modules and a lab deck.",
                   "Module 1: Introduction", "Module 2: Storage", "Module 3: Backup"},
                  false);
    names.push_back("Course Overview.docx");
    writeDocument(folder + "/Lab Guide.docx",
                  {"Lab Guide", "Lab 1: Make a backup of the lab folder.", "Lab 2: Restore a file."}, false);
    names.push_back("Lab Guide.docx");
    return names;
}

std::vector<std::string> writeSampleTemplates(const std::string& folder) {
    std::filesystem::create_directories(folder);
    writeDocument(folder + "/TOC.docx", {}, true);
    writeDocument(folder + "/Index.docx", {}, true);
    return {"TOC.docx", "Index.docx"};
}

} // namespace lf::tessarel::sample
