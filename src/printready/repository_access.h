#pragma once
// The repository steps of the grayscale, zip and print-ready operations, each on the run's session.
#include "courserun/course_run.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace lf::tessarel {
class TsObject;
template <class T> class TsList;
} // namespace lf::tessarel

namespace lf::printready {

// What a check-out returned; nullptr stands for nothing (no check-out took place or it failed).
using CheckedOutList = std::shared_ptr<lf::tessarel::TsList<lf::tessarel::TsObject>>;

// Checks out every object the query selects into the working directory (CheckOutObjects); the query
// of the grayscale operation is repository::deckQueryForFolder, which doubles the quotes of the path.
// Each deck goes into the working files record as checked out before it is written; checkedOutFiles
// receives their paths.
CheckedOutList CheckOutByQuery(courserun::CourseRun& run, const QString& query, QStringList* checkedOutFiles);
// Checks the list back in (CheckInObjects), nothing included; true when the check-in succeeded.
bool CheckInList(courserun::CourseRun& run, const CheckedOutList& checkedOut);

// Imports the files of sourceDirectory matching namePattern into the repository folder
// destinationPath (ImportFiles; with zipFirst, packed into sourceDirectory\zipFileName first); true on
// success.
bool ImportIntoFolder(courserun::CourseRun& run, const QString& sourceDirectory, const QString& namePattern,
                      const QString& destinationPath, bool zipFirst = false,
                      const QString& zipFileName = QString());

} // namespace lf::printready
