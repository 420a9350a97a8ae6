#include "office/presentation/presentation.h"

#include "office/presentation/deck.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace lf::ppt {

using oxml::child;
using oxml::localName;
using oxml::ShapeKind;

namespace {

constexpr double kEmuPerPoint = 12700.0;

double points(std::int64_t emu) {
    return static_cast<double>(emu) / kEmuPerPoint;
}

std::int64_t emu(double pointsValue) {
    return static_cast<std::int64_t>(std::llround(pointsValue * kEmuPerPoint));
}

// The black-and-white modes, in the order of their office values from 1.
constexpr const char* kBlackWhiteModes[] = {"auto",      "gray",       "ltGray", "invGray", "grayWhite",
                                            "blackGray", "blackWhite", "black",  "white",   "hidden"};

const char* graphicUri(pugi::xml_node frame) {
    return oxml::attribute(oxml::path(frame, {"graphic", "graphicData"}), "uri").value();
}

int graphicFrameType(pugi::xml_node frame) {
    std::string_view uri(graphicUri(frame));
    if (uri.ends_with("/drawingml/2006/table")) {
        return office::msoTable;
    }
    if (uri.ends_with("/drawingml/2006/chart") ||
        uri.find("/drawing/2014/chartex") != std::string_view::npos) {
        return office::msoChart;
    }
    if (uri.ends_with("/drawingml/2006/diagram")) {
        return office::msoSmartArt;
    }
    if (uri.ends_with("/presentationml/2006/ole")) {
        pugi::xml_node ole = oxml::path(frame, {"graphic", "graphicData", "oleObj"});
        if (!ole) {
            // Producers wrap the object in mc:AlternateContent.
            pugi::xml_node data = oxml::path(frame, {"graphic", "graphicData"});
            ole = data.find_node([](pugi::xml_node n) { return localName(n) == "oleObj"; });
        }
        return child(ole, "link") ? office::msoLinkedOLEObject : office::msoEmbeddedOLEObject;
    }
    return office::msoEmbeddedOLEObject;
}

// The office value of a stored placeholder type (ST_PlaceholderType).
int placeholderType(const std::string& stored) {
    struct Kind {
        const char* stored;
        int type;
    };
    static constexpr Kind kKinds[] = {
        {"title", office::ppPlaceholderTitle},        {"ctrTitle", office::ppPlaceholderCenterTitle},
        {"body", office::ppPlaceholderBody},          {"subTitle", office::ppPlaceholderSubtitle},
        {"obj", office::ppPlaceholderObject},         {"chart", office::ppPlaceholderChart},
        {"clipArt", office::ppPlaceholderBitmap},     {"media", office::ppPlaceholderMediaClip},
        {"dgm", office::ppPlaceholderOrgChart},       {"tbl", office::ppPlaceholderTable},
        {"sldNum", office::ppPlaceholderSlideNumber}, {"hdr", office::ppPlaceholderHeader},
        {"ftr", office::ppPlaceholderFooter},         {"dt", office::ppPlaceholderDate},
        {"pic", office::ppPlaceholderPicture},
    };
    for (const Kind& kind : kKinds) {
        if (stored == kind.stored) {
            return kind.type;
        }
    }
    return office::ppPlaceholderMixed;
}

bool isTitlePlaceholder(const Shape& shape) {
    if (!shape.isPlaceholder()) {
        return false;
    }
    const int type = shape.placeholderFormat().type();
    return type == office::ppPlaceholderTitle || type == office::ppPlaceholderCenterTitle;
}

bool isMedia(pugi::xml_node picture) {
    pugi::xml_node nvPr = child(oxml::nonVisualHolder(picture), "nvPr");
    if (child(nvPr, "videoFile") || child(nvPr, "audioFile") || child(nvPr, "quickTimeFile") ||
        child(nvPr, "wavAudioFile") || child(nvPr, "audioCd")) {
        return true;
    }
    return bool(nvPr.find_node([](pugi::xml_node n) { return localName(n) == "media"; }));
}

// The text of a node's descendants in document order; iterative, so a hostile depth of nesting
// cannot exhaust the stack.
void appendText(pugi::xml_node node, std::string& out) {
    pugi::xml_node n = node.first_child();
    while (n) {
        if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
            out += n.value();
        }
        if (n.type() == pugi::node_element && n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n && n != node && !n.next_sibling()) {
            n = n.parent();
        }
        if (!n || n == node) {
            break;
        }
        n = n.next_sibling();
    }
}

} // namespace

// ---- TextRange

TextRange TextRange::sub(std::size_t begin, std::size_t end) const {
    TextRange r;
    r.text_ = text_.substr(begin, end - begin);
    for (const Span& s : spans_) {
        bool empty = s.begin == s.end;
        if (empty ? (s.begin >= begin && s.begin <= end) : (s.end > begin && s.begin < end)) {
            Span c = s;
            c.begin = std::max(s.begin, begin) - begin;
            c.end = std::min(s.end, end) - begin;
            r.spans_.push_back(c);
        }
    }
    return r;
}

std::vector<TextRange> TextRange::sentences() const {
    std::vector<TextRange> result;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t start = 0;
    std::size_t n = text_.size();
    auto emit = [&](std::size_t end) {
        if (end > start) {
            result.push_back(sub(start, end));
        }
        start = end;
    };
    for (std::size_t i = 0; i < n; ++i) {
        char c = text_[i];
        if (c == '\r') {
            emit(i + 1);
        } else if ((c == '.' || c == '?' || c == '!') && i + 1 < n && blank(text_[i + 1])) {
            std::size_t j = i + 1;
            while (j < n && blank(text_[j])) {
                ++j;
            }
            if (j < n && text_[j] == '\r') {
                ++j; // the end of the paragraph belongs to its last sentence
            }
            emit(j);
            i = j - 1;
        }
    }
    emit(n);
    return result;
}

Font TextRange::font() const {
    bool anyBold = false;
    bool anyPlain = false;
    for (const Span& s : spans_) {
        if (s.begin != s.end) {
            (s.bold ? anyBold : anyPlain) = true;
        }
    }
    if (!anyBold && !anyPlain) {
        // An empty range (or one of breaks alone) has the bold of the paragraph end it touches.
        for (const Span& s : spans_) {
            return Font(s.bold ? office::msoTrue : office::msoFalse);
        }
        return Font(office::msoFalse);
    }
    if (anyBold && anyPlain) {
        return Font(office::msoTriStateMixed);
    }
    return Font(anyBold ? office::msoTrue : office::msoFalse);
}

// ---- Shape

Shape::Shape(std::shared_ptr<Deck> deck, std::string part, pugi::xml_node node, pugi::xml_node fallback)
    : deck_(std::move(deck)), part_(std::move(part)), node_(node), fallback_(fallback) {}

Deck& Shape::deck() const {
    deck_->package(); // fails once the presentation is closed
    return *deck_;
}

std::string Shape::name() const {
    deck();
    return oxml::attribute(oxml::commonNonVisual(node_), "name").value();
}

bool Shape::isPlaceholder() const {
    deck();
    return oxml::placeholder(node_).has_value();
}

PlaceholderFormat Shape::placeholderFormat() const {
    Deck& d = deck();
    const std::optional<oxml::Placeholder> ph = oxml::placeholder(node_);
    if (!ph) {
        d.fail("the shape \"" + name() + "\" on " + part_ + " is not a placeholder");
    }
    return PlaceholderFormat(placeholderType(ph->type));
}

int Shape::type() const {
    deck();
    if (oxml::placeholder(node_)) {
        return office::msoPlaceholder;
    }
    switch (oxml::shapeKind(node_)) {
    case ShapeKind::Shape: {
        if (oxml::booleanValue(oxml::attribute(child(oxml::nonVisualHolder(node_), "cNvSpPr"), "txBox"))
                .value_or(false)) {
            return office::msoTextBox;
        }
        pugi::xml_node props = child(node_, "spPr");
        if (child(props, "custGeom")) {
            return office::msoFreeform;
        }
        std::string_view preset(oxml::attribute(child(props, "prstGeom"), "prst").value());
        if (preset == "line" || preset == "straightConnector1") {
            return office::msoLine;
        }
        return office::msoAutoShape;
    }
    case ShapeKind::Picture: {
        if (isMedia(node_)) {
            return office::msoMedia;
        }
        pugi::xml_node blip = oxml::path(node_, {"blipFill", "blip"});
        if (oxml::attribute(blip, "link") && !oxml::attribute(blip, "embed")) {
            return office::msoLinkedPicture;
        }
        return office::msoPicture;
    }
    case ShapeKind::Connector:
        return office::msoLine;
    case ShapeKind::Group:
        return office::msoGroup;
    case ShapeKind::GraphicFrame:
        return graphicFrameType(node_);
    case ShapeKind::ContentPart:
        return office::msoInk;
    default:
        return office::msoShapeTypeMixed;
    }
}

double Shape::top() const {
    return points(deck().effectiveTransform(part_, node_).y);
}
double Shape::left() const {
    return points(deck().effectiveTransform(part_, node_).x);
}
double Shape::height() const {
    return points(deck().effectiveTransform(part_, node_).cy);
}
double Shape::width() const {
    return points(deck().effectiveTransform(part_, node_).cx);
}

template <class F> void Shape::setTransformField(double points, F&& change) {
    Deck& d = deck();
    d.requireWritable();
    // Beyond about a million points a length no longer fits the file's 32-bit coordinates.
    if (!std::isfinite(points) || std::fabs(points) > 1.0e6) {
        d.fail("the shape \"" + name() + "\" can not be placed at " + std::to_string(points) + " points");
    }
    oxml::Transform t = d.effectiveTransform(part_, node_);
    change(t);
    // A value that already stands leaves the part as it was: a deck processed twice is not rewritten.
    if (oxml::holdsTransform(node_, t) && (!fallback_ || oxml::holdsTransform(fallback_, t))) {
        return;
    }
    oxml::setTransform(node_, t);
    if (fallback_) {
        oxml::setTransform(fallback_, t);
    }
    d.touch(part_);
}

void Shape::setTop(double v) {
    setTransformField(v, [v](oxml::Transform& t) { t.y = emu(v); });
}
void Shape::setLeft(double v) {
    setTransformField(v, [v](oxml::Transform& t) { t.x = emu(v); });
}
void Shape::setHeight(double v) {
    if (v < 0) {
        deck().fail("a shape's height can not be negative (" + std::to_string(v) + ")");
    }
    setTransformField(v, [v](oxml::Transform& t) { t.cy = emu(v); });
}
void Shape::setWidth(double v) {
    if (v < 0) {
        deck().fail("a shape's width can not be negative (" + std::to_string(v) + ")");
    }
    setTransformField(v, [v](oxml::Transform& t) { t.cx = emu(v); });
}

int Shape::blackWhiteMode() const {
    deck();
    std::string mode = oxml::blackWhiteMode(node_);
    for (int i = 0; i < 10; ++i) {
        if (mode == kBlackWhiteModes[i]) {
            return i + 1;
        }
    }
    return office::msoBlackWhiteAutomatic; // not written, or "clr"
}

void Shape::setBlackWhiteMode(int mode) {
    Deck& d = deck();
    d.requireWritable();
    if (mode < 1 || mode > 10) {
        d.fail("the black-and-white mode " + std::to_string(mode) + " is not one of 1 to 10");
    }
    const std::string value = kBlackWhiteModes[mode - 1];
    if (oxml::blackWhiteMode(node_) == value && (!fallback_ || oxml::blackWhiteMode(fallback_) == value)) {
        return;
    }
    oxml::setBlackWhiteMode(node_, kBlackWhiteModes[mode - 1]);
    if (fallback_) {
        oxml::setBlackWhiteMode(fallback_, kBlackWhiteModes[mode - 1]);
    }
    d.touch(part_);
}

bool Shape::hasTextFrame() const {
    deck();
    return oxml::shapeKind(node_) == ShapeKind::Shape;
}

TextFrame Shape::textFrame() const {
    Deck& d = deck();
    if (!hasTextFrame()) {
        d.fail("the shape \"" + name() + "\" on " + part_ + " has no text frame (it is a " +
               std::string(localName(node_)) + ")");
    }
    return TextFrame(TextRange::read(oxml::textBody(node_), d.listStyleChain(part_, node_)));
}

TextRange TextRange::read(pugi::xml_node body, const std::vector<pugi::xml_node>& styles) {
    TextRange range;
    if (!body) {
        return range;
    }
    auto styledBold = [&](int level) {
        for (pugi::xml_node style : styles) {
            if (auto b = oxml::listStyleBold(style, level)) {
                return *b;
            }
        }
        return false;
    };
    bool firstParagraph = true;
    for (pugi::xml_node p = body.first_child(); p; p = p.next_sibling()) {
        if (p.type() != pugi::node_element || localName(p) != "p") {
            continue;
        }
        if (!firstParagraph) {
            range.text_ += '\r';
        }
        firstParagraph = false;
        int level =
            static_cast<int>(std::strtol(oxml::attribute(child(p, "pPr"), "lvl").value(), nullptr, 10));
        bool levelBold = styledBold(level);
        for (pugi::xml_node r = p.first_child(); r; r = r.next_sibling()) {
            std::string_view l = localName(r);
            if (l == "r" || l == "fld") {
                std::size_t begin = range.text_.size();
                for (pugi::xml_node t = child(r, "t").first_child(); t; t = t.next_sibling()) {
                    if (t.type() == pugi::node_pcdata || t.type() == pugi::node_cdata) {
                        range.text_ += t.value();
                    }
                }
                bool bold = oxml::runBold(child(r, "rPr")).value_or(levelBold);
                range.spans_.push_back({begin, range.text_.size(), bold});
            } else if (l == "br") {
                range.text_ += '\v';
            }
        }
        bool endBold = oxml::runBold(child(p, "endParaRPr")).value_or(levelBold);
        range.spans_.push_back({range.text_.size(), range.text_.size(), endBold});
    }
    return range;
}

Shapes Shape::groupItems() const {
    Deck& d = deck();
    if (oxml::shapeKind(node_) != ShapeKind::Group) {
        d.fail("the shape \"" + name() + "\" on " + part_ + " is no group (it is a " +
               std::string(localName(node_)) + ")");
    }
    return Shapes::in(deck_, part_, node_);
}

bool Shape::hasTable() const {
    deck();
    return oxml::shapeKind(node_) == ShapeKind::GraphicFrame &&
           bool(oxml::path(node_, {"graphic", "graphicData", "tbl"}));
}

Table Shape::table() const {
    Deck& d = deck();
    if (!hasTable()) {
        d.fail("the shape \"" + name() + "\" on " + part_ + " holds no table");
    }
    return Table(deck_, part_, oxml::path(node_, {"graphic", "graphicData", "tbl"}));
}

// ---- Table

std::vector<pugi::xml_node> Table::rows() const {
    deck_->package(); // fails once the presentation is closed
    std::vector<pugi::xml_node> result;
    for (pugi::xml_node r = node_.first_child(); r; r = r.next_sibling()) {
        if (r.type() == pugi::node_element && localName(r) == "tr") {
            result.push_back(r);
        }
    }
    return result;
}

int Table::rowCount() const {
    return static_cast<int>(rows().size());
}

int Table::columnCount(int row) const {
    const std::vector<pugi::xml_node> all = rows();
    int count = 0;
    if (row >= 1 && row <= static_cast<int>(all.size())) {
        for (pugi::xml_node c = all[static_cast<std::size_t>(row - 1)].first_child(); c;
             c = c.next_sibling()) {
            count += c.type() == pugi::node_element && localName(c) == "tc" ? 1 : 0;
        }
    }
    return count;
}

Cell Table::cell(int row, int column) const {
    const std::vector<pugi::xml_node> all = rows();
    if (row >= 1 && row <= static_cast<int>(all.size())) {
        int n = 0;
        for (pugi::xml_node c = all[static_cast<std::size_t>(row - 1)].first_child(); c;
             c = c.next_sibling()) {
            if (c.type() == pugi::node_element && localName(c) == "tc" && ++n == column) {
                return Cell(deck_, part_, c);
            }
        }
    }
    deck_->fail("the table on " + part_ + " has no cell (" + std::to_string(row) + ", " +
                std::to_string(column) + ")");
}

TextFrame Cell::textFrame() const {
    Deck& d = *deck_;
    d.package(); // fails once the presentation is closed
    return TextFrame(TextRange::read(child(node_, "txBody"), d.listStyleChain(part_, node_)));
}

// ---- Shapes

Shapes Shapes::of(const std::shared_ptr<Deck>& deck, const std::string& part) {
    return in(deck, part, oxml::shapeTree(deck->root(part)));
}

Shapes Shapes::in(const std::shared_ptr<Deck>& deck, const std::string& part, pugi::xml_node tree) {
    Shapes shapes;
    for (pugi::xml_node c = tree.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element) {
            continue;
        }
        if (localName(c) == "AlternateContent") {
            pugi::xml_node choice = oxml::alternateChoice(c);
            pugi::xml_node fallback = oxml::alternateFallback(c);
            if (choice) {
                shapes.items_.push_back(
                    Shape(deck, part, choice, fallback == choice ? pugi::xml_node() : fallback));
            }
        } else if (oxml::isShapeElement(c)) {
            shapes.items_.push_back(Shape(deck, part, c, {}));
        }
    }
    return shapes;
}

Shape Shapes::item(int index) const {
    if (index < 1 || index > count()) {
        throw PresentationError("shape " + std::to_string(index) + " does not exist (the collection holds " +
                                std::to_string(count()) + ")");
    }
    return items_[static_cast<std::size_t>(index - 1)];
}

bool Shapes::hasTitle() const {
    return std::any_of(items_.begin(), items_.end(), isTitlePlaceholder);
}

Shape Shapes::title() const {
    const auto found = std::find_if(items_.begin(), items_.end(), isTitlePlaceholder);
    if (found == items_.end()) {
        throw PresentationError("the shapes hold no title placeholder");
    }
    return *found;
}

// ---- Custom XML

std::string CustomXMLNode::text() const {
    deck_->package();
    if (node_.type() == pugi::node_pcdata || node_.type() == pugi::node_cdata) {
        return node_.value();
    }
    std::string result;
    appendText(node_, result);
    return result;
}

std::optional<CustomXMLNode> CustomXMLPart::selectSingleNode(const std::string& xpath) const {
    pugi::xml_document& doc = deck_->package().xmlPart(part_);
    pugi::xpath_node found;
    try {
        // From the document node, as the office evaluates it: "descendant::x" finds a root element x too.
        found = deck_->query(xpath).evaluate_node(doc);
    } catch (const pugi::xpath_exception& e) {
        deck_->fail("the XPath \"" + xpath + "\" on " + part_ + " does not compile: " + e.what());
    }
    if (found.node()) {
        return CustomXMLNode(deck_, found.node());
    }
    return std::nullopt; // nothing matched (an attribute match has no node of its own here)
}

void CustomXMLPart::remove() {
    deck_->removeCustomerData(slidePart_, relationshipId_);
}

// ---- Notes pages and slides

Shapes NotesPage::shapes() const {
    deck_->package();
    return Shapes::of(deck_, part_);
}

const std::string& Slide::partName() const {
    return deck_->slides().at(index_).part;
}

Shapes Slide::shapes() const {
    deck_->package();
    return Shapes::of(deck_, partName());
}

int Slide::slideNumber() const {
    deck_->package();
    return deck_->firstSlideNumber() + static_cast<int>(index_);
}

bool Slide::hidden() const {
    deck_->package();
    return !oxml::booleanValue(oxml::attribute(deck_->root(partName()), "show")).value_or(true);
}

std::vector<CustomXMLPart> Slide::customerData() const {
    std::vector<CustomXMLPart> parts;
    pugi::xml_node list = oxml::path(deck_->root(partName()), {"cSld", "custDataLst"});
    for (pugi::xml_node d = list.first_child(); d; d = d.next_sibling()) {
        if (d.type() != pugi::node_element || localName(d) != "custData") {
            continue;
        }
        std::string rid = oxml::attribute(d, "id").value();
        std::optional<std::string> part = deck_->target(partName(), rid);
        if (!part) {
            deck_->fail("the customer data " + rid + " of " + partName() + " points nowhere");
        }
        parts.push_back(CustomXMLPart(deck_, *part, partName(), rid));
    }
    return parts;
}

CustomXMLPart Slide::addCustomerData(const std::string& xml) {
    Deck::CustomerDataEntry entry = deck_->addCustomerData(partName(), xml);
    return CustomXMLPart(deck_, entry.part, partName(), entry.relationshipId);
}

bool Slide::hasNotesPage() const {
    deck_->package();
    return deck_->notesPage(index_, false).has_value();
}

NotesPage Slide::notesPage() const {
    deck_->package();
    return NotesPage(deck_, *deck_->notesPage(index_, true));
}

Slide Slides::item(int index) const {
    if (index < 1 || index > count()) {
        throw PresentationError("slide " + std::to_string(index) + " does not exist (the presentation has " +
                                std::to_string(count()) + ")");
    }
    return items_[static_cast<std::size_t>(index - 1)];
}

// ---- Presentation

Slides Presentation::slides() const {
    deck_->package();
    Slides s;
    for (std::size_t i = 0; i < deck_->slides().size(); ++i) {
        s.items_.push_back(Slide(deck_, i));
    }
    return s;
}

std::string Presentation::name() const {
    return deck_->name();
}
std::filesystem::path Presentation::fullName() const {
    return deck_->path();
}
void Presentation::save() {
    deck_->save();
}
void Presentation::close() {
    deck_->close();
}
bool Presentation::closed() const {
    return deck_->closed();
}

// ---- Printing

namespace {

printing::PrintEngine& engineOf(Deck& deck) {
    if (!deck.printEngine)
        throw PresentationError(deck.name() + ": this application cannot print");
    return *deck.printEngine;
}

printing::Pages pagesFor(const std::string& deckName, int outputType) {
    if (outputType == office::ppPrintOutputSlides)
        return printing::Pages::Slides;
    if (outputType == office::ppPrintOutputNotesPages)
        return printing::Pages::NotesPages;
    throw PresentationError(deckName + ": output type " + std::to_string(outputType) +
                            " is not supported; slides (1) and notes pages (5) are");
}

} // namespace

bool PrintOptions::printInBackground() const {
    return deck_->printSettings.printInBackground;
}
void PrintOptions::setPrintInBackground(bool background) {
    deck_->printSettings.printInBackground = background;
}
std::string PrintOptions::activePrinter() const {
    return deck_->printSettings.activePrinter;
}
void PrintOptions::setActivePrinter(const std::string& printer) {
    try {
        engineOf(*deck_).checkPrinter(printer);
    } catch (const printing::PrintError& e) {
        throw PresentationError("PrintOptions.ActivePrinter: " + std::string(e.what()));
    }
    deck_->printSettings.activePrinter = printer;
}
int PrintOptions::outputType() const {
    return deck_->printSettings.outputType;
}
void PrintOptions::setOutputType(int type) {
    pagesFor(deck_->name(), type);
    deck_->printSettings.outputType = type;
}
int PrintOptions::printColorType() const {
    return deck_->printSettings.printColorType;
}
void PrintOptions::setPrintColorType(int type) {
    deck_->printSettings.printColorType = type;
}

PrintOptions Presentation::printOptions() const {
    if (deck_->closed())
        throw PresentationError(deck_->name() + " is closed");
    return PrintOptions(deck_);
}

void Presentation::printOut(const std::filesystem::path& printToFile) {
    if (deck_->closed())
        throw PresentationError(deck_->name() + " is closed");
    const Deck::PrintSettings& settings = deck_->printSettings;
    printing::PrintJob job;
    job.source = deck_->path();
    job.pages = pagesFor(deck_->name(), settings.outputType);
    job.printer = settings.activePrinter;
    job.printFile = printToFile;
    job.background = settings.printInBackground;
    try {
        engineOf(*deck_).print(job);
    } catch (const printing::PrintError& e) {
        throw PresentationError(deck_->name() + ": " + e.what());
    }
}

void Presentation::exportAsFixedFormat(const std::filesystem::path& path, const FixedFormatOptions& options) {
    if (deck_->closed())
        throw PresentationError(deck_->name() + " is closed");
    if (options.formatType != office::ppFixedFormatTypePDF)
        throw PresentationError(deck_->name() + ": only PDF (format type 2) can be exported");
    if (options.printHiddenSlides || options.rangeType != office::ppPrintAll || options.frameSlides)
        throw PresentationError(deck_->name() +
                                ": the export takes every visible slide, unframed, and nothing else");
    const printing::Pages pages = pagesFor(deck_->name(), options.outputType);
    try {
        engineOf(*deck_).exportPdf(deck_->path(), pages, path, options.pdf);
    } catch (const printing::PrintError& e) {
        throw PresentationError(deck_->name() + ": " + e.what());
    }
}

// ---- Presentations and Application

Presentation Presentations::open(const std::filesystem::path& file, bool readOnly, bool untitled,
                                 bool withWindow) {
    (void)untitled;   // a deck is always opened under its own name
    (void)withWindow; // there are no windows
    // The application is one program: a deck it has open for changing already lends its lock.
    std::shared_ptr<opc::FileLock> held;
    for (const std::shared_ptr<Deck>& d : open_) {
        std::shared_ptr<opc::FileLock> lock = d->lock();
        if (!readOnly && lock && lock->holds(file)) {
            held = std::move(lock);
            break;
        }
    }
    std::shared_ptr<Deck> deck = Deck::open(file, readOnly, std::move(held));
    deck->printEngine = printEngine_;
    std::erase_if(open_, [](const std::shared_ptr<Deck>& d) { return d->closed(); });
    open_.push_back(deck);
    return Presentation(deck);
}

int Presentations::count() const {
    return static_cast<int>(std::count_if(open_.begin(), open_.end(), [](auto& d) { return !d->closed(); }));
}

Presentation Presentations::item(int index) const {
    int i = 0;
    for (const auto& d : open_) {
        if (!d->closed() && ++i == index) {
            return Presentation(d);
        }
    }
    throw PresentationError("presentation " + std::to_string(index) + " is not open (" +
                            std::to_string(count()) + " are)");
}

Application::~Application() {
    quit();
}

void Application::requireRunning() const {
    if (quit_) {
        throw PresentationError("the presentation application has quit");
    }
}

Presentations& Application::presentations() {
    requireRunning();
    return presentations_;
}

void Application::setWindowState(int state) {
    if (state < office::ppWindowNormal || state > office::ppWindowMaximized) {
        throw PresentationError("the window state " + std::to_string(state) + " is not one of 1 to 3");
    }
    windowState_ = state;
}

Presentation Application::activePresentation() const {
    requireRunning();
    for (auto it = presentations_.open_.rbegin(); it != presentations_.open_.rend(); ++it) {
        if (!(*it)->closed()) {
            return Presentation(*it);
        }
    }
    throw PresentationError("there is no active presentation");
}

void Application::quit() {
    for (auto& d : presentations_.open_) {
        d->close();
    }
    presentations_.open_.clear();
    quit_ = true;
}

} // namespace lf::ppt
