#pragma once
// Letter case of the ASCII letters alone, whatever the C locale: part names, style names, file
// extensions and query words are compared this way, and the locale the program starts in (Qt sets
// the user's) must not change what matches.
#include <string>

namespace lf::platform {

constexpr char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string asciiLower(std::string s) {
    for (char& c : s)
        c = asciiLower(c);
    return s;
}

} // namespace lf::platform
