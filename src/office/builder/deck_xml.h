#pragma once
// Inside the builder: the pieces of slide XML that both the shapes (drawing.cpp) and the deck's own
// parts (deck.cpp) are made of.
#include "office/builder/drawing.h"

#include <optional>
#include <string>

namespace lf::builder {

// a:xfrm (or p:xfrm for graphic frames) of a rectangle.
std::string xfrmXml(const Rect& r, const char* prefix = "a");
// p:grpSpPr of a group placed at xfrm whose members are laid out in children.
std::string groupProperties(const Rect& xfrm, const Rect& children);
// The non-visual and group properties a shape tree starts with.
std::string shapeTreeHead();
// lvl1pPr ... lvl9pPr of a text style list: size in hundredths of a point, indented per level.
std::string textLevels(std::optional<bool> bold, int size);

} // namespace lf::builder
