#include "indexing/operation_support.h"

#include "office/presentation/presentation.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"
#include "printready/working_files.h"

#include <stdexcept>

namespace lf::indexing {

std::filesystem::path hostFile(const QString& localPath) {
    const platform::HostPath host = platform::toHostPath(localPath);
    if (!host.ok())
        throw std::runtime_error(localPath.toStdString() + ": " + host.error.toStdString());
    return std::filesystem::path(host.path.toStdString());
}

namespace {

QString copyDecksToWorkingDirectory(const QString& sourcePath, const QString& workingDirectory,
                                    const QString& tag) {
    oplog::LogOperation(tag, QStringLiteral("Copying files to working directory"), false);
    const QStringList decks =
        platform::Dir(platform::joinPath(sourcePath, QStringLiteral("*.pptx")), platform::EntryKind::Files);
    for (const QString& name : decks) {
        const QString from = platform::joinPath(sourcePath, name);
        const QString to = platform::joinPath(workingDirectory, name);
        QString error;
        if (!platform::copyFile(from, to, &error))
            throw std::runtime_error("cannot copy " + from.toStdString() + " to " + to.toStdString() + ": " +
                                     error.toStdString());
        oplog::LogOperation(
            tag, QStringLiteral("Copied ") + from + QStringLiteral(" to ") + workingDirectory + "\\", false);
        printready::AddWorkingFile(to);
    }
    return workingDirectory;
}

} // namespace

QString StageDecks(const QString& sourcePath, const QString& workingDirectory, const StagingLines& lines) {
    if (platform::isRepositoryPath(sourcePath))
        return ExportDecks(sourcePath, workingDirectory, lines);
    if (workingDirectory != sourcePath)
        return copyDecksToWorkingDirectory(sourcePath, workingDirectory, lines.tag);
    return sourcePath;
}

OperationResources::OperationResources() = default;

OperationResources::~OperationResources() {
    quitPowerPoint();
    if (hourglass_)
        platform::showDefaultPointer();
}

ppt::Application& OperationResources::startPowerPoint() {
    powerPoint_ = std::make_unique<ppt::Application>();
    powerPoint_->setVisible(true);
    powerPoint_->setWindowState(ppt::office::ppWindowMinimized);
    return *powerPoint_;
}

void OperationResources::quitPowerPoint() {
    if (powerPoint_) {
        powerPoint_->quit();
        powerPoint_.reset();
    }
}

void OperationResources::finish(bool cleanWorkingFiles, const QString& tag, const QString& closingLine) {
    if (cleanWorkingFiles)
        printready::CleanWorkingFiles();
    quitPowerPoint();
    platform::yieldToEventLoop();
    oplog::LogOperation(tag, closingLine, false);
}

void OperationResources::showHourglass() {
    platform::showHourglass();
    hourglass_ = true;
}

void OperationResources::showDefaultPointer() {
    platform::showDefaultPointer();
    hourglass_ = false;
}

} // namespace lf::indexing
