#pragma once
// The login window: the repository to use, the user name and the password. Loading it fills the
// repository box from the library's repository list; OK logs in and hides it when a session was
// obtained, and otherwise leaves it open with one "Login" line in the operation log and the reason
// shown in the dialog itself (lblRefused, cleared by the next try); Cancel unloads
// it without touching the login state. The password box shows "*" for every character typed, and
// the password is wiped from the window and the login information once the login is done.
//
// Library lf_repository.
#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lf::repository {

class frmLogin : public QDialog {
    Q_OBJECT
public:
    // The program-wide instance, loaded (created, filled) when needed.
    static frmLogin& instance();
    static bool isLoaded();
    // Unloads the instance when it is loaded.
    static void unloadInstance();

    void cmdOK_Click();
    void cmdCancel_Click();

    QComboBox* cmbRepository;
    QLabel* lblLabels[2];
    QLineEdit* txtUserName;
    QLineEdit* txtPassword;
    QLabel* lblRefused; // why the last login was refused; hidden while there is nothing to say
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    explicit frmLogin(QWidget* parent = nullptr);
    ~frmLogin() override;
    void Form_Load();
    void unload();
    void showRefusal(const QString& reason);
};

} // namespace lf::repository
