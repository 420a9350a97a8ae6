#pragma once
// The Word object model the document writers call: an application holding documents made from
// templates or opened from files, their main text and paragraphs, the headers of their sections, and
// ranges with text, style, font and alignment. Texts are UTF-8. Every object is a small handle onto
// its open document; using one after the document was closed fails. Failures are DocumentError (or
// opc::PackageError for a damaged package), both std::runtime_error, whose description names the
// file and what is wrong.
#include "office/render/pdf_export.h"

#include <pugixml.hpp>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lf::printing {
class PrintEngine;
}

namespace lf::word {

class DocumentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Office values.
namespace office {
// Paragraph alignment.
inline constexpr int wdAlignParagraphLeft = 0;
inline constexpr int wdAlignParagraphCenter = 1;
inline constexpr int wdAlignParagraphRight = 2;
inline constexpr int wdAlignParagraphJustify = 3;
inline constexpr int wdAlignParagraphDistribute = 4;
// Window states.
inline constexpr int wdWindowStateNormal = 0;
inline constexpr int wdExportFormatPDF = 17;
inline constexpr int wdWindowStateMaximize = 1;
inline constexpr int wdWindowStateMinimize = 2;
// Headers and footers of a section.
inline constexpr int wdHeaderFooterPrimary = 1;
inline constexpr int wdHeaderFooterFirstPage = 2;
inline constexpr int wdHeaderFooterEvenPages = 3;
// Find and replace.
inline constexpr int wdReplaceNone = 0;
inline constexpr int wdReplaceOne = 1;
inline constexpr int wdReplaceAll = 2;
inline constexpr int wdFindStop = 0;
inline constexpr int wdFindContinue = 1;
} // namespace office

struct DocState;

class Range;

class Font {
public:
    // The effective values of the range's first run (direct formatting, then the styles, then the
    // document defaults). Size is in points; "" when no font name is given anywhere.
    std::string name() const;
    double size() const;
    bool bold() const;
    bool italic() const;
    // Set on every run of the range and on its paragraph marks.
    void setName(const std::string& name);
    void setSize(double points);
    void setBold(bool bold);
    void setItalic(bool italic);

private:
    friend class Range;
    explicit Font(const Range& range);
    std::shared_ptr<DocState> doc_;
    std::string part_;
    std::vector<pugi::xml_node> paragraphs_;
};

class ParagraphFormat {
public:
    // 0 left, 1 centre, 2 right, 3 justify, 4 distribute; the first paragraph's effective value.
    int alignment() const;
    void setAlignment(int alignment);

private:
    friend class Range;
    explicit ParagraphFormat(const Range& range);
    std::shared_ptr<DocState> doc_;
    std::string part_;
    std::vector<pugi::xml_node> paragraphs_;
};

struct FindOptions {
    bool matchCase = false;
    bool matchWholeWord = false;
    bool matchWildcards = false;    // not supported: fails when true
    bool matchSoundsLike = false;   // not supported: fails when true
    bool matchAllWordForms = false; // not supported: fails when true
    bool forward = true;
    int wrap = office::wdFindStop;
    bool format = false;
    std::string replaceWith;
    int replace = office::wdReplaceNone;
};

class Find {
public:
    // Finds the text in the range's story, also where it spans several runs; with wdReplaceOne or
    // wdReplaceAll replaces it, the replacement taking the formatting of the match's first character.
    // Returns whether the text was found. Field results are searched; field codes and tracked
    // deletions are not. `forward`, `wrap` and `format` do not change a replace-all.
    bool execute(const std::string& findText, const FindOptions& options = {});

private:
    friend class Range;
    Find(std::shared_ptr<DocState> doc, std::string part) : doc_(std::move(doc)), part_(std::move(part)) {}
    std::shared_ptr<DocState> doc_;
    std::string part_;
};

// A stretch of a story: a whole story (the main text or a header) or consecutive paragraphs of it,
// each with its paragraph mark.
class Range {
public:
    // The text, paragraphs ended by a carriage return (13), tabs as 9, line breaks as 11.
    std::string text() const;
    // Word's Delete. Empties the range: the whole main text keeps one empty paragraph and the final
    // section properties (headers stay); a header keeps one empty paragraph; paragraphs are removed,
    // a section break they held moving to the paragraph before. Deleted paragraphs leave the range
    // holding nothing: its text is "", formatting it changes nothing, inserting into it fails.
    void deleteContent();
    // Inserts text at the end of the range (before its last paragraph mark) and extends the range
    // over it. A tab stays a tab, code 11 is a line break, a carriage return (or CR LF, or LF) starts
    // a new paragraph that keeps the range's formatting. Characters XML cannot hold are dropped.
    void insertAfter(const std::string& text);
    // The paragraph style of the first paragraph, by the name Word shows.
    std::string style() const;
    // Applies a paragraph style to the range's paragraphs (or a character style to its runs), found by
    // name without regard to case. A built-in style the document lacks is added with Word's usual
    // definition; an unknown name fails.
    void setStyle(const std::string& name);
    Font font() const { return Font(*this); }
    ParagraphFormat paragraphFormat() const { return ParagraphFormat(*this); }
    Find find() const { return Find(doc_, part_); }
    int paragraphCount() const;

private:
    friend class Document;
    friend class Paragraph;
    friend class Paragraphs;
    friend class HeaderFooter;
    friend class Font;
    friend class ParagraphFormat;
    Range(std::shared_ptr<DocState> doc, std::string part, pugi::xml_node first, pugi::xml_node last);
    std::vector<pugi::xml_node> paragraphs() const;
    bool wholeStory() const { return !first_ && !collapsed_; }
    std::shared_ptr<DocState> doc_;
    std::string part_;
    pugi::xml_node first_, last_; // empty: the whole story
    bool collapsed_ = false;      // its paragraphs were deleted: it holds nothing
    mutable std::uint64_t generation_ = 0;
};

class Paragraph {
public:
    Range range() const;

private:
    friend class Paragraphs;
    Paragraph(std::shared_ptr<DocState> doc, pugi::xml_node p) : doc_(std::move(doc)), p_(p) {}
    std::shared_ptr<DocState> doc_;
    pugi::xml_node p_;
};

class Paragraphs {
public:
    // Paragraphs of the main text in order, those in tables included.
    int count() const;
    Paragraph item(int index) const; // 1-based
    Paragraph last() const;
    // Appends a new, empty paragraph at the end of the main text. It takes the formatting of the
    // paragraph before it (and the style that style names to follow it).
    Paragraph add();

private:
    friend class Document;
    explicit Paragraphs(std::shared_ptr<DocState> doc) : doc_(std::move(doc)) {}
    std::shared_ptr<DocState> doc_;
};

class HeaderFooter {
public:
    // The header's story; a section without such a header gives an empty story that holds nothing.
    Range range() const;
    bool exists() const { return !part_.empty(); }

private:
    friend class HeadersFooters;
    HeaderFooter(std::shared_ptr<DocState> doc, std::string part)
        : doc_(std::move(doc)), part_(std::move(part)) {}
    std::shared_ptr<DocState> doc_;
    std::string part_; // "" when the section has none
};

class HeadersFooters {
public:
    // 1 primary, 2 first page, 3 even pages.
    HeaderFooter item(int index) const;

private:
    friend class Section;
    HeadersFooters(std::shared_ptr<DocState> doc, pugi::xml_node sectPr, bool headers)
        : doc_(std::move(doc)), sectPr_(sectPr), headers_(headers) {}
    std::shared_ptr<DocState> doc_;
    pugi::xml_node sectPr_;
    bool headers_;
};

class Section {
public:
    HeadersFooters headers() const { return HeadersFooters(doc_, sectPr_, true); }
    HeadersFooters footers() const { return HeadersFooters(doc_, sectPr_, false); }

private:
    friend class Sections;
    Section(std::shared_ptr<DocState> doc, pugi::xml_node sectPr) : doc_(std::move(doc)), sectPr_(sectPr) {}
    std::shared_ptr<DocState> doc_;
    pugi::xml_node sectPr_;
};

class Sections {
public:
    int count() const;
    Section item(int index) const; // 1-based

private:
    friend class Document;
    explicit Sections(std::shared_ptr<DocState> doc) : doc_(std::move(doc)) {}
    std::shared_ptr<DocState> doc_;
};

class Document {
public:
    // The whole main text.
    Range range() const;
    Paragraphs paragraphs() const { return Paragraphs(state()); }
    Sections sections() const { return Sections(state()); }
    // Whether the document's own styles define the style, by the name Word shows or an alias, without
    // regard to case. A built-in style that setStyle would add with its usual definition is not counted.
    bool hasStyle(const std::string& name) const;
    // The file name with extension; "Document1" and so on before the first save.
    std::string name() const;
    std::filesystem::path fullName() const;
    // Writes the document atomically (a temporary file, then rename); parts not changed are copied as
    // stored. A .docx (any name but .docm, .dotx, .dotm) gets the document content type and no macros.
    // The file name is used as given: no extension is added.
    void saveAs(const std::filesystem::path& file);
    // Closes without saving: what was not saved is discarded.
    void close();
    bool closed() const;
    // Prints every page on the application's active printer, to outputFileName when printToFile is
    // true; in the background (queued, the print file appears later) when background is true. The
    // document's file is only read: what was changed and not saved is not printed.
    void printOut(bool background, bool printToFile, const std::filesystem::path& outputFileName = {});
    // Writes the document as a PDF (export format 17, the only one supported), carrying what `pdf` asks
    // for besides its pages.
    void exportAsFixedFormat(const std::filesystem::path& outputFileName, int exportFormat,
                             const render::PdfExport& pdf = {});

private:
    friend class Documents;
    explicit Document(std::shared_ptr<DocState> doc) : doc_(std::move(doc)) {}
    const std::shared_ptr<DocState>& state() const;
    std::shared_ptr<DocState> doc_;
};

class Documents {
public:
    // A new, unsaved document based on a .docx, .dotx, .docm or .dotm template: its styles, headers,
    // footers, section layout, numbering, theme and settings. Returns nullptr (without failing) when
    // the template cannot be used; lastError() then tells why.
    std::optional<Document> add(const std::filesystem::path& templateFile);
    // Opens an existing document; fails with a description naming the file when it cannot.
    Document open(const std::filesystem::path& file);
    int count() const;
    Document item(int index) const; // 1-based
    // Why the last add returned no document ("" after a successful one).
    const std::string& lastError() const { return lastError_; }

private:
    friend class Application;
    Document track(std::shared_ptr<DocState> doc);
    std::vector<std::shared_ptr<DocState>> open_;
    std::string lastError_;
    int untitled_ = 0;
    bool* quit_ = nullptr;
    printing::PrintEngine* printEngine_ = nullptr;
    const std::string* activePrinter_ = nullptr;
};

// The stand-in for the office application: it holds the documents made or opened through it until
// they are closed or it quits. Window values and the active printer are kept as set; there is no window.
class Application {
public:
    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    Documents& documents();
    bool visible() const { return visible_; }
    void setVisible(bool visible) { visible_ = visible; }
    int windowState() const { return windowState_; }
    void setWindowState(int state);
    const std::string& activePrinter() const { return activePrinter_; }
    // With a print engine, fails when there is no printer of that name ("" is none).
    void setActivePrinter(const std::string& printer);
    // The engine the documents opened from now on print and export through; nullptr: none can print.
    void setPrintEngine(printing::PrintEngine* engine) { documents_.printEngine_ = engine; }
    // Closes every document without saving; the application can not be used afterwards.
    void quit();
    bool quitted() const { return quit_; }

private:
    Documents documents_;
    bool visible_ = false;
    int windowState_ = office::wdWindowStateNormal;
    std::string activePrinter_;
    bool quit_ = false;
};

} // namespace lf::word
