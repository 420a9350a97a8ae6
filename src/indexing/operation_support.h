#pragma once
// What the TOC and Index operations share besides the entry table: host paths for the Windows-style
// texts, the staging of the course's decks in the working path, the closing line of a failed operation,
// and the guard that gives back what an operation started (and cleans up what it staged) on every way
// out.
#include "courserun/course_run.h"
#include "workfiles/working_files.h"

#include <QString>
#include <QStringList>

#include <filesystem>
#include <memory>

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

// Puts the course's decks where the collection reads them (courserun::StageCourse): a repository
// source is exported into the working directory, logging the failed export (then showing the errors
// dialog) or the downloaded line; a local source other than the working directory is copied into it.
// A source that is the working directory stands for what the Index of this run left there for this
// collection: its staged decks, or, when its staging did not complete, the course it was staging,
// staged again here; only without an Index before it is the working directory read as it is. Fails
// (throws, with the reason) when the staging is incomplete, so that no document is ever written from
// part of a course, and when two decks' names differ only in letter case. A missing local source
// gives its own path as the folder, which the caller finds missing.
courserun::StagedCourse StageDecks(courserun::CourseRun& run, const QString& sourcePath,
                                   const StagingLines& lines);

// The closing line of an operation that failed: the repository library's message for the error when
// it knows one, otherwise "Serious error:" and the description.
void ReportFailure(const QString& tag, const QString& description);

// One collection's run: the PowerPoint instance, visible and minimised, and the hourglass it may show
// are given back when the guard dies, whichever way the operation ends; the working files are
// cleaned on every way out when the clean-up flag is set (an operation that ends early does not
// leave its staged copies behind for the next run to read).
class OperationResources {
public:
    OperationResources(const QString& tag, workfiles::WorkingFiles& workingFiles, bool cleanWorkingFiles);
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
