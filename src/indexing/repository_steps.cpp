// The repository steps of the TOC and Index operations: staging a course folder by export, fetching a
// template object, and storing a written document as a new object, by import or as a new version.
// Each works on the run's session.
#include "courserun/course_run.h"
#include "indexing/document_storage.h"
#include "indexing/operation_support.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/stop_request.h"
#include "repository/connection.h"
#include "repository/repository_ops.h"
#include "workfiles/working_files.h"

#include <stdexcept>
#include <utility>

namespace lf::indexing {

namespace {

using repository::SessionUse;

std::string hostText(const QString& localPath) {
    return hostFile(localPath).string();
}

// The question asked when the document already stands in the destination folder.
bool userWantsNewVersion(const StorageTexts& texts) {
    return platform::messageBox(QStringLiteral("Version object"),
                                texts.versionFirstLine +
                                    QStringLiteral("\nthe selected location.  Would you like to version \n"
                                                   "it (Yes) or import it as new (No)?"),
                                platform::MessageIcon::Exclamation,
                                platform::MessageButtons::YesNo) == platform::MessageAnswer::Yes;
}

void checkInNewVersion(const tessarel::TsObjectPtr& object, const QString& savedFile) {
    if (object->isCheckedOut()) {
        object->setFile(hostText(savedFile));
        auto list = std::make_shared<tessarel::TsObjectList>();
        list->append(object);
        repository::CheckInObjects(list);
        return;
    }
    const QString checkOutFolder = QStringLiteral("C:\\temp\\");
    if (!platform::folderExists(checkOutFolder))
        platform::makeFolder(QStringLiteral("C:\\temp"));
    const tessarel::TsObjectListPtr checkedOut =
        repository::CheckOutObjects(checkOutFolder, QString(), object);
    if (!checkedOut)
        throw std::runtime_error("the document " + object->objectName() + " could not be checked out");
    object->setFile(hostText(savedFile));
    checkedOut->clear();
    checkedOut->append(object);
    try {
        repository::CheckInObjects(checkedOut);
    } catch (const platform::Stopped&) {
        // Not continued after errors: the document this step checked out does not stay checked out.
        repository::CancelCheckOuts(checkedOut);
        throw;
    }
}

void importAsNew(courserun::CourseRun& course, const QString& workingPath, const QString& fileName,
                 const QString& destinationPath) {
    if (!repository::ImportFiles(course.session(), &course.workingFiles(), workingPath, fileName,
                                 destinationPath, false, QString()))
        throw std::runtime_error("the document " + fileName.toStdString() + " could not be imported into " +
                                 destinationPath.toStdString());
}

} // namespace

void ReportFailure(const QString& tag, const QString& description) {
    repository::ReportOperationError(tag, description);
}

void StoreInRepository(courserun::CourseRun& course, const QString& savedFile, const QString& fileName,
                       const QString& destinationPath, const QString& workingPath,
                       const StorageTexts& texts) {
    tessarel::TsSession& session = *course.session();
    const tessarel::TsObjectPtr existing =
        session.objectByPath(repository::toLib(destinationPath + "/" + fileName));
    if (existing) {
        if (userWantsNewVersion(texts))
            checkInNewVersion(existing, savedFile);
        else
            importAsNew(course, workingPath, fileName, destinationPath);
    } else if (texts.newObjectByImport) {
        importAsNew(course, workingPath, fileName, destinationPath);
    } else {
        const tessarel::TsObjectPtr object = session.newObject("ts_document");
        object->setObjectName(repository::toLib(fileName));
        object->setFile(hostText(savedFile), "msw8");
        object->link(repository::toLib(destinationPath));
        object->save();
        oplog::LogOperation(texts.tag, texts.createdLine + destinationPath, false);
    }
}

namespace {

// The template object at the path and the file name it is fetched under.
std::pair<tessarel::TsObjectPtr, QString> templateObject(tessarel::TsSession& session,
                                                         const QString& templatePath) {
    tessarel::TsObjectPtr object = session.objectByPath(repository::toLib(templatePath));
    if (!object)
        throw std::runtime_error("there is no template at " + templatePath.toStdString() +
                                 " in the repository");
    QString name = repository::fromLib(object->objectName());
    if (!name.endsWith(QLatin1String(".docx"), Qt::CaseInsensitive))
        name += QStringLiteral(".docx");
    return {std::move(object), name};
}

} // namespace

QString FetchRepositoryTemplate(courserun::CourseRun& course, const QString& templatePath,
                                const QString& workingPath) {
    const auto [object, name] = templateObject(*course.session(), templatePath);
    const QString localFile = platform::joinPath(workingPath, name);
    course.workingFiles().willMake(localFile);
    object->getFile(hostText(localFile));
    return localFile;
}

QString CopyRepositoryTemplate(const QString& templatePath, const QString& hostFolder) {
    SessionUse use;
    const auto [object, name] = templateObject(use.session(), templatePath);
    object->getFile((hostFolder + QLatin1Char('/') + name).toStdString());
    return name;
}

} // namespace lf::indexing
