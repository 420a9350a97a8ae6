#include "repository/frmLogin.h"

#include "platform/dialogs.h"
#include "repository/connection.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QVBoxLayout>

namespace lf::repository {

namespace {

frmLogin* g_instance = nullptr;

// The password box shows "*" for every character, whatever the platform style would show.
class StarPasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        if (hint == SH_LineEdit_PasswordMaskDelay)
            return 0; // never shows the last character typed
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Overwrites a text before letting it go, so the password does not linger in freed memory.
void wipe(QString& text) {
    text.fill(QChar(' '));
    text.clear();
}

void wipe(std::string& text) {
    std::fill(text.begin(), text.end(), ' ');
    text.clear();
}

} // namespace

frmLogin& frmLogin::instance() {
    if (!g_instance) {
        g_instance = new frmLogin();
        g_instance->Form_Load();
    }
    return *g_instance;
}

bool frmLogin::isLoaded() {
    return g_instance != nullptr;
}

void frmLogin::unloadInstance() {
    if (g_instance)
        g_instance->unload();
}

frmLogin::frmLogin(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Login");
    setModal(true);
    auto* grid = new QGridLayout;
    auto* lblRepository = new QLabel("Repository:");
    cmbRepository = new QComboBox;
    lblRepository->setBuddy(cmbRepository);
    lblLabels[0] = new QLabel("&User Name:");
    lblLabels[1] = new QLabel("&Password:");
    txtUserName = new QLineEdit;
    txtPassword = new QLineEdit;
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setStyle(new StarPasswordStyle); // parented below, after the box it serves
    lblLabels[0]->setBuddy(txtUserName);
    lblLabels[1]->setBuddy(txtPassword);
    grid->addWidget(lblRepository, 0, 0);
    grid->addWidget(cmbRepository, 0, 1);
    grid->addWidget(lblLabels[0], 1, 0);
    grid->addWidget(txtUserName, 1, 1);
    grid->addWidget(lblLabels[1], 2, 0);
    grid->addWidget(txtPassword, 2, 1);

    lblRefused = new QLabel;
    lblRefused->setObjectName("lblRefused");
    lblRefused->setWordWrap(true);
    lblRefused->setTextFormat(Qt::PlainText);
    lblRefused->setStyleSheet("color: #a00000;");
    lblRefused->hide();

    cmdOK = new QPushButton("OK");
    cmdCancel = new QPushButton("Cancel");
    cmdOK->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(lblRefused);
    layout->addLayout(buttons);

    txtPassword->style()->setParent(this);
    connect(cmdOK, &QPushButton::clicked, this, &frmLogin::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmLogin::cmdCancel_Click);
}

frmLogin::~frmLogin() {
    if (g_instance == this)
        g_instance = nullptr;
}

void frmLogin::Form_Load() {
    auto& c = connection();
    try {
        c.localClient = clientObject().localClient();
        c.repositoryList = c.localClient->repositoryList();
        for (int i = 0; i < c.repositoryList->count(); ++i) {
            const QString name = fromLib(c.repositoryList->nameAt(i));
            cmbRepository->addItem(name);
            if (name == "ts_notes")
                cmbRepository->setCurrentIndex(i);
        }
        if (cmbRepository->currentText().isEmpty() && cmbRepository->count() > 0)
            cmbRepository->setCurrentIndex(0);
    } catch (const std::exception& e) {
        // An unreadable repository list leaves the box empty; the dialog still opens.
        ReportOperationError("Login", QString::fromStdString(e.what()));
    }
}

void frmLogin::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    txtUserName->setFocus();
}

void frmLogin::cmdOK_Click() {
    auto& c = connection();
    platform::showHourglass();
    // The new session manager, login information and repository name become the program's only with
    // a session: a refused login leaves a working connection as it was.
    std::string password = toLib(txtPassword->text());
    lblRefused->hide();
    lblRefused->clear();
    tessarel::TsLoginInfoPtr login;
    try {
        if (!c.localClient)
            c.localClient = clientObject().localClient();
        auto manager = c.localClient->newSessionManager();
        login = clientObject().newLoginInfo();
        login->setUser(toLib(txtUserName->text()));
        login->setPassword(password);
        wipe(password);
        const QString repositoryName = cmbRepository->currentText();
        manager->setIdentity(toLib(repositoryName), login);
        auto session = manager->getSession(toLib(repositoryName));
        login->setPassword(std::string()); // the session is held; the password is not kept
        manager->release(session);
        if (session) {
            c.sessionManager = manager;
            c.loginInfo = login;
            c.repositoryName = repositoryName;
            c.session = session;
            auto& browser = browserHooks();
            browser.repositoryMode = true;
            browser.pathSeparator = "/";
            c.connected = true;
            QString typed = txtPassword->text();
            wipe(typed);
            txtPassword->clear();
            if (browser.isOpen && browser.isOpen() && browser.repositoryStart)
                browser.repositoryStart();
            done(QDialog::Accepted); // hides the window; it stays loaded
        } else {
            showRefusal("The repository gave no session. Check the user name and password, then try again.");
        }
        platform::showDefaultPointer();
    } catch (const std::exception& e) {
        wipe(password);
        if (login)
            login->setPassword(std::string());
        platform::showDefaultPointer();
        showRefusal(ReportOperationError("Login", QString::fromStdString(e.what())));
    }
}

void frmLogin::showRefusal(const QString& reason) {
    lblRefused->setText(reason);
    lblRefused->show();
    txtPassword->selectAll();
    txtPassword->setFocus();
}

void frmLogin::cmdCancel_Click() {
    unload();
}

void frmLogin::reject() {
    unload();
}

void frmLogin::closeEvent(QCloseEvent* event) {
    event->accept();
    unload();
}

void frmLogin::unload() {
    QString typed = txtPassword->text();
    wipe(typed);
    txtPassword->clear();
    if (isVisible())
        done(QDialog::Rejected);
    if (g_instance == this)
        g_instance = nullptr;
    deleteLater();
}

} // namespace lf::repository
