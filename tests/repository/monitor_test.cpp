// The operation monitor and the progress window, driven as the library drives them.
#include "repository/monitor.h"
#include "repository_fixture.h"

#include <QLabel>
#include <QProgressBar>

namespace lf::test {
namespace {

using repository::clsOperationMonitor;
using repository::frmProgress;

class MonitorTest : public RepositoryTest {};

TEST_F(MonitorTest, ProgressReportShowsBothLinesAndTheBar) {
    clsOperationMonitor monitor;
    auto operation = std::make_shared<tessarel::TsExportOperation>();
    auto step = std::make_shared<tessarel::TsOperationStep>("Export content");
    EXPECT_EQ(monitor.progressReport(operation, 40, step, 75, nullptr), 1);
    ASSERT_TRUE(frmProgress::isLoaded());
    auto& form = frmProgress::instance();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), "Progress Monitor");
    EXPECT_EQ(form.lblProgressOperation->text(), "Export operation is 40 percent done.");
    EXPECT_EQ(form.lblProgressStep->text(), "Export content step is 75 percent done.");
    EXPECT_EQ(form.prgOperation->value(), 40);
    EXPECT_EQ(yields.count, 2);
}

TEST_F(MonitorTest, NinetyKeepsTheWindowAndNinetyOneClosesIt) {
    clsOperationMonitor monitor;
    auto operation = std::make_shared<tessarel::TsCheckinOperation>();
    auto step = std::make_shared<tessarel::TsOperationStep>("Commit");
    monitor.progressReport(operation, 90, step, 100, nullptr);
    EXPECT_TRUE(frmProgress::isLoaded());
    EXPECT_EQ(frmProgress::instance().lblProgressOperation->text(), "Checkin operation is 90 percent done.");
    monitor.progressReport(operation, 91, step, 100, nullptr);
    EXPECT_FALSE(frmProgress::isLoaded());
    // A later report shows it again; terminateProgress unloads it.
    monitor.progressReport(operation, 10, step, 0, nullptr);
    EXPECT_TRUE(frmProgress::isLoaded());
    monitor.terminateProgress();
    EXPECT_FALSE(frmProgress::isLoaded());
    monitor.terminateProgress(); // nothing to unload: no harm
}

TEST_F(MonitorTest, OutOfRangePercentsOnlyClampTheBar) {
    clsOperationMonitor monitor;
    auto operation = std::make_shared<tessarel::TsImportOperation>();
    monitor.progressReport(operation, -5, nullptr, 250, nullptr);
    auto& form = frmProgress::instance();
    EXPECT_EQ(form.lblProgressOperation->text(), "Import operation is -5 percent done.");
    EXPECT_EQ(form.lblProgressStep->text(), " step is 250 percent done.");
    EXPECT_EQ(form.prgOperation->value(), 0);
}

TEST_F(MonitorTest, ErrorsAreLoggedUnderProgressAndQuestionsAnsweredYes) {
    clsOperationMonitor monitor;
    auto error = std::make_shared<tessarel::TsOperationError>("TS_LOCK_CONFLICT", "Locked by bob", nullptr);
    EXPECT_EQ(monitor.reportError(error), 1);
    EXPECT_EQ(log.lines, QStringList{"Progress - Locked by bob"});
    EXPECT_TRUE(log.errors.isEmpty());
    EXPECT_FALSE(frmProgress::isLoaded());
    EXPECT_TRUE(monitor.getYesNoAnswer("Replace the file?"));
    EXPECT_TRUE(boxes.shown.empty());
}

} // namespace
} // namespace lf::test
