#include "courserun/course_run.h"

#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "repository/connection.h"
#include "repository/repository_ops.h"

#include <QCoreApplication>
#include <QDateTime>

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace lf::courserun {

namespace {

// Two names that the program's paths cannot tell apart would be staged as one file, and one module
// would silently replace the other.
void refuseNamesDifferingInCase(const QString& folder, const QStringList& names) {
    const QString problem = platform::namesDifferingOnlyInCase(folder, names);
    if (!problem.isEmpty())
        throw std::runtime_error(problem.toStdString());
}

QStringList filesIn(const QString& folder, const QString& pattern) {
    return platform::Dir(platform::joinPath(folder, pattern), platform::EntryKind::Files);
}

QString hostKey(const QString& path) {
    const platform::HostPath host = platform::toHostPath(path);
    if (!host.ok())
        return QString();
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::canonical(platform::hostFsPath(host.path), ec);
    return ec ? host.path : platform::fromHostFsPath(canonical);
}

StagedCourse exportCourse(CourseRun& run, const QString& sourcePath, CourseFiles files) {
    const tessarel::TsSessionPtr& session = run.session();
    const tessarel::TsObjectPtr folder = session->objectByPath(repository::toLib(sourcePath));
    const auto id = folder ? folder->objectId() : nullptr;
    if (!id || id->text().empty())
        throw std::runtime_error("there is no folder at " + sourcePath.toStdString() + " in the repository");
    const std::int16_t selector =
        files == CourseFiles::Decks ? repository::kExportDecks : repository::kExportDecksAndDocuments;
    QStringList exported;
    StagedCourse staged;
    staged.folder = run.workingDirectory();
    staged.complete = repository::ExportFolder(session, &run.workingFiles(), repository::fromLib(id->text()),
                                               run.workingDirectory(), selector, &exported);
    for (const QString& name : exported) {
        if (name.startsWith(QLatin1Char('.')))
            continue;
        if (platform::wildcardMatch(name, QStringLiteral("*.pptx")) && !staged.decks.contains(name))
            staged.decks.append(name);
        else if (files == CourseFiles::DecksAndDocuments &&
                 platform::wildcardMatch(name, QStringLiteral("*.docx")) && !staged.documents.contains(name))
            staged.documents.append(name);
    }
    platform::sortInListingOrder(staged.decks);
    platform::sortInListingOrder(staged.documents);
    refuseNamesDifferingInCase(sourcePath, staged.decks + staged.documents);
    return staged;
}

StagedCourse readInPlace(const QString& folder, CourseFiles files) {
    StagedCourse staged{folder, {}, {}, true};
    if (!platform::folderExists(folder))
        return staged;
    staged.decks = filesIn(folder, QStringLiteral("*.pptx"));
    if (files == CourseFiles::DecksAndDocuments)
        staged.documents = filesIn(folder, QStringLiteral("*.docx"));
    refuseNamesDifferingInCase(folder, staged.decks + staged.documents);
    return staged;
}

StagedCourse copyDecks(CourseRun& run, const QString& sourcePath, const QString& tag) {
    if (!platform::folderExists(sourcePath))
        return {sourcePath, {}, {}, true};
    const QString& workingDirectory = run.workingDirectory();
    const QStringList decks = filesIn(sourcePath, QStringLiteral("*.pptx"));
    refuseNamesDifferingInCase(sourcePath, decks);
    oplog::LogOperation(tag, QStringLiteral("Copying files to working directory"), false);
    // The copies are recorded together, in one flushed write, before the first is made.
    QStringList copies;
    for (const QString& name : decks)
        copies.append(platform::joinPath(workingDirectory, name));
    run.workingFiles().willMake(copies);
    for (qsizetype i = 0; i < decks.size(); ++i) {
        const QString& name = decks[i];
        const QString from = platform::joinPath(sourcePath, name);
        const QString& to = copies[i];
        QString error;
        if (platform::copyFile(from, to, &error) == platform::CopyOutcome::Failed) {
            // The copies never made are no working files: the cleanup has nothing of them to delete.
            for (qsizetype j = i; j < copies.size(); ++j)
                if (!platform::pathExists(copies[j]))
                    run.workingFiles().release(copies[j]);
            throw std::runtime_error("cannot copy " + from.toStdString() + " to " + to.toStdString() + ": " +
                                     error.toStdString());
        }
        oplog::LogOperation(
            tag, QStringLiteral("Copied ") + from + QStringLiteral(" to ") + workingDirectory + "\\", false);
    }
    return {workingDirectory, decks, {}, true};
}

} // namespace

namespace {

// The working directory lock: a hidden file, so no listing, staging or zip of the folder takes it.
const char* const kLockName = ".lessonforge-run";

// Who holds the lock, as another run shows it: "lessonforge-run (process 4711), started 2026-12-09 21:30:05".
std::string holderText() {
    const QString program =
        QCoreApplication::instance() ? QCoreApplication::applicationName() : QStringLiteral("Lessonforge");
    return QString("%1 (process %2), started %3")
        .arg(program.isEmpty() ? QStringLiteral("Lessonforge") : program)
        .arg(QCoreApplication::applicationPid())
        .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
        .toStdString();
}

std::optional<platform::LockFile> takeWorkingDirectory(const QString& workingDirectory) {
    const platform::HostPath host = platform::toHostPath(workingDirectory);
    // Nothing is made in a working directory that is not there, so there is nothing to share.
    if (!host.ok() || platform::hostKind(host.path) != platform::HostKind::Folder)
        return std::nullopt;
    const std::filesystem::path lockFile = platform::hostFsPath(host.path) / kLockName;
    std::string heldBy;
    std::string error;
    std::optional<platform::LockFile> lock =
        platform::LockFile::tryTake(lockFile, holderText(), &heldBy, &error);
    if (lock)
        return lock;
    if (!error.empty())
        throw std::runtime_error("the working directory " + workingDirectory.toStdString() +
                                 " cannot be taken for this run: " + error);
    throw WorkingDirectoryInUse("The working directory " + workingDirectory.toStdString() +
                                " is in use by another run (" + (heldBy.empty() ? "starting" : heldBy) +
                                "); try again when it has ended, or give this run another working directory");
}

} // namespace

CourseRun::CourseRun(const QString& workingDirectory)
    : lock_(takeWorkingDirectory(workingDirectory)), workingFiles_(workingDirectory) {}

void LogWorkingDirectoryInUse(const QString& tag, const WorkingDirectoryInUse& inUse) {
    oplog::LogFailure(tag, QString::fromStdString(inUse.what()));
}

CourseRun::~CourseRun() {
    // A stopped run leaves nothing it made in the working directory, the staging an Index kept for
    // the TOC it did not reach included (checked-out decks stay until their check-out ends).
    if (stopRequested()) {
        try {
            if (!workingFiles_.files().isEmpty())
                workingFiles_.CleanWorkingFiles();
        } catch (const std::exception& failure) {
            oplog::LogFailure("CleanWorkingFiles", QString::fromStdString(failure.what()));
        }
    }
    if (!session_)
        return;
    try {
        repository::HandBackSession();
    } catch (const std::exception&) {
        // Handing back a session that is already gone leaves nothing to release.
    }
}

const tessarel::TsSessionPtr& CourseRun::session() {
    if (!session_)
        session_ = repository::TakeSession();
    return session_;
}

std::optional<LeftStaging> CourseRun::takeLeftStaging() {
    std::optional<LeftStaging> left = std::move(left_);
    left_.reset();
    return left;
}

void CourseRun::betweenFiles() {
    if (!stopRequested())
        return;
    stopTookEffect_ = true;
    throw platform::Stopped();
}

void CourseRun::noteWritten(const QString& path) {
    const QString key = hostKey(path);
    if (!key.isEmpty() && !written_.contains(key)) {
        written_.insert(key);
        writtenAsNamed_.append(path);
    }
}

QStringList CourseRun::writtenFiles() const {
    return writtenAsNamed_;
}

bool CourseRun::wrote(const QString& path) const {
    const QString key = hostKey(path);
    return !key.isEmpty() && written_.contains(key);
}

StagedCourse StageCourse(CourseRun& run, const QString& sourcePath, CourseFiles files, bool inPlace,
                         const QString& tag) {
    run.workingFiles().RemoveLeftovers(tag);
    if (platform::isRepositoryPath(sourcePath))
        return exportCourse(run, sourcePath, files);
    if (inPlace || platform::sameLocation(sourcePath, run.workingDirectory()))
        return readInPlace(sourcePath, files);
    return copyDecks(run, sourcePath, tag);
}

} // namespace lf::courserun
