#include "platform/printing.h"

#include "platform/whole_file.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cups/cups.h>
#include <cups/ppd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace lf::platform {
namespace {

// How long the filters of one print file may take. Ghostscript makes the PostScript of a 48-slide deck
// (a 1 MB PDF, 33 MB of PostScript) in about three minutes on a loaded two-core machine; a chain still
// running after ten times that has hung.
constexpr int filterTimeLimitMs = 30 * 60 * 1000;

QString unknownDestination(const QString& destination) {
    return QString("there is no printer named \"%1\"").arg(destination);
}

QString lastCupsError() {
    return QString::fromUtf8(cupsLastErrorString());
}

bool serverAnswers() {
    http_t* http =
        httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 10000, nullptr);
    if (!http)
        return false;
    httpClose(http);
    return true;
}

// The destination a name stands for, as the printer lists show it: "name" or "name/instance". It
// carries the options of the destination (its instance's among them), which a job on it gets.
class Destination {
public:
    // Null when the server knows no such destination; throws when no server answers.
    static std::unique_ptr<Destination> find(const QString& destination) {
        const int slash = destination.indexOf('/');
        const QByteArray name = (slash < 0 ? destination : destination.left(slash)).toUtf8();
        const QByteArray instance = slash < 0 ? QByteArray() : destination.mid(slash + 1).toUtf8();
        if (name.isEmpty() || (slash >= 0 && instance.isEmpty()))
            return nullptr;
        auto found = std::make_unique<Destination>();
        if (instance.isEmpty()) {
            // Asks the server for this one printer, without listing every destination; a network
            // printer that no server has a queue for yet is found too.
            found->dest_ = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.constData(), nullptr);
            found->count_ = found->dest_ ? 1 : 0;
        } else {
            // An instance lives in the lpoptions files only: the destination list knows it.
            cups_dest_t* dests = nullptr;
            const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
            if (cups_dest_t* dest = cupsGetDest(name.constData(), instance.constData(), count, dests))
                found->count_ = cupsCopyDest(dest, 0, &found->dest_);
            cupsFreeDests(count, dests);
        }
        if (found->dest_)
            return found;
        // libcups says "not found" for a server that does not answer too.
        if (!serverAnswers())
            throw PrintingError(QString("the print server %1 does not answer (asked for \"%2\")")
                                    .arg(QString::fromUtf8(cupsServer()), destination)
                                    .toStdString());
        return nullptr;
    }

    Destination() = default;
    ~Destination() {
        if (dest_)
            cupsFreeDests(count_, dest_);
    }
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    cups_dest_t* dest() const { return dest_; }
    const char* name() const { return dest_->name; }
    int optionCount() const { return dest_->num_options; }
    cups_option_t* options() const { return dest_->options; }

private:
    cups_dest_t* dest_ = nullptr;
    int count_ = 0;
};

Destination& knownDestination(std::unique_ptr<Destination>& found, const QString& destination) {
    if (!found)
        throw PrintingError(unknownDestination(destination).toStdString());
    return *found;
}

// A temporary file libcups made, removed when this goes.
class TemporaryPpd {
public:
    ~TemporaryPpd() {
        if (path[0])
            ::unlink(path);
    }
    char path[1024] = "";
};

// The PPD the server keeps for the destination, into a temporary file. libcups marks the call
// deprecated because CUPS is moving to driverless printers, but for a queue with a driver the PPD is
// the only description of its filter chain there is.
http_status_t fetchPpd(const Destination& dest, TemporaryPpd& ppd) {
    time_t modified = 0;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return cupsGetPPD3(CUPS_HTTP_DEFAULT, dest.name(), &modified, ppd.path, sizeof ppd.path);
#pragma GCC diagnostic pop
}

// The option as cupsfilter's -o reads it (cupsParseOptions): the value quoted, so that blanks and
// quotes in it stay part of it.
QString quotedOption(const cups_option_t& option) {
    QString value = QString::fromUtf8(option.value);
    value.replace('\\', "\\\\").replace('\'', "\\'");
    return QString::fromUtf8(option.name) + "='" + value + "'";
}

// The server's descriptions of the printer that come along with a destination's options are not
// options of a job.
bool isJobOption(const char* name) {
    return std::strncmp(name, "printer-", 8) != 0 && std::strncmp(name, "marker-", 7) != 0 &&
           std::strcmp(name, "device-uri") != 0 && std::strcmp(name, "auth-info-required") != 0;
}

QString cupsfilterProgram() {
    QString program = QStandardPaths::findExecutable("cupsfilter", {"/usr/sbin", "/usr/local/sbin"});
    if (program.isEmpty())
        program = QStandardPaths::findExecutable("cupsfilter");
    if (program.isEmpty())
        throw PrintingError("cupsfilter is not installed (Debian package cups)");
    return program;
}

// What the filters said about their failure: their ERROR lines, else whatever is not a DEBUG line.
QString filterMessage(const QByteArray& stderrBytes) {
    QStringList errors, others;
    for (const QString& raw : QString::fromUtf8(stderrBytes).split('\n', Qt::SkipEmptyParts)) {
        const QString line = raw.trimmed();
        if (line.startsWith("ERROR:"))
            errors.append(line.mid(6).trimmed());
        else if (!line.startsWith("DEBUG") && !line.startsWith("INFO:") && !line.startsWith("PAGE:") &&
                 !line.startsWith("ATTR:") && !line.startsWith("STATE:") && !line.contains("permissions OK"))
            others.append(line);
    }
    return (errors.isEmpty() ? others : errors).join("; ");
}

[[noreturn]] void failWriting(const QString& printFile, const std::string& why) {
    throw PrintingError(QString("cannot write the print file %1: %2")
                            .arg(printFile, QString::fromLocal8Bit(why.c_str()))
                            .toStdString());
}

// Runs the destination's filter chain, as the server would for a job, with the PDF as input and the
// printer's own format as output: -e takes every filter the PPD names, so a PPD whose printer wants
// PCL or raster gets that, a PostScript one PostScript. The output comes through a pipe and we write
// it into the print file ourselves, every write checked: cupsfilter exits 0 even after its output met
// a full disk, so a print file it wrote itself could be cut short without a word. The file is put in
// place only when the chain succeeded and the file is whole (platform/whole_file.h).
void runFilters(const QString& destination, const QStringList& jobOptions, const QString& ppd,
                const QString& pdf, const QString& printFile) {
    QStringList arguments{"-p", ppd, "-e", "-i", "application/pdf", "-m", "printer/foo"};
    arguments << jobOptions;
    arguments << pdf; // absolute, so never taken for an option
    WholeFileWriter out(QFileInfo(printFile).absoluteFilePath().toStdString());
    if (!out.why().empty())
        failWriting(printFile, out.why());
    QProcess filter;
    filter.setProgram(cupsfilterProgram());
    filter.setArguments(arguments);
    filter.setStandardInputFile(QProcess::nullDevice());
    // In a process group of its own, so that a chain past its time goes with all its filters.
    filter.setChildProcessModifier([] { ::setpgid(0, 0); });
    filter.start();
    if (!filter.waitForStarted())
        throw PrintingError(QString("cannot start cupsfilter for \"%1\": %2")
                                .arg(destination, filter.errorString())
                                .toStdString());
    std::string writeFailure;
    auto takeOutput = [&] {
        const QByteArray chunk = filter.readAllStandardOutput();
        if (!chunk.isEmpty() && writeFailure.empty() &&
            !out.write(std::string_view(chunk.constData(), static_cast<std::size_t>(chunk.size()))))
            writeFailure = out.why();
    };
    const QDeadlineTimer deadline(filterTimeLimitMs);
    while (filter.state() != QProcess::NotRunning && writeFailure.empty() && !deadline.hasExpired()) {
        filter.waitForReadyRead(static_cast<int>(std::min<qint64>(deadline.remainingTime(), 1000)));
        takeOutput();
    }
    if (filter.state() != QProcess::NotRunning) {
        // Past its time, or its output has nowhere to go: the chain ends with all its filters.
        ::kill(-static_cast<pid_t>(filter.processId()), SIGKILL);
        filter.waitForFinished();
        if (writeFailure.empty())
            throw PrintingError(QString("the filters of \"%1\" did not finish within %2 minutes")
                                    .arg(destination)
                                    .arg(filterTimeLimitMs / 60000)
                                    .toStdString());
    }
    takeOutput();
    if (!writeFailure.empty())
        failWriting(printFile, writeFailure);
    if (filter.exitStatus() != QProcess::NormalExit || filter.exitCode() != 0) {
        QString message = filterMessage(filter.readAllStandardError());
        if (message.isEmpty())
            message = filter.exitStatus() == QProcess::NormalExit
                          ? QString("cupsfilter ended with status %1").arg(filter.exitCode())
                          : QString("cupsfilter crashed");
        throw PrintingError(
            QString("the filters of \"%1\" failed on %2: %3").arg(destination, pdf, message).toStdString());
    }
    const std::string why = out.commit();
    if (!why.empty())
        failWriting(printFile, why);
}

// The destination's options as cupsfilter's arguments ("-o", "name='value'", ...).
QStringList jobOptionsOf(const Destination& dest) {
    QStringList options;
    for (int i = 0; i < dest.optionCount(); ++i)
        if (isJobOption(dest.options()[i].name))
            options << "-o" << quotedOption(dest.options()[i]);
    return options;
}

// A file as its name, size and time of change: an upgrade of a package replaces its files.
QString stamp(const QFileInfo& file) {
    return QString("%1 %2 %3\n")
        .arg(file.absoluteFilePath())
        .arg(file.size())
        .arg(file.lastModified().toMSecsSinceEpoch());
}

// The filter chain's version: libcups's, cupsfilter's, every filter's and Ghostscript's (which most
// chains end in). Read once per process.
const QByteArray& filterChainVersion() {
    static const QByteArray version = [] {
        QString text = QString("cups %1.%2.%3\n")
                           .arg(CUPS_VERSION_MAJOR)
                           .arg(CUPS_VERSION_MINOR)
                           .arg(CUPS_VERSION_PATCH);
        try {
            text += stamp(QFileInfo(cupsfilterProgram()));
        } catch (const PrintingError&) {
        }
        const QString serverBin = qEnvironmentVariableIsEmpty("CUPS_SERVERBIN")
                                      ? QStringLiteral("/usr/lib/cups")
                                      : qEnvironmentVariable("CUPS_SERVERBIN");
        for (const QFileInfo& filter : QDir(serverBin + "/filter").entryInfoList(QDir::Files, QDir::Name))
            text += stamp(filter);
        const QString gs = QStandardPaths::findExecutable("gs");
        if (!gs.isEmpty())
            text += stamp(QFileInfo(gs));
        return text.toUtf8();
    }();
    return version;
}

// The key of the print file of the PDF on the destination with these settings.
std::string printFileKey(const PrintFileStore& store, const QString& destination, const Destination& dest,
                         const QString& ppd, const QStringList& jobOptions) {
    QFile ppdFile(ppd);
    if (!ppdFile.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash key(QCryptographicHash::Sha256);
    auto add = [&key](const QByteArray& part) {
        key.addData(QByteArray::number(part.size()) + ":");
        key.addData(part);
    };
    add("print file 1");
    add(QByteArray::fromStdString(store.pdfHash));
    add(destination.toUtf8());
    add(QByteArray(dest.name()));
    add(ppdFile.readAll());
    add(jobOptions.join('\n').toUtf8());
    add(filterChainVersion());
    return key.result().toHex().toStdString();
}

// Where the PPD comes from: cupsGetPPD3 asks the server of the destination (for a queue that a remote
// server shares, libcups follows it to that server), so the chain is the one that server would run,
// with the defaults set on it. The filters run here, so a PPD naming a filter this machine lacks fails
// with cupsfilter's message instead of writing something else.
//
// A destination without a PPD is a raw queue or a driverless (IPP Everywhere) printer: the server sends
// it the document as it is, so its print file is the PDF itself. A driverless printer that takes
// neither PDF nor any format at all (as a raw queue does) could not print that file, and is refused.
//
// The print file of the PDF: from the store when it keeps one under the same key, else through the
// destination's filters (and then kept).
bool writePrintFileWith(const QString& destination, const QString& pdfFile, const QString& printFile,
                        const PrintFileStore* store) {
    std::unique_ptr<Destination> found = Destination::find(destination);
    const Destination& dest = knownDestination(found, destination);
    const QFileInfo pdf(pdfFile);
    if (!pdf.isFile() || !pdf.isReadable())
        throw PrintingError(QString("cannot read the PDF %1").arg(pdfFile).toStdString());

    TemporaryPpd ppd;
    const http_status_t status = fetchPpd(dest, ppd);
    if (status != HTTP_STATUS_OK && status != HTTP_STATUS_NOT_FOUND)
        throw PrintingError(
            QString("cannot fetch the PPD of \"%1\": %2").arg(destination, lastCupsError()).toStdString());

    const std::filesystem::path target = QFileInfo(printFile).absoluteFilePath().toStdString();
    if (status == HTTP_STATUS_NOT_FOUND) {
        if (cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest.dest())) {
            const bool takesPdf = cupsCheckDestSupported(CUPS_HTTP_DEFAULT, dest.dest(), info,
                                                         "document-format", "application/pdf") ||
                                  cupsCheckDestSupported(CUPS_HTTP_DEFAULT, dest.dest(), info,
                                                         "document-format", "application/octet-stream");
            cupsFreeDestInfo(info);
            if (!takesPdf)
                throw PrintingError(QString("the printer \"%1\" has no driver and takes no PDF")
                                        .arg(destination)
                                        .toStdString());
        }
        const std::string why = copyWholeFile(pdf.absoluteFilePath().toStdString(), target);
        if (!why.empty())
            failWriting(printFile, why);
        return false;
    }
    const QString ppdPath = QString::fromLocal8Bit(ppd.path);
    const QStringList jobOptions = jobOptionsOf(dest);
    const std::string key =
        store && !store->pdfHash.empty() ? printFileKey(*store, destination, dest, ppdPath, jobOptions) : "";
    if (!key.empty() && store->fetch(key, target))
        return true;
    runFilters(destination, jobOptions, ppdPath, pdf.absoluteFilePath(), printFile);
    if (!key.empty())
        store->store(key, target);
    return false;
}

} // namespace

bool printerExists(const QString& destination) {
    try {
        return Destination::find(destination) != nullptr;
    } catch (const PrintingError&) {
        return false; // a server that does not answer knows no printer
    }
}

void writePrintFile(const QString& destination, const QString& pdfFile, const QString& printFile) {
    writePrintFileWith(destination, pdfFile, printFile, nullptr);
}

bool writePrintFile(const QString& destination, const QString& pdfFile, const QString& printFile,
                    const PrintFileStore& store) {
    return writePrintFileWith(destination, pdfFile, printFile, &store);
}

int submitPrintJob(const QString& destination, const QString& file, const QString& title) {
    std::unique_ptr<Destination> found = Destination::find(destination);
    const Destination& dest = knownDestination(found, destination);
    if (!QFileInfo(file).isReadable())
        throw PrintingError(QString("cannot read %1").arg(file).toStdString());
    // As lp does: the destination's options (an instance's too) go with the job. libcups sends it to
    // the server of the destination, making a queue for a network printer first when it has none.
    const int job = cupsPrintFile2(CUPS_HTTP_DEFAULT, dest.name(), QFile::encodeName(file).constData(),
                                   title.toUtf8().constData(), dest.optionCount(), dest.options());
    if (job <= 0)
        throw PrintingError(QString("the printer \"%1\" refused the job: %2")
                                .arg(destination, lastCupsError())
                                .toStdString());
    return job;
}

} // namespace lf::platform
