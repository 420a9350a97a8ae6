#pragma once
// The file-system calls the operations make, on Windows-style local paths (see paths.h): directory
// listings as Dir gives them, copy, delete, existence tests and folder creation.
#include <QString>
#include <QStringList>

namespace lf::platform {

enum class EntryKind {
    Files,          // plain files only
    Folders,        // folders only
    FilesAndFolders // both
};

// Whether name matches a Dir pattern: "*" any run of characters, "?" one character, everything else
// itself without regard to case. "*.*" matches every name, with or without a dot.
bool wildcardMatch(const QString& name, const QString& pattern);

// The order NTFS keeps names in: each UTF-16 unit upper-cased, then compared by value. Names that
// differ only in case (possible on the host) compare equal here.
// Returns <0, 0 (the same name without regard to case) or >0; Dir breaks the ties of 0 by exact units.
int compareNtfsNames(const QString& a, const QString& b);

// Sorts names in the order Dir lists them: NTFS order, ties broken by exact units.
void sortInListingOrder(QStringList& names);

// The names (not paths) of the entries that a Dir pattern such as "C:\Courses\*.pptx" matches, in
// NTFS order. A pattern ending in "\" (or naming a drive, "C:") lists every entry of that folder.
// "." and "..", and hidden host entries (names starting with "."), are never listed. A missing folder
// gives an empty list; a drive that is not ready or a repository path gives an empty list and *error.
// A name that is not UTF-8 is listed like any other, its undecoded bytes kept (decodeHostName), so it
// can be opened, copied and packed by the name given here.
QStringList Dir(const QString& pattern, EntryKind kind, QString* error = nullptr);

bool fileExists(const QString& path);   // a plain file
bool folderExists(const QString& path); // a folder
bool pathExists(const QString& path);   // either

// What a copy did. Callers that keep a list of the files they made need to know whether the
// destination is a new file.
enum class CopyOutcome {
    Created,  // the destination did not exist: it is a new file
    Replaced, // a file already there was replaced
    SameFile, // source and destination are one file (sameLocation): nothing was done
    Failed    // nothing was done; *error says why
};

// Copies source to destination, replacing a file already there; the copy has the source's
// permissions. The new file appears whole or not at all: it is written to a hidden temporary beside
// the destination and renamed into place (replace_file.h). Copies into one folder at the same time
// each have a temporary of their own, and the next copy to a destination removes what an interrupted
// one left. A destination that is the source itself, however spelled, is left alone.
CopyOutcome copyFile(const QString& source, const QString& destination, QString* error = nullptr);
// Moves a plain file to a destination that is not there yet, by renaming it: the file is whole at
// its new name or still at its old one. False, with nothing done, when that cannot be done so (the
// destination exists, or lies on another file system): the caller copies instead.
bool moveFileByRenaming(const QString& source, const QString& destination);

// Two names of one folder that only letter case tells apart ("01_dup.pptx", "01_DUP.pptx"): the host
// keeps both, but the program's paths name them as one file, so staging or packing them would let one
// take the other's place. Returns the reason naming the first such pair, or empty when there is none.
QString namesDifferingOnlyInCase(const QString& folder, const QStringList& names);
// Deletes one plain file. A missing file is a failure.
bool deleteFile(const QString& path, QString* error = nullptr);
// Creates one folder; its parent must exist. An existing folder is a failure, as MkDir has it.
bool makeFolder(const QString& path, QString* error = nullptr);

} // namespace lf::platform
