#include "private_postgres.h"

#include "test_support.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <mutex>
#include <pwd.h>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace lf::test {
namespace {

namespace fs = std::filesystem;

const char* const versionsFolder = "/usr/lib/postgresql";
const char* const account = "postgres";
const char* const superuser = "postgres";
const char* const serverPrograms[] = {"initdb", "pg_ctl", "postgres"};
const char* const runuserPaths[] = {"/usr/sbin/runuser", "/sbin/runuser", "/usr/bin/runuser"};

// The bin folder of the highest PostgreSQL version that has the server's programs; empty when none.
fs::path findBinFolder() {
    fs::path best;
    double bestVersion = -1;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(versionsFolder, error)) {
        const fs::path bin = entry.path() / "bin";
        const bool complete =
            std::all_of(std::begin(serverPrograms), std::end(serverPrograms),
                        [&](const char* program) { return ::access((bin / program).c_str(), X_OK) == 0; });
        const std::string name = entry.path().filename().string();
        char* end = nullptr;
        const double version = std::strtod(name.c_str(), &end);
        if (complete && end != name.c_str() && version > bestVersion) {
            bestVersion = version;
            best = bin;
        }
    }
    return best;
}

std::string findRunuser() {
    for (const char* path : runuserPaths)
        if (::access(path, X_OK) == 0)
            return path;
    return {};
}

std::string randomSecret() {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device device;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    std::string secret;
    for (int i = 0; i < 24; ++i)
        secret += alphabet[pick(device)];
    return secret;
}

// A value of a libpq connection string: in single quotes, with backslash and quote escaped.
std::string quoteConnValue(const std::string& value) {
    std::string quoted = "'";
    for (char c : value) {
        if (c == '\\' || c == '\'')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "'";
}

std::string quoteIdentifier(const std::string& name) {
    std::string quoted = "\"";
    for (char c : name)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string quoteLiteral(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

// The tail of a file, at most 16000 bytes, under a heading; nothing when it cannot be read.
std::string fileTail(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(std::max<std::streamoff>(0, size - 16000));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return "--- " + file.filename().string() + "\n" + text;
}

// The environment of every program started here: nothing of the test process's own.
struct CleanEnvironment {
    explicit CleanEnvironment(const fs::path& home)
        : strings{"PATH=/usr/bin:/bin", "LC_ALL=C", "LANG=C", "TZ=UTC", "HOME=" + home.string()} {
        for (std::string& s : strings)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

// Starts a program with the clean environment, in the folder, its standard input /dev/null and its
// output appended to the file (or /dev/null), no other descriptor of the test process open, default
// signal handling and, when asked, a session of its own. Its process id; throws when it cannot start.
pid_t spawn(const std::vector<std::string>& argv, const fs::path& folder, const fs::path& output, int input,
            bool ownSession) {
    std::vector<std::string> args = argv;
    std::vector<char*> pointers;
    for (std::string& a : args)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    const CleanEnvironment environment(folder);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0)
        posix_spawn_file_actions_adddup2(&actions, input, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.empty() ? "/dev/null" : output.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                             (ownSession ? POSIX_SPAWN_SETSID : 0)));
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, pointers[0], &actions, &attributes, pointers.data(),
                                    const_cast<char**>(environment.pointers.data()));
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
    return pid;
}

// Waits for the process; its exit code, or -1 when a signal ended it.
int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void chownToAccount(const fs::path& path) {
    const passwd* user = ::getpwnam(account);
    if (!user || ::chown(path.c_str(), user->pw_uid, user->pw_gid) != 0)
        throw std::runtime_error("cannot give " + path.string() + " to " + account + ": " +
                                 std::strerror(errno));
}

// A libpq connection, closed when it goes; throws with libpq's message when it cannot be made.
struct Connection {
    explicit Connection(const std::string& conninfo) : conn(PQconnectdb(conninfo.c_str())) {
        if (!conn)
            throw std::runtime_error("libpq: out of memory");
        if (PQstatus(conn) != CONNECTION_OK) {
            const std::string message = PQerrorMessage(conn);
            PQfinish(conn);
            throw std::runtime_error("cannot connect to the private PostgreSQL server: " + message);
        }
        PQsetNoticeProcessor(
            conn, [](void*, const char*) {}, nullptr);
    }
    ~Connection() { PQfinish(conn); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    std::string exec(const std::string& sql) const {
        std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(conn, sql.c_str()), &PQclear);
        const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_EMPTY_QUERY)
            throw std::runtime_error(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn));
        if (status != PGRES_TUPLES_OK || PQntuples(result.get()) == 0 || PQnfields(result.get()) == 0)
            return "";
        return PQgetvalue(result.get(), 0, 0);
    }

    PGconn* conn;
};

// A database or role name made of the prefix: lower-case letters, digits and "_", a letter first.
std::string identifierPrefix(const std::string& prefix) {
    std::string name;
    for (char c : prefix) {
        const auto u = static_cast<unsigned char>(c);
        name += (std::isalnum(u) && u < 0x80) ? static_cast<char>(std::tolower(u)) : '_';
    }
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0])))
        name = "db_" + name;
    return name.substr(0, 40);
}

} // namespace

QString PrivatePostgres::unavailableReason() {
    if (findBinFolder().empty())
        return QString("PostgreSQL's server programs are not installed in %1/<version>/bin (postgresql, "
                       "scripts/install-deps)")
            .arg(versionsFolder);
    if (::geteuid() == 0) {
        if (!::getpwnam(account))
            return "PostgreSQL does not run as root and there is no account postgres to run it as";
        if (findRunuser().empty())
            return "PostgreSQL does not run as root and there is no runuser to run it as postgres";
    }
    return {};
}

PrivatePostgres::PrivatePostgres(bool durable) : owner_(::getpid()) {
    const QString reason = unavailableReason();
    if (!reason.isEmpty())
        throw std::runtime_error(reason.toStdString());
    bin_ = findBinFolder();
    asPostgres_ = ::geteuid() == 0;
    superuserPassword_ = randomSecret();
    // The socket file's name, folder/.s.PGSQL.<port>, must fit a socket address (107 bytes), and the
    // account postgres must reach the folder: hence /tmp, never a long or private TMPDIR.
    char pattern[] = "/tmp/lf-pg-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error(std::string("cannot make a folder for the private PostgreSQL server: ") +
                                 std::strerror(errno));
    root_ = pattern;
    port_ = 20000 + static_cast<int>(std::random_device{}() % 40000);
    try {
        startWatcher();
        initialise(durable);
        start();
    } catch (const std::exception& e) {
        const std::string log = logTail();
        stop();
        throw std::runtime_error(std::string(e.what()) + "\n" + log);
    }
}

PrivatePostgres::~PrivatePostgres() {
    // A child that fork() made of the test process (a death test) leaves its parent's server alone.
    if (::getpid() == owner_)
        stop();
}

int PrivatePostgres::runTool(const std::string& tool, const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv;
    if (asPostgres_)
        argv = {findRunuser(), "-u", account, "--"};
    argv.push_back((bin_ / tool).string());
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return waitFor(spawn(argv, root_, root_ / "tools.log", -1, false));
}

void PrivatePostgres::startWatcher() {
    // Waits for the end of its standard input, which comes when the test process has gone (this
    // object closes its end, or the kernel does); then stops a server still running and removes the
    // folder. $1 pg_ctl, $2 the data folder, $3 the folder, $4 runuser when it runs as postgres.
    static const char* const script = R"(cat >/dev/null
if [ -f "$2/postmaster.pid" ]; then
  if [ -n "$4" ]; then "$4" -u postgres -- "$1" -D "$2" -m immediate -w -t 30 -s stop
  else "$1" -D "$2" -m immediate -w -t 30 -s stop; fi
fi
rm -rf -- "$3"
)";
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
    try {
        watcher_ = spawn({"/bin/sh", "-c", script, "lf-postgres-watcher", (bin_ / "pg_ctl").string(),
                          dataFolder().string(), root_.string(), asPostgres_ ? findRunuser() : std::string()},
                         "/", {}, fds[0], true);
    } catch (...) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw;
    }
    ::close(fds[0]);
    watcherPipe_ = fds[1];
}

void PrivatePostgres::initialise(bool durable) {
    const fs::path sockets = socketFolder();
    const std::string socketFile = sockets.string() + "/.s.PGSQL." + std::to_string(port_);
    if (socketFile.size() > 107)
        throw std::runtime_error("the socket's path is too long: " + socketFile);
    fs::create_directory(sockets);
    ::chmod(root_.c_str(), 0700);
    ::chmod(sockets.c_str(), 0700);
    const fs::path passwordFile = root_ / "superuser-password";
    writeFile(passwordFile, superuserPassword_ + "\n");
    ::chmod(passwordFile.c_str(), 0600);
    if (asPostgres_)
        for (const fs::path& path : {root_, sockets, passwordFile})
            chownToAccount(path);

    const int initdb =
        runTool("initdb", {"-D", dataFolder().string(), "-U", superuser, "--pwfile=" + passwordFile.string(),
                           "--auth-local=scram-sha-256", "--auth-host=reject", "-E", "UTF8", "--locale=C",
                           "--no-sync", "--no-instructions"});
    fs::remove(passwordFile);
    if (initdb != 0)
        throw std::runtime_error("initdb failed (exit code " + std::to_string(initdb) + ")");

    // POSIX shared memory lives in /dev/shm, which a container may keep small (64 MB in Docker's
    // default); files in the data folder serve then.
    struct statvfs shm {};
    const bool roomyShm = ::statvfs("/dev/shm", &shm) == 0 &&
                          static_cast<unsigned long long>(shm.f_bavail) * shm.f_frsize >= (512ULL << 20);
    std::vector<std::pair<std::string, std::string>> settings = {
        {"listen_addresses", "''"},
        {"port", std::to_string(port_)},
        {"unix_socket_directories", "'" + sockets.string() + "'"},
        {"unix_socket_permissions", "0700"},
        {"password_encryption", "'scram-sha-256'"},
        {"max_connections", "100"},
        {"shared_buffers", "'128MB'"},
        {"dynamic_shared_memory_type", roomyShm ? "posix" : "mmap"},
    };
    if (!durable)
        settings.insert(settings.end(),
                        {{"fsync", "off"}, {"synchronous_commit", "off"}, {"full_page_writes", "off"}});
    std::string text = "\n# The test's own server: a socket in its folder only, passwords only.\n";
    for (const auto& [name, value] : settings)
        text += name + " = " + value + "\n";
    std::ofstream conf(dataFolder() / "postgresql.conf", std::ios::binary | std::ios::app);
    conf << text;
    if (!conf.flush())
        throw std::runtime_error("cannot write postgresql.conf");
}

void PrivatePostgres::start() {
    const int status = runTool("pg_ctl", {"-D", dataFolder().string(), "-l", (root_ / "server.log").string(),
                                          "-w", "-t", "60", "-s", "start"});
    if (status != 0)
        throw std::runtime_error("pg_ctl start failed (exit code " + std::to_string(status) + ")");
}

void PrivatePostgres::stop() {
    if (!root_.empty() && fs::exists(dataFolder() / "postmaster.pid")) {
        const std::vector<std::string> stopIn = {"-D", dataFolder().string(), "-w", "-t", "60", "-s", "-m"};
        std::vector<std::string> fast = stopIn, immediate = stopIn;
        fast.insert(fast.end(), {"fast", "stop"});
        immediate.insert(immediate.end(), {"immediate", "stop"});
        if (runTool("pg_ctl", fast) != 0)
            runTool("pg_ctl", immediate);
    }
    if (!root_.empty()) {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    // The watcher finds nothing left to do and ends; waiting for it means no later server can get this
    // folder's name while it might still remove it.
    if (watcherPipe_ >= 0) {
        ::close(watcherPipe_);
        watcherPipe_ = -1;
    }
    if (watcher_ > 0) {
        waitFor(watcher_);
        watcher_ = -1;
    }
}

std::vector<pid_t> PrivatePostgres::serverProcesses() const {
    std::ifstream pidFile(dataFolder() / "postmaster.pid");
    pid_t postmaster = 0;
    if (!(pidFile >> postmaster) || postmaster <= 0 || ::kill(postmaster, 0) != 0)
        return {};
    std::vector<pid_t> out{postmaster};
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return std::isdigit(c); }))
            continue;
        // /proc/PID/stat: "PID (COMMAND) STATE PPID ...", COMMAND possibly holding blanks and ")".
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 1));
        std::string state;
        pid_t parent = 0;
        if (rest >> state >> parent && parent == postmaster && state != "Z")
            out.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return out;
}

void PrivatePostgres::signalServer(int signal) const {
    for (const pid_t pid : serverProcesses())
        ::kill(pid, signal);
}

void PrivatePostgres::pause() {
    // Twice: a backend the postmaster forked while the first round went is stopped by the second.
    signalServer(SIGSTOP);
    signalServer(SIGSTOP);
}

void PrivatePostgres::resume() {
    signalServer(SIGCONT);
}

void PrivatePostgres::crash() {
    const std::vector<pid_t> processes = serverProcesses();
    // The postmaster first, so it forks no new backend; a stopped process dies of SIGKILL too.
    for (const pid_t pid : processes)
        ::kill(pid, SIGKILL);
    for (int waited = 0; waited < 3000; ++waited) {
        const bool gone = std::all_of(processes.begin(), processes.end(), [](pid_t pid) {
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string line;
            return !std::getline(stat, line) || line.find(") Z ") != std::string::npos;
        });
        if (gone) {
            // The lock files name a process that is gone, or a zombie its parent has not taken yet
            // (which a new postmaster would take for a server still running).
            std::error_code ignored;
            fs::remove(dataFolder() / "postmaster.pid", ignored);
            fs::remove(fs::path(socketFolder()) / (".s.PGSQL." + std::to_string(port_) + ".lock"), ignored);
            return;
        }
        ::usleep(10000);
    }
    throw std::runtime_error("the killed server's processes did not end within 30 s");
}

void PrivatePostgres::restart() {
    start();
}

std::string PrivatePostgres::conninfo(const std::string& database, const std::string& user,
                                      const std::string& password) const {
    return "host=" + quoteConnValue(socketFolder()) + " port=" + quoteConnValue(std::to_string(port_)) +
           " dbname=" + quoteConnValue(database) + " user=" + quoteConnValue(user) +
           " password=" + quoteConnValue(password) +
           " sslmode='disable' gssencmode='disable' options='' client_encoding='UTF8' connect_timeout='10'";
}

std::string PrivatePostgres::superuserConninfo(const std::string& database) const {
    return conninfo(database, superuser, superuserPassword_);
}

std::string PrivatePostgres::exec(const std::string& sql, const std::string& database) const {
    return Connection(superuserConninfo(database)).exec(sql);
}

PrivatePostgres::Database PrivatePostgres::makeDatabase(const std::string& prefix) {
    Database database;
    database.name = identifierPrefix(prefix) + "_" + std::to_string(++databases_);
    database.owner = database.name + "_owner";
    database.password = randomSecret();
    database.conninfo = conninfo(database.name, database.owner, database.password);
    const Connection connection(superuserConninfo());
    connection.exec("CREATE ROLE " + quoteIdentifier(database.owner) + " LOGIN CREATEROLE PASSWORD " +
                    quoteLiteral(database.password));
    connection.exec("CREATE DATABASE " + quoteIdentifier(database.name) + " OWNER " +
                    quoteIdentifier(database.owner));
    return database;
}

int PrivatePostgres::runClient(const std::string& program, const std::vector<std::string>& arguments,
                               std::string* output) const {
    std::vector<std::string> argv{(bin_ / program).string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const fs::path printed = root_ / ("client-" + std::to_string(++clientRuns_) + ".log");
    const int status = waitFor(spawn(argv, root_, printed, -1, false));
    if (output)
        *output = readFile(printed);
    std::error_code ignored;
    fs::remove(printed, ignored);
    return status;
}

std::string PrivatePostgres::logTail() const {
    return fileTail(root_ / "server.log") + fileTail(root_ / "tools.log");
}

PrivatePostgres& sharedPostgres() {
    static std::mutex mutex;
    static std::unique_ptr<PrivatePostgres> server;
    static std::string failure;
    const std::lock_guard lock(mutex);
    if (!server) {
        if (!failure.empty())
            throw std::runtime_error(failure);
        try {
            server = std::make_unique<PrivatePostgres>();
        } catch (const std::exception& e) {
            failure = e.what();
            throw;
        }
    }
    return *server;
}

} // namespace lf::test
