#include "indexing/WordStuff.h"

#include "indexing/operation_support.h"
#include "office/document/compose.h"
#include "platform/oplog.h"
#include "platform/paths.h"

#include <memory>

namespace lf::indexing {

namespace {

std::unique_ptr<word::Application>& writerInstance() {
    static std::unique_ptr<word::Application> instance;
    return instance;
}

std::string toUtf8(const QString& text) {
    return text.toStdString();
}

} // namespace

word::Application& documentWriter() {
    auto& instance = writerInstance();
    if (!instance)
        instance = std::make_unique<word::Application>();
    return *instance;
}

bool documentWriterStarted() {
    return bool(writerInstance());
}

void quitDocumentWriter() {
    auto& instance = writerInstance();
    if (!instance)
        return;
    instance->quit();
    instance.reset();
}

std::optional<word::Document> OpenWordTemplate(const QString& templatePath) {
    oplog::LogOperation(QStringLiteral("OpenDoc"), QStringLiteral("Opening template ") + templatePath, false);
    word::Application& word = documentWriter();
    std::optional<word::Document> document;
    const platform::HostPath host = platform::toHostPath(templatePath);
    if (host.ok() && !templatePath.isEmpty())
        document = word.documents().add(platform::hostFsPath(host.path));
    if (!document)
        oplog::LogOperation(QStringLiteral("OpenTOC"),
                            QStringLiteral("There was a problem opening template") + templatePath, false);
    return document;
}

void ClearDocument(word::Document& document) {
    document.range().deleteContent();
}

word::Range AppendParagraph(word::Document& document, const QString& text, const QString& styleName,
                            const QString& fontName, std::int16_t fontSize, bool italic, bool bold,
                            std::int32_t alignment) {
    return word::appendParagraph(
        document, {toUtf8(text), toUtf8(styleName), toUtf8(fontName), fontSize, italic, bold, alignment});
}

void ReplaceCourseName(word::Document& document, const QString& courseName) {
    word::FindOptions options;
    options.matchCase = true;
    options.matchWholeWord = true;
    options.forward = true;
    options.replaceWith = toUtf8(courseName);
    options.replace = word::office::wdReplaceAll;
    document.sections()
        .item(1)
        .headers()
        .item(word::office::wdHeaderFooterPrimary)
        .range()
        .find()
        .execute("Course Name", options);
}

} // namespace lf::indexing
