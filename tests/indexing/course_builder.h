#pragma once
// Course folders for the TOC and Index tests: real decks (through the office builder) with
// "Rectangle" title shapes, "Module" banners, bold and plain sentences and custom XML parts holding
// tagged words (taggedWord); real Word templates with a "Course Name" header; and a reader for the
// documents the writers produce, straight from their XML.
#include "deck_builder.h"
#include "office/builder/document.h"

#include <filesystem>
#include <string>
#include <vector>

namespace lf::test {

// A "Rectangle n" auto shape at the given top (points) holding one paragraph of runs.
std::string titleRectangle(int id, const std::string& runsXml, double top = 20,
                           const std::string& name = "Rectangle 2");
// A bold title rectangle with one text.
std::string boldTitle(int id, const std::string& text, double top = 20);
// A text box at the top of the slide reading text (a banner such as "Module 2: Storage").
std::string banner(int id, const std::string& text);
// One slide with a bold title and tagged words.
SlideSpec titledSlide(const std::string& title, const std::vector<std::string>& words = {});

// Writes the deck; returns its path.
std::filesystem::path writeDeck(const std::filesystem::path& folder, const std::string& fileName,
                                const std::vector<SlideSpec>& slides);

// A Word template: styles (Normal, toc 2, toc 3, Plain Text), a primary header reading headerText and
// some body text to be cleared.
void writeWordTemplate(const std::filesystem::path& file, const std::string& headerText = "Course Name");

struct WrittenParagraph {
    std::string text;  // tabs as "\t"
    std::string style; // the style's name
    std::string font;  // the first run's (or the paragraph mark's) font, "" when none is set
    double size = 0;   // points, 0 when not set directly
    bool italic = false;
    bool bold = false;
    int alignment = 0; // 0 left, 1 centred, 2 right
};

// The paragraphs of a written document's main text.
std::vector<WrittenParagraph> readParagraphs(const std::filesystem::path& docx);
// The text of the primary header of the first section.
std::string readHeaderText(const std::filesystem::path& docx);
// The non-empty paragraph texts.
std::vector<std::string> nonEmptyTexts(const std::vector<WrittenParagraph>& paragraphs);

} // namespace lf::test
