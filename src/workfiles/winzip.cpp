#include "workfiles/winzip.h"

#include "platform/files.h"
#include "platform/paths.h"
#include "workfiles/zip_packer.h"

namespace lf::workfiles {

namespace {

QString couldNotAdd(const QString& file, const QString& reason) {
    return "WinZip could not add " + file + ": " + reason;
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

QString RunWinZip(const QString& pattern, const QString& zipFile) {
    const auto archive = platform::toHostPath(zipFile);
    if (!archive.ok())
        return couldNotAdd(zipFile, archive.error);
    const QString folder = patternFolder(pattern);
    if (!folder.isEmpty() && !platform::folderExists(folder))
        return couldNotAdd(pattern, "The folder " + folder + " does not exist");
    QString error;
    const QStringList names = platform::Dir(pattern, platform::EntryKind::Files, &error);
    if (!error.isEmpty())
        return couldNotAdd(pattern, error);

    // The folder is resolved once; the names come from its listing as they stand on the host.
    const QString packedFolder = folder.isEmpty() ? QStringLiteral("C:\\") : folder;
    const auto folderHost = platform::toHostPath(packedFolder);
    if (!folderHost.ok())
        return couldNotAdd(pattern, folderHost.error);
    // The archive lies in the folder it packs: it is never added to itself.
    const QString archiveName = platform::fileNameOf(zipFile);
    const bool archiveInFolder =
        platform::sameLocation(packedFolder, zipFile.left(zipFile.size() - archiveName.size()));
    std::vector<PackInput> inputs;
    for (const QString& name : names) {
        if (archiveInFolder && platform::compareNtfsNames(name, archiveName) == 0)
            continue;
        inputs.push_back({folderHost.path + (folderHost.path.endsWith('/') ? "" : "/") + name, name});
    }
    if (inputs.empty())
        return "WinZip found no files matching " + pattern;

    const PackResult result = packFiles(archive.path, inputs);
    if (result.ok)
        return {};
    // Name the failing file as the program knows it.
    QString file = zipFile;
    for (const auto& in : inputs) {
        if (in.hostPath == result.failedFile)
            file = platform::joinPath(folder, in.entryName);
    }
    return couldNotAdd(file, result.reason);
}

} // namespace lf::workfiles
