#pragma once
// The element layer of decks: small accessors over the pugixml nodes of slides, layouts, masters and
// notes pages. Elements are found by their local name, so a producer that binds the usual namespaces
// to other prefixes reads the same. Lengths are in EMU as stored. Nothing here knows of inheritance
// or of the object model's units.
#include <pugixml.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lf::ppt::oxml {

inline constexpr const char* kDrawingNs = "http://schemas.openxmlformats.org/drawingml/2006/main";
inline constexpr const char* kPresentationNs = "http://schemas.openxmlformats.org/presentationml/2006/main";
inline constexpr const char* kRelationshipsNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// The part of a name after its prefix ("p:sp" gives "sp").
std::string_view localName(std::string_view qualifiedName);
std::string_view localName(pugi::xml_node node);
// The first element child with that local name; an empty node when none.
pugi::xml_node child(pugi::xml_node parent, std::string_view local);
// The first child along a path of local names ("nvSpPr/nvPr/ph" as {"nvSpPr","nvPr","ph"}).
pugi::xml_node path(pugi::xml_node node, std::initializer_list<std::string_view> locals);
// The first attribute with that local name (any prefix); an empty attribute when none.
pugi::xml_attribute attribute(pugi::xml_node node, std::string_view local);
// An xsd:boolean attribute value ("1"/"true" or "0"/"false"); nullopt when absent or malformed.
std::optional<bool> booleanValue(pugi::xml_attribute attr);

// The prefix bound to a namespace on the document element, declaring `preferred` (or, when that is
// bound to another namespace, `preferred` and a number) when none is.
std::string prefixFor(pugi::xml_node anyNode, const char* namespaceUri, const char* preferred);
// A new element child of that local name in the namespace, with the document's prefix for it.
pugi::xml_node appendElement(pugi::xml_node parent, const char* namespaceUri, const char* preferredPrefix,
                             std::string_view local);
pugi::xml_node prependElement(pugi::xml_node parent, const char* namespaceUri, const char* preferredPrefix,
                              std::string_view local);
pugi::xml_node insertElementAfter(pugi::xml_node parent, pugi::xml_node after, const char* namespaceUri,
                                  const char* preferredPrefix, std::string_view local);

// The kinds of element that a shape tree holds at its top level.
enum class ShapeKind { Shape, Picture, Connector, Group, GraphicFrame, ContentPart, Unknown };
ShapeKind shapeKind(pugi::xml_node shape);
bool isShapeElement(pugi::xml_node node);
// An mc:AlternateContent in a shape tree stands for one shape: the element of its first Choice,
// else of its Fallback.
pugi::xml_node alternateChoice(pugi::xml_node alternateContent);
pugi::xml_node alternateFallback(pugi::xml_node alternateContent);

// p:cSld/p:spTree of a slide, layout, master or notes page root.
pugi::xml_node shapeTree(pugi::xml_node partRoot);
// The non-visual properties holder (nvSpPr, nvPicPr, nvCxnSpPr, nvGrpSpPr, nvGraphicFramePr...).
pugi::xml_node nonVisualHolder(pugi::xml_node shape);
// cNvPr: id and name.
pugi::xml_node commonNonVisual(pugi::xml_node shape);

struct Placeholder {
    std::string type = "obj"; // ST_PlaceholderType, "obj" when not written
    std::uint32_t idx = 0;
    bool hasIdx = false;
};
std::optional<Placeholder> placeholder(pugi::xml_node shape);

// a:xfrm of a shape (spPr/xfrm, grpSpPr/xfrm, or the frame's own p:xfrm).
struct Transform {
    std::int64_t x = 0, y = 0, cx = 0, cy = 0;
};
pugi::xml_node transformElement(pugi::xml_node shape);
std::optional<Transform> transform(pugi::xml_node shape);
// Writes offset and extents, creating the transform (and the shape properties holding it) when missing.
void setTransform(pugi::xml_node shape, const Transform& value);
// Whether the shape's own transform already holds exactly these values, so that setting them would
// change nothing in the file.
bool holdsTransform(pugi::xml_node shape, const Transform& value);

// The element carrying the black-and-white mode: spPr, grpSpPr, or the frame itself.
pugi::xml_node blackWhiteHolder(pugi::xml_node shape, bool create);
std::string blackWhiteMode(pugi::xml_node shape); // "" when not written
void setBlackWhiteMode(pugi::xml_node shape, const std::string& mode);

// p:txBody of a shape; empty for shapes that cannot hold one.
pugi::xml_node textBody(pugi::xml_node shape);
// a:lvlNpPr (level 0..8) of a list style, then a:defPPr: the a:defRPr bold they set.
std::optional<bool> listStyleBold(pugi::xml_node listStyle, int level);
// a:rPr/@b (run, field, break or end-of-paragraph properties).
std::optional<bool> runBold(pugi::xml_node runProperties);

} // namespace lf::ppt::oxml
