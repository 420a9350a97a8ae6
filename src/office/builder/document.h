#pragma once
// Real .docx documents from a description: paragraphs of plain text, paragraph styles (the styles a
// TOC or Index template carries), document defaults and a primary header.
#include "office/builder/package.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lf::builder {

// A paragraph style. Empty fields write no element.
struct WordStyle {
    std::string id;
    std::string name;
    bool isDefault = false;
    std::string basedOn;
    std::string next;
    bool quickFormat = false;
    std::string paragraphProperties; // the children of w:pPr
    std::string runProperties;       // the children of w:rPr
};

struct WordDocument {
    // The body, one plain text run a paragraph.
    std::vector<std::string> paragraphs;
    // The style id of each paragraph, by position; a paragraph past the list, or an empty id, takes the
    // document's default.
    std::vector<std::string> paragraphStyles;
    // The title in the core properties (docProps/core.xml); empty writes no core properties.
    std::string title;
    // The children of the document defaults' run properties; empty writes no document defaults.
    std::string defaultRunProperties;
    std::vector<WordStyle> styles;
    // The text of the first section's primary header; none writes no header.
    std::optional<std::string> header;
    // The id of the header paragraph's style; empty leaves it to the document's default.
    std::string headerStyle;

    // Every part name with its bytes, [Content_Types].xml first.
    Parts parts() const;
    void write(const std::filesystem::path& file) const;
};

} // namespace lf::builder
