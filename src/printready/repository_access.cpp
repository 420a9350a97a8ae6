#include "printready/repository_access.h"

#include "repository/connection.h"
#include "repository/repository_ops.h"

#include <stdexcept>

namespace lf::printready {

using repository::SessionUse;

CheckedOutList CheckOutByQuery(const QString& destination, const QString& query) {
    SessionUse use;
    return repository::CheckOutObjects(destination, query, nullptr);
}

void CheckInList(const CheckedOutList& checkedOut) {
    SessionUse use;
    repository::CheckInObjects(checkedOut);
}

bool ExportCourseFolder(const QString& folderPath, const QString& destination) {
    SessionUse use;
    const QString folderId = repository::folderIdText(folderPath);
    if (folderId.isEmpty())
        throw std::runtime_error("There is no folder " + folderPath.toStdString() + " in the repository");
    return repository::ExportFolder(folderId, destination, repository::kExportDecksAndDocuments);
}

bool ImportIntoFolder(const QString& sourceDirectory, const QString& namePattern,
                      const QString& destinationPath, bool zipFirst, const QString& zipFileName) {
    SessionUse use;
    return repository::ImportFiles(sourceDirectory, namePattern, destinationPath, zipFirst, zipFileName);
}

} // namespace lf::printready
