#pragma once
// The presentation object model the operations call: an application through which decks are opened,
// presentations, slides, shapes, their text and the slides' custom XML parts. Values are in points and
// in the office values the operations expect (shape types, tri-state bold, black-and-white modes).
// Every object is a small handle onto the open deck; using one after its presentation was closed
// fails. Failures are PresentationError (or opc::PackageError for a damaged package), both
// std::runtime_error, whose description names the file and what is wrong.
#include "office/render/pdf_export.h"

#include <pugixml.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lf::printing {
class PrintEngine;
}

namespace lf::ppt {

class PresentationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A deck opened for changing is locked against every other program (every other Application) that
// opens it for changing, from the opening until it is closed (or its application quits); decks of
// one file opened by one application share its lock. One that another holds is waited for up
// to kDeckLockWaitMs, in steps slept through the program's sleeps, and then refused with a
// PresentationError "<file>: " + kDeckBusy. A deck opened read-only takes no lock and waits for none.
inline constexpr int kDeckLockWaitMs = 20000;
inline constexpr int kDeckLockStepMs = 50;
inline constexpr const char* kDeckBusy = "the deck is being changed by another program";

class Deck;

// Office values.
namespace office {
// Shape types.
inline constexpr int msoAutoShape = 1;
inline constexpr int msoChart = 3;
inline constexpr int msoFreeform = 5;
inline constexpr int msoGroup = 6;
inline constexpr int msoEmbeddedOLEObject = 7;
inline constexpr int msoLine = 9;
inline constexpr int msoLinkedOLEObject = 10;
inline constexpr int msoLinkedPicture = 11;
inline constexpr int msoPicture = 13;
inline constexpr int msoPlaceholder = 14;
inline constexpr int msoMedia = 16;
inline constexpr int msoTextBox = 17;
inline constexpr int msoTable = 19;
inline constexpr int msoInk = 22;
inline constexpr int msoSmartArt = 24;
inline constexpr int msoShapeTypeMixed = -2;
// Tri-state values.
inline constexpr int msoTrue = -1;
inline constexpr int msoFalse = 0;
inline constexpr int msoTriStateMixed = -2;
// Black-and-white modes.
inline constexpr int msoBlackWhiteAutomatic = 1;
inline constexpr int msoBlackWhiteGrayScale = 2;
// Window states.
inline constexpr int ppWindowNormal = 1;
inline constexpr int ppWindowMinimized = 2;
inline constexpr int ppWindowMaximized = 3;
// Printing and fixed-format export.
inline constexpr int ppPrintOutputSlides = 1;
inline constexpr int ppPrintOutputNotesPages = 5;
inline constexpr int ppPrintColor = 1;
inline constexpr int ppFixedFormatTypePDF = 2;
inline constexpr int ppFixedFormatIntentPrint = 2;
inline constexpr int ppPrintHandoutVerticalFirst = 1;
inline constexpr int ppPrintAll = 1;
// Placeholder types. A vertical title or body is stored as its horizontal kind turned on its side, so
// it reads as that kind.
inline constexpr int ppPlaceholderMixed = -2; // a kind the office values do not name (a notes slide image)
inline constexpr int ppPlaceholderTitle = 1;
inline constexpr int ppPlaceholderBody = 2;
inline constexpr int ppPlaceholderCenterTitle = 3;
inline constexpr int ppPlaceholderSubtitle = 4;
inline constexpr int ppPlaceholderObject = 7;
inline constexpr int ppPlaceholderChart = 8;
inline constexpr int ppPlaceholderBitmap = 9;
inline constexpr int ppPlaceholderMediaClip = 10;
inline constexpr int ppPlaceholderOrgChart = 11;
inline constexpr int ppPlaceholderTable = 12;
inline constexpr int ppPlaceholderSlideNumber = 13;
inline constexpr int ppPlaceholderHeader = 14;
inline constexpr int ppPlaceholderFooter = 15;
inline constexpr int ppPlaceholderDate = 16;
inline constexpr int ppPlaceholderPicture = 18;
} // namespace office

class Font {
public:
    // -1 when all of the range is bold, 0 when none is, -2 when it is mixed.
    int bold() const { return bold_; }

private:
    friend class TextRange;
    explicit Font(int bold) : bold_(bold) {}
    int bold_;
};

// A stretch of a shape's text: paragraphs joined by carriage return (13), line breaks inside a
// paragraph as code 11, field text included. It is a snapshot taken when it was read.
class TextRange {
public:
    const std::string& text() const { return text_; }
    // The sentences in order: a sentence ends at the end of its paragraph (the carriage return stays
    // with it) or after ".", "?" or "!" followed by blanks, the blanks staying with the sentence.
    std::vector<TextRange> sentences() const;
    Font font() const;

private:
    friend class Shape;
    friend class Cell;
    struct Span {
        std::size_t begin = 0, end = 0; // byte offsets into text_; empty spans mark paragraph ends
        bool bold = false;
    };
    TextRange sub(std::size_t begin, std::size_t end) const;
    // The text of a txBody, its bold drawn from the list styles, nearest first.
    static TextRange read(pugi::xml_node body, const std::vector<pugi::xml_node>& styles);
    std::string text_;
    std::vector<Span> spans_;
};

class TextFrame {
public:
    TextRange textRange() const { return range_; }

private:
    friend class Shape;
    friend class Cell;
    explicit TextFrame(TextRange range) : range_(std::move(range)) {}
    TextRange range_;
};

// What a placeholder shape stands for on its slide.
class PlaceholderFormat {
public:
    // The office placeholder type: 1 title, 3 centred title, 2 body, 4 subtitle, 7 object... (office::).
    int type() const { return type_; }

private:
    friend class Shape;
    explicit PlaceholderFormat(int type) : type_(type) {}
    int type_;
};

// One cell of a table. Its text frame is the cell's own (the office reaches it through the cell's
// shape); a cell merged into another holds the text it stores, usually none.
class Cell {
public:
    TextFrame textFrame() const;

private:
    friend class Table;
    Cell(std::shared_ptr<Deck> deck, std::string part, pugi::xml_node cell)
        : deck_(std::move(deck)), part_(std::move(part)), node_(cell) {}
    std::shared_ptr<Deck> deck_;
    std::string part_;
    pugi::xml_node node_;
};

// The table of a table frame: rows of cells, as stored.
class Table {
public:
    int rowCount() const;
    // The cells of a row (the first by default); a row the table lacks has none.
    int columnCount(int row = 1) const;
    // 1-based; fails for a cell the table does not have.
    Cell cell(int row, int column) const;

private:
    friend class Shape;
    Table(std::shared_ptr<Deck> deck, std::string part, pugi::xml_node table)
        : deck_(std::move(deck)), part_(std::move(part)), node_(table) {}
    std::vector<pugi::xml_node> rows() const;
    std::shared_ptr<Deck> deck_;
    std::string part_;
    pugi::xml_node node_;
};

class Shapes;

class Shape {
public:
    std::string name() const;
    // The office shape type: 1 auto shape, 5 freeform, 6 group, 9 line, 13 picture, 14 placeholder,
    // 17 text box, 19 table, 3 chart, 24 SmartArt...
    int type() const;
    bool isPlaceholder() const;
    // Fails for a shape that is not a placeholder.
    PlaceholderFormat placeholderFormat() const;

    // Position and size in points; a placeholder without its own transform takes its layout's,
    // then its master's. Setting one writes the shape's own transform and keeps the other three.
    double top() const;
    double left() const;
    double height() const;
    double width() const;
    void setTop(double points);
    void setLeft(double points);
    void setHeight(double points);
    void setWidth(double points);

    // 1 automatic (nothing written), 2 grayscale, 3 light grayscale ... 10 hidden.
    int blackWhiteMode() const;
    void setBlackWhiteMode(int mode);

    bool hasTextFrame() const;
    // Fails for shapes that cannot hold text (pictures, groups, tables, charts, connectors). The text
    // is the shape's own: an empty placeholder has none, whatever prompt its layout or master shows.
    TextFrame textFrame() const;

    // The shapes of a group, in order; fails for a shape that is no group.
    Shapes groupItems() const;
    bool hasTable() const;
    // Fails for a shape that holds no table.
    Table table() const;

private:
    friend class Slide;
    friend class NotesPage;
    friend class Shapes;
    Shape(std::shared_ptr<Deck> deck, std::string part, pugi::xml_node node, pugi::xml_node fallback);
    Deck& deck() const;
    template <class F> void setTransformField(double points, F&& change);

    std::shared_ptr<Deck> deck_;
    std::string part_;
    pugi::xml_node node_;
    pugi::xml_node fallback_; // the Fallback of an mc:AlternateContent, kept in step
};

// The top-level shapes of a shape tree, in order.
class Shapes {
public:
    int count() const { return static_cast<int>(items_.size()); }
    // 1-based, as the office collections count.
    Shape item(int index) const;
    // Whether a title placeholder (a title or a centred title) is among the shapes.
    bool hasTitle() const;
    // The first title placeholder; fails when there is none.
    Shape title() const;
    std::vector<Shape>::const_iterator begin() const { return items_.begin(); }
    std::vector<Shape>::const_iterator end() const { return items_.end(); }

private:
    friend class Slide;
    friend class NotesPage;
    friend class Shape;
    static Shapes of(const std::shared_ptr<Deck>& deck, const std::string& part);
    // The shapes of a shape tree or group element.
    static Shapes in(const std::shared_ptr<Deck>& deck, const std::string& part, pugi::xml_node tree);
    std::vector<Shape> items_;
};

class CustomXMLNode {
public:
    // The text of the node and its descendants.
    std::string text() const;

private:
    friend class CustomXMLPart;
    CustomXMLNode(std::shared_ptr<Deck> deck, pugi::xml_node node) : deck_(std::move(deck)), node_(node) {}
    std::shared_ptr<Deck> deck_;
    pugi::xml_node node_;
};

// One entry of a slide's customer data: the custom XML part it points at.
class CustomXMLPart {
public:
    const std::string& partName() const { return part_; }
    // The first node the XPath selects; nullopt when none. An expression that does not compile fails.
    std::optional<CustomXMLNode> selectSingleNode(const std::string& xpath) const;
    // Deletes the entry from its slide's customer data, with the slide's relationship to the part;
    // the part, its properties and its relationships go too unless another relationship of the deck
    // still points at the part. Fails on a deck opened read-only, and for an entry already deleted.
    void remove();

private:
    friend class Slide;
    CustomXMLPart(std::shared_ptr<Deck> deck, std::string part, std::string slidePart,
                  std::string relationshipId)
        : deck_(std::move(deck)), part_(std::move(part)), slidePart_(std::move(slidePart)),
          relationshipId_(std::move(relationshipId)) {}
    std::shared_ptr<Deck> deck_;
    std::string part_;
    std::string slidePart_;      // the slide whose customer data lists it
    std::string relationshipId_; // the relationship of that slide its entry names
};

class NotesPage {
public:
    Shapes shapes() const;
    const std::string& partName() const { return part_; }

private:
    friend class Slide;
    NotesPage(std::shared_ptr<Deck> deck, std::string part)
        : deck_(std::move(deck)), part_(std::move(part)) {}
    std::shared_ptr<Deck> deck_;
    std::string part_;
};

class Slide {
public:
    Shapes shapes() const;
    int slideNumber() const;
    // Left out of the slide show, and so of every print and PDF of the deck (show="0").
    bool hidden() const;
    // The custom XML parts of the slide's customer data, in list order.
    std::vector<CustomXMLPart> customerData() const;
    // Adds the XML, stored as given, as a new custom XML part at the end of the slide's customer data,
    // the way the office suite stores one: with an item properties part under a new datastore item
    // id. Fails when the XML does not parse or the deck was opened read-only; nothing is changed then.
    CustomXMLPart addCustomerData(const std::string& xml);
    bool hasNotesPage() const;
    // The notes page; a slide without one gets one made from the notes master.
    NotesPage notesPage() const;
    const std::string& partName() const;

private:
    friend class Slides;
    friend class Presentation;
    Slide(std::shared_ptr<Deck> deck, std::size_t index) : deck_(std::move(deck)), index_(index) {}
    std::shared_ptr<Deck> deck_;
    std::size_t index_;
};

class Slides {
public:
    int count() const { return static_cast<int>(items_.size()); }
    Slide item(int index) const; // 1-based
    std::vector<Slide>::const_iterator begin() const { return items_.begin(); }
    std::vector<Slide>::const_iterator end() const { return items_.end(); }

private:
    friend class Presentation;
    std::vector<Slide> items_;
};

// The print options of one deck: what its next print takes. The printer is checked when it is set.
class PrintOptions {
public:
    bool printInBackground() const;
    void setPrintInBackground(bool background);
    std::string activePrinter() const;
    // Fails when the application has no printer of that name.
    void setActivePrinter(const std::string& printer);
    int outputType() const;
    // 1 slides or 5 notes pages; other layouts fail.
    void setOutputType(int type);
    int printColorType() const;
    void setPrintColorType(int type);

private:
    friend class Presentation;
    explicit PrintOptions(std::shared_ptr<Deck> deck) : deck_(std::move(deck)) {}
    std::shared_ptr<Deck> deck_;
};

// The arguments of a fixed-format export, in the office's order and with its defaults.
struct FixedFormatOptions {
    int formatType = office::ppFixedFormatTypePDF;
    int intent = office::ppFixedFormatIntentPrint;
    bool frameSlides = false;
    int handoutOrder = office::ppPrintHandoutVerticalFirst;
    int outputType = office::ppPrintOutputSlides;
    bool printHiddenSlides = false;
    int rangeType = office::ppPrintAll;
    std::string slideShowName;
    bool includeDocProperties = false;
    bool keepIRMSettings = true;
    bool docStructureTags = true;
    bool bitmapMissingFonts = true;
    bool useISO19005_1 = false;
    // Beyond the office's arguments: what the PDF carries besides its pages (PDF/A-2b for archiving).
    render::PdfExport pdf;
};

class Presentation {
public:
    Slides slides() const;
    // The file name with extension.
    std::string name() const;
    std::filesystem::path fullName() const;
    // Writes the deck in place atomically; unchanged parts are copied as stored.
    void save();
    // Closes without saving; the file stays as it is.
    void close();
    bool closed() const;

    PrintOptions printOptions() const;
    // Prints every slide (or notes page) on the print options' printer, to printToFile when one is
    // given; in the background when the print options say so. The deck's file is only read.
    void printOut(const std::filesystem::path& printToFile = {});
    // Writes the deck as a PDF (hidden slides left out; the only format and range supported).
    void exportAsFixedFormat(const std::filesystem::path& path, const FixedFormatOptions& options);

private:
    friend class Presentations;
    friend class Application;
    explicit Presentation(std::shared_ptr<Deck> deck) : deck_(std::move(deck)) {}
    std::shared_ptr<Deck> deck_;
};

class Presentations {
public:
    // Opens a deck; its description names the file when it cannot be read. Opened for changing (not
    // read-only), it holds the deck lock until it is closed.
    Presentation open(const std::filesystem::path& file, bool readOnly = false, bool untitled = false,
                      bool withWindow = true);
    int count() const;
    Presentation item(int index) const; // 1-based

private:
    friend class Application;
    std::vector<std::shared_ptr<Deck>> open_;
    printing::PrintEngine* printEngine_ = nullptr;
};

// The stand-in for the office application: it holds the decks opened through it until they are
// closed or it quits. Window values are kept as set; there is no window.
class Application {
public:
    Application() = default;
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    Presentations& presentations();
    bool visible() const { return visible_; }
    void setVisible(bool visible) { visible_ = visible; }
    int windowState() const { return windowState_; }
    void setWindowState(int state);
    // The deck opened last that is still open.
    Presentation activePresentation() const;
    // Closes every open deck without saving; the application can not be used afterwards.
    void quit();
    // The engine the decks opened from now on print and export through; nullptr: none can print.
    void setPrintEngine(printing::PrintEngine* engine) { presentations_.printEngine_ = engine; }

private:
    void requireRunning() const;
    Presentations presentations_;
    bool visible_ = false;
    int windowState_ = office::ppWindowNormal;
    bool quit_ = false;
};

} // namespace lf::ppt
