#include "repository/monitor.h"

#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>

namespace lf::repository {

namespace {
frmProgress* g_progress = nullptr;
}

frmProgress& frmProgress::instance() {
    if (!g_progress)
        g_progress = new frmProgress();
    return *g_progress;
}

bool frmProgress::isLoaded() {
    return g_progress != nullptr;
}

void frmProgress::unloadInstance() {
    if (!g_progress)
        return;
    frmProgress* form = g_progress;
    g_progress = nullptr;
    form->hide();
    form->deleteLater();
}

frmProgress::frmProgress(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle("Progress Monitor");
    lblProgressOperation = new QLabel;
    lblProgressStep = new QLabel;
    prgOperation = new QProgressBar;
    prgOperation->setRange(0, 100);
    prgOperation->setValue(0);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblProgressOperation);
    layout->addWidget(prgOperation);
    layout->addWidget(lblProgressStep);
    setMinimumWidth(360);
}

frmProgress::~frmProgress() {
    if (g_progress == this)
        g_progress = nullptr;
}

void frmProgress::closeEvent(QCloseEvent* event) {
    event->accept();
    unloadInstance();
}

int clsOperationMonitor::progressReport(const std::shared_ptr<tessarel::TsOperation>& operation,
                                        int operationPercentDone, const tessarel::TsOperationStepPtr& step,
                                        int stepPercentDone,
                                        const std::shared_ptr<tessarel::TsOperationNode>&) {
    frmProgress& form = frmProgress::instance();
    form.show();
    platform::yieldToEventLoop();
    const QString operationName = operation ? QString::fromStdString(operation->name()) : QString();
    const QString stepName = step ? QString::fromStdString(step->name()) : QString();
    form.lblProgressOperation->setText(operationName + " operation is " +
                                       QString::number(operationPercentDone) + " percent done.");
    form.lblProgressStep->setText(stepName + " step is " + QString::number(stepPercentDone) +
                                  " percent done.");
    form.prgOperation->setValue(std::clamp(operationPercentDone, 0, 100));
    platform::yieldToEventLoop();
    if (operationPercentDone > 90)
        frmProgress::unloadInstance();
    return 1;
}

int clsOperationMonitor::reportError(const tessarel::TsOperationErrorPtr& error) {
    oplog::LogOperation(
        "Progress", error ? platform::withLocalPaths(QString::fromStdString(error->getMessage())) : QString(),
        false);
    return 1;
}

bool clsOperationMonitor::getYesNoAnswer(const std::string&) {
    return true;
}

void clsOperationMonitor::terminateProgress() {
    frmProgress::unloadInstance();
}

} // namespace lf::repository
