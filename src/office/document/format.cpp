// The formatting of a range: its font (name, size, bold, italic) and its paragraphs' alignment.
#include "office/document/word.h"

#include "office/document/doc_state.h"
#include "office/document/wml.h"
#include "office/opc/utf8.h"

#include <cmath>
#include <cstdlib>

namespace lf::word {

namespace {

// The properties of the paragraph's runs and its mark: what a font change touches.
std::vector<pugi::xml_node> runPropertiesOf(pugi::xml_node p) {
    std::vector<pugi::xml_node> out;
    for (pugi::xml_node r : wml::runsOf(p))
        out.push_back(wml::rPr(r, true));
    out.push_back(wml::markRPr(p, true));
    return out;
}

double toPoints(pugi::xml_node sz) {
    if (!sz)
        return 10.0; // Word's size when nothing sets one
    return std::atof(sz.attribute("w:val").value()) / 2.0;
}

int alignmentValue(const std::string& jc) {
    if (jc == "center")
        return office::wdAlignParagraphCenter;
    if (jc == "right" || jc == "end")
        return office::wdAlignParagraphRight;
    if (jc == "both")
        return office::wdAlignParagraphJustify;
    if (jc == "distribute")
        return office::wdAlignParagraphDistribute;
    if (jc == "mediumKashida")
        return 5;
    if (jc == "highKashida")
        return 7;
    if (jc == "lowKashida")
        return 8;
    if (jc == "thaiDistribute")
        return 9;
    return office::wdAlignParagraphLeft;
}

} // namespace

// ----------------------------------------------------------------------------------------- Font

Font::Font(const Range& range) : doc_(range.doc_), part_(range.part_), paragraphs_(range.paragraphs()) {}

namespace {

struct RunRef {
    pugi::xml_node p, r;
};

RunRef firstRun(const std::vector<pugi::xml_node>& paragraphs) {
    for (pugi::xml_node p : paragraphs) {
        const auto runs = wml::runsOf(p);
        for (pugi::xml_node r : runs)
            if (r.child("w:t"))
                return {p, r};
    }
    return {paragraphs.empty() ? pugi::xml_node() : paragraphs.front(), pugi::xml_node()};
}

} // namespace

std::string Font::name() const {
    doc_->require();
    const RunRef at = firstRun(paragraphs_);
    if (!at.p)
        return {};
    pugi::xml_node fonts = doc_->effectiveRunProperty(at.p, at.r, "w:rFonts");
    if (pugi::xml_attribute ascii = fonts.attribute("w:ascii"))
        return ascii.value();
    if (pugi::xml_attribute theme = fonts.attribute("w:asciiTheme"))
        return doc_->themeFont(theme.value());
    return {};
}

double Font::size() const {
    doc_->require();
    const RunRef at = firstRun(paragraphs_);
    return at.p ? toPoints(doc_->effectiveRunProperty(at.p, at.r, "w:sz")) : 10.0;
}

bool Font::bold() const {
    doc_->require();
    const RunRef at = firstRun(paragraphs_);
    return at.p && wml::isOn(doc_->effectiveRunProperty(at.p, at.r, "w:b"));
}

bool Font::italic() const {
    doc_->require();
    const RunRef at = firstRun(paragraphs_);
    return at.p && wml::isOn(doc_->effectiveRunProperty(at.p, at.r, "w:i"));
}

void Font::setName(const std::string& rawName) {
    doc_->require();
    const std::string name = opc::sanitiseUtf8(rawName);
    if (name.empty())
        throw DocumentError(doc_->fail("a font needs a name"));
    for (pugi::xml_node p : paragraphs_)
        for (pugi::xml_node props : runPropertiesOf(p)) {
            pugi::xml_node fonts = wml::ensureChild(props, "w:rFonts", wml::rPrOrder());
            // A theme font would win over the name.
            fonts.remove_attribute("w:asciiTheme");
            fonts.remove_attribute("w:hAnsiTheme");
            for (const char* attr : {"w:ascii", "w:hAnsi"}) {
                if (!fonts.attribute(attr))
                    fonts.append_attribute(attr);
                fonts.attribute(attr).set_value(name.c_str());
            }
        }
    if (!paragraphs_.empty())
        doc_->changed(part_);
}

void Font::setSize(double points) {
    doc_->require();
    if (!(points >= 1.0 && points <= 1638.0))
        throw DocumentError(
            doc_->fail("a font size of " + std::to_string(points) + " points is out of range (1 to 1638)"));
    const std::string halfPoints = std::to_string(static_cast<long>(std::lround(points * 2)));
    for (pugi::xml_node p : paragraphs_)
        for (pugi::xml_node props : runPropertiesOf(p))
            for (const char* name : {"w:sz", "w:szCs"}) {
                pugi::xml_node sz = wml::ensureChild(props, name, wml::rPrOrder());
                sz.remove_attribute("w:val");
                sz.append_attribute("w:val") = halfPoints.c_str();
            }
    if (!paragraphs_.empty())
        doc_->changed(part_);
}

namespace {

// Sets an on/off property (w:b with w:bCs, w:i with w:iCs): on is written; off removes the direct
// value, or writes it off where a style would turn it on.
void setToggle(DocState& doc, const std::vector<pugi::xml_node>& paragraphs, const char* name,
               const char* complex, bool on) {
    for (pugi::xml_node p : paragraphs) {
        std::vector<RunRef> targets;
        for (pugi::xml_node r : wml::runsOf(p))
            targets.push_back({p, r});
        targets.push_back({p, pugi::xml_node()});
        for (const RunRef& t : targets) {
            pugi::xml_node props = t.r ? wml::rPr(t.r, true) : wml::markRPr(p, true);
            for (const char* n : {name, complex})
                if (pugi::xml_node old = props.child(n))
                    props.remove_child(old);
            const bool inherited = wml::isOn(doc.effectiveRunProperty(p, t.r, name));
            if (on || inherited)
                for (const char* n : {name, complex}) {
                    pugi::xml_node v = wml::ensureChild(props, n, wml::rPrOrder());
                    if (!on)
                        v.append_attribute("w:val") = "0";
                }
        }
    }
}

} // namespace

void Font::setBold(bool bold) {
    doc_->require();
    setToggle(*doc_, paragraphs_, "w:b", "w:bCs", bold);
    if (!paragraphs_.empty())
        doc_->changed(part_);
}

void Font::setItalic(bool italic) {
    doc_->require();
    setToggle(*doc_, paragraphs_, "w:i", "w:iCs", italic);
    if (!paragraphs_.empty())
        doc_->changed(part_);
}

// ------------------------------------------------------------------------------- ParagraphFormat

ParagraphFormat::ParagraphFormat(const Range& range)
    : doc_(range.doc_), part_(range.part_), paragraphs_(range.paragraphs()) {}

int ParagraphFormat::alignment() const {
    doc_->require();
    if (paragraphs_.empty())
        return office::wdAlignParagraphLeft;
    return alignmentValue(
        doc_->effectiveParagraphProperty(paragraphs_.front(), "w:jc").attribute("w:val").value());
}

void ParagraphFormat::setAlignment(int alignment) {
    doc_->require();
    static const char* values[] = {"left",          "center", "right",       "both",       "distribute",
                                   "mediumKashida", nullptr,  "highKashida", "lowKashida", "thaiDistribute"};
    if (alignment < 0 || alignment > 9 || !values[alignment])
        throw DocumentError(doc_->fail(std::to_string(alignment) + " is not a paragraph alignment"));
    for (pugi::xml_node p : paragraphs_) {
        pugi::xml_node jc = wml::ensureChild(wml::pPr(p, true), "w:jc", wml::pPrOrder());
        jc.remove_attribute("w:val");
        jc.append_attribute("w:val") = values[alignment];
    }
    if (!paragraphs_.empty())
        doc_->changed(part_);
}

} // namespace lf::word
