#include "printready/modPrintReady.h"

#include "courserun/course_run.h"
#include "office/document/word.h"
#include "office/fonts/glyph_coverage.h"
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

#include <QSet>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <filesystem>
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

// What the print workers report, gathered on their threads and logged on the run's thread whenever it
// comes by: the failures of background jobs; and the files whose pages an earlier run laid out, one line each
// per run, logged with the file when it is printed in the foreground, otherwise once the files it was laid
// out for (a background print, a PDF) are done.
class WorkerReports {
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
            oplog::LogFailure(kTag, "Serious error " + platform::withLocalPaths(description));
    }

    void addReused(const std::filesystem::path& source) {
        const QString name = QString::fromStdString(source.filename().string());
        std::lock_guard lock(mutex_);
        if (!reusedLogged_.contains(name) && !reused_.contains(name))
            reused_.append(name);
    }
    // The line of the file, when its pages were reused and it has none yet.
    void reportReused(const QString& name) {
        {
            std::lock_guard lock(mutex_);
            if (!reused_.removeOne(name))
                return;
            reusedLogged_.insert(name);
        }
        logReused(name);
    }
    void reportEveryReused() {
        QStringList taken;
        {
            std::lock_guard lock(mutex_);
            taken.swap(reused_);
            for (const QString& name : taken)
                reusedLogged_.insert(name);
        }
        for (const QString& name : taken)
            logReused(name);
    }

private:
    static void logReused(const QString& name) { log(name + ": unchanged since the last run: pages reused"); }

    std::mutex mutex_;
    QStringList pending_;
    QStringList reused_;         // not logged yet
    QSet<QString> reusedLogged_; // logged in this run
};

// Lets the queued print jobs finish while the window stays responsive.
void finishBackgroundPrinting(printing::OfficePrinting& engine, WorkerReports& failures) {
    while (!engine.waitForQueue(std::chrono::milliseconds(50))) {
        platform::yieldToEventLoop();
        failures.report();
    }
    failures.report();
    failures.reportEveryReused();
}

// How many of a file's missing characters its line names; the count says how many more there are.
constexpr std::size_t kMissingGlyphsNamed = 8;

QString codePoint(char32_t character) {
    return QString("U+%1").arg(static_cast<uint>(character), 4, 16, QChar('0')).toUpper();
}

// Warns when a character of the file's text has no glyph in any installed font: LibreOffice would
// print a box in its place. One line per file, naming a few such characters by script, and the
// package with fonts for them. A warning, not a failure: the file prints, and the run goes on.
void warnOfMissingGlyphs(const QString& name, const std::function<std::string()>& readText) {
    fonts::MissingGlyphs missing;
    try {
        missing = fonts::missingGlyphs(readText());
    } catch (const std::exception& failure) {
        log(name + ": its text could not be checked against the installed fonts: " +
            platform::withLocalPaths(QString::fromStdString(failure.what())));
        return;
    }
    if (missing.empty())
        return;
    QStringList groups;
    QStringList packages;
    bool privateUse = false;
    std::size_t named = 0;
    for (const fonts::MissingGlyphs::Script& script : missing.scripts) {
        if (named == kMissingGlyphsNamed)
            break;
        const QString scriptName = QString::fromStdString(script.name);
        const std::string package = fonts::fontPackageFor(script.name);
        QString shown;
        QStringList codes;
        for (char32_t character : script.characters) {
            if (named == kMissingGlyphsNamed)
                break;
            ++named;
            // A private-use character means nothing without its font: only its code is worth showing.
            if (!package.empty())
                shown += QString::fromUcs4(&character, 1);
            codes.append(codePoint(character));
        }
        groups.append((shown.isEmpty() ? QString() : shown + " ") + "(" + scriptName + ", " +
                      codes.join(' ') + ")");
        if (package.empty())
            privateUse = true;
        else if (!packages.contains(QString::fromStdString(package)))
            packages.append(QString::fromStdString(package));
    }
    QString line = name + ": no installed font has glyphs for " + groups.join(", ");
    if (missing.count > named)
        line += QString(" and %1 more").arg(missing.count - named);
    line += "; they print as boxes";
    if (!packages.isEmpty())
        line += "; install a font for them, e.g. " + packages.join(", ");
    if (privateUse)
        line += "; private-use characters print only with the font the file was written for";
    log(line);
}

// A deck's or document's stem: its name less the last five characters (".pptx", ".docx").
QString stemOf(const std::string& name) {
    const QString text = QString::fromStdString(name);
    return text.left(text.size() - 5);
}

// Whether two folders are one: local ones however they are spelled, repository ones by their path.
bool sameFolder(const QString& a, const QString& b) {
    const bool repositoryA = platform::isRepositoryPath(a);
    if (repositoryA != platform::isRepositoryPath(b))
        return false;
    if (!repositoryA)
        return platform::sameLocation(a, b);
    auto normal = [](QString path) {
        path.replace('\\', '/');
        while (path.contains("//"))
            path.replace("//", "/");
        while (path.size() > 1 && path.endsWith('/'))
            path.chop(1);
        return path;
    };
    return normal(a) == normal(b);
}

struct Run {
    courserun::CourseRun& course;
    const QString& sourcePath;
    const QString& destinationPath;
    bool makePDFs;
    bool zipPrintFiles;
    const QString& zipFileName;
    const QString& pptPrinter;
    const QString& wordPrinter;
    const QString& pdfPrinter;
    const PrintSwitches& switches;
    printing::OfficePrinting& engine;
    WorkerReports& failures;
    workfiles::CleanupOnEveryWayOut& cleanup;

    QString printReadyFolder;
    std::int16_t printed = 0;
    QStringList& printFiles; // the print files this run wrote, in order

    // A file the run is about to write into the print-ready folder: a working file when that folder
    // lies in the working directory, otherwise one of the run's own results.
    void beforeWriting(const QString& path) {
        if (!course.workingFiles().willMake(path))
            course.noteWritten(path);
    }

    // The course as staged: a local folder is printed where it stands; a repository course is
    // exported into the working directory, and only what the export wrote is printed.
    courserun::StagedCourse stage() {
        courserun::StagedCourse staged =
            courserun::StageCourse(course, sourcePath, courserun::CourseFiles::DecksAndDocuments, true, kTag);
        if (!platform::isRepositoryPath(sourcePath))
            return staged;
        if (!staged.complete) {
            oplog::LogOperation(kTag, "Unable to export files for printing", true);
            oplog::ShowErrorDialog();
        } else {
            log("Files downloaded to " + course.workingDirectory() + " for printing");
        }
        return staged;
    }

    // The box names only files that were there before the run: what this run wrote (a TOC or Index
    // of this run, say) is no reason to stop.
    void warnOfExistingFiles() {
        const QStringList names = filesOf(printReadyFolder, "*.*");
        for (const QString& name : names) {
            const QString path = platform::joinPath(printReadyFolder, name);
            if (course.wrote(path) || course.workingFiles().isProgramFile(path))
                continue;
            platform::messageBox("Existing files",
                                 "There are existing files in " + printReadyFolder +
                                     ".\nPlease remove them before continuing.  Press OK when ready.",
                                 platform::MessageIcon::Exclamation);
            return;
        }
    }

    // Hands a deck to the engine to lay out ahead; a path the drive map refuses is met again when the
    // deck is printed.
    void prepare(const QString& folder, const QString& deck) {
        const platform::HostPath file = platform::toHostPath(folder + "\\" + deck);
        const bool slides = deckOutputType(deck) == ppt::office::ppPrintOutputSlides;
        if (file.ok())
            engine.prepare(platform::hostFsPath(file.path),
                           slides ? printing::Pages::Slides : printing::Pages::NotesPages);
    }

    QString claimPrintFile(RunOutputNames& names, const std::string& name, const QString& source) {
        const QString path = names.claimPath(stemOf(name), "prn", source, kTag);
        printFiles.append(path);
        return path;
    }

    // False when the run ends here (no printer chosen).
    bool printDecks(ppt::Application& powerPoint, const QString& sourceFolder, const QStringList& decks,
                    RunOutputNames& names) {
        for (qsizetype i = 0; i < decks.size(); ++i) {
            course.betweenFiles();
            const QString& name = decks[i];
            oplog::countProcessedFile();
            oplog::LogProgress("Print ready", "deck", i + 1, decks.size());
            platform::yieldToEventLoop();
            log("Printing " + name);
            ppt::Presentation deck =
                powerPoint.presentations().open(hostFile(sourceFolder + "\\" + name), true, false, true);
            warnOfMissingGlyphs(name, [&deck] { return fonts::deckText(deck); });
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
            // The decks after this one are laid out while it goes through its printer's filters: two
            // ahead, so that LibreOffice has the next one queued before it ends the one it is on,
            // whatever this thread spends opening and checking a deck.
            if (i == 0 && decks.size() > 1)
                prepare(sourceFolder, decks[1]);
            if (i + 2 < decks.size())
                prepare(sourceFolder, decks[i + 2]);
            deck.printOut(hostFile(claimPrintFile(names, deck.name(), name)));
            countUp(printed);
            deck.close();
            failures.reportReused(name);
            log("Printed: " + name);
            failures.report();
        }
        return true;
    }

    bool printDocuments(word::Application& word, const QString& sourceFolder, const QStringList& documents,
                        RunOutputNames& names) {
        for (qsizetype i = 0; i < documents.size(); ++i) {
            course.betweenFiles();
            const QString& name = documents[i];
            oplog::LogProgress("Print ready", "document", i + 1, documents.size());
            platform::yieldToEventLoop();
            log("Printing " + name);
            word::Document document = word.documents().open(hostFile(sourceFolder + "\\" + name));
            warnOfMissingGlyphs(name, [&document] { return fonts::documentText(document); });
            if (wordPrinter.isEmpty()) {
                platform::messageBox(kTitle, "The Word printer was not selected",
                                     platform::MessageIcon::Critical);
                oplog::NoteFailure(oplog::logLine(kTag, "The Word printer was not selected"));
                return false;
            }
            word.setActivePrinter(wordPrinter.toStdString());
            platform::yieldToEventLoop();
            document.printOut(true, true, hostFile(claimPrintFile(names, document.name(), name)));
            countUp(printed);
            document.close();
            failures.reportReused(name);
            log("Printed: " + name);
            failures.report();
        }
        return true;
    }

    // The print files of this run that are not there.
    QStringList missingPrintFiles() const {
        QStringList missing;
        for (const QString& path : printFiles)
            if (!platform::fileExists(path))
                missing.append(path);
        return missing;
    }

    // True when every print file of the run is there to be imported. The run's own queue is waited
    // for first; only then are the print files counted (the PDFs beside them are not print files).
    bool waitForPrinting() {
        finishBackgroundPrinting(engine, failures);
        while (!missingPrintFiles().isEmpty()) {
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
        const QStringList missing = missingPrintFiles();
        for (const QString& path : missing)
            oplog::LogFailure(kTag, "The print file " + path + " was not made and cannot be imported");
        return missing.isEmpty();
    }

    // What the run refuses before anything is staged or printed.
    void refuseBadRequest() const {
        // Print files go beside the course's own files under the decks' names: into the course folder
        // itself they would replace the course's PDFs and print files with new ones.
        if (sameFolder(sourcePath, destinationPath))
            fail("the destination " + destinationPath + " is the course folder " + sourcePath +
                 " itself; the print files would replace the course's own files. Choose another "
                 "destination folder");
        if (zipPrintFiles && platform::isRepositoryPath(destinationPath)) {
            const QString problem = platform::fileNameProblem(zipFileName);
            if (!problem.isEmpty())
                fail("the zip file name PrintReadyZipFilename is not a file name: " + problem);
        }
    }

    void operator()() {
        refuseBadRequest();
        ppt::Application powerPoint;
        powerPoint.setPrintEngine(&engine);
        powerPoint.setVisible(true);
        log("Begin");

        const courserun::StagedCourse staged = stage();
        const QString& sourceFolder = staged.folder;
        const bool toRepository = platform::isRepositoryPath(destinationPath);
        printReadyFolder = toRepository ? course.workingDirectory() + "\\print ready" : destinationPath;
        MakeFolderPath(printReadyFolder);
        warnOfExistingFiles();
        RunOutputNames names(printReadyFolder, [this](const QString& path) { beforeWriting(path); });

        if (!printDecks(powerPoint, sourceFolder, staged.decks, names))
            return;
        if (oplog::processCount() == 0) {
            oplog::CheckNothingProcessed(oplog::processCount(), kTag);
            return;
        }
        const render::PdfExport pdfExport{switches.archivePDFs};
        if (makePDFs) {
            if (switches.publishPDFs)
                PublishDecksAsPdf(powerPoint, sourceFolder, staged.decks, names, pdfExport);
            else
                PrintDecksToPdfPrinter(powerPoint, sourceFolder, staged.decks, pdfPrinter);
        }
        failures.reportEveryReused(); // the files whose PDFs came from an earlier run's pages

        word::Application word;
        word.setPrintEngine(&engine);
        word.setVisible(true);
        word.setWindowState(word::office::wdWindowStateMinimize);
        if (!printDocuments(word, sourceFolder, staged.documents, names))
            return;
        if (makePDFs) {
            if (switches.publishPDFs)
                PublishDocumentsAsPdf(word, sourceFolder, staged.documents, names, pdfExport);
            else
                PrintDocumentsToPdfPrinter(word, sourceFolder, staged.documents, pdfPrinter);
        }
        failures.reportEveryReused(); // the files whose PDFs came from an earlier run's pages

        course.betweenFiles();
        if (toRepository) {
            log("Importing files into repository");
            const bool allPrinted = waitForPrinting();
            platform::yieldToEventLoop();
            // The pattern carries its separator: the zip step appends it to the folder as it is.
            if (!allPrinted || !ImportIntoFolder(course, printReadyFolder, "\\*.*", destinationPath,
                                                 zipPrintFiles, zipFileName))
                oplog::LogFailure(kTag, "Unable to import the print files into " + destinationPath);
        }

        // The files a background job still reads may be working files: they go once it is done.
        finishBackgroundPrinting(engine, failures);
        cleanup.now();
        log("All printing complete");
        log("If you printed PDF files, they must be imported and zipped manually");
    }
};

} // namespace

namespace {

void makeFolderAndParents(const QString& folderPath) {
    if (platform::folderExists(folderPath))
        return;
    if (platform::pathExists(folderPath))
        fail("the folder " + folderPath + " cannot be made: a file of that name is there");
    const qsizetype cut = folderPath.lastIndexOf('\\');
    if (cut < 0)
        fail("there is no drive " + folderPath);
    makeFolderAndParents(folderPath.left(cut));
    QString error;
    if (!platform::makeFolder(folderPath, &error))
        fail(error);
}

// "D:" or "D:\": the root of a drive.
bool isDriveRoot(const QString& path) {
    return (path.size() == 2 || (path.size() == 3 && path.at(2) == '\\')) && path.at(0).isLetter() &&
           path.at(1) == ':';
}

} // namespace

void MakeFolderPath(const QString& folderPath) {
    if (isDriveRoot(folderPath)) {
        const platform::HostPath root = platform::toHostPath(folderPath.left(2) + "\\");
        if (!root.ok())
            fail(root.error);
        if (!platform::folderExists(folderPath.left(2) + "\\"))
            fail("the drive " + folderPath.left(2) + " is not ready");
        return;
    }
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

QString RunOutputNames::claimPath(const QString& stem, const QString& extension, const QString& source,
                                  const QString& tag) {
    const QString path = platform::joinPath(folder_, claim(stem, extension, source, tag));
    if (beforeWriting_)
        beforeWriting_(path);
    return path;
}

void RunPrintReady(courserun::CourseRun& run, const QString& sourcePath, const QString& destinationPath,
                   bool makePDFs, bool cleanWorkingFiles, bool zipPrintFiles, const QString& zipFileName,
                   const QString& pptPrinter, const QString& wordPrinter, const QString& pdfPrinter,
                   const PrintSwitches& switches, std::unique_ptr<render::LibreOffice> warm) {
    // Declared before the engine: on every way out the engine's queue is finished first, then the
    // working files go.
    workfiles::CleanupOnEveryWayOut cleanup(run.workingFiles(), cleanWorkingFiles);
    WorkerReports failures;
    printing::OfficePrintingOptions options;
    // A background job ended by the stop is no failure of its own: the stop has its one line.
    options.onBackgroundFailure = [&failures, &run](const std::string& description) {
        if (!run.stopRequested())
            failures.add(description);
    };
    // The window stays responsive while a deck prints in the foreground.
    options.whileWaiting = [] { platform::yieldToEventLoop(); };
    // A stop ends a file LibreOffice is working on as the watchdog ends a hung one.
    options.stop = run.stopRequest();
    // A file laid out by an earlier run says so.
    options.onPagesReused = [&failures](const std::filesystem::path& source) { failures.addReused(source); };
    options.warm = std::move(warm);
    std::unique_ptr<printing::OfficePrinting> engine;
    QStringList printFiles;
    bool stopped = false;
    try {
        oplog::resetProcessCount();
        engine = std::make_unique<printing::OfficePrinting>(std::move(options));
        Run{run,         sourcePath, destinationPath, makePDFs, zipPrintFiles, zipFileName, pptPrinter,
            wordPrinter, pdfPrinter, switches,        *engine,  failures,      cleanup,     {},
            0,           printFiles}();
    } catch (const std::exception& failure) {
        // A print that failed because its LibreOffice was ended on the stop is the stop.
        stopped = run.failedOnStop() || dynamic_cast<const platform::Stopped*>(&failure);
        oplog::LogFailure(kTag, stopped ? QString(platform::kStoppedByUser)
                                        : "Serious error " + platform::withLocalPaths(
                                                                 QString::fromStdString(failure.what())));
    }
    if (engine)
        finishBackgroundPrinting(*engine, failures);
    // A stopped run leaves no print file of its own in a destination folder; those in the working
    // directory go with its working files.
    if (stopped)
        for (const QString& path : printFiles)
            if (run.wrote(path) && platform::fileExists(path))
                platform::deleteFile(path);
}

void RunPrintReady(const QString& sourcePath, const QString& destinationPath, bool makePDFs,
                   const QString& workingDirectory, bool cleanWorkingFiles, bool zipPrintFiles,
                   const QString& zipFileName, const QString& pptPrinter, const QString& wordPrinter,
                   const QString& pdfPrinter, const PrintSwitches& switches) {
    courserun::RunAlone(workingDirectory, kTag, [&](courserun::CourseRun& run) {
        RunPrintReady(run, sourcePath, destinationPath, makePDFs, cleanWorkingFiles, zipPrintFiles,
                      zipFileName, pptPrinter, wordPrinter, pdfPrinter, switches);
    });
}

} // namespace lf::printready
