#pragma once
// A real repository, listed in this test's tessarel.ini as "ts_notes", with the users alice and bob,
// the cabinet /Edvara and the folder /Edvara/Courses: an embedded one in a temporary folder, or
// on a private PostgreSQL server of the test's own, in a database of its own.
#include "tessarel/admin.h"
#include "tessarel/repository_store.h"
#include "tessarel/tessarel.h"

#include "private_postgres.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace lf::tessarel::test {

// Runs a call that must throw TsException and returns it.
template <class F> TsException thrown(F&& f) {
    try {
        f();
    } catch (const TsException& e) {
        return e;
    }
    ADD_FAILURE() << "no TsException was thrown";
    return TsException("NONE", "");
}

// Bytes that no compression shrinks, the same for the same seed.
std::string randomBytes(size_t size, unsigned seed);

// Records every monitor call.
class RecordingMonitor : public ITsOperationMonitor {
public:
    struct Report {
        std::string operation;
        int operationPercent;
        std::string step;
        int stepPercent;
    };
    std::vector<Report> reports;
    std::vector<std::string> errors; // "[CODE] message"
    std::vector<std::string> questions;
    int answer = 1;  // what progressReport returns
    bool yes = true; // what getYesNoAnswer returns
    int stopAfterReports = -1;

    int progressReport(const std::shared_ptr<TsOperation>& op, int opPercent, const TsOperationStepPtr& step,
                       int stepPercent, const std::shared_ptr<TsOperationNode>&) override {
        reports.push_back({op->name(), opPercent, step->name(), stepPercent});
        if (stopAfterReports >= 0 && static_cast<int>(reports.size()) >= stopAfterReports)
            return 0;
        return answer;
    }
    int reportError(const TsOperationErrorPtr& e) override {
        errors.push_back("[" + e->code() + "] " + e->getMessage());
        return 1;
    }
    bool getYesNoAnswer(const std::string& q) override {
        questions.push_back(q);
        return yes;
    }
};

// The first value of the SQL's rows on an embedded repository's database ("" without rows,
// "error: ..." when it failed), on a connection of its own: without the repository's foreign keys.
std::string sqliteValue(const std::filesystem::path& database, const std::string& sql);

// Checks the document out into work and checks it in with these bytes, as its session's user.
void checkInNewVersion(TsClient& client, const TsObjectPtr& doc, const std::filesystem::path& work,
                       const std::string& bytes);

class TessarelRepositoryTest : public ::testing::Test {
protected:
    void SetUp() override;

    // "sqlite" here; the suites that run on every backend (OnEveryBackend) take theirs as their
    // parameter.
    virtual std::string backend() const { return "sqlite"; }
    bool onServer() const { return backend() == "postgresql"; }
    // The server a server repository is on: the one the test process shares, or a suite's own.
    virtual lf::test::PrivatePostgres& server() { return lf::test::sharedPostgres(); }
    std::string location() const { return location_; }
    // The server database of a server repository (its owner is the repository's administrator).
    const lf::test::PrivatePostgres::Database& database() const { return database_; }
    std::filesystem::path repoDir() const { return tmp_ / "repo"; }
    std::filesystem::path local(const std::string& name) const { return tmp_ / name; }
    // A login through the session manager, to this test's repository or another listed in tessarel.ini.
    TsSessionPtr login(const std::string& user, const std::string& password,
                       const std::string& repository = "ts_notes");
    TsSessionPtr alice() { return login("alice", "alice-secret"); }
    TsSessionPtr bob() { return login("bob", "bob-secret"); }
    // Writes a local file and returns its path.
    std::string makeFile(const std::string& relative, const std::string& bytes);
    // Makes a document in a folder from bytes, named name, with its format from fileName's extension.
    TsObjectPtr makeDocument(const TsSessionPtr& s, const std::string& folder, const std::string& name,
                             const std::string& bytes, const std::string& fileName = "");
    // A new version of the document with these bytes, checked out and in by its session's user.
    void newVersion(const TsObjectPtr& doc, const std::string& bytes) {
        checkInNewVersion(*client_, doc, local("work-" + doc->session().userName()), bytes);
    }
    int countRows(const TsSessionPtr& s, const std::string& tql);
    // Runs SQL on the repository's tables past all of its rules, as damage by hand would: the
    // embedded database's file opened directly, the server's database as its superuser with
    // triggers and foreign keys off. The first value of its rows, as sqliteValue gives it.
    std::string damageSql(const std::string& sql);
    std::vector<std::string> column(const TsSessionPtr& s, const std::string& tql, const std::string& attr);

    lf::test::TempDir tmp_;
    std::string location_;
    lf::test::PrivatePostgres::Database database_;
    TsClientPtr client_ = TsClient::create();
    std::shared_ptr<RepositoryStore> store_;
    TsSessionPtr admin_;
};

// A suite that runs on both backends: TEST_P(Suite, ...) with
// INSTANTIATE_TEST_SUITE_P(Backends, Suite, everyBackend(), backendName).
template <class Base> class OnEveryBackend : public Base, public ::testing::WithParamInterface<std::string> {
protected:
    std::string backend() const override { return this->GetParam(); }
};
inline auto everyBackend() {
    return ::testing::Values(std::string("sqlite"), std::string("postgresql"));
}
inline std::string backendName(const ::testing::TestParamInfo<std::string>& info) {
    return info.param;
}

} // namespace lf::tessarel::test
