// One document's parts: its paragraphs, its sections and their headers, and the document itself
// (its range, name, saving and closing).
#include "office/document/word.h"

#include "office/document/doc_state.h"
#include "office/document/wml.h"
#include "office/opc/package.h"
#include "platform/ascii.h"

namespace lf::word {

using wml::is;

// ------------------------------------------------------------------------------ Paragraphs

Range Paragraph::range() const {
    doc_->require();
    return Range(doc_, doc_->mainPart, p_, p_);
}

int Paragraphs::count() const {
    return static_cast<int>(wml::storyParagraphs(doc_->body()).size());
}

Paragraph Paragraphs::item(int index) const {
    const auto all = wml::storyParagraphs(doc_->body());
    if (index < 1 || index > static_cast<int>(all.size()))
        throw DocumentError(doc_->fail("there is no paragraph " + std::to_string(index) +
                                       " (the document has " + std::to_string(all.size()) + ")"));
    return Paragraph(doc_, all[static_cast<std::size_t>(index - 1)]);
}

namespace {

// The last paragraph of the main text without walking it: the body's last element, unless the body
// ends in a table or the like.
pugi::xml_node lastBodyParagraph(pugi::xml_node body) {
    for (pugi::xml_node n = body.last_child(); n; n = n.previous_sibling()) {
        if (n.type() != pugi::node_element || is(n, "w:sectPr") || is(n, "w:bookmarkEnd") ||
            is(n, "w:bookmarkStart"))
            continue;
        if (is(n, "w:p"))
            return n;
        break;
    }
    const auto all = wml::storyParagraphs(body);
    return all.empty() ? pugi::xml_node() : all.back();
}

} // namespace

Paragraph Paragraphs::last() const {
    pugi::xml_node p = lastBodyParagraph(doc_->body());
    if (!p)
        throw DocumentError(doc_->fail("the document has no paragraph"));
    return Paragraph(doc_, p);
}

Paragraph Paragraphs::add() {
    pugi::xml_node body = doc_->body();
    // The paragraph before the new one.
    pugi::xml_node before = lastBodyParagraph(body);
    pugi::xml_node sect = is(body.last_child(), "w:sectPr") ? body.last_child() : body.child("w:sectPr");
    pugi::xml_node p = sect ? body.insert_child_before("w:p", sect) : body.append_child("w:p");
    if (before) {
        if (pugi::xml_node props = before.child("w:pPr")) {
            pugi::xml_node copy = wml::copyParagraphProperties(p, props);
            // The style names the style of the paragraph that follows it.
            const std::string id = copy.child("w:pStyle").attribute("w:val").value();
            if (pugi::xml_node style = doc_->styleById(id.empty() ? doc_->defaultStyleId("paragraph") : id)) {
                const std::string next = style.child("w:next").attribute("w:val").value();
                if (!next.empty() && next != style.attribute("w:styleId").value() && doc_->styleById(next)) {
                    for (pugi::xml_node child = copy.first_child(); child;) {
                        pugi::xml_node after = child.next_sibling();
                        if (child.type() == pugi::node_element && !is(child, "w:rPr"))
                            copy.remove_child(child);
                        child = after;
                    }
                    wml::ensureChild(copy, "w:pStyle", wml::pPrOrder()).append_attribute("w:val") =
                        next.c_str();
                }
            }
            if (!copy.first_child())
                p.remove_child(copy);
        }
    }
    doc_->changed(doc_->mainPart);
    return Paragraph(doc_, p);
}

// ------------------------------------------------------------------------- Sections and headers

Range HeaderFooter::range() const {
    doc_->require();
    return Range(doc_, part_, pugi::xml_node(), pugi::xml_node());
}

HeaderFooter HeadersFooters::item(int index) const {
    doc_->require();
    static const char* types[] = {nullptr, "default", "first", "even"};
    if (index < 1 || index > 3)
        throw DocumentError(doc_->fail(std::to_string(index) + " is not a header or footer index (1 to 3)"));
    const char* element = headers_ ? "w:headerReference" : "w:footerReference";
    for (pugi::xml_node ref : sectPr_.children(element)) {
        const std::string type = ref.attribute("w:type").value();
        if (type == types[index] || (index == 1 && type.empty())) {
            const std::string id = ref.attribute("r:id").value();
            for (const opc::Relationship& r : doc_->package->relationships(doc_->mainPart))
                if (r.id == id && !r.external) {
                    const std::string part = opc::Package::resolveTarget(doc_->mainPart, r.target);
                    if (doc_->package->hasPart(part))
                        return HeaderFooter(doc_, part);
                }
        }
    }
    return HeaderFooter(doc_, std::string());
}

namespace {

std::vector<pugi::xml_node> sectionsOf(DocState& doc) {
    std::vector<pugi::xml_node> out;
    pugi::xml_node body = doc.body();
    for (pugi::xml_node p : wml::storyParagraphs(body))
        if (pugi::xml_node s = p.child("w:pPr").child("w:sectPr"))
            out.push_back(s);
    if (pugi::xml_node s = body.child("w:sectPr"))
        out.push_back(s);
    else
        out.push_back(body.append_child("w:sectPr")); // every document has a last section
    return out;
}

} // namespace

int Sections::count() const {
    return static_cast<int>(sectionsOf(*doc_).size());
}

Section Sections::item(int index) const {
    const auto all = sectionsOf(*doc_);
    if (index < 1 || index > static_cast<int>(all.size()))
        throw DocumentError(doc_->fail("there is no section " + std::to_string(index)));
    return Section(doc_, all[static_cast<std::size_t>(index - 1)]);
}

// ------------------------------------------------------------------------------------ Document

const std::shared_ptr<DocState>& Document::state() const {
    doc_->require();
    return doc_;
}

Range Document::range() const {
    return Range(state(), doc_->mainPart, pugi::xml_node(), pugi::xml_node());
}

bool Document::hasStyle(const std::string& name) const {
    return bool(state()->findStyle(name));
}

std::string Document::name() const {
    return doc_->displayName;
}

std::filesystem::path Document::fullName() const {
    return doc_->file.empty() ? std::filesystem::path(doc_->displayName) : doc_->file;
}

bool Document::closed() const {
    return doc_->closed;
}

void Document::close() {
    if (doc_->closed)
        return;
    doc_->closed = true;
    doc_->package.reset();
}

namespace {

// The engine and the file a document prints from: only a document with a file of its own prints.
printing::PrintEngine& printingOf(const DocState& d) {
    d.require();
    if (!d.printEngine)
        throw DocumentError(d.fail("this application cannot print"));
    if (d.file.empty())
        throw DocumentError(d.fail("a document that was never saved cannot be printed"));
    return *d.printEngine;
}

} // namespace

void Document::printOut(bool background, bool printToFile, const std::filesystem::path& outputFileName) {
    const DocState& d = *state();
    printing::PrintEngine& engine = printingOf(d);
    if (printToFile && outputFileName.empty())
        throw DocumentError(d.fail("printing to a file needs the file's name"));
    printing::PrintJob job;
    job.source = d.file;
    job.pages = printing::Pages::Document;
    job.printer = d.activePrinter ? *d.activePrinter : std::string();
    if (printToFile)
        job.printFile = outputFileName;
    job.background = background;
    try {
        engine.print(job);
    } catch (const printing::PrintError& e) {
        throw DocumentError(d.fail(e.what()));
    }
}

void Document::exportAsFixedFormat(const std::filesystem::path& outputFileName, int exportFormat,
                                   const render::PdfExport& pdf) {
    const DocState& d = *state();
    printing::PrintEngine& engine = printingOf(d);
    if (exportFormat != office::wdExportFormatPDF)
        throw DocumentError(d.fail("only PDF (export format 17) can be exported"));
    try {
        engine.exportPdf(d.file, printing::Pages::Document, outputFileName, pdf);
    } catch (const printing::PrintError& e) {
        throw DocumentError(d.fail(e.what()));
    }
}

void Document::saveAs(const std::filesystem::path& file) {
    DocState& d = *state();
    opc::Package& p = *d.package;
    const std::string ext = platform::asciiLower(file.extension().string());
    const bool macros = ext == ".docm" || ext == ".dotm";
    const bool isTemplate = ext == ".dotx" || ext == ".dotm";
    const char* type = macros ? (isTemplate ? contenttype::kMacroTemplate : contenttype::kMacroDocument)
                              : (isTemplate ? contenttype::kTemplate : contenttype::kDocument);
    if (p.contentType(d.mainPart) != type)
        p.setContentType(d.mainPart, type);
    if (!macros) {
        // A document without macros must not carry the template's macro project: Word refuses it.
        for (const opc::Relationship& r : p.relationships(d.mainPart)) {
            if (r.type != rel::kVbaProject || r.external)
                continue;
            const std::string project = opc::Package::resolveTarget(d.mainPart, r.target);
            for (const opc::Relationship& inner : p.relationships(project))
                if (!inner.external)
                    p.removePart(opc::Package::resolveTarget(project, inner.target));
            p.removePart(opc::rels::partFor(project));
            p.removePart(project);
            p.removeRelationship(d.mainPart, r.id);
        }
    }
    p.saveAs(file);
    d.file = file;
    d.displayName = file.filename().string();
}

} // namespace lf::word
