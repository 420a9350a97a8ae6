#pragma once
// Which characters of a deck's or document's text would print as boxes: characters no installed font
// has a glyph for. LibreOffice lays the pages out with the fonts fontconfig finds, and for a character
// the named font lacks it falls back to whichever installed font has it; when none has it, the page
// shows a box in its place. So the fonts fontconfig lists, taken together, are what can print.
//
// Library lf_office_fonts: fontconfig for the fonts, ICU for the characters' scripts.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lf::ppt {
class Presentation;
}
namespace lf::word {
class Document;
}

namespace lf::fonts {

// The characters the installed fonts have, taken together.
class GlyphCoverage {
public:
    // The installed fonts as fontconfig finds them when first asked; built once per process (15 to
    // 30 ms for 440 font faces, with fontconfig's cache warm) and shared by every caller and thread.
    static const GlyphCoverage& installed();

    bool covers(char32_t character) const;
    // The characters of the UTF-8 text that print as boxes, each once, in the order first met. Controls
    // (paragraph and line breaks, tabs) and characters that are never drawn (joiners, variation
    // selectors, byte order marks) are not looked at; a byte sequence that is not UTF-8 is skipped.
    std::vector<char32_t> uncovered(std::string_view utf8) const;

    ~GlyphCoverage();
    GlyphCoverage(const GlyphCoverage&) = delete;
    GlyphCoverage& operator=(const GlyphCoverage&) = delete;

private:
    GlyphCoverage();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Every text a deck prints: its slides' and notes pages' shapes, those in groups and table cells
// included, hidden slides left out; paragraphs end with a carriage return.
std::string deckText(const ppt::Presentation& deck);
// Every text a document prints: the main text with its tables, the headers and footers.
std::string documentText(const word::Document& document);

// The characters of a file that print as boxes, grouped by script in the order first met.
struct MissingGlyphs {
    struct Script {
        std::string name;                 // "Han", "Arabic", "private use"
        std::vector<char32_t> characters; // each once
    };
    std::vector<Script> scripts;
    std::size_t count = 0; // characters in all
    bool empty() const { return count == 0; }
};
MissingGlyphs missingGlyphs(std::string_view utf8,
                            const GlyphCoverage& coverage = GlyphCoverage::installed());

// The name of a character's script as the Unicode script names it ("Han", "Hiragana", "Arabic");
// "private use" for characters whose meaning a font alone gives; "unknown" for unassigned ones.
std::string scriptName(char32_t character);
// The Debian package with fonts for the script, "" when no package can have them (private use).
std::string fontPackageFor(std::string_view scriptName);

} // namespace lf::fonts
