#include "office/presentation/deck.h"

#include "office/presentation/presentation.h"
#include "platform/services.h"

#include <algorithm>
#include <cstdlib>

namespace lf::ppt {

using oxml::child;
using oxml::localName;

std::string relationshipType(const std::string& typeName) {
    return "http://schemas.openxmlformats.org/officeDocument/2006/relationships/" + typeName;
}

namespace {

// The last segment of a relationship type URI: transitional and strict decks name the same kinds.
std::string_view typeName(const std::string& type) {
    auto slash = type.rfind('/');
    return slash == std::string::npos ? std::string_view(type) : std::string_view(type).substr(slash + 1);
}

bool isPresentationContentType(const std::string& contentType) {
    return contentType.find("presentationml.presentation.main+xml") != std::string::npos ||
           contentType.find("presentationml.slideshow.main+xml") != std::string::npos ||
           contentType.find("presentationml.template.main+xml") != std::string::npos ||
           contentType.find("ms-powerpoint.presentation.macroEnabled.main+xml") != std::string::npos ||
           contentType.find("ms-powerpoint.slideshow.macroEnabled.main+xml") != std::string::npos ||
           contentType.find("ms-powerpoint.template.macroEnabled.main+xml") != std::string::npos;
}

// The master-side placeholder type a slide or layout placeholder inherits from.
std::string masterType(const std::string& type) {
    if (type == "ctrTitle" || type == "title") {
        return "title";
    }
    if (type == "dt" || type == "ftr" || type == "sldNum" || type == "hdr" || type == "sldImg") {
        return type;
    }
    return "body";
}

bool sameTitleKind(const std::string& a, const std::string& b) {
    auto titleLike = [](const std::string& t) { return t == "title" || t == "ctrTitle"; };
    return a == b || (titleLike(a) && titleLike(b));
}

// Calls f for every top-level shape element of a shape tree (AlternateContent by its choice).
template <class F> void forEachShape(pugi::xml_node tree, F&& f) {
    for (pugi::xml_node c = tree.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element) {
            continue;
        }
        if (localName(c) == "AlternateContent") {
            if (pugi::xml_node s = oxml::alternateChoice(c)) {
                if (f(s)) {
                    return;
                }
            }
        } else if (oxml::isShapeElement(c)) {
            if (f(c)) {
                return;
            }
        }
    }
}

enum class Match { IdxThenType, Type, MasterType };

pugi::xml_node findPlaceholder(pugi::xml_node partRoot, const oxml::Placeholder& want, Match match) {
    pugi::xml_node tree = oxml::shapeTree(partRoot);
    pugi::xml_node found;
    if (match == Match::IdxThenType && want.hasIdx && want.idx != 0) {
        forEachShape(tree, [&](pugi::xml_node s) {
            auto ph = oxml::placeholder(s);
            if (ph && ph->idx == want.idx) {
                found = s;
            }
            return bool(found);
        });
        if (found) {
            return found;
        }
    }
    if (match == Match::MasterType) {
        std::string t = masterType(want.type);
        forEachShape(tree, [&](pugi::xml_node s) {
            auto ph = oxml::placeholder(s);
            if (ph && masterType(ph->type) == t) {
                found = s;
            }
            return bool(found);
        });
        return found;
    }
    forEachShape(tree, [&](pugi::xml_node s) {
        auto ph = oxml::placeholder(s);
        if (ph && sameTitleKind(ph->type, want.type)) {
            found = s;
        }
        return bool(found);
    });
    if (!found && match == Match::Type && want.hasIdx) {
        // A notes page placeholder whose type the notes master lacks: try its index.
        forEachShape(tree, [&](pugi::xml_node s) {
            auto ph = oxml::placeholder(s);
            if (ph && ph->hasIdx && ph->idx == want.idx) {
                found = s;
            }
            return bool(found);
        });
    }
    return found;
}

} // namespace

std::shared_ptr<Deck> Deck::open(const std::filesystem::path& file, bool readOnly,
                                 std::shared_ptr<opc::FileLock> lock) {
    std::shared_ptr<Deck> deck(new Deck());
    deck->path_ = file;
    deck->readOnly_ = readOnly;
    std::error_code ec;
    // The deck lock: a deck opened for changing is held from here until it is closed, so that two
    // programs changing one deck take turns and neither saves over the other's change. (What is no
    // file is refused by the package, with its own reason.)
    if (!readOnly && !lock && std::filesystem::is_regular_file(file, ec)) {
        const opc::LockWait wait{kDeckLockWaitMs, kDeckLockStepMs, [](int ms) { platform::sleepFor(ms); }};
        try {
            lock = std::make_shared<opc::FileLock>(opc::FileLock::acquire(file, wait));
        } catch (const opc::FileBusyError&) {
            deck->fail(kDeckBusy);
        }
    }
    deck->package_ = opc::Package::open(file, {}, opc::Access::Read, readOnly ? nullptr : std::move(lock));

    std::optional<std::string> main = deck->related("/", "officeDocument");
    if (!main) {
        deck->fail("not a presentation (the package names no main part)");
    }
    if (!deck->package_->hasPart(*main)) {
        deck->fail("the main part " + *main + " is missing");
    }
    std::string contentType = deck->package_->contentType(*main);
    if (!isPresentationContentType(contentType)) {
        deck->fail("not a presentation (its main part " + *main + " is of type \"" + contentType + "\")");
    }
    deck->presentationPart_ = *main;
    pugi::xml_node presentation = deck->root(*main);
    if (localName(presentation) != "presentation") {
        deck->fail("the main part " + *main + " holds no presentation");
    }
    if (pugi::xml_attribute first = oxml::attribute(presentation, "firstSlideNum")) {
        // Kept within a range where numbering slides after it cannot overflow.
        long n = std::strtol(first.value(), nullptr, 10);
        deck->firstSlideNumber_ = static_cast<int>(std::clamp<long>(n, 0, 1L << 30));
    }
    for (pugi::xml_node id = child(child(presentation, "sldIdLst"), "sldId"); id; id = id.next_sibling()) {
        if (id.type() != pugi::node_element || localName(id) != "sldId") {
            continue;
        }
        std::string rid = oxml::attribute(id, "id").value();
        // sldId carries both id and r:id; the relationship id is the prefixed one.
        for (pugi::xml_attribute a = id.first_attribute(); a; a = a.next_attribute()) {
            std::string_view n(a.name());
            if (n != "id" && localName(n) == "id") {
                rid = a.value();
            }
        }
        std::optional<std::string> part = deck->target(*main, rid);
        if (!part) {
            deck->fail("the slide list entry " + rid + " of " + *main + " points nowhere");
        }
        deck->checkSlide(*part);
        deck->slides_.push_back({*part});
    }
    return deck;
}

void Deck::checkRelated(const std::string& part, const std::string& name, const char* what) {
    for (const Link& r : relationships(part)) {
        if (!r.external && r.typeName == name && !package_->hasPart(r.part)) {
            fail(std::string("the ") + what + " " + r.part + " of " + part + " is missing");
        }
    }
}

void Deck::checkSlide(const std::string& slidePart) {
    if (!package_->hasPart(slidePart)) {
        fail("the slide " + slidePart + " is missing");
    }
    pugi::xml_node slide = root(slidePart);
    if (localName(slide) != "sld") {
        fail("the part " + slidePart + " is not a slide");
    }
    checkRelated(slidePart, "slideLayout", "layout");
    if (auto layout = related(slidePart, "slideLayout")) {
        checkRelated(*layout, "slideMaster", "master");
    }
    checkRelated(slidePart, "notesSlide", "notes page");
    for (pugi::xml_node d = child(oxml::path(slide, {"cSld", "custDataLst"}), "custData"); d;
         d = d.next_sibling()) {
        if (d.type() != pugi::node_element || localName(d) != "custData") {
            continue;
        }
        std::string rid = oxml::attribute(d, "id").value();
        std::optional<std::string> part = target(slidePart, rid);
        if (!part || !package_->hasPart(*part)) {
            fail("the customer data " + rid + " of " + slidePart + " points nowhere");
        }
    }
}

opc::Package& Deck::package() {
    if (!package_) {
        throw PresentationError(path_.string() + ": the presentation is closed");
    }
    return *package_;
}

Deck::PartInfo& Deck::info(const std::string& part) {
    package();
    return parts_[part];
}

pugi::xml_node Deck::root(const std::string& part) {
    PartInfo& i = info(part);
    if (!i.rootLoaded) {
        i.root = package_->xmlPart(part).document_element();
        i.rootLoaded = true;
    }
    return i.root;
}

Deck::PartKind Deck::kind(const std::string& part) {
    PartInfo& i = info(part);
    if (!i.kindLoaded) {
        i.kind = kindOf(root(part));
        i.kindLoaded = true;
    }
    return i.kind;
}

const pugi::xpath_query& Deck::query(const std::string& xpath) {
    auto it = queries_.find(xpath);
    if (it == queries_.end()) {
        it = queries_.emplace(xpath, std::make_unique<pugi::xpath_query>(xpath.c_str())).first;
    }
    return *it->second;
}

Deck::PartKind Deck::kindOf(pugi::xml_node partRoot) {
    std::string_view l = localName(partRoot);
    if (l == "sld") {
        return PartKind::Slide;
    }
    if (l == "sldLayout") {
        return PartKind::Layout;
    }
    if (l == "sldMaster") {
        return PartKind::Master;
    }
    if (l == "notes") {
        return PartKind::Notes;
    }
    if (l == "notesMaster") {
        return PartKind::NotesMaster;
    }
    return PartKind::Other;
}

void Deck::touch(const std::string& part) {
    package().markChanged(part);
}

const std::vector<Deck::Link>& Deck::relationships(const std::string& part) {
    PartInfo& i = info(part);
    if (!i.linksLoaded) {
        i.links.clear();
        i.linkById.clear();
        for (const opc::Relationship& r : package_->relationships(part)) {
            Link link{r.id, std::string(typeName(r.type)), {}, r.external};
            if (!r.external) {
                link.part = opc::Package::resolveTarget(part, r.target);
            }
            i.linkById.try_emplace(link.id, i.links.size());
            i.links.push_back(std::move(link));
        }
        i.linksLoaded = true;
    }
    return i.links;
}

std::optional<std::string> Deck::related(const std::string& part, const std::string& name) {
    for (const Link& r : relationships(part)) {
        if (!r.external && r.typeName == name) {
            return r.part;
        }
    }
    return std::nullopt;
}

std::optional<std::string> Deck::target(const std::string& part, const std::string& relationshipId) {
    const std::vector<Link>& links = relationships(part);
    const auto& byId = info(part).linkById;
    const auto found = byId.find(relationshipId);
    if (found == byId.end() || links[found->second].external) {
        return std::nullopt;
    }
    return links[found->second].part;
}

std::string Deck::addRelationship(const std::string& part, const std::string& name, const std::string& to) {
    std::string id =
        package().addRelationship(part, relationshipType(name), opc::Package::relativeTarget(part, to));
    // Links already read take the new one too, rather than all being read again for each addition.
    PartInfo& i = info(part);
    if (i.linksLoaded) {
        i.linkById.try_emplace(id, i.links.size());
        i.links.push_back({id, name, to, false});
    }
    return id;
}

std::string Deck::masterOf(const std::string& part) {
    switch (kind(part)) {
    case PartKind::Slide:
        if (auto layout = related(part, "slideLayout")) {
            return related(*layout, "slideMaster").value_or("");
        }
        return {};
    case PartKind::Layout:
        return related(part, "slideMaster").value_or("");
    case PartKind::Master:
    case PartKind::NotesMaster:
        return part;
    case PartKind::Notes:
        return related(part, "notesMaster").value_or("");
    default:
        return {};
    }
}

template <class Find>
const std::vector<pugi::xml_node>& Deck::cached(ChainCache& cache, pugi::xml_node shape, Find&& find) {
    auto it = cache.find(shape.internal_object());
    if (it == cache.end()) {
        it = cache.emplace(shape.internal_object(), find()).first;
    }
    return it->second;
}

const std::vector<pugi::xml_node>& Deck::inheritedPlaceholders(const std::string& part,
                                                               pugi::xml_node shape) {
    return cached(inherited_, shape, [&] { return findInherited(part, shape); });
}

std::vector<pugi::xml_node> Deck::findInherited(const std::string& part, pugi::xml_node shape) {
    std::vector<pugi::xml_node> chain;
    std::optional<oxml::Placeholder> ph = oxml::placeholder(shape);
    if (!ph) {
        return chain;
    }
    auto existing = [&](const std::optional<std::string>& p) { return p && package().hasPart(*p); };
    switch (kind(part)) {
    case PartKind::Slide: {
        std::optional<std::string> layout = related(part, "slideLayout");
        if (!existing(layout)) {
            break;
        }
        pugi::xml_node fromLayout = findPlaceholder(root(*layout), *ph, Match::IdxThenType);
        if (fromLayout) {
            chain.push_back(fromLayout);
        }
        std::optional<std::string> master = related(*layout, "slideMaster");
        if (existing(master)) {
            std::optional<oxml::Placeholder> layoutPh = fromLayout ? oxml::placeholder(fromLayout) : ph;
            if (pugi::xml_node m = findPlaceholder(root(*master), *layoutPh, Match::MasterType)) {
                chain.push_back(m);
            }
        }
        break;
    }
    case PartKind::Layout: {
        std::optional<std::string> master = related(part, "slideMaster");
        if (existing(master)) {
            if (pugi::xml_node m = findPlaceholder(root(*master), *ph, Match::MasterType)) {
                chain.push_back(m);
            }
        }
        break;
    }
    case PartKind::Notes: {
        std::optional<std::string> master = related(part, "notesMaster");
        if (existing(master)) {
            if (pugi::xml_node m = findPlaceholder(root(*master), *ph, Match::Type)) {
                chain.push_back(m);
            }
        }
        break;
    }
    default:
        break;
    }
    return chain;
}

oxml::Transform Deck::effectiveTransform(const std::string& part, pugi::xml_node shape) {
    if (auto own = oxml::transform(shape)) {
        return *own;
    }
    for (pugi::xml_node inherited : inheritedPlaceholders(part, shape)) {
        if (auto t = oxml::transform(inherited)) {
            return *t;
        }
    }
    return {};
}

const std::vector<pugi::xml_node>& Deck::listStyleChain(const std::string& part, pugi::xml_node shape) {
    return cached(listStyles_, shape, [&] { return findListStyles(part, shape); });
}

std::vector<pugi::xml_node> Deck::findListStyles(const std::string& part, pugi::xml_node shape) {
    std::vector<pugi::xml_node> chain;
    auto add = [&](pugi::xml_node n) {
        if (n) {
            chain.push_back(n);
        }
    };
    add(child(oxml::textBody(shape), "lstStyle"));
    std::optional<oxml::Placeholder> ph = oxml::placeholder(shape);
    if (ph) {
        for (pugi::xml_node inherited : inheritedPlaceholders(part, shape)) {
            add(child(oxml::textBody(inherited), "lstStyle"));
        }
        std::string master = masterOf(part);
        if (!master.empty() && package().hasPart(master)) {
            pugi::xml_node m = root(master);
            if (localName(m) == "notesMaster") {
                add(child(m, "notesStyle"));
            } else {
                std::string t = masterType(ph->type);
                pugi::xml_node styles = child(m, "txStyles");
                add(child(styles, t == "title" ? "titleStyle" : t == "body" ? "bodyStyle" : "otherStyle"));
            }
        }
    }
    add(child(root(presentationPart_), "defaultTextStyle"));
    return chain;
}

void Deck::fail(const std::string& what) const {
    throw PresentationError(path_.string() + ": " + what);
}

void Deck::requireWritable() const {
    if (readOnly_) {
        fail("the presentation was opened read-only");
    }
}

void Deck::save() {
    requireWritable();
    package().save();
}

void Deck::close() {
    parts_.clear();
    inherited_.clear();
    listStyles_.clear();
    queries_.clear();
    package_.reset();
}

} // namespace lf::ppt
