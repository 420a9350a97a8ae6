#pragma once
// What the decks and documents of the object model print and export through. The presentation and
// document engines know only this interface; an application given no engine cannot print. The
// engine of the program (office_printing.h) lays the pages out in LibreOffice and hands them to CUPS.
#include "office/render/pdf_export.h"

#include <filesystem>
#include <stdexcept>
#include <string>

namespace lf::printing {

class PrintError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the pages show.
enum class Pages {
    Slides,     // a deck's slides
    NotesPages, // a deck's notes pages, one per slide
    Document,   // every page of a document
};

struct PrintJob {
    std::filesystem::path source; // the deck or document file; only ever read
    Pages pages = Pages::Document;
    std::string printer;             // the destination, as the printer lists name it
    std::filesystem::path printFile; // empty: a job on the printer; otherwise the print file written
    bool background = false;         // queued: print() returns at once and the file appears later
};

class PrintEngine {
public:
    virtual ~PrintEngine() = default;
    // Fails (PrintError) when there is no printer of that name.
    virtual void checkPrinter(const std::string& printer) = 0;
    // Prints the job; in the foreground the print file exists (or the job was handed to the printer)
    // when it returns, and a failure is thrown. A background job's failure is reported on its own.
    virtual void print(const PrintJob& job) = 0;
    // Writes the PDF of the source, hidden slides left out, carrying what `pdfExport` asks for; fails
    // (PrintError) with the reason.
    virtual void exportPdf(const std::filesystem::path& source, Pages pages, const std::filesystem::path& pdf,
                           const render::PdfExport& pdfExport) = 0;
};

} // namespace lf::printing
