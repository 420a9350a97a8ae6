#pragma once
// The packer behind RunWinZip: adds files to a zip archive as WinZip's "-a" does. It creates the
// archive or adds to an existing one, replaces entries of the same name (without regard to case, as
// on Windows), stores names without folders, deflates what deflating makes smaller, and writes zip64
// records where sizes or counts need them. The new archive is written to a hidden temporary file
// beside the old one and renamed over it, so a failed or interrupted pack leaves an existing archive
// exactly as it was.

#include <QString>

#include <vector>

namespace lf::workfiles {

struct PackInput {
    QString hostPath;  // the file to read
    QString entryName; // its name in the archive, without folders
};

struct PackResult {
    bool ok = false;
    QString failedFile; // the host path that failed (an input or the archive itself)
    QString reason;     // why, in words
    int entriesWritten = 0;
};

// Adds inputs to the archive at archivePath (a host path). Entries of the same name are replaced;
// later inputs win over earlier ones of the same name.
PackResult packFiles(const QString& archivePath, const std::vector<PackInput>& inputs);

} // namespace lf::workfiles
