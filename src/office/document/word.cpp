#include "office/document/word.h"

#include "office/document/doc_state.h"
#include "office/document/wml.h"
#include "office/opc/utf8.h"
#include "platform/ascii.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lf::word {

namespace {

bool is(pugi::xml_node node, const char* name) {
    return std::strcmp(node.name(), name) == 0;
}

// What applying a paragraph style keeps of a paragraph's direct formatting: its list membership,
// section break, mark and revision marks. The rest gives way to the style.
bool keptByStyle(pugi::xml_node child) {
    return is(child, "w:pStyle") || is(child, "w:numPr") || is(child, "w:rPr") || is(child, "w:sectPr") ||
           is(child, "w:pPrChange") || is(child, "w:cnfStyle") || is(child, "w:divId");
}

// Run properties that are not character formatting and so survive a paragraph style.
bool keptRunProperty(pugi::xml_node child) {
    return is(child, "w:rStyle") || is(child, "w:lang") || is(child, "w:rtl") || is(child, "w:cs") ||
           is(child, "w:noProof") || is(child, "w:ins") || is(child, "w:del") || is(child, "w:moveFrom") ||
           is(child, "w:moveTo") || is(child, "w:rPrChange") || is(child, "w:vanish") ||
           is(child, "w:webHidden") || is(child, "w:specVanish") || is(child, "w:oMath");
}

void clearCharacterFormatting(pugi::xml_node props) {
    for (pugi::xml_node child = props.first_child(); child;) {
        pugi::xml_node next = child.next_sibling();
        if (child.type() == pugi::node_element && !keptRunProperty(child))
            props.remove_child(child);
        child = next;
    }
}

// The properties of the paragraph's runs and its mark: what a font change touches.
std::vector<pugi::xml_node> runPropertiesOf(pugi::xml_node p) {
    std::vector<pugi::xml_node> out;
    for (pugi::xml_node r : wml::runsOf(p))
        out.push_back(wml::rPr(r, true));
    out.push_back(wml::markRPr(p, true));
    return out;
}

// The run whose formatting new text at the end of the paragraph takes: the last one holding text.
pugi::xml_node lastTextRun(pugi::xml_node p) {
    const auto runs = wml::runsOf(p);
    for (auto it = runs.rbegin(); it != runs.rend(); ++it)
        if (it->child("w:t") || it->child("w:tab"))
            return *it;
    return {};
}

pugi::xml_node newParagraphAfter(pugi::xml_node p) {
    pugi::xml_node next = p.parent().insert_child_after("w:p", p);
    if (pugi::xml_node props = p.child("w:pPr")) {
        pugi::xml_node copy = next.append_copy(props);
        // A section break belongs to the last of the paragraphs.
        if (pugi::xml_node sect = props.child("w:sectPr"))
            props.remove_child(sect);
        if (pugi::xml_node change = copy.child("w:pPrChange"))
            copy.remove_child(change);
    }
    return next;
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

// Gives paragraph p a copy of paragraph properties, without a section break or revision marks of
// its own (those belong to the paragraph they were copied from).
pugi::xml_node copyParagraphProperties(pugi::xml_node p, pugi::xml_node props) {
    pugi::xml_node copy = p.append_copy(props);
    for (const char* gone : {"w:sectPr", "w:pPrChange"})
        if (pugi::xml_node g = copy.child(gone))
            copy.remove_child(g);
    if (pugi::xml_node mark = copy.child("w:rPr"))
        for (const char* gone : {"w:ins", "w:del", "w:moveFrom", "w:moveTo", "w:rPrChange"})
            if (pugi::xml_node g = mark.child(gone))
                mark.remove_child(g);
    return copy;
}

} // namespace

// ---------------------------------------------------------------------------------------------- Range

Range::Range(std::shared_ptr<DocState> doc, std::string part, pugi::xml_node first, pugi::xml_node last)
    : doc_(std::move(doc)), part_(std::move(part)), first_(first), last_(last),
      generation_(doc_->generation) {}

std::vector<pugi::xml_node> Range::paragraphs() const {
    doc_->require();
    if (part_.empty() || collapsed_)
        return {};
    if (!wholeStory() && generation_ == doc_->generation && first_.parent() == last_.parent()) {
        // No paragraph was removed since the range was made: its nodes are sound, and paragraphs
        // that share a parent are siblings in order.
        std::vector<pugi::xml_node> out;
        for (pugi::xml_node n = first_; n; n = n.next_sibling()) {
            if (is(n, "w:p"))
                out.push_back(n);
            if (n == last_)
                return out;
        }
    }
    std::vector<pugi::xml_node> all = wml::storyParagraphs(doc_->storyRoot(part_));
    if (wholeStory())
        return all;
    // Compared by identity only: a removed node is never touched.
    auto from = std::find(all.begin(), all.end(), first_);
    auto to = std::find(all.begin(), all.end(), last_);
    if (from == all.end() || to == all.end() || to < from)
        throw DocumentError(doc_->fail("the range no longer exists in the document"));
    generation_ = doc_->generation;
    return std::vector<pugi::xml_node>(from, to + 1);
}

int Range::paragraphCount() const {
    return static_cast<int>(paragraphs().size());
}

std::string Range::text() const {
    std::string out;
    for (pugi::xml_node p : paragraphs())
        out += wml::paragraphText(p) + "\r";
    return out;
}

void Range::deleteContent() {
    doc_->require();
    if (part_.empty() || collapsed_)
        return;
    pugi::xml_node root = doc_->storyRoot(part_);
    ++doc_->generation;
    if (wholeStory()) {
        // Everything goes but the final section properties; the last paragraph's mark stays as the one
        // empty paragraph a story always has.
        const auto all = wml::storyParagraphs(root);
        pugi::xml_node keptProps;
        if (!all.empty())
            keptProps = all.back().child("w:pPr");
        pugi::xml_document hold;
        if (keptProps)
            hold.append_copy(keptProps);
        for (pugi::xml_node child = root.first_child(); child;) {
            pugi::xml_node next = child.next_sibling();
            if (!is(child, "w:sectPr"))
                root.remove_child(child);
            child = next;
        }
        pugi::xml_node sect = root.child("w:sectPr");
        pugi::xml_node p = sect ? root.insert_child_before("w:p", sect) : root.append_child("w:p");
        if (pugi::xml_node props = hold.first_child()) {
            // The mark stays, without a section break or revision marks of its own.
            copyParagraphProperties(p, props);
        }
    } else {
        const auto mine = paragraphs();
        const auto all = wml::storyParagraphs(root);
        const bool everything = mine.size() == all.size();
        for (std::size_t i = 0; i < mine.size(); ++i) {
            pugi::xml_node p = mine[i];
            if (everything && i + 1 == mine.size()) {
                // The story keeps its last paragraph mark: only its content goes.
                for (pugi::xml_node child = p.first_child(); child;) {
                    pugi::xml_node next = child.next_sibling();
                    if (!is(child, "w:pPr"))
                        p.remove_child(child);
                    child = next;
                }
                first_ = last_ = p;
                continue;
            }
            // A section break held by a removed paragraph moves to the paragraph before it.
            if (pugi::xml_node sect = p.child("w:pPr").child("w:sectPr")) {
                auto at = std::find(all.begin(), all.end(), p);
                if (at != all.begin()) {
                    pugi::xml_node prev = wml::pPr(*(at - 1), true);
                    if (!prev.child("w:sectPr")) {
                        pugi::xml_node change = prev.child("w:pPrChange");
                        if (change)
                            prev.insert_copy_before(sect, change);
                        else
                            prev.append_copy(sect);
                    }
                }
            }
            pugi::xml_node parent = p.parent();
            parent.remove_child(p);
            // A table cell must keep a paragraph.
            if (is(parent, "w:tc") && !parent.child("w:p"))
                parent.append_child("w:p");
        }
        if (!everything) {
            first_ = last_ = pugi::xml_node();
            collapsed_ = true;
        }
        generation_ = doc_->generation;
    }
    doc_->changed(part_);
}

void Range::insertAfter(const std::string& rawText) {
    doc_->require();
    if (part_.empty())
        throw DocumentError(doc_->fail("the section has no such header or footer to insert into"));
    if (collapsed_)
        throw DocumentError(doc_->fail("the range was deleted: there is nothing to insert after"));
    auto paras = paragraphs();
    pugi::xml_node p;
    if (paras.empty()) {
        pugi::xml_node root = doc_->storyRoot(part_);
        pugi::xml_node sect = root.child("w:sectPr");
        p = sect ? root.insert_child_before("w:p", sect) : root.append_child("w:p");
    } else {
        p = paras.back();
    }
    if (rawText.empty())
        return;
    const std::string text = opc::sanitiseUtf8(rawText);

    pugi::xml_node formatFrom = lastTextRun(p);
    pugi::xml_node run;
    std::string pending;
    auto startRun = [&]() {
        if (run)
            return;
        run = p.append_child("w:r");
        pugi::xml_node source = formatFrom ? wml::rPr(formatFrom, false) : wml::markRPr(p, false);
        if (source) {
            pugi::xml_node props = run.append_child("w:rPr");
            wml::copyRunProperties(props, source);
            if (!props.first_child())
                run.remove_child(props);
        }
    };
    auto flush = [&]() {
        if (pending.empty())
            return;
        startRun();
        wml::setText(run.append_child("w:t"), pending);
        pending.clear();
    };
    auto element = [&](const char* name) {
        flush();
        startRun();
        return run.append_child(name);
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20) {
            pending += static_cast<char>(c);
            continue;
        }
        switch (c) {
        case '\t':
            element("w:tab");
            break;
        case 11:
            element("w:br");
            break;
        case 12:
            element("w:br").append_attribute("w:type") = "page";
            break;
        case 30:
            element("w:noBreakHyphen");
            break;
        case 31:
            element("w:softHyphen");
            break;
        case '\r':
        case '\n': {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            flush();
            // The new paragraph keeps the range's formatting: paragraph properties, mark and text.
            pugi::xml_node runProps = run ? wml::rPr(run, false) : pugi::xml_node();
            pugi::xml_document hold;
            if (runProps)
                hold.append_copy(runProps);
            else if (formatFrom && wml::rPr(formatFrom, false))
                hold.append_copy(wml::rPr(formatFrom, false));
            p = newParagraphAfter(p);
            run = pugi::xml_node();
            formatFrom = pugi::xml_node();
            if (pugi::xml_node props = hold.first_child()) {
                run = p.append_child("w:r");
                run.append_copy(props);
            }
            break;
        }
        default:
            break; // other control characters cannot be stored in the document
        }
    }
    flush();
    // A run started for a paragraph break that got no text stays out.
    if (run && !run.child("w:t") && !run.child("w:tab") && !run.child("w:br") &&
        !run.child("w:noBreakHyphen") && !run.child("w:softHyphen"))
        p.remove_child(run);
    if (!wholeStory()) {
        if (!first_)
            first_ = paras.empty() ? p : paras.front();
        last_ = p;
    }
    doc_->changed(part_);
}

std::string Range::style() const {
    const auto paras = paragraphs();
    if (paras.empty())
        return {};
    std::string id = wml::pPr(paras.front(), false).child("w:pStyle").attribute("w:val").value();
    if (id.empty())
        id = doc_->defaultStyleId("paragraph");
    pugi::xml_node s = doc_->styleById(id);
    return s ? DocState::shownName(s.child("w:name").attribute("w:val").value()) : id;
}

void Range::setStyle(const std::string& name) {
    doc_->require();
    pugi::xml_node style = doc_->findOrAddStyle(name);
    const std::string id = style.attribute("w:styleId").value();
    const std::string type = style.attribute("w:type").value();
    const auto paras = paragraphs();
    if (type == "paragraph" || type.empty()) {
        for (pugi::xml_node p : paras) {
            pugi::xml_node props = wml::pPr(p, true);
            for (pugi::xml_node child = props.first_child(); child;) {
                pugi::xml_node next = child.next_sibling();
                if (child.type() == pugi::node_element && !keptByStyle(child))
                    props.remove_child(child);
                child = next;
            }
            wml::ensureChild(props, "w:pStyle", wml::pPrOrder()).remove_attribute("w:val");
            props.child("w:pStyle").append_attribute("w:val") = id.c_str();
            // Direct character formatting over the whole paragraph gives way to the style.
            for (pugi::xml_node r : wml::runsOf(p))
                if (pugi::xml_node rp = wml::rPr(r, false))
                    clearCharacterFormatting(rp);
            if (pugi::xml_node mark = wml::markRPr(p, false))
                clearCharacterFormatting(mark);
        }
    } else if (type == "character") {
        for (pugi::xml_node p : paras)
            for (pugi::xml_node r : wml::runsOf(p)) {
                pugi::xml_node rs = wml::ensureChild(wml::rPr(r, true), "w:rStyle", wml::rPrOrder());
                rs.remove_attribute("w:val");
                rs.append_attribute("w:val") = id.c_str();
            }
    } else {
        throw DocumentError(
            doc_->fail("\"" + name + "\" is a " + type + " style, not a paragraph or character style"));
    }
    if (!paras.empty())
        doc_->changed(part_);
}

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

// ------------------------------------------------------------------------------ Paragraphs

Range Paragraph::range() const {
    doc_->require();
    return Range(doc_, doc_->mainPart, p_, p_);
}

int Paragraphs::count() const {
    return static_cast<int>(wml::storyParagraphs(doc_->body()).size());
}

Paragraph Paragraphs::item(int index) const {
    const auto all = wml::storyParagraphs(doc_->body());
    if (index < 1 || index > static_cast<int>(all.size()))
        throw DocumentError(doc_->fail("there is no paragraph " + std::to_string(index) +
                                       " (the document has " + std::to_string(all.size()) + ")"));
    return Paragraph(doc_, all[static_cast<std::size_t>(index - 1)]);
}

namespace {

// The last paragraph of the main text without walking it: the body's last element, unless the body
// ends in a table or the like.
pugi::xml_node lastBodyParagraph(pugi::xml_node body) {
    for (pugi::xml_node n = body.last_child(); n; n = n.previous_sibling()) {
        if (n.type() != pugi::node_element || is(n, "w:sectPr") || is(n, "w:bookmarkEnd") ||
            is(n, "w:bookmarkStart"))
            continue;
        if (is(n, "w:p"))
            return n;
        break;
    }
    const auto all = wml::storyParagraphs(body);
    return all.empty() ? pugi::xml_node() : all.back();
}

} // namespace

Paragraph Paragraphs::last() const {
    pugi::xml_node p = lastBodyParagraph(doc_->body());
    if (!p)
        throw DocumentError(doc_->fail("the document has no paragraph"));
    return Paragraph(doc_, p);
}

Paragraph Paragraphs::add() {
    pugi::xml_node body = doc_->body();
    // The paragraph before the new one.
    pugi::xml_node before = lastBodyParagraph(body);
    pugi::xml_node sect = is(body.last_child(), "w:sectPr") ? body.last_child() : body.child("w:sectPr");
    pugi::xml_node p = sect ? body.insert_child_before("w:p", sect) : body.append_child("w:p");
    if (before) {
        if (pugi::xml_node props = before.child("w:pPr")) {
            pugi::xml_node copy = copyParagraphProperties(p, props);
            // The style names the style of the paragraph that follows it.
            const std::string id = copy.child("w:pStyle").attribute("w:val").value();
            if (pugi::xml_node style = doc_->styleById(id.empty() ? doc_->defaultStyleId("paragraph") : id)) {
                const std::string next = style.child("w:next").attribute("w:val").value();
                if (!next.empty() && next != style.attribute("w:styleId").value() && doc_->styleById(next)) {
                    for (pugi::xml_node child = copy.first_child(); child;) {
                        pugi::xml_node after = child.next_sibling();
                        if (child.type() == pugi::node_element && !is(child, "w:rPr"))
                            copy.remove_child(child);
                        child = after;
                    }
                    wml::ensureChild(copy, "w:pStyle", wml::pPrOrder()).append_attribute("w:val") =
                        next.c_str();
                }
            }
            if (!copy.first_child())
                p.remove_child(copy);
        }
    }
    doc_->changed(doc_->mainPart);
    return Paragraph(doc_, p);
}

// ------------------------------------------------------------------------- Sections and headers

Range HeaderFooter::range() const {
    doc_->require();
    return Range(doc_, part_, pugi::xml_node(), pugi::xml_node());
}

HeaderFooter HeadersFooters::item(int index) const {
    doc_->require();
    static const char* types[] = {nullptr, "default", "first", "even"};
    if (index < 1 || index > 3)
        throw DocumentError(doc_->fail(std::to_string(index) + " is not a header or footer index (1 to 3)"));
    const char* element = headers_ ? "w:headerReference" : "w:footerReference";
    for (pugi::xml_node ref : sectPr_.children(element)) {
        const std::string type = ref.attribute("w:type").value();
        if (type == types[index] || (index == 1 && type.empty())) {
            const std::string id = ref.attribute("r:id").value();
            for (const opc::Relationship& r : doc_->package->relationships(doc_->mainPart))
                if (r.id == id && !r.external) {
                    const std::string part = opc::Package::resolveTarget(doc_->mainPart, r.target);
                    if (doc_->package->hasPart(part))
                        return HeaderFooter(doc_, part);
                }
        }
    }
    return HeaderFooter(doc_, std::string());
}

namespace {

std::vector<pugi::xml_node> sectionsOf(DocState& doc) {
    std::vector<pugi::xml_node> out;
    pugi::xml_node body = doc.body();
    for (pugi::xml_node p : wml::storyParagraphs(body))
        if (pugi::xml_node s = p.child("w:pPr").child("w:sectPr"))
            out.push_back(s);
    if (pugi::xml_node s = body.child("w:sectPr"))
        out.push_back(s);
    else
        out.push_back(body.append_child("w:sectPr")); // every document has a last section
    return out;
}

} // namespace

int Sections::count() const {
    return static_cast<int>(sectionsOf(*doc_).size());
}

Section Sections::item(int index) const {
    const auto all = sectionsOf(*doc_);
    if (index < 1 || index > static_cast<int>(all.size()))
        throw DocumentError(doc_->fail("there is no section " + std::to_string(index)));
    return Section(doc_, all[static_cast<std::size_t>(index - 1)]);
}

// ------------------------------------------------------------------------------------ Document

const std::shared_ptr<DocState>& Document::state() const {
    doc_->require();
    return doc_;
}

Range Document::range() const {
    return Range(state(), doc_->mainPart, pugi::xml_node(), pugi::xml_node());
}

std::string Document::name() const {
    return doc_->displayName;
}

std::filesystem::path Document::fullName() const {
    return doc_->file.empty() ? std::filesystem::path(doc_->displayName) : doc_->file;
}

bool Document::closed() const {
    return doc_->closed;
}

void Document::close() {
    if (doc_->closed)
        return;
    doc_->closed = true;
    doc_->package.reset();
}

void Document::saveAs(const std::filesystem::path& file) {
    DocState& d = *state();
    opc::Package& p = *d.package;
    const std::string ext = platform::asciiLower(file.extension().string());
    const bool macros = ext == ".docm" || ext == ".dotm";
    const bool isTemplate = ext == ".dotx" || ext == ".dotm";
    const char* type = macros ? (isTemplate ? contenttype::kMacroTemplate : contenttype::kMacroDocument)
                              : (isTemplate ? contenttype::kTemplate : contenttype::kDocument);
    if (p.contentType(d.mainPart) != type)
        p.setContentType(d.mainPart, type);
    if (!macros) {
        // A document without macros must not carry the template's macro project: Word refuses it.
        for (const opc::Relationship& r : p.relationships(d.mainPart)) {
            if (r.type != rel::kVbaProject || r.external)
                continue;
            const std::string project = opc::Package::resolveTarget(d.mainPart, r.target);
            for (const opc::Relationship& inner : p.relationships(project))
                if (!inner.external)
                    p.removePart(opc::Package::resolveTarget(project, inner.target));
            const auto slash = project.rfind('/');
            p.removePart(project.substr(0, slash + 1) + "_rels/" + project.substr(slash + 1) + ".rels");
            p.removePart(project);
            p.removeRelationship(d.mainPart, r.id);
        }
    }
    p.saveAs(file);
    d.file = file;
    d.displayName = file.filename().string();
}

// ----------------------------------------------------------------------------------- Documents

Document Documents::track(std::shared_ptr<DocState> doc) {
    open_.erase(std::remove_if(open_.begin(), open_.end(), [](const auto& d) { return d->closed; }),
                open_.end());
    open_.push_back(doc);
    return Document(std::move(doc));
}

std::optional<Document> Documents::add(const std::filesystem::path& templateFile) {
    lastError_.clear();
    try {
        if (quit_ && *quit_)
            throw DocumentError("Word has quit");
        auto doc = DocState::load(opc::Package::openTemplate(templateFile), templateFile.string());
        doc->displayName = "Document" + std::to_string(++untitled_);
        // A template's content type becomes a document's.
        const std::string type = doc->package->contentType(doc->mainPart);
        if (type == contenttype::kTemplate)
            doc->package->setContentType(doc->mainPart, contenttype::kDocument);
        else if (type == contenttype::kMacroTemplate)
            doc->package->setContentType(doc->mainPart, contenttype::kMacroDocument);
        return track(std::move(doc));
    } catch (const std::exception& e) {
        lastError_ = e.what();
        return std::nullopt;
    }
}

Document Documents::open(const std::filesystem::path& file) {
    if (quit_ && *quit_)
        throw DocumentError("Word has quit");
    auto doc = DocState::load(opc::Package::open(file, {}, opc::Access::Write), file.string());
    doc->file = file;
    doc->displayName = file.filename().string();
    return track(std::move(doc));
}

int Documents::count() const {
    return static_cast<int>(
        std::count_if(open_.begin(), open_.end(), [](const auto& d) { return !d->closed; }));
}

Document Documents::item(int index) const {
    int n = 0;
    for (const auto& d : open_)
        if (!d->closed && ++n == index)
            return Document(d);
    throw DocumentError("there is no open document " + std::to_string(index));
}

// --------------------------------------------------------------------------------- Application

Application::Application() {
    documents_.quit_ = &quit_;
}

Application::~Application() {
    quit();
}

Documents& Application::documents() {
    if (quit_)
        throw DocumentError("Word has quit");
    return documents_;
}

void Application::setWindowState(int state) {
    if (state < office::wdWindowStateNormal || state > office::wdWindowStateMinimize)
        throw DocumentError(std::to_string(state) + " is not a window state");
    windowState_ = state;
}

void Application::quit() {
    for (auto& d : documents_.open_)
        if (!d->closed) {
            d->closed = true;
            d->package.reset();
        }
    documents_.open_.clear();
    quit_ = true;
}

} // namespace lf::word
