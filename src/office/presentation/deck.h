#pragma once
// The state of one open deck behind the object model: its package, its slide list, the relationships
// between its parts, and the one place where placeholder inheritance (positions and text styles) is
// resolved. Internal to the presentation layer; callers use presentation.h.
#include "office/opc/package.h"
#include "office/presentation/oxml.h"
#include "office/printing/print_engine.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace lf::ppt {

class Deck {
public:
    struct SlideEntry {
        std::string part; // "/ppt/slides/slide1.xml"
    };
    // The kind of a part, from its document element.
    enum class PartKind { Slide, Layout, Master, Notes, NotesMaster, Other };

    // Opens and checks the deck: a presentation whose slide list, layouts, masters, notes pages and
    // customer data all point at parts that exist and parse. Throws PresentationError/PackageError.
    // Opened for changing, it holds the deck lock: `lock`, when the application holds it already
    // for another open deck of that file, else one taken here (presentation.h, kDeckLockWaitMs).
    static std::shared_ptr<Deck> open(const std::filesystem::path& file, bool readOnly,
                                      std::shared_ptr<opc::FileLock> lock = nullptr);
    // The deck lock it holds; nullptr when it was opened read-only or is closed.
    std::shared_ptr<opc::FileLock> lock() const { return package_ ? package_->writerLock() : nullptr; }

    const std::filesystem::path& path() const { return path_; }
    std::string name() const { return path_.filename().string(); }
    bool readOnly() const { return readOnly_; }
    bool closed() const { return !package_; }
    // The package; throws when the deck has been closed.
    opc::Package& package();

    // What the next print of the deck takes (the presentation's print options), and the print engine
    // of the application it was opened through (none: the deck cannot print).
    struct PrintSettings {
        bool printInBackground = true;
        std::string activePrinter;
        int outputType = 1;     // slides
        int printColorType = 1; // colour
    };
    PrintSettings printSettings;
    printing::PrintEngine* printEngine = nullptr;

    const std::vector<SlideEntry>& slides() const { return slides_; }
    int firstSlideNumber() const { return firstSlideNumber_; }

    pugi::xml_node root(const std::string& part);
    PartKind kind(const std::string& part);
    // Records that a part was changed, so saving writes it anew.
    void touch(const std::string& part);

    // The internal relationship targets of a part whose type ends in "/" + typeName ("slideLayout").
    std::optional<std::string> related(const std::string& part, const std::string& typeName);
    // The part that the relationship id of a part points at; nullopt when it points nowhere.
    std::optional<std::string> target(const std::string& part, const std::string& relationshipId);

    // Inheritance. The placeholder shapes a placeholder takes its properties from, nearest first
    // (slide: layout then master; layout: master; notes page: notes master).
    const std::vector<pugi::xml_node>& inheritedPlaceholders(const std::string& part, pugi::xml_node shape);
    // The transform in effect: the shape's own, else the nearest inherited one, else zeros.
    oxml::Transform effectiveTransform(const std::string& part, pugi::xml_node shape);
    // The list styles that text of the shape draws on, nearest first: its own, its placeholders',
    // the master's title/body/other or notes style, the presentation's default text style.
    const std::vector<pugi::xml_node>& listStyleChain(const std::string& part, pugi::xml_node shape);

    // The notes page of a slide (index from 0); nullopt when it has none and create is false. With
    // create, a missing notes page is made from the notes master, and a missing notes master is made
    // with its theme.
    std::optional<std::string> notesPage(std::size_t slideIndex, bool create);

    // Customer data (customer_data.cpp). Adds the XML as a new custom XML part listed last in the
    // slide's customer data, with its item properties; returns the part and the slide's relationship
    // id for it.
    struct CustomerDataEntry {
        std::string part;
        std::string relationshipId;
    };
    CustomerDataEntry addCustomerData(const std::string& slidePart, const std::string& xml);
    // Removes the slide's list entry naming the relationship id, the relationship unless another entry
    // names it, and the part with its properties when no relationship of the package points at it.
    void removeCustomerData(const std::string& slidePart, const std::string& relationshipId);

    // A compiled XPath query, kept for the deck's life; throws pugi::xpath_exception when it does not
    // compile.
    const pugi::xpath_query& query(const std::string& xpath);

    // Error naming the deck: "<file>: <what>".
    [[noreturn]] void fail(const std::string& what) const;
    void requireWritable() const;

    void save();
    void close();

private:
    Deck() = default;
    // A relationship with its type's last segment and its target resolved to a part name.
    struct Link {
        std::string id;
        std::string typeName;
        std::string part;
        bool external = false;
    };
    // What the deck remembers of a part once it was used.
    struct PartInfo {
        pugi::xml_node root;
        bool rootLoaded = false;
        std::vector<Link> links;
        std::unordered_map<std::string, std::size_t> linkById; // the first link of each id
        bool linksLoaded = false;
        PartKind kind = PartKind::Other;
        bool kindLoaded = false;
    };
    PartInfo& info(const std::string& part);
    void checkSlide(const std::string& slidePart);
    void checkRelated(const std::string& part, const std::string& typeName, const char* what);
    const std::vector<Link>& relationships(const std::string& part);
    std::string addRelationship(const std::string& part, const std::string& typeName,
                                const std::string& target);
    std::string ensureNotesMaster();
    bool anyRelationshipTo(const std::string& part);
    std::string masterOf(const std::string& part);
    static PartKind kindOf(pugi::xml_node partRoot);
    std::vector<pugi::xml_node> findInherited(const std::string& part, pugi::xml_node shape);
    std::vector<pugi::xml_node> findListStyles(const std::string& part, pugi::xml_node shape);

    std::filesystem::path path_;
    bool readOnly_ = false;
    std::unique_ptr<opc::Package> package_;
    std::string presentationPart_;
    std::vector<SlideEntry> slides_;
    int firstSlideNumber_ = 1;
    std::unordered_map<std::string, PartInfo> parts_;
    // Inheritance and list styles found for a shape, by its element (elements never move).
    using ChainCache = std::unordered_map<const void*, std::vector<pugi::xml_node>>;
    ChainCache inherited_;
    ChainCache listStyles_;
    // The chain cached for the shape, found by `find` the first time.
    template <class Find>
    const std::vector<pugi::xml_node>& cached(ChainCache& cache, pugi::xml_node shape, Find&& find);
    std::unordered_map<std::string, std::unique_ptr<pugi::xpath_query>> queries_;
};

// The relationship type URI of a transitional OOXML relationship name ("notesSlide").
std::string relationshipType(const std::string& typeName);

} // namespace lf::ppt
