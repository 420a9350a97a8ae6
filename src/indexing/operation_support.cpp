#include "indexing/operation_support.h"

#include "office/presentation/presentation.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"
#include "workfiles/working_files.h"

#include <stdexcept>

namespace lf::indexing {

std::filesystem::path hostFile(const QString& localPath) {
    const platform::HostPath host = platform::toHostPath(localPath);
    if (!host.ok())
        throw std::runtime_error(localPath.toStdString() + ": " + host.error.toStdString());
    return std::filesystem::path(host.path.toStdString());
}

void RequireDocumentName(const QString& name, const char* document) {
    const QString problem = platform::fileNameProblem(name);
    if (!problem.isEmpty())
        throw std::runtime_error(std::string("the ") + document +
                                 " document name is not a file name: " + problem.toStdString());
}

namespace {

std::optional<LeftStaging>& leftStaging() {
    static std::optional<LeftStaging> left;
    return left;
}

std::optional<LeftStaging> takeLeftStaging() {
    std::optional<LeftStaging> left = std::move(leftStaging());
    leftStaging().reset();
    return left;
}

// Two names that the program's paths cannot tell apart would be staged as one file, and one module
// would silently replace the other.
void refuseNamesDifferingInCase(const QString& folder, const QStringList& names) {
    const QString problem = platform::namesDifferingOnlyInCase(folder, names);
    if (!problem.isEmpty())
        throw std::runtime_error(problem.toStdString());
}

QStringList decksIn(const QString& folder) {
    return platform::Dir(platform::joinPath(folder, QStringLiteral("*.pptx")), platform::EntryKind::Files);
}

StagedDecks copyDecksToWorkingDirectory(const QString& sourcePath, const QString& workingDirectory,
                                        const QString& tag) {
    if (!platform::folderExists(sourcePath))
        return {sourcePath, {}};
    const QStringList decks = decksIn(sourcePath);
    refuseNamesDifferingInCase(sourcePath, decks);
    oplog::LogOperation(tag, QStringLiteral("Copying files to working directory"), false);
    for (const QString& name : decks) {
        const QString from = platform::joinPath(sourcePath, name);
        const QString to = platform::joinPath(workingDirectory, name);
        QString error;
        const platform::CopyOutcome outcome = platform::copyFile(from, to, &error);
        if (outcome == platform::CopyOutcome::Failed)
            throw std::runtime_error("cannot copy " + from.toStdString() + " to " + to.toStdString() + ": " +
                                     error.toStdString());
        oplog::LogOperation(
            tag, QStringLiteral("Copied ") + from + QStringLiteral(" to ") + workingDirectory + "\\", false);
        if (outcome == platform::CopyOutcome::Created)
            workfiles::AddWorkingFile(to);
    }
    return {workingDirectory, decks};
}

} // namespace

void LeaveStagingForNextCollection(std::optional<LeftStaging> staging) {
    leftStaging() = std::move(staging);
}

StagedDecks StageDecks(const QString& sourcePath, const QString& workingDirectory,
                       const StagingLines& lines) {
    if (platform::isRepositoryPath(sourcePath)) {
        QStringList names;
        for (const QString& name : ExportDecks(sourcePath, workingDirectory, lines))
            if (!name.startsWith(QLatin1Char('.')) && platform::wildcardMatch(name, QStringLiteral("*.pptx")))
                names.append(name);
        platform::sortInListingOrder(names);
        refuseNamesDifferingInCase(sourcePath, names);
        return {workingDirectory, names};
    }
    if (!platform::sameLocation(sourcePath, workingDirectory))
        return copyDecksToWorkingDirectory(sourcePath, workingDirectory, lines.tag);
    // The source is the working directory: the decks the Index left there for this collection, or,
    // when its staging did not complete, the course it was staging; otherwise the folder itself.
    if (std::optional<LeftStaging> left = takeLeftStaging()) {
        if (left->decks && platform::sameLocation(left->decks->workingPath, workingDirectory))
            return *left->decks;
        if (!left->decks && !platform::sameLocation(left->sourcePath, workingDirectory))
            return StageDecks(left->sourcePath, workingDirectory, lines);
    }
    const QStringList decks = decksIn(sourcePath);
    refuseNamesDifferingInCase(sourcePath, decks);
    return {sourcePath, decks};
}

OperationResources::OperationResources(const QString& tag, const QString& workingDirectory,
                                       bool cleanWorkingFiles)
    : tag_(tag), cleanup_(workingDirectory, cleanWorkingFiles) {}

OperationResources::~OperationResources() {
    try {
        quitPowerPoint();
        if (hourglass_)
            platform::showDefaultPointer();
    } catch (const std::exception& failure) {
        oplog::LogFailure(tag_, QStringLiteral("Serious error:") + QString::fromStdString(failure.what()));
    }
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

void OperationResources::finish(const QString& closingLine) {
    cleanup_.now();
    quitPowerPoint();
    platform::yieldToEventLoop();
    oplog::LogOperation(tag_, closingLine, false);
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
