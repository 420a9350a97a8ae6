#pragma once
// The sequence the TOC and Index writers use to fill a document, on the object model alone: append a
// paragraph, insert its text, then style, font and alignment. Kept here so the writers, the
// lessonforge-doc tool and the benchmark run the very same calls.
#include "office/document/word.h"

#include <string>

namespace lf::word {

struct ParagraphSpec {
    std::string text;
    std::string style;    // "" leaves the style as it is
    std::string fontName; // "" leaves the font as it is
    int fontSize = 0;     // points; 0 leaves the size to the style
    bool italic = false;
    bool bold = false;
    int alignment = office::wdAlignParagraphLeft; // below 0 leaves the alignment as it is
};

// Adds a paragraph at the end and returns its range: the text (when not empty) is inserted, then the
// style, font name and size applied when given; italic and bold are always set.
Range appendParagraph(Document& document, const ParagraphSpec& paragraph);

} // namespace lf::word
