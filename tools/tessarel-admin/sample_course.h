#pragma once
// A small generated sample course, written with the office builder: plain .pptx decks (title
// rectangles near the top with bold text, tagged index words in each slide's customer data) and .docx
// documents.
#include <string>
#include <vector>

namespace lf::tessarel::sample {

struct SampleSlide {
    std::string title;
    std::string body;
    std::string indexWord; // "" for none
};

// Writes a deck; throws std::runtime_error when the file cannot be written.
void writeDeck(const std::string& path, const std::vector<SampleSlide>& slides);
// Writes a document of paragraphs; with templateStyles it also carries the "TOC 2"/"TOC 3" styles
// and a header holding "Course Name", as the TOC and Index templates do.
void writeDocument(const std::string& path, const std::vector<std::string>& paragraphs, bool templateStyles);

// Writes the whole sample course into a folder; returns the file names written.
std::vector<std::string> writeSampleCourse(const std::string& folder);
std::vector<std::string> writeSampleTemplates(const std::string& folder);

} // namespace lf::tessarel::sample
