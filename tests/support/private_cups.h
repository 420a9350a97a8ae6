#pragma once
// A CUPS server of the test's own: its own cupsd, with its own configuration, spool, cache, state
// and logs in a temporary folder, listening on a local socket of that folder only (no network), so
// that a test never sees or touches the machine's printers. While it lives, CUPS_SERVER points the
// test process (libcups, and lp/lpstat/lpadmin started from it) at it; the old value comes back
// when it goes, and so does the server: stopped, never left running.
//
// It has two queues, enabled and accepting jobs:
//   "PS-Printer"  a generic PostScript printer (the PPD CUPS builds from its sample driver) whose
//                 device is a file: every job it prints lands in psOutput(), replacing the last.
//   "PDF"         the cups-pdf virtual printer, writing its PDFs into pdfOutFolder(), each named
//                 after its job's title and id: a job titled "Module 1" becomes "Module_1-job_7.pdf"
//                 (TitlePref=1, as scripts/start-cups sets up the machine's PDF printer).
// and, when asked for and the generic PCL XL driver is installed (hasPclXlPrinter), a third:
//   "PXL-Printer" a PCL XL (PCL 6) laser printer, its device a file as PS-Printer's is.
// cupsd runs jobs as the user lp and cups-pdf needs root, so the server needs root (CI's and this
// machine's tests run as root); unavailableReason() says why it cannot start anywhere else.
#include <QProcess>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lf::test {

class PrivateCups {
public:
    static constexpr const char* psPrinter = "PS-Printer";
    static constexpr const char* pdfPrinter = "PDF";
    static constexpr const char* pclXlPrinter = "PXL-Printer";
    static bool hasPclXlPrinter();

    // Empty when a private server can start here; otherwise why not (for GTEST_SKIP).
    static QString unavailableReason();

    // Starts the server and makes both queues (the PCL XL one too when asked for and installed);
    // throws std::runtime_error (with the server's log) when it cannot.
    explicit PrivateCups(bool withPclXlPrinter = false);
    ~PrivateCups();
    PrivateCups(const PrivateCups&) = delete;
    PrivateCups& operator=(const PrivateCups&) = delete;

    // The temporary folder everything lives in, and the server's socket (what CUPS_SERVER holds).
    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path socket() const { return root_ / "cups.sock"; }
    // The file PS-Printer's device writes, and the folder cups-pdf writes the PDF queue's jobs into.
    std::filesystem::path psOutput() const { return root_ / "ps-out.prn"; }
    std::filesystem::path pdfOutFolder() const { return root_ / "pdf-out"; }
    // The PPD the server keeps for a queue (what a filter chain for it runs with).
    std::filesystem::path ppdOf(const QString& queue) const;
    // The PDFs cups-pdf has written so far, sorted by name.
    std::vector<std::filesystem::path> pdfOutputs() const;

    // Waits, at most timeoutMs, until the queue has no job waiting or printing (a job the server
    // gave up on counts as done); false when the time ran out.
    bool waitUntilIdle(const QString& queue, int timeoutMs = 60000) const;

    // Runs a CUPS command-line program (lpadmin, lp, lpstat...) against this server; its exit code,
    // with what it printed (standard output and error) in *output when asked. -1 when it did not run
    // or did not end within a minute.
    int run(const QString& program, const QStringList& arguments, QString* output = nullptr) const;

    // The end of the server's error log (debug level), for the message of a failed expectation.
    QString log() const;

private:
    std::string withRoot(const char* text) const;
    void writeConfiguration();
    void start();
    void addQueues();
    void stop();

    std::filesystem::path root_;
    bool withPclXl_ = false;
    QProcess cupsd_;
    std::optional<QByteArray> oldServer_;
};

} // namespace lf::test
