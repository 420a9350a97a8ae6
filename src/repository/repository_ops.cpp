#include "repository/repository_ops.h"

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"
#include "platform/stop_request.h"
#include "repository/connection.h"
#include "repository/monitor.h"
#include "workfiles/winzip.h"
#include "workfiles/working_files.h"

#include <QDir>
#include <QSet>

#include <limits>
#include <stdexcept>

namespace lf::repository {

namespace {

using platform::yieldToEventLoop;

void log(const QString& tag, const QString& message, bool isError = false) {
    oplog::LogOperation(tag, message, isError);
}

const char* const kPleaseWait = "Please wait, this could take a while";

// A failure of the program's own side (a path that cannot be mapped), reported like a library
// failure by the routine's error trap.
[[noreturn]] void failLocal(const QString& reason) {
    throw std::runtime_error(reason.toStdString());
}

std::string hostPathOf(const QString& localPath) {
    const auto host = platform::toHostPath(localPath);
    if (!host.ok())
        failLocal(host.error);
    return platform::hostFsPath(host.path).string();
}

// The file object for a local path; nothing when the path cannot be used.
tessarel::TsFileObjectPtr fileObjectFor(const QString& localPath) {
    const auto host = platform::toHostPath(localPath);
    if (!host.ok())
        return nullptr;
    return clientObject().fileObject(platform::hostFsPath(host.path).string());
}

tessarel::TsSessionPtr requireSession() {
    if (!connection().session)
        tessarel::fail(tessarel::code::NotConnected, "You are not connected to the repository");
    return connection().session;
}

void logOperationErrors(const tessarel::TsOperation& operation, const QString& tag, bool asErrors) {
    const auto errors = operation.errors();
    for (int i = 0; i < errors->count(); ++i)
        log(tag, platform::withLocalPaths(fromLib(errors->item(i)->getMessage())), asErrors);
}

struct CollectionCloser {
    tessarel::TsCollectionPtr rows;
    ~CollectionCloser() {
        if (rows) {
            try {
                rows->close();
            } catch (...) {
            }
        }
    }
};

} // namespace

QString localFileNameOf(const tessarel::TsObject& object) {
    const auto format = object.format();
    const std::string extension = format ? format->fileExtension() : std::string();
    return fromLib(tessarel::localFileName(object.objectName(), extension));
}

QString exportQuery(const QString& folderId, std::int16_t selector) {
    const QString start = "select r_object_id from ts_document where folder(ID('" + escapeTqlQuotes(folderId);
    switch (selector) {
    case kExportDecks:
        return start + "'),descend) and (a_content_type = 'ppt8')";
    case kExportWordDocuments:
        return start + "'),descend) and (a_content_type = 'msw8' or a_content_type = 'msw6')";
    case kExportDecksAndDocuments:
        return start + "'),descend) and (a_content_type = 'ppt8' or a_content_type = 'msw6' or "
                       "a_content_type = 'msw8')";
    default:
        return QString();
    }
}

bool ExportFolder(const tessarel::TsSessionPtr& session, workfiles::WorkingFiles* workingFiles,
                  const QString& folderId, const QString& destination, std::int16_t selector,
                  QStringList* exportedNames) {
    const char* const tag = "Export";
    const QString tql = exportQuery(folderId, selector);
    if (!session) {
        log(tag, "You are not connected to the repository.  Click the Connect button.");
        return false;
    }
    platform::showHourglass();
    try {
        auto query = clientObject().newQuery();
        query->setTQL(toLib(tql));
        yieldToEventLoop();
        CollectionCloser rows{query->execute(session, 0)};
        yieldToEventLoop();
        if (!rows.rows) {
            platform::showDefaultPointer();
            return true; // nothing to export
        }
        auto operation = clientObject().newExportOperation();
        const std::string destinationFolder = hostPathOf(destination);
        operation->setDestinationDirectory(destinationFolder);
        std::int16_t exportedRows = 0;
        while (rows.rows->next()) {
            yieldToEventLoop();
            if (exportedRows == std::numeric_limits<std::int16_t>::max())
                failLocal("Overflow");
            ++exportedRows;
            const auto id = clientObject().objectIdFromText(rows.rows->getString("r_object_id"));
            const auto object = session->objectById(id);
            // The record learns of the file before the export writes it: a kill in the middle of
            // the export leaves nothing the next run does not know to remove.
            if (workingFiles && object)
                workingFiles->willMake(destination + "\\" + localFileNameOf(*object));
            operation->add(object);
        }
        rows.rows->close();
        rows.rows.reset();

        log(tag, "Starting export to " + destination);
        log(tag, kPleaseWait);
        yieldToEventLoop();
        auto monitor = std::make_shared<clsOperationMonitor>();
        operation->setMonitor(monitor);
        const bool ok = operation->execute();
        // Each file goes by the name the export gave it: the object name, with the format's extension
        // added unless the name already ends in it.
        const auto exported = operation->exportedObjects();
        for (int i = 0; exportedNames && i < exported->count(); ++i)
            exportedNames->append(localFileNameOf(*exported->item(i)));
        if (ok) {
            monitor->terminateProgress();
            yieldToEventLoop();
            platform::showDefaultPointer();
            log(tag, "Exported " + QString::number(exportedRows) + " objects");
            return true;
        }
        monitor->terminateProgress();
        platform::showDefaultPointer();
        logOperationErrors(*operation, tag, false);
        return false;
    } catch (const std::exception& e) {
        platform::showDefaultPointer();
        ReportOperationError(tag, QString::fromStdString(e.what()));
        return false;
    }
}

std::vector<ExportItem> ExportItems(const QString& folderId, std::int16_t selector) {
    const auto session = requireSession();
    auto query = clientObject().newQuery();
    query->setTQL(toLib(exportQuery(folderId, selector)));
    CollectionCloser rows{query->execute(session, 0)};
    std::vector<ExportItem> items;
    while (rows.rows && rows.rows->next()) {
        auto object =
            session->objectById(clientObject().objectIdFromText(rows.rows->getString("r_object_id")));
        QString name = localFileNameOf(*object);
        items.push_back({std::move(object), std::move(name)});
    }
    return items;
}

bool ImportFiles(const tessarel::TsSessionPtr& session, workfiles::WorkingFiles* workingFiles,
                 const QString& sourceDirectory, const QString& namePattern, const QString& destinationPath,
                 bool zipFirst, const QString& zipFileName) {
    const char* const tag = "Import";
    if (!session) {
        log(tag, "Please connect first.  Use the Connect button.");
        return false;
    }
    // A refusal before anything is imported: its failure line, and the pointer back.
    const auto refuse = [&](const QString& line) {
        oplog::LogFailure(tag, line);
        platform::showDefaultPointer();
        return false;
    };
    platform::showHourglass();
    try {
        auto operation = clientObject().newImportOperation();
        operation->setSession(session);
        if (zipFirst) {
            // The zip is made in the folder it packs and imported from there: a name that leads out of
            // it (or to a user's file) would put that file into the repository.
            const QString nameProblem = platform::fileNameProblem(zipFileName);
            if (!nameProblem.isEmpty())
                return refuse("The zip file name is not a file name: " + nameProblem +
                              "; nothing was imported");
            if (workingFiles)
                workingFiles->willMake(sourceDirectory + "\\" + zipFileName);
            if (const QString packerFailure =
                    workfiles::RunWinZip(sourceDirectory + namePattern, sourceDirectory + "\\" + zipFileName);
                !packerFailure.isEmpty()) {
                oplog::LogFailure("Zip", packerFailure);
                return refuse("The zip file " + zipFileName + " was not made; nothing was imported");
            }
            platform::messageBox("WinZip Done?", "Please click OK when WinZip is finished",
                                 platform::MessageIcon::Information);
            yieldToEventLoop();
            const auto file = fileObjectFor(sourceDirectory + "\\" + zipFileName);
            if (!file) {
                log(tag, "There is a problem with your path or file name.");
                platform::showDefaultPointer();
                return false;
            }
            operation->add(file);
            log(tag, "Added node " + fromLib(file->name()));
        } else {
            QString error;
            const QStringList names =
                platform::Dir(sourceDirectory + "\\" + namePattern, platform::EntryKind::Files, &error);
            if (!error.isEmpty())
                failLocal(error);
            // The repository keeps names as text: a name in bytes that are not UTF-8 would be kept
            // spelled otherwise, and exported under a name the course never had.
            for (const QString& name : names)
                if (platform::holdsUndecodedBytes(name))
                    return refuse("The repository cannot keep the name \"" + name +
                                  "\" as it is (it is not UTF-8, as names copied from an old Windows share "
                                  "can be); rename the file with its proper characters to import it; nothing "
                                  "was imported");
            for (const QString& name : names) {
                const auto file = fileObjectFor(sourceDirectory + "\\" + name);
                if (!file) {
                    log(tag, "There is a problem with your path or file name.");
                    platform::showDefaultPointer();
                    return false;
                }
                const auto node = std::dynamic_pointer_cast<tessarel::TsImportNode>(operation->add(file));
                if (node)
                    node->setNewObjectName(file->name());
                log(tag, "Added node " + fromLib(file->name()));
            }
        }
        const auto folder = session->folderByPath(toLib(destinationPath));
        const auto folderId = folder ? folder->objectId() : nullptr;
        if (!folderId || folderId->text().empty()) {
            log(tag, "Destination path is non-existant or ID cannot be retrieved.");
            platform::showDefaultPointer();
            return false;
        }
        operation->setDestinationFolder(folderId);
        log(tag, "Starting import into " + destinationPath);
        log(tag, kPleaseWait);
        yieldToEventLoop();
        auto monitor = std::make_shared<clsOperationMonitor>();
        operation->setMonitor(monitor);
        const bool ok = operation->execute();
        monitor->terminateProgress();
        if (ok) {
            yieldToEventLoop();
            platform::showDefaultPointer();
            log(tag, "Import successful");
            return true;
        }
        platform::showDefaultPointer();
        logOperationErrors(*operation, tag, false);
        return false;
    } catch (const std::exception& e) {
        platform::showDefaultPointer();
        ReportOperationError("import", QString::fromStdString(e.what()));
        return false;
    }
}

tessarel::TsObjectListPtr CheckOutObjects(const QString& destination, const QString& query,
                                          const tessarel::TsObjectPtr& object,
                                          workfiles::WorkingFiles* workingFiles,
                                          QStringList* checkedOutFiles) {
    const char* const tag = "Checkout";
    tessarel::TsObjectListPtr result;
    // The record learns of each deck before the check-out writes it; a checked-out deck is never
    // deleted while it holds an author's work.
    auto recordCheckOut = [&](const tessarel::TsObjectPtr& found) {
        if (!found)
            return;
        const QString path = destination + "\\" + localFileNameOf(*found);
        if (workingFiles)
            workingFiles->willCheckOut(path);
        if (checkedOutFiles)
            checkedOutFiles->append(path);
    };
    try {
        auto operation = clientObject().newCheckoutOperation();
        operation->setDestinationDirectory(hostPathOf(destination));
        const auto session = requireSession();
        if (!query.isEmpty() || !object) {
            auto tql = clientObject().newQuery();
            tql->setTQL(toLib(query));
            yieldToEventLoop();
            CollectionCloser rows{tql->execute(session, 0)};
            yieldToEventLoop();
            while (rows.rows && rows.rows->next()) {
                yieldToEventLoop();
                const auto id = clientObject().objectIdFromText(rows.rows->getString("r_object_id"));
                const auto found = session->objectById(id);
                recordCheckOut(found);
                const auto node = std::dynamic_pointer_cast<tessarel::TsCheckoutNode>(operation->add(found));
                if (node)
                    log(tag, "Added " + fromLib(node->objectId()->text()));
            }
            if (rows.rows) {
                rows.rows->close();
                rows.rows.reset();
            }
        } else {
            recordCheckOut(object);
            operation->add(object);
        }
        log(tag, "Starting checkout");
        log(tag, kPleaseWait);
        yieldToEventLoop();
        auto monitor = std::make_shared<clsOperationMonitor>();
        operation->setMonitor(monitor);
        if (operation->execute()) {
            log(tag, "Items checked out");
            result = operation->checkedOutObjects();
        } else {
            logOperationErrors(*operation, tag, true);
            log(tag, "Errors encountered during checkout operation", true);
            if (oplog::ShowErrorDialog()) {
                log(tag, "User chose to continue after errors");
            } else {
                log(tag, "User chose not to continue after errors");
                monitor->terminateProgress();
                CancelCheckOuts(operation->checkedOutObjects());
                if (workingFiles && checkedOutFiles)
                    for (const QString& path : *checkedOutFiles)
                        workingFiles->checkedIn(path);
                throw platform::Stopped();
            }
        }
        monitor->terminateProgress();
        yieldToEventLoop();
        return result;
    } catch (const platform::Stopped&) {
        throw;
    } catch (const std::exception& e) {
        ReportOperationError("checkout", QString::fromStdString(e.what()));
        return nullptr;
    }
}

bool CheckInObjects(const tessarel::TsObjectListPtr& objects) {
    const char* const tag = "Checkin";
    try {
        auto operation = clientObject().newCheckinOperation();
        if (!objects) {
            platform::messageBox("No checkout", "No objects were checked out!\nCannot continue.",
                                 platform::MessageIcon::Critical);
            log(tag, "No checked out objects could be found", true);
            return false;
        }
        const auto session = requireSession();
        for (int i = 0; i < objects->count(); ++i) {
            const auto id = objects->item(i)->objectId();
            const auto node =
                std::dynamic_pointer_cast<tessarel::TsCheckinNode>(operation->add(session->objectById(id)));
            if (node)
                log(tag, "Added checkin node " + fromLib(node->objectId()->text()));
        }
        log(tag, "Starting checkin");
        log(tag, kPleaseWait);
        yieldToEventLoop();
        auto monitor = std::make_shared<clsOperationMonitor>();
        operation->setMonitor(monitor);
        const bool ok = operation->execute();
        if (ok) {
            log(tag, "Items checked in");
        } else {
            logOperationErrors(*operation, tag, true);
            log(tag, "Errors encountered during checkin operations", true);
            if (oplog::ShowErrorDialog()) {
                log(tag, "User chose to continue after errors");
            } else {
                log(tag, "User chose not to continue after errors");
                monitor->terminateProgress();
                throw platform::Stopped();
            }
        }
        monitor->terminateProgress();
        yieldToEventLoop();
        return ok;
    } catch (const platform::Stopped&) {
        throw;
    } catch (const std::exception& e) {
        ReportOperationError("checkin", QString::fromStdString(e.what()));
        return false;
    }
}

void CancelCheckOuts(const tessarel::TsObjectListPtr& objects) {
    if (!objects)
        return;
    const auto session = requireSession();
    for (int i = 0; i < objects->count(); ++i) {
        const auto object = session->objectById(objects->item(i)->objectId());
        if (!object || !object->isCheckedOut())
            continue;
        object->cancelCheckout();
        log("Checkout", "Cancelled the check-out of " + fromLib(object->objectName()));
    }
}

QString folderIdText(const QString& repositoryPath) {
    const auto object = requireSession()->objectByPath(toLib(repositoryPath));
    if (!object)
        return QString();
    const auto id = object->objectId();
    return id ? fromLib(id->text()) : QString();
}

} // namespace lf::repository
