#include "printready/modZipIt.h"

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"
#include "printready/repository_access.h"
#include "workfiles/winzip.h"
#include "workfiles/working_files.h"

#include <stdexcept>

namespace lf::printready {

namespace {

const QString kTag = QStringLiteral("Zip");

void log(const QString& message) {
    oplog::LogOperation(kTag, message, false);
}

// A failure that ends the operation with its "Serious error" line.
[[noreturn]] void fail(const QString& description) {
    throw std::runtime_error(description.toStdString());
}

// Copies one file; true when the copy is a new file (a working file), false when it replaced one that
// was there before or was the file itself.
bool copyOrFail(const QString& from, const QString& to) {
    QString error;
    const platform::CopyOutcome outcome = platform::copyFile(from, to, &error);
    if (outcome == platform::CopyOutcome::Failed)
        fail(error);
    return outcome == platform::CopyOutcome::Created;
}

// Names that only letter case tells apart are one name in the zip, and one file would silently take
// the other's place.
void refuseNamesDifferingInCase(const QString& folder, const QStringList& names) {
    const QString problem = platform::namesDifferingOnlyInCase(folder, names);
    if (!problem.isEmpty())
        fail(problem);
}

// Returns false when the operation ends here.
bool stageCourse(const QString& sourcePath, const QString& workingDirectory) {
    if (platform::isRepositoryPath(sourcePath)) {
        if (!ExportCourseFolder(sourcePath, workingDirectory)) {
            oplog::LogFailure(kTag, "There was a problem exporting");
            return false;
        }
        log("Export files from " + sourcePath + " to " + workingDirectory);
        return true;
    }
    // A source that is the working directory, however it is spelled, is packed as it is, with all its
    // files: copying its decks "into" it would copy each file onto itself.
    if (platform::sameLocation(sourcePath, workingDirectory))
        return true;
    if (!platform::folderExists(sourcePath))
        fail("The source path " + sourcePath + " does not exist");
    const QStringList decks = platform::Dir(sourcePath + "\\*.pptx", platform::EntryKind::Files);
    refuseNamesDifferingInCase(sourcePath, decks);
    log("Copying files to working directory");
    for (const QString& name : decks) {
        const bool isNew = copyOrFail(sourcePath + "\\" + name, workingDirectory + "\\" + name);
        log("Copied " + sourcePath + "\\" + name + " to " + workingDirectory + "\\");
        if (isNew)
            workfiles::AddWorkingFile(workingDirectory + "\\" + name);
    }
    return true;
}

void deliverLocally(const QString& zipFile, const QString& destinationPath, const QString& zipFileName,
                    bool zipIsNew) {
    const QString target = destinationPath + "\\" + zipFileName;
    if (platform::sameLocation(zipFile, target)) {
        // The destination is the working directory: the zip file is already where it belongs, and
        // it must not go on the working files list, or the cleanup would delete the delivered file.
        log("Copied " + zipFileName + " to " + destinationPath);
        return;
    }
    if (!platform::fileExists(target)) {
        copyOrFail(zipFile, target);
        log("Copied " + zipFileName + " to " + destinationPath);
        if (zipIsNew)
            workfiles::AddWorkingFile(zipFile);
        return;
    }
    const platform::MessageAnswer answer = platform::messageBox(
        "Overwrite file?", "The zipfile exists at " + destinationPath + ".  Do\nyou want to overwrite?",
        platform::MessageIcon::Exclamation, platform::MessageButtons::YesNo);
    if (answer == platform::MessageAnswer::Yes) {
        // The copy is written beside the old zip file and renamed over it, so an interrupted copy
        // leaves the old file whole.
        copyOrFail(zipFile, target);
        log("Overwrote " + zipFileName + " at " + destinationPath);
        if (zipIsNew)
            workfiles::AddWorkingFile(zipFile);
    } else {
        copyOrFail(zipFile, destinationPath + "\\New" + zipFileName);
        log("Created new New" + zipFileName + " at " + destinationPath);
    }
}

} // namespace

void RunZipPackaging(const QString& sourcePath, const QString& destinationPath,
                     const QString& workingDirectory, bool cleanWorkingFiles, const QString& zipFileName) {
    workfiles::CleanupOnEveryWayOut cleanup(workingDirectory, cleanWorkingFiles);
    try {
        oplog::resetProcessCount();
        log("Begin");
        const QString nameProblem = platform::fileNameProblem(zipFileName);
        if (!nameProblem.isEmpty())
            fail("the zip file name is not a file name: " + nameProblem);
        if (!stageCourse(sourcePath, workingDirectory))
            return;
        // Everything in the working directory is packed, so no two of its names may be one name in
        // the zip.
        refuseNamesDifferingInCase(workingDirectory,
                                   platform::Dir(workingDirectory + "\\*.*", platform::EntryKind::Files));

        const QString zipFile = workingDirectory + "\\" + zipFileName;
        // A zip file of that name left in the working directory by the user is added to, as WinZip
        // does, but it stays the user's: only a zip file this run made is a working file.
        const bool zipIsNew = !platform::pathExists(zipFile);
        log("Zipping files");
        workfiles::RunWinZip(workingDirectory + "\\*.*", zipFile);
        log("Finished zipping files");

        platform::yieldToEventLoop();
        platform::sleepFor(kZipPauseMilliseconds);
        platform::yieldToEventLoop();

        if (platform::isRepositoryPath(destinationPath)) {
            log("Importing zip file into repository");
            if (ImportIntoFolder(workingDirectory, zipFileName, destinationPath))
                log("Imported zip file");
            else
                oplog::LogFailure(kTag, "There was a problem importing");
            if (zipIsNew)
                workfiles::AddWorkingFile(zipFile);
        } else {
            deliverLocally(zipFile, destinationPath, zipFileName, zipIsNew);
        }

        cleanup.now();
        log("Zipping operations complete");
    } catch (const std::exception& failure) {
        oplog::LogFailure(kTag, "Serious error " + QString::fromStdString(failure.what()));
    }
}

} // namespace lf::printready
