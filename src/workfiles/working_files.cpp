#include "workfiles/working_files.h"

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/replace_file.h"

#include <QDir>

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace lf::workfiles {

namespace {

// The record's name: hidden, so no listing, staging or zip of the working directory ever takes it.
const QString kRecordName = QStringLiteral(".lessonforge-files");

// Events of the record, one line each: "+ key" made, "c key" checked out, "i key" checked in (made
// from then on), "- key" gone.
constexpr char kMade = '+';
constexpr char kCheckedOut = 'c';
constexpr char kCheckedIn = 'i';
constexpr char kGone = '-';

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

// A host path with every link of its existing part resolved, so that one file has one key however the
// path to it is spelled (another drive letter, a link to the working directory).
QString resolvedHostPath(const QString& hostPath) {
    QString existing = QDir::cleanPath(hostPath);
    QString rest;
    while (!existing.isEmpty() && platform::hostKind(existing) == platform::HostKind::Missing) {
        const qsizetype cut = existing.lastIndexOf(QLatin1Char('/'));
        if (cut <= 0)
            return QDir::cleanPath(hostPath);
        rest = existing.mid(cut) + rest;
        existing = existing.left(cut);
    }
    // The last component itself is not followed when it is a link: the link is what lies there.
    std::error_code ec;
    if (rest.isEmpty() &&
        std::filesystem::is_symlink(std::filesystem::symlink_status(platform::hostFsPath(existing), ec))) {
        const qsizetype cut = existing.lastIndexOf(QLatin1Char('/'));
        rest = existing.mid(cut);
        existing = existing.left(cut);
    }
    const std::filesystem::path canonical = std::filesystem::canonical(platform::hostFsPath(existing), ec);
    return (ec ? existing : platform::fromHostFsPath(canonical)) + rest;
}

[[noreturn]] void failRecord(const QString& recordFile, int error) {
    throw std::runtime_error("the record of the working files " + recordFile.toStdString() +
                             " cannot be written: " + std::strerror(error));
}

} // namespace

WorkingFiles::WorkingFiles(const QString& workingDirectory) : workingDirectory_(workingDirectory) {
    const platform::HostPath host = platform::toHostPath(workingDirectory);
    if (!host.ok())
        return;
    hostFolder_ = resolvedHostPath(host.path);
    recordFile_ = hostFolder_ + QLatin1Char('/') + kRecordName;
    load();
}

QString WorkingFiles::keyOf(const QString& path) const {
    // Nothing is made in a working directory that is not there (the settings make it when missing).
    if (hostFolder_.isEmpty() || platform::hostKind(hostFolder_) != platform::HostKind::Folder ||
        !platform::isInsideFolder(path, workingDirectory_))
        return QString();
    const platform::HostPath host = platform::toHostPath(path);
    if (!host.ok())
        return QString();
    QString key = QDir(hostFolder_).relativeFilePath(resolvedHostPath(host.path));
    // A key is one line of the record; a name that would break the line is never the program's.
    if (key.isEmpty() || key == QLatin1String("..") || key.startsWith(QLatin1String("../")) ||
        key.contains(QLatin1Char('\n')) || key.contains(QLatin1Char('\r')))
        return QString();
    return key;
}

void WorkingFiles::load() {
    std::ifstream file(platform::hostFsPath(recordFile_), std::ios::binary);
    if (!file)
        return;
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    QList<QByteArray> lines = QByteArray::fromStdString(bytes).split('\n');
    lines.removeLast(); // what follows the last line end: nothing, or a line a kill cut short
    for (const QByteArray& raw : lines) {
        if (raw.size() < 3 || raw.at(1) != ' ')
            continue;
        // Keys are host names, kept in the bytes the host spells them in (decodeHostName).
        const QString key = platform::decodeHostName(raw.mid(2));
        switch (raw.at(0)) {
        case kMade:
        case kCheckedIn:
            record_[key] = State::Made;
            break;
        case kCheckedOut:
            record_[key] = State::CheckedOut;
            break;
        case kGone:
            record_.erase(key);
            break;
        default:
            break;
        }
    }
}

namespace {

QByteArray eventLine(char event, const QString& key) {
    return QByteArray(1, event) + ' ' + platform::encodeHostName(key) + '\n';
}

} // namespace

void WorkingFiles::append(char event, const QString& key) {
    appendEvents(eventLine(event, key));
}

// Events, on the disk before the call returns.
void WorkingFiles::appendEvents(const QByteArray& events) {
    if (events.isEmpty())
        return;
    const QByteArray name = platform::encodeHostName(recordFile_);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        failRecord(recordFile_, errno);
    const ssize_t written = ::write(fd, events.constData(), static_cast<size_t>(events.size()));
    const int writeError = errno;
    const bool synced = written == events.size() && ::fsync(fd) == 0;
    const int syncError = errno;
    ::close(fd);
    if (written != events.size())
        failRecord(recordFile_, written < 0 ? writeError : ENOSPC);
    if (!synced)
        failRecord(recordFile_, syncError);
}

// The record written anew with what it holds now; no record at all when it holds nothing.
void WorkingFiles::rewrite() {
    if (recordFile_.isEmpty())
        return;
    if (record_.empty()) {
        std::error_code ec;
        std::filesystem::remove(platform::hostFsPath(recordFile_), ec);
        return;
    }
    QByteArray bytes;
    for (const auto& [key, state] : record_)
        bytes += QByteArray(1, state == State::CheckedOut ? kCheckedOut : kMade) + ' ' +
                 platform::encodeHostName(key) + '\n';
    platform::ReplaceOptions options;
    options.durability = platform::Durability::FileAndFolder;
    platform::FileReplacement replacement(platform::hostFsPath(recordFile_), options);
    if (!replacement.ok() || !replacement.write(bytes.toStdString()) || !replacement.commit())
        failRecord(recordFile_, replacement.error());
}

bool WorkingFiles::registerFile(const QString& path, State state, QByteArray* events) {
    const QString key = keyOf(path);
    if (key.isEmpty())
        return false;
    const auto known = record_.find(key);
    if (known == record_.end()) {
        // A file already there that the record does not hold is the user's.
        if (platform::pathExists(path))
            return false;
        *events += eventLine(state == State::CheckedOut ? kCheckedOut : kMade, key);
        record_[key] = state;
    } else if (state == State::CheckedOut && known->second != State::CheckedOut) {
        *events += eventLine(kCheckedOut, key);
        known->second = State::CheckedOut;
    }
    if (!keys_.contains(key)) {
        keys_.append(key);
        files_.append(path);
    }
    return true;
}

bool WorkingFiles::willMake(const QString& path) {
    QByteArray events;
    const bool ours = registerFile(path, State::Made, &events);
    appendEvents(events);
    return ours;
}

void WorkingFiles::willMake(const QStringList& paths) {
    QByteArray events;
    for (const QString& path : paths)
        registerFile(path, State::Made, &events);
    appendEvents(events);
}

bool WorkingFiles::willCheckOut(const QString& path) {
    QByteArray events;
    const bool ours = registerFile(path, State::CheckedOut, &events);
    appendEvents(events);
    return ours;
}

void WorkingFiles::checkedIn(const QString& path) {
    const QString key = keyOf(path);
    const auto known = record_.find(key);
    if (key.isEmpty() || known == record_.end() || known->second != State::CheckedOut)
        return;
    append(kCheckedIn, key);
    known->second = State::Made;
}

void WorkingFiles::release(const QString& path) {
    const QString key = keyOf(path);
    if (key.isEmpty() || record_.count(key) == 0)
        return;
    record_.erase(key);
    // A record left with nothing in it goes, as the cleanup leaves it.
    if (record_.empty())
        rewrite();
    else
        append(kGone, key);
    const qsizetype at = keys_.indexOf(key);
    if (at >= 0) {
        keys_.removeAt(at);
        files_.removeAt(at);
    }
}

void WorkingFiles::forget(const QString& key) {
    record_.erase(key);
}

bool WorkingFiles::isProgramFile(const QString& path) const {
    const QString key = keyOf(path);
    return !key.isEmpty() && record_.count(key) > 0;
}

std::int16_t WorkingFiles::count() const {
    // More registrations than the count can hold are outside the design; the count stops at its
    // largest value instead of wrapping round to a negative one.
    constexpr qsizetype largest = std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(std::min(files_.size(), largest));
}

bool WorkingFiles::RemoveLeftovers(const QString& tag) {
    QStringList leftovers;
    bool changed = false;
    for (auto it = record_.begin(); it != record_.end();) {
        if (keys_.contains(it->first) || it->second == State::CheckedOut) {
            ++it;
            continue;
        }
        const QString hostFile = hostFolder_ + QLatin1Char('/') + it->first;
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(platform::hostFsPath(hostFile), ec))) {
            it = record_.erase(it); // made and gone, or never made: nothing to delete
            changed = true;
            continue;
        }
        leftovers.append(it->first);
        ++it;
    }
    if (!leftovers.isEmpty() && !checkoutDirectoryGuardAllows(workingDirectory_)) {
        if (changed)
            rewrite();
        return false;
    }
    for (const QString& key : leftovers) {
        const QString path = platform::joinPath(workingDirectory_, QString(key).replace('/', '\\'));
        const QString hostFile = hostFolder_ + QLatin1Char('/') + key;
        std::error_code ec;
        if (std::filesystem::remove(platform::hostFsPath(hostFile), ec)) {
            oplog::LogOperation(tag, "Deleted " + path + ", left in the working directory by an earlier run",
                                false);
            forget(key);
            changed = true;
        } else {
            oplog::LogOperation(tag, path + " was left by an earlier run and cannot be deleted", true);
        }
    }
    if (changed)
        rewrite();
    return true;
}

void WorkingFiles::CleanWorkingFiles() {
    if (!checkoutDirectoryGuardAllows(workingDirectory_))
        return;
    const QString& folder = workingDirectory_;
    bool changed = false;
    for (qsizetype i = 0; i < files_.size(); ++i) {
        const QString& path = files_[i];
        const QString& key = keys_[i];
        const auto known = record_.find(key);
        if (known == record_.end())
            continue; // deleted by an earlier cleanup of this run
        if (known->second == State::CheckedOut)
            continue; // a deck still checked out holds the author's work
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
        if (platform::deleteFile(path, &error)) {
            oplog::LogOperation("Cleaning", "Deleted " + path, false);
            forget(key);
            changed = true;
        } else {
            oplog::LogOperation("CleanWorkingFiles", path + " " + error, false);
            if (!platform::pathExists(path)) {
                forget(key);
                changed = true;
            }
        }
    }
    oplog::LogOperation("Cleaning", "All temporary working files deleted", false);
    // What stays listed for this run: the decks still checked out.
    QStringList keptFiles, keptKeys;
    for (qsizetype i = 0; i < files_.size(); ++i) {
        const auto known = record_.find(keys_[i]);
        if (known != record_.end() && known->second == State::CheckedOut) {
            keptFiles.append(files_[i]);
            keptKeys.append(keys_[i]);
        }
    }
    files_ = keptFiles;
    keys_ = keptKeys;
    if (changed)
        rewrite();
}

CleanupOnEveryWayOut::CleanupOnEveryWayOut(WorkingFiles& files, bool enabled)
    : files_(files), pending_(enabled) {}

CleanupOnEveryWayOut::~CleanupOnEveryWayOut() {
    if (!pending_ || files_.files().isEmpty())
        return;
    try {
        files_.CleanWorkingFiles();
    } catch (const std::exception& failure) {
        oplog::LogFailure("CleanWorkingFiles",
                          platform::withLocalPaths(QString::fromStdString(failure.what())));
    }
}

void CleanupOnEveryWayOut::now() {
    if (!pending_)
        return;
    pending_ = false;
    files_.CleanWorkingFiles();
}

} // namespace lf::workfiles
