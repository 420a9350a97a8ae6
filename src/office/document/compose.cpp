#include "office/document/compose.h"

namespace lf::word {

Range appendParagraph(Document& document, const ParagraphSpec& paragraph) {
    // The new paragraph is the last one.
    Range range = document.paragraphs().add().range();
    if (!paragraph.text.empty())
        range.insertAfter(paragraph.text);
    if (!paragraph.style.empty())
        range.setStyle(paragraph.style);
    Font font = range.font();
    if (!paragraph.fontName.empty())
        font.setName(paragraph.fontName);
    if (paragraph.fontSize != 0)
        font.setSize(paragraph.fontSize);
    font.setItalic(paragraph.italic);
    font.setBold(paragraph.bold);
    if (paragraph.alignment >= 0)
        range.paragraphFormat().setAlignment(paragraph.alignment);
    return range;
}

} // namespace lf::word
