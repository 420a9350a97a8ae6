#include "printready/modRandG.h"

#include "office/presentation/presentation.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"
#include "printready/repository_access.h"
#include "repository/connection.h"

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

void RunGrayscaleResize(const QString& sourcePath, const QString& workingDirectory, bool checkIn) {
    oplog::resetProcessCount();
    log("Begin");

    try {
        const bool fromRepository = platform::isRepositoryPath(sourcePath);
        QString folder = sourcePath;
        CheckedOutList checkedOut;
        if (fromRepository) {
            checkedOut = CheckOutByQuery(workingDirectory, repository::deckQueryForFolder(sourcePath));
            folder = workingDirectory;
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

        const QStringList decks =
            platform::Dir(platform::joinPath(folder, "*.pptx"), platform::EntryKind::Files);
        for (qsizetype i = 0; i < decks.size(); ++i) {
            const QString& name = decks[i];
            oplog::countProcessedFile();
            oplog::LogProgress("Grayscale and resize", "deck", i + 1, decks.size());
            log("Resizing and setting grayscale for " + name);
            const platform::HostPath file = platform::toHostPath(platform::joinPath(folder, name));
            if (!file.ok())
                throw ppt::PresentationError(file.error.toStdString());
            ppt::Presentation deck =
                powerPoint.presentations().open(file.path.toStdString(), false, false, true);
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
            if (checkIn)
                CheckInList(checkedOut);
        }
        wait.restore();
        log("Resize and grayscale complete");
        powerPoint.quit();
    } catch (const std::exception& failure) {
        oplog::LogFailure(kTag, QString::fromStdString(failure.what()));
    }
}

} // namespace lf::printready
