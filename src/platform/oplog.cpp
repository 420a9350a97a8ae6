#include "platform/oplog.h"

#include "platform/paths.h"

#include <cstdio>
#include <limits>

namespace lf::oplog {
namespace {

class StandardErrorSink : public OperationLogSink {
public:
    void appendLine(const QString& line) override {
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    }
    void appendError(const QString&) override {}
    bool showErrorDialog() override { return false; }
};

StandardErrorSink standardErrorSink;
OperationLogSink* currentSink = nullptr;
std::int16_t count = 0;

} // namespace

void installOperationLogSink(OperationLogSink* sink) {
    currentSink = sink;
}
OperationLogSink& operationLogSink() {
    return currentSink ? *currentSink : standardErrorSink;
}

// A name the host holds in bytes that are not UTF-8 is shown with the replacement character.
QString logLine(const QString& tag, const QString& message) {
    return platform::shownName(tag + " - " + message);
}

void LogOperation(const QString& tag, const QString& message, bool isError) {
    OperationLogSink& sink = operationLogSink();
    const QString line = logLine(tag, message);
    if (isError)
        sink.appendError(platform::shownName(message));
    sink.appendLine(line);
    if (isError)
        sink.noteFailure(line);
}

void LogFailure(const QString& tag, const QString& message) {
    OperationLogSink& sink = operationLogSink();
    const QString line = logLine(tag, message);
    sink.appendLine(line);
    sink.noteFailure(line);
}

void NoteFailure(const QString& what) {
    operationLogSink().noteFailure(platform::shownName(what));
}

void LogProgress(const QString& operation, const QString& item, qsizetype done, qsizetype total) {
    operationLogSink().showProgress(operation, item, static_cast<int>(done), static_cast<int>(total));
}

bool CheckNothingProcessed(std::int16_t processCountValue, const QString& tag) {
    if (processCountValue != 0)
        return true;
    LogOperation(tag, "Process count is zero", false);
    LogFailure(tag, "Nothing was processed");
    return false;
}

bool ShowErrorDialog() {
    return operationLogSink().showErrorDialog();
}

std::int16_t processCount() {
    return count;
}
void resetProcessCount() {
    count = 0;
}
void countProcessedFile() {
    if (count < std::numeric_limits<std::int16_t>::max())
        ++count;
}

RecordingLogSink::RecordingLogSink() : previous_(currentSink) {
    installOperationLogSink(this);
}
RecordingLogSink::~RecordingLogSink() {
    if (currentSink == this)
        installOperationLogSink(previous_);
}

} // namespace lf::oplog
