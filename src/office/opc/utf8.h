#pragma once
// UTF-8 checks shared by the office engines and their tools: text read from a part is passed on as
// the part holds it, and whatever must be valid UTF-8 (a JSON line, a document's text, a zip entry
// name) goes through these.
#include <string>
#include <string_view>

namespace lf::opc {

// Whether the bytes are well-formed UTF-8: no stray continuation bytes, no overlong forms, no
// surrogates, nothing past U+10FFFF.
bool isValidUtf8(std::string_view text);

// The text with every byte that does not start a well-formed UTF-8 sequence (and the noncharacters
// U+FFFE and U+FFFF) replaced by U+FFFD, so that Latin-1 or Windows-1252 bytes in a part that claims
// to be UTF-8 come out as one replacement character each.
std::string sanitiseUtf8(std::string_view text);

} // namespace lf::opc
