#pragma once
// Relationships of the package layer: the .rels part that holds a part's relationships, reading and
// changing the relationships in it, and the arithmetic of their targets (relative to the part that
// has them). The package (package.h) finds and keeps the .rels parts; this knows what is in them.
#include <pugixml.hpp>

#include <string>
#include <vector>

namespace lf::opc {

struct Relationship {
    std::string id;     // rId7
    std::string type;   // full relationship type URI
    std::string target; // as written in the .rels part
    bool external = false;
};

namespace rels {

inline constexpr const char* kNamespace = "http://schemas.openxmlformats.org/package/2006/relationships";
inline constexpr const char* kContentType = "application/vnd.openxmlformats-package.relationships+xml";

// The part that holds a part's relationships: "/ppt/slides/_rels/slide1.xml.rels" for
// "/ppt/slides/slide1.xml", "/_rels/.rels" for the package's own ("/" or "").
std::string partFor(const std::string& sourcePartName);

// The relationships of a parsed .rels part, in their order.
std::vector<Relationship> read(const pugi::xml_document& relsPart);
// The highest number of the part's ids of the form "rId" + digits (up to 18 of them); 0 when none.
long long highestId(const pugi::xml_document& relsPart);
// Adds a relationship under the new id "rId" + (highest + 1), making the Relationships element when
// the part has none, and counts `highest` up; returns the id. `highest` is at least highestId(relsPart)
// (kept by the caller across additions, so that adding many is not a count of all each time), so no
// relationship of the part has that id.
std::string add(pugi::xml_document& relsPart, const std::string& type, const std::string& target,
                long long& highest);
// Removes the relationship of that id; false when there is none.
bool remove(pugi::xml_document& relsPart, const std::string& id);

// Resolves a relative target against the source part ("../slideLayouts/slideLayout1.xml").
std::string resolveTarget(const std::string& sourcePartName, const std::string& target);
// A relative target from a source part to a part ("/ppt/notesSlides/notesSlide1.xml" from
// "/ppt/slides/slide1.xml" is "../notesSlides/notesSlide1.xml").
std::string relativeTarget(const std::string& sourcePartName, const std::string& partName);

} // namespace rels

} // namespace lf::opc
