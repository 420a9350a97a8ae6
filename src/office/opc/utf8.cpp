#include "office/opc/utf8.h"

#include <cstdint>

namespace lf::opc {

namespace {

// The length of the well-formed sequence at s[i], or 0 when none starts there.
std::size_t sequenceAt(std::string_view text, std::size_t i, bool allowNoncharacters) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    const unsigned char c = s[i];
    std::size_t len = 0;
    std::uint32_t cp = 0;
    if (c < 0x80)
        return 1;
    if ((c & 0xE0) == 0xC0) {
        len = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > n)
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((s[i + k] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    static const std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    if (!allowNoncharacters && (cp == 0xFFFE || cp == 0xFFFF))
        return 0;
    return len;
}

} // namespace

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = sequenceAt(text, i, true);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

std::string sanitiseUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = sequenceAt(text, i, false);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text, i, len);
            i += len;
        }
    }
    return out;
}

} // namespace lf::opc
