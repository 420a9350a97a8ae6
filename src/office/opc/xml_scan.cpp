#include "office/opc/xml_scan.h"

#include <cstring>
#include <string>

namespace lf::opc::xml {

namespace {

// The encoding the parser guesses for a buffer, by the same rules: byte-order marks, then the bytes
// of "<" or "<?" in each width. Only the wide encodings matter here; 8-bit text is left to the parser.
pugi::xml_encoding wideEncoding(std::string_view b) {
    if (b.size() < 4)
        return pugi::encoding_auto;
    const auto d = [&](std::size_t i) { return static_cast<unsigned char>(b[i]); };
    if (d(0) == 0 && d(1) == 0 && d(2) == 0xfe && d(3) == 0xff)
        return pugi::encoding_utf32_be;
    if (d(0) == 0xff && d(1) == 0xfe && d(2) == 0 && d(3) == 0)
        return pugi::encoding_utf32_le;
    if (d(0) == 0xfe && d(1) == 0xff)
        return pugi::encoding_utf16_be;
    if (d(0) == 0xff && d(1) == 0xfe)
        return pugi::encoding_utf16_le;
    if (d(0) == 0xef && d(1) == 0xbb && d(2) == 0xbf)
        return pugi::encoding_auto;
    if (d(0) == 0 && d(1) == 0 && d(2) == 0 && d(3) == 0x3c)
        return pugi::encoding_utf32_be;
    if (d(0) == 0x3c && d(1) == 0 && d(2) == 0 && d(3) == 0)
        return pugi::encoding_utf32_le;
    if (d(0) == 0 && d(1) == 0x3c)
        return pugi::encoding_utf16_be;
    if (d(0) == 0x3c && d(1) == 0)
        return pugi::encoding_utf16_le;
    return pugi::encoding_auto;
}

// The markup of wide text as 8-bit text of one byte per code unit: ASCII stays, anything else becomes
// 'x'. Counting nodes and depth needs nothing but the ASCII characters.
std::string narrowed(std::string_view b, pugi::xml_encoding encoding) {
    const bool utf32 = encoding == pugi::encoding_utf32_be || encoding == pugi::encoding_utf32_le;
    const bool big = encoding == pugi::encoding_utf32_be || encoding == pugi::encoding_utf16_be;
    const std::size_t width = utf32 ? 4 : 2;
    std::string out;
    out.reserve(b.size() / width);
    for (std::size_t i = 0; i + width <= b.size(); i += width) {
        std::uint32_t unit = 0;
        for (std::size_t k = 0; k < width; ++k)
            unit = unit << 8 | static_cast<unsigned char>(b[i + (big ? k : width - 1 - k)]);
        out.push_back(unit < 0x80 ? static_cast<char>(unit) : 'x');
    }
    return out;
}

// Where the next '<' is, from i; n when there is none. Text runs are long enough for memchr's wide
// compares to pay.
inline std::size_t nextMarkup(const char* s, std::size_t i, std::size_t n) {
    const void* at = i < n ? std::memchr(s + i, '<', n - i) : nullptr;
    return at ? static_cast<std::size_t>(static_cast<const char*>(at) - s) : n;
}

// Inside tags the characters that matter are a few bytes apart: a plain loop beats any call.
inline std::size_t next(const char* s, std::size_t i, std::size_t n, char a) {
    while (i < n && s[i] != a)
        ++i;
    return i;
}

struct TagEnds {
    bool at[256] = {};
    constexpr TagEnds() { at['>'] = at['"'] = at['\''] = true; }
};
constexpr TagEnds kTagEnds;

inline std::size_t nextInTag(const char* s, std::size_t i, std::size_t n) {
    while (i < n && !kTagEnds.at[static_cast<unsigned char>(s[i])])
        ++i;
    return i;
}

void scanNarrow(std::string_view text, const Bounds& bounds, Scan& result) {
    const char* s = text.data();
    const std::size_t n = text.size();
    std::uint64_t depth = 0;
    std::uint64_t nodes = 0;
    std::size_t i = 0;
    while (i < n) {
        const std::size_t lt = nextMarkup(s, i, n);
        if (lt > i)
            ++nodes; // a run of text (whitespace too: it is kept)
        if (lt + 1 >= n)
            break;
        const char c = s[lt + 1];
        if (c == '/') {
            if (depth > 0)
                --depth;
            i = next(s, lt + 2, n, '>') + 1;
            continue;
        }
        if (c == '?' || c == '!') {
            // A processing instruction, comment, CDATA section or document type declaration: one node
            // (a declaration's pseudo-attributes are counted as attributes).
            const std::string_view rest = text.substr(lt + 1);
            const std::string_view end = c == '?'                       ? std::string_view("?>")
                                         : rest.starts_with("!--")      ? std::string_view("-->")
                                         : rest.starts_with("![CDATA[") ? std::string_view("]]>")
                                                                        : std::string_view(">");
            const std::size_t close = text.find(end, lt + 2);
            const std::size_t stop = close == std::string_view::npos ? n : close + end.size();
            ++nodes;
            if (c == '?')
                for (std::size_t k = lt; k < stop; ++k)
                    nodes += s[k] == '=';
            i = stop;
        } else {
            // A start tag, up to its '>'; attribute values are skipped whole, for they may hold '>'
            // and "/>". Each value is one attribute.
            ++nodes;
            std::size_t j = lt + 1;
            for (;;) {
                j = nextInTag(s, j, n);
                if (j >= n || s[j] == '>')
                    break;
                ++nodes;
                j = next(s, j + 1, n, s[j]);
                if (j < n)
                    ++j;
            }
            if (j >= n)
                break; // not closed: the parser refuses it
            if (s[j - 1] != '/' && ++depth > bounds.maxDepth) {
                result.tooDeep = true;
                break;
            }
            i = j + 1;
        }
        if (nodes > bounds.maxNodes) {
            result.tooManyNodes = true;
            break;
        }
    }
    result.nodes = nodes;
}

} // namespace

Scan scan(std::string_view bytes, const Bounds& bounds) {
    Scan result;
    result.encoding = wideEncoding(bytes);
    if (result.encoding == pugi::encoding_auto) {
        scanNarrow(bytes, bounds, result);
    } else {
        const std::string narrow = narrowed(bytes, result.encoding);
        scanNarrow(narrow, bounds, result);
    }
    return result;
}

} // namespace lf::opc::xml
