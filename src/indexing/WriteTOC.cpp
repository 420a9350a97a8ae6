#include "indexing/WriteTOC.h"

#include "indexing/WordStuff.h"
#include "indexing/document_storage.h"
#include "indexing/modTagwise.h"
#include "indexing/operation_support.h"
#include "platform/dialogs.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"

#include <exception>
#include <optional>

namespace lf::indexing {

namespace {

// Trim as the TOC line has it: blanks only, tabs stay.
QString trimBlanks(const QString& text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

QString TOCLine(const EntryTable& table, int entry) {
    const IndexEntry& item = table.IndexEntries.at(static_cast<std::size_t>(entry - 1));
    QString line = item.Word;
    for (const QString& reference : ReferencesOf(table, item))
        line = trimBlanks(line + QLatin1Char('\t') + reference);
    return line;
}

void WriteTOC(const EntryTable& table, const QString& templatePath, bool templateInRepository,
              const QString& tocFileName, const QString& destinationPath, const QString& courseName,
              const QString& workingPath, courserun::CourseRun& course) {
    try {
        DocumentRun run;
        run.document = OpenTemplateDocument(course, templatePath, templateInRepository, workingPath);
        word::Document& document = *run.document;
        ClearDocument(document);
        ReplaceCourseName(document, courseName);

        AppendParagraph(document, QStringLiteral("Table of Contents"), QStringLiteral("TOC 3"),
                        QStringLiteral("Helvetica"), 28, false, false, 1);
        AppendParagraph(document, QString(), QString(), QString(), 0, false, false, 0);
        for (int i = 1; i <= table.EntryCount(); ++i) {
            const QString line = TOCLine(table, i);
            if (!ReferencesOf(table, table.IndexEntries[static_cast<std::size_t>(i - 1)]).empty()) {
                AppendParagraph(document, line, QStringLiteral("TOC 2"), QStringLiteral("Helvetica"), 0,
                                false, false, 0);
            } else {
                AppendParagraph(document, QString(), QString(), QString(), 0, false, false, 0);
                AppendParagraph(document, line, QStringLiteral("TOC 2"), QStringLiteral("Helvetica"), 14,
                                true, false, 0);
                AppendParagraph(document, QString(), QString(), QString(), 0, false, false, 0);
            }
        }
        StoreDocument(course, document, tocFileName, destinationPath, workingPath,
                      {QStringLiteral("TOC"), QStringLiteral("TOC Exists"),
                       QStringLiteral("TOC document exists.  OK to overwrite?"),
                       QStringLiteral("Created TOC document in "),
                       QStringLiteral("The TOC doc appears to exist in the repository at"), false});
    } catch (const std::exception& failure) {
        oplog::LogFailure(QStringLiteral("WriteTOC"),
                          QStringLiteral("Serious error:") +
                              platform::withLocalPaths(QString::fromStdString(failure.what())));
    }
}

} // namespace lf::indexing
