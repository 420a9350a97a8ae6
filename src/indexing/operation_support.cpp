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
    return platform::hostFsPath(host.path);
}

void RequireDocumentName(const QString& name, const char* document) {
    const QString problem = platform::fileNameProblem(name);
    if (!problem.isEmpty())
        throw std::runtime_error(std::string("the ") + document +
                                 " document name is not a file name: " + problem.toStdString());
}

courserun::StagedCourse StageDecks(courserun::CourseRun& run, const QString& sourcePath,
                                   const StagingLines& lines) {
    const QString& workingDirectory = run.workingDirectory();
    const bool fromRepository = platform::isRepositoryPath(sourcePath);
    if (!fromRepository && platform::sameLocation(sourcePath, workingDirectory)) {
        if (std::optional<courserun::LeftStaging> left = run.takeLeftStaging()) {
            // What the Index of this run left, never whatever else lies in the working directory.
            if (left->staged)
                return *left->staged;
            if (!platform::sameLocation(left->sourcePath, workingDirectory))
                return StageDecks(run, left->sourcePath, lines);
        }
    }
    courserun::StagedCourse staged =
        courserun::StageCourse(run, sourcePath, courserun::CourseFiles::Decks, false, lines.tag);
    if (!fromRepository)
        return staged;
    if (!staged.complete) {
        oplog::LogOperation(lines.tag, lines.exportFailed, true);
        oplog::ShowErrorDialog();
        // Part of a course is not a course: no document is written from what did arrive.
        throw std::runtime_error("the decks of " + sourcePath.toStdString() +
                                 " could not all be exported; no document was written");
    }
    oplog::LogOperation(
        lines.tag, QStringLiteral("Files downloaded to ") + workingDirectory + lines.downloadedFor, false);
    return staged;
}

OperationResources::OperationResources(const QString& tag, workfiles::WorkingFiles& workingFiles,
                                       bool cleanWorkingFiles)
    : tag_(tag), cleanup_(workingFiles, cleanWorkingFiles) {}

OperationResources::~OperationResources() {
    try {
        quitPowerPoint();
        if (hourglass_)
            platform::showDefaultPointer();
    } catch (const std::exception& failure) {
        oplog::LogFailure(tag_, QStringLiteral("Serious error:") +
                                    platform::withLocalPaths(QString::fromStdString(failure.what())));
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
