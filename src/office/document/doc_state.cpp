#include "office/document/doc_state.h"

#include "office/document/wml.h"
#include "platform/ascii.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace lf::word {

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Word's usual definitions of the built-in styles a template may lack, by the name Word stores.
// "@NORMAL@" stands for the document's default paragraph style.
struct BuiltIn {
    std::string type;
    std::string name;
    std::string id;
    std::string body;
};

std::vector<BuiltIn> makeBuiltIns() {
    std::vector<BuiltIn> list;
    const std::string basedNormal = "<w:basedOn w:val=\"@NORMAL@\"/>";
    const std::string nextNormal = "<w:next w:val=\"@NORMAL@\"/>";
    const std::string major = "<w:rFonts w:asciiTheme=\"majorHAnsi\" w:eastAsiaTheme=\"majorEastAsia\" "
                              "w:hAnsiTheme=\"majorHAnsi\" w:cstheme=\"majorBidi\"/>";
    list.push_back({"paragraph", "Normal", "Normal", "<w:qFormat/>"});
    static const char* headingColor[] = {"2F5496\" w:themeColor=\"accent1\" w:themeShade=\"BF",
                                         "1F3763\" w:themeColor=\"accent1\" w:themeShade=\"7F"};
    static const char* headingSize[] = {"32", "26", "24"};
    std::vector<std::string> names, ids;
    for (int n = 1; n <= 9; ++n) {
        names.push_back("heading " + std::to_string(n));
        ids.push_back("Heading" + std::to_string(n));
    }
    for (int n = 1; n <= 9; ++n) {
        names.push_back("toc " + std::to_string(n));
        ids.push_back("TOC" + std::to_string(n));
    }
    for (int n = 1; n <= 9; ++n) {
        names.push_back("index " + std::to_string(n));
        ids.push_back("Index" + std::to_string(n));
    }
    for (int n = 1; n <= 9; ++n) {
        std::string body = basedNormal + nextNormal + "<w:uiPriority w:val=\"9\"/>" +
                           (n > 1 ? "<w:unhideWhenUsed/>" : "") +
                           "<w:qFormat/><w:pPr><w:keepNext/><w:keepLines/>" + "<w:spacing w:before=\"" +
                           (n == 1 ? "240" : "40") + "\" w:after=\"0\"/>" + "<w:outlineLvl w:val=\"" +
                           std::to_string(n - 1) + "\"/></w:pPr><w:rPr>" + major +
                           (n == 4 || n == 7 ? "<w:i/><w:iCs/>" : "") + "<w:color w:val=\"" +
                           headingColor[n == 3 || n >= 6 ? 1 : 0] + "\"/>" +
                           (n <= 3 ? std::string("<w:sz w:val=\"") + headingSize[n - 1] +
                                         "\"/><w:szCs w:val=\"" + headingSize[n - 1] + "\"/>"
                                   : std::string()) +
                           "</w:rPr>";
        list.push_back({"paragraph", names[static_cast<std::size_t>(n - 1)],
                        ids[static_cast<std::size_t>(n - 1)], body});
    }
    for (int n = 1; n <= 9; ++n) {
        std::string body =
            basedNormal + nextNormal +
            "<w:autoRedefine/><w:uiPriority w:val=\"39\"/><w:unhideWhenUsed/><w:pPr>"
            "<w:spacing w:after=\"100\"/>" +
            (n > 1 ? "<w:ind w:left=\"" + std::to_string(220 * (n - 1)) + "\"/>" : std::string()) +
            "</w:pPr>";
        list.push_back({"paragraph", names[static_cast<std::size_t>(8 + n)],
                        ids[static_cast<std::size_t>(8 + n)], body});
    }
    for (int n = 1; n <= 9; ++n) {
        std::string body = basedNormal + nextNormal +
                           "<w:autoRedefine/><w:uiPriority w:val=\"99\"/><w:unhideWhenUsed/><w:pPr>"
                           "<w:spacing w:after=\"0\" w:line=\"240\" w:lineRule=\"auto\"/><w:ind w:left=\"" +
                           std::to_string(220 * n) + "\" w:hanging=\"220\"/></w:pPr>";
        list.push_back({"paragraph", names[static_cast<std::size_t>(17 + n)],
                        ids[static_cast<std::size_t>(17 + n)], body});
    }
    const std::string headerFooter = basedNormal +
                                     "<w:uiPriority w:val=\"99\"/><w:unhideWhenUsed/><w:pPr><w:tabs>"
                                     "<w:tab w:val=\"center\" w:pos=\"4680\"/><w:tab w:val=\"right\" "
                                     "w:pos=\"9360\"/></w:tabs><w:spacing w:after=\"0\" w:line=\"240\" "
                                     "w:lineRule=\"auto\"/></w:pPr>";
    list.push_back({"paragraph", "header", "Header", headerFooter});
    list.push_back({"paragraph", "footer", "Footer", headerFooter});
    list.push_back({"paragraph", "Plain Text", "PlainText",
                    basedNormal +
                        "<w:uiPriority w:val=\"99\"/><w:unhideWhenUsed/><w:pPr><w:spacing w:after=\"0\" "
                        "w:line=\"240\" w:lineRule=\"auto\"/></w:pPr><w:rPr><w:rFonts w:ascii=\"Consolas\" "
                        "w:hAnsi=\"Consolas\"/><w:sz w:val=\"21\"/><w:szCs w:val=\"21\"/></w:rPr>"});
    list.push_back(
        {"paragraph", "Title", "Title",
         basedNormal + nextNormal +
             "<w:uiPriority w:val=\"10\"/><w:qFormat/><w:pPr><w:spacing w:after=\"0\" w:line=\"240\" "
             "w:lineRule=\"auto\"/><w:contextualSpacing/></w:pPr><w:rPr>" +
             major +
             "<w:spacing w:val=\"-10\"/><w:kern w:val=\"28\"/><w:sz w:val=\"56\"/>"
             "<w:szCs w:val=\"56\"/></w:rPr>"});
    list.push_back(
        {"paragraph", "Subtitle", "Subtitle",
         basedNormal + nextNormal +
             "<w:uiPriority w:val=\"11\"/><w:qFormat/><w:pPr><w:spacing w:after=\"160\"/></w:pPr><w:rPr>"
             "<w:color w:val=\"5A5A5A\" w:themeColor=\"text1\" w:themeTint=\"A5\"/><w:spacing "
             "w:val=\"15\"/><w:sz w:val=\"22\"/><w:szCs w:val=\"22\"/></w:rPr>"});
    list.push_back({"paragraph", "index heading", "IndexHeading",
                    basedNormal +
                        "<w:next w:val=\"Index1\"/><w:uiPriority w:val=\"99\"/><w:unhideWhenUsed/><w:rPr>" +
                        major + "<w:b/><w:bCs/></w:rPr>"});
    list.push_back({"paragraph", "TOC Heading", "TOCHeading",
                    "<w:basedOn w:val=\"Heading1\"/>" + nextNormal +
                        "<w:uiPriority w:val=\"39\"/><w:unhideWhenUsed/><w:qFormat/><w:pPr><w:outlineLvl "
                        "w:val=\"9\"/></w:pPr>"});
    list.push_back({"paragraph", "List Paragraph", "ListParagraph",
                    basedNormal + "<w:uiPriority w:val=\"34\"/><w:qFormat/><w:pPr><w:ind w:left=\"720\"/>"
                                  "<w:contextualSpacing/></w:pPr>"});
    list.push_back({"paragraph", "No Spacing", "NoSpacing",
                    "<w:uiPriority w:val=\"1\"/><w:qFormat/><w:pPr><w:spacing w:after=\"0\" w:line=\"240\" "
                    "w:lineRule=\"auto\"/></w:pPr>"});
    list.push_back({"character", "Default Paragraph Font", "DefaultParagraphFont",
                    "<w:uiPriority w:val=\"1\"/><w:semiHidden/><w:unhideWhenUsed/>"});
    list.push_back(
        {"character", "Strong", "Strong",
         "<w:basedOn w:val=\"DefaultParagraphFont\"/><w:uiPriority w:val=\"22\"/><w:qFormat/><w:rPr>"
         "<w:b/><w:bCs/></w:rPr>"});
    list.push_back(
        {"character", "Emphasis", "Emphasis",
         "<w:basedOn w:val=\"DefaultParagraphFont\"/><w:uiPriority w:val=\"20\"/><w:qFormat/><w:rPr>"
         "<w:i/><w:iCs/></w:rPr>"});
    list.push_back(
        {"character", "Hyperlink", "Hyperlink",
         "<w:basedOn w:val=\"DefaultParagraphFont\"/><w:uiPriority w:val=\"99\"/><w:unhideWhenUsed/>"
         "<w:rPr><w:color w:val=\"0563C1\" w:themeColor=\"hyperlink\"/><w:u w:val=\"single\"/></w:rPr>"});
    return list;
}

const std::vector<BuiltIn>& builtIns() {
    static const std::vector<BuiltIn> list = makeBuiltIns();
    return list;
}

} // namespace

std::shared_ptr<DocState> DocState::load(std::unique_ptr<opc::Package> package, const std::string& origin) {
    auto state = std::make_shared<DocState>();
    auto fail = [&origin](const std::string& problem) { throw DocumentError(origin + ": " + problem); };
    opc::Package& p = *package;
    std::optional<std::string> main = p.relatedPart("/", rel::kOfficeDocument);
    if (!main) {
        if (p.relatedPart("/", rel::kStrictOfficeDocument))
            fail("a Strict Open XML document, which is not supported");
        fail("the package has no main document part");
    }
    if (!p.hasPart(*main))
        fail("the main document part " + *main + " is missing");
    const std::string type = p.contentType(*main);
    if (type != contenttype::kDocument && type != contenttype::kTemplate &&
        type != contenttype::kMacroDocument && type != contenttype::kMacroTemplate)
        fail("not a Word document or template (its main part is \"" + type + "\")");
    // Every XML part must parse: a broken header or style part would make the written document broken.
    // (A package opened for writing has parsed them all already.)
    for (const std::string& name : p.partNames())
        if (p.isXmlPart(name))
            (void)p.xmlPart(name);
    pugi::xml_node root = p.xmlPart(*main).document_element();
    if (std::strcmp(root.name(), "w:document") != 0 || !root.child("w:body"))
        fail("the main document part " + *main + " holds no document body");
    for (const opc::Relationship& r : p.relationships(*main))
        if (!r.external &&
            (r.type == rel::kStyles || endsWith(r.type, "/header") || endsWith(r.type, "/footer") ||
             endsWith(r.type, "/numbering") || endsWith(r.type, "/settings")))
            if (!p.hasPart(opc::Package::resolveTarget(*main, r.target)))
                fail("relationship " + r.id + " of " + *main + " points to the missing part " +
                     opc::Package::resolveTarget(*main, r.target));
    state->package = std::move(package);
    state->mainPart = *main;
    return state;
}

void DocState::require() const {
    if (closed)
        throw DocumentError(displayName + ": the document was closed");
}

pugi::xml_node DocState::body() {
    require();
    return xml(mainPart).document_element().child("w:body");
}

pugi::xml_node DocState::storyRoot(const std::string& part) {
    require();
    if (part == mainPart)
        return body();
    return xml(part).document_element();
}

std::string DocState::stylesPart() const {
    if (!stylesPartName) {
        auto styles = package->relatedPart(mainPart, rel::kStyles);
        const_cast<DocState*>(this)->stylesPartName =
            styles && package->hasPart(*styles) ? *styles : std::string();
    }
    return *stylesPartName;
}

pugi::xml_node DocState::stylesRoot(bool create) {
    const std::string part = stylesPart();
    if (!part.empty())
        return xml(part).document_element();
    if (!create)
        return {};
    std::string name = opc::Package::resolveTarget(mainPart, "styles.xml");
    if (package->hasPart(name))
        name = package->nextPartName(opc::Package::resolveTarget(mainPart, "styles%d.xml"));
    pugi::xml_document& doc = package->createXmlPart(name, contenttype::kStyles);
    pugi::xml_node root = doc.append_child("w:styles");
    root.append_attribute("xmlns:w") = wml::kMainNs;
    package->addRelationship(mainPart, rel::kStyles, opc::Package::relativeTarget(mainPart, name));
    stylesPartName = name;
    styleIndexBuilt = false;
    return root;
}

void DocState::indexStyles() {
    if (styleIndexBuilt)
        return;
    styleIndex.clear();
    defaultStyles.clear();
    for (pugi::xml_node s : stylesRoot(false).children("w:style")) {
        styleIndex.emplace(s.attribute("w:styleId").value(), s);
        const std::string d = platform::asciiLower(s.attribute("w:default").value());
        if (d == "1" || d == "true" || d == "on")
            defaultStyles.emplace(s.attribute("w:type").value(), s.attribute("w:styleId").value());
    }
    styleIndexBuilt = true;
}

pugi::xml_node DocState::styleById(const std::string& id) {
    indexStyles();
    auto it = styleIndex.find(id);
    return it == styleIndex.end() ? pugi::xml_node() : it->second;
}

std::string DocState::defaultStyleId(const std::string& type) {
    indexStyles();
    auto it = defaultStyles.find(type);
    return it == defaultStyles.end() ? std::string() : it->second;
}

std::string DocState::shownName(const std::string& storedName) {
    // Word stores some built-in names in lower case ("toc 2", "heading 1") and shows them capitalised.
    if (storedName != platform::asciiLower(storedName))
        return storedName;
    std::string shown = storedName;
    bool start = true;
    for (char& c : shown) {
        if (start && c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        start = c == ' ';
    }
    if (shown.compare(0, 4, "Toc ") == 0)
        shown.replace(0, 3, "TOC");
    return shown;
}

pugi::xml_node DocState::findStyle(const std::string& name) {
    require();
    const std::string wanted = platform::asciiLower(name);
    if (pugi::xml_node root = stylesRoot(false)) {
        for (pugi::xml_node s : root.children("w:style")) {
            if (platform::asciiLower(s.child("w:name").attribute("w:val").value()) == wanted)
                return s;
            // Aliases: "Heading 1,H1".
            const std::string aliases = platform::asciiLower(s.child("w:aliases").attribute("w:val").value());
            std::size_t start = 0;
            while (!aliases.empty() && start <= aliases.size()) {
                auto end = aliases.find(',', start);
                if (end == std::string::npos)
                    end = aliases.size();
                if (aliases.substr(start, end - start) == wanted)
                    return s;
                start = end + 1;
            }
        }
    }
    return {};
}

pugi::xml_node DocState::findOrAddStyle(const std::string& name) {
    if (pugi::xml_node found = findStyle(name))
        return found;
    const std::string wanted = platform::asciiLower(name);
    for (const BuiltIn& b : builtIns()) {
        if (platform::asciiLower(b.name) != wanted)
            continue;
        pugi::xml_node root = stylesRoot(true);
        std::string normal = defaultStyleId("paragraph");
        if (normal.empty() && b.id != "Normal" && styleById("Normal"))
            normal = "Normal";
        std::string body = b.body;
        for (auto at = body.find("@NORMAL@"); at != std::string::npos; at = body.find("@NORMAL@"))
            body.replace(at, 8, normal);
        std::string id = b.id;
        for (int n = 1; styleById(id); ++n)
            id = b.id + std::to_string(n);
        const std::string xmlText = std::string("<w:style xmlns:w=\"") + wml::kMainNs + "\" w:type=\"" +
                                    b.type + "\" w:styleId=\"" + id + "\"><w:name w:val=\"" + b.name +
                                    "\"/>" + body + "</w:style>";
        pugi::xml_document fragment;
        fragment.load_string(xmlText.c_str());
        pugi::xml_node style = fragment.document_element();
        style.remove_attribute("xmlns:w");
        // A reference to a style the document lacks (an empty default) is left out.
        for (const char* ref : {"w:basedOn", "w:next"}) {
            pugi::xml_node r = style.child(ref);
            if (r && (std::string(r.attribute("w:val").value()).empty() ||
                      !styleById(r.attribute("w:val").value())))
                style.remove_child(r);
        }
        if (b.id == "Normal" && defaultStyleId("paragraph").empty())
            style.insert_attribute_before("w:default", style.attribute("w:styleId")) = "1";
        pugi::xml_node added = root.append_copy(style);
        styleIndexBuilt = false;
        changed(stylesPart());
        return added;
    }
    throw DocumentError(fail("there is no style \"" + name + "\" in the document or its template"));
}

pugi::xml_node DocState::effectiveRunProperty(pugi::xml_node p, pugi::xml_node r, const char* name) {
    // Direct formatting of the run, or of the paragraph mark when there is no run.
    pugi::xml_node direct = r ? wml::rPr(r, false) : wml::markRPr(p, false);
    if (pugi::xml_node v = direct.child(name))
        return v;
    auto throughStyles = [&](std::string id) -> pugi::xml_node {
        for (int depth = 0; !id.empty() && depth < 32; ++depth) {
            pugi::xml_node s = styleById(id);
            if (!s)
                break;
            if (pugi::xml_node v = s.child("w:rPr").child(name))
                return v;
            id = s.child("w:basedOn").attribute("w:val").value();
        }
        return {};
    };
    if (pugi::xml_node v = throughStyles(direct.child("w:rStyle").attribute("w:val").value()))
        return v;
    std::string pStyle = wml::pPr(p, false).child("w:pStyle").attribute("w:val").value();
    if (pStyle.empty())
        pStyle = defaultStyleId("paragraph");
    if (pugi::xml_node v = throughStyles(pStyle))
        return v;
    return stylesRoot(false).child("w:docDefaults").child("w:rPrDefault").child("w:rPr").child(name);
}

pugi::xml_node DocState::effectiveParagraphProperty(pugi::xml_node p, const char* name) {
    pugi::xml_node props = wml::pPr(p, false);
    if (pugi::xml_node v = props.child(name))
        return v;
    std::string id = props.child("w:pStyle").attribute("w:val").value();
    if (id.empty())
        id = defaultStyleId("paragraph");
    for (int depth = 0; !id.empty() && depth < 32; ++depth) {
        pugi::xml_node s = styleById(id);
        if (!s)
            break;
        if (pugi::xml_node v = s.child("w:pPr").child(name))
            return v;
        id = s.child("w:basedOn").attribute("w:val").value();
    }
    return stylesRoot(false).child("w:docDefaults").child("w:pPrDefault").child("w:pPr").child(name);
}

std::string DocState::themeFont(const std::string& themeKey) {
    auto theme = package->relatedPart(mainPart, rel::kTheme);
    if (!theme || !package->hasPart(*theme))
        return {};
    pugi::xml_node scheme = xml(*theme).document_element().child("a:themeElements").child("a:fontScheme");
    const bool major = themeKey.compare(0, 5, "major") == 0;
    pugi::xml_node font = scheme.child(major ? "a:majorFont" : "a:minorFont");
    const bool eastAsia = themeKey.find("EastAsia") != std::string::npos;
    const bool bidi = themeKey.find("Bidi") != std::string::npos;
    return font.child(eastAsia ? "a:ea" : bidi ? "a:cs" : "a:latin").attribute("typeface").value();
}

} // namespace lf::word
