#pragma once
// The TOC document writer: the entry table its collection hands it, in table order, written into a new
// document made from the TOC template, saved in the working path and stored at the destination (a local
// folder, or a repository folder as a new object or a new version).
#include "indexing/modTagwise.h"

#include <QString>

namespace lf::courserun {
class CourseRun;
}

namespace lf::indexing {

// Logs under "WriteTOC" when it fails, under "TOC" when it stores the document. course is the run the
// document is written for (its working files, the files it wrote).
void WriteTOC(const EntryTable& table, const QString& templatePath, bool templateInRepository,
              const QString& tocFileName, const QString& destinationPath, const QString& courseName,
              const QString& workingPath, courserun::CourseRun& course);

// The TOC line of entry i (1-based): the word, then a tab and a module-slide reference per mark.
QString TOCLine(const EntryTable& table, int entry);

} // namespace lf::indexing
