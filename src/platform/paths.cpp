#include "platform/paths.h"

#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/profile.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace lf::platform {
namespace {

const char* const kDriveMap = "drives.ini";

// What a drive letter is mapped to, read from the drive map.
QString readMappedFolder(QChar letter) {
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

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether a change after `now` would move a file time that reads `time`: file system clocks tick in
// steps of up to 10 ms, or of whole seconds on some.
bool settled(const timespec& time, const timespec& now) {
    const std::int64_t ageNs =
        (std::int64_t(now.tv_sec) - time.tv_sec) * 1000000000 + (now.tv_nsec - time.tv_nsec);
    return ageNs >= (time.tv_nsec == 0 ? std::int64_t(2000000000) : std::int64_t(20000000));
}

// The folder a drive letter is mapped to. Every path the program names goes through here, several
// times for each file it stages, so what the drive map gives is kept while the map's file is
// unchanged (the program writes it anew, under a new inode; an editor that writes in place moves its
// times) and was not changed so lately that a further change might leave its times as they are.
QString mappedFolder(QChar letter) {
    struct Kept {
        QString file, home;
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{}, changed{};
        std::map<char16_t, QString> folders;
    };
    static std::mutex lock;
    static Kept kept;
    const QString file = profileFilePath(kDriveMap);
    const QString home = QDir::homePath();
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct stat info {};
    const bool exists = ::stat(encodeHostName(file).constData(), &info) == 0;
    const bool keepable = !exists || settled(info.st_mtim, now);
    const std::lock_guard<std::mutex> guard(lock);
    const bool same =
        kept.file == file && kept.home == home && kept.exists == exists &&
        (!exists || (kept.device == info.st_dev && kept.inode == info.st_ino && kept.size == info.st_size &&
                     sameTime(kept.modified, info.st_mtim) && sameTime(kept.changed, info.st_ctim)));
    if (!same || !keepable) {
        kept =
            Kept{file, home, exists, info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim, {}};
        if (!keepable) {
            kept.file.clear();
            return readMappedFolder(letter);
        }
    }
    const auto found = kept.folders.find(letter.unicode());
    if (found != kept.folders.end())
        return found->second;
    return kept.folders[letter.unicode()] = readMappedFolder(letter);
}

bool isDriveLetter(QChar c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The names of the folders where names were looked up without regard to case, as the host holds them.
// Staging a course looks up each deck in the working directory before it is copied there, and reading
// a folder of hundreds for each would make staging grow with the square of the course. A listing is
// used again while the folder shows the same modification and change times, so a name the program
// wrote or someone else removed is seen at once. A listing read while the folder's modification time
// was so recent that a further change might leave it as it is (file system clocks tick in steps of up
// to 10 ms, or of whole seconds on some) is not kept.
struct FolderListing {
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{}, changed{};
    std::vector<std::string> names;
};

std::vector<std::string> readNames(const QByteArray& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view raw(entry->d_name);
        if (raw != "." && raw != "..")
            names.emplace_back(raw);
    }
    ::closedir(dir);
    return names;
}

// The host names of the folder, from the kept listing while it stands.
std::vector<std::string> folderNames(const QString& folder) {
    static std::mutex lock;
    static std::map<QByteArray, FolderListing> listings;
    const QByteArray hostFolder = encodeHostName(folder);
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct stat info {};
    if (::stat(hostFolder.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return {};
    {
        const std::lock_guard<std::mutex> guard(lock);
        const auto kept = listings.find(hostFolder);
        if (kept != listings.end() && kept->second.device == info.st_dev &&
            kept->second.inode == info.st_ino && sameTime(kept->second.modified, info.st_mtim) &&
            sameTime(kept->second.changed, info.st_ctim))
            return kept->second.names;
    }
    std::vector<std::string> names = readNames(hostFolder);
    const std::lock_guard<std::mutex> guard(lock);
    if (settled(info.st_mtim, now)) {
        if (listings.size() >= 64)
            listings.clear();
        listings[hostFolder] = {info.st_dev, info.st_ino, info.st_mtim, info.st_ctim, names};
    } else {
        listings.erase(hostFolder);
    }
    return names;
}

bool isAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

// The name in folder that stands for component: the exact name when it exists, otherwise the first
// name in NTFS order that equals it without regard to case, otherwise the component as typed.
// *found tells whether that name is there.
QString matchComponent(const QString& folder, const QString& component, bool* found) {
    *found = hostKind(folder + "/" + component) != HostKind::Missing;
    if (*found)
        return component;
    // An ASCII name is compared as the bytes it has, and only a name that could stand for the
    // component is decoded. A name with other characters can equal an ASCII one (a dotless i is an
    // I), so it is always decoded and compared.
    const QByteArray wanted = encodeHostName(component);
    const std::string_view wantedBytes(wanted.constData(), static_cast<std::size_t>(wanted.size()));
    const bool asciiWanted = isAscii(wantedBytes);
    QString best;
    for (const std::string& raw : folderNames(folder)) {
        if (asciiWanted && isAscii(raw) && !equalIgnoringAsciiCase(raw, wantedBytes))
            continue;
        const QString name = decodeHostName(QByteArray(raw.data(), static_cast<qsizetype>(raw.size())));
        if (compareNtfsNames(name, component) == 0 && (best.isEmpty() || name < best))
            best = name;
    }
    if (best.isEmpty())
        return component;
    *found = hostKind(folder + "/" + best) != HostKind::Missing;
    return best;
}

// The length of the UTF-8 sequence starting at bytes[i] and the code point it stands for; 0 when the
// bytes there are not UTF-8 (a stray continuation byte, a sequence cut short, an overlong form, a
// surrogate or a value beyond U+10FFFF).
int utf8Sequence(const QByteArray& bytes, qsizetype i, char32_t* codePoint) {
    const auto byteAt = [&](qsizetype k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = byteAt(i);
    int length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        const unsigned char next = byteAt(i + k);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

bool isByteEscape(char16_t unit) {
    return unit >= 0xDC80 && unit <= 0xDCFF;
}

namespace fs = std::filesystem;

// A host path split where it stops existing: the existing part with every link followed (canonical),
// and the names below it that do not exist yet.
struct ResolvedLocation {
    fs::path existing;
    std::vector<QString> missing; // outermost first
};

bool resolveLocation(const QString& localPath, bool followLast, ResolvedLocation* out) {
    if (isRepositoryPath(localPath))
        return false;
    const HostPath host = toHostPath(localPath);
    if (!host.ok())
        return false;
    fs::path path = hostFsPath(host.path);
    std::vector<QString> missing;
    std::error_code ec;
    if (!followLast && fs::is_symlink(fs::symlink_status(path, ec))) {
        missing.push_back(fromHostFsPath(path.filename()));
        path = path.parent_path();
    }
    while (!fs::exists(path, ec)) {
        if (!path.has_relative_path())
            return false;
        missing.insert(missing.begin(), fromHostFsPath(path.filename()));
        path = path.parent_path();
    }
    out->existing = fs::canonical(path, ec);
    if (ec)
        return false;
    out->missing = std::move(missing);
    return true;
}

bool sameMissingNames(const std::vector<QString>& a, const std::vector<QString>& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (compareNtfsNames(a[i], b[i]) != 0)
            return false;
    return true;
}

} // namespace

bool sameLocation(const QString& a, const QString& b) {
    ResolvedLocation ra, rb;
    if (!resolveLocation(a, true, &ra) || !resolveLocation(b, true, &rb))
        return false;
    if (!sameMissingNames(ra.missing, rb.missing))
        return false;
    if (ra.existing == rb.existing)
        return true;
    // Two names of one file (a hard link, a bind mount) are one location too.
    std::error_code ec;
    return ra.missing.empty() && fs::equivalent(ra.existing, rb.existing, ec);
}

bool isInsideFolder(const QString& path, const QString& folder) {
    ResolvedLocation inner, outer;
    if (!resolveLocation(path, false, &inner) || !resolveLocation(folder, true, &outer) ||
        !outer.missing.empty())
        return false;
    auto i = inner.existing.begin();
    for (auto o = outer.existing.begin(); o != outer.existing.end(); ++o, ++i) {
        if (i == inner.existing.end() || *i != *o)
            return false;
    }
    // Below the folder: an existing part that goes deeper, or names that do not exist yet.
    return i != inner.existing.end() || !inner.missing.empty();
}

bool isRepositoryPath(const QString& path) {
    return path.contains('/');
}

QString decodeHostName(const QByteArray& bytes) {
    QString name;
    name.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t codePoint = 0;
        const int length = utf8Sequence(bytes, i, &codePoint);
        if (length == 0) {
            name.append(QChar(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[i]))));
            ++i;
            continue;
        }
        if (QChar::requiresSurrogates(codePoint)) {
            name.append(QChar(QChar::highSurrogate(codePoint)));
            name.append(QChar(QChar::lowSurrogate(codePoint)));
        } else {
            name.append(QChar(static_cast<char16_t>(codePoint)));
        }
        i += length;
    }
    return name;
}

QByteArray encodeHostName(const QString& name) {
    QByteArray bytes;
    bytes.reserve(name.size());
    const auto appendUtf8 = [&](char32_t c) {
        if (c < 0x80) {
            bytes.append(static_cast<char>(c));
        } else if (c < 0x800) {
            bytes.append(static_cast<char>(0xC0 | (c >> 6)));
            bytes.append(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            bytes.append(static_cast<char>(0xE0 | (c >> 12)));
            bytes.append(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            bytes.append(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            bytes.append(static_cast<char>(0xF0 | (c >> 18)));
            bytes.append(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            bytes.append(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            bytes.append(static_cast<char>(0x80 | (c & 0x3F)));
        }
    };
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t unit = name[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            appendUtf8(QChar::surrogateToUcs4(unit, name[i + 1].unicode()));
            ++i;
        } else if (isByteEscape(unit)) {
            bytes.append(static_cast<char>(unit - 0xDC00));
        } else if (QChar::isSurrogate(unit)) {
            appendUtf8(0xFFFD); // a lone surrogate that no host name decodes to
        } else {
            appendUtf8(unit);
        }
    }
    return bytes;
}

fs::path hostFsPath(const QString& hostPath) {
    return fs::path(encodeHostName(hostPath).toStdString());
}

QString fromHostFsPath(const fs::path& path) {
    return decodeHostName(QByteArray::fromStdString(path.native()));
}

bool holdsUndecodedBytes(const QString& name) {
    return std::any_of(name.begin(), name.end(), [](QChar c) { return isByteEscape(c.unicode()); });
}

QString shownName(const QString& text) {
    QString shown = text;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        if (shown[i].isHighSurrogate() && i + 1 < shown.size() && shown[i + 1].isLowSurrogate())
            ++i;
        else if (shown[i].isSurrogate())
            shown[i] = QChar(QChar::ReplacementCharacter);
    }
    return shown;
}

HostKind hostKind(const QString& hostPath) {
    struct stat info {};
    if (::stat(encodeHostName(hostPath).constData(), &info) != 0)
        return HostKind::Missing;
    if (S_ISDIR(info.st_mode))
        return HostKind::Folder;
    return S_ISREG(info.st_mode) ? HostKind::File : HostKind::Other;
}

std::vector<HostEntry> listHostFolder(const QString& hostFolder) {
    std::vector<HostEntry> entries;
    DIR* dir = ::opendir(encodeHostName(hostFolder).constData());
    if (!dir)
        return entries;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view raw(entry->d_name);
        if (raw == "." || raw == "..")
            continue;
        // The entry's type as the listing gives it; links and file systems that do not say are asked.
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat info {};
            isFolder = ::fstatat(::dirfd(dir), entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
        }
        entries.push_back(
            {decodeHostName(QByteArray(raw.data(), static_cast<qsizetype>(raw.size()))), isFolder});
    }
    ::closedir(dir);
    return entries;
}

QString driveFolder(QChar driveLetter) {
    const QChar letter = driveLetter.toUpper();
    if (!isDriveLetter(letter))
        return QString();
    QString folder = mappedFolder(letter);
    if (!folder.isEmpty())
        return hostKind(folder) == HostKind::Folder ? folder : QString();
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

QStringList knownDrives() {
    QString letters = "CHZ";
    for (const auto& [key, value] : GetPrivateProfileSection("Drives", kDriveMap)) {
        const QString name = key.trimmed().toUpper();
        const bool isDrive =
            (name.size() == 1 || (name.size() == 2 && name[1] == ':')) && isDriveLetter(name[0]);
        if (isDrive && !value.trimmed().isEmpty() && !letters.contains(name[0]))
            letters += name[0];
    }
    std::sort(letters.begin(), letters.end());
    QStringList drives;
    for (const QChar letter : letters)
        drives.append(QString(letter) + ":");
    return drives;
}

QString driveCaption(const QString& drive) {
    const QString letter = drive.left(1).toUpper();
    const QString folder = driveFolder(letter.isEmpty() ? QChar() : letter[0]);
    QString shown;
    if (folder.isEmpty())
        shown = QStringLiteral("not ready");
    else if (folder == QLatin1String("/"))
        shown = QStringLiteral("whole computer");
    else
        shown = shownName(folder);
    return letter + ":  (" + shown + ")";
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
        bool found = false;
        const QString name =
            matching ? matchComponent(host.isEmpty() ? "/" : host, component, &found) : component;
        host += "/" + name;
        matching = matching && found;
    }
    return {host.isEmpty() ? "/" : host, QString()};
}

QString localPathOf(const QString& hostPath) {
    if (!hostPath.startsWith('/'))
        return QString();
    const QString path = QDir::cleanPath(hostPath);
    QChar drive;
    QString holder;
    for (const QString& known : knownDrives()) {
        const QString folder = driveFolder(known[0]);
        const bool holds = folder == "/" || path == folder || path.startsWith(folder + "/");
        if (!folder.isEmpty() && holds && (drive.isNull() || folder.size() > holder.size())) {
            drive = known[0];
            holder = folder;
        }
    }
    if (drive.isNull())
        return QString();
    QString rest = path.mid(holder == "/" ? 1 : holder.size() + 1);
    return QString(drive) + ":\\" + rest.replace('/', '\\');
}

namespace {

bool endsHostPath(const QString& text, qsizetype i) {
    const QChar c = text[i];
    if (c == '"' || c == '\'' || c == ')' || c == '\n' || c == '\r')
        return true;
    return (c == ':' || c == ',' || c == ';') && (i + 1 == text.size() || text[i + 1] == ' ');
}

} // namespace

QString withLocalPaths(const QString& text) {
    static const QString starts = QStringLiteral(" \t\n\"'(");
    QString shown;
    qsizetype i = 0;
    while (i < text.size()) {
        if (text[i] != '/' || (i > 0 && !starts.contains(text[i - 1]))) {
            shown += text[i++];
            continue;
        }
        qsizetype end = i + 1;
        while (end < text.size() && !endsHostPath(text, end))
            ++end;
        const QString candidate = text.mid(i, end - i);
        const QString first = candidate.section('/', 1, 1);
        QString local;
        if (!first.isEmpty() && hostKind("/" + first) != HostKind::Missing)
            local = localPathOf(candidate);
        shown += local.isEmpty() ? candidate : local;
        i = end;
    }
    return shown;
}

QString joinPath(const QString& folder, const QString& name) {
    if (folder.isEmpty())
        return name;
    if (folder.endsWith('\\') || folder.endsWith('/'))
        return folder + name;
    return folder + "\\" + name;
}

QString fileNameProblem(const QString& name) {
    if (name.isEmpty())
        return QStringLiteral("the name is empty");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return "\"" + name + "\" is not a file name";
    for (const QChar c : name) {
        if (c == '\\' || c == '/' || c == ':')
            return "\"" + name + "\" holds a path separator or a drive; give a file name only";
        if (c.unicode() < 0x20 || QStringLiteral("*?\"<>|").contains(c))
            return "\"" + name + "\" holds a character that file names cannot hold";
    }
    // Windows drops a trailing dot or blank from a name ("a.docx." is "a.docx"), so the file written
    // would not be the file named.
    if (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        return "\"" + name + "\" ends in a dot or a blank, which Windows drops from file names";
    // The device names, with any extension ("CON.docx" is the console, not a file).
    static const QRegularExpression device(QStringLiteral("^(CON|PRN|AUX|NUL|COM[0-9\u00B9\u00B2\u00B3]|"
                                                          "LPT[0-9\u00B9\u00B2\u00B3])\\s*(\\..*)?$"),
                                           QRegularExpression::CaseInsensitiveOption);
    if (device.match(name).hasMatch())
        return "\"" + name + "\" is the name of a Windows device, not a file name";
    return QString();
}

QString fileNameOf(const QString& path) {
    const qsizetype cut = std::max(path.lastIndexOf('\\'), path.lastIndexOf('/'));
    if (cut < 0 && path.size() >= 2 && path[1] == ':')
        return path.mid(2);
    return path.mid(cut + 1);
}

} // namespace lf::platform
