#include "platform/files.h"

#include "platform/paths.h"
#include "platform/replace_file.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace lf::platform {
namespace {

void setError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

bool resolve(const QString& path, QString* host, QString* error) {
    const HostPath resolved = toHostPath(path);
    if (!resolved.ok()) {
        setError(error, resolved.error);
        return false;
    }
    *host = resolved.path;
    return true;
}

std::filesystem::path fsPath(const QString& host) {
    return hostFsPath(host);
}

// Matches pattern[p..] against name[n..]; "*" backtracks to its last position only (the usual
// linear glob algorithm).
bool globMatch(const QString& name, const QString& pattern) {
    qsizetype n = 0, p = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p].toUpper() == name[n].toUpper() ||
                                          pattern[p].toLower() == name[n].toLower())) {
            ++p;
            ++n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace

bool wildcardMatch(const QString& name, const QString& pattern) {
    if (pattern == "*.*")
        return true;
    return globMatch(name, pattern);
}

void sortInListingOrder(QStringList& names) {
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = compareNtfsNames(a, b);
        return c != 0 ? c < 0 : a < b;
    });
}

int compareNtfsNames(const QString& a, const QString& b) {
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const ushort ua = a[i].toUpper().unicode();
        const ushort ub = b[i].toUpper().unicode();
        if (ua != ub)
            return ua < ub ? -1 : 1;
    }
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return 0;
}

QStringList Dir(const QString& pattern, EntryKind kind, QString* error) {
    if (isRepositoryPath(pattern)) {
        setError(error, "\"" + pattern + "\" is a repository path, not a local path");
        return {};
    }
    QString folder = pattern;
    QString namePattern = "*";
    const qsizetype cut = pattern.lastIndexOf('\\');
    if (cut >= 0) {
        folder = pattern.left(cut + 1);
        if (cut + 1 < pattern.size())
            namePattern = pattern.mid(cut + 1);
    } else if (pattern.size() >= 2 && pattern[1] == ':') {
        folder = pattern.left(2);
        if (pattern.size() > 2)
            namePattern = pattern.mid(2);
    } else {
        folder = QString();
        namePattern = pattern;
    }
    QString host;
    if (!resolve(folder.isEmpty() ? QString("C:\\") : folder, &host, error))
        return {};
    // Every name the host holds is listed, in whatever bytes it is spelled (see decodeHostName).
    QStringList names;
    for (const HostEntry& entry : listHostFolder(host)) {
        if ((kind == EntryKind::Files && entry.isFolder) || (kind == EntryKind::Folders && !entry.isFolder))
            continue;
        if (!entry.name.startsWith('.') && wildcardMatch(entry.name, namePattern))
            names.append(entry.name);
    }
    sortInListingOrder(names);
    return names;
}

bool fileExists(const QString& path) {
    QString host;
    return resolve(path, &host, nullptr) && hostKind(host) == HostKind::File;
}

bool folderExists(const QString& path) {
    QString host;
    return resolve(path, &host, nullptr) && hostKind(host) == HostKind::Folder;
}

bool pathExists(const QString& path) {
    QString host;
    return resolve(path, &host, nullptr) && hostKind(host) != HostKind::Missing;
}

CopyOutcome copyFile(const QString& source, const QString& destination, QString* error) {
    QString from, to;
    if (!resolve(source, &from, error) || !resolve(destination, &to, error))
        return CopyOutcome::Failed;
    if (hostKind(from) != HostKind::File) {
        setError(error, "File not found: " + source);
        return CopyOutcome::Failed;
    }
    if (hostKind(to) == HostKind::Folder) {
        setError(error, "\"" + destination + "\" is a folder");
        return CopyOutcome::Failed;
    }
    if (sameLocation(source, destination))
        return CopyOutcome::SameFile;
    const bool existed = hostKind(to) != HostKind::Missing;
    const int reason = copyIntoPlace(fsPath(from), fsPath(to));
    if (reason != 0) {
        setError(error, "Cannot copy \"" + source + "\" to \"" + destination +
                            "\": " + QString::fromStdString(std::generic_category().message(reason)));
        return CopyOutcome::Failed;
    }
    return existed ? CopyOutcome::Replaced : CopyOutcome::Created;
}

bool moveFileByRenaming(const QString& source, const QString& destination) {
    QString from, to;
    if (!resolve(source, &from, nullptr) || !resolve(destination, &to, nullptr) ||
        hostKind(from) != HostKind::File)
        return false;
    // Never over another file: link(2) refuses an existing name, where rename(2) would replace it.
    const QByteArray fromName = encodeHostName(from), toName = encodeHostName(to);
    if (::link(fromName.constData(), toName.constData()) != 0)
        return false;
    ::unlink(fromName.constData());
    return true;
}

QString namesDifferingOnlyInCase(const QString& folder, const QStringList& names) {
    QStringList sorted = names;
    sortInListingOrder(sorted);
    for (qsizetype i = 1; i < sorted.size(); ++i)
        if (compareNtfsNames(sorted[i - 1], sorted[i]) == 0 && sorted[i - 1] != sorted[i])
            return "the folder " + folder + " holds " + sorted[i - 1] + " and " + sorted[i] +
                   ", names that differ only in letter case; rename one of them";
    return QString();
}

bool deleteFile(const QString& path, QString* error) {
    QString host;
    if (!resolve(path, &host, error))
        return false;
    if (hostKind(host) != HostKind::File) {
        setError(error, "File not found: " + path);
        return false;
    }
    std::error_code ec;
    if (!std::filesystem::remove(fsPath(host), ec)) {
        setError(error, "Cannot delete \"" + path + "\": " + QString::fromStdString(ec.message()));
        return false;
    }
    return true;
}

bool makeFolder(const QString& path, QString* error) {
    QString host;
    if (!resolve(path, &host, error))
        return false;
    if (hostKind(host) != HostKind::Missing) {
        setError(error, "\"" + path + "\" already exists");
        return false;
    }
    if (hostKind(host.left(std::max<qsizetype>(host.lastIndexOf('/'), 1))) != HostKind::Folder) {
        setError(error, "The parent folder of \"" + path + "\" does not exist");
        return false;
    }
    std::error_code ec;
    if (!std::filesystem::create_directory(fsPath(host), ec)) {
        setError(error, "Cannot create \"" + path +
                            "\": " + (ec ? QString::fromStdString(ec.message()) : QString("unknown reason")));
        return false;
    }
    return true;
}

} // namespace lf::platform
