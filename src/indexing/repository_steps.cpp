// The repository steps of the TOC and Index operations.
#include "indexing/document_storage.h"
#include "indexing/operation_support.h"
#include "platform/oplog.h"

#include <stdexcept>

namespace lf::indexing {

QString ExportDecks(const QString& sourcePath, const QString&, const StagingLines&) {
    throw std::runtime_error("the repository is not reachable from this build: " + sourcePath.toStdString());
}

void ReportFailure(const QString& tag, const QString& description) {
    oplog::LogOperation(tag, QStringLiteral("Serious error:") + description, false);
}

void StoreInRepository(const QString&, const QString&, const QString& destinationPath, const QString&,
                       const StorageTexts&) {
    throw std::runtime_error("the repository is not reachable from this build: " +
                             destinationPath.toStdString());
}

QString FetchRepositoryTemplate(const QString& templatePath, const QString&) {
    throw std::runtime_error("the repository is not reachable from this build: " +
                             templatePath.toStdString());
}

} // namespace lf::indexing
