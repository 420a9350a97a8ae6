// The Word object model's ranges: a stretch of a story, its text, deleting it, inserting into it
// and its style.
#include "office/document/word.h"

#include "office/document/doc_state.h"
#include "office/document/wml.h"
#include "office/opc/utf8.h"

#include <algorithm>

namespace lf::word {

using wml::is;

namespace {

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

} // namespace

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
            wml::copyParagraphProperties(p, props);
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

} // namespace lf::word
