#pragma once
// The package pieces every builder shares: parts, XML text escaping, relationships and content types
// parts, and writing the parts as a zip.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace lf::builder {

// Part names with their bytes, in the order they are written.
using Parts = std::vector<std::pair<std::string, std::string>>;

// The declaration every XML part starts with, its line break included.
extern const std::string kXmlDeclaration;
// Namespace of the office document relationship types (officeDocument, slide, styles...), with "/".
extern const std::string kRelationshipTypes;

// Text with &, <, > and " written as XML entities.
std::string escapeXml(const std::string& text);

// A relationships part. A type without "://" is an office document relationship type; ids default to
// rId1, rId2... by position.
std::string relationships(const std::vector<std::pair<std::string, std::string>>& typeTargets,
                          const std::vector<std::string>& ids = {});

// A [Content_Types].xml part: the rels and xml defaults, then extra defaults and overrides in order.
struct ContentTypes {
    std::vector<std::pair<std::string, std::string>> defaults;  // extension, content type
    std::vector<std::pair<std::string, std::string>> overrides; // part name ("/ppt/..."), content type
    void add(const std::string& part, const std::string& type) { overrides.emplace_back(part, type); }
    std::string xml() const;
};

// Writes a zip of the given entries, in order, deflated; throws std::runtime_error naming the file.
void writeZip(const std::filesystem::path& file, const Parts& entries);

} // namespace lf::builder
