#pragma once
// The working files list: the program-wide list of temporary files that operations leave in the
// working directory (exported files, copied decks, zip files). Each file is registered when it is made;
// CleanWorkingFiles deletes every registered file at the end of an operation that asks for it.

#include <QString>
#include <QStringList>

#include <cstdint>

namespace lf::workfiles {

// Appends one local (Windows-style) path to the end of the list. The same path may stand twice.
// Only a file the program itself created goes on the list, never one that was there before.
void AddWorkingFile(const QString& path);

// The check-out directory guard, then one deletion per entry, first to last; an entry that does not
// lie inside the working directory (resolved on the host) is refused, and a failed deletion is
// logged; either way the cleanup goes on. A completed cleanup empties the list; a cancelled one keeps it.
// workingDirectory: the working directory of the operation that cleans up (the wizard's setting).
void CleanWorkingFiles(const QString& workingDirectory);

// The clean-up an operation asks for, on every way out: when enabled, the working files are cleaned
// by now() at the operation's regular end, or else when the guard goes (an operation that ends early
// does not leave its staged copies behind for the next run to read; with nothing listed, nothing is
// logged then).
class CleanupOnEveryWayOut {
public:
    CleanupOnEveryWayOut(const QString& workingDirectory, bool enabled);
    ~CleanupOnEveryWayOut();
    CleanupOnEveryWayOut(const CleanupOnEveryWayOut&) = delete;
    CleanupOnEveryWayOut& operator=(const CleanupOnEveryWayOut&) = delete;
    void now();

private:
    QString workingDirectory_;
    bool pending_;
};

// The registered paths, in order, and their 16-bit count.
const QStringList& workingFiles();
std::int16_t workingFileCount();

} // namespace lf::workfiles
