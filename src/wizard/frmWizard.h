#pragma once
// The wizard window: five pages in one window. A page is the set of controls that is visible and
// enabled, plus the header text and the captions of Back and Next; controlState builds a page from its
// number and the buttons only move the page number by one. Every control's page tag is its dynamic
// property "Tag": its first character is the page it belongs to ("0" every page).
#include "platform/stop_request.h"
#include "wizard/operations.h"
#include "wizard/program.h"
#include "wizard/repository_seam.h"
#include "wizard/run_plan.h"
#include "wizard/settings.h"

#include <QWidget>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QIcon;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;

namespace lf::wizard {

class frmWizard : public QWidget {
    Q_OBJECT
public:
    explicit frmWizard(WizardParts parts, QWidget* parent = nullptr);
    ~frmWizard() override;

    // Page building and the controls' state.
    void controlState(std::int16_t page);
    void hideControl(const QString& controlname);
    void displayControl(const QString& controlname);
    void displayControls(std::int16_t page);
    void disableNext();
    void enableNext();
    void disableBack();
    void enableBack();
    void disableAllControls();
    void verificationRequired(QWidget* control, int flag);
    std::uint16_t whichControlsChecked() const;
    bool isVerificationRequired(const QWidget* control) const;
    bool verified();
    // The check page 4 runs: the chosen operations and the fields as the run would get them.
    indexing::CourseCheck courseCheck() const;
    // The LibreOffice started ahead for the print-ready run, while the window holds it.
    const render::LibreOffice* startedRenderer() const { return warmRenderer_.get(); }
    // What page 4's check found, in the order the check lists them; empty until it ran.
    const std::vector<indexing::CourseProblem>& courseProblems() const { return courseProblems_; }

    // Events.
    void Form_Load();
    void cmdNext_Click();
    void cmdBack_Click();
    void lstOperations_Click();
    void lstOperations_DblClick();
    void chkPRU_Click();
    void chkPDF_Click();
    void cmdSourcePath_Click();
    void cmdDestination_Click();
    void cmdTOCTemplate_Click();
    void cmdIndexTemplate_Click();

    std::int16_t PageNumber = 0;
    QString pptPrinterSelection;
    QString wordPrinterSelection;
    QString adobe7x9PrinterSelection;

    // Whether the run page is calling operations right now.
    bool isRunning() const { return running_; }
    // The stop request of the run in progress: the Stop button, closing the window and a signal to
    // the command-line runner set it; each run starts with it cleared.
    platform::StopRequest& stopRequest() { return stop_; }
    // The page tag of a control.
    static QString tagOf(const QWidget* control);
    static void setTag(QWidget* control, const QString& tag);
    // Every control of the form, in creation order.
    const QList<QWidget*>& controls() const { return controls_; }
    // What the settings file said: PublishPDFs as page 2 read it, the rest as page 3 loaded it.
    const Settings& settings() const { return settings_; }
    // Page 3's load keeps the file's values; PublishPDFs stays as page 2 read it, since the printer
    // lists were set up by it.
    void keepSettings(const Settings& loaded);

    QWidget* Picture1;
    QLabel* lblWelcome;
    QPushButton* cmdBack;
    QPushButton* cmdNext;
    QCheckBox* chkGrayscale;
    QCheckBox* chkIndex;
    QCheckBox* chkTOC;
    QCheckBox* chkPRU;
    QCheckBox* chkZip;
    QCheckBox* chkPDF;
    QCheckBox* chkZipPDFs;
    QComboBox* cmbPPTPrinter;
    QLabel* lblPPTPrinter;
    QComboBox* cmbWordPrinter;
    QLabel* lblWordPrinter;
    QComboBox* cmbAdobePrinter;
    QLabel* lblAdobePrinter;
    QLineEdit* txtSourcePath;
    QPushButton* cmdSourcePath;
    QLabel* lblSource;
    QLineEdit* txtDestinationPath;
    QPushButton* cmdDestination;
    QLabel* lblDestination;
    QLineEdit* txtTOCTemplate;
    QPushButton* cmdTOCTemplate;
    QLabel* lblTOCtemplate;
    QLineEdit* txtIndexTemplate;
    QPushButton* cmdIndexTemplate;
    QLabel* lblIndexTemplate;
    QLineEdit* txtTOCName;
    QLabel* lblTOCName;
    QLineEdit* txtIndexName;
    QLabel* lblIndexName;
    QLineEdit* txtCourseName;
    QLabel* lblCourseName;
    QLabel* lblProblems;
    QTableWidget* lstProblems;
    QListWidget* lstOperations;
    QLabel* lblProgress;
    // The run page's own controls: stopping, how far the operation is, the summary at the end, and
    // keeping the log.
    QPushButton* cmdStop;
    QProgressBar* prgOperation;
    QLabel* lblSummary;
    QListWidget* lstFailures;
    QPushButton* cmdSaveLog;
    QPushButton* cmdCopyLog;
    // Asks where to save the log; an empty name saves nothing. The default is a file dialog.
    std::function<QString()> chooseLogFile;
    // A run that took at least this long and ends while the window is not active is announced.
    std::chrono::milliseconds announceAfter{std::chrono::minutes(1)};

    void cmdStop_Click();
    void cmdSaveLog_Click();
    void cmdCopyLog_Click();
    void lstFailures_Click();
    // The log lines as text, one per line.
    QString logText(bool selectedOnly) const;
    // Puts the lines logged since the list last grew at its end now (selecting the newest while the
    // log follows) instead of at the next tick of the log's clock.
    void showPendingLogLines();
    // How often at most a busy log grows: lines logged in between wait and go in together, so that
    // a line costs the same however long the log is.
    static constexpr std::chrono::milliseconds logBatchInterval{100};

    QLineEdit* txtWorkingDirectory;
    QLineEdit* txtPrintReadyZipFilename;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class LogSink;

    void createControls();
    void layOut();
    QWidget* control(const QString& name) const;
    void setControlShown(QWidget* control, bool shown);
    void applyFieldRules(std::uint16_t mask);
    void disableUnavailableOperations();
    void runOperations();
    void offerDriveForms();
    void checkCourse();
    void showSummary(const RunOutcome& outcome);
    void announceEnd();
    void Form_Unload();
    // The window's memory between sessions (when the parts ask for it): its size and position, and
    // the operations last checked, restored once on the first visit to page 2.
    void restoreWindow();
    // The five operation boxes with the bit of each.
    std::array<std::pair<QCheckBox*, std::uint16_t>, 5> operationBoxes() const;
    void rememberWindow() const;
    void restoreOperations();
    // The window can be made no smaller than the page's layout asks for.
    void fitMinimumSize();
    // Starts LibreOffice for the print-ready run when that run is chosen and none is started yet.
    void startRendererAhead();

    WizardParts parts_;
    Settings settings_;
    QList<QWidget*> controls_;
    std::vector<indexing::CourseProblem> courseProblems_;
    std::unique_ptr<LogSink> logSink_;
    bool unloaded_ = false;
    bool running_ = false;
    bool closeRequested_ = false;
    bool operationsRestored_ = false;
    platform::StopRequest stop_;
    // LibreOffice started on page 4 for the print-ready run (with stop_, so after it), until the run
    // takes it over; it ends when the wizard goes back to page 3 or before, and with the window.
    std::unique_ptr<render::LibreOffice> warmRenderer_;
    // The failures of the run in progress: each with its row in the log (-1: shown only in a box).
    QList<std::pair<QString, int>> failures_;
    bool logFollows_ = true; // the log shows its end and keeps showing it as lines come
    std::vector<std::unique_ptr<QListWidgetItem>> pendingLogLines_; // logged, not yet in lstOperations
    QTimer* logBatch_ = nullptr; // running: the list grew less than logBatchInterval ago
};

// The program's icon: the one it is installed with (the icon theme's "lessonforge"), or the copy built
// into the program where no theme has it.
QIcon ProgramIcon();

// Fills the list with the device name of every installed printer, each once however often it is
// filled; the text the list shows (the user's choice or the prompt) stays.
void FillPrinterList(QComboBox* list);

} // namespace lf::wizard
