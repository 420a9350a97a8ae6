// The login window, the connection state, EnsureConnection and ReportOperationError against real
// repositories listed in tessarel.ini.
#include "repository/monitor.h"
#include "repository_fixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>

namespace lf::test {
namespace {

using platform::MessageIcon;

class LoginTest : public RepositoryTest {};

TEST_F(LoginTest, RepositoryBoxSelectsTsNotesOrElseTheFirstName) {
    TestRepository other(temp / "repos" / "alpha", "alpha");
    TestRepository third(temp / "repos" / "zulu", "zulu");
    writeRepositoryList({{"alpha", other.folder}, {"ts_notes", repo->folder}, {"zulu", third.folder}});
    {
        auto& dialog = repository::frmLogin::instance();
        ASSERT_EQ(dialog.cmbRepository->count(), 3);
        EXPECT_EQ(dialog.cmbRepository->itemText(0), "alpha");
        EXPECT_EQ(dialog.cmbRepository->itemText(2), "zulu");
        EXPECT_EQ(dialog.cmbRepository->currentText(), "ts_notes");
        EXPECT_EQ(dialog.windowTitle(), "Login");
        EXPECT_TRUE(dialog.txtUserName->text().isEmpty());
        EXPECT_TRUE(dialog.txtPassword->text().isEmpty());
        EXPECT_EQ(repository::connection().repositoryList->count(), 3);
    }
    repository::frmLogin::unloadInstance();

    writeRepositoryList({{"zulu", third.folder}, {"alpha", other.folder}});
    auto& reloaded = repository::frmLogin::instance();
    ASSERT_EQ(reloaded.cmbRepository->count(), 2);
    EXPECT_EQ(reloaded.cmbRepository->currentText(), "zulu");
}

TEST_F(LoginTest, AnEmptyRepositoryListOpensAnEmptyBoxAndOkOnlyLogs) {
    writeRepositoryList({});
    auto& dialog = repository::frmLogin::instance();
    EXPECT_EQ(dialog.cmbRepository->count(), 0);
    EXPECT_TRUE(dialog.cmbRepository->currentText().isEmpty());
    EXPECT_FALSE(loginThroughDialog(kUser, kPassword, ""));
    EXPECT_EQ(linesOf("Login"), QStringList{"There is no repository named ''"});
    EXPECT_TRUE(repository::frmLogin::isLoaded());
}

TEST_F(LoginTest, PasswordBoxShowsStarsAndNeverTheText) {
    auto& dialog = repository::frmLogin::instance();
    EXPECT_EQ(dialog.txtPassword->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.txtPassword->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr,
                                                     dialog.txtPassword),
              '*');
    EXPECT_EQ(dialog.txtPassword->style()->styleHint(QStyle::SH_LineEdit_PasswordMaskDelay, nullptr,
                                                     dialog.txtPassword),
              0);
    dialog.txtPassword->setText("hunter2");
    EXPECT_EQ(dialog.txtPassword->displayText(), QString(7, QChar('*')));
}

TEST_F(LoginTest, SuccessfulLoginKeepsTheSessionButNotThePassword) {
    int starts = 0;
    repository::browserHooks().isOpen = [] { return true; };
    repository::browserHooks().repositoryStart = [&] { ++starts; };
    auto& dialog = repository::frmLogin::instance();
    dialog.show();
    ASSERT_TRUE(loginThroughDialog(kUser, kPassword));

    const auto& c = repository::connection();
    ASSERT_TRUE(c.session);
    EXPECT_EQ(c.session->userName(), kUser);
    EXPECT_EQ(c.repositoryName, "ts_notes");
    ASSERT_TRUE(c.loginInfo);
    EXPECT_EQ(c.loginInfo->user(), kUser);
    EXPECT_TRUE(c.loginInfo->password().empty());
    EXPECT_TRUE(dialog.txtPassword->text().isEmpty());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(repository::frmLogin::isLoaded()); // hidden, not unloaded
    EXPECT_TRUE(repository::browserHooks().repositoryMode);
    EXPECT_EQ(repository::browserHooks().pathSeparator, "/");
    EXPECT_EQ(starts, 1);
    EXPECT_TRUE(log.lines.isEmpty());
    EXPECT_FALSE(pointer.hourglass);
    EXPECT_EQ(pointer.changes, (std::vector<bool>{true, false}));

    // Operations take the session again from the session manager, with the password long gone.
    const auto again = repository::TakeSession();
    EXPECT_EQ(again, c.session);
    EXPECT_TRUE(again->folderByPath(kCourse));
    repository::HandBackSession();
}

TEST_F(LoginTest, RefusedLoginLogsOneLineAndLeavesTheDialogOpen) {
    auto& dialog = repository::frmLogin::instance();
    dialog.show();
    EXPECT_FALSE(loginThroughDialog(kUser, "wrong"));
    EXPECT_EQ(log.lines, QStringList{"Login - Login refused for user 'alice' on repository 'ts_notes'"});
    EXPECT_TRUE(log.errors.isEmpty());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(repository::IsConnected());
    EXPECT_FALSE(repository::connection().session);
    EXPECT_FALSE(pointer.hourglass);
    // The dialog itself says why.
    EXPECT_TRUE(dialog.lblRefused->isVisible());
    EXPECT_EQ(dialog.lblRefused->text(), "Login refused for user 'alice' on repository 'ts_notes'");

    // The user corrects the password and presses OK again.
    EXPECT_TRUE(loginThroughDialog(kUser, kPassword));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(dialog.lblRefused->isVisibleTo(&dialog));
    EXPECT_EQ(log.lines.size(), 1);
}

TEST_F(LoginTest, RefusedLaterLoginLeavesTheWorkingConnectionAlone) {
    ASSERT_TRUE(loginThroughDialog(kUser, kPassword));
    const auto session = repository::connection().session;
    const auto manager = repository::connection().sessionManager;
    loginThroughDialog("bob", "not bobs");
    EXPECT_EQ(linesOf("Login"), QStringList{"Login refused for user 'bob' on repository 'ts_notes'"});
    EXPECT_TRUE(repository::IsConnected());
    EXPECT_EQ(repository::connection().session, session);
    EXPECT_EQ(repository::connection().sessionManager, manager);
    EXPECT_EQ(repository::connection().loginInfo->user(), kUser);
    EXPECT_EQ(repository::TakeSession(), session);

    // A later successful login replaces them.
    EXPECT_TRUE(loginThroughDialog("bob", "bobs password"));
    EXPECT_NE(repository::connection().sessionManager, manager);
    EXPECT_EQ(repository::connection().session->userName(), "bob");
}

TEST_F(LoginTest, UnknownUserAndUnlistedRepositoryAreRefused) {
    EXPECT_FALSE(loginThroughDialog("mallory", kPassword));
    EXPECT_FALSE(loginThroughDialog("", ""));
    EXPECT_EQ(linesOf("Login"), (QStringList{"Login refused for user 'mallory' on repository 'ts_notes'",
                                             "Login refused for user '' on repository 'ts_notes'"}));
    EXPECT_FALSE(repository::IsConnected());
}

TEST_F(LoginTest, CancelUnloadsWithoutTouchingTheLoginState) {
    ASSERT_TRUE(loginThroughDialog(kUser, kPassword));
    auto& dialog = repository::frmLogin::instance();
    dialog.txtPassword->setText("typed");
    dialog.cmdCancel_Click();
    EXPECT_FALSE(repository::frmLogin::isLoaded());
    EXPECT_TRUE(repository::IsConnected());
    EXPECT_TRUE(repository::connection().session);
}

class EnsureConnectionTest : public RepositoryTest {};

TEST_F(EnsureConnectionTest, LocalPathsNeverOpenTheDialog) {
    ScriptedLogin login;
    EXPECT_FALSE(repository::EnsureConnection("C:\\Courses\\Storage"));
    EXPECT_FALSE(repository::EnsureConnection(""));
    EXPECT_EQ(login.shown, 0);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(EnsureConnectionTest, ConnectedRepositoryPathNeedsNoDialog) {
    ASSERT_TRUE(loginThroughDialog(kUser, kPassword));
    ScriptedLogin login;
    EXPECT_FALSE(repository::EnsureConnection(kCourse));
    EXPECT_EQ(login.shown, 0);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(EnsureConnectionTest, LoginInTheDialogPassesTheCheck) {
    ScriptedLogin login;
    login.script = [](repository::frmLogin& dialog) {
        dialog.txtUserName->setText(kUser);
        dialog.txtPassword->setText("typo");
        dialog.cmdOK_Click(); // refused: the dialog stays
        dialog.txtPassword->setText(kPassword);
        dialog.cmdOK_Click();
    };
    EXPECT_FALSE(repository::EnsureConnection("Courses/Storage")); // "/" anywhere
    EXPECT_EQ(login.shown, 1);
    EXPECT_TRUE(repository::IsConnected());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(linesOf("Login").size(), 1);
}

TEST_F(EnsureConnectionTest, CancelledLoginShowsNotConnectedAndFailsTheCheck) {
    QStringList browserPaths;
    repository::browserHooks().isOpen = [] { return true; };
    repository::browserHooks().setPath = [&](const QString& p) { browserPaths.append(p); };
    ScriptedLogin login;
    login.script = [](repository::frmLogin& dialog) { dialog.cmdCancel_Click(); };
    EXPECT_TRUE(repository::EnsureConnection(kCourse));
    EXPECT_EQ(login.shown, 1);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Not connected");
    EXPECT_EQ(boxes.shown[0].text,
              "The path indicates that you should be connected.\nRepository not available");
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(browserPaths, QStringList{"C:\\"});
    EXPECT_FALSE(repository::frmLogin::isLoaded());
}

TEST_F(EnsureConnectionTest, ClosedBrowserIsNotTouched) {
    int calls = 0;
    repository::browserHooks().isOpen = [] { return false; };
    repository::browserHooks().setPath = [&](const QString&) { ++calls; };
    ScriptedLogin login; // closes the dialog without pressing anything
    EXPECT_TRUE(repository::EnsureConnection("/Edvara"));
    EXPECT_EQ(calls, 0);
}

class ReportOperationErrorTest : public RepositoryTest {};

TEST_F(ReportOperationErrorTest, ParsedMessageOrSeriousError) {
    repository::ReportOperationError("Export", "[TS_OBJECT_NOT_FOUND] No object 0123456789abcdef");
    repository::ReportOperationError("import", "Disk on fire");
    repository::ReportOperationError("checkin", "[not a code] x");
    EXPECT_EQ(log.lines,
              (QStringList{"Export - No object 0123456789abcdef", "import - Serious error:Disk on fire",
                           "checkin - Serious error:[not a code] x"}));
    EXPECT_TRUE(log.errors.isEmpty());
}

} // namespace
} // namespace lf::test
