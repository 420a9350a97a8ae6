#pragma once
// The wizard's decisions that need no window: which field groups page 3 shows and requires for the
// checked operations, and what page 5 calls, in which order, with which inputs. frmWizard gathers the
// texts and choices from its controls and hands them here; the rules can be read and tested alone.
#include "platform/stop_request.h"
#include "wizard/operations.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace lf::wizard {

// The path without one trailing "/" or "\" (only one character is removed), as the operations take
// source and destination paths.
QString StripTrailingSeparator(const QString& path);

// The seven field groups of page 3.
enum class FieldGroup { Source, Destination, TOCTemplate, IndexTemplate, CourseName, IndexName, TOCName };

struct FieldRules {
    std::vector<FieldGroup> shown;       // every other group is hidden
    std::vector<FieldGroup> required;    // checked before page 5
    std::vector<FieldGroup> notRequired; // marked as not checked
};

// The groups for an operation mask (at least one bit set).
FieldRules FieldRulesFor(std::uint16_t mask);

// What the run page starts from: the checked operations, the fields as typed, the settings' options
// without a control and the printers chosen on page 2.
struct RunRequest {
    std::uint16_t mask = 0;
    QString sourcePath;      // txtSourcePath
    QString destinationPath; // txtDestinationPath
    QString tocTemplate, tocName;
    QString indexTemplate, indexName;
    QString courseName;
    QString workingDirectory;      // the setting WorkingDirectory, as typed
    QString printReadyZipFilename; // the setting PrintReadyZipFilename
    bool makePDFs = false;         // chkPDF
    bool zipResult = false;        // chkZipPDFs
    QString pptPrinter, wordPrinter, pdfPrinter;
    indexing::TOCTitleSource tocTitleSource = indexing::TOCTitleSource::RuleThenPlaceholder; // as loaded
    QString indexLanguage;                   // the setting IndexLanguage as loaded
    printready::PrintSwitches printSwitches; // UseBackgroundPrinting, PublishPDFs, ArchivePDFs as loaded
    // Set when the person or a script asks the run to stop; none: the run cannot be stopped.
    platform::StopRequest* stop = nullptr;
    // Hands over the LibreOffice the window started ahead for the print-ready run (none: the run
    // starts its own); called once, when that run begins.
    std::function<std::unique_ptr<render::LibreOffice>()> takeWarmRenderer;
};

// What a run did, for the summary under the log: the operations called (in order) and the files the
// run wrote outside its working directory.
struct RunOutcome {
    QStringList operationsDone;
    QStringList filesWritten;
};

// Calls the checked operations one after another in their fixed order (grayscale, Index, TOC,
// print-ready, zip), each with the inputs it takes: the source and destination normalised, the TOC
// reading the working directory as typed when the Index ran before it and left its decks there, the
// Index cleaning up only when no TOC follows. One operation never stops the run: an operation that is
// not available, or a failure that escapes one, is logged as an error under "Wizard" and the next goes
// on. A stop is obeyed between files by the operation running; once it is requested no further
// operation is called, and the run logs "Stopped by the user" once.
RunOutcome RunOperations(const Operations& operations, const RunRequest& request);

} // namespace lf::wizard
