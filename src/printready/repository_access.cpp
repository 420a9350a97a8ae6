#include "printready/repository_access.h"

#include "repository/repository_ops.h"

namespace lf::printready {

CheckedOutList CheckOutByQuery(courserun::CourseRun& run, const QString& query,
                               QStringList* checkedOutFiles) {
    run.session();
    return repository::CheckOutObjects(run.workingDirectory(), query, nullptr, &run.workingFiles(),
                                       checkedOutFiles);
}

bool CheckInList(courserun::CourseRun& run, const CheckedOutList& checkedOut) {
    run.session();
    return repository::CheckInObjects(checkedOut);
}

bool ImportIntoFolder(courserun::CourseRun& run, const QString& sourceDirectory, const QString& namePattern,
                      const QString& destinationPath, bool zipFirst, const QString& zipFileName) {
    return repository::ImportFiles(run.session(), &run.workingFiles(), sourceDirectory, namePattern,
                                   destinationPath, zipFirst, zipFileName);
}

} // namespace lf::printready
