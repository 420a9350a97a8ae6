#include "workfiles/winzip.h"

#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "workfiles/zip_packer.h"

namespace lf::workfiles {

namespace {

const char* const kTag = "Zip";

void logFailure(const QString& file, const QString& reason) {
    oplog::LogFailure(kTag, "WinZip could not add " + file + ": " + reason);
}

// The folder part of a Dir pattern ("C:\work\*.*" gives "C:\work"); a bare drive stays "C:".
QString patternFolder(const QString& pattern) {
    const int cut = pattern.lastIndexOf('\\');
    if (cut >= 0)
        return pattern.left(cut == 2 && pattern.at(1) == ':' ? 3 : cut);
    if (pattern.size() >= 2 && pattern.at(1) == ':')
        return pattern.left(2);
    return QString();
}

} // namespace

void RunWinZip(const QString& pattern, const QString& zipFile) {
    const auto archive = platform::toHostPath(zipFile);
    if (!archive.ok()) {
        logFailure(zipFile, archive.error);
        return;
    }
    const QString folder = patternFolder(pattern);
    if (!folder.isEmpty() && !platform::folderExists(folder)) {
        logFailure(pattern, "The folder " + folder + " does not exist");
        return;
    }
    QString error;
    const QStringList names = platform::Dir(pattern, platform::EntryKind::Files, &error);
    if (!error.isEmpty()) {
        logFailure(pattern, error);
        return;
    }

    std::vector<PackInput> inputs;
    for (const QString& name : names) {
        const QString local = platform::joinPath(folder, name);
        const auto host = platform::toHostPath(local);
        if (!host.ok()) {
            logFailure(local, host.error);
            return;
        }
        if (platform::sameLocation(local, zipFile))
            continue; // the archive lies in the folder it packs
        inputs.push_back({host.path, name});
    }
    if (inputs.empty()) {
        oplog::LogFailure(kTag, "WinZip found no files matching " + pattern);
        return;
    }

    const PackResult result = packFiles(archive.path, inputs);
    if (result.ok)
        return;
    // Name the failing file as the program knows it.
    QString file = zipFile;
    for (const auto& in : inputs) {
        if (in.hostPath == result.failedFile)
            file = platform::joinPath(folder, in.entryName);
    }
    logFailure(file, result.reason);
}

} // namespace lf::workfiles
