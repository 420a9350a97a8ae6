#include "office/render/text_language.h"

#include "office/opc/package.h"
#include "office/presentation/oxml.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>

namespace lf::render {

namespace {

namespace oxml = ppt::oxml;

const std::string kSlideType = "application/vnd.openxmlformats-officedocument.presentationml.slide+xml";
const std::string kOfficeDocument =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
const std::string kStyles = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles";

// The longest tag taken for a language ("zh-Hant-TW" is ten characters); a longer value is no tag.
constexpr std::size_t maxTagLength = 35;

// Characters of text by the language they are in.
using Tally = std::map<std::string, std::uint64_t>;

// A language tag as written, or empty when the value is none (letters, digits and hyphens, starting
// with a letter).
std::string languageTag(const char* value) {
    const std::string tag(value);
    if (tag.empty() || tag.size() > maxTagLength || !std::isalpha(static_cast<unsigned char>(tag[0])))
        return {};
    for (char c : tag)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
            return {};
    return tag;
}

// Which of a document run's three languages a character is in: 0 the Latin one (w:val), 1 the East
// Asian one (w:eastAsia), 2 the complex script one (w:bidi); -1 for blanks, which count for none.
int scriptOf(char32_t c) {
    if (c <= ' ' || c == 0xA0 || c == 0x3000)
        return -1;
    if ((c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF))
        return 2;
    if ((c >= 0x1100 && c <= 0x11FF) || (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xA960 && c <= 0xA97F) ||
        (c >= 0xAC00 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF) ||
        (c >= 0x20000 && c <= 0x3FFFF))
        return 1;
    return 0;
}

// Adds the characters of UTF-8 text to the languages of their scripts (an empty language counts for
// none). Bytes that are not valid UTF-8 count as Latin characters.
void tallyText(const char* text, const std::string (&languages)[3], Tally& tally) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text);
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(std::strlen(text), INT32_MAX));
    for (std::int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        const int script = c < 0 ? 0 : scriptOf(static_cast<char32_t>(c));
        if (script >= 0 && !languages[script].empty())
            ++tally[languages[script]];
    }
}

// Every element of a part with that local name, in document order (pugixml walks without recursing).
template <class Visit> void eachElement(pugi::xml_node root, std::string_view local, Visit visit) {
    struct Walker : pugi::xml_tree_walker {
        std::string_view local;
        Visit& visit;
        Walker(std::string_view l, Visit& v) : local(l), visit(v) {}
        bool for_each(pugi::xml_node& node) override {
            if (node.type() == pugi::node_element && oxml::localName(node) == local)
                visit(node);
            return true;
        }
    } walker(local, visit);
    root.traverse(walker);
}

// The text of a run's text elements (a:t or w:t), one after another.
std::string runText(pugi::xml_node run) {
    std::string text;
    for (pugi::xml_node c : run.children())
        if (c.type() == pugi::node_element && oxml::localName(c) == "t")
            text += c.child_value();
    return text;
}

Tally deckLanguages(opc::Package& package) {
    // The default text style's first level (or its defPPr) states the language of runs that state none.
    std::string fallback;
    if (const auto presentation = package.relatedPart("/", kOfficeDocument)) {
        const pugi::xml_node style =
            oxml::child(package.xmlPart(*presentation).document_element(), "defaultTextStyle");
        for (const char* level : {"lvl1pPr", "defPPr"}) {
            if (fallback.empty())
                fallback = languageTag(oxml::attribute(oxml::path(style, {level, "defRPr"}), "lang").value());
        }
    }
    Tally tally;
    for (const std::string& part : package.partNames()) {
        if (package.contentType(part) != kSlideType)
            continue;
        eachElement(package.xmlPart(part).document_element(), "r", [&](pugi::xml_node run) {
            std::string language = languageTag(oxml::attribute(oxml::child(run, "rPr"), "lang").value());
            if (language.empty())
                language = fallback;
            const std::string all[3] = {language, language, language};
            tallyText(runText(run).c_str(), all, tally);
        });
    }
    // A deck without text says its language by its default alone.
    if (tally.empty() && !fallback.empty())
        tally[fallback] = 1;
    return tally;
}

// A w:lang element's three languages, each falling back to the one given.
void documentLanguages(pugi::xml_node lang, std::string (&languages)[3]) {
    const char* names[3] = {"val", "eastAsia", "bidi"};
    for (int i = 0; i < 3; ++i) {
        const std::string tag = languageTag(oxml::attribute(lang, names[i]).value());
        if (!tag.empty())
            languages[i] = tag;
    }
}

Tally documentLanguages(opc::Package& package) {
    Tally tally;
    const auto document = package.relatedPart("/", kOfficeDocument);
    if (!document)
        return tally;
    // The document's defaults state the language of runs that state none.
    std::string defaults[3];
    if (const auto styles = package.relatedPart(*document, kStyles)) {
        documentLanguages(oxml::path(package.xmlPart(*styles).document_element(),
                                     {"docDefaults", "rPrDefault", "rPr", "lang"}),
                          defaults);
    }
    eachElement(package.xmlPart(*document).document_element(), "r", [&](pugi::xml_node run) {
        std::string languages[3] = {defaults[0], defaults[1], defaults[2]};
        documentLanguages(oxml::path(run, {"rPr", "lang"}), languages);
        tallyText(runText(run).c_str(), languages, tally);
    });
    // A document without text says its language by its defaults alone.
    if (tally.empty() && !defaults[0].empty())
        tally[defaults[0]] = 1;
    return tally;
}

} // namespace

std::string textLanguage(const std::filesystem::path& file) {
    const std::unique_ptr<opc::Package> package = opc::Package::open(file);
    const bool deck = package->relatedPart("/", kOfficeDocument).value_or("").starts_with("/ppt/");
    const Tally tally = deck ? deckLanguages(*package) : documentLanguages(*package);
    const auto most = std::max_element(tally.begin(), tally.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    return most == tally.end() ? std::string() : most->first;
}

} // namespace lf::render
