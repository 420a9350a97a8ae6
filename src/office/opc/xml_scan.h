#pragma once
// A look at the bytes of an XML part before it is parsed: how many nodes the parser would make of it
// and how deeply its elements nest, stopped as soon as either passes its bound. Parsed, a part of a
// few kilobytes can hold millions of empty elements, each a node of some 60 bytes; and though the
// parser and the freeing of its tree walk any depth without recursing, removing a subtree recurses
// over its depth. Both are refused before any node is made. Internal to the package layer.
#include <pugixml.hpp>

#include <cstdint>
#include <string_view>

namespace lf::opc::xml {

struct Bounds {
    std::uint64_t maxNodes = 0; // elements, attributes, text runs, comments, processing instructions
    std::uint64_t maxDepth = 0; // elements open at once
};

struct Scan {
    pugi::xml_encoding encoding = pugi::encoding_auto; // what the parser is to read the bytes as
    std::uint64_t nodes = 0;                           // the nodes counted, past maxNodes when tooManyNodes
    bool tooManyNodes = false;
    bool tooDeep = false;
};

// Counts as the parser reads the bytes: UTF-16 and UTF-32 (by byte-order mark or by the first
// characters, as the parser detects them) character by character, anything else as 8-bit text.
// Markup inside quoted attribute values, comments and CDATA sections is not taken for markup, as the
// parser does not take it for any; a count is never below what the parser makes of well-formed XML.
Scan scan(std::string_view bytes, const Bounds& bounds);

} // namespace lf::opc::xml
