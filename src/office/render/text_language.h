#pragma once
// The language a deck's or document's text is written in, as the file states it: the language of
// each run of text (a deck's a:rPr lang, a document's w:lang by the script of the run's characters),
// else the file's default (a deck's default text style, a document's defaults), weighed by the
// characters each run holds. A PDF declares it as its language.
#include <filesystem>
#include <string>

namespace lf::render {

// The language tag ("ja-JP") most of the text of the .pptx or .docx is in; empty when the file states
// no language for it. Reads only the file; throws opc::PackageError when it is not a package.
std::string textLanguage(const std::filesystem::path& file);

} // namespace lf::render
