#include "office/builder/document.h"

namespace lf::builder {

namespace {

const std::string kNs = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
                        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
const std::string kCtWml = "application/vnd.openxmlformats-officedocument.wordprocessingml.";

std::string textParagraph(const std::string& text, const std::string& styleId = std::string()) {
    const std::string pPr =
        styleId.empty() ? std::string() : "<w:pPr><w:pStyle w:val=\"" + escapeXml(styleId) + "\"/></w:pPr>";
    return "<w:p>" + pPr + "<w:r><w:t xml:space=\"preserve\">" + escapeXml(text) + "</w:t></w:r></w:p>";
}

std::string valueElement(const char* name, const std::string& value) {
    return value.empty() ? std::string()
                         : "<w:" + std::string(name) + " w:val=\"" + escapeXml(value) + "\"/>";
}

std::string styleXml(const WordStyle& s) {
    std::string xml = "<w:style w:type=\"paragraph\"" + std::string(s.isDefault ? " w:default=\"1\"" : "") +
                      " w:styleId=\"" + escapeXml(s.id) + "\">" + valueElement("name", s.name) +
                      valueElement("basedOn", s.basedOn) + valueElement("next", s.next);
    if (s.quickFormat)
        xml += "<w:qFormat/>";
    if (!s.paragraphProperties.empty())
        xml += "<w:pPr>" + s.paragraphProperties + "</w:pPr>";
    if (!s.runProperties.empty())
        xml += "<w:rPr>" + s.runProperties + "</w:rPr>";
    return xml + "</w:style>";
}

} // namespace

Parts WordDocument::parts() const {
    ContentTypes ct;
    ct.add("/word/document.xml", kCtWml + "document.main+xml");
    ct.add("/word/styles.xml", kCtWml + "styles+xml");
    std::vector<std::pair<std::string, std::string>> documentRels = {{"styles", "styles.xml"}};
    if (header) {
        ct.add("/word/header1.xml", kCtWml + "header+xml");
        documentRels.emplace_back("header", "header1.xml");
    }

    std::string body;
    for (std::size_t i = 0; i < paragraphs.size(); ++i)
        body += textParagraph(paragraphs[i], i < paragraphStyles.size() ? paragraphStyles[i] : std::string());
    body += "<w:sectPr>";
    if (header)
        body += "<w:headerReference w:type=\"default\" r:id=\"rId2\"/>";
    body += "<w:pgSz w:w=\"12240\" w:h=\"15840\"/><w:pgMar w:top=\"1440\" w:right=\"1440\" w:bottom=\"1440\" "
            "w:left=\"1440\" w:header=\"720\" w:footer=\"720\" w:gutter=\"0\"/></w:sectPr>";

    std::string styleList = kXmlDeclaration + "<w:styles " + kNs + ">";
    if (!defaultRunProperties.empty()) {
        styleList += "<w:docDefaults><w:rPrDefault><w:rPr>" + defaultRunProperties +
                     "</w:rPr></w:rPrDefault><w:pPrDefault/></w:docDefaults>";
    }
    for (const WordStyle& style : styles)
        styleList += styleXml(style);

    std::vector<std::pair<std::string, std::string>> packageRels = {{"officeDocument", "word/document.xml"}};
    if (!title.empty()) {
        ct.add("/docProps/core.xml", "application/vnd.openxmlformats-package.core-properties+xml");
        packageRels.emplace_back(
            "http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties",
            "docProps/core.xml");
    }
    Parts out = {
        {"[Content_Types].xml", ct.xml()},
        {"_rels/.rels", relationships(packageRels)},
        {"word/_rels/document.xml.rels", relationships(documentRels)},
        {"word/document.xml",
         kXmlDeclaration + "<w:document " + kNs + "><w:body>" + body + "</w:body></w:document>"},
        {"word/styles.xml", styleList + "</w:styles>"},
    };
    if (!title.empty())
        out.emplace_back("docProps/core.xml",
                         kXmlDeclaration +
                             "<cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/"
                             "metadata/core-properties\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
                             "<dc:title>" +
                             escapeXml(title) + "</dc:title></cp:coreProperties>");
    if (header)
        out.emplace_back("word/header1.xml", kXmlDeclaration + "<w:hdr " + kNs + ">" +
                                                 textParagraph(*header, headerStyle) + "</w:hdr>");
    return out;
}

void WordDocument::write(const std::filesystem::path& file) const {
    writeZip(file, parts());
}

} // namespace lf::builder
