#pragma once
// The element layer of Word documents: paragraphs, runs and their properties as pugixml nodes, with
// children kept in the order the format requires (Word refuses a document whose properties are out
// of order). Internal to the document engine.
#include <pugixml.hpp>

#include <string>
#include <vector>

namespace lf::word::wml {

inline constexpr const char* kMainNs = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
inline constexpr const char* kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// Whether the node is an element of that name ("w:p").
bool is(pugi::xml_node node, const char* name);

// The child of that name, made at its place in `order` when missing.
pugi::xml_node ensureChild(pugi::xml_node parent, const char* name, const std::vector<std::string>& order);
const std::vector<std::string>& pPrOrder();
const std::vector<std::string>& rPrOrder();
const std::vector<std::string>& sectPrOrder();

pugi::xml_node pPr(pugi::xml_node p, bool create);
// The paragraph mark's run properties (pPr/rPr).
pugi::xml_node markRPr(pugi::xml_node p, bool create);
pugi::xml_node rPr(pugi::xml_node r, bool create);

// Paragraphs of a story in order: into tables, content controls and custom XML, but not into text boxes.
std::vector<pugi::xml_node> storyParagraphs(pugi::xml_node root);
// Every paragraph under root, those in text boxes and alternate content included.
std::vector<pugi::xml_node> allParagraphs(pugi::xml_node root);
// The runs of a paragraph's own text (through hyperlinks, insertions, content controls, simple
// fields), not those of text boxes anchored in it nor of tracked deletions.
std::vector<pugi::xml_node> runsOf(pugi::xml_node p);

// The paragraph's text: tabs as 9, breaks as 11, no paragraph mark.
std::string paragraphText(pugi::xml_node p);

// Run properties copied from `source` without what belongs only to a paragraph mark (revision marks).
void copyRunProperties(pugi::xml_node target, pugi::xml_node source);

// Gives paragraph p a copy of paragraph properties, without a section break or revision marks of
// its own (those belong to the paragraph they were copied from); returns the copy.
pugi::xml_node copyParagraphProperties(pugi::xml_node p, pugi::xml_node props);

// Sets a w:t's text, keeping its spaces.
void setText(pugi::xml_node t, const std::string& text);

// Whether an on/off property element is on (present without w:val, or with a true value).
bool isOn(pugi::xml_node property);

} // namespace lf::word::wml
