// The repository steps of the TOC and Index operations: staging a course folder by export, fetching a
// template object, and storing a written document as a new object, by import or as a new version.
// Each takes the program-wide session before it and hands it back after it, whichever way it ends.
#include "indexing/document_storage.h"
#include "indexing/operation_support.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
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
    repository::CheckInObjects(checkedOut);
}

void importAsNew(const QString& workingPath, const QString& fileName, const QString& destinationPath) {
    if (!repository::ImportFiles(workingPath, fileName, destinationPath, false, QString()))
        throw std::runtime_error("the document " + fileName.toStdString() + " could not be imported into " +
                                 destinationPath.toStdString());
}

} // namespace

QStringList ExportDecks(const QString& sourcePath, const QString& workingDirectory,
                        const StagingLines& lines) {
    SessionUse use;
    const QString folderId = repository::folderIdText(sourcePath);
    if (folderId.isEmpty())
        throw std::runtime_error("there is no folder at " + sourcePath.toStdString() + " in the repository");
    QStringList exported;
    if (!repository::ExportFolder(folderId, workingDirectory, repository::kExportDecks, &exported)) {
        oplog::LogOperation(lines.tag, lines.exportFailed, true);
        oplog::ShowErrorDialog();
        // Part of a course is not a course: no document is written from what did arrive.
        throw std::runtime_error("the decks of " + sourcePath.toStdString() +
                                 " could not all be exported; no document was written");
    }
    oplog::LogOperation(
        lines.tag, QStringLiteral("Files downloaded to ") + workingDirectory + lines.downloadedFor, false);
    return exported;
}

void ReportFailure(const QString& tag, const QString& description) {
    repository::ReportOperationError(tag, description);
}

void StoreInRepository(const SavedDocument& saved, const QString& fileName, const QString& destinationPath,
                       const QString& workingPath, const StorageTexts& texts) {
    const QString& savedFile = saved.path;
    SessionUse use;
    const tessarel::TsObjectPtr existing =
        use.session().objectByPath(repository::toLib(destinationPath + "/" + fileName));
    if (existing) {
        if (userWantsNewVersion(texts))
            checkInNewVersion(existing, savedFile);
        else
            importAsNew(workingPath, fileName, destinationPath);
    } else if (texts.newObjectByImport) {
        importAsNew(workingPath, fileName, destinationPath);
    } else {
        const tessarel::TsObjectPtr object = use.session().newObject("ts_document");
        object->setObjectName(repository::toLib(fileName));
        object->setFile(hostText(savedFile), "msw8");
        object->link(repository::toLib(destinationPath));
        object->save();
        oplog::LogOperation(texts.tag, texts.createdLine + destinationPath, false);
    }
    if (saved.isNew)
        workfiles::AddWorkingFile(savedFile);
}

namespace {

// The template object at the path and the file name it is fetched under.
std::pair<tessarel::TsObjectPtr, QString> templateObject(SessionUse& use, const QString& templatePath) {
    tessarel::TsObjectPtr object = use.session().objectByPath(repository::toLib(templatePath));
    if (!object)
        throw std::runtime_error("there is no template at " + templatePath.toStdString() +
                                 " in the repository");
    QString name = repository::fromLib(object->objectName());
    if (!name.endsWith(QLatin1String(".docx"), Qt::CaseInsensitive))
        name += QStringLiteral(".docx");
    return {std::move(object), name};
}

} // namespace

QString FetchRepositoryTemplate(const QString& templatePath, const QString& workingPath) {
    SessionUse use;
    const auto [object, name] = templateObject(use, templatePath);
    const QString localFile = platform::joinPath(workingPath, name);
    const bool isNew = !platform::pathExists(localFile);
    object->getFile(hostText(localFile));
    if (isNew)
        workfiles::AddWorkingFile(localFile);
    return localFile;
}

QString CopyRepositoryTemplate(const QString& templatePath, const QString& hostFolder) {
    SessionUse use;
    const auto [object, name] = templateObject(use, templatePath);
    object->getFile((hostFolder + QLatin1Char('/') + name).toStdString());
    return name;
}

} // namespace lf::indexing
