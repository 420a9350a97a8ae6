// The wizard's operation log under a long run: the real window, offscreen, on its run page; lines
// logged the way a run logs them (through the operation log, the event loop let in after each line, a
// failure every 100 lines) until the list holds them all. Measured twice on lines of the same shape:
//   per line  each line added to the list, selected and scrolled to at once, as the list grew before
//             (a sink doing just that, installed in place of the window's own)
//   batched   the window's own sink: the list grows at most once per batch interval
// Each prints the total, the lines per second and the longest the window was blocked by one line.
// The batched log must take in 10,000 lines in under a second.
// Usage: bench_wizard_log [lines] [per-line lines]  (defaults 10000 and 3000; the per-line growth is
// quadratic, so its run is kept shorter)
#include "platform/oplog.h"
#include "platform/services.h"
#include "wizard/frmWizard.h"

#include <QApplication>
#include <QListWidget>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

using Clock = std::chrono::steady_clock;

namespace {

// The list's growth before batching: every line added, and selected and scrolled to while the log
// shows its end.
class PerLineSink : public lf::oplog::OperationLogSink {
public:
    explicit PerLineSink(QListWidget* log) : log_(log) {}
    void appendLine(const QString& line) override {
        QScrollBar* bar = log_->verticalScrollBar();
        const bool follows = bar->value() == bar->maximum();
        log_->addItem(line);
        if (follows) {
            log_->setCurrentRow(log_->count() - 1, QItemSelectionModel::ClearAndSelect);
            log_->scrollToBottom();
        }
    }
    void appendError(const QString&) override {}
    bool showErrorDialog() override { return true; }

private:
    QListWidget* log_;
};

struct Result {
    double seconds = 0;
    double longestLineMs = 0;
};

// Logs count lines as a print-ready run over a course logs them, and waits until the list holds them.
Result logRun(lf::wizard::frmWizard& wizard, int count) {
    wizard.lstOperations->clear();
    Result result;
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const auto before = Clock::now();
        const QString deck = QString("Module %1\\%1_%2 Routing and switching.pptx").arg(i / 40).arg(i % 40);
        if (i % 100 == 99)
            lf::oplog::LogFailure("PRU", "Cannot print " + deck);
        else
            lf::oplog::LogOperation("PRU", "Printed " + deck, false);
        lf::platform::yieldToEventLoop();
        result.longestLineMs = std::max(
            result.longestLineMs, std::chrono::duration<double, std::milli>(Clock::now() - before).count());
    }
    wizard.showPendingLogLines();
    QCoreApplication::processEvents();
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (wizard.lstOperations->count() != count)
        std::fprintf(stderr, "bench_wizard_log: the list holds %d lines of %d\n",
                     static_cast<int>(wizard.lstOperations->count()), count);
    return result;
}

void print(const char* name, int count, const Result& r) {
    std::printf("%-10s %7d lines %9.3f s %10.0f lines/s   longest line %8.2f ms\n", name, count, r.seconds,
                count / r.seconds, r.longestLineMs);
}

} // namespace

int main(int argc, char** argv) {
    const int lines = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int perLineLines = argc > 2 ? std::atoi(argv[2]) : 3000;
    // A private configuration folder, so that the settings and window memory of the user stay untouched.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    lf::wizard::WizardParts parts;
    parts.rememberWindow = false;
    lf::wizard::frmWizard wizard(std::move(parts));
    wizard.resize(800, 600);
    wizard.show();
    wizard.displayControls(5);
    QCoreApplication::processEvents();

    lf::oplog::OperationLogSink& windowSink = lf::oplog::operationLogSink();
    PerLineSink perLine(wizard.lstOperations);
    lf::oplog::installOperationLogSink(&perLine);
    const Result before = logRun(wizard, perLineLines);
    lf::oplog::installOperationLogSink(&windowSink);
    const Result sameCount = logRun(wizard, perLineLines);
    const Result batched = logRun(wizard, lines);

    print("per line", perLineLines, before);
    print("batched", perLineLines, sameCount);
    print("batched", lines, batched);
    if (lines >= 10000 && batched.seconds >= 1.0) {
        std::printf("FAIL: %d lines took %.3f s (must be under 1 s)\n", lines, batched.seconds);
        return 1;
    }
    return 0;
}
