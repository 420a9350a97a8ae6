#include "office/document/wml.h"

#include <algorithm>
#include <cstring>

namespace lf::word::wml {

namespace {

std::size_t positionOf(const std::vector<std::string>& order, const char* name) {
    auto it = std::find(order.begin(), order.end(), name);
    return it == order.end() ? order.size() : static_cast<std::size_t>(it - order.begin());
}

// What a walk does with an element it meets.
enum class Visit { Skip, Descend, Take, TakeAndDescend };

// Walks the elements under root in document order and collects those `visit` takes. Iterative,
// following parent links back up, so no depth of nesting can exhaust the stack.
template <class F> void collect(pugi::xml_node root, std::vector<pugi::xml_node>& out, F&& visit) {
    pugi::xml_node n = root.first_child();
    while (n) {
        Visit v = n.type() == pugi::node_element ? visit(n) : Visit::Skip;
        if (v == Visit::Take || v == Visit::TakeAndDescend)
            out.push_back(n);
        if ((v == Visit::Descend || v == Visit::TakeAndDescend) && n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n != root && !n.next_sibling())
            n = n.parent();
        if (n == root)
            break;
        n = n.next_sibling();
    }
}

} // namespace

bool is(pugi::xml_node node, const char* name) {
    return std::strcmp(node.name(), name) == 0;
}

const std::vector<std::string>& pPrOrder() {
    static const std::vector<std::string> order = {"w:pStyle",
                                                   "w:keepNext",
                                                   "w:keepLines",
                                                   "w:pageBreakBefore",
                                                   "w:framePr",
                                                   "w:widowControl",
                                                   "w:numPr",
                                                   "w:suppressLineNumbers",
                                                   "w:pBdr",
                                                   "w:shd",
                                                   "w:tabs",
                                                   "w:suppressAutoHyphens",
                                                   "w:kinsoku",
                                                   "w:wordWrap",
                                                   "w:overflowPunct",
                                                   "w:topLinePunct",
                                                   "w:autoSpaceDE",
                                                   "w:autoSpaceDN",
                                                   "w:bidi",
                                                   "w:adjustRightInd",
                                                   "w:snapToGrid",
                                                   "w:spacing",
                                                   "w:ind",
                                                   "w:contextualSpacing",
                                                   "w:mirrorIndents",
                                                   "w:suppressOverlap",
                                                   "w:jc",
                                                   "w:textDirection",
                                                   "w:textAlignment",
                                                   "w:textboxTightWrap",
                                                   "w:outlineLvl",
                                                   "w:divId",
                                                   "w:cnfStyle",
                                                   "w:rPr",
                                                   "w:sectPr",
                                                   "w:pPrChange"};
    return order;
}

const std::vector<std::string>& rPrOrder() {
    static const std::vector<std::string> order = {"w:ins",
                                                   "w:del",
                                                   "w:moveFrom",
                                                   "w:moveTo",
                                                   "w:rStyle",
                                                   "w:rFonts",
                                                   "w:b",
                                                   "w:bCs",
                                                   "w:i",
                                                   "w:iCs",
                                                   "w:caps",
                                                   "w:smallCaps",
                                                   "w:strike",
                                                   "w:dstrike",
                                                   "w:outline",
                                                   "w:shadow",
                                                   "w:emboss",
                                                   "w:imprint",
                                                   "w:noProof",
                                                   "w:snapToGrid",
                                                   "w:vanish",
                                                   "w:webHidden",
                                                   "w:color",
                                                   "w:spacing",
                                                   "w:w",
                                                   "w:kern",
                                                   "w:position",
                                                   "w:sz",
                                                   "w:szCs",
                                                   "w:highlight",
                                                   "w:u",
                                                   "w:effect",
                                                   "w:bdr",
                                                   "w:shd",
                                                   "w:fitText",
                                                   "w:vertAlign",
                                                   "w:rtl",
                                                   "w:cs",
                                                   "w:em",
                                                   "w:lang",
                                                   "w:eastAsianLayout",
                                                   "w:specVanish",
                                                   "w:oMath",
                                                   "w:rPrChange"};
    return order;
}

const std::vector<std::string>& sectPrOrder() {
    static const std::vector<std::string> order = {"w:headerReference",
                                                   "w:footerReference",
                                                   "w:footnotePr",
                                                   "w:endnotePr",
                                                   "w:type",
                                                   "w:pgSz",
                                                   "w:pgMar",
                                                   "w:paperSrc",
                                                   "w:pgBorders",
                                                   "w:lnNumType",
                                                   "w:pgNumType",
                                                   "w:cols",
                                                   "w:formProt",
                                                   "w:vAlign",
                                                   "w:noEndnote",
                                                   "w:titlePg",
                                                   "w:textDirection",
                                                   "w:bidi",
                                                   "w:rtlGutter",
                                                   "w:docGrid",
                                                   "w:printerSettings",
                                                   "w:sectPrChange"};
    return order;
}

pugi::xml_node ensureChild(pugi::xml_node parent, const char* name, const std::vector<std::string>& order) {
    if (pugi::xml_node existing = parent.child(name))
        return existing;
    const std::size_t want = positionOf(order, name);
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element && positionOf(order, child.name()) > want)
            return parent.insert_child_before(name, child);
    return parent.append_child(name);
}

pugi::xml_node pPr(pugi::xml_node p, bool create) {
    if (pugi::xml_node existing = p.child("w:pPr"))
        return existing;
    if (!create)
        return {};
    // The paragraph properties come first.
    for (pugi::xml_node child = p.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element)
            return p.insert_child_before("w:pPr", child);
    return p.append_child("w:pPr");
}

pugi::xml_node markRPr(pugi::xml_node p, bool create) {
    pugi::xml_node props = pPr(p, create);
    if (!props)
        return {};
    if (pugi::xml_node existing = props.child("w:rPr"))
        return existing;
    return create ? ensureChild(props, "w:rPr", pPrOrder()) : pugi::xml_node();
}

pugi::xml_node rPr(pugi::xml_node r, bool create) {
    if (pugi::xml_node existing = r.child("w:rPr"))
        return existing;
    if (!create)
        return {};
    for (pugi::xml_node child = r.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element)
            return r.insert_child_before("w:rPr", child);
    return r.append_child("w:rPr");
}

std::vector<pugi::xml_node> storyParagraphs(pugi::xml_node root) {
    std::vector<pugi::xml_node> out;
    collect(root, out, [](pugi::xml_node n) {
        if (is(n, "w:p"))
            return Visit::Take;
        const bool container = is(n, "w:tbl") || is(n, "w:tr") || is(n, "w:tc") || is(n, "w:sdt") ||
                               is(n, "w:sdtContent") || is(n, "w:customXml") || is(n, "w:ins") ||
                               is(n, "w:smartTag") || is(n, "w:moveTo");
        return container ? Visit::Descend : Visit::Skip;
    });
    return out;
}

std::vector<pugi::xml_node> allParagraphs(pugi::xml_node root) {
    std::vector<pugi::xml_node> out;
    collect(root, out,
            [](pugi::xml_node n) { return is(n, "w:p") ? Visit::TakeAndDescend : Visit::Descend; });
    return out;
}

std::vector<pugi::xml_node> runsOf(pugi::xml_node p) {
    std::vector<pugi::xml_node> out;
    collect(p, out, [](pugi::xml_node n) {
        if (is(n, "w:r"))
            return Visit::Take;
        const bool container = is(n, "w:hyperlink") || is(n, "w:ins") || is(n, "w:sdt") ||
                               is(n, "w:sdtContent") || is(n, "w:smartTag") || is(n, "w:customXml") ||
                               is(n, "w:fldSimple") || is(n, "w:moveTo") || is(n, "w:dir") || is(n, "w:bdo");
        return container ? Visit::Descend : Visit::Skip;
    });
    return out;
}

std::string paragraphText(pugi::xml_node p) {
    std::string text;
    for (pugi::xml_node r : runsOf(p)) {
        for (pugi::xml_node c = r.first_child(); c; c = c.next_sibling()) {
            if (is(c, "w:t"))
                text += c.text().get();
            else if (is(c, "w:tab") || is(c, "w:ptab"))
                text += '\t';
            else if (is(c, "w:br") || is(c, "w:cr")) {
                const std::string type = c.attribute("w:type").value();
                text += type == "page" || type == "column" ? '\f' : '\v';
            } else if (is(c, "w:noBreakHyphen"))
                text += '\x1E';
            else if (is(c, "w:softHyphen"))
                text += '\x1F';
        }
    }
    return text;
}

void copyRunProperties(pugi::xml_node target, pugi::xml_node source) {
    for (pugi::xml_node child = source.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        if (is(child, "w:ins") || is(child, "w:del") || is(child, "w:moveFrom") || is(child, "w:moveTo") ||
            is(child, "w:rPrChange"))
            continue;
        target.append_copy(child);
    }
}

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

void setText(pugi::xml_node t, const std::string& text) {
    t.text().set(text.c_str());
    const bool edges = !text.empty() && (text.front() == ' ' || text.back() == ' ' || text.front() == '\t' ||
                                         text.back() == '\t' || text.find("  ") != std::string::npos);
    pugi::xml_attribute space = t.attribute("xml:space");
    if (edges && !space)
        t.append_attribute("xml:space") = "preserve";
}

bool isOn(pugi::xml_node property) {
    if (!property)
        return false;
    pugi::xml_attribute val = property.attribute("w:val");
    if (!val)
        return true;
    const std::string v = val.value();
    return !(v == "0" || v == "false" || v == "off");
}

} // namespace lf::word::wml
