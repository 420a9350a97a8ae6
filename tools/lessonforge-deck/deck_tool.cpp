#include "deck_tool.h"

#include "indexing/modTagwise.h"
#include "office/opc/utf8.h"
#include "printready/modRandG.h"

#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>

namespace lf::decktool {

using namespace lf::ppt;

namespace {

// A JSON string of the text. A part may claim UTF-8 and hold other bytes (Latin-1 written by an old
// producer): each byte that is not UTF-8 becomes U+FFFD, so the output is always valid UTF-8 JSON and
// the rest of the deck still shows, as the office application shows such text.
std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : lf::opc::sanitiseUtf8(text)) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string jsonNumber(double v) {
    if (!std::isfinite(v)) {
        return "null";
    }
    std::ostringstream s;
    s.precision(12);
    s << v;
    return s.str();
}

std::string geometry(const Shape& shape) {
    return "\"top\": " + jsonNumber(shape.top()) + ", \"left\": " + jsonNumber(shape.left()) +
           ", \"width\": " + jsonNumber(shape.width()) + ", \"height\": " + jsonNumber(shape.height());
}

// Runs one command: a failure is its description on err and exit status 1.
template <class Command> int reportingFailure(std::ostream& err, Command&& command) {
    try {
        return command();
    } catch (const std::exception& e) {
        err << e.what() << "\n";
        return 1;
    }
}

} // namespace

int applyGrayNotes(Presentation& deck) {
    int created = 0;
    for (const Slide& slide : deck.slides()) {
        created += slide.hasNotesPage() ? 0 : 1;
    }
    // The grayscale-and-resize operation's own change, so the tool checks what the wizard does.
    lf::printready::GrayscaleAndResize(deck);
    return created;
}

int show(const std::filesystem::path& file, std::ostream& out, std::ostream& err) {
    return reportingFailure(err, [&] {
        Application app;
        Presentation deck = app.presentations().open(file, true);
        std::string json = "{\"file\": " + jsonString(deck.name()) + ", \"slides\": [";
        bool firstSlide = true;
        for (const Slide& slide : deck.slides()) {
            json += firstSlide ? "\n  " : ",\n  ";
            firstSlide = false;
            json += "{\"slideNumber\": " + std::to_string(slide.slideNumber()) + ", \"shapes\": [";
            bool firstShape = true;
            for (const Shape& shape : slide.shapes()) {
                json += firstShape ? "\n    " : ",\n    ";
                firstShape = false;
                json += "{\"name\": " + jsonString(shape.name()) +
                        ", \"type\": " + std::to_string(shape.type()) + ", " + geometry(shape) +
                        ", \"hasTextFrame\": " + (shape.hasTextFrame() ? "true" : "false");
                if (shape.hasTextFrame()) {
                    TextRange range = shape.textFrame().textRange();
                    json += ", \"text\": " + jsonString(range.text()) + ", \"sentences\": [";
                    bool firstSentence = true;
                    for (const TextRange& sentence : range.sentences()) {
                        json += firstSentence ? "" : ", ";
                        firstSentence = false;
                        json += "{\"text\": " + jsonString(sentence.text()) +
                                ", \"bold\": " + std::to_string(sentence.font().bold()) + "}";
                    }
                    json += "]";
                }
                json += "}";
            }
            json += "], \"indexwords\": [";
            bool firstWord = true;
            for (const CustomXMLPart& part : slide.customerData()) {
                json += firstWord ? "" : ", ";
                firstWord = false;
                auto node = part.selectSingleNode("descendant::indexword");
                json += node ? jsonString(node->text()) : "null";
            }
            json += "], \"notes\": {\"exists\": ";
            if (slide.hasNotesPage()) {
                json += "true, \"shapes\": [";
                bool firstNote = true;
                for (const Shape& shape : slide.notesPage().shapes()) {
                    json += firstNote ? "" : ", ";
                    firstNote = false;
                    json += "{\"name\": " + jsonString(shape.name()) + ", " + geometry(shape) + "}";
                }
                json += "]}}";
            } else {
                json += "false, \"shapes\": []}}";
            }
        }
        json += "\n]}\n";
        deck.close();
        out << json;
        return 0;
    });
}

int grayNotes(const std::filesystem::path& file, std::ostream& out, std::ostream& err) {
    return reportingFailure(err, [&] {
        Application app;
        Presentation deck = app.presentations().open(file);
        int created = applyGrayNotes(deck);
        int slides = deck.slides().count();
        deck.save();
        deck.close();
        out << "{\"file\": " << jsonString(file.filename().string()) << ", \"slides\": " << slides
            << ", \"notesPagesCreated\": " << created << "}\n";
        return 0;
    });
}

// ---- Tagged words

namespace {

// A word as the Index merges words: cleaned, then without regard to case.
QString wordKey(const QString& word) {
    return lf::indexing::CleanSlideText(word).toCaseFolded();
}

std::string quoted(const std::string& word) {
    return "\"" + word + "\"";
}

// The custom XML part of one tagged word, as the office add-in writes it.
std::string tagXml(const std::string& word) {
    pugi::xml_document doc;
    doc.append_child("tagwise").append_child("entry").append_child("indexword").text().set(word.c_str());
    std::ostringstream xml;
    doc.save(xml, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)" + xml.str();
}

// A whole decimal number, or nullopt.
std::optional<int> slideNumberOf(std::string_view text) {
    int n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return n;
}

// The slide of that number, or the reason there is none ("slide 61 does not exist: 03_Backup.pptx
// has slides 1 to 60").
std::optional<Slide> slideByNumber(const Presentation& deck, int number, std::string& problem) {
    const Slides slides = deck.slides();
    for (const Slide& slide : slides) {
        if (slide.slideNumber() == number) {
            return slide;
        }
    }
    problem = "slide " + std::to_string(number) + " does not exist: " + deck.name();
    if (slides.count() == 0) {
        problem += " has no slides";
    } else {
        problem += " has slides " + std::to_string(slides.item(1).slideNumber()) + " to " +
                   std::to_string(slides.item(slides.count()).slideNumber());
    }
    return std::nullopt;
}

std::string located(const TagRequest& request, const std::string& what) {
    return request.where.empty() ? what : request.where + ": " + what;
}

// What a changing command does to one deck: the requests checked, then applied, then one save.
class TagChange {
public:
    explicit TagChange(const std::filesystem::path& file) : deck_(app_.presentations().open(file)) {}

    // The slide of the request; nullopt with the problem recorded.
    std::optional<Slide> slideOf(const TagRequest& request) {
        std::string problem;
        std::optional<Slide> slide = slideByNumber(deck_, request.slide, problem);
        if (!slide) {
            fail(request, problem);
        }
        return slide;
    }
    void fail(const TagRequest& request, const std::string& what) {
        problems_.push_back(located(request, what));
    }
    // Reports every problem found; true when there was none.
    bool checked(std::ostream& err) const {
        for (const std::string& problem : problems_) {
            err << problem << "\n";
        }
        if (!problems_.empty()) {
            err << deck_.name() << ": nothing was changed\n";
        }
        return problems_.empty();
    }
    void save(bool changed, const std::string& summary, std::ostream& out) {
        if (changed) {
            deck_.save();
        }
        out << deck_.name() << ": " << summary << (changed ? "" : "; the file was left as it was") << "\n";
    }

private:
    Application app_;
    Presentation deck_;
    std::vector<std::string> problems_;
};

std::string count(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

int tags(const std::filesystem::path& file, bool json, std::ostream& out, std::ostream& err) {
    return reportingFailure(err, [&] {
        Application app;
        Presentation deck = app.presentations().open(file, true);
        std::string text = json ? "{\"file\": " + jsonString(deck.name()) + ", \"tags\": [" : "";
        bool first = true;
        for (const Slide& slide : deck.slides()) {
            for (const lf::indexing::TaggedWord& tagged : lf::indexing::TaggedWordsOf(slide)) {
                const std::string word = tagged.text.toStdString();
                const std::string number = std::to_string(slide.slideNumber());
                if (json) {
                    text += (first ? "\n  " : ",\n  ") + std::string("{\"slide\": ") + number +
                            ", \"word\": " + jsonString(word) + "}";
                } else {
                    // One tag a line: a line break or tab inside a stored word shows as a blank.
                    std::string shown = lf::opc::sanitiseUtf8(word);
                    std::replace_if(
                        shown.begin(), shown.end(),
                        [](char c) { return c == '\t' || c == '\n' || c == '\r' || c == '\v'; }, ' ');
                    text += number + "\t" + shown + "\n";
                }
                first = false;
            }
        }
        if (json) {
            text += first ? "]}\n" : "\n]}\n";
        }
        deck.close();
        out << text;
        return 0;
    });
}

int tag(const std::filesystem::path& file, const std::vector<TagRequest>& requests, std::ostream& out,
        std::ostream& err) {
    return reportingFailure(err, [&] {
        TagChange change(file);
        struct Planned {
            Slide slide;
            const TagRequest* request;
        };
        std::vector<Planned> planned;
        for (const TagRequest& request : requests) {
            if (!request.problem.empty()) {
                change.fail(request, request.problem);
                continue;
            }
            std::optional<Slide> slide = change.slideOf(request);
            if (!lf::opc::isValidUtf8(request.word)) {
                change.fail(request, "slide " + std::to_string(request.slide) + ": not tagged: the word " +
                                         quoted(lf::opc::sanitiseUtf8(request.word)) + " is not UTF-8");
                continue;
            }
            const QString problem = lf::indexing::TaggedWordProblem(QString::fromStdString(request.word));
            if (!problem.isEmpty()) {
                change.fail(request, "slide " + std::to_string(request.slide) +
                                         ": not tagged: " + problem.toStdString());
            }
            if (slide && problem.isEmpty()) {
                planned.push_back({*slide, &request});
            }
        }
        if (!change.checked(err)) {
            return 1;
        }
        // The words each slide has, as keys, read before anything is added.
        std::map<std::string, std::set<QString>> tagged;
        std::map<std::string, std::set<QString>> added;
        int addedCount = 0;
        int alreadyCount = 0;
        for (Planned& p : planned) {
            const std::string& part = p.slide.partName();
            if (!tagged.count(part)) {
                std::set<QString>& keys = tagged[part];
                for (const lf::indexing::TaggedWord& word : lf::indexing::TaggedWordsOf(p.slide)) {
                    keys.insert(wordKey(word.text));
                }
            }
            const QString key = wordKey(QString::fromStdString(p.request->word));
            const std::string slide = "slide " + std::to_string(p.request->slide);
            if (added[part].count(key)) {
                continue; // given twice: tagged once
            }
            if (tagged[part].count(key)) {
                out << slide << ": " << quoted(p.request->word) << " is already tagged\n";
                ++alreadyCount;
                continue;
            }
            p.slide.addCustomerData(tagXml(p.request->word));
            added[part].insert(key);
            out << slide << ": tagged " << quoted(p.request->word) << "\n";
            ++addedCount;
        }
        change.save(addedCount > 0,
                    count(addedCount, "word tagged", "words tagged") +
                        (alreadyCount > 0 ? ", " + std::to_string(alreadyCount) + " already there" : ""),
                    out);
        return 0;
    });
}

int untag(const std::filesystem::path& file, const std::vector<TagRequest>& requests, std::ostream& out,
          std::ostream& err) {
    return reportingFailure(err, [&] {
        TagChange change(file);
        struct Planned {
            const TagRequest* request;
            std::vector<CustomXMLPart> parts;
        };
        std::vector<Planned> planned;
        std::map<std::string, std::set<QString>> asked;
        for (const TagRequest& request : requests) {
            std::optional<Slide> slide = change.slideOf(request);
            if (!slide) {
                continue;
            }
            const QString key = wordKey(QString::fromStdString(request.word));
            if (!asked[slide->partName()].insert(key).second) {
                continue; // given twice
            }
            Planned p{&request, {}};
            QStringList there;
            for (const lf::indexing::TaggedWord& word : lf::indexing::TaggedWordsOf(*slide)) {
                there << word.text;
                if (wordKey(word.text) == key) {
                    p.parts.push_back(word.part);
                }
            }
            if (p.parts.empty()) {
                change.fail(request,
                            "slide " + std::to_string(request.slide) + " has no tagged word " +
                                quoted(request.word) +
                                (there.isEmpty() ? " (it has no tagged words)"
                                                 : " (it has " + there.join(", ").toStdString() + ")"));
                continue;
            }
            planned.push_back(std::move(p));
        }
        if (!change.checked(err)) {
            return 1;
        }
        int removed = 0;
        for (Planned& p : planned) {
            for (CustomXMLPart& part : p.parts) {
                part.remove();
                ++removed;
            }
            out << "slide " << p.request->slide << ": removed " << quoted(p.request->word)
                << (p.parts.size() > 1 ? " (tagged " + std::to_string(p.parts.size()) + " times)" : "")
                << "\n";
        }
        change.save(removed > 0, count(removed, "tag removed", "tags removed"), out);
        return 0;
    });
}

int tagFrom(const std::filesystem::path& file, const std::filesystem::path& list, std::ostream& out,
            std::ostream& err) {
    std::ifstream in(list, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad()) {
        err << list.string() << ": the list cannot be read\n";
        return 1;
    }
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.erase(0, 3);
    }
    std::vector<TagRequest> requests;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (line.ends_with('\r')) {
            line.pop_back();
        }
        const std::string where = list.filename().string() + " line " + std::to_string(number);
        if (line.find_first_not_of(" \t") == std::string::npos || line.starts_with('#')) {
            continue;
        }
        const auto tab = line.find('\t');
        const std::string slideText = line.substr(0, tab);
        const std::optional<int> slide = slideNumberOf(slideText);
        if (tab == std::string::npos) {
            requests.push_back({0, {}, where, "not a SLIDE<TAB>WORD line"});
        } else if (!slide) {
            requests.push_back(
                {0, {}, where, quoted(lf::opc::sanitiseUtf8(slideText)) + " is not a slide number"});
        } else {
            requests.push_back({*slide, line.substr(tab + 1), where, {}});
        }
    }
    return tag(file, requests, out, err);
}

namespace {

const char* const kUsage = "usage: lessonforge-deck show FILE.pptx\n"
                           "       lessonforge-deck gray-notes FILE.pptx\n"
                           "       lessonforge-deck tags FILE.pptx [--json]\n"
                           "       lessonforge-deck tag FILE.pptx SLIDE WORD...\n"
                           "       lessonforge-deck untag FILE.pptx SLIDE WORD...\n"
                           "       lessonforge-deck tag-from FILE.pptx LIST.tsv\n"
                           "       lessonforge-deck --help\n";

} // namespace

int run(int argc, char** argv, std::ostream& out, std::ostream& err) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << kUsage;
        return 0;
    }
    const std::string command = args.empty() ? "" : args[0];
    if (args.size() == 2 && command == "show") {
        return show(args[1], out, err);
    }
    if (args.size() == 2 && command == "gray-notes") {
        return grayNotes(args[1], out, err);
    }
    if (command == "tags" && (args.size() == 2 || (args.size() == 3 && args[2] == "--json"))) {
        return tags(args[1], args.size() == 3, out, err);
    }
    if (args.size() == 3 && command == "tag-from") {
        return tagFrom(args[1], args[2], out, err);
    }
    if (args.size() >= 4 && (command == "tag" || command == "untag")) {
        const std::optional<int> slide = slideNumberOf(args[2]);
        if (!slide) {
            err << "lessonforge-deck: " << quoted(args[2]) << " is not a slide number\n" << kUsage;
            return 2;
        }
        std::vector<TagRequest> requests;
        for (std::size_t i = 3; i < args.size(); ++i) {
            requests.push_back({*slide, args[i], {}, {}});
        }
        return command == "tag" ? tag(args[1], requests, out, err) : untag(args[1], requests, out, err);
    }
    err << kUsage;
    return 2;
}

} // namespace lf::decktool
