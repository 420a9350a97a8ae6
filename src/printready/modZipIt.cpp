#include "printready/modZipIt.h"

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"
#include "printready/repository_access.h"
#include "printready/winzip.h"
#include "printready/working_files.h"

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

void copyOrFail(const QString& from, const QString& to) {
    QString error;
    if (!platform::copyFile(from, to, &error))
        fail(error);
}

// Whether two local paths lead to the same host file or folder. Windows compares paths without regard
// to case, so a source typed as C:\Syllabo is the working directory C:\syllabo: copying its decks
// "into" it would copy each file onto itself and put the user's own decks on the working files list.
bool sameLocalPlace(const QString& a, const QString& b) {
    if (a == b)
        return true;
    const platform::HostPath ha = platform::toHostPath(a);
    const platform::HostPath hb = platform::toHostPath(b);
    return ha.ok() && hb.ok() && ha.path == hb.path;
}

// Returns false when the operation ends here.
bool stageCourse(const QString& sourcePath, const QString& workingDirectory) {
    if (platform::isRepositoryPath(sourcePath)) {
        if (!ExportCourseFolder(sourcePath, workingDirectory)) {
            log("There was a problem exporting");
            return false;
        }
        log("Export files from " + sourcePath + " to " + workingDirectory);
        return true;
    }
    if (sameLocalPlace(sourcePath, workingDirectory))
        return true; // packed as it is, with all its files
    log("Copying files to working directory");
    for (const QString& name : platform::Dir(sourcePath + "\\*.pptx", platform::EntryKind::Files)) {
        copyOrFail(sourcePath + "\\" + name, workingDirectory + "\\" + name);
        log("Copied " + sourcePath + "\\" + name + " to " + workingDirectory + "\\");
        AddWorkingFile(workingDirectory + "\\" + name);
    }
    return true;
}

void deliverLocally(const QString& zipFile, const QString& destinationPath, const QString& zipFileName) {
    const QString target = destinationPath + "\\" + zipFileName;
    if (sameLocalPlace(zipFile, target)) {
        // The destination is the working directory: the zip file is already where it belongs, and
        // it must not go on the working files list, or the cleanup would delete the delivered file.
        log("Copied " + zipFileName + " to " + destinationPath);
        return;
    }
    if (!platform::fileExists(target)) {
        copyOrFail(zipFile, target);
        log("Copied " + zipFileName + " to " + destinationPath);
        AddWorkingFile(zipFile);
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
        AddWorkingFile(zipFile);
    } else {
        copyOrFail(zipFile, destinationPath + "\\New" + zipFileName);
        log("Created new New" + zipFileName + " at " + destinationPath);
    }
}

} // namespace

void RunZipPackaging(const QString& sourcePath, const QString& destinationPath,
                     const QString& workingDirectory, bool cleanWorkingFiles, const QString& zipFileName) {
    try {
        oplog::resetProcessCount();
        log("Begin");
        if (!stageCourse(sourcePath, workingDirectory))
            return;

        const QString zipFile = workingDirectory + "\\" + zipFileName;
        log("Zipping files");
        RunWinZip(workingDirectory + "\\*.*", zipFile);
        log("Finished zipping files");

        platform::yieldToEventLoop();
        platform::sleepFor(kZipPauseMilliseconds);
        platform::yieldToEventLoop();

        if (platform::isRepositoryPath(destinationPath)) {
            log("Importing zip file into repository");
            if (ImportIntoFolder(workingDirectory, zipFileName, destinationPath))
                log("Imported zip file");
            else
                log("There was a problem importing");
            AddWorkingFile(zipFile);
        } else {
            deliverLocally(zipFile, destinationPath, zipFileName);
        }

        if (cleanWorkingFiles)
            CleanWorkingFiles();
        log("Zipping operations complete");
    } catch (const std::exception& failure) {
        log("Serious error " + QString::fromStdString(failure.what()));
    }
}

} // namespace lf::printready
