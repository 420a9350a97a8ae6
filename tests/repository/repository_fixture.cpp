#include "repository_fixture.h"

#include "platform/folders.h"
#include "platform/profile.h"
#include "repository/monitor.h"
#include "tessarel/repository_store.h"
#include "workfiles/working_files.h"

#include <QCoreApplication>
#include <QEvent>

#include <QComboBox>
#include <QLineEdit>

namespace lf::test {

namespace fs = std::filesystem;

void writeRepositoryList(const std::vector<std::pair<std::string, fs::path>>& repositories) {
    std::string text = "[Repositories]\n";
    for (const auto& [name, folder] : repositories)
        text += name + "=sqlite:" + folder.string() + "\n";
    writeFile(fs::path(platform::configFolder().toStdString()) / "tessarel.ini", text);
}

TestRepository::TestRepository(const fs::path& where, const std::string& name)
    : TestRepository("sqlite:" + where.string(), name) {
    folder = where;
}

TestRepository::TestRepository(const std::string& serverLocation, const std::string& name)
    : location(serverLocation) {
    store = tessarel::initRepository(location);
    tessarel::addUser(*store, kUser, kPassword);
    tessarel::addUser(*store, "bob", "bobs password");
    admin = tessarel::openAdminSession(store, name, kUser);
    tessarel::makeFolders(admin, kCourse, true);
}

void TestRepository::importFiles(const std::vector<fs::path>& files, const std::string& repositoryPath) {
    auto folderObject = tessarel::makeFolders(admin, repositoryPath, true);
    tessarel::TsClient client;
    auto op = client.newImportOperation();
    op->setSession(admin);
    op->setDestinationFolder(folderObject->objectId());
    for (const auto& f : files)
        op->add(client.fileObject(f.string()));
    ASSERT_TRUE(op->execute());
}

bool loginThroughDialog(const QString& user, const QString& password, const QString& repository) {
    auto& dialog = repository::frmLogin::instance();
    dialog.cmbRepository->setCurrentText(repository);
    dialog.txtUserName->setText(user);
    dialog.txtPassword->setText(password);
    dialog.cmdOK_Click();
    return repository::IsConnected();
}

void RepositoryTest::SetUp() {
    repository::frmLogin::unloadInstance();
    repository::frmProgress::unloadInstance();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    repository::resetConnection();
    driveT = temp / "driveT";
    fs::create_directories(driveT);
    writeFile(fs::path(platform::configFolder().toStdString()) / "drives.ini",
              "[Drives]\nT=" + driveT.string() + "\n");
    repo = std::make_unique<TestRepository>(temp / "repos" / "ts_notes");
    writeRepositoryList({{"ts_notes", repo->folder}});
}

void RepositoryTest::TearDown() {
    repository::frmLogin::unloadInstance();
    repository::frmProgress::unloadInstance();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    repository::resetConnection();
}

fs::path RepositoryTest::hostOf(const QString& windowsPath) const {
    QString rest = windowsPath.mid(3);
    rest.replace('\\', '/');
    return driveT / rest.toStdString();
}

QStringList RepositoryTest::linesOf(const QString& tag) const {
    QStringList out;
    const QString prefix = tag + " - ";
    for (const QString& line : log.lines) {
        if (line.startsWith(prefix))
            out.append(line.mid(prefix.size()));
    }
    return out;
}

} // namespace lf::test
