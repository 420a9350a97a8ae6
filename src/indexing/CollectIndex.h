#pragma once
// The Index operation: stages the course's decks, reads the word tagged in every custom XML part of
// every slide, merges equal words into entries with all their module-slide references, and has
// WriteIndex turn the table into the Index document. When the file source + "\TagwiseDebug.txt"
// exists, every tagged word is also written to it, one line each ("cache 3-12").
#include <QString>

namespace lf::courserun {
class CourseRun;
}

namespace lf::indexing {

// Logs under "Index". cleanWorkingFiles is false when the TOC follows and reads the staged decks, which
// the Index then leaves in the run for it. indexLanguage: the setting IndexLanguage, the BCP 47 tag of the
// language the Index is sorted and grouped in ("" for the system's; see IndexCollation).
void CollectIndex(courserun::CourseRun& run, const QString& indexTemplate, const QString& indexFileName,
                  const QString& sourcePath, const QString& destinationPath, const QString& courseName,
                  bool cleanWorkingFiles, const QString& indexLanguage = QString());
// The operation as a run of its own in workingDirectory.
void CollectIndex(const QString& indexTemplate, const QString& indexFileName, const QString& sourcePath,
                  const QString& destinationPath, const QString& courseName, const QString& workingDirectory,
                  bool cleanWorkingFiles, const QString& indexLanguage = QString());

} // namespace lf::indexing
