#include "platform/paths.h"

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/profile.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace lf::platform {
namespace {

const char* const kDriveMap = "drives.ini";

QString mappedFolder(QChar letter) {
    const QString key(letter);
    QString folder = GetPrivateProfileString("Drives", key, QString(), kDriveMap);
    if (folder.isEmpty())
        folder = GetPrivateProfileString("Drives", key + ":", QString(), kDriveMap);
    if (folder.isEmpty())
        return folder;
    if (folder == "~" || folder.startsWith("~/"))
        folder = QDir::homePath() + folder.mid(1);
    if (QDir::isRelativePath(folder))
        folder = configFolder() + "/" + folder;
    return QDir::cleanPath(folder);
}

bool isDriveLetter(QChar c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The name in folder that stands for component: the exact name when it exists, otherwise the first
// name in NTFS order that equals it without regard to case, otherwise the component as typed.
QString matchComponent(const QString& folder, const QString& component) {
    if (QFileInfo::exists(folder + "/" + component))
        return component;
    const QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    QString best;
    for (const QString& name : names)
        if (compareNtfsNames(name, component) == 0 && (best.isEmpty() || name < best))
            best = name;
    return best.isEmpty() ? component : best;
}

} // namespace

bool isRepositoryPath(const QString& path) {
    return path.contains('/');
}

QString driveFolder(QChar driveLetter) {
    const QChar letter = driveLetter.toUpper();
    if (!isDriveLetter(letter))
        return QString();
    QString folder = mappedFolder(letter);
    if (!folder.isEmpty())
        return QFileInfo(folder).isDir() ? folder : QString();
    if (letter == 'C') {
        folder = dataFolder() + "/drive_c";
        QDir().mkpath(folder);
        return folder;
    }
    if (letter == 'H')
        return QDir::homePath();
    if (letter == 'Z')
        return "/";
    return QString();
}

HostPath toHostPath(const QString& localPath) {
    if (localPath.isEmpty())
        return {QString(), "The path is empty"};
    if (isRepositoryPath(localPath))
        return {QString(), "\"" + localPath + "\" is a repository path, not a local path"};
    if (localPath.startsWith("\\\\"))
        return {QString(), "Network path \"" + localPath + "\" is not supported"};
    QChar drive = 'C';
    QString rest = localPath;
    if (localPath.size() >= 2 && localPath[1] == ':') {
        if (!isDriveLetter(localPath[0]))
            return {QString(), "\"" + localPath + "\" does not start with a drive letter"};
        drive = localPath[0].toUpper();
        rest = localPath.mid(2);
    }
    const QString root = driveFolder(drive);
    if (root.isEmpty())
        return {QString(), QString("Drive %1: is not ready (no host folder is mapped to it)").arg(drive)};

    QStringList components;
    for (const QString& part : rest.split('\\', Qt::SkipEmptyParts)) {
        if (part == ".")
            continue;
        if (part == "..") {
            if (!components.isEmpty())
                components.removeLast();
            continue;
        }
        if (part.contains(':'))
            return {QString(), "\"" + localPath + "\" is not a valid path"};
        components.append(part);
    }

    QString host = root == "/" ? QString() : root;
    bool matching = true;
    for (const QString& component : components) {
        const QString name = matching ? matchComponent(host.isEmpty() ? "/" : host, component) : component;
        host += "/" + name;
        if (matching && !QFileInfo::exists(host))
            matching = false;
    }
    return {host.isEmpty() ? "/" : host, QString()};
}

QString joinPath(const QString& folder, const QString& name) {
    if (folder.isEmpty())
        return name;
    if (folder.endsWith('\\') || folder.endsWith('/'))
        return folder + name;
    return folder + "\\" + name;
}

QString fileNameOf(const QString& path) {
    const qsizetype cut = std::max(path.lastIndexOf('\\'), path.lastIndexOf('/'));
    if (cut < 0 && path.size() >= 2 && path[1] == ':')
        return path.mid(2);
    return path.mid(cut + 1);
}

} // namespace lf::platform
