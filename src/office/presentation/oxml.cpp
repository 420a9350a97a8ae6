#include "office/presentation/oxml.h"

#include <cstdlib>
#include <cstring>

namespace lf::ppt::oxml {

std::string_view localName(std::string_view qualifiedName) {
    auto colon = qualifiedName.find(':');
    return colon == std::string_view::npos ? qualifiedName : qualifiedName.substr(colon + 1);
}

std::string_view localName(pugi::xml_node node) {
    return localName(std::string_view(node.name()));
}

pugi::xml_node child(pugi::xml_node parent, std::string_view local) {
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element && localName(c) == local) {
            return c;
        }
    }
    return {};
}

pugi::xml_node path(pugi::xml_node node, std::initializer_list<std::string_view> locals) {
    for (std::string_view l : locals) {
        node = child(node, l);
        if (!node) {
            break;
        }
    }
    return node;
}

pugi::xml_attribute attribute(pugi::xml_node node, std::string_view local) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        std::string_view name(a.name());
        if (name.starts_with("xmlns")) {
            continue;
        }
        if (localName(name) == local) {
            return a;
        }
    }
    return {};
}

std::optional<bool> booleanValue(pugi::xml_attribute attr) {
    if (!attr) {
        return std::nullopt;
    }
    std::string_view v(attr.value());
    if (v == "1" || v == "true" || v == "on") {
        return true;
    }
    if (v == "0" || v == "false" || v == "off") {
        return false;
    }
    return std::nullopt;
}

std::string prefixFor(pugi::xml_node anyNode, const char* namespaceUri, const char* preferred) {
    pugi::xml_node root = anyNode.root().first_child();
    while (root && root.type() != pugi::node_element) {
        root = root.next_sibling();
    }
    for (pugi::xml_attribute a = root.first_attribute(); a; a = a.next_attribute()) {
        if (std::strcmp(a.value(), namespaceUri) != 0) {
            continue;
        }
        std::string_view name(a.name());
        if (name == "xmlns") {
            return {};
        }
        if (name.starts_with("xmlns:")) {
            return std::string(name.substr(6));
        }
    }
    // The preferred prefix may be bound to another namespace already: then the first free one after it.
    std::string prefix = preferred;
    for (int n = 1; root.attribute(("xmlns:" + prefix).c_str()); ++n) {
        prefix = std::string(preferred) + std::to_string(n);
    }
    root.append_attribute(("xmlns:" + prefix).c_str()) = namespaceUri;
    return prefix;
}

namespace {

std::string qualified(pugi::xml_node parent, const char* ns, const char* preferred, std::string_view local) {
    std::string prefix = prefixFor(parent, ns, preferred);
    return prefix.empty() ? std::string(local) : prefix + ":" + std::string(local);
}

} // namespace

pugi::xml_node appendElement(pugi::xml_node parent, const char* ns, const char* preferred,
                             std::string_view local) {
    return parent.append_child(qualified(parent, ns, preferred, local).c_str());
}

pugi::xml_node prependElement(pugi::xml_node parent, const char* ns, const char* preferred,
                              std::string_view local) {
    return parent.prepend_child(qualified(parent, ns, preferred, local).c_str());
}

pugi::xml_node insertElementAfter(pugi::xml_node parent, pugi::xml_node after, const char* ns,
                                  const char* preferred, std::string_view local) {
    if (!after) {
        return prependElement(parent, ns, preferred, local);
    }
    return parent.insert_child_after(qualified(parent, ns, preferred, local).c_str(), after);
}

ShapeKind shapeKind(pugi::xml_node shape) {
    std::string_view l = localName(shape);
    if (l == "sp") {
        return ShapeKind::Shape;
    }
    if (l == "pic") {
        return ShapeKind::Picture;
    }
    if (l == "cxnSp") {
        return ShapeKind::Connector;
    }
    if (l == "grpSp") {
        return ShapeKind::Group;
    }
    if (l == "graphicFrame") {
        return ShapeKind::GraphicFrame;
    }
    if (l == "contentPart") {
        return ShapeKind::ContentPart;
    }
    return ShapeKind::Unknown;
}

bool isShapeElement(pugi::xml_node node) {
    return node.type() == pugi::node_element && shapeKind(node) != ShapeKind::Unknown;
}

pugi::xml_node alternateChoice(pugi::xml_node alternateContent) {
    for (pugi::xml_node c = alternateContent.first_child(); c; c = c.next_sibling()) {
        if (localName(c) == "Choice") {
            for (pugi::xml_node s = c.first_child(); s; s = s.next_sibling()) {
                if (isShapeElement(s)) {
                    return s;
                }
            }
        }
    }
    return alternateFallback(alternateContent);
}

pugi::xml_node alternateFallback(pugi::xml_node alternateContent) {
    pugi::xml_node fallback = child(alternateContent, "Fallback");
    for (pugi::xml_node s = fallback.first_child(); s; s = s.next_sibling()) {
        if (isShapeElement(s)) {
            return s;
        }
    }
    return {};
}

pugi::xml_node shapeTree(pugi::xml_node partRoot) {
    return path(partRoot, {"cSld", "spTree"});
}

pugi::xml_node nonVisualHolder(pugi::xml_node shape) {
    for (pugi::xml_node c = shape.first_child(); c; c = c.next_sibling()) {
        std::string_view l = localName(c);
        if (c.type() == pugi::node_element && l.starts_with("nv") && l.ends_with("Pr")) {
            return c;
        }
    }
    return {};
}

pugi::xml_node commonNonVisual(pugi::xml_node shape) {
    return child(nonVisualHolder(shape), "cNvPr");
}

std::optional<Placeholder> placeholder(pugi::xml_node shape) {
    pugi::xml_node ph = path(nonVisualHolder(shape), {"nvPr", "ph"});
    if (!ph) {
        return std::nullopt;
    }
    Placeholder result;
    if (pugi::xml_attribute t = attribute(ph, "type")) {
        result.type = t.value();
    }
    if (pugi::xml_attribute i = attribute(ph, "idx")) {
        result.idx = static_cast<std::uint32_t>(std::strtoul(i.value(), nullptr, 10));
        result.hasIdx = true;
    }
    return result;
}

namespace {

// The shape-properties element (spPr or grpSpPr) of a shape that has one.
const char* propertiesName(ShapeKind kind) {
    switch (kind) {
    case ShapeKind::Shape:
    case ShapeKind::Picture:
    case ShapeKind::Connector:
        return "spPr";
    case ShapeKind::Group:
        return "grpSpPr";
    default:
        return nullptr;
    }
}

pugi::xml_node shapeProperties(pugi::xml_node shape, bool create) {
    const char* name = propertiesName(shapeKind(shape));
    if (!name) {
        return {};
    }
    pugi::xml_node props = child(shape, name);
    if (props || !create) {
        return props;
    }
    // spPr follows the non-visual properties (and a picture's blipFill).
    pugi::xml_node after = nonVisualHolder(shape);
    if (pugi::xml_node blip = child(shape, "blipFill")) {
        after = blip;
    }
    return insertElementAfter(shape, after, kPresentationNs, "p", name);
}

std::int64_t int64Attribute(pugi::xml_node node, const char* local) {
    pugi::xml_attribute a = attribute(node, local);
    return a ? std::strtoll(a.value(), nullptr, 10) : 0;
}

void setInt64Attribute(pugi::xml_node node, const char* name, std::int64_t value) {
    pugi::xml_attribute a = attribute(node, name);
    if (!a) {
        a = node.append_attribute(name);
    }
    a.set_value(static_cast<long long>(value));
}

} // namespace

pugi::xml_node transformElement(pugi::xml_node shape) {
    ShapeKind kind = shapeKind(shape);
    if (kind == ShapeKind::GraphicFrame || kind == ShapeKind::ContentPart) {
        return child(shape, "xfrm");
    }
    return child(shapeProperties(shape, false), "xfrm");
}

std::optional<Transform> transform(pugi::xml_node shape) {
    pugi::xml_node xfrm = transformElement(shape);
    if (!xfrm) {
        return std::nullopt;
    }
    Transform t;
    pugi::xml_node off = child(xfrm, "off");
    pugi::xml_node ext = child(xfrm, "ext");
    t.x = int64Attribute(off, "x");
    t.y = int64Attribute(off, "y");
    t.cx = int64Attribute(ext, "cx");
    t.cy = int64Attribute(ext, "cy");
    return t;
}

void setTransform(pugi::xml_node shape, const Transform& value) {
    pugi::xml_node xfrm = transformElement(shape);
    if (!xfrm) {
        ShapeKind kind = shapeKind(shape);
        if (kind == ShapeKind::GraphicFrame || kind == ShapeKind::ContentPart) {
            xfrm = insertElementAfter(shape, nonVisualHolder(shape), kPresentationNs, "p", "xfrm");
        } else {
            xfrm = prependElement(shapeProperties(shape, true), kDrawingNs, "a", "xfrm");
        }
    }
    pugi::xml_node off = child(xfrm, "off");
    if (!off) {
        off = prependElement(xfrm, kDrawingNs, "a", "off");
    }
    pugi::xml_node ext = child(xfrm, "ext");
    if (!ext) {
        ext = insertElementAfter(xfrm, off, kDrawingNs, "a", "ext");
    }
    setInt64Attribute(off, "x", value.x);
    setInt64Attribute(off, "y", value.y);
    setInt64Attribute(ext, "cx", value.cx);
    setInt64Attribute(ext, "cy", value.cy);
    if (shapeKind(shape) == ShapeKind::Group && !child(xfrm, "chOff")) {
        // A group without child extents would scale its members to nothing.
        pugi::xml_node chOff = insertElementAfter(xfrm, ext, kDrawingNs, "a", "chOff");
        setInt64Attribute(chOff, "x", value.x);
        setInt64Attribute(chOff, "y", value.y);
        pugi::xml_node chExt = insertElementAfter(xfrm, chOff, kDrawingNs, "a", "chExt");
        setInt64Attribute(chExt, "cx", value.cx);
        setInt64Attribute(chExt, "cy", value.cy);
    }
}

bool holdsTransform(pugi::xml_node shape, const Transform& value) {
    pugi::xml_node xfrm = transformElement(shape);
    pugi::xml_node off = child(xfrm, "off");
    pugi::xml_node ext = child(xfrm, "ext");
    if (!off || !ext || !attribute(off, "x") || !attribute(off, "y") || !attribute(ext, "cx") ||
        !attribute(ext, "cy")) {
        return false;
    }
    if (shapeKind(shape) == ShapeKind::Group && !child(xfrm, "chOff")) {
        return false;
    }
    return int64Attribute(off, "x") == value.x && int64Attribute(off, "y") == value.y &&
           int64Attribute(ext, "cx") == value.cx && int64Attribute(ext, "cy") == value.cy;
}

pugi::xml_node blackWhiteHolder(pugi::xml_node shape, bool create) {
    ShapeKind kind = shapeKind(shape);
    if (kind == ShapeKind::GraphicFrame || kind == ShapeKind::ContentPart) {
        return shape;
    }
    return shapeProperties(shape, create);
}

std::string blackWhiteMode(pugi::xml_node shape) {
    return attribute(blackWhiteHolder(shape, false), "bwMode").value();
}

void setBlackWhiteMode(pugi::xml_node shape, const std::string& mode) {
    pugi::xml_node holder = blackWhiteHolder(shape, true);
    if (!holder) {
        return;
    }
    pugi::xml_attribute a = attribute(holder, "bwMode");
    if (!a) {
        a = holder.append_attribute("bwMode");
    }
    a.set_value(mode.c_str());
}

pugi::xml_node textBody(pugi::xml_node shape) {
    if (shapeKind(shape) != ShapeKind::Shape) {
        return {};
    }
    return child(shape, "txBody");
}

std::optional<bool> runBold(pugi::xml_node runProperties) {
    return booleanValue(attribute(runProperties, "b"));
}

std::optional<bool> listStyleBold(pugi::xml_node listStyle, int level) {
    if (!listStyle) {
        return std::nullopt;
    }
    if (level < 0 || level > 8) {
        level = 0;
    }
    std::string lvl = "lvl" + std::to_string(level + 1) + "pPr";
    if (auto b = runBold(child(child(listStyle, lvl), "defRPr"))) {
        return b;
    }
    return runBold(child(child(listStyle, "defPPr"), "defRPr"));
}

} // namespace lf::ppt::oxml
