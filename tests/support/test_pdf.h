#pragma once
// PDFs in tests: a real one of a given number of pages, made at once without an office suite, the
// page count of any PDF as poppler's pdfinfo reads it, and what a PDF says of itself beyond its pages.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace lf::test {

// Writes an A4 PDF of `pages` pages, each with its number in large type and a frame.
void writeTestPdf(const std::filesystem::path& file, int pages);

// The number of pages pdfinfo finds in the PDF; -1 when it cannot read it.
int pdfPageCount(const std::filesystem::path& pdf);

// The text of the PDF as poppler's pdftotext reads it (UTF-8); empty when it cannot read it.
std::string pdfText(const std::filesystem::path& pdf);

// The names of the fonts embedded in the PDF, as poppler's pdffonts lists them (subset prefix
// "ABCDEF+" removed); the fonts it only names are left out.
std::vector<std::string> pdfEmbeddedFonts(const std::filesystem::path& pdf);

// What a PDF says of itself: pdfinfo's fields, and from its catalog as qpdf reads it (the newest
// update's) its language, its outline and its XMP metadata.
struct PdfFacts {
    std::map<std::string, std::string> info; // pdfinfo's "Key: value" lines: "Tagged" -> "yes", "Title"...
    std::string language;                    // the catalog's /Lang
    std::vector<std::string> outline;        // every bookmark's title, depth first, two blanks per level
    std::string metadata;                    // the catalog's XMP metadata, decoded
};
PdfFacts readPdfFacts(const std::filesystem::path& pdf);

// The pages of a PostScript print file, as its "%%Page:" comments count them.
int postScriptPageCount(const std::string& postScript);

} // namespace lf::test
