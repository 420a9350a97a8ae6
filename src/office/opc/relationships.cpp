#include "office/opc/relationships.h"

#include <algorithm>

namespace lf::opc::rels {

namespace {

std::string directoryOf(const std::string& partName) {
    const auto slash = partName.rfind('/');
    return slash == std::string::npos ? std::string("/") : partName.substr(0, slash + 1);
}

std::vector<std::string> splitSegments(const std::string& path) {
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start < path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            segments.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return segments;
}

} // namespace

std::string partFor(const std::string& sourcePartName) {
    if (sourcePartName.empty() || sourcePartName == "/")
        return "/_rels/.rels";
    const auto slash = sourcePartName.rfind('/');
    return sourcePartName.substr(0, slash + 1) + "_rels/" + sourcePartName.substr(slash + 1) + ".rels";
}

std::vector<Relationship> read(const pugi::xml_document& relsPart) {
    std::vector<Relationship> out;
    for (pugi::xml_node r : relsPart.child("Relationships").children("Relationship")) {
        Relationship rel;
        rel.id = r.attribute("Id").value();
        rel.type = r.attribute("Type").value();
        rel.target = r.attribute("Target").value();
        rel.external = std::string(r.attribute("TargetMode").value()) == "External";
        out.push_back(std::move(rel));
    }
    return out;
}

long long highestId(const pugi::xml_document& relsPart) {
    long long highest = 0;
    for (pugi::xml_node r : relsPart.child("Relationships").children("Relationship")) {
        const std::string_view id = r.attribute("Id").value();
        if (id.size() > 3 && id.size() <= 3 + 18 && id.starts_with("rId") &&
            std::all_of(id.begin() + 3, id.end(), [](char c) { return c >= '0' && c <= '9'; }))
            highest = std::max(highest, std::stoll(std::string(id.substr(3))));
    }
    return highest;
}

std::string add(pugi::xml_document& relsPart, const std::string& type, const std::string& target,
                long long& highest) {
    pugi::xml_node root = relsPart.child("Relationships");
    if (!root) {
        root = relsPart.append_child("Relationships");
        root.append_attribute("xmlns") = kNamespace;
    }
    const std::string id = "rId" + std::to_string(++highest);
    pugi::xml_node r = root.append_child("Relationship");
    r.append_attribute("Id") = id.c_str();
    r.append_attribute("Type") = type.c_str();
    r.append_attribute("Target") = target.c_str();
    return id;
}

bool remove(pugi::xml_document& relsPart, const std::string& id) {
    pugi::xml_node root = relsPart.child("Relationships");
    for (pugi::xml_node r : root.children("Relationship"))
        if (id == r.attribute("Id").value()) {
            root.remove_child(r);
            return true;
        }
    return false;
}

std::string resolveTarget(const std::string& sourcePartName, const std::string& target) {
    std::string t = target;
    if (auto hash = t.find('#'); hash != std::string::npos)
        t = t.substr(0, hash);
    const std::string base = (!t.empty() && t.front() == '/') ? std::string() : directoryOf(sourcePartName);
    std::vector<std::string> out;
    for (const std::string& segment : splitSegments(base + t)) {
        if (segment == ".")
            continue;
        if (segment == "..") {
            if (!out.empty())
                out.pop_back();
            continue;
        }
        out.push_back(segment);
    }
    std::string result;
    for (const std::string& segment : out)
        result += "/" + segment;
    return result.empty() ? std::string("/") : result;
}

std::string relativeTarget(const std::string& sourcePartName, const std::string& partName) {
    const std::vector<std::string> from = splitSegments(directoryOf(sourcePartName));
    const std::vector<std::string> to = splitSegments(partName);
    std::size_t common = 0;
    while (common < from.size() && common + 1 < to.size() && from[common] == to[common])
        ++common;
    std::string result;
    for (std::size_t i = common; i < from.size(); ++i)
        result += "../";
    for (std::size_t i = common; i < to.size(); ++i) {
        result += to[i];
        if (i + 1 < to.size())
            result += "/";
    }
    return result;
}

} // namespace lf::opc::rels
