#pragma once
// The table of contents operation: stages the course's decks, fills the entry table with one module
// heading per deck and one entry per slide title, and has WriteTOC turn it into the TOC document.
#include "indexing/toc_title_source.h"

#include <QString>

namespace lf::courserun {
class CourseRun;
}

namespace lf::indexing {

// Logs under "TOC". source is the normalized source path, or the working directory as typed when the
// Index ran just before and left its staged decks there (in the run). titleSource says where slide
// titles and module headings come from (the setting TOCTitleSource).
void CollectTOC(courserun::CourseRun& run, const QString& tocTemplate, const QString& tocFileName,
                const QString& sourcePath, const QString& destinationPath, const QString& courseName,
                bool cleanWorkingFiles, TOCTitleSource titleSource);
// The operation as a run of its own in workingDirectory.
void CollectTOC(const QString& tocTemplate, const QString& tocFileName, const QString& sourcePath,
                const QString& destinationPath, const QString& courseName, const QString& workingDirectory,
                bool cleanWorkingFiles, TOCTitleSource titleSource);

} // namespace lf::indexing
