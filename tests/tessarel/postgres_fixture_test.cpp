// The private PostgreSQL server the tests and benchmarks start themselves: it lets a made database's
// owner in with its password, over its own socket only, and it goes with the object, or with the test
// process when that is killed.
#include "private_postgres.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <QDeadlineTimer>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using lf::test::PrivatePostgres;
using testing::HasSubstr;

// The first value of the last result of the SQL, or the server's error message.
std::string value(PGconn* connection, const std::string& sql) {
    PGresult* result = PQexec(connection, sql.c_str());
    const std::string text = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) > 0
                                 ? PQgetvalue(result, 0, 0)
                                 : std::string("error: ") + PQresultErrorMessage(result);
    PQclear(result);
    return text;
}

pid_t postmasterOf(const PrivatePostgres& server) {
    pid_t pid = 0;
    std::ifstream(server.dataFolder() / "postmaster.pid") >> pid;
    return pid;
}

// No such process, or one that has ended and waits to be reaped (a container's first process may
// never reap the server, which pg_ctl left to it).
bool processGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    const std::size_t end = line.rfind(')');
    return end != std::string::npos && line.compare(end, 4, ") Z ") == 0;
}

TEST(PrivatePostgresTest, LetsTheOwnerInWithItsPasswordOverItsSocketOnlyAndGoesWithTheObject) {
    if (const QString reason = PrivatePostgres::unavailableReason(); !reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    fs::path folder, socket;
    std::string conninfo;
    pid_t postmaster = 0;
    {
        PrivatePostgres server;
        const PrivatePostgres::Database database = server.makeDatabase("Fixture Test");
        folder = server.folder();
        socket = server.socketFolder() + "/.s.PGSQL." + std::to_string(server.port());
        conninfo = database.conninfo;
        postmaster = postmasterOf(server);
        ASSERT_TRUE(fs::exists(socket));
        ASSERT_GT(postmaster, 0);

        PGconn* owner = PQconnectdb(database.conninfo.c_str());
        ASSERT_EQ(PQstatus(owner), CONNECTION_OK) << PQerrorMessage(owner) << server.logTail();
        EXPECT_EQ(value(owner, "SELECT current_user || ' ' || datdba::regrole::text FROM pg_database "
                               "WHERE datname = current_database()"),
                  database.owner + " " + database.owner);
        EXPECT_EQ(value(owner, "CREATE TABLE lesson (id int); INSERT INTO lesson VALUES (1); "
                               "SELECT count(*) FROM lesson"),
                  "1");
        EXPECT_EQ(value(owner, "SHOW listen_addresses"), "");
        EXPECT_EQ(value(owner, "SELECT coalesce(inet_server_addr()::text, 'socket')"), "socket");
        PQfinish(owner);

        PGconn* wrong =
            PQconnectdb(server.conninfo(database.name, database.owner, database.password + "x").c_str());
        EXPECT_EQ(PQstatus(wrong), CONNECTION_BAD);
        EXPECT_THAT(PQerrorMessage(wrong), HasSubstr("password authentication failed"));
        PQfinish(wrong);

        // The password was checked with SCRAM: the only method for local connections, and what the
        // owner's password is stored as.
        PGconn* superuser = PQconnectdb(server.superuserConninfo().c_str());
        ASSERT_EQ(PQstatus(superuser), CONNECTION_OK) << PQerrorMessage(superuser);
        EXPECT_EQ(value(superuser, "SELECT string_agg(DISTINCT auth_method, ',') FROM pg_hba_file_rules "
                                   "WHERE type = 'local'"),
                  "scram-sha-256");
        EXPECT_EQ(value(superuser, "SELECT split_part(rolpassword, '$', 1) FROM pg_authid WHERE rolname = '" +
                                       database.owner + "'"),
                  "SCRAM-SHA-256");
        PQfinish(superuser);

        try {
            server.exec("SELEC 1", database.name);
            ADD_FAILURE() << "a syntax error went through";
        } catch (const std::runtime_error& e) {
            EXPECT_THAT(e.what(), HasSubstr("syntax error"));
        }
    }
    EXPECT_TRUE(processGone(postmaster));
    EXPECT_FALSE(fs::exists(socket));
    EXPECT_FALSE(fs::exists(folder));
    PGconn* after = PQconnectdb(conninfo.c_str());
    EXPECT_EQ(PQstatus(after), CONNECTION_BAD);
    PQfinish(after);
}

TEST(PrivatePostgresTest, AKilledTestProcessTakesItsServerWithIt) {
    if (const QString reason = PrivatePostgres::unavailableReason(); !reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    // A child of this process starts a server, tells where it is, and is killed.
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    EXPECT_EXIT(
        {
            ::close(report[0]);
            PrivatePostgres server;
            const std::string where = std::to_string(postmasterOf(server)) + " " + server.folder().string();
            if (::write(report[1], where.data(), where.size()) != static_cast<ssize_t>(where.size()))
                std::_Exit(1);
            ::raise(SIGKILL);
        },
        testing::KilledBySignal(SIGKILL), "");
    ::close(report[1]);
    char buffer[256] = {};
    ASSERT_GT(::read(report[0], buffer, sizeof buffer - 1), 0);
    ::close(report[0]);
    pid_t postmaster = 0;
    char folder[200] = {};
    ASSERT_EQ(std::sscanf(buffer, "%d %199s", &postmaster, folder), 2);
    ASSERT_GT(postmaster, 0);

    const QDeadlineTimer deadline(30000);
    while ((!processGone(postmaster) || fs::exists(folder)) && !deadline.hasExpired())
        QThread::msleep(50);
    EXPECT_TRUE(processGone(postmaster));
    EXPECT_FALSE(fs::exists(folder));
}

} // namespace
