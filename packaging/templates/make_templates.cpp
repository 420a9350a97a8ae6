// make_templates OUTPUT_FOLDER
// Writes the TOC and Index templates the program ships: "TOC Template.docx" and "Index Template.docx".
// Each holds what its writer uses: a primary header reading "Course Name" (replaced by the course's
// name), the paragraph styles the writer applies (toc 2 and toc 3 for the TOC, Plain Text for the
// Index) and a body the writer clears.
#include "office/builder/document.h"

#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

namespace {

using lf::builder::WordDocument;
using lf::builder::WordStyle;

WordStyle paragraphStyle(const std::string& id, const std::string& name, const std::string& pPr,
                         const std::string& rPr) {
    return WordStyle{.id = id,
                     .name = name,
                     .basedOn = "Normal",
                     .next = "Normal",
                     .quickFormat = true,
                     .paragraphProperties = pPr,
                     .runProperties = rPr};
}

WordDocument shippedTemplate(const std::string& purpose) {
    WordDocument doc;
    doc.paragraphs = {purpose + " template of Lessonforge. The course's entries replace this text."};
    doc.defaultRunProperties =
        "<w:rFonts w:ascii=\"Liberation Sans\" w:hAnsi=\"Liberation Sans\" w:cs=\"Liberation Sans\"/>"
        "<w:sz w:val=\"22\"/><w:szCs w:val=\"22\"/><w:lang w:val=\"en-US\"/>";
    doc.styles = {
        WordStyle{.id = "Normal",
                  .name = "Normal",
                  .isDefault = true,
                  .quickFormat = true,
                  .paragraphProperties = "<w:spacing w:after=\"60\" w:line=\"264\" w:lineRule=\"auto\"/>"},
        paragraphStyle("Header", "header", "<w:jc w:val=\"center\"/>",
                       "<w:b/><w:color w:val=\"1F3864\"/><w:sz w:val=\"28\"/>"),
    };
    doc.header = "Course Name";
    doc.headerStyle = "Header";
    return doc;
}

WordDocument tocTemplate() {
    WordDocument doc = shippedTemplate("Table of contents");
    // A line is the entry, a tab, then its references: the references stand at the right margin
    // behind a dotted leader.
    doc.styles.push_back(paragraphStyle("TOC2", "toc 2",
                                        "<w:tabs><w:tab w:val=\"right\" w:leader=\"dot\" w:pos=\"9350\"/>"
                                        "</w:tabs><w:spacing w:after=\"40\"/><w:ind w:left=\"240\"/>",
                                        "<w:sz w:val=\"22\"/>"));
    doc.styles.push_back(paragraphStyle("TOC3", "toc 3", "<w:spacing w:before=\"240\" w:after=\"120\"/>",
                                        "<w:b/><w:color w:val=\"1F3864\"/>"));
    return doc;
}

WordDocument indexTemplate() {
    WordDocument doc = shippedTemplate("Index");
    doc.styles.push_back(paragraphStyle("PlainText", "Plain Text", "<w:spacing w:after=\"0\"/>",
                                        "<w:rFonts w:ascii=\"Courier New\" w:hAnsi=\"Courier New\"/>"
                                        "<w:sz w:val=\"20\"/>"));
    return doc;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_templates OUTPUT_FOLDER\n";
        return 2;
    }
    try {
        const std::filesystem::path folder(argv[1]);
        std::filesystem::create_directories(folder);
        tocTemplate().write(folder / "TOC Template.docx");
        indexTemplate().write(folder / "Index Template.docx");
    } catch (const std::exception& failure) {
        std::cerr << "make_templates: " << failure.what() << "\n";
        return 1;
    }
    return 0;
}
