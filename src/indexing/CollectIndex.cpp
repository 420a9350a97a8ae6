#include "indexing/CollectIndex.h"

#include "indexing/IndexCollation.h"
#include "indexing/WriteIndex.h"
#include "indexing/modTagwise.h"
#include "indexing/operation_support.h"
#include "office/presentation/presentation.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"

#include <exception>
#include <fstream>

namespace lf::indexing {

namespace {

const QString kTag = QStringLiteral("Index");

void log(const QString& message) {
    oplog::LogOperation(kTag, message, false);
}

// The debug file of one collection: written only when it already exists in the source folder, its old
// content replaced, and closed when the collection ends, whichever way it ends.
class DebugFile {
public:
    explicit DebugFile(const QString& sourcePath) {
        const QString path = platform::joinPath(sourcePath, QStringLiteral("TagwiseDebug.txt"));
        if (platform::isRepositoryPath(sourcePath) || !platform::fileExists(path))
            return;
        file_.open(hostFile(path), std::ios::binary | std::ios::trunc);
        if (!file_)
            throw TagwiseError("the debug file " + path.toStdString() + " cannot be opened for writing");
    }
    bool active() const { return file_.is_open(); }
    void writeLine(const QString& line) {
        const QByteArray bytes = platform::toWindows1252(line) + "\r\n";
        file_.write(bytes.constData(), bytes.size());
        if (!file_)
            throw TagwiseError("the debug file cannot be written");
    }

private:
    std::ofstream file_;
};

// Every tagged word of the slide marked at the slide; a word met for the first time becomes an entry.
// The entries are sorted once, by the writer.
void indexSlide(EntryTable& table, const ppt::Slide& slide, int moduleOrdinal, DebugFile& debug) {
    const int slideNumber = slide.slideNumber();
    for (const TaggedWord& taggedWord : TaggedWordsOf(slide)) {
        const QString& tagged = taggedWord.text;
        const QString word = CleanSlideText(tagged);
        if (!MarkEntryReference(table, word, moduleOrdinal, slideNumber))
            table.addEntry(word).mark(moduleOrdinal, slideNumber);
        if (debug.active())
            debug.writeLine(tagged + QLatin1Char(' ') + QString::number(moduleOrdinal) + QLatin1Char('-') +
                            QString::number(slideNumber));
    }
}

} // namespace

void CollectIndex(courserun::CourseRun& run, const QString& indexTemplate, const QString& indexFileName,
                  const QString& sourcePath, const QString& destinationPath, const QString& courseName,
                  bool cleanWorkingFiles, const QString& indexLanguage) {
    OperationResources resources(kTag, run.workingFiles(), cleanWorkingFiles);
    // Without its clean-up the Index leaves its staging to the TOC that follows; until the staging is
    // complete, all it leaves is where the course is.
    run.leaveStaging(cleanWorkingFiles ? std::nullopt
                                       : std::optional<courserun::LeftStaging>({sourcePath, std::nullopt}));
    try {
        oplog::resetProcessCount();
        log(QStringLiteral("Begin"));
        IndexCollation collation(indexLanguage);
        if (!collation.problem().isEmpty())
            log(collation.problem());
        RequireDocumentName(indexFileName, "Index");
        const courserun::StagedCourse staged = StageDecks(
            run, sourcePath,
            {kTag, QStringLiteral("Unable to export files for indexing"), QStringLiteral(" for indexing")});
        if (!cleanWorkingFiles)
            run.leaveStaging(courserun::LeftStaging{sourcePath, staged});
        const QString& workingPath = staged.folder;
        if (!platform::folderExists(workingPath)) {
            oplog::LogFailure(kTag, QStringLiteral("The source path does not exist"));
            return;
        }
        EntryTable table;
        DebugFile debug(sourcePath);

        log(QStringLiteral("About to process ppt files"));
        platform::sleepFor(1000);
        ppt::Application& powerPoint = resources.startPowerPoint();

        for (qsizetype i = 0; i < staged.decks.size(); ++i) {
            run.betweenFiles();
            const QString& name = staged.decks[i];
            oplog::countProcessedFile();
            oplog::LogProgress(QStringLiteral("Index"), QStringLiteral("deck"), i + 1, staged.decks.size());
            log(QStringLiteral("Indexing ") + name);
            ppt::Presentation deck = powerPoint.presentations().open(
                hostFile(platform::joinPath(workingPath, name)), true, false, true);
            const QString moduleNumber = ModuleNumberFromFileName(name);
            if (moduleNumber.isEmpty()) {
                oplog::LogFailure(kTag,
                                  QStringLiteral("The current presentation: ") + name +
                                      QStringLiteral(" does not use the correct naming covention and will "
                                                     "be skipped"));
                deck.close();
                return;
            }
            const int ordinal = table.addModule(moduleNumber);
            for (const ppt::Slide& slide : deck.slides())
                indexSlide(table, slide, ordinal, debug);
            deck.close();
        }
        log(QStringLiteral("All ppt files processed"));

        if (!oplog::CheckNothingProcessed(oplog::processCount(), kTag))
            return;
        log(QStringLiteral("List of indexed words created"));
        const bool templateInRepository = platform::isRepositoryPath(indexTemplate);
        WriteIndex(table, collation, indexTemplate, templateInRepository, indexFileName, destinationPath,
                   courseName, workingPath, run);
        resources.finish(QStringLiteral("Indexing Complete"));
    } catch (const platform::Stopped& stopped) {
        oplog::LogFailure(kTag, stopped.what());
    } catch (const std::exception& failure) {
        ReportFailure(kTag, QString::fromStdString(failure.what()));
    }
}

void CollectIndex(const QString& indexTemplate, const QString& indexFileName, const QString& sourcePath,
                  const QString& destinationPath, const QString& courseName, const QString& workingDirectory,
                  bool cleanWorkingFiles, const QString& indexLanguage) {
    courserun::RunAlone(workingDirectory, kTag, [&](courserun::CourseRun& run) {
        CollectIndex(run, indexTemplate, indexFileName, sourcePath, destinationPath, courseName,
                     cleanWorkingFiles, indexLanguage);
    });
}

} // namespace lf::indexing
