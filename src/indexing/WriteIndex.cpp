#include "indexing/WriteIndex.h"

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

QString IndexLine(const EntryTable& table, int entry) {
    const IndexEntry& item = table.IndexEntries.at(static_cast<std::size_t>(entry - 1));
    QString line = item.Word + QStringLiteral(", ");
    for (const QString& reference : ReferencesOf(table, item))
        line += reference + QStringLiteral(", ");
    line.chop(2);
    return line;
}

void WriteIndex(EntryTable& table, IndexCollation& collation, const QString& templatePath,
                bool templateInRepository, const QString& indexFileName, const QString& destinationPath,
                const QString& courseName, const QString& workingPath, courserun::CourseRun& course) {
    try {
        SortIndexEntries(table, collation);
        DocumentRun run;
        run.document = OpenTemplateDocument(course, templatePath, templateInRepository, workingPath);
        word::Document& document = *run.document;
        ClearDocument(document);
        ReplaceCourseName(document, courseName);

        const QString plainText = QStringLiteral("Plain Text");
        const QString courier = QStringLiteral("Courier New");
        QString currentLetter;
        for (int i = 1; i <= table.EntryCount(); ++i) {
            QString line = IndexLine(table, i);
            WrapReferenceList(line);
            // Read from the line, so that an entry without a word is headed by its comma.
            const QString letter = collation.heading(line);
            if (letter != currentLetter) {
                currentLetter = letter;
                AppendParagraph(document, QString(), QString(), QString(), 0, false, false, 0);
                AppendParagraph(document, letter, plainText, courier, 10, false, true, 0);
                AppendParagraph(document, QString(), QString(), QString(), 0, false, false, 0);
            }
            AppendParagraph(document, line, plainText, courier, 10, false, false, 0);
        }
        StoreDocument(course, document, indexFileName, destinationPath, workingPath,
                      {QStringLiteral("Index"), QStringLiteral("Index Exists"),
                       QStringLiteral("Index document exists.  OK to overwrite?"),
                       QStringLiteral("Created index document in "),
                       QStringLiteral("The index file appears to exist in the repository at"), true});
    } catch (const std::exception& failure) {
        oplog::LogFailure(QStringLiteral("WriteIndex"),
                          QStringLiteral("Serious error ") +
                              platform::withLocalPaths(QString::fromStdString(failure.what())));
    }
}

} // namespace lf::indexing
