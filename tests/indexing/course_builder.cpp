#include "course_builder.h"

#include <pugixml.hpp>

#include <map>
#include <stdexcept>

namespace lf::test {

namespace {

bool onOff(const pugi::xml_node& node) {
    if (!node)
        return false;
    const std::string v = node.attribute("w:val").as_string("true");
    return v != "0" && v != "false" && v != "off";
}

std::string runText(const pugi::xml_node& paragraph) {
    std::string text;
    for (pugi::xml_node r : paragraph.children("w:r")) {
        for (pugi::xml_node c : r.children()) {
            const std::string name = c.name();
            if (name == "w:t")
                text += c.text().get();
            else if (name == "w:tab")
                text += '\t';
            else if (name == "w:br")
                text += '\v';
        }
    }
    return text;
}

pugi::xml_document parse(const std::map<std::string, std::string>& zip, const std::string& part) {
    pugi::xml_document doc;
    const auto it = zip.find(part);
    if (it == zip.end())
        throw std::runtime_error("no part " + part);
    if (!doc.load_string(it->second.c_str(), pugi::parse_default | pugi::parse_ws_pcdata))
        throw std::runtime_error("cannot parse " + part);
    return doc;
}

} // namespace

std::string titleRectangle(int id, const std::string& runsXml, double top, const std::string& name) {
    return autoShape(id, name, Rect{emuPt(36), emuPt(top), emuPt(648), emuPt(30)}, paragraph(runsXml));
}

std::string boldTitle(int id, const std::string& text, double top) {
    return titleRectangle(id, run(text, true), top);
}

std::string banner(int id, const std::string& text) {
    return textBox(id, "TextBox " + std::to_string(id), Rect{emuPt(36), emuPt(4), emuPt(300), emuPt(14)},
                   paragraph(run(text)));
}

SlideSpec titledSlide(const std::string& title, const std::vector<std::string>& words) {
    SlideSpec slide;
    slide.layout = 2;
    slide.shapes.push_back(boldTitle(2, title));
    for (const std::string& word : words)
        slide.customXml.push_back(taggedWord(word));
    return slide;
}

std::filesystem::path writeDeck(const std::filesystem::path& folder, const std::string& fileName,
                                const std::vector<SlideSpec>& slides) {
    DeckBuilder deck;
    deck.slides = slides;
    const std::filesystem::path file = folder / fileName;
    deck.write(file);
    return file;
}

void writeWordTemplate(const std::filesystem::path& file, const std::string& headerText) {
    WordDocument doc;
    doc.paragraphs = {"Template body to be cleared"};
    doc.defaultRunProperties = "<w:rFonts w:ascii=\"Calibri\" w:hAnsi=\"Calibri\"/><w:sz w:val=\"22\"/>";
    auto style = [](const std::string& id, const std::string& name, const std::string& rPr) {
        return WordStyle{.id = id,
                         .name = name,
                         .basedOn = "Normal",
                         .next = "Normal",
                         .quickFormat = true,
                         .runProperties = rPr};
    };
    doc.styles = {
        WordStyle{.id = "Normal", .name = "Normal", .isDefault = true, .quickFormat = true},
        style("TOC2", "toc 2", "<w:sz w:val=\"24\"/>"),
        style("TOC3", "toc 3", "<w:b/>"),
        style("PlainText", "Plain Text",
              "<w:rFonts w:ascii=\"Consolas\" w:hAnsi=\"Consolas\"/><w:sz w:val=\"21\"/>"),
    };
    doc.header = headerText;
    doc.write(file);
}

std::vector<WrittenParagraph> readParagraphs(const std::filesystem::path& docx) {
    const auto zip = readZip(docx);
    std::map<std::string, std::string> styleNames;
    if (zip.count("word/styles.xml")) {
        const pugi::xml_document styles = parse(zip, "word/styles.xml");
        for (pugi::xml_node s : styles.child("w:styles").children("w:style"))
            styleNames[s.attribute("w:styleId").as_string()] =
                s.child("w:name").attribute("w:val").as_string();
    }
    const pugi::xml_document doc = parse(zip, "word/document.xml");
    std::vector<WrittenParagraph> out;
    for (pugi::xml_node p : doc.child("w:document").child("w:body").children("w:p")) {
        WrittenParagraph w;
        w.text = runText(p);
        const pugi::xml_node pPr = p.child("w:pPr");
        const std::string styleId = pPr.child("w:pStyle").attribute("w:val").as_string("Normal");
        w.style = styleNames.count(styleId) ? styleNames[styleId] : styleId;
        pugi::xml_node rPr = p.child("w:r").child("w:rPr");
        if (!p.child("w:r"))
            rPr = pPr.child("w:rPr");
        w.font = rPr.child("w:rFonts").attribute("w:ascii").as_string();
        w.size = rPr.child("w:sz").attribute("w:val").as_double(0) / 2.0;
        w.italic = onOff(rPr.child("w:i"));
        w.bold = onOff(rPr.child("w:b"));
        const std::string jc = pPr.child("w:jc").attribute("w:val").as_string();
        w.alignment = jc == "center" ? 1 : (jc == "right" || jc == "end") ? 2 : jc == "both" ? 3 : 0;
        out.push_back(w);
    }
    return out;
}

std::string readHeaderText(const std::filesystem::path& docx) {
    const auto zip = readZip(docx);
    const pugi::xml_document doc = parse(zip, "word/document.xml");
    const pugi::xml_document rels = parse(zip, "word/_rels/document.xml.rels");
    const pugi::xml_node sectPr = doc.child("w:document").child("w:body").child("w:sectPr");
    for (pugi::xml_node ref : sectPr.children("w:headerReference")) {
        if (std::string(ref.attribute("w:type").as_string()) != "default")
            continue;
        const std::string id = ref.attribute("r:id").as_string();
        for (pugi::xml_node rel : rels.child("Relationships").children("Relationship")) {
            if (id != rel.attribute("Id").as_string())
                continue;
            const pugi::xml_document header =
                parse(zip, "word/" + std::string(rel.attribute("Target").as_string()));
            std::string text;
            for (pugi::xml_node p : header.first_child().children("w:p"))
                text += runText(p);
            return text;
        }
    }
    return {};
}

std::vector<std::string> nonEmptyTexts(const std::vector<WrittenParagraph>& paragraphs) {
    std::vector<std::string> texts;
    for (const auto& p : paragraphs)
        if (!p.text.empty())
            texts.push_back(p.text);
    return texts;
}

} // namespace lf::test
