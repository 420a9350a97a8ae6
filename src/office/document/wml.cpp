#include "office/document/wml.h"

#include <algorithm>
#include <cstring>

namespace lf::word::wml {

namespace {

std::size_t positionOf(const std::vector<std::string>& order, const char* name) {
    auto it = std::find(order.begin(), order.end(), name);
    return it == order.end() ? order.size() : static_cast<std::size_t>(it - order.begin());
}

bool is(pugi::xml_node node, const char* name) {
    return std::strcmp(node.name(), name) == 0;
}

void collectStory(pugi::xml_node node, std::vector<pugi::xml_node>& out) {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        if (is(child, "w:p"))
            out.push_back(child);
        else if (is(child, "w:tbl") || is(child, "w:tr") || is(child, "w:tc") || is(child, "w:sdt") ||
                 is(child, "w:sdtContent") || is(child, "w:customXml") || is(child, "w:ins") ||
                 is(child, "w:smartTag") || is(child, "w:moveTo"))
            collectStory(child, out);
    }
}

void collectAll(pugi::xml_node node, std::vector<pugi::xml_node>& out) {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        if (is(child, "w:p"))
            out.push_back(child);
        collectAll(child, out);
    }
}

void collectRuns(pugi::xml_node node, std::vector<pugi::xml_node>& out) {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        if (is(child, "w:r"))
            out.push_back(child);
        else if (is(child, "w:hyperlink") || is(child, "w:ins") || is(child, "w:sdt") ||
                 is(child, "w:sdtContent") || is(child, "w:smartTag") || is(child, "w:customXml") ||
                 is(child, "w:fldSimple") || is(child, "w:moveTo") || is(child, "w:dir") ||
                 is(child, "w:bdo"))
            collectRuns(child, out);
    }
}

} // namespace

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
    collectStory(root, out);
    return out;
}

std::vector<pugi::xml_node> allParagraphs(pugi::xml_node root) {
    std::vector<pugi::xml_node> out;
    collectAll(root, out);
    return out;
}

std::vector<pugi::xml_node> runsOf(pugi::xml_node p) {
    std::vector<pugi::xml_node> out;
    collectRuns(p, out);
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

std::string sanitiseUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        std::size_t len = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            len = 1;
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        }
        bool ok = len > 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (ok) {
            static const std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
            ok = cp >= minimum[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) && cp != 0xFFFE &&
                 cp != 0xFFFF;
        }
        if (ok) {
            out.append(text, i, len);
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
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
