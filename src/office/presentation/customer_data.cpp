// Customer data: adding a custom XML part to a slide as the office suite stores one (the item, its
// item properties with a datastore item id, the relationship between them, the slide's relationship
// and its p:custData entry), and deleting one again without leaving a part or a relationship behind.
#include "office/presentation/deck.h"
#include "office/presentation/presentation.h"
#include "platform/ascii.h"

#include <cstdio>
#include <random>

namespace lf::ppt {

using oxml::child;
using oxml::localName;

namespace {

constexpr std::string_view kItemPrefix = "/customXml/item";
constexpr const char* kItemPattern = "/customXml/item%d.xml";
constexpr const char* kItemPropertiesPattern = "/customXml/itemProps%d.xml";
constexpr const char* kItemPropertiesType =
    "application/vnd.openxmlformats-officedocument.customXmlProperties+xml";
constexpr const char* kCustomXmlNs = "http://schemas.openxmlformats.org/officeDocument/2006/customXml";

bool isXmlType(const std::string& contentType) {
    return contentType == "application/xml" || contentType == "text/xml";
}

// A new random (version 4) GUID in braces and capitals, as datastore item ids are written.
std::string newGuid() {
    std::random_device random;
    unsigned char b[16];
    for (int i = 0; i < 16; i += 4) {
        const std::uint32_t r = random();
        for (int j = 0; j < 4; ++j) {
            b[i + j] = static_cast<unsigned char>(r >> (8 * j));
        }
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
    char text[40];
    std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

std::string itemPropertiesXml() {
    return std::string(R"(<?xml version="1.0" encoding="UTF-8" standalone="no"?>)") +
           "\n<ds:datastoreItem ds:itemID=\"" + newGuid() + "\" xmlns:ds=\"" + kCustomXmlNs +
           "\"><ds:schemaRefs/></ds:datastoreItem>";
}

// "p:" for an element named "p:cSld", "" for one in the default namespace.
std::string prefixOf(pugi::xml_node element) {
    std::string_view name(element.name());
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? std::string() : std::string(name.substr(0, colon + 1));
}

bool isEntry(pugi::xml_node node, const std::string& relationshipId) {
    return node.type() == pugi::node_element && localName(node) == "custData" &&
           relationshipId == oxml::attribute(node, "id").value();
}

bool hasElementChild(pugi::xml_node node) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) {
            return true;
        }
    }
    return false;
}

} // namespace

Deck::CustomerDataEntry Deck::addCustomerData(const std::string& slidePart, const std::string& xml) {
    requireWritable();
    opc::Package& p = package();
    pugi::xml_node slide = root(slidePart);
    pugi::xml_node common = child(slide, "cSld");
    if (!common) {
        fail("the slide " + slidePart + " has no common slide data to list customer data in");
    }
    const std::string item = p.nextPartName(kItemPattern);
    try {
        p.checkXml(item, xml);
    } catch (const opc::PackageError& e) {
        throw PresentationError(std::string(e.what()) + " (customer data for " + slidePart + ")");
    }
    // The item's properties take its number, as the office suite numbers them, unless a stray part
    // already has that name.
    const std::string number = item.substr(kItemPrefix.size(), item.size() - kItemPrefix.size() - 4);
    std::string properties = std::string(kItemPrefix) + "Props" + number + ".xml";
    if (p.hasPart(properties)) {
        properties = p.nextPartName(kItemPropertiesPattern);
    }

    p.writePart(item, xml);
    if (!isXmlType(p.contentType(item))) {
        p.setContentType(item, "application/xml");
    }
    p.writePart(properties, itemPropertiesXml(), kItemPropertiesType);
    // The item's one relationship, to its properties, in a part of its own that replaces any an item of
    // that name left. Written as text: held as a parsed document it would cost some 32 KB a tag.
    p.writePart(opc::rels::partFor(item),
                std::string(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)") +
                    "\n<Relationships xmlns=\"" + opc::rels::kNamespace +
                    "\"><Relationship Id=\"rId1\" Type=\"" + relationshipType("customXmlProps") +
                    "\" Target=\"" + opc::Package::relativeTarget(item, properties) + "\"/></Relationships>",
                opc::rels::kContentType);
    parts_.erase(item);
    parts_.erase(properties);
    const std::string id = addRelationship(slidePart, "customXml", item);

    // p:custDataLst has its place in p:cSld after the shape tree, before controls and extensions;
    // its entries come before its tags.
    const std::string ns = prefixOf(common);
    pugi::xml_node list = child(common, "custDataLst");
    if (!list) {
        pugi::xml_node before;
        for (pugi::xml_node c = common.first_child(); c && !before; c = c.next_sibling()) {
            if (c.type() == pugi::node_element && (localName(c) == "controls" || localName(c) == "extLst")) {
                before = c;
            }
        }
        const std::string name = ns + "custDataLst";
        list = before ? common.insert_child_before(name.c_str(), before) : common.append_child(name.c_str());
    }
    const std::string name = ns + "custData";
    // The tags, when the list has them, are its last element: looked for from the end, past the
    // entries, of which a slide may have thousands.
    pugi::xml_node tags;
    for (pugi::xml_node c = list.last_child(); c; c = c.previous_sibling()) {
        if (c.type() == pugi::node_element) {
            tags = localName(c) == "tags" ? c : pugi::xml_node();
            break;
        }
    }
    pugi::xml_node entry =
        tags ? list.insert_child_before(name.c_str(), tags) : list.append_child(name.c_str());
    const std::string r = oxml::prefixFor(slide, oxml::kRelationshipsNs, "r");
    entry.append_attribute((r.empty() ? std::string("id") : r + ":id").c_str()) = id.c_str();
    touch(slidePart);
    return {item, id};
}

bool Deck::anyRelationshipTo(const std::string& part) {
    opc::Package& p = package();
    const std::string wanted = platform::asciiLower(part); // part names compare without regard to case
    std::vector<std::string> sources = p.partNames();
    sources.push_back("/");
    for (const std::string& source : sources) {
        for (const opc::Relationship& r : p.relationships(source)) {
            if (!r.external &&
                platform::asciiLower(opc::Package::resolveTarget(source, r.target)) == wanted) {
                return true;
            }
        }
    }
    return false;
}

void Deck::removeCustomerData(const std::string& slidePart, const std::string& relationshipId) {
    requireWritable();
    opc::Package& p = package();
    pugi::xml_node list = oxml::path(root(slidePart), {"cSld", "custDataLst"});
    pugi::xml_node entry;
    for (pugi::xml_node c = list.first_child(); c && !entry; c = c.next_sibling()) {
        if (isEntry(c, relationshipId)) {
            entry = c;
        }
    }
    if (!entry) {
        fail("the customer data " + relationshipId + " is no longer listed on " + slidePart);
    }
    const std::optional<std::string> item = target(slidePart, relationshipId);
    list.remove_child(entry);
    bool stillListed = false;
    for (pugi::xml_node c = list.first_child(); c; c = c.next_sibling()) {
        stillListed = stillListed || isEntry(c, relationshipId);
    }
    if (!hasElementChild(list)) {
        list.parent().remove_child(list);
    }
    touch(slidePart);
    if (stillListed) {
        return;
    }
    p.removeRelationship(slidePart, relationshipId);
    info(slidePart).linksLoaded = false;
    if (!item || anyRelationshipTo(*item)) {
        return;
    }
    for (const opc::Relationship& r : p.relationships(*item)) {
        if (!r.external && std::string_view(r.type).ends_with("/customXmlProps")) {
            const std::string properties = opc::Package::resolveTarget(*item, r.target);
            p.removePart(properties);
            parts_.erase(properties);
        }
    }
    p.removePart(opc::rels::partFor(*item));
    p.removePart(*item);
    parts_.erase(*item);
}

} // namespace lf::ppt
