#pragma once
// The operation log: the one progress and diagnostics channel of every operation besides message
// boxes. Operations call LogOperation and CheckNothingProcessed and keep the process count; they never
// reach a window. Whoever shows the log (the wizard, a test, a command-line runner) installs a sink:
// the sink receives each log line for the operations list, each error message for the errors list,
// and answers ShowErrorDialog. With no sink installed, lines go to standard error and the errors
// dialog answers "cancel".
//
// Library lf_oplog; Qt Core only.
#include <QString>
#include <QStringList>

#include <cstdint>

namespace lf::oplog {

class OperationLogSink {
public:
    virtual ~OperationLogSink() = default;
    // A line tag + " - " + message, for the end of the operations list (which then selects it).
    virtual void appendLine(const QString& line) = 0;
    // The bare message of a line logged as an error, for the end of the errors list.
    virtual void appendError(const QString& message) = 0;
    // Shows the errors list modally; true means continue, false cancel.
    virtual bool showErrorDialog() = 0;
    // Told of every failure of a run: a line logged as an error, a line logged with LogFailure, or a
    // failure shown only in a box (NoteFailure). The window has the lines to show already; a runner
    // that must tell its caller whether the run went wrong counts them.
    virtual void noteFailure(const QString& what) { static_cast<void>(what); }
    // How far an operation is: done of total items ("deck", "document") handled. The window shows
    // it under the log; a runner may ignore it.
    virtual void showProgress(const QString& operation, const QString& item, int done, int total) {
        static_cast<void>(operation);
        static_cast<void>(item);
        static_cast<void>(done);
        static_cast<void>(total);
    }
};

// The sink in use; nullptr restores the standard-error sink. The caller keeps ownership.
void installOperationLogSink(OperationLogSink* sink);
OperationLogSink& operationLogSink();

// tag + " - " + message.
QString logLine(const QString& tag, const QString& message);

// When isError, the message goes to the errors list first; then the line goes to the operations list.
void LogOperation(const QString& tag, const QString& message, bool isError);

// A line, not flagged as an error, that says the operation failed or ended without its result (a
// "Serious error" line, a missing source, a deck that ended the operation): logged as LogOperation
// logs it, and noted as a failure.
void LogFailure(const QString& tag, const QString& message);

// A failure that the user is told of in a box rather than in a line: noted, nothing logged.
void NoteFailure(const QString& what);

// An operation starts on item done of total ("Index", "deck", 3, 30): tells the sink.
void LogProgress(const QString& operation, const QString& item, qsizetype done, qsizetype total);

// With a process count of 0: logs "Process count is zero" and then "Nothing was processed" under the
// tag (not as errors; the second is noted as a failure, since nothing the user asked for was made)
// and returns false. Otherwise logs nothing and returns true.
bool CheckNothingProcessed(std::int16_t processCount, const QString& tag);

// Shows the "Errors Encountered" dialog modally and returns the answer (true: continue).
bool ShowErrorDialog();

// The program-wide 16-bit count of files processed by the current operation. Each operation resets it
// when it starts and counts each file; the count stops at 32767 instead of wrapping round to a
// negative (or zero) count that would report a busy run as having processed nothing.
std::int16_t processCount();
void resetProcessCount();
void countProcessedFile();

// A sink that keeps what it receives, for tests and for runs without a window; installs itself for as
// long as it lives (restoring the sink it replaced).
class RecordingLogSink : public OperationLogSink {
public:
    RecordingLogSink();
    ~RecordingLogSink() override;
    RecordingLogSink(const RecordingLogSink&) = delete;
    RecordingLogSink& operator=(const RecordingLogSink&) = delete;

    void appendLine(const QString& line) override { lines.append(line); }
    void appendError(const QString& message) override { errors.append(message); }
    bool showErrorDialog() override {
        ++errorDialogsShown;
        return errorDialogAnswer;
    }
    void noteFailure(const QString& what) override { failures.append(what); }
    void showProgress(const QString& operation, const QString& item, int done, int total) override {
        progress.append(QString("%1: %2 %3 of %4").arg(operation, item).arg(done).arg(total));
    }

    QStringList lines;
    QStringList errors;
    QStringList failures;
    QStringList progress; // "Index: deck 1 of 2", as the window shows it
    bool errorDialogAnswer = false;
    int errorDialogsShown = 0;

private:
    OperationLogSink* previous_;
};

} // namespace lf::oplog
