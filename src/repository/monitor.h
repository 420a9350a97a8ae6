#pragma once
// The operation monitor that the library calls while an export, import, check-in or check-out runs,
// and the progress window it drives.
//
// Library lf_repository.
#include "tessarel/tessarel.h"

#include <QWidget>

class QLabel;
class QProgressBar;

namespace lf::repository {

// "Progress Monitor": the operation's and the step's percent in two labels, and the operation's
// percent on a progress bar. One program-wide instance, made when first shown.
class frmProgress : public QWidget {
    Q_OBJECT
public:
    static frmProgress& instance();
    static bool isLoaded();
    static void unloadInstance();

    QLabel* lblProgressOperation;
    QLabel* lblProgressStep;
    QProgressBar* prgOperation;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    explicit frmProgress(QWidget* parent = nullptr);
    ~frmProgress() override;
};

class clsOperationMonitor : public tessarel::ITsOperationMonitor {
public:
    // Shows the progress window with the two percent lines; a report above 90 percent unloads it.
    // Returns 1: a report never stops the operation.
    int progressReport(const std::shared_ptr<tessarel::TsOperation>& operation, int operationPercentDone,
                       const tessarel::TsOperationStepPtr& step, int stepPercentDone,
                       const std::shared_ptr<tessarel::TsOperationNode>& node) override;
    // Logs the error's message under "Progress"; returns 1.
    int reportError(const tessarel::TsOperationErrorPtr& error) override;
    // Every question is answered yes.
    bool getYesNoAnswer(const std::string& question) override;

    // Unloads the progress window.
    void terminateProgress();
};

} // namespace lf::repository
