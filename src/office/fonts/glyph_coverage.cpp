#include "office/fonts/glyph_coverage.h"

#include "office/document/word.h"
#include "office/presentation/presentation.h"

#include <fontconfig/fontconfig.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <stdexcept>
#include <unordered_set>

namespace lf::fonts {

struct GlyphCoverage::Impl {
    FcCharSet* characters = nullptr;
};

GlyphCoverage::GlyphCoverage() : impl_(std::make_unique<Impl>()) {
    // A configuration of our own: the process's current one (Qt's) is neither read nor changed.
    FcConfig* config = FcInitLoadConfigAndFonts();
    FcPattern* any = FcPatternCreate();
    FcObjectSet* wanted = FcObjectSetBuild(FC_CHARSET, static_cast<char*>(nullptr));
    FcFontSet* fonts = config && any && wanted ? FcFontList(config, any, wanted) : nullptr;
    impl_->characters = FcCharSetCreate();
    for (int i = 0; fonts && i < fonts->nfont; ++i) {
        FcCharSet* font = nullptr;
        if (FcPatternGetCharSet(fonts->fonts[i], FC_CHARSET, 0, &font) == FcResultMatch)
            FcCharSetMerge(impl_->characters, font, nullptr);
    }
    if (fonts)
        FcFontSetDestroy(fonts);
    if (wanted)
        FcObjectSetDestroy(wanted);
    if (any)
        FcPatternDestroy(any);
    if (config)
        FcConfigDestroy(config);
}

GlyphCoverage::~GlyphCoverage() {
    if (impl_->characters)
        FcCharSetDestroy(impl_->characters);
}

const GlyphCoverage& GlyphCoverage::installed() {
    static const GlyphCoverage coverage;
    return coverage;
}

bool GlyphCoverage::covers(char32_t character) const {
    return impl_->characters && FcCharSetHasChar(impl_->characters, character);
}

namespace {

// Characters a layout never draws a glyph for, so none is missing.
bool neverDrawn(UChar32 c) {
    return u_iscntrl(c) || u_hasBinaryProperty(c, UCHAR_DEFAULT_IGNORABLE_CODE_POINT) ||
           u_charType(c) == U_SURROGATE;
}

} // namespace

std::vector<char32_t> GlyphCoverage::uncovered(std::string_view utf8) const {
    std::vector<char32_t> found;
    std::unordered_set<char32_t> seen;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(utf8.data());
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(utf8.size(), INT32_MAX));
    for (std::int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0 || neverDrawn(c))
            continue;
        const auto character = static_cast<char32_t>(c);
        if (!covers(character) && seen.insert(character).second)
            found.push_back(character);
    }
    return found;
}

std::string scriptName(char32_t character) {
    const auto c = static_cast<UChar32>(character);
    if (u_charType(c) == U_PRIVATE_USE_CHAR)
        return "private use";
    if (u_charType(c) == U_UNASSIGNED)
        return "unknown";
    UErrorCode status = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(c, &status);
    const char* name = U_SUCCESS(status) ? uscript_getName(script) : nullptr;
    std::string text = name ? name : "unknown";
    std::replace(text.begin(), text.end(), '_', ' ');
    return text;
}

std::string fontPackageFor(std::string_view script) {
    if (script == "private use")
        return {};
    // Chinese, Japanese and Korean: one package has them all.
    if (script == "Han" || script == "Hiragana" || script == "Katakana" || script == "Hangul" ||
        script == "Bopomofo" || script == "Katakana Or Hiragana")
        return "fonts-noto-cjk";
    if (script == "Common" || script == "Inherited")
        return "fonts-noto-core";
    // The living scripts are in fonts-noto-core; the rarer and historic ones in fonts-noto-extra.
    return "fonts-noto-core or fonts-noto-extra";
}

MissingGlyphs missingGlyphs(std::string_view utf8, const GlyphCoverage& coverage) {
    MissingGlyphs missing;
    for (char32_t character : coverage.uncovered(utf8)) {
        const std::string name = scriptName(character);
        auto script = std::find_if(missing.scripts.begin(), missing.scripts.end(),
                                   [&](const MissingGlyphs::Script& s) { return s.name == name; });
        if (script == missing.scripts.end())
            script = missing.scripts.insert(missing.scripts.end(), MissingGlyphs::Script{name, {}});
        script->characters.push_back(character);
        ++missing.count;
    }
    return missing;
}

namespace {

void appendText(std::string& out, const ppt::TextFrame& frame) {
    out += frame.textRange().text();
    out += '\r';
}

// The shapes of a slide or notes page, groups opened and tables read cell by cell; a worklist
// rather than recursion, so groups nested however deep cannot exhaust the stack.
void appendShapesText(std::string& out, const ppt::Shapes& shapes) {
    std::vector<ppt::Shape> pending(shapes.begin(), shapes.end());
    std::reverse(pending.begin(), pending.end());
    while (!pending.empty()) {
        const ppt::Shape shape = pending.back();
        pending.pop_back();
        if (shape.hasTextFrame()) {
            appendText(out, shape.textFrame());
        } else if (shape.type() == ppt::office::msoGroup) {
            const ppt::Shapes members = shape.groupItems();
            pending.insert(pending.end(), std::make_reverse_iterator(members.end()),
                           std::make_reverse_iterator(members.begin()));
        } else if (shape.hasTable()) {
            const ppt::Table table = shape.table();
            for (int row = 1; row <= table.rowCount(); ++row) {
                // A damaged table's rows may differ in length: each row counts its own cells.
                for (int column = 1; column <= table.columnCount(row); ++column)
                    appendText(out, table.cell(row, column).textFrame());
            }
        }
    }
}

} // namespace

std::string deckText(const ppt::Presentation& deck) {
    std::string text;
    for (const ppt::Slide& slide : deck.slides()) {
        // A hidden slide prints nowhere, neither its slide nor its notes page.
        if (slide.hidden())
            continue;
        appendShapesText(text, slide.shapes());
        // A slide without notes prints an empty notes page: only the notes a deck has are read.
        if (slide.hasNotesPage())
            appendShapesText(text, slide.notesPage().shapes());
    }
    return text;
}

std::string documentText(const word::Document& document) {
    std::string text = document.range().text();
    const word::Sections sections = document.sections();
    for (int s = 1; s <= sections.count(); ++s) {
        const word::Section section = sections.item(s);
        // Primary, first-page and even-page headers and footers.
        for (int kind = 1; kind <= 3; ++kind) {
            for (const word::HeaderFooter& story :
                 {section.headers().item(kind), section.footers().item(kind)})
                if (story.exists())
                    text += story.range().text();
        }
    }
    return text;
}

} // namespace lf::fonts
