#pragma once
// The "Errors Encountered" dialog: the list of every message logged as an error since the dialog was
// last unloaded, and the user's choice to continue or cancel after a failed check-in or check-out.
// One program-wide instance, created (invisibly) by the first error logged or the first
// ShowErrorDialog. Unloading it (Continue, Cancel, or closing it) discards its list.
#include <QDialog>
#include <QStringList>

class QListWidget;
class QPushButton;

namespace lf::wizard {

class frmError : public QDialog {
    Q_OBJECT
public:
    // The program-wide instance, created when needed.
    static frmError& instance();
    // Whether the instance has been created (and not destroyed).
    static bool isLoaded();

    // The error dialog answer: true continue, false cancel; false until a button is pressed.
    static bool answer();

    // Appends one message to the list (the operation log does this for each error line).
    void addError(const QString& message);
    QStringList errorLines() const;

    // Hides the dialog and discards its list; the answer is left as it is.
    void unload();

    void cmdContinue_Click();
    void cmdCancel_Click();
    void lstErrors_Click();
    void lstErrors_DblClick();
    // Escape: unloads without setting an answer.
    void reject() override;

    QListWidget* lstErrors;
    QPushButton* cmdContinue;
    QPushButton* cmdCancel;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit frmError(QWidget* parent = nullptr);
};

// Creates frmError when needed, shows it modally and returns the answer once it has closed.
bool ShowErrorDialog();

} // namespace lf::wizard
