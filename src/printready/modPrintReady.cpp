#include "printready/modPrintReady.h"

#include "office/document/word.h"
#include "office/presentation/presentation.h"
#include "office/printing/office_printing.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"
#include "printready/modPDF.h"
#include "printready/repository_access.h"
#include "workfiles/working_files.h"

#include <QStringList>

#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace lf::printready {

namespace {

const QString kTag = QStringLiteral("PRU");
const QString kTitle = QStringLiteral("Lessonforge");
constexpr int kWaitForPrintingMilliseconds = 60000;

void log(const QString& message) {
    oplog::LogOperation(kTag, message, false);
}

[[noreturn]] void fail(const QString& description) {
    throw std::runtime_error(description.toStdString());
}

// The run's counters are 16-bit: one more file than they hold is a failure, not a wrap to negative.
void countUp(std::int16_t& counter) {
    if (counter == std::numeric_limits<std::int16_t>::max())
        fail("Overflow");
    ++counter;
}

QStringList filesOf(const QString& folder, const QString& pattern) {
    QString error;
    const QStringList names = platform::Dir(folder + "\\" + pattern, platform::EntryKind::Files, &error);
    if (!error.isEmpty())
        fail(error);
    return names;
}

// The failures of background jobs, gathered on the print workers and logged on the run's thread
// whenever it comes by.
class BackgroundFailures {
public:
    void add(const std::string& description) {
        std::lock_guard lock(mutex_);
        pending_.append(QString::fromStdString(description));
    }
    void report() {
        QStringList taken;
        {
            std::lock_guard lock(mutex_);
            taken.swap(pending_);
        }
        for (const QString& description : taken)
            oplog::LogFailure(kTag, "Serious error " + description);
    }

private:
    std::mutex mutex_;
    QStringList pending_;
};

// Lets the queued print jobs finish while the window stays responsive.
void finishBackgroundPrinting(printing::OfficePrinting& engine, BackgroundFailures& failures) {
    while (!engine.waitForQueue(std::chrono::milliseconds(50))) {
        platform::yieldToEventLoop();
        failures.report();
    }
    failures.report();
}

// A deck's or document's stem: its name less the last five characters (".pptx", ".docx").
QString stemOf(const std::string& name) {
    const QString text = QString::fromStdString(name);
    return text.left(text.size() - 5);
}

struct Run {
    const QString& sourcePath;
    const QString& destinationPath;
    bool makePDFs;
    const QString& workingDirectory;
    bool cleanWorkingFiles;
    bool zipPrintFiles;
    const QString& zipFileName;
    const QString& pptPrinter;
    const QString& wordPrinter;
    const QString& pdfPrinter;
    const PrintSwitches& switches;
    printing::OfficePrinting& engine;
    BackgroundFailures& failures;

    RunOutputNames names;
    std::int16_t printed = 0;

    // The source folder: the working directory for a repository course, once it is exported there.
    QString stage() {
        if (!platform::isRepositoryPath(sourcePath))
            return sourcePath;
        if (!ExportCourseFolder(sourcePath, workingDirectory)) {
            oplog::LogOperation(kTag, "Unable to export files for printing", true);
            oplog::ShowErrorDialog();
        } else {
            log("Files downloaded to " + workingDirectory + " for printing");
        }
        return workingDirectory;
    }

    void warnOfExistingFiles(const QString& printReadyFolder) {
        if (filesOf(printReadyFolder, "*.*").isEmpty())
            return;
        platform::messageBox("Existing files",
                             "There are existing files in " + printReadyFolder +
                                 ".\nPlease remove them before continuing.  Press OK when ready.",
                             platform::MessageIcon::Exclamation);
    }

    // Hands a deck to the engine to lay out ahead; a path the drive map refuses is met again when the
    // deck is printed.
    void prepare(const QString& folder, const QString& deck) {
        const platform::HostPath file = platform::toHostPath(folder + "\\" + deck);
        const bool slides = deckOutputType(deck) == ppt::office::ppPrintOutputSlides;
        if (file.ok())
            engine.prepare(file.path.toStdString(),
                           slides ? printing::Pages::Slides : printing::Pages::NotesPages);
    }

    // False when the run ends here (no printer chosen).
    bool printDecks(ppt::Application& powerPoint, const QString& sourceFolder,
                    const QString& printReadyFolder) {
        const QStringList decks = filesOf(sourceFolder, "*.pptx");
        for (qsizetype i = 0; i < decks.size(); ++i) {
            const QString& name = decks[i];
            oplog::countProcessedFile();
            oplog::LogProgress("Print ready", "deck", i + 1, decks.size());
            platform::yieldToEventLoop();
            log("Printing " + name);
            ppt::Presentation deck =
                powerPoint.presentations().open(hostFile(sourceFolder + "\\" + name), false, false, true);
            platform::yieldToEventLoop();
            ppt::PrintOptions options = deck.printOptions();
            options.setPrintInBackground(switches.useBackgroundPrinting);
            if (pptPrinter.isEmpty()) {
                platform::messageBox(kTitle, "The PowerPoint printer was not selected",
                                     platform::MessageIcon::Critical);
                oplog::NoteFailure(oplog::logLine(kTag, "The PowerPoint printer was not selected"));
                return false;
            }
            options.setActivePrinter(pptPrinter.toStdString());
            options.setOutputType(deckOutputType(name));
            // The next deck is laid out while this one goes through its printer's filters.
            if (i + 1 < decks.size())
                prepare(sourceFolder, decks[i + 1]);
            const QString printFile = names.claim(stemOf(deck.name()), "prn", name, kTag);
            deck.printOut(hostFile(printReadyFolder + "\\" + printFile));
            countUp(printed);
            deck.close();
            log("Printed: " + name);
            failures.report();
        }
        return true;
    }

    bool printDocuments(word::Application& word, const QString& sourceFolder,
                        const QString& printReadyFolder) {
        const QStringList documents = filesOf(sourceFolder, "*.docx");
        for (qsizetype i = 0; i < documents.size(); ++i) {
            const QString& name = documents[i];
            oplog::LogProgress("Print ready", "document", i + 1, documents.size());
            platform::yieldToEventLoop();
            log("Printing " + name);
            word::Document document = word.documents().open(hostFile(sourceFolder + "\\" + name));
            if (wordPrinter.isEmpty()) {
                platform::messageBox(kTitle, "The Word printer was not selected",
                                     platform::MessageIcon::Critical);
                oplog::NoteFailure(oplog::logLine(kTag, "The Word printer was not selected"));
                return false;
            }
            word.setActivePrinter(wordPrinter.toStdString());
            platform::yieldToEventLoop();
            const QString printFile = names.claim(stemOf(document.name()), "prn", name, kTag);
            document.printOut(true, true, hostFile(printReadyFolder + "\\" + printFile));
            countUp(printed);
            document.close();
            log("Printed: " + name);
            failures.report();
        }
        return true;
    }

    void waitForPrinting(const QString& printReadyFolder) {
        while (filesOf(printReadyFolder, "*.*").size() < printed) {
            failures.report();
            const platform::MessageAnswer answer = platform::messageBox(
                "Files not ready",
                "It looks like your files are still printing.\nWould you like to wait for 1 minutes before "
                "importing?",
                platform::MessageIcon::Question, platform::MessageButtons::YesNo);
            if (answer != platform::MessageAnswer::Yes)
                break;
            platform::yieldToEventLoop();
            platform::sleepFor(kWaitForPrintingMilliseconds);
        }
        platform::messageBox("Waiting for printing",
                             "Press Yes when printing has stopped.\n"
                             "Even though it may appear to be done, if Word is\n"
                             "still open, printing may not be finished.\n"
                             "Try closing Word, it will indicate if printing has stopped.",
                             platform::MessageIcon::Information, platform::MessageButtons::YesNo, true);
    }

    void operator()() {
        ppt::Application powerPoint;
        powerPoint.setPrintEngine(&engine);
        powerPoint.setVisible(true);
        log("Begin");

        const QString sourceFolder = stage();
        const bool toRepository = platform::isRepositoryPath(destinationPath);
        const QString printReadyFolder = toRepository ? workingDirectory + "\\print ready" : destinationPath;
        MakeFolderPath(printReadyFolder);
        warnOfExistingFiles(printReadyFolder);

        if (!printDecks(powerPoint, sourceFolder, printReadyFolder))
            return;
        if (oplog::processCount() == 0) {
            oplog::CheckNothingProcessed(oplog::processCount(), kTag);
            return;
        }
        if (makePDFs) {
            if (switches.publishPDFs)
                PublishDecksAsPdf(powerPoint, sourceFolder, printReadyFolder, names);
            else
                PrintDecksToPdfPrinter(powerPoint, sourceFolder, pdfPrinter);
        }

        word::Application word;
        word.setPrintEngine(&engine);
        word.setVisible(true);
        word.setWindowState(word::office::wdWindowStateMinimize);
        if (!printDocuments(word, sourceFolder, printReadyFolder))
            return;
        if (makePDFs) {
            if (switches.publishPDFs)
                PublishDocumentsAsPdf(word, sourceFolder, printReadyFolder, names);
            else
                PrintDocumentsToPdfPrinter(word, sourceFolder, pdfPrinter);
        }

        if (toRepository) {
            log("Importing files into repository");
            waitForPrinting(printReadyFolder);
            platform::yieldToEventLoop();
            // The pattern carries its separator: the zip step appends it to the folder as it is.
            if (!ImportIntoFolder(printReadyFolder, "\\*.*", destinationPath, zipPrintFiles, zipFileName))
                oplog::LogFailure(kTag, "Unable to import the print files into " + destinationPath);
        }

        // The files a background job still reads may be working files: they go once it is done.
        finishBackgroundPrinting(engine, failures);
        if (cleanWorkingFiles)
            workfiles::CleanWorkingFiles(workingDirectory);
        log("All printing complete");
        log("If you printed PDF files, they must be imported and zipped manually");
    }
};

} // namespace

namespace {

void makeFolderAndParents(const QString& folderPath) {
    if (platform::pathExists(folderPath))
        return;
    const qsizetype cut = folderPath.lastIndexOf('\\');
    if (cut < 0)
        fail("there is no drive " + folderPath);
    makeFolderAndParents(folderPath.left(cut));
    QString error;
    if (!platform::makeFolder(folderPath, &error))
        fail(error);
}

} // namespace

void MakeFolderPath(const QString& folderPath) {
    // A path without "\" names no drive: the drive map would take it from the root of C:, a folder
    // the user never named.
    if (!folderPath.contains('\\'))
        fail("the folder " + folderPath + " cannot be made: a folder path starts at a drive, as C:\\Courses");
    makeFolderAndParents(folderPath);
}

QString RunOutputNames::claim(const QString& stem, const QString& extension, const QString& source,
                              const QString& tag) {
    const QString wanted = stem + "." + extension;
    QString name = wanted;
    for (int n = 2; taken_.contains(name.toCaseFolded()); ++n)
        name = stem + " (" + QString::number(n) + ")." + extension;
    taken_.insert(name.toCaseFolded());
    if (name != wanted)
        oplog::LogOperation(tag, wanted + " was already written by this run; " + source + " goes to " + name,
                            false);
    return name;
}

void RunPrintReady(const QString& sourcePath, const QString& destinationPath, bool makePDFs,
                   const QString& workingDirectory, bool cleanWorkingFiles, bool zipPrintFiles,
                   const QString& zipFileName, const QString& pptPrinter, const QString& wordPrinter,
                   const QString& pdfPrinter, const PrintSwitches& switches) {
    BackgroundFailures failures;
    printing::OfficePrintingOptions options;
    options.onBackgroundFailure = [&failures](const std::string& description) { failures.add(description); };
    // The window stays responsive while a deck prints in the foreground.
    options.whileWaiting = [] { platform::yieldToEventLoop(); };
    std::unique_ptr<printing::OfficePrinting> engine;
    try {
        oplog::resetProcessCount();
        engine = std::make_unique<printing::OfficePrinting>(options);
        Run{sourcePath,    destinationPath, makePDFs,   workingDirectory, cleanWorkingFiles,
            zipPrintFiles, zipFileName,     pptPrinter, wordPrinter,      pdfPrinter,
            switches,      *engine,         failures}();
    } catch (const std::exception& failure) {
        oplog::LogFailure(kTag, "Serious error " + QString::fromStdString(failure.what()));
    }
    if (engine)
        finishBackgroundPrinting(*engine, failures);
}

} // namespace lf::printready
