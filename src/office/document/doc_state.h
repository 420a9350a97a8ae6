#pragma once
// The state of one open Word document shared by its handles: the package, its main part and styles,
// and the style and property resolution every handle uses. Internal to the document engine.
#include "office/document/word.h"
#include "office/opc/package.h"
#include "office/printing/print_engine.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace lf::word {

namespace rel {
inline constexpr const char* kOfficeDocument =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
inline constexpr const char* kStrictOfficeDocument =
    "http://purl.oclc.org/ooxml/officeDocument/relationships/officeDocument";
inline constexpr const char* kStyles =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles";
inline constexpr const char* kTheme =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/theme";
inline constexpr const char* kVbaProject =
    "http://schemas.microsoft.com/office/2006/relationships/vbaProject";
} // namespace rel

namespace contenttype {
inline constexpr const char* kDocument =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";
inline constexpr const char* kTemplate =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml";
inline constexpr const char* kMacroDocument = "application/vnd.ms-word.document.macroEnabled.main+xml";
inline constexpr const char* kMacroTemplate =
    "application/vnd.ms-word.template.macroEnabledTemplate.main+xml";
inline constexpr const char* kStyles =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml";
} // namespace contenttype

struct DocState {
    std::unique_ptr<opc::Package> package;
    std::string mainPart;    // "/word/document.xml"
    std::string displayName; // the file name, or "Document1" before the first save
    std::filesystem::path file;
    bool closed = false;
    // The print engine and the active printer of the application the document belongs to.
    printing::PrintEngine* printEngine = nullptr;
    const std::string* activePrinter = nullptr;
    // Counts removals of paragraphs: a range made before one checks its paragraphs against the story
    // before it trusts them.
    std::uint64_t generation = 0;

    // Looked up often while paragraphs are written; rebuilt when a style is added.
    std::optional<std::string> stylesPartName;
    std::map<std::string, pugi::xml_node> styleIndex;
    std::map<std::string, std::string> defaultStyles;
    bool styleIndexBuilt = false;
    void indexStyles();

    // Opens and checks a package as a Word document or template; throws DocumentError naming `origin`.
    static std::shared_ptr<DocState> load(std::unique_ptr<opc::Package> package, const std::string& origin);

    void require() const;
    std::string fail(const std::string& problem) const { return displayName + ": " + problem; }
    pugi::xml_document& xml(const std::string& part) { return package->xmlPart(part); }
    void changed(const std::string& part) { package->markChanged(part); }
    pugi::xml_node body();
    // The story root of a part: w:body of the main part, the w:hdr or w:ftr of a header or footer.
    pugi::xml_node storyRoot(const std::string& part);

    // Styles.
    pugi::xml_node stylesRoot(bool create);
    std::string stylesPart() const;
    pugi::xml_node styleById(const std::string& id);
    std::string defaultStyleId(const std::string& type);
    // The style of that name (case-insensitive, aliases too) that the document defines; empty when none.
    pugi::xml_node findStyle(const std::string& name);
    // The style of that name (case-insensitive, aliases too); a built-in style the document lacks is
    // added. Throws DocumentError when there is no such style.
    pugi::xml_node findOrAddStyle(const std::string& name);
    static std::string shownName(const std::string& storedName);

    // Effective properties of a run (or, with an empty run, of the paragraph mark) in paragraph p:
    // direct formatting, the character style, the paragraph style chain, the document defaults.
    pugi::xml_node effectiveRunProperty(pugi::xml_node p, pugi::xml_node r, const char* name);
    pugi::xml_node effectiveParagraphProperty(pugi::xml_node p, const char* name);
    std::string themeFont(const std::string& themeKey);
};

} // namespace lf::word
