#include "workfiles/working_files.h"

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"

#include <exception>
#include <limits>

namespace lf::workfiles {

namespace {

QStringList& list() {
    static QStringList files;
    return files;
}

std::int16_t& count() {
    static std::int16_t n = 0;
    return n;
}

// The user's check-out directory may hold files with unsaved work: ask before deleting there.
bool checkoutDirectoryGuardAllows(const QString& workingDirectory) {
    if (!workingDirectory.toUpper().contains("CHECKOUT"))
        return true;
    const auto answer =
        platform::messageBox("Delete checked out files?",
                             "It appears as if the working directory is your checkout directory.\n"
                             "Continuing could cause you to delete and lose changes to checked \n"
                             "out files.\n"
                             "\n"
                             "Do you really want to delete them?",
                             platform::MessageIcon::Exclamation, platform::MessageButtons::YesNo);
    if (answer == platform::MessageAnswer::Yes)
        return true;
    oplog::LogOperation("cleanWorking", "User canceled clean of working directory", false);
    return false;
}

} // namespace

void AddWorkingFile(const QString& path) {
    list().append(path);
    // More registrations than the count can hold are outside the design; the count stops at its
    // largest value instead of wrapping round to a negative one.
    if (count() < std::numeric_limits<std::int16_t>::max())
        ++count();
}

void CleanWorkingFiles(const QString& workingDirectory) {
    if (!checkoutDirectoryGuardAllows(workingDirectory))
        return;
    const QString& folder = workingDirectory;
    const QStringList files = list();
    for (const QString& path : files) {
        oplog::LogOperation("Cleaning", "Deleteing working files", false);
        // Only the program's own temporaries are on the list, and they all lie in the working
        // directory; anything else is refused, whatever put it there.
        if (!platform::isInsideFolder(path, folder)) {
            oplog::LogOperation(
                "CleanWorkingFiles",
                path + " is not inside the working directory " + folder + " and was not deleted", false);
            continue;
        }
        QString error;
        if (platform::deleteFile(path, &error))
            oplog::LogOperation("Cleaning", "Deleted " + path, false);
        else
            oplog::LogOperation("CleanWorkingFiles", path + " " + error, false);
    }
    oplog::LogOperation("Cleaning", "All temporary working files deleted", false);
    list().clear();
    count() = 0;
}

CleanupOnEveryWayOut::CleanupOnEveryWayOut(const QString& workingDirectory, bool enabled)
    : workingDirectory_(workingDirectory), pending_(enabled) {}

CleanupOnEveryWayOut::~CleanupOnEveryWayOut() {
    if (!pending_ || list().isEmpty())
        return;
    try {
        CleanWorkingFiles(workingDirectory_);
    } catch (const std::exception& failure) {
        oplog::LogFailure("CleanWorkingFiles", QString::fromStdString(failure.what()));
    }
}

void CleanupOnEveryWayOut::now() {
    if (!pending_)
        return;
    pending_ = false;
    CleanWorkingFiles(workingDirectory_);
}

const QStringList& workingFiles() {
    return list();
}

std::int16_t workingFileCount() {
    return count();
}

} // namespace lf::workfiles
