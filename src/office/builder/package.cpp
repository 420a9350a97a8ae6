#include "office/builder/package.h"

#include <zip.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace lf::builder {

const std::string kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const std::string kRelationshipTypes = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

std::string escapeXml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string relationships(const std::vector<std::pair<std::string, std::string>>& typeTargets,
                          const std::vector<std::string>& ids) {
    std::string s = kXmlDeclaration +
                    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (std::size_t i = 0; i < typeTargets.size(); ++i) {
        const std::string id = i < ids.size() ? ids[i] : "rId" + std::to_string(i + 1);
        const std::string& type = typeTargets[i].first;
        s += "<Relationship Id=\"" + id + "\" Type=\"" +
             (type.find("://") == std::string::npos ? kRelationshipTypes + type : type) + "\" Target=\"" +
             typeTargets[i].second + "\"/>";
    }
    return s + "</Relationships>";
}

std::string ContentTypes::xml() const {
    std::string s = kXmlDeclaration +
                    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                    "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package."
                    "relationships+xml\"/><Default Extension=\"xml\" ContentType=\"application/xml\"/>";
    for (const auto& [extension, type] : defaults)
        s += "<Default Extension=\"" + extension + "\" ContentType=\"" + type + "\"/>";
    for (const auto& [part, type] : overrides)
        s += "<Override PartName=\"" + part + "\" ContentType=\"" + type + "\"/>";
    return s + "</Types>";
}

void writeZip(const std::filesystem::path& file, const Parts& entries) {
    int error = 0;
    zip_t* zip = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip)
        throw std::runtime_error("Cannot create " + file.string());
    for (const auto& [name, bytes] : entries) {
        // libzip reads the sources when the archive is closed; each keeps a copy it frees itself.
        void* copy = std::malloc(bytes.size() ? bytes.size() : 1);
        if (copy)
            std::memcpy(copy, bytes.data(), bytes.size());
        zip_source_t* source = copy ? zip_source_buffer(zip, copy, bytes.size(), 1) : nullptr;
        if (!source || zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0) {
            if (source)
                zip_source_free(source);
            else
                std::free(copy);
            zip_discard(zip);
            throw std::runtime_error("Cannot add " + name + " to " + file.string());
        }
    }
    if (zip_close(zip) != 0) {
        zip_discard(zip);
        throw std::runtime_error("Cannot write " + file.string());
    }
}

} // namespace lf::builder
