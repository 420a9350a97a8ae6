#include "office/document/compose.h"

namespace lf::word {

Range appendParagraph(Document& document, const ParagraphSpec& spec) {
    // The new paragraph is the last one.
    Range range = document.paragraphs().add().range();
    if (!spec.text.empty())
        range.insertAfter(spec.text);
    if (!spec.style.empty())
        range.setStyle(spec.style);
    Font font = range.font();
    if (!spec.fontName.empty())
        font.setName(spec.fontName);
    if (spec.fontSize != 0)
        font.setSize(spec.fontSize);
    font.setItalic(spec.italic);
    font.setBold(spec.bold);
    if (spec.alignment >= 0)
        range.paragraphFormat().setAlignment(spec.alignment);
    return range;
}

} // namespace lf::word
