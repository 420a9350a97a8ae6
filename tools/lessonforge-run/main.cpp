// lessonforge-run: walks the real wizard window through its five pages without a person at the
// screen. The options tick the operation boxes of page 2 and fill the fields of page 3 (fields not
// given keep what the settings file holds); page 4 writes the fields back to the settings file only
// with --save-settings, so that a scripted run leaves the settings a person uses as they were (the run
// uses the fields as given all the same). The window's own memory (its size, the operations last
// checked) is neither read nor written: the options tick the boxes. The login window is filled when page 4
// asks for it; message boxes are answered from --answer. Every operation-log line is printed as it is logged
// and every box as "[box] TITLE: TEXT -> ANSWER"; the problems page 4's check of the course found are printed
// before the run as "[page 4] PROBLEM" (a clean course prints none), and do not change the exit status.
//
// Exit status: 0 when page 5 finished and every operation did its work, 1 when page 3 or 4 refused to
// go on, 2 for bad options or an operation this build cannot run, 3 when page 5 finished but a line of
// the run was an error or a failure (a "Serious error", a missing source, a deck that ended an
// operation, nothing processed, a failed export or import), so that a build server fails the job.
//
// With --check the wizard goes as far as page 3 (the same operations and fields) and then, instead of
// saving the fields and running, the course is checked: every problem the chosen operations would
// meet is printed, one line each, and nothing is changed or written. Exit status 0 when the course is
// clean, 3 when problems were found, 1 when the repository could not be reached.
//
// SIGINT or SIGTERM stops the run between files, as the Stop button does: the operation running ends
// the way a failure does (its working files removed, its check-outs ended, nothing half-written), no
// later operation starts, "Stopped by the user" is printed once and the exit status is 3. A second
// signal ends the process at once.
#include "indexing/course_check.h"
#include "platform/dialogs.h"
#include "platform/oplog.h"
#include "repository/connection.h"
#include "repository/frmLogin.h"
#include "wizard/frmWizard.h"
#include "wizard/program.h"
#include "wizard/run_plan.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <optional>
#include <utility>

namespace {

void printLine(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void printError(const QString& text) {
    std::fputs(("lessonforge-run: " + text + "\n").toLocal8Bit().constData(), stderr);
}

const char* const kUsage =
    "usage: lessonforge-run [operations] [fields] [login] [answers]\n"
    "operations (page 2): --grayscale --index --toc --print-ready --pdf --zip-result --zip\n"
    "fields (page 3):     --source PATH --destination PATH --toc-template PATH --index-template PATH\n"
    "                     --toc-name NAME --index-name NAME --course-name NAME\n"
    "printers (page 2):   --ppt-printer NAME --word-printer NAME --pdf-printer NAME (as lpstat -e lists\n"
    "                     them; a name not listed is handed to the run, which refuses it)\n"
    "login (page 4):      --repository NAME --user NAME --password-file FILE\n"
    "settings:            --save-settings          page 4 writes the fields to Syllabo.ini as the wizard\n"
    "                                              does; without it the file is left as it is\n"
    "answers:             --answer yes|no          every Yes/No box not answered by title\n"
    "                     --answer \"TITLE=yes|no\"  the boxes with that title\n"
    "                     a Yes/No box left unanswered is answered No; OK boxes are acknowledged;\n"
    "                     \"Errors Encountered=yes\" continues after errors (the default cancels)\n"
    "check:               --check                  list every problem the operations would meet in the\n"
    "                                              course, one line each, changing and writing nothing;\n"
    "                                              without operations: as for --index --toc\n"
    "help:                --help, -h               print this text and exit\n"
    "exit status: 0 page 5 finished, 1 page 3 or 4 refused to go on, 2 bad options,\n"
    "             3 page 5 finished but an operation failed (the failing lines are printed);\n"
    "             with --check: 0 no problems, 3 problems found, 1 the repository could not be reached\n"
    "stopping:            SIGINT or SIGTERM stops the run between files, cleaning up as a failure does;\n"
    "                     \"Stopped by the user\" is printed and the exit status is 3; a second signal\n"
    "                     ends the process at once\n";

// The wizard's stop request, set from the signal handler: a lock-free store and nothing else.
lf::platform::StopRequest* signalledStop = nullptr;
std::atomic<bool> signalled{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void stopOnSignal(int) {
    signalled.store(true, std::memory_order_relaxed);
    if (signalledStop)
        signalledStop->request();
}

// The first SIGINT or SIGTERM asks for the stop; the handler is then reset, so a second one ends the
// process the default way.
void stopOnSignals(lf::platform::StopRequest& stop) {
    signalledStop = &stop;
    struct sigaction action = {};
    action.sa_handler = stopOnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

struct Options {
    std::vector<QString> operations;     // option names, in the order given
    std::map<QString, QString> fields;   // option name -> text
    std::map<QString, QString> printers; // --ppt-printer, --word-printer, --pdf-printer -> name
    QString repository, user, passwordFile;
    std::optional<bool> defaultAnswer;
    std::map<QString, bool> answersByTitle;
    bool check = false;
    bool saveSettings = false;
};

bool parseAnswer(const QString& word, bool* yes) {
    const QString w = word.trimmed().toLower();
    if (w == "yes" || w == "y") {
        *yes = true;
        return true;
    }
    if (w == "no" || w == "n") {
        *yes = false;
        return true;
    }
    return false;
}

// False, after saying why, for options that cannot be used.
bool parseOptions(const QStringList& args, Options* options) {
    static const QStringList operationOptions = {"--grayscale", "--index",      "--toc", "--print-ready",
                                                 "--pdf",       "--zip-result", "--zip"};
    static const QStringList fieldOptions = {"--source",         "--destination", "--toc-template",
                                             "--index-template", "--toc-name",    "--index-name",
                                             "--course-name"};
    for (int i = 1; i < args.size(); ++i) {
        const QString arg = args[i];
        auto value = [&](QString* out) {
            if (i + 1 >= args.size()) {
                printError(arg + " needs a value");
                return false;
            }
            *out = args[++i];
            return true;
        };
        if (operationOptions.contains(arg)) {
            options->operations.push_back(arg);
        } else if (fieldOptions.contains(arg)) {
            if (!value(&options->fields[arg]))
                return false;
        } else if (arg == "--ppt-printer" || arg == "--word-printer" || arg == "--pdf-printer") {
            if (!value(&options->printers[arg]))
                return false;
        } else if (arg == "--repository") {
            if (!value(&options->repository))
                return false;
        } else if (arg == "--user") {
            if (!value(&options->user))
                return false;
        } else if (arg == "--password-file") {
            if (!value(&options->passwordFile))
                return false;
        } else if (arg == "--answer") {
            QString answer;
            if (!value(&answer))
                return false;
            bool yes = false;
            const qsizetype eq = answer.lastIndexOf('=');
            if (eq >= 0) {
                if (!parseAnswer(answer.mid(eq + 1), &yes) || eq == 0) {
                    printError("bad answer \"" + answer + "\": use TITLE=yes or TITLE=no");
                    return false;
                }
                options->answersByTitle[answer.left(eq)] = yes;
            } else {
                if (!parseAnswer(answer, &yes)) {
                    printError("bad answer \"" + answer + "\": use yes or no");
                    return false;
                }
                options->defaultAnswer = yes;
            }
        } else if (arg == "--save-settings") {
            options->saveSettings = true;
        } else if (arg == "--check") {
            options->check = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else {
            printError("unknown option " + arg);
            return false;
        }
    }
    if (options->operations.empty() && options->check)
        options->operations = {"--index", "--toc"};
    if (options->operations.empty()) {
        printError("no operation given");
        return false;
    }
    const bool anyLogin =
        !options->repository.isEmpty() || !options->user.isEmpty() || !options->passwordFile.isEmpty();
    const bool fullLogin =
        !options->repository.isEmpty() && !options->user.isEmpty() && !options->passwordFile.isEmpty();
    if (!options->printers.empty() && std::find(options->operations.begin(), options->operations.end(),
                                                "--print-ready") == options->operations.end()) {
        printError("the printers go with --print-ready");
        return false;
    }
    if (anyLogin && !fullLogin) {
        printError("--repository, --user and --password-file go together");
        return false;
    }
    return true;
}

QString escapedText(QString text) {
    return text.replace("\r\n", "\\n").replace('\n', "\\n");
}

// Answers the boxes from the options and prints each one.
class ScriptedBoxes : public lf::platform::MessageBoxService {
public:
    explicit ScriptedBoxes(const Options& options) : options_(options) {
        lf::platform::installMessageBoxes(this);
    }
    ~ScriptedBoxes() override { lf::platform::installMessageBoxes(nullptr); }

    bool answerFor(const QString& title) const {
        const auto it = options_.answersByTitle.find(title);
        if (it != options_.answersByTitle.end())
            return it->second;
        return options_.defaultAnswer.value_or(false);
    }

    lf::platform::MessageAnswer show(const lf::platform::MessageRequest& request) override {
        using lf::platform::MessageAnswer;
        MessageAnswer answer = MessageAnswer::Ok;
        if (request.buttons == lf::platform::MessageButtons::YesNo)
            answer = answerFor(request.title) ? MessageAnswer::Yes : MessageAnswer::No;
        const char* word = answer == MessageAnswer::Ok ? "OK" : answer == MessageAnswer::Yes ? "Yes" : "No";
        printLine("[box] " + request.title + ": " + escapedText(request.text) + " -> " + word);
        return answer;
    }

private:
    const Options& options_;
};

// Prints every log line as it is logged, then hands it to the wizard's own list; answers the errors
// dialog from the options.
class PrintingLogSink : public lf::oplog::OperationLogSink {
public:
    PrintingLogSink(lf::oplog::OperationLogSink& wizardSink, const ScriptedBoxes& boxes)
        : wizard_(wizardSink), boxes_(boxes) {
        lf::oplog::installOperationLogSink(this);
    }
    ~PrintingLogSink() override { lf::oplog::installOperationLogSink(&wizard_); }
    void appendLine(const QString& line) override {
        printLine(line);
        wizard_.appendLine(line);
    }
    void appendError(const QString& message) override { wizard_.appendError(message); }
    void noteFailure(const QString& what) override {
        failures_.append(what);
        wizard_.noteFailure(what);
    }
    const QStringList& failures() const { return failures_; }
    bool showErrorDialog() override {
        const bool goOn = boxes_.answerFor("Errors Encountered");
        printLine(QString("[box] Errors Encountered: the errors listed above -> ") +
                  (goOn ? "Continue" : "Cancel"));
        return goOn;
    }

private:
    lf::oplog::OperationLogSink& wizard_;
    const ScriptedBoxes& boxes_;
    QStringList failures_;
};

// Fills the login window when page 4 asks for one.
class ScriptedLogin : public lf::repository::LoginPresenter {
public:
    explicit ScriptedLogin(const Options& options) : options_(options) {
        lf::repository::installLoginPresenter(this);
    }
    ~ScriptedLogin() override { lf::repository::installLoginPresenter(nullptr); }

    void showModal(lf::repository::frmLogin& dialog) override {
        if (options_.repository.isEmpty()) {
            printLine("[login] no --repository, --user and --password-file given: login cancelled");
            dialog.cmdCancel_Click();
            return;
        }
        QFile file(options_.passwordFile);
        if (!file.open(QIODevice::ReadOnly)) {
            printLine("[login] cannot read the password file " + options_.passwordFile + ": login cancelled");
            dialog.cmdCancel_Click();
            return;
        }
        QString password = QString::fromUtf8(file.readLine());
        while (password.endsWith('\n') || password.endsWith('\r'))
            password.chop(1);
        printLine("[login] " + options_.user + " on " + options_.repository);
        dialog.cmbRepository->setCurrentText(options_.repository);
        dialog.txtUserName->setText(options_.user);
        dialog.txtPassword->setText(password);
        password.fill(QChar(0));
        dialog.cmdOK_Click();
        if (!lf::repository::IsConnected()) {
            printLine("[login] refused: login cancelled");
            dialog.cmdCancel_Click();
        }
    }

private:
    const Options& options_;
};

QCheckBox* operationBox(lf::wizard::frmWizard& wizard, const QString& option) {
    if (option == "--grayscale")
        return wizard.chkGrayscale;
    if (option == "--index")
        return wizard.chkIndex;
    if (option == "--toc")
        return wizard.chkTOC;
    if (option == "--print-ready")
        return wizard.chkPRU;
    if (option == "--pdf")
        return wizard.chkPDF;
    if (option == "--zip-result")
        return wizard.chkZipPDFs;
    return wizard.chkZip;
}

QLineEdit* fieldBox(lf::wizard::frmWizard& wizard, const QString& option) {
    if (option == "--source")
        return wizard.txtSourcePath;
    if (option == "--destination")
        return wizard.txtDestinationPath;
    if (option == "--toc-template")
        return wizard.txtTOCTemplate;
    if (option == "--index-template")
        return wizard.txtIndexTemplate;
    if (option == "--toc-name")
        return wizard.txtTOCName;
    if (option == "--index-name")
        return wizard.txtIndexName;
    return wizard.txtCourseName;
}

// Chooses the printer in its list as a user would; a name the list does not hold is given to the run
// as the selection all the same, so that the run reports the printer it was refused.
void choosePrinter(lf::wizard::frmWizard& wizard, const QString& option, const QString& name) {
    QComboBox* list = option == "--ppt-printer"    ? wizard.cmbPPTPrinter
                      : option == "--word-printer" ? wizard.cmbWordPrinter
                                                   : wizard.cmbAdobePrinter;
    const int index = list->findText(name, Qt::MatchExactly);
    if (index >= 0) {
        list->setCurrentIndex(index);
        emit list->activated(index);
        return;
    }
    printLine("[page 2] " + name + " is not in the list of " + list->objectName() +
              "; the run is given it as it is");
    QString& selection = option == "--ppt-printer"    ? wizard.pptPrinterSelection
                         : option == "--word-printer" ? wizard.wordPrinterSelection
                                                      : wizard.adobe7x9PrinterSelection;
    selection = name;
}

// The page the wizard stopped on, when Next is disabled there.
bool refused(lf::wizard::frmWizard& wizard) {
    if (wizard.cmdNext->isEnabled())
        return false;
    printLine("[page " + QString::number(wizard.PageNumber) + "] " +
              wizard.lblWelcome->text().replace('\n', ' '));
    return true;
}

// The check that stands in for pages 4 and 5: the fields as page 3 holds them, a login when a path
// the check reads is in the repository, then every problem, one line each.
int checkCourse(lf::wizard::frmWizard& wizard) {
    const lf::indexing::CourseCheck check = wizard.courseCheck();
    const QString paths[] = {check.sourcePath, check.destinationPath,
                             check.toc ? check.tocTemplate : QString(),
                             check.index ? check.indexTemplate : QString()};
    for (const QString& path : paths) {
        if (lf::repository::EnsureConnection(path)) {
            printLine("[check] " + path + " is in the repository, which could not be reached");
            return 1;
        }
    }
    const std::vector<lf::indexing::CourseProblem> problems = lf::indexing::CheckCourse(check);
    for (const lf::indexing::CourseProblem& problem : problems)
        printLine(lf::indexing::ProblemLine(problem));
    if (problems.empty()) {
        std::fputs("lessonforge-run: the course has no problems\n", stderr);
        return 0;
    }
    printError(QString::number(problems.size()) + " problem(s) found");
    return 3;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Options options;
    if (!parseOptions(app.arguments(), &options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    ScriptedBoxes boxes(options);
    ScriptedLogin login(options);
    lf::wizard::WizardParts parts = lf::wizard::programParts();
    parts.saveSettings = options.saveSettings;
    parts.rememberWindow = false;
    lf::wizard::frmWizard wizard(std::move(parts));
    PrintingLogSink sink(lf::oplog::operationLogSink(), boxes);
    stopOnSignals(wizard.stopRequest());

    // Page 2: the operation boxes. A box this build cannot run is disabled there.
    wizard.cmdNext_Click();
    for (const QString& option : options.operations) {
        QCheckBox* box = operationBox(wizard, option);
        if (option == "--pdf" || option == "--zip-result") {
            // These two follow the print-ready box; they are enabled once it is ticked.
            continue;
        }
        if (!box->isEnabled()) {
            printError(box->text().remove('&') + " (" + option + ") is not available in this build");
            return 2;
        }
        if (!box->isChecked())
            box->click();
    }
    for (const QString& option : options.operations) {
        if (option != "--pdf" && option != "--zip-result")
            continue;
        QCheckBox* box = operationBox(wizard, option);
        if (!wizard.chkPRU->isChecked()) {
            printError(option + " goes with --print-ready");
            return 2;
        }
        if (!box->isEnabled()) {
            printError(box->text().remove('&') + " (" + option + ") is not available in this build");
            return 2;
        }
        if (!box->isChecked())
            box->click();
    }

    for (const auto& [option, name] : options.printers)
        choosePrinter(wizard, option, name);

    // Page 3: the fields, over what the settings file holds.
    wizard.cmdNext_Click();
    if (refused(wizard))
        return 1;
    for (const auto& [option, text] : options.fields)
        fieldBox(wizard, option)->setText(text);
    if (options.check)
        return checkCourse(wizard);

    // Page 4: saves the fields (with --save-settings) and checks them, asking for a login when a path needs
    // one, then checks the course. Its problems are printed before the run (a clean course prints nothing);
    // they do not stop the run, as they do not stop a user at the window.
    wizard.cmdNext_Click();
    if (refused(wizard))
        return 1;
    for (const lf::indexing::CourseProblem& problem : wizard.courseProblems())
        printLine("[page 4] " + lf::indexing::ProblemLine(problem));

    // Page 5: the run. A signal before it starts stops it before its first operation.
    if (signalled.load(std::memory_order_relaxed)) {
        lf::oplog::LogFailure("Wizard", lf::platform::kStoppedByUser);
        return 3;
    }
    wizard.cmdNext_Click();
    if (!wizard.cmdNext->isEnabled()) {
        printLine("[page 5] the run did not finish");
        return 1;
    }
    wizard.cmdNext_Click(); // Finish
    if (!sink.failures().isEmpty()) {
        printError(QString::number(sink.failures().size()) +
                   " failure(s) in the run, the first: " + sink.failures().first());
        return 3;
    }
    return 0;
}
