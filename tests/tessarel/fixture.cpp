#include "fixture.h"

#include "platform/profile.h"

#include <QFile>

#include <random>

#include <sqlite3.h>

namespace lf::tessarel::test {

void TessarelRepositoryTest::SetUp() {
    if (onServer()) {
        if (const QString why = lf::test::PrivatePostgres::unavailableReason(); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        // Roles belong to the whole server, which the tests of one process share: the users of the
        // test before go first.
        server().exec("DROP ROLE IF EXISTS alice, bob, carol");
        database_ = server().makeDatabase("ts_notes");
        location_ = "postgresql:" + database_.conninfo;
    } else {
        location_ = "sqlite:" + repoDir().string();
    }
    store_ = initRepository(location());
    addUser(*store_, "alice", "alice-secret");
    addUser(*store_, "bob", "bob-secret");
    admin_ = openAdminSession(store_, "ts_notes", "tsadmin");
    makeCabinet(admin_, "Edvara", false);
    makeFolders(admin_, "/Edvara/Courses");
    const QString ini = lf::platform::profileFilePath("tessarel.ini");
    QFile::remove(ini);
    ASSERT_TRUE(lf::platform::WritePrivateProfileString("Repositories", "ts_notes",
                                                        QString::fromStdString(location()), ini));
}

std::string randomBytes(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(size, '\0');
    for (auto& c : out)
        c = static_cast<char>(rng());
    return out;
}

std::string sqliteValue(const std::filesystem::path& database, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string out;
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        char* error = nullptr;
        auto first = [](void* into, int columns, char** values, char**) {
            auto& s = *static_cast<std::string*>(into);
            if (columns > 0 && values[0] && s.empty())
                s = values[0];
            return 0;
        };
        if (sqlite3_exec(db, sql.c_str(), first, &out, &error) != SQLITE_OK)
            out = std::string("error: ") + (error ? error : "");
        sqlite3_free(error);
    } else {
        out = "error: cannot open " + database.string();
    }
    sqlite3_close(db);
    return out;
}

std::string TessarelRepositoryTest::damageSql(const std::string& sql) {
    if (!onServer())
        return sqliteValue(repoDir() / "repository.db", sql);
    return server().exec("SET session_replication_role = replica; SET search_path = tessarel; " + sql,
                         database().name);
}

void checkInNewVersion(TsClient& client, const TsObjectPtr& doc, const std::filesystem::path& work,
                       const std::string& bytes) {
    auto co = client.newCheckoutOperation();
    co->setDestinationDirectory(work.string());
    co->add(doc);
    ASSERT_TRUE(co->execute());
    lf::test::writeFile(co->nodes()[0]->localPath(), bytes);
    auto ci = client.newCheckinOperation();
    ci->add(doc);
    ASSERT_TRUE(ci->execute());
}

TsSessionPtr TessarelRepositoryTest::login(const std::string& user, const std::string& password,
                                           const std::string& repository) {
    auto manager = client_->localClient()->newSessionManager();
    auto info = client_->newLoginInfo();
    info->setUser(user);
    info->setPassword(password);
    manager->setIdentity(repository, info);
    return manager->getSession(repository);
}

std::string TessarelRepositoryTest::makeFile(const std::string& relative, const std::string& bytes) {
    const auto p = tmp_ / relative;
    std::filesystem::create_directories(p.parent_path());
    lf::test::writeFile(p, bytes);
    return p.string();
}

TsObjectPtr TessarelRepositoryTest::makeDocument(const TsSessionPtr& s, const std::string& folder,
                                                 const std::string& name, const std::string& bytes,
                                                 const std::string& fileName) {
    static int n = 0;
    const std::string file =
        makeFile("src" + std::to_string(++n) + "/" + (fileName.empty() ? name : fileName), bytes);
    auto obj = s->newObject("ts_document");
    obj->setObjectName(name);
    obj->setFile(file);
    obj->link(folder);
    obj->save();
    return obj;
}

int TessarelRepositoryTest::countRows(const TsSessionPtr& s, const std::string& tql) {
    auto q = client_->newQuery();
    q->setTQL(tql);
    auto rows = q->execute(s, 0);
    int n = 0;
    while (rows->next())
        ++n;
    rows->close();
    return n;
}

std::vector<std::string> TessarelRepositoryTest::column(const TsSessionPtr& s, const std::string& tql,
                                                        const std::string& attr) {
    auto q = client_->newQuery();
    q->setTQL(tql);
    auto rows = q->execute(s, 0);
    std::vector<std::string> out;
    while (rows->next())
        out.push_back(rows->getString(attr));
    rows->close();
    return out;
}

} // namespace lf::tessarel::test
