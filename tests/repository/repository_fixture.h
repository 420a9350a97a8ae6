#pragma once
// A real repository in a temporary folder, listed in tessarel.ini, with a user and a course folder,
// and a drive T: mapped to a temporary folder for the program's Windows-style local paths.
#include "platform/doubles.h"
#include "platform/oplog.h"
#include "repository/connection.h"
#include "repository/frmLogin.h"
#include "tessarel/admin.h"
#include "test_support.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace lf::test {

inline const char* const kUser = "alice";
inline const char* const kPassword = "s3cret pass";
inline const char* const kCourse = "/Edvara/Courses/Storage";

// Lists repositories (name, folder) in tessarel.ini in this order; an empty list lists none.
void writeRepositoryList(const std::vector<std::pair<std::string, std::filesystem::path>>& repositories);

// A fresh repository with the users alice and bob and the folders of kCourse: embedded in a folder,
// or at a server location ("postgresql:CONNINFO", whose role becomes its administrator).
struct TestRepository {
    std::filesystem::path folder; // "" on a server
    std::string location;
    std::shared_ptr<tessarel::RepositoryStore> store;
    tessarel::TsSessionPtr admin;
    explicit TestRepository(const std::filesystem::path& where, const std::string& name = "ts_notes");
    TestRepository(const std::string& serverLocation, const std::string& name);
    // Imports the local files into a repository folder (made when missing).
    void importFiles(const std::vector<std::filesystem::path>& files, const std::string& repositoryPath);
};

// Types into the real login window and presses its buttons.
class ScriptedLogin : public repository::LoginPresenter {
public:
    ScriptedLogin() { repository::installLoginPresenter(this); }
    ~ScriptedLogin() override { repository::installLoginPresenter(nullptr); }
    void showModal(repository::frmLogin& dialog) override {
        ++shown;
        if (script)
            script(dialog);
    }
    std::function<void(repository::frmLogin&)> script;
    int shown = 0;
};

// Logs in through the login window (OK pressed once); true when connected.
bool loginThroughDialog(const QString& user, const QString& password, const QString& repository = "ts_notes");

// Each test: private lists and doubles, a repository "ts_notes", a drive T: on a temp folder.
class RepositoryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // T:\name as the program writes it, and where it lies on the host.
    std::filesystem::path hostOf(const QString& windowsPath) const;
    // Lines of one tag, without the tag.
    QStringList linesOf(const QString& tag) const;

    TempDir temp;
    std::unique_ptr<TestRepository> repo;
    oplog::RecordingLogSink log;
    platform::ScriptedMessageBoxes boxes;
    platform::RecordingPointer pointer;
    platform::RecordingSleeper sleeper;
    platform::RecordingEventYield yields;
    std::filesystem::path driveT;
};

} // namespace lf::test
