#pragma once
// The working files of one working directory: the files the program itself made there (exported
// files, checked-out decks, copied decks, saved documents, print files, zip files), known across
// operations and runs.
//
// What the program made is kept in a record beside the files, the hidden file ".lessonforge-files" in
// the working directory, and each file goes into it before it is made: a crash or a kill in the middle
// of an export leaves the record true, and the next operation in that working directory removes what
// was left. A file the program did not make (one the user keeps in the working directory) never goes
// into the record, and is never deleted.
//
// One WorkingFiles object serves one run: the files it registers are the run's working files list,
// which CleanWorkingFiles deletes; files in the record that the run did not register are leftovers of
// an earlier run.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>

namespace lf::workfiles {

class WorkingFiles {
public:
    // The working directory as typed (the setting WorkingDirectory); resolved once, here.
    explicit WorkingFiles(const QString& workingDirectory);
    WorkingFiles(const WorkingFiles&) = delete;
    WorkingFiles& operator=(const WorkingFiles&) = delete;

    const QString& workingDirectory() const { return workingDirectory_; }

    // To be called before the program makes or replaces the file at path. The file is the program's
    // when it does not exist yet (it is recorded now, before it is made) or when the record already
    // holds it (a file of an earlier run that this one replaces); then it goes on the run's list and
    // true is returned. A file the user put there, or a path outside the working directory, stays
    // out of the list and the record: false.
    bool willMake(const QString& path);
    // willMake for many files at once (the decks a staging copies): one write of the record, flushed
    // once, before any of them is made.
    void willMake(const QStringList& paths);
    // The same for a deck a check-out is about to write: it is the program's, but it is never deleted
    // while it is checked out, by this run or a later one.
    bool willCheckOut(const QString& path);
    // A checked-out deck that was checked back in: from now on an ordinary working file.
    void checkedIn(const QString& path);

    // A file the program made that turned out to be a result the user keeps (a zip file delivered into
    // the working directory itself): off the run's list and out of the record.
    void release(const QString& path);

    // The leftovers of earlier runs (files in the record this run did not register) are deleted, one
    // line each under tag, before an operation stages; decks still checked out are kept. Missing
    // leftovers are only dropped from the record. Returns false when the check-out directory guard
    // stopped the deletion.
    bool RemoveLeftovers(const QString& tag);

    // The check-out directory guard, then one deletion per file of the run's list, first to last; a
    // file that does not lie inside the working directory is refused, a failed deletion is logged;
    // either way the cleanup goes on. Checked-out decks stay. A completed cleanup empties the list; a
    // cancelled one keeps it.
    void CleanWorkingFiles();

    // The run's working files list, in order, and its 16-bit count.
    const QStringList& files() const { return files_; }
    std::int16_t count() const;
    // Whether the file at path is one the program made (this run or an earlier one).
    bool isProgramFile(const QString& path) const;

private:
    enum class State { Made, CheckedOut };
    // The key of a file in the record: its path relative to the working directory's host folder, or
    // empty when it does not lie inside it.
    QString keyOf(const QString& path) const;
    // Registers the file; the record's new lines (none for a file already known or the user's) go to
    // *events, for appendEvents.
    bool registerFile(const QString& path, State state, QByteArray* events);
    void append(char event, const QString& key);
    void appendEvents(const QByteArray& events);
    void rewrite();
    void load();
    void forget(const QString& key);
    bool deleteOne(const QString& path, const QString& tag, const QString& deletedLine);

    QString workingDirectory_;
    QString hostFolder_; // empty when the working directory cannot be resolved
    QString recordFile_;
    std::map<QString, State> record_; // key -> state
    QStringList files_;               // the run's list, as the program names them
    QStringList keys_;                // the run's list, as keys
};

// The clean-up an operation asks for, on every way out: when enabled, the working files are cleaned
// by now() at the operation's regular end, or else when the guard goes (an operation that ends early
// does not leave its staged copies behind for the next run to read; with nothing listed, nothing is
// logged then).
class CleanupOnEveryWayOut {
public:
    CleanupOnEveryWayOut(WorkingFiles& files, bool enabled);
    ~CleanupOnEveryWayOut();
    CleanupOnEveryWayOut(const CleanupOnEveryWayOut&) = delete;
    CleanupOnEveryWayOut& operator=(const CleanupOnEveryWayOut&) = delete;
    void now();

private:
    WorkingFiles& files_;
    bool pending_;
};

} // namespace lf::workfiles
