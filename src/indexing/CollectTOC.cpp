#include "indexing/CollectTOC.h"

#include "indexing/WriteTOC.h"
#include "indexing/modTagwise.h"
#include "indexing/operation_support.h"
#include "office/presentation/presentation.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"

#include <exception>

namespace lf::indexing {

namespace {

const QString kTag = QStringLiteral("TOC");

void log(const QString& message) {
    oplog::LogOperation(kTag, message, false);
}

// One entry per title of the slide, marked at the slide.
void collectSlideTitles(EntryTable& table, const ppt::Slide& slide, int moduleOrdinal,
                        TOCTitleSource titleSource) {
    for (const QString& title : SlideTOCTitles(slide, titleSource))
        table.addEntry(title).mark(moduleOrdinal, slide.slideNumber());
}

} // namespace

void CollectTOC(courserun::CourseRun& run, const QString& tocTemplate, const QString& tocFileName,
                const QString& sourcePath, const QString& destinationPath, const QString& courseName,
                bool cleanWorkingFiles, TOCTitleSource titleSource) {
    OperationResources resources(kTag, run.workingFiles(), cleanWorkingFiles);
    try {
        oplog::resetProcessCount();
        log(QStringLiteral("Begin"));
        RequireDocumentName(tocFileName, "TOC");
        const courserun::StagedCourse staged =
            StageDecks(run, sourcePath,
                       {kTag, QStringLiteral("Unable to export files for TOC creation"),
                        QStringLiteral(" for TOC creation")});
        const QString& workingPath = staged.folder;
        if (!platform::folderExists(workingPath)) {
            oplog::LogFailure(kTag, QStringLiteral("The source path does not exist"));
            return;
        }
        EntryTable table;

        ppt::Application& powerPoint = resources.startPowerPoint();
        resources.showHourglass();
        platform::yieldToEventLoop();

        for (qsizetype i = 0; i < staged.decks.size(); ++i) {
            run.betweenFiles();
            const QString& name = staged.decks[i];
            oplog::countProcessedFile();
            oplog::LogProgress(QStringLiteral("Table of Contents"), QStringLiteral("deck"), i + 1,
                               staged.decks.size());
            const QString deckPath = platform::joinPath(workingPath, name);
            ppt::Presentation deck = powerPoint.presentations().open(hostFile(deckPath), true, false, true);
            log(QStringLiteral("Opening ") + deckPath);
            const QString moduleNumber = ModuleNumberFromFileName(name);
            if (moduleNumber.isEmpty()) {
                oplog::LogFailure(kTag,
                                  QStringLiteral("The current presentation: ") + name +
                                      QStringLiteral("does not use the correct naming covention and will "
                                                     "be skipped."));
                deck.close();
                return;
            }
            const int ordinal = table.addModule(moduleNumber);
            const ppt::Slides slides = deck.slides();
            table.addEntry(QStringLiteral("Module ") + moduleNumber + QStringLiteral(": ") +
                           ModuleHeadingTitle(slides, titleSource));
            for (const ppt::Slide& slide : slides)
                collectSlideTitles(table, slide, ordinal, titleSource);
            deck.close();
        }
        resources.showDefaultPointer();

        if (!oplog::CheckNothingProcessed(oplog::processCount(), kTag))
            return;
        log(QStringLiteral("List of TOC entries created"));
        const bool templateInRepository = platform::isRepositoryPath(tocTemplate);
        log(QStringLiteral("Starting TOC creation"));
        WriteTOC(table, tocTemplate, templateInRepository, tocFileName, destinationPath, courseName,
                 workingPath, run);
        resources.finish(QStringLiteral("TOC Creation Complete"));
    } catch (const platform::Stopped& stopped) {
        oplog::LogFailure(kTag, stopped.what());
    } catch (const std::exception& failure) {
        ReportFailure(kTag, QString::fromStdString(failure.what()));
    }
}

void CollectTOC(const QString& tocTemplate, const QString& tocFileName, const QString& sourcePath,
                const QString& destinationPath, const QString& courseName, const QString& workingDirectory,
                bool cleanWorkingFiles, TOCTitleSource titleSource) {
    courserun::RunAlone(workingDirectory, kTag, [&](courserun::CourseRun& run) {
        CollectTOC(run, tocTemplate, tocFileName, sourcePath, destinationPath, courseName, cleanWorkingFiles,
                   titleSource);
    });
}

} // namespace lf::indexing
