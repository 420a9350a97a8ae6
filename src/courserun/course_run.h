#pragma once
// One run of the checked operations, from the first operation to the last: the object that owns what
// lives for the run, built once by the dispatch from the request and handed to every operation.
//
// It holds the working directory (resolved once) with the record of the files the program made there,
// the repository session (taken on first use, handed back when the run ends), what the Index staged
// for the TOC that follows it, and the files the run wrote into its destinations. An operation called
// on its own makes a run of one operation.
#include "platform/lock_file.h"
#include "platform/stop_request.h"
#include "tessarel/tessarel.h"
#include "workfiles/working_files.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>

namespace lf::courserun {

// Another run holds the working directory; the message says which.
class WorkingDirectoryInUse : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What one operation staged: the folder it reads and the names it reads there, in listing order. An
// operation reads these and nothing else, so a file left in the working directory by anything but
// this staging (an earlier run that was killed, the user's own files) never enters its results.
struct StagedCourse {
    QString folder;        // the working directory, or a local source read where it stands
    QStringList decks;     // *.pptx
    QStringList documents; // *.docx, when the operation asked for them
    bool complete = true;  // false when the export reported a failure: what arrived is listed
};

// What the Index leaves for the TOC that follows it in the same run: the staged decks when its
// staging was complete, otherwise only the source path, from which the TOC then stages the course.
struct LeftStaging {
    QString sourcePath;
    std::optional<StagedCourse> staged;
};

class CourseRun {
public:
    // Takes the working directory for the run: two runs sharing one would delete each other's files
    // and pack each other's course. Throws WorkingDirectoryInUse, naming the run that holds it (its
    // program, process and start), when another run has it.
    explicit CourseRun(const QString& workingDirectory);
    ~CourseRun();
    CourseRun(const CourseRun&) = delete;
    CourseRun& operator=(const CourseRun&) = delete;

    // The setting WorkingDirectory as typed: log lines and staged paths keep it.
    const QString& workingDirectory() const { return workingFiles_.workingDirectory(); }
    workfiles::WorkingFiles& workingFiles() { return workingFiles_; }

    // The repository session of the run, taken from the session manager on first use and handed back
    // when the run ends. Throws TsException when there is none to be had.
    const tessarel::TsSessionPtr& session();

    // The Index's staging, left for the TOC; taking it leaves nothing behind.
    void leaveStaging(std::optional<LeftStaging> staging) { left_ = std::move(staging); }
    std::optional<LeftStaging> takeLeftStaging();

    // The stop request the run obeys (none: a run of one operation, which is not stopped).
    void obey(platform::StopRequest* stop) { stop_ = stop; }
    bool stopRequested() const { return stop_ && stop_->requested(); }
    const platform::StopRequest* stopRequest() const { return stop_; }
    // Called between files: once a stop is requested, throws platform::Stopped, which ends the
    // operation the way a failure does.
    void betweenFiles();
    // Asked by an operation that failed: true when a stop was requested, which is then what ended it
    // (a file whose LibreOffice was ended on the stop fails).
    bool failedOnStop() {
        stopTookEffect_ = stopTookEffect_ || stopRequested();
        return stopRequested();
    }
    // Whether an operation has already ended on the stop (and logged its line).
    bool stopTookEffect() const { return stopTookEffect_; }

    // A file the run wrote outside the working directory (a document, a print file, a zip file in a
    // destination folder): it is the run's own result, never an "existing file" of that folder.
    void noteWritten(const QString& path);
    bool wrote(const QString& path) const;
    // The files noted so far, each once and named as the operation named it, in the order written.
    QStringList writtenFiles() const;

private:
    std::optional<platform::LockFile> lock_; // none when the working directory is not there
    workfiles::WorkingFiles workingFiles_;
    tessarel::TsSessionPtr session_;
    std::optional<LeftStaging> left_;
    QSet<QString> written_; // host paths
    platform::StopRequest* stop_ = nullptr;
    bool stopTookEffect_ = false;
    QStringList writtenAsNamed_;
};

// A run of one operation: body(run), with a run of its own; when another run holds the working
// directory, that is the operation's failure line under tag and body is not called.
template <class Body> void RunAlone(const QString& workingDirectory, const QString& tag, Body&& body);

// Which files of the course an operation stages.
enum class CourseFiles { Decks, DecksAndDocuments };

// Puts the course where the operation reads it. A repository course is exported into the working
// directory (only what the export wrote is staged: the returned names); a local course other than the
// working directory is read where it stands (inPlace) or has its decks copied into the working
// directory (each copy the program makes goes into the record before it is made); a source that is the
// working directory is read where it stands. Before anything is staged, the leftovers of earlier runs
// are removed from the working directory, one line each under tag. Fails (throws, with the reason)
// when two names differ only in letter case or a copy fails. A missing local source gives its own path
// as the folder, with no names, which the caller finds missing.
StagedCourse StageCourse(CourseRun& run, const QString& sourcePath, CourseFiles files, bool inPlace,
                         const QString& tag);

void LogWorkingDirectoryInUse(const QString& tag, const WorkingDirectoryInUse& inUse);

template <class Body> void RunAlone(const QString& workingDirectory, const QString& tag, Body&& body) {
    std::optional<CourseRun> run;
    try {
        run.emplace(workingDirectory);
    } catch (const WorkingDirectoryInUse& inUse) {
        LogWorkingDirectoryInUse(tag, inUse);
        return;
    }
    body(*run);
}

} // namespace lf::courserun
