#include "printready/modRandG.h"

#include "office/presentation/presentation.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"
#include "printready/repository_access.h"
#include "repository/connection.h"
#include "repository/repository_ops.h"
#include "workfiles/working_files.h"

#include <exception>
#include <string>

namespace lf::printready {

namespace {

const QString kTag = QStringLiteral("Resize");

void log(const QString& message) {
    oplog::LogOperation(kTag, message, false);
}

void place(const ppt::Shape& shape, const NotesGeometry& g) {
    ppt::Shape s = shape;
    s.setTop(g.top);
    s.setLeft(g.left);
    s.setHeight(g.height);
    s.setWidth(g.width);
}

// The wait cursor, shown from the start of the deck work until the operation ends, on every way out.
class WaitCursor {
public:
    WaitCursor() { platform::showHourglass(); }
    ~WaitCursor() { restore(); }
    void restore() {
        if (shown_)
            platform::showDefaultPointer();
        shown_ = false;
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    bool shown_ = true;
};

} // namespace

void GrayscaleAndResize(ppt::Presentation& deck) {
    for (const ppt::Slide& slide : deck.slides()) {
        for (ppt::Shape shape : slide.shapes())
            shape.setBlackWhiteMode(ppt::office::msoBlackWhiteGrayScale);
        const ppt::Shapes notes = slide.notesPage().shapes();
        if (notes.count() < 1) {
            throw ppt::PresentationError(deck.name() + ": the notes page of slide " +
                                         std::to_string(slide.slideNumber()) + " has no shape");
        }
        place(notes.item(1), kNotesSlideImage);
        if (notes.count() > 1)
            place(notes.item(2), kNotesText);
    }
}

void RunGrayscaleResize(courserun::CourseRun& run, const QString& sourcePath, bool checkIn) {
    oplog::resetProcessCount();
    log("Begin");

    CheckedOutList checkedOut;
    QStringList checkedOutFiles;
    try {
        const bool fromRepository = platform::isRepositoryPath(sourcePath);
        QString folder = sourcePath;
        // The decks checked out for this run go once they are checked back in; a deck still checked
        // out stays, whatever way the operation ends.
        workfiles::CleanupOnEveryWayOut cleanup(run.workingFiles(), fromRepository);
        QStringList decks;
        if (fromRepository) {
            run.workingFiles().RemoveLeftovers(kTag);
            checkedOut = CheckOutByQuery(run, repository::deckQueryForFolder(sourcePath), &checkedOutFiles);
            folder = run.workingDirectory();
            // The decks this check-out wrote, and no other file of the working directory.
            for (int i = 0; checkedOut && i < checkedOut->count(); ++i) {
                const QString name = repository::localFileNameOf(*checkedOut->item(i));
                if (platform::wildcardMatch(name, "*.pptx") && !decks.contains(name))
                    decks.append(name);
            }
            platform::sortInListingOrder(decks);
        }

        if (!platform::folderExists(folder)) {
            platform::messageBox("Missing Source Path", "Your source path does not exist\nplease correct it.",
                                 platform::MessageIcon::Critical);
            oplog::NoteFailure(oplog::logLine(kTag, "Missing Source Path"));
            return;
        }

        ppt::Application powerPoint;
        powerPoint.setVisible(true);
        powerPoint.setWindowState(ppt::office::ppWindowMinimized);
        WaitCursor wait;
        platform::yieldToEventLoop();
        log("Resizing local files");

        if (!fromRepository)
            decks = platform::Dir(platform::joinPath(folder, "*.pptx"), platform::EntryKind::Files);
        for (qsizetype i = 0; i < decks.size(); ++i) {
            run.betweenFiles();
            const QString& name = decks[i];
            oplog::countProcessedFile();
            oplog::LogProgress("Grayscale and resize", "deck", i + 1, decks.size());
            log("Resizing and setting grayscale for " + name);
            const platform::HostPath file = platform::toHostPath(platform::joinPath(folder, name));
            if (!file.ok())
                throw ppt::PresentationError(file.error.toStdString());
            ppt::Presentation deck =
                powerPoint.presentations().open(platform::hostFsPath(file.path), false, false, true);
            // A deck that fails here stays open and unsaved until PowerPoint goes, so its file keeps
            // every byte; the decks saved before it keep their changes.
            GrayscaleAndResize(deck);
            deck.save();
            deck.close();
        }

        if (!oplog::CheckNothingProcessed(oplog::processCount(), kTag))
            return;

        if (fromRepository) {
            log("Checking in files");
            if (checkIn && CheckInList(run, checkedOut)) {
                for (const QString& path : checkedOutFiles)
                    run.workingFiles().checkedIn(path);
                cleanup.now();
            }
        }
        wait.restore();
        log("Resize and grayscale complete");
        powerPoint.quit();
    } catch (const platform::Stopped& stopped) {
        oplog::LogFailure(kTag, stopped.what());
        // Stopped, or not continued after errors: no deck stays checked out, and the decks checked
        // out for the run go with the rest of its working files.
        try {
            if (checkedOut) {
                repository::CancelCheckOuts(checkedOut);
                for (const QString& path : checkedOutFiles)
                    run.workingFiles().checkedIn(path);
            }
            run.workingFiles().CleanWorkingFiles();
        } catch (const std::exception& failure) {
            oplog::LogFailure(kTag, QString::fromStdString(failure.what()));
        }
    } catch (const std::exception& failure) {
        oplog::LogFailure(kTag, platform::withLocalPaths(QString::fromStdString(failure.what())));
    }
}

void RunGrayscaleResize(const QString& sourcePath, const QString& workingDirectory, bool checkIn) {
    courserun::RunAlone(workingDirectory, kTag,
                        [&](courserun::CourseRun& run) { RunGrayscaleResize(run, sourcePath, checkIn); });
}

} // namespace lf::printready
