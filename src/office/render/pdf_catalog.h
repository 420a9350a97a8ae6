#pragma once
// The language a PDF declares (its catalog's /Lang), set on a PDF the office wrote. The word
// processor declares its document's default language; the presentation program declares the
// instance's own whatever the deck is in, so the renderer sets it after the export.
#include <filesystem>
#include <string>

namespace lf::render {

// The catalog's /Lang; empty when it has none. Throws RenderError when the file is not laid out as
// the office writes PDFs (a cross-reference table, the trailer at the end).
std::string pdfLanguage(const std::filesystem::path& pdf);

// Sets the catalog's /Lang to `languageTag` (letters, digits and hyphens) by an incremental update:
// the catalog written again with the new language, a cross-reference section for it and a trailer
// that points back to the one before, appended; the bytes before stay as they are, so a PDF/A stays
// one. Nothing is written when the catalog already says so. Throws RenderError as pdfLanguage does.
void setPdfLanguage(const std::filesystem::path& pdf, const std::string& languageTag);

} // namespace lf::render
