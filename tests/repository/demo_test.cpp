// What a newcomer meets after `make run`: the demo repository made by tessarel-admin accepts the
// user demo with the password demo, and its sample course exports into the working directory.
#include "repository/repository_ops.h"
#include "repository_fixture.h"
#include "workfiles/working_files.h"

#include <QComboBox>
#include <QProcess>

#include "platform/folders.h"

namespace lf::test {
namespace {

namespace fs = std::filesystem;

class DemoRepositoryTest : public RepositoryTest {};

TEST_F(DemoRepositoryTest, TheDemoUserLogsInAndExportsTheSampleCourse) {
    // Only the demo repository, found the way the program finds it without a tessarel.ini.
    fs::remove(fs::path(platform::configFolder().toStdString()) / "tessarel.ini");
    const fs::path passwordFile = temp / "password";
    writeFile(passwordFile, "demo\n");
    QProcess admin;
    admin.setProcessChannelMode(QProcess::MergedChannels);
    admin.start(LF_BINARY_DIR "/tools/tessarel-admin/tessarel-admin",
                {"demo", "ts_notes", "--user", "demo", "--password-file",
                 QString::fromStdString(passwordFile.string())});
    ASSERT_TRUE(admin.waitForFinished(120000));
    ASSERT_EQ(admin.exitCode(), 0) << admin.readAll().toStdString();

    auto& dialog = repository::frmLogin::instance();
    EXPECT_EQ(dialog.cmbRepository->count(), 1);
    EXPECT_FALSE(loginThroughDialog("demo", "wrong"));
    ASSERT_TRUE(loginThroughDialog("demo", "demo"));
    const QString id = repository::folderIdText("/Edvara/Courses/Sample");
    ASSERT_FALSE(id.isEmpty());
    fs::create_directories(driveT / "syllabo");
    workfiles::WorkingFiles files(QStringLiteral("T:\\syllabo"));
    ASSERT_TRUE(repository::ExportFolder(repository::connection().session, &files, id, "T:\\syllabo",
                                         repository::kExportDecks));
    EXPECT_GE(files.files().size(), 3);
    for (const QString& f : files.files())
        EXPECT_TRUE(fs::is_regular_file(hostOf(f))) << f.toStdString();
}

} // namespace
} // namespace lf::test
