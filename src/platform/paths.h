#pragma once
// Windows-style paths and where they lead on the host.
//
// The program's texts stay Windows-style ("C:\syllabo", "C:\Temp\"). A path holding "/" anywhere is a
// repository path; anything else is a local path, which reaches the host file system through the
// drive map: each drive letter stands for a host folder, read from drives.ini (section [Drives], keys
// C, D, ...; the value is a host folder) in the configuration folder. A drive that drives.ini does not
// name falls back to: C: the folder drive_c under the data folder (created on first use), H: the home
// folder, Z: the host root "/". Any other drive is not ready.
//
// Resolving a local path: ".", empty components (a doubled "\") and ".." are folded first, and ".."
// never climbs above the drive's folder. A path without a drive letter is taken relative to the root of
// C: (the program's current directory). Host file systems are case-sensitive and Windows is not: each
// component that does not exist exactly is matched without regard to case against the names in its
// folder (the first in NTFS order wins when several match); a component that matches nothing is kept
// as typed, so a path to a file about to be created resolves too.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <vector>

namespace lf::platform {

bool isRepositoryPath(const QString& path);

// Host names are bytes, and a name copied from an old Windows share may not be UTF-8 ("Sp\xe9cial").
// Such a name is still a name of the program: decodeHostName reads UTF-8, and each byte of a sequence
// that is not UTF-8 becomes the lone low surrogate U+DC00 + byte, which valid UTF-8 never gives, so
// encodeHostName, its exact inverse, gives back the bytes the host holds. Every host path the program
// keeps is text in this form; it reaches the host only through these functions (never through
// QFile/QFileInfo or QString::toStdString, which would spell such a name otherwise).
QString decodeHostName(const QByteArray& bytes);
QByteArray encodeHostName(const QString& name);
// The host path as the host spells it, byte for byte, for std::filesystem and the C library.
std::filesystem::path hostFsPath(const QString& hostPath);
// A std::filesystem path (a host path or one of its names) as the program's text.
QString fromHostFsPath(const std::filesystem::path& path);
// Whether a name holds bytes that are not UTF-8 (escapes of decodeHostName).
bool holdsUndecodedBytes(const QString& name);
// Text for people: each undecoded byte shown as the replacement character U+FFFD.
QString shownName(const QString& text);

// What the host holds at a host path, links followed: nothing, a folder, a plain file or another
// entry (a device, a socket).
enum class HostKind { Missing, Folder, File, Other };
HostKind hostKind(const QString& hostPath);

// One entry of a host folder as its listing gives it.
struct HostEntry {
    QString name; // decoded with decodeHostName
    bool isFolder = false;
};
// Every entry of a host folder but "." and "..", in the order the host lists them; empty when the
// folder cannot be read.
std::vector<HostEntry> listHostFolder(const QString& hostFolder);

// The host folder a drive letter stands for, or empty when the drive is not mapped (not ready).
// The default folder of C: is created here on first use.
QString driveFolder(QChar driveLetter);

// The drives the drive map knows, as "C:", "H:", ...: every letter drives.ini names and the default
// letters, in letter order, whether or not the drive is ready.
QStringList knownDrives();

// A drive as the drive box shows it: the letter and what it stands for, "C:  (/home/me/.local/...)",
// "Z:  (whole computer)", "D:  (not ready)". drive is "C:" or "C".
QString driveCaption(const QString& drive);

struct HostPath {
    QString path;  // the host path (absolute, "/"-separated); empty on failure
    QString error; // why the path cannot be used; empty on success
    bool ok() const { return error.isEmpty(); }
};

// The host path a local Windows-style path stands for.
HostPath toHostPath(const QString& localPath);

// The other way round: the local path a host path stands for, through the drive whose folder holds
// it most closely (C:'s folder before the home folder of H: before the root of Z:), as
// "C:\Courses\Out\00b_Toc.docx". Empty when no drive's folder holds it.
QString localPathOf(const QString& hostPath);

// A text for people (an engine's description of a failure) with each host path in it given as its
// local path. A host path starts with "/" at the start of the text or after a blank, a quote or "(",
// and runs to a quote, ")", a line break, the end, or ":", "," or ";" followed by a blank or the end.
// A path whose first folder the host does not hold (a repository path such as "/Edvara/Courses") is
// left as it is.
QString withLocalPaths(const QString& text);

// Whether two local paths lead to the same file or folder on the host. Spelling does not decide:
// the drive map, letter case, ".", "..", doubled or trailing separators, another drive letter mapped
// to the same folder and symbolic links are all resolved first. A part of the path that does not
// exist yet is compared without regard to case, as Windows would. A repository path, or a path that
// cannot be mapped, is the same as nothing.
bool sameLocation(const QString& a, const QString& b);

// Whether a local path lies inside folder (at any depth below it, not the folder itself), both
// resolved on the host as sameLocation resolves them. The last component of path is not followed
// when it is a symbolic link: the link itself is what lies in the folder.
bool isInsideFolder(const QString& path, const QString& folder);

// folder + "\" + name, without doubling a separator the folder already ends in ("C:\" + "a" is "C:\a").
QString joinPath(const QString& folder, const QString& name);

// Why name cannot be the name of a file the program writes into a folder of its choosing: it is
// empty, "." or "..", holds a separator or a drive ("..\x.docx" would land outside the folder), or a
// character that Windows refuses in names, ends in a dot or a blank (Windows drops them), or is a
// device name ("CON", "nul.docx", "COM1.txt"). Empty when name is a plain file name.
QString fileNameProblem(const QString& name);

// The last component of a Windows-style path ("C:\a\b.pptx" gives "b.pptx").
QString fileNameOf(const QString& path);

} // namespace lf::platform
