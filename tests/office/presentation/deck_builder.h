#pragma once
// The tests' decks: the office builder (src/office/builder) writes them, with one slide master and its
// text styles, two layouts, an optional notes master, slides with any shapes, notes pages and custom
// XML parts, through libzip directly so that the engine's own package writer is not on trial here.
// The tests name its pieces as lf::test:: ones; this header adds the zip readers they check with.
#include "office/builder/deck.h"
#include "office/builder/drawing.h"
#include "office/builder/package.h"

#include <filesystem>
#include <map>
#include <string>
#include <utility>

namespace lf::test {

using namespace lf::builder;

// Every entry name with its inflated bytes.
std::map<std::string, std::string> readZip(const std::filesystem::path& file);
// Every entry name with its stored (compressed) bytes and compression method.
std::map<std::string, std::pair<int, std::string>> readZipRaw(const std::filesystem::path& file);

} // namespace lf::test
