#include "office/builder/drawing.h"

#include "office/builder/deck_xml.h"
#include "office/builder/package.h"

namespace lf::builder {

namespace {

std::string boldAttr(std::optional<bool> bold) {
    if (!bold)
        return {};
    return *bold ? " b=\"1\"" : " b=\"0\"";
}

std::string textBody(const std::string& paragraphs, const std::string& lstStyle) {
    return "<p:txBody><a:bodyPr/>" + (lstStyle.empty() ? std::string("<a:lstStyle/>") : lstStyle) +
           (paragraphs.empty() ? std::string("<a:p><a:endParaRPr lang=\"en-US\"/></a:p>") : paragraphs) +
           "</p:txBody>";
}

std::string phXml(const Ph& ph) {
    std::string s = "<p:ph";
    if (!ph.type.empty())
        s += " type=\"" + ph.type + "\"";
    if (ph.idx >= 0)
        s += " idx=\"" + std::to_string(ph.idx) + "\"";
    return s + "/>";
}

std::string nonVisual(int id, const std::string& name) {
    return "<p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" + escapeXml(name) + "\"/>";
}

} // namespace

std::string xfrmXml(const Rect& r, const char* prefix) {
    const std::string p(prefix);
    return "<" + p + ":xfrm><a:off x=\"" + std::to_string(r.x) + "\" y=\"" + std::to_string(r.y) +
           "\"/><a:ext cx=\"" + std::to_string(r.cx) + "\" cy=\"" + std::to_string(r.cy) + "\"/></" + p +
           ":xfrm>";
}

std::string run(const std::string& text, std::optional<bool> bold, int size) {
    const std::string sz = size > 0 ? " sz=\"" + std::to_string(size) + "\"" : std::string();
    return "<a:r><a:rPr lang=\"en-US\"" + sz + boldAttr(bold) + "/><a:t>" + escapeXml(text) + "</a:t></a:r>";
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
    if (level > 0)
        s += "<a:pPr lvl=\"" + std::to_string(level) + "\"/>";
    return s + runsXml + "<a:endParaRPr lang=\"en-US\"" + boldAttr(endBold) + "/></a:p>";
}

std::string listStyle(std::optional<bool> level1Bold, std::optional<bool> level2Bold) {
    return "<a:lstStyle><a:lvl1pPr><a:defRPr" + boldAttr(level1Bold) + "/></a:lvl1pPr><a:lvl2pPr><a:defRPr" +
           boldAttr(level2Bold) + "/></a:lvl2pPr></a:lstStyle>";
}

std::string textLevels(std::optional<bool> bold, int size) {
    std::string s;
    for (int l = 1; l <= 9; ++l) {
        s += "<a:lvl" + std::to_string(l) + "pPr marL=\"" + std::to_string((l - 1) * 342900) +
             "\"><a:defRPr sz=\"" + std::to_string(size) + "\"" + boldAttr(bold) + "/></a:lvl" +
             std::to_string(l) + "pPr>";
    }
    return s;
}

std::string autoShape(int id, const std::string& name, std::optional<Rect> xfrm,
                      const std::string& paragraphs, const std::string& lstStyle, const std::string& preset) {
    return "<p:sp><p:nvSpPr>" + nonVisual(id, name) + "<p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr>" +
           (xfrm ? xfrmXml(*xfrm) : std::string()) + "<a:prstGeom prst=\"" + preset +
           "\"><a:avLst/></a:prstGeom></p:spPr>" + textBody(paragraphs, lstStyle) + "</p:sp>";
}

std::string textBox(int id, const std::string& name, Rect xfrm, const std::string& paragraphs,
                    const std::string& lstStyle) {
    return "<p:sp><p:nvSpPr>" + nonVisual(id, name) + "<p:cNvSpPr txBox=\"1\"/><p:nvPr/></p:nvSpPr><p:spPr>" +
           xfrmXml(xfrm) + "<a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom><a:noFill/></p:spPr>" +
           textBody(paragraphs, lstStyle) + "</p:sp>";
}

std::string placeholderShape(int id, const std::string& name, Ph ph, std::optional<Rect> xfrm,
                             const std::string& paragraphs, const std::string& lstStyle) {
    return "<p:sp><p:nvSpPr>" + nonVisual(id, name) +
           "<p:cNvSpPr><a:spLocks noGrp=\"1\"/></p:cNvSpPr><p:nvPr>" + phXml(ph) +
           "</p:nvPr></p:nvSpPr><p:spPr>" + (xfrm ? xfrmXml(*xfrm) : std::string()) + "</p:spPr>" +
           textBody(paragraphs, lstStyle) + "</p:sp>";
}

std::string freeform(int id, const std::string& name, Rect xfrm) {
    return "<p:sp><p:nvSpPr>" + nonVisual(id, name) + "<p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr>" +
           xfrmXml(xfrm) +
           "<a:custGeom><a:avLst/><a:gdLst/><a:ahLst/><a:cxnLst/><a:rect l=\"0\" t=\"0\" r=\"r\" b=\"b\"/>"
           "<a:pathLst><a:path w=\"100\" h=\"100\"><a:moveTo><a:pt x=\"0\" y=\"0\"/></a:moveTo><a:lnTo>"
           "<a:pt x=\"100\" y=\"100\"/></a:lnTo><a:lnTo><a:pt x=\"0\" y=\"100\"/></a:lnTo><a:close/></a:path>"
           "</a:pathLst></a:custGeom></p:spPr>" +
           textBody({}, {}) + "</p:sp>";
}

std::string picture(int id, const std::string& name, Rect xfrm) {
    return "<p:pic><p:nvPicPr>" + nonVisual(id, name) +
           "<p:cNvPicPr><a:picLocks noChangeAspect=\"1\"/></p:cNvPicPr><p:nvPr/></p:nvPicPr><p:blipFill>"
           "<a:blip r:embed=\"rIdImg\"/><a:stretch><a:fillRect/></a:stretch></p:blipFill><p:spPr>" +
           xfrmXml(xfrm) + "<a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></p:spPr></p:pic>";
}

std::string connector(int id, const std::string& name, Rect xfrm) {
    return "<p:cxnSp><p:nvCxnSpPr>" + nonVisual(id, name) + "<p:cNvCxnSpPr/><p:nvPr/></p:nvCxnSpPr><p:spPr>" +
           xfrmXml(xfrm) +
           "<a:prstGeom prst=\"straightConnector1\"><a:avLst/></a:prstGeom><a:ln w=\"12700\"><a:solidFill>"
           "<a:srgbClr val=\"FF0000\"/></a:solidFill></a:ln></p:spPr></p:cxnSp>";
}

std::string group(int id, const std::string& name, Rect xfrm, const std::string& members) {
    return "<p:grpSp><p:nvGrpSpPr>" + nonVisual(id, name) + "<p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>" +
           groupProperties(xfrm, xfrm) + members + "</p:grpSp>";
}

std::string groupProperties(const Rect& xfrm, const Rect& children) {
    return "<p:grpSpPr><a:xfrm><a:off x=\"" + std::to_string(xfrm.x) + "\" y=\"" + std::to_string(xfrm.y) +
           "\"/><a:ext cx=\"" + std::to_string(xfrm.cx) + "\" cy=\"" + std::to_string(xfrm.cy) +
           "\"/><a:chOff x=\"" + std::to_string(children.x) + "\" y=\"" + std::to_string(children.y) +
           "\"/><a:chExt cx=\"" + std::to_string(children.cx) + "\" cy=\"" + std::to_string(children.cy) +
           "\"/></a:xfrm></p:grpSpPr>";
}

std::string shapeTreeHead() {
    return "<p:nvGrpSpPr>" + nonVisual(1, "") + "<p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>" +
           groupProperties(Rect{0, 0, 0, 0}, Rect{0, 0, 0, 0});
}

std::string graphicFrame(int id, const std::string& name, Rect xfrm, const std::string& uri) {
    return "<p:graphicFrame><p:nvGraphicFramePr>" + nonVisual(id, name) +
           "<p:cNvGraphicFramePr/><p:nvPr/></p:nvGraphicFramePr>" + xfrmXml(xfrm, "p") +
           "<a:graphic><a:graphicData uri=\"" + uri + "\"/></a:graphic></p:graphicFrame>";
}

std::string table(int id, const std::string& name, Rect xfrm, const std::string& cellText) {
    return "<p:graphicFrame><p:nvGraphicFramePr>" + nonVisual(id, name) +
           "<p:cNvGraphicFramePr><a:graphicFrameLocks noGrp=\"1\"/></p:cNvGraphicFramePr><p:nvPr/>"
           "</p:nvGraphicFramePr>" +
           xfrmXml(xfrm, "p") +
           "<a:graphic><a:graphicData uri=\"http://schemas.openxmlformats.org/drawingml/2006/table\"><a:tbl>"
           "<a:tblPr firstRow=\"1\" bandRow=\"1\"/><a:tblGrid><a:gridCol w=\"" +
           std::to_string(xfrm.cx) + "\"/></a:tblGrid><a:tr h=\"" + std::to_string(xfrm.cy) +
           "\"><a:tc><a:txBody><a:bodyPr/><a:lstStyle/><a:p>" + run(cellText) +
           "</a:p></a:txBody><a:tcPr/></a:tc></a:tr></a:tbl></a:graphicData></a:graphic></p:graphicFrame>";
}

std::string taggedWord(const std::string& word) {
    return kXmlDeclaration + "<tagwise xmlns=\"\"><entry><indexword>" + escapeXml(word) +
           "</indexword></entry></tagwise>";
}

} // namespace lf::builder
