// The repository seam as the program plugs it into the wizard, against a real repository: the real
// connection check with the login window, and the releases of the wizard's unload.
#include "repository/connection.h"
#include "repository/frmBrowser.h"
#include "repository/frmLogin.h"
#include "repository/monitor.h"
#include "repository_fixture.h"
#include "wizard/repository_connection_seam.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace lf::test {
namespace {

TEST_F(RepositoryTest, TheSeamChecksForRealAndReleasesTheSession) {
    wizard::RepositoryConnectionSeam seam;
    ScriptedLogin login;
    login.script = [](repository::frmLogin& dialog) {
        dialog.txtUserName->setText(kUser);
        dialog.txtPassword->setText(kPassword);
        dialog.cmdOK_Click();
    };
    EXPECT_FALSE(seam.EnsureConnection("C:\\syllabo"));
    EXPECT_FALSE(seam.EnsureConnection(kCourse));
    EXPECT_TRUE(repository::connection().session);
    repository::clsOperationMonitor().progressReport(std::make_shared<tessarel::TsCheckinOperation>(), 50,
                                                     nullptr, 50, nullptr);
    ASSERT_TRUE(repository::frmProgress::isLoaded());
    seam.unloadWindows();
    EXPECT_FALSE(repository::frmLogin::isLoaded());
    EXPECT_FALSE(repository::frmProgress::isLoaded());
    seam.releaseSession();
    EXPECT_FALSE(repository::connection().session);
    EXPECT_FALSE(repository::connection().sessionManager);
    EXPECT_THROW(repository::TakeSession(), tessarel::TsException);
}

TEST_F(RepositoryTest, TheSeamsBrowseFillsTheBoxAndTheUnloadClosesTheBrowser) {
    wizard::RepositoryConnectionSeam seam;
    std::filesystem::create_directories(driveT / "Course");
    QLineEdit box;
    box.setText("T:\\Course\\");
    seam.Browse(&box, false);
    ASSERT_TRUE(repository::frmBrowser::isLoaded());
    auto& browser = repository::frmBrowser::instance();
    EXPECT_TRUE(browser.isVisible());
    browser.cmdDrillUp->click();
    browser.cmdSelectPath->click();
    EXPECT_EQ(box.text(), "T:\\");
    EXPECT_FALSE(repository::frmBrowser::isLoaded());

    seam.Browse(&box, true);
    ASSERT_TRUE(repository::frmBrowser::isLoaded());
    seam.unloadWindows();
    EXPECT_FALSE(repository::frmBrowser::isLoaded());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace
} // namespace lf::test
