#include "deck_tool.h"

#include "office/opc/utf8.h"
#include "printready/modRandG.h"

#include <cmath>
#include <cstdio>
#include <ostream>
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
    try {
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
    } catch (const std::exception& e) {
        err << e.what() << "\n";
        return 1;
    }
}

int grayNotes(const std::filesystem::path& file, std::ostream& out, std::ostream& err) {
    try {
        Application app;
        Presentation deck = app.presentations().open(file);
        int created = applyGrayNotes(deck);
        int slides = deck.slides().count();
        deck.save();
        deck.close();
        out << "{\"file\": " << jsonString(file.filename().string()) << ", \"slides\": " << slides
            << ", \"notesPagesCreated\": " << created << "}\n";
        return 0;
    } catch (const std::exception& e) {
        err << e.what() << "\n";
        return 1;
    }
}

namespace {

const char* const kUsage = "usage: lessonforge-deck show FILE.pptx\n"
                           "       lessonforge-deck gray-notes FILE.pptx\n"
                           "       lessonforge-deck --help\n";

} // namespace

int run(int argc, char** argv, std::ostream& out, std::ostream& err) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        out << kUsage;
        return 0;
    }
    if (argc == 3) {
        std::string command = argv[1];
        if (command == "show") {
            return show(argv[2], out, err);
        }
        if (command == "gray-notes") {
            return grayNotes(argv[2], out, err);
        }
    }
    err << kUsage;
    return 2;
}

} // namespace lf::decktool
