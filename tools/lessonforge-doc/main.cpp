// lessonforge-doc build TEMPLATE OUT.docx < paragraphs.json
// Writes a Word document the way the TOC and Index writers do: a new document on the template, its
// main text cleared, the placeholder in the primary header of the first section replaced, one
// paragraph appended per entry, saved as OUT. The JSON on standard input:
//   {"header": {"find": TEXT, "replace": TEXT},
//    "paragraphs": [{"text", "style", "font", "size", "italic", "bold", "align"}]}
// An empty style or font is left untouched, size 0 is left to the style, align below 0 is left as it is.
#include "office/document/compose.h"
#include "office/document/word.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string textField(const QJsonObject& o, const char* key, const std::string& where) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull())
        return {};
    if (!v.isString())
        throw UsageError(where + ": \"" + key + "\" must be a string");
    return v.toString().toStdString();
}

bool flagField(const QJsonObject& o, const char* key, const std::string& where) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull())
        return false;
    if (!v.isBool())
        throw UsageError(where + ": \"" + key + "\" must be true or false");
    return v.toBool();
}

int integerField(const QJsonObject& o, const char* key, const std::string& where, int low, int high,
                 int fallback) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull())
        return fallback;
    const double d = v.toDouble(std::nan(""));
    if (!v.isDouble() || d != std::floor(d) || d < low || d > high)
        throw UsageError(where + ": \"" + key + "\" must be a whole number from " + std::to_string(low) +
                         " to " + std::to_string(high));
    return static_cast<int>(d);
}

int build(const std::string& templateFile, const std::string& outFile) {
    const std::string input{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(input), &parseError);
    if (json.isNull())
        throw UsageError("standard input is not JSON: " + parseError.errorString().toStdString() +
                         " at offset " + std::to_string(parseError.offset));
    if (!json.isObject())
        throw UsageError("standard input must hold a JSON object");
    const QJsonObject root = json.object();
    const QJsonValue header = root.value("header");
    if (!header.isUndefined() && !header.isNull() && !header.isObject())
        throw UsageError("\"header\" must be an object");
    const QJsonValue paragraphs = root.value("paragraphs");
    if (!paragraphs.isUndefined() && !paragraphs.isNull() && !paragraphs.isArray())
        throw UsageError("\"paragraphs\" must be an array");
    std::vector<lf::word::ParagraphSpec> wanted;
    const QJsonArray list = paragraphs.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const std::string where = "paragraph " + std::to_string(i + 1);
        if (!list[i].isObject())
            throw UsageError(where + " must be an object");
        const QJsonObject o = list[i].toObject();
        lf::word::ParagraphSpec paragraph;
        paragraph.text = textField(o, "text", where);
        paragraph.style = textField(o, "style", where);
        paragraph.fontName = textField(o, "font", where);
        paragraph.fontSize = integerField(o, "size", where, -32768, 32767, 0);
        paragraph.italic = flagField(o, "italic", where);
        paragraph.bold = flagField(o, "bold", where);
        paragraph.alignment = integerField(o, "align", where, -2147483647, 2147483647, 0);
        wanted.push_back(std::move(paragraph));
    }
    const std::string find = textField(header.toObject(), "find", "header");
    const std::string replace = textField(header.toObject(), "replace", "header");

    lf::word::Application word;
    std::optional<lf::word::Document> doc = word.documents().add(templateFile);
    if (!doc) {
        std::cerr << "lessonforge-doc: there was a problem opening template " << templateFile << ": "
                  << word.documents().lastError() << "\n";
        return 1;
    }
    doc->range().deleteContent();
    if (!find.empty())
        doc->sections()
            .item(1)
            .headers()
            .item(lf::word::office::wdHeaderFooterPrimary)
            .range()
            .find()
            .execute(find, {.matchCase = true,
                            .matchWholeWord = true,
                            .replaceWith = replace,
                            .replace = lf::word::office::wdReplaceAll});
    for (const lf::word::ParagraphSpec& paragraph : wanted)
        lf::word::appendParagraph(*doc, paragraph);
    doc->saveAs(outFile);
    doc->close();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const char* const usage = "usage: lessonforge-doc build TEMPLATE OUT.docx < paragraphs.json\n"
                              "       lessonforge-doc --help\n";
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::cout << usage;
        return 0;
    }
    if (argc != 4 || std::string(argv[1]) != "build") {
        std::cerr << usage;
        return 2;
    }
    try {
        return build(argv[2], argv[3]);
    } catch (const UsageError& e) {
        std::cerr << "lessonforge-doc: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "lessonforge-doc: " << e.what() << "\n";
        return 1;
    }
}
