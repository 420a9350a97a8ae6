#include "printready/modZipIt.h"

#include "courserun/course_run.h"
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
bool stageCourse(courserun::CourseRun& run, const QString& sourcePath) {
    const bool fromRepository = platform::isRepositoryPath(sourcePath);
    // A source that is the working directory, however it is spelled, is packed as it is, with all its
    // files: copying its decks "into" it would copy each file onto itself.
    if (!fromRepository && !platform::sameLocation(sourcePath, run.workingDirectory()) &&
        !platform::folderExists(sourcePath))
        fail("The source path " + sourcePath + " does not exist");
    const courserun::StagedCourse staged =
        courserun::StageCourse(run, sourcePath, courserun::CourseFiles::DecksAndDocuments, false, kTag);
    if (!fromRepository)
        return true;
    if (!staged.complete) {
        oplog::LogFailure(kTag, "There was a problem exporting");
        return false;
    }
    log("Export files from " + sourcePath + " to " + run.workingDirectory());
    return true;
}

// Puts the zip file at target, a name not taken. A zip file this run made that the cleanup would delete
// anyway is moved there, not copied, where the file system allows.
void deliverAs(courserun::CourseRun& run, const QString& zipFile, const QString& target, bool movable) {
    if (movable && platform::moveFileByRenaming(zipFile, target))
        run.workingFiles().release(zipFile);
    else
        copyOrFail(zipFile, target);
    run.noteWritten(target);
}

void deliverLocally(courserun::CourseRun& run, const QString& zipFile, const QString& destinationPath,
                    const QString& zipFileName, bool movable) {
    const QString target = destinationPath + "\\" + zipFileName;
    if (platform::sameLocation(zipFile, target)) {
        // The destination is the working directory: the zip file is already where it belongs, and
        // it must not stay a working file, or the cleanup would delete the delivered file.
        run.workingFiles().release(zipFile);
        run.noteWritten(target);
        log("Copied " + zipFileName + " to " + destinationPath);
        return;
    }
    if (!platform::fileExists(target)) {
        deliverAs(run, zipFile, target, movable);
        log("Copied " + zipFileName + " to " + destinationPath);
        return;
    }
    const platform::MessageAnswer answer = platform::messageBox(
        "Overwrite file?", "The zipfile exists at " + destinationPath + ".  Do\nyou want to overwrite?",
        platform::MessageIcon::Exclamation, platform::MessageButtons::YesNo);
    if (answer == platform::MessageAnswer::Yes) {
        // The copy is written beside the old zip file and renamed over it, so an interrupted copy
        // leaves the old file whole.
        copyOrFail(zipFile, target);
        run.noteWritten(target);
        log("Overwrote " + zipFileName + " at " + destinationPath);
    } else {
        copyOrFail(zipFile, destinationPath + "\\New" + zipFileName);
        run.noteWritten(destinationPath + "\\New" + zipFileName);
        log("Created new New" + zipFileName + " at " + destinationPath);
    }
}

} // namespace

void RunZipPackaging(courserun::CourseRun& run, const QString& sourcePath, const QString& destinationPath,
                     bool cleanWorkingFiles, const QString& zipFileName) {
    workfiles::CleanupOnEveryWayOut cleanup(run.workingFiles(), cleanWorkingFiles);
    try {
        oplog::resetProcessCount();
        log("Begin");
        const QString nameProblem = platform::fileNameProblem(zipFileName);
        if (!nameProblem.isEmpty())
            fail("the zip file name is not a file name: " + nameProblem);
        if (!stageCourse(run, sourcePath))
            return;
        run.betweenFiles();
        const QString& workingDirectory = run.workingDirectory();
        // Everything in the working directory is packed, so no two of its names may be one name in
        // the zip.
        refuseNamesDifferingInCase(workingDirectory,
                                   platform::Dir(workingDirectory + "\\*.*", platform::EntryKind::Files));

        const QString zipFile = workingDirectory + "\\" + zipFileName;
        // A zip file of that name left in the working directory by the user is added to, as WinZip
        // does, but it stays the user's: only a zip file this run made is a working file.
        const bool zipMadeHere = run.workingFiles().willMake(zipFile);
        log("Zipping files");
        // The packer has finished when it returns: its archive is whole, or it says why there is none
        // (and an archive that was there before is as it was), so nothing is delivered.
        if (const QString packerFailure = workfiles::RunWinZip(workingDirectory + "\\*.*", zipFile);
            !packerFailure.isEmpty())
            fail(packerFailure);
        log("Finished zipping files");
        platform::yieldToEventLoop();
        // Stopped here, the zip file goes with the working files and nothing is delivered.
        run.betweenFiles();

        if (platform::isRepositoryPath(destinationPath)) {
            log("Importing zip file into repository");
            if (ImportIntoFolder(run, workingDirectory, zipFileName, destinationPath))
                log("Imported zip file");
            else
                oplog::LogFailure(kTag, "There was a problem importing");
        } else {
            deliverLocally(run, zipFile, destinationPath, zipFileName, zipMadeHere && cleanWorkingFiles);
        }

        cleanup.now();
        log("Zipping operations complete");
    } catch (const platform::Stopped& stopped) {
        oplog::LogFailure(kTag, stopped.what());
    } catch (const std::exception& failure) {
        oplog::LogFailure(kTag, "Serious error " +
                                    platform::withLocalPaths(QString::fromStdString(failure.what())));
    }
}

void RunZipPackaging(const QString& sourcePath, const QString& destinationPath,
                     const QString& workingDirectory, bool cleanWorkingFiles, const QString& zipFileName) {
    courserun::RunAlone(workingDirectory, kTag, [&](courserun::CourseRun& run) {
        RunZipPackaging(run, sourcePath, destinationPath, cleanWorkingFiles, zipFileName);
    });
}

} // namespace lf::printready
