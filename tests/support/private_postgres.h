#pragma once
// A PostgreSQL server of the test's own: a cluster made with initdb in a fresh temporary folder under
// /tmp, started with pg_ctl, reachable only through a Unix socket inside that folder (no TCP at all)
// and only with a password (SCRAM-SHA-256), never the machine's own server. It is stopped and its
// folder removed when the object goes.
//
// The server's programs are Debian's, from /usr/lib/postgresql/<version>/bin (the highest version
// there). PostgreSQL refuses to run as root, so when the test process is root (as CI's and this
// machine's tests are) initdb and pg_ctl run as the account postgres (runuser), which owns the
// folder; otherwise they run as the current user. They get a clean environment: LC_ALL=C, TZ=UTC, a
// fixed PATH and nothing else, so no PGHOST, PGPORT, PGUSER, PGPASSWORD... reaches them, and the
// fixture's own libpq connections name the socket folder, port, database, user and password
// themselves.
//
// Never outliving the test: besides the destructor (and sharedPostgres(), whose server goes at
// exit), every server has a watcher, a small shell process in its own session that holds the read
// end of a pipe whose write end only the test process has. When the test process ends in any way,
// SIGKILL and a crash included, the pipe closes, and the watcher stops the server (immediate mode)
// and removes its folder. Only if the watcher itself is killed too (a kill of every process of the
// machine, say) can a postmaster stay behind, with its data folder in /tmp.
#include <QString>

#include <atomic>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lf::test {

class PrivatePostgres {
public:
    // Empty when a private server can start here; otherwise why not (for GTEST_SKIP): the server's
    // programs are missing, or the test runs as root and there is no account postgres or no runuser.
    static QString unavailableReason();

    // Makes the cluster and starts its server; throws std::runtime_error, with the end of the
    // server's log, when it cannot. A durable server keeps PostgreSQL's defaults for writing to disk
    // (for benchmarks); one that is not (the default, for tests) runs with fsync, synchronous_commit
    // and full_page_writes off: faster, and a crash of the machine may lose its data, which a test's
    // data does not outlive anyway.
    explicit PrivatePostgres(bool durable = false);
    ~PrivatePostgres();
    PrivatePostgres(const PrivatePostgres&) = delete;
    PrivatePostgres& operator=(const PrivatePostgres&) = delete;

    // The temporary folder everything lives in, and the cluster's data folder inside it.
    const std::filesystem::path& folder() const { return root_; }
    std::filesystem::path dataFolder() const { return root_ / "data"; }
    // Where the server's socket is (libpq's host), and its port (which only names the socket file,
    // folder/.s.PGSQL.<port>: the server listens on no TCP port).
    std::string socketFolder() const { return (root_ / "sock").string(); }
    int port() const { return port_; }

    // A libpq connection string (keyword = 'value' form, each value quoted) for the user on the
    // database with that password, naming this server's socket folder and port, so nothing of it
    // comes from the environment's PGHOST, PGPORT, PGUSER or PGPASSWORD (nor from PGOPTIONS,
    // PGSSLMODE, PGGSSENCMODE or PGCLIENTENCODING: the string sets those too, client_encoding UTF8).
    std::string conninfo(const std::string& database, const std::string& user,
                         const std::string& password) const;
    // The same for the superuser, postgres, whose password initdb set to a random one.
    std::string superuserConninfo(const std::string& database = "postgres") const;

    // Runs SQL (one or more statements, as one simple query) as the superuser on the database;
    // throws std::runtime_error with the server's message when a statement fails or the connection
    // cannot be made. Statements that cannot run in a transaction block (CREATE DATABASE) need a
    // call of their own. Returns the first value of the last statement's rows ("" without rows).
    std::string exec(const std::string& sql, const std::string& database = "postgres") const;

    // A fresh database, named after the prefix and a counter ("<prefix>_<n>", the prefix lower-cased
    // and cut to what an identifier can hold, other characters "_"), owned by a fresh role
    // ("<name>_owner") that can log in and create roles, with a random password.
    struct Database {
        std::string name, owner, password, conninfo;
    };
    Database makeDatabase(const std::string& prefix);

    // Outages, for tests of what a client does when the server fails it. pause() stops every process
    // of the server (the postmaster and its backends) with SIGSTOP, as a stalled machine whose kernel
    // still answers, until resume(). crash() kills them all at once, as a power cut would (any paused
    // are killed too), and returns once they are gone; restart() starts the server again on the same
    // data, which recovers as after a crash.
    void pause();
    void resume();
    void crash();
    void restart();

    // The end of the server's log and of what initdb and pg_ctl printed, for a failure's message.
    std::string logTail() const;

    // Runs one of the server's client programs (pg_dump, pg_dumpall, pg_restore, psql) of the
    // server's own version, as the test process's user, with the clean environment and in this
    // server's folder: the connection is the program's arguments' to name (a conninfo as
    // --dbname). Its exit code (-1 when a signal ended it); what it printed in output when given.
    int runClient(const std::string& program, const std::vector<std::string>& arguments,
                  std::string* output = nullptr) const;

private:
    int runTool(const std::string& tool, const std::vector<std::string>& arguments) const;
    // The postmaster (from postmaster.pid) and its children; empty when the server does not run.
    std::vector<pid_t> serverProcesses() const;
    void signalServer(int signal) const;
    void startWatcher();
    void initialise(bool durable);
    void start();
    void stop();

    std::filesystem::path bin_;
    std::filesystem::path root_;
    int port_ = 0;
    std::string superuserPassword_;
    bool asPostgres_ = false;
    pid_t owner_ = 0;
    pid_t watcher_ = -1;
    int watcherPipe_ = -1;
    std::atomic<int> databases_{0};
    mutable std::atomic<int> clientRuns_{0};
};

// One server per test process (not durable), started on the first call and stopped at the process's
// exit. Throws like the constructor, on every call once starting failed.
PrivatePostgres& sharedPostgres();

} // namespace lf::test
