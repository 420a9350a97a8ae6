#include "private_cups.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <cups/cups.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lf::test {
namespace {

namespace fs = std::filesystem;

// Where Debian keeps what the server runs and reads; only read, never written.
const char* const systemServerBin = "/usr/lib/cups";
const char* const cupsPdfPpds[] = {"/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd",
                                   "/usr/share/cups/model/CUPS-PDF_opt.ppd"};
// The PostScript PPD CUPS compiles from the sample driver it ships (cups-common).
const char* const postScriptModel = "drv:///sample.drv/generic.ppd";
// The generic PCL XL (PCL 6) laser printer's PPD, whose chain ends in Ghostscript (cups-filters).
const char* const pclXlPpd = "/usr/share/ppd/cupsfilters/pxlmono.ppd";

QString findProgram(const QString& name) {
    QString path = QStandardPaths::findExecutable(name, {"/usr/sbin", "/usr/bin", "/usr/local/sbin"});
    return path.isEmpty() ? QStandardPaths::findExecutable(name) : path;
}

QString cupsPdfPpd() {
    for (const char* path : cupsPdfPpds)
        if (fs::exists(path))
            return path;
    return {};
}

void writeText(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush())
        throw std::runtime_error("cannot write " + file.string());
}

void makeFolder(const fs::path& folder, mode_t mode, gid_t group) {
    fs::create_directories(folder);
    if (::chown(folder.c_str(), 0, group) != 0 || ::chmod(folder.c_str(), mode) != 0)
        throw std::runtime_error("cannot set up " + folder.string() + ": " + std::strerror(errno));
}

// A backend that writes each job exactly as the queue sends it to the file its device URI names
// ("testfile:/path"). cupsd's own file: device cannot stand in for it: cupsd writes a file: device
// only through a filter, and a raw job has none, so `lp -o raw` would leave it unwritten.
const char* const testFileBackend = R"(#!/bin/sh
if [ $# -eq 0 ]; then
  echo 'direct testfile "Unknown" "A file of the test"'
  exit 0
fi
out=${DEVICE_URI#testfile:}
if [ $# -ge 6 ]; then cat -- "$6" > "$out.part"; else cat > "$out.part"; fi && mv -f -- "$out.part" "$out"
)";

// A fresh folder for the server. Its paths go into the configuration files and the socket's name
// must fit a socket address, so it is short and has no blanks: the temporary folder when that is
// so, else /tmp.
fs::path makeRoot() {
    QString base = QDir::tempPath();
    if (base.size() > 60 || base.contains(QRegularExpression("\\s")))
        base = "/tmp";
    QByteArray pattern = QFile::encodeName(base + "/lf-cups-XXXXXX");
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a folder for the private CUPS server");
    const fs::path root(pattern.constData());
    // The jobs run as lp, which must reach the spool and temporary folders inside.
    ::chmod(root.c_str(), 0755);
    return root;
}

// The cups-pdf PPD with the backend's folders set to ones of this server. cups-pdf reads its
// configuration from /etc/cups (compiled in) and then from the options of the queue's PPD, which
// override it; a PPD default cannot hold a "/", so the folders are relative: to the current folder
// of the backend, which is the one cupsd was started in (cupsd -f stays where it was started, and
// its children start there too): the root.
std::string privateCupsPdfPpd() {
    std::ifstream in(cupsPdfPpd().toStdString(), std::ios::binary);
    std::string ppd((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string options;
    for (const auto& [key, folder] : {std::pair<const char*, const char*>{"Out", "pdf-out"},
                                      {"AnonDirName", "pdf-out"},
                                      {"Spool", "pdf-spool"},
                                      {"Log", "pdf-log"}}) {
        const std::string k(key), f(folder);
        options += "*OpenUI *" + k + "/" + k + ": PickOne\n*OrderDependency: 100 AnySetup *" + k +
                   "\n*Default" + k + ": " + f + "\n*" + k + " " + f + "/" + f + ": \"\"\n*CloseUI: *" + k +
                   "\n\n";
    }
    const std::size_t at = ppd.find("*CloseGroup: General");
    ppd.insert(at == std::string::npos ? ppd.size() : at, options);
    return ppd;
}

} // namespace

QString PrivateCups::unavailableReason() {
    if (::geteuid() != 0)
        return "a private CUPS server needs root: cupsd runs its jobs as lp and cups-pdf only runs as root";
    for (const char* program : {"cupsd", "lpadmin", "lp", "lpstat"})
        if (findProgram(program).isEmpty())
            return QString("%1 is not installed (scripts/install-deps)").arg(program);
    if (!::getpwnam("lp") || !::getgrnam("lp"))
        return "there is no user or group lp";
    if (!fs::exists(fs::path(systemServerBin) / "backend" / "cups-pdf") || cupsPdfPpd().isEmpty())
        return "cups-pdf is not installed (printer-driver-cups-pdf)";
    return {};
}

PrivateCups::PrivateCups(bool withPclXlPrinter) : withPclXl_(withPclXlPrinter && hasPclXlPrinter()) {
    const QString reason = unavailableReason();
    if (!reason.isEmpty())
        throw std::runtime_error(reason.toStdString());
    if (qEnvironmentVariableIsSet("CUPS_SERVER"))
        oldServer_ = qgetenv("CUPS_SERVER");
    root_ = makeRoot();
    try {
        writeConfiguration();
        start();
        addQueues();
    } catch (...) {
        stop();
        std::rethrow_exception(std::current_exception());
    }
}

PrivateCups::~PrivateCups() {
    stop();
}

// The text with every "@" replaced by the server's folder.
std::string PrivateCups::withRoot(const char* text) const {
    std::string result;
    for (const char* c = text; *c; ++c)
        result += *c == '@' ? root_.string() : std::string(1, *c);
    return result;
}

void PrivateCups::writeConfiguration() {
    const gid_t lp = ::getgrnam("lp")->gr_gid;
    const fs::path etc = root_ / "etc";
    makeFolder(etc, 0755, lp);
    makeFolder(root_ / "spool", 0710, lp);
    makeFolder(root_ / "spool" / "tmp", 01770, lp);
    makeFolder(root_ / "cache", 0770, lp);
    makeFolder(root_ / "state", 0755, lp);
    makeFolder(root_ / "log", 0755, 0);
    for (const char* folder : {"pdf-out", "pdf-spool", "pdf-log"})
        makeFolder(root_ / folder, 0755, 0);

    // The server's own folders; the system's programs (see lib below) and data, only read.
    writeText(etc / "cups-files.conf", withRoot(R"(ServerRoot @/etc
RequestRoot @/spool
TempDir @/spool/tmp
CacheDir @/cache
StateDir @/state
ServerBin @/lib
DataDir /usr/share/cups
DocumentRoot /usr/share/cups/doc-root
AccessLog @/log/access_log
ErrorLog @/log/error_log
PageLog @/log/page_log
FileDevice Yes
User lp
Group lp
SystemGroup root
LogFileGroup root
)"));
    // No network, no sharing, no browsing, no authentication: only this test reaches the socket. A
    // job whose filters or backend fail is aborted, so the queue never stops and waits end.
    writeText(etc / "cupsd.conf", withRoot(R"(Listen @/cups.sock
LogLevel debug
MaxLogSize 0
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
DefaultAuthType None
ErrorPolicy abort-job
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
)"));
    for (const char* file : {"cups-files.conf", "cupsd.conf"})
        if (::chown((etc / file).c_str(), 0, lp) != 0 || ::chmod((etc / file).c_str(), 0640) != 0)
            throw std::runtime_error("cannot set up " + (etc / file).string());
    writeText(root_ / "cups-pdf.ppd", privateCupsPdfPpd());

    // The server's programs are the system's, but for the backends: cups-pdf and the test file one.
    const fs::path lib = root_ / "lib";
    makeFolder(lib, 0755, 0);
    for (const char* folder : {"cgi-bin", "daemon", "driver", "filter", "monitor", "notifier"})
        fs::create_directory_symlink(fs::path(systemServerBin) / folder, lib / folder);
    makeFolder(lib / "backend", 0755, 0);
    fs::create_symlink(fs::path(systemServerBin) / "backend" / "cups-pdf", lib / "backend" / "cups-pdf");
    writeText(lib / "backend" / "testfile", testFileBackend);
    ::chmod((lib / "backend" / "testfile").c_str(), 0700); // run as root, as cups-pdf is
}

void PrivateCups::start() {
    const QByteArray server = QFile::encodeName(QString::fromStdString(socket().string()));
    qputenv("CUPS_SERVER", server);
    cupsSetServer(server.constData()); // libcups keeps the server it found first

    const QString etc = QString::fromStdString((root_ / "etc").string());
    cupsd_.setProgram(findProgram("cupsd"));
    cupsd_.setArguments({"-f", "-c", etc + "/cupsd.conf", "-s", etc + "/cups-files.conf"});
    cupsd_.setWorkingDirectory(QString::fromStdString(root_.string()));
    cupsd_.setStandardInputFile(QProcess::nullDevice());
    cupsd_.setProcessChannelMode(QProcess::MergedChannels);
    cupsd_.setStandardOutputFile(QString::fromStdString((root_ / "log" / "cupsd.out").string()));
    // A test that crashes takes its server with it.
    cupsd_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    cupsd_.start();
    if (!cupsd_.waitForStarted(10000))
        throw std::runtime_error("cannot start cupsd: " + cupsd_.errorString().toStdString());

    const QDeadlineTimer deadline(30000);
    while (true) {
        if (cupsd_.state() == QProcess::NotRunning)
            throw std::runtime_error("cupsd ended at once:\n" + log().toStdString());
        if (http_t* http = httpConnect2(server.constData(), 0, nullptr, AF_LOCAL, HTTP_ENCRYPTION_NEVER, 1,
                                        1000, nullptr)) {
            ippDelete(cupsDoRequest(http, ippNewRequest(IPP_OP_CUPS_GET_DEFAULT), "/"));
            const ipp_status_t status = cupsLastError();
            httpClose(http);
            // No default printer yet: an answer all the same.
            if (status <= IPP_STATUS_OK_EVENTS_COMPLETE || status == IPP_STATUS_ERROR_NOT_FOUND)
                return;
        }
        if (deadline.hasExpired())
            throw std::runtime_error("cupsd did not answer within 30 s:\n" + log().toStdString());
        QThread::msleep(50);
    }
}

bool PrivateCups::hasPclXlPrinter() {
    std::error_code error;
    return fs::is_regular_file(pclXlPpd, error);
}

fs::path PrivateCups::ppdOf(const QString& queue) const {
    return root_ / "etc" / "ppd" / (queue.toStdString() + ".ppd");
}

void PrivateCups::addQueues() {
    const QString root = QString::fromStdString(root_.string());
    QList<QStringList> queues{
        {"-p", psPrinter, "-E", "-v", "testfile:" + QString::fromStdString(psOutput().string()), "-m",
         postScriptModel},
        {"-p", pdfPrinter, "-E", "-v", "cups-pdf:/", "-P", root + "/cups-pdf.ppd", "-o", "TitlePref=1"},
    };
    if (withPclXl_)
        queues.append({"-p", pclXlPrinter, "-E", "-v", "testfile:" + root + "/pxl-out.prn", "-P", pclXlPpd});
    for (const QStringList& arguments : queues) {
        QString output;
        if (run("lpadmin", arguments, &output) != 0)
            throw std::runtime_error("lpadmin " + arguments.join(' ').toStdString() +
                                     " failed: " + output.toStdString() + "\n" + log().toStdString());
    }
}

void PrivateCups::stop() {
    if (cupsd_.state() != QProcess::NotRunning) {
        cupsd_.terminate();
        if (!cupsd_.waitForFinished(15000)) {
            cupsd_.kill();
            cupsd_.waitForFinished(5000);
        }
    }
    if (oldServer_)
        qputenv("CUPS_SERVER", *oldServer_);
    else
        qunsetenv("CUPS_SERVER");
    cupsSetServer(nullptr); // found again from the environment and client.conf
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::vector<fs::path> PrivateCups::pdfOutputs() const {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(pdfOutFolder(), error))
        if (entry.is_regular_file() && entry.path().extension() == ".pdf")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

bool PrivateCups::waitUntilIdle(const QString& queue, int timeoutMs) const {
    const QByteArray name = queue.toUtf8();
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        cups_job_t* jobs = nullptr;
        const int active = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, name.constData(), 0, CUPS_WHICHJOBS_ACTIVE);
        cupsFreeJobs(active, jobs);
        if (active == 0)
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(100);
    }
}

int PrivateCups::run(const QString& program, const QStringList& arguments, QString* output) const {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("CUPS_SERVER", QString::fromStdString(socket().string()));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(findProgram(program), arguments);
    const bool finished = process.waitForStarted(10000) && process.waitForFinished(60000);
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    if (!finished) {
        process.kill();
        process.waitForFinished(5000);
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QString PrivateCups::log() const {
    QString text;
    for (const char* name : {"cupsd.out", "error_log"}) {
        QFile file(QString::fromStdString((root_ / "log" / name).string()));
        if (file.open(QIODevice::ReadOnly)) {
            const qint64 size = file.size();
            if (size > 16000)
                file.seek(size - 16000);
            text += QString("--- %1\n").arg(name) + QString::fromLocal8Bit(file.readAll());
        }
    }
    return text;
}

} // namespace lf::test
