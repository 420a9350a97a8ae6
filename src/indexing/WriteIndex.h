#pragma once
// The Index document writer: the entry table its collection hands it, sorted and written into a new document
// made from the Index template, one paragraph per word with its module-slide references under a heading per
// letter of the course's language, saved in the working path and stored at the destination like the TOC.
#include "indexing/IndexCollation.h"
#include "indexing/modTagwise.h"

#include <QString>

namespace lf::courserun {
class CourseRun;
}

namespace lf::indexing {

// Logs under "WriteIndex" when it fails, under "Index" when it stores the document locally.
// course: the run the document is written for (its working files, the files it wrote). collation: the
// order and the group headings of the course's language.
void WriteIndex(EntryTable& table, IndexCollation& collation, const QString& templatePath,
                bool templateInRepository, const QString& indexFileName, const QString& destinationPath,
                const QString& courseName, const QString& workingPath, courserun::CourseRun& course);

// The Index line of entry i (1-based) before wrapping: "Cache, 1-4, 2-9".
QString IndexLine(const EntryTable& table, int entry);

} // namespace lf::indexing
