#include "office/render/pdf_catalog.h"

#include "office/render/libreoffice.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

namespace lf::render {

namespace fs = std::filesystem;

namespace {

// The trailer, startxref and %%EOF are within the file's last bytes.
constexpr std::uint64_t trailerWindow = 4096;
// The most bytes from the last cross-reference section to the end that are read: 20 bytes an object,
// some three million objects, far more than the office writes for any deck or document.
constexpr std::uint64_t maxCrossReferenceSize = std::uint64_t(64) << 20;
// The longest catalog object read (the office's is a few hundred bytes).
constexpr std::uint64_t maxCatalogSize = 64 * 1024;
// How deeply dictionaries and arrays may nest in the catalog or the trailer.
constexpr int maxNesting = 32;
// How many updates back the catalog is looked for.
constexpr int maxUpdates = 16;

RenderError malformed(const fs::path& pdf, const std::string& what) {
    return RenderError("the PDF " + pdf.filename().string() +
                       " is not laid out as LibreOffice writes PDFs: " + what);
}

bool isSpace(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}
bool isDelimiter(char c) {
    return isSpace(c) || std::strchr("()<>[]{}/%", c) != nullptr;
}

// One object of a dictionary or array: [begin, end) in the text, and its kind: '/' a name, '(' a
// literal string, '<' a hex string, 'd' a dictionary, '[' an array, 'w' any other word.
struct Token {
    std::size_t begin = 0, end = 0;
    char kind = 'w';
};

// The object starting at `at` (blanks before it skipped); nullopt at the end of the text, at a closing
// ">>" or "]", or when it is cut short or nests too deeply.
std::optional<Token> nextToken(const std::string& text, std::size_t at, int depth = 0) {
    while (at < text.size() && isSpace(text[at]))
        ++at;
    if (at >= text.size() || depth > maxNesting)
        return std::nullopt;
    Token t;
    t.begin = at;
    const char c = text[at];
    if (c == '(') {
        t.kind = '(';
        int open = 0;
        for (; at < text.size(); ++at) {
            if (text[at] == '\\') {
                ++at;
            } else if (text[at] == '(') {
                ++open;
            } else if (text[at] == ')' && --open == 0) {
                break;
            }
        }
        if (at >= text.size())
            return std::nullopt;
        t.end = at + 1;
    } else if (c == '<' && at + 1 < text.size() && text[at + 1] == '<') {
        t.kind = 'd';
        at += 2;
        while (const auto inner = nextToken(text, at, depth + 1))
            at = inner->end;
        while (at < text.size() && isSpace(text[at]))
            ++at;
        if (text.compare(at, 2, ">>") != 0)
            return std::nullopt;
        t.end = at + 2;
    } else if (c == '<') {
        t.kind = '<';
        const std::size_t close = text.find('>', at);
        if (close == std::string::npos)
            return std::nullopt;
        t.end = close + 1;
    } else if (c == '[') {
        t.kind = '[';
        ++at;
        while (const auto inner = nextToken(text, at, depth + 1))
            at = inner->end;
        while (at < text.size() && isSpace(text[at]))
            ++at;
        if (at >= text.size() || text[at] != ']')
            return std::nullopt;
        t.end = at + 1;
    } else if (c == '>' || c == ']' || c == ')') {
        return std::nullopt;
    } else {
        t.kind = c == '/' ? '/' : 'w';
        ++at;
        while (at < text.size() && !isDelimiter(text[at]))
            ++at;
        t.end = at;
    }
    return t;
}

// One entry of a dictionary: its key (without "/") and where its value stands in the text.
struct Entry {
    std::string key;
    std::size_t keyBegin = 0, valueBegin = 0, valueEnd = 0;
};

// The entries of the dictionary that starts at `at` ("<<"); nullopt when it is not one.
std::optional<std::vector<Entry>> dictionaryEntries(const std::string& text, std::size_t at) {
    const auto whole = nextToken(text, at);
    if (!whole || whole->kind != 'd')
        return std::nullopt;
    std::vector<Token> tokens;
    std::size_t next = whole->begin + 2;
    while (const auto t = nextToken(text, next, 1)) {
        tokens.push_back(*t);
        next = t->end;
    }
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < tokens.size();) {
        if (tokens[i].kind != '/' || i + 1 >= tokens.size())
            return std::nullopt;
        Entry e;
        e.key = text.substr(tokens[i].begin + 1, tokens[i].end - tokens[i].begin - 1);
        e.keyBegin = tokens[i].begin;
        e.valueBegin = tokens[i + 1].begin;
        std::size_t last = i + 1;
        // "12 0 R" is one value: a reference.
        if (i + 3 < tokens.size() && tokens[i + 1].kind == 'w' && tokens[i + 2].kind == 'w' &&
            tokens[i + 3].kind == 'w' && text.compare(tokens[i + 3].begin, 1, "R") == 0 &&
            tokens[i + 3].end == tokens[i + 3].begin + 1)
            last = i + 3;
        e.valueEnd = tokens[last].end;
        entries.push_back(e);
        i = last + 1;
    }
    return entries;
}

const Entry* findEntry(const std::vector<Entry>& entries, const std::string& key) {
    for (const Entry& e : entries)
        if (e.key == key)
            return &e;
    return nullptr;
}

std::string readAt(std::ifstream& in, std::uint64_t offset, std::uint64_t length) {
    std::string bytes(length, '\0');
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(bytes.data(), static_cast<std::streamsize>(length));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return bytes;
}

std::optional<std::uint64_t> number(const std::string& text, std::size_t& at) {
    while (at < text.size() && isSpace(text[at]))
        ++at;
    if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at])))
        return std::nullopt;
    std::uint64_t n = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        if (n > (std::uint64_t(1) << 50))
            return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(text[at] - '0');
    }
    return n;
}

// What the last update of a PDF says: its trailer, and where the catalog stands.
struct Layout {
    std::uint64_t size = 0;           // of the file
    std::uint64_t crossReference = 0; // where the last cross-reference section starts
    std::string trailer;              // the last trailer's dictionary
    std::vector<Entry> trailerEntries;
    std::uint64_t root = 0, rootGeneration = 0;
    std::string catalog; // the catalog object from its "N G obj" up to the end of its dictionary
    std::size_t catalogDictionary = 0; // where its dictionary starts in `catalog`
    std::vector<Entry> catalogEntries;
};

// The offset of object `object` in the cross-reference section at `at` of the text (the file from
// `base` on); the section's trailer is returned in `trailerAt`.
std::optional<std::uint64_t> objectOffset(const fs::path& pdf, const std::string& text, std::size_t at,
                                          std::uint64_t object, std::size_t& trailerAt) {
    if (text.compare(at, 4, "xref") != 0)
        throw malformed(pdf, "no cross-reference table where startxref points");
    at += 4;
    std::optional<std::uint64_t> found;
    while (true) {
        std::size_t peek = at;
        while (peek < text.size() && isSpace(text[peek]))
            ++peek;
        if (text.compare(peek, 7, "trailer") == 0) {
            trailerAt = peek + 7;
            return found;
        }
        const auto first = number(text, at);
        const auto count = number(text, at);
        if (!first || !count)
            throw malformed(pdf, "a cross-reference subsection without its numbers");
        while (at < text.size() && text[at] != '\n' && text[at] != '\r')
            ++at;
        while (at < text.size() && (text[at] == '\n' || text[at] == '\r'))
            ++at;
        if (*count > (text.size() - at) / 20)
            throw malformed(pdf, "a cross-reference subsection past the end of the file");
        if (object >= *first && object < *first + *count) {
            std::size_t entry = at + static_cast<std::size_t>(object - *first) * 20;
            const auto offset = number(text, entry);
            if (!offset || text.find(" n", entry) != entry + 6)
                throw malformed(pdf, "the catalog's cross-reference entry is not in use");
            found = *offset;
        }
        at += static_cast<std::size_t>(*count) * 20;
    }
}

Layout readLayout(const fs::path& pdf) {
    std::error_code ec;
    Layout layout;
    layout.size = fs::file_size(pdf, ec);
    std::ifstream in(pdf, std::ios::binary);
    if (ec || !in)
        throw RenderError("cannot read the PDF " + pdf.string() + ": " +
                          (ec ? ec.message() : "cannot open it"));
    const std::uint64_t tailAt = layout.size > trailerWindow ? layout.size - trailerWindow : 0;
    const std::string tail = readAt(in, tailAt, layout.size - tailAt);
    std::size_t at = tail.rfind("startxref");
    if (at == std::string::npos)
        throw malformed(pdf, "no startxref at its end");
    at += 9;
    const auto crossReference = number(tail, at);
    if (!crossReference || *crossReference >= layout.size ||
        layout.size - *crossReference > maxCrossReferenceSize)
        throw malformed(pdf, "startxref points outside the file's last " +
                                 std::to_string(maxCrossReferenceSize >> 20) + " MB");
    layout.crossReference = *crossReference;

    // The last trailer names the catalog; an older section may hold it when this one does not.
    std::uint64_t section = layout.crossReference;
    std::optional<std::uint64_t> catalogAt;
    for (int update = 0; update < maxUpdates && !catalogAt; ++update) {
        if (layout.size - section > maxCrossReferenceSize)
            throw malformed(pdf, "a cross-reference section before the file's last " +
                                     std::to_string(maxCrossReferenceSize >> 20) + " MB");
        const std::string text = readAt(in, section, layout.size - section);
        std::size_t trailerAt = 0;
        if (update == 0) {
            // The first pass finds the trailer first: it names the catalog.
            objectOffset(pdf, text, 0, std::uint64_t(-1), trailerAt);
            const auto entries = dictionaryEntries(text, trailerAt);
            if (!entries)
                throw malformed(pdf, "its trailer is not a dictionary");
            const auto dictionary = nextToken(text, trailerAt);
            layout.trailer = text.substr(dictionary->begin, dictionary->end - dictionary->begin);
            layout.trailerEntries = *dictionaryEntries(layout.trailer, 0);
            const Entry* root = findEntry(layout.trailerEntries, "Root");
            if (findEntry(layout.trailerEntries, "Encrypt") != nullptr)
                throw malformed(pdf, "it is encrypted");
            std::size_t r = root ? root->valueBegin : 0;
            const auto number0 = root ? number(layout.trailer, r) : std::nullopt;
            const auto generation = root ? number(layout.trailer, r) : std::nullopt;
            if (!number0 || !generation)
                throw malformed(pdf, "its trailer names no catalog");
            layout.root = *number0;
            layout.rootGeneration = *generation;
        }
        catalogAt = objectOffset(pdf, text, 0, layout.root, trailerAt);
        if (catalogAt)
            break;
        const auto entries = dictionaryEntries(text, trailerAt);
        const Entry* previous = entries ? findEntry(*entries, "Prev") : nullptr;
        std::size_t p = previous ? previous->valueBegin : 0;
        const auto before = previous ? number(text, p) : std::nullopt;
        if (!before || *before >= layout.size)
            throw malformed(pdf, "no cross-reference entry for its catalog");
        section = *before;
    }
    if (!catalogAt || *catalogAt >= layout.size)
        throw malformed(pdf, "no cross-reference entry for its catalog within " + std::to_string(maxUpdates) +
                                 " updates");
    const std::string object = readAt(in, *catalogAt, std::min(maxCatalogSize, layout.size - *catalogAt));
    const std::string header =
        std::to_string(layout.root) + " " + std::to_string(layout.rootGeneration) + " obj";
    const std::size_t dictionary = object.find("<<");
    if (object.compare(0, header.size(), header) != 0 || dictionary == std::string::npos)
        throw malformed(pdf, "its catalog is not where its cross-reference table says");
    const auto entries = dictionaryEntries(object, dictionary);
    const auto whole = nextToken(object, dictionary);
    if (!entries || !whole)
        throw malformed(pdf, "its catalog is not a dictionary of at most " + std::to_string(maxCatalogSize) +
                                 " bytes");
    layout.catalog = object.substr(0, whole->end);
    layout.catalogDictionary = dictionary;
    layout.catalogEntries = *entries;
    return layout;
}

// A PDF text string's characters, for a language tag: a literal string's, or a hex string's (UTF-16
// with its byte order mark read as ASCII).
std::string textString(const std::string& value) {
    std::string text;
    if (value.starts_with("(")) {
        for (std::size_t i = 1; i + 1 < value.size(); ++i) {
            if (value[i] == '\\' && i + 2 < value.size())
                ++i;
            text += value[i];
        }
    } else if (value.starts_with("<")) {
        std::string bytes;
        for (std::size_t i = 1; i + 2 < value.size(); i += 2)
            bytes += static_cast<char>(std::strtol(value.substr(i, 2).c_str(), nullptr, 16));
        const bool utf16 = bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF';
        for (std::size_t i = utf16 ? 3 : 0; i < bytes.size(); i += utf16 ? 2 : 1)
            text += bytes[i];
    }
    return text;
}

} // namespace

std::string pdfLanguage(const fs::path& pdf) {
    const Layout layout = readLayout(pdf);
    const Entry* lang = findEntry(layout.catalogEntries, "Lang");
    return lang ? textString(layout.catalog.substr(lang->valueBegin, lang->valueEnd - lang->valueBegin)) : "";
}

void setPdfLanguage(const fs::path& pdf, const std::string& languageTag) {
    if (languageTag.empty() || languageTag.size() > 64)
        throw RenderError("\"" + languageTag + "\" is no language tag");
    for (char c : languageTag)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
            throw RenderError("\"" + languageTag + "\" is no language tag");
    const Layout layout = readLayout(pdf);
    const std::string& c = layout.catalog;
    const Entry* lang = findEntry(layout.catalogEntries, "Lang");
    if (lang && textString(c.substr(lang->valueBegin, lang->valueEnd - lang->valueBegin)) == languageTag)
        return;

    // The catalog again, its /Lang replaced (or added before the dictionary's end).
    const std::size_t dictionaryEnd = c.size() - 2;
    std::string catalog =
        lang ? c.substr(layout.catalogDictionary, lang->keyBegin - layout.catalogDictionary) +
                   c.substr(lang->valueEnd, dictionaryEnd - lang->valueEnd)
             : c.substr(layout.catalogDictionary, dictionaryEnd - layout.catalogDictionary);
    catalog += "/Lang(" + languageTag + ")>>";

    const std::string object =
        std::to_string(layout.root) + " " + std::to_string(layout.rootGeneration) + " obj";
    std::string update = "\n";
    const std::uint64_t objectAt = layout.size + update.size();
    update += object + "\n" + catalog + "\nendobj\n";
    const std::uint64_t crossReferenceAt = layout.size + update.size();
    char entry[64];
    std::snprintf(entry, sizeof entry, "%010llu %05llu n \n", static_cast<unsigned long long>(objectAt),
                  static_cast<unsigned long long>(layout.rootGeneration));
    update += "xref\n" + std::to_string(layout.root) + " 1\n" + entry;
    // The new trailer keeps what the last one says of the file (its size, its information dictionary,
    // its identifier) and points back to it.
    update += "trailer\n<<";
    for (const Entry& e : layout.trailerEntries) {
        if (e.key == "Prev" || e.key == "DocChecksum")
            continue;
        update += "/" + e.key + " " + layout.trailer.substr(e.valueBegin, e.valueEnd - e.valueBegin) + "\n";
    }
    update += "/Prev " + std::to_string(layout.crossReference) + "\n>>\nstartxref\n" +
              std::to_string(crossReferenceAt) + "\n%%EOF\n";

    std::ofstream out(pdf, std::ios::binary | std::ios::app);
    out.write(update.data(), static_cast<std::streamsize>(update.size()));
    out.flush();
    if (!out)
        throw RenderError("cannot write the language into the PDF " + pdf.string());
}

} // namespace lf::render
