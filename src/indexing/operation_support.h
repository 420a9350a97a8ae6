#pragma once
// What the TOC and Index operations share besides the entry table: host paths for the Windows-style
// texts, the staging of the course's decks in the working path, the closing line of a failed operation,
// and the guard that gives back what an operation started (and cleans up what it staged) on every way
// out.
#include "workfiles/working_files.h"

#include <QString>
#include <QStringList>

#include <filesystem>
#include <memory>
#include <optional>

namespace lf::ppt {
class Application;
}

namespace lf::indexing {

// The host file a local Windows-style path leads to; fails with the reason when it leads nowhere.
std::filesystem::path hostFile(const QString& localPath);

// Fails, with the reason, when the name a writer is to save its document under is not a plain file
// name: a name such as "..\toc.docx" would put the document outside the folders the log names.
void RequireDocumentName(const QString& name, const char* document);

// The lines one operation logs while it stages its decks.
struct StagingLines {
    QString tag;           // "TOC", "Index"
    QString exportFailed;  // "Unable to export files for TOC creation"
    QString downloadedFor; // " for TOC creation"
};

// The decks one collection reads: the folder they lie in and their names, in listing order. A
// collection reads these and nothing else, so a file left in the working directory by anything but
// this staging (an earlier run that was killed, the user's own decks) never enters its document.
struct StagedDecks {
    QString workingPath;
    QStringList names;
};

// Puts the course's decks where the operation reads them: a repository source is exported into the
// working directory; a local source other than the working directory (compared as locations, not as
// texts) is copied into it, each new copy a working file; a source that is the working directory is
// read where it stands, or, when the Index left its staging there for this collection, those decks
// are read. Fails (throws, with the reason) when the staging is incomplete, so that no document is
// ever written from part of a course, and when two decks' names differ only in letter case. A
// missing local source gives its own path as the working path, which the caller finds missing.
StagedDecks StageDecks(const QString& sourcePath, const QString& workingDirectory, const StagingLines& lines);

// The repository side of staging: exports the decks of the folder at sourcePath into the working
// directory, logging the failed export (then showing the errors dialog) or the downloaded line, and
// returns the names of the decks exported. Throws after a failed export.
QStringList ExportDecks(const QString& sourcePath, const QString& workingDirectory,
                        const StagingLines& lines);

// The closing line of an operation that failed: the repository library's message for the error when
// it knows one, otherwise "Serious error:" and the description.
void ReportFailure(const QString& tag, const QString& description);

// The Index, when the TOC follows it in the same run, leaves its staged decks in the working directory
// for the TOC to read. What it leaves is recorded here: the decks when its staging was complete,
// otherwise only the source path, from which the TOC then stages the course itself.
struct LeftStaging {
    QString sourcePath;
    std::optional<StagedDecks> decks;
};
// Nothing clears what was left before the next collection (the TOC) takes it.
void LeaveStagingForNextCollection(std::optional<LeftStaging> staging);

// One collection's run: the PowerPoint instance, visible and minimised, and the hourglass it may show
// are given back when the guard dies, whichever way the operation ends; the working files are
// cleaned on every way out when the clean-up flag is set (an operation that ends early does not
// leave its staged copies behind for the next run to read).
class OperationResources {
public:
    OperationResources(const QString& tag, const QString& workingDirectory, bool cleanWorkingFiles);
    ~OperationResources();
    OperationResources(const OperationResources&) = delete;
    OperationResources& operator=(const OperationResources&) = delete;

    ppt::Application& startPowerPoint();
    ppt::Application& powerPoint() { return *powerPoint_; }
    void quitPowerPoint();
    // The last steps of a collection that ran to its end: the working files deleted when asked,
    // PowerPoint quit, pending events run, and the closing line logged under the tag.
    void finish(const QString& closingLine);
    void showHourglass();
    void showDefaultPointer();

private:
    QString tag_;
    workfiles::CleanupOnEveryWayOut cleanup_;
    std::unique_ptr<ppt::Application> powerPoint_;
    bool hourglass_ = false;
};

} // namespace lf::indexing
