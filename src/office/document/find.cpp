// Find and replace over a story, matching across the runs a paragraph's text is split into.
#include "office/document/doc_state.h"
#include "office/document/wml.h"
#include "office/document/word.h"
#include "office/opc/utf8.h"

#include <QChar>

#include <cstring>
#include <optional>

namespace lf::word {

namespace {

// Stands for anything in a paragraph that is not plain text (tabs, breaks, drawings): it never
// matches and is no part of a word.
constexpr char32_t kSeparator = 0xE000;

std::u32string toUtf32(const std::string& s) {
    std::u32string out;
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp;
        std::size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else {
            cp = c & 0x07;
            len = 4;
        }
        for (std::size_t k = 1; k < len && i + k < s.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out.push_back(cp);
        i += len;
    }
    return out;
}

std::string toUtf8(const std::u32string& s) {
    std::string out;
    for (char32_t cp : s) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

char32_t fold(char32_t c) {
    return QChar::toCaseFolded(c);
}

bool isWordChar(char32_t c) {
    return c != kSeparator && (QChar::isLetterOrNumber(c) || c == '_');
}

// A paragraph's text as one string, each character knowing the w:t it came from.
struct TextMap {
    struct Piece {
        pugi::xml_node t;
        std::u32string text;
    };
    std::vector<Piece> pieces;
    std::u32string full;
    std::vector<std::pair<int, std::size_t>> origin; // piece (-1 for a separator), offset in it

    explicit TextMap(pugi::xml_node p) {
        for (pugi::xml_node r : wml::runsOf(p))
            for (pugi::xml_node c = r.first_child(); c; c = c.next_sibling()) {
                if (c.type() != pugi::node_element)
                    continue;
                const char* name = c.name();
                if (std::strcmp(name, "w:t") == 0) {
                    Piece piece{c, toUtf32(c.text().get())};
                    for (std::size_t i = 0; i < piece.text.size(); ++i) {
                        full.push_back(piece.text[i]);
                        origin.emplace_back(static_cast<int>(pieces.size()), i);
                    }
                    pieces.push_back(std::move(piece));
                } else if (std::strcmp(name, "w:rPr") == 0 || std::strcmp(name, "w:fldChar") == 0 ||
                           std::strcmp(name, "w:instrText") == 0 ||
                           std::strcmp(name, "w:lastRenderedPageBreak") == 0) {
                    continue; // field codes are not searched; field results are
                } else {
                    full.push_back(kSeparator);
                    origin.emplace_back(-1, 0);
                }
            }
    }
};

// The first match at or after `from`. `before` is the character that now stands before `from`, which
// is not text[from - 1] when a replacement ends there; none at the start of the paragraph.
std::size_t findIn(const std::u32string& text, const std::u32string& what, std::size_t from,
                   std::optional<char32_t> before, const FindOptions& o) {
    if (what.empty() || text.size() < what.size())
        return std::u32string::npos;
    for (std::size_t i = from; i + what.size() <= text.size(); ++i) {
        bool match = true;
        for (std::size_t k = 0; k < what.size() && match; ++k) {
            const char32_t a = text[i + k], b = what[k];
            match = a != kSeparator && (o.matchCase ? a == b : fold(a) == fold(b));
        }
        if (!match)
            continue;
        if (o.matchWholeWord) {
            const std::optional<char32_t> previous = i > from ? std::optional<char32_t>(text[i - 1]) : before;
            if (previous && isWordChar(*previous) && isWordChar(what.front()))
                continue;
            const std::size_t end = i + what.size();
            if (end < text.size() && isWordChar(text[end]) && isWordChar(what.back()))
                continue;
        }
        return i;
    }
    return std::u32string::npos;
}

// Replaces every match (start offsets into map.full, in order, none overlapping) with `replacement`,
// each written into the w:t of its first character so that it takes that character's formatting.
// Each w:t is rebuilt once, whatever the number of matches in it.
void replaceAll(TextMap& map, const std::vector<std::size_t>& matches, std::size_t length,
                const std::u32string& replacement) {
    std::vector<std::u32string> rebuilt(map.pieces.size());
    std::vector<bool> touched(map.pieces.size(), false);
    std::size_t m = 0;
    for (std::size_t pos = 0; pos < map.full.size(); ++pos) {
        const int piece = map.origin[pos].first;
        while (m < matches.size() && pos >= matches[m] + length)
            ++m;
        if (m < matches.size() && pos >= matches[m]) {
            // A match holds text only, never a separator.
            touched[static_cast<std::size_t>(piece)] = true;
            if (pos == matches[m])
                rebuilt[static_cast<std::size_t>(piece)] += replacement;
            continue;
        }
        if (piece >= 0)
            rebuilt[static_cast<std::size_t>(piece)].push_back(map.full[pos]);
    }
    for (std::size_t i = 0; i < map.pieces.size(); ++i) {
        if (!touched[i])
            continue;
        pugi::xml_node t = map.pieces[i].t;
        if (!rebuilt[i].empty()) {
            wml::setText(t, toUtf8(rebuilt[i]));
            continue;
        }
        pugi::xml_node run = t.parent();
        run.remove_child(t);
        bool empty = true;
        for (pugi::xml_node c = run.first_child(); c && empty; c = c.next_sibling())
            if (c.type() == pugi::node_element && std::strcmp(c.name(), "w:rPr") != 0)
                empty = false;
        if (empty)
            run.parent().remove_child(run);
    }
}

} // namespace

bool Find::execute(const std::string& findText, const FindOptions& options) {
    doc_->require();
    if (options.matchWildcards || options.matchSoundsLike || options.matchAllWordForms)
        throw DocumentError(
            doc_->fail("find with wildcards, sounds-like or all word forms is not supported"));
    if (options.replace < office::wdReplaceNone || options.replace > office::wdReplaceAll)
        throw DocumentError(doc_->fail(std::to_string(options.replace) + " is not a replace value"));
    if (part_.empty() || findText.empty())
        return false;
    const std::u32string what = toUtf32(opc::sanitiseUtf8(findText));
    std::u32string replacement;
    for (char32_t c : toUtf32(opc::sanitiseUtf8(options.replaceWith)))
        if (c >= 0x20)
            replacement.push_back(c);
    bool found = false;
    bool changed = false;
    for (pugi::xml_node p : wml::allParagraphs(doc_->storyRoot(part_))) {
        // The paragraph's matches, found as if each were replaced before the next is looked for: the
        // search goes on after the replacement, so a match never overlaps one made before it, and a
        // whole word is judged against the replacement's last character where one ends before it.
        TextMap map(p);
        std::vector<std::size_t> matches;
        std::size_t from = 0;
        std::optional<char32_t> before;
        for (;;) {
            const std::size_t at = findIn(map.full, what, from, before, options);
            if (at == std::u32string::npos)
                break;
            found = true;
            if (options.replace == office::wdReplaceNone)
                return true;
            matches.push_back(at);
            if (options.replace == office::wdReplaceOne)
                break;
            if (!replacement.empty())
                before = replacement.back();
            else if (at > from)
                before = map.full[at - 1];
            from = at + what.size();
        }
        if (!matches.empty()) {
            replaceAll(map, matches, what.size(), replacement);
            changed = true;
        }
        if (found && options.replace == office::wdReplaceOne)
            break;
    }
    if (changed)
        doc_->changed(part_);
    return found;
}

} // namespace lf::word
