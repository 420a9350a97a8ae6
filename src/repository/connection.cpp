#include "repository/connection.h"

#include "platform/dialogs.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "repository/frmLogin.h"

namespace lf::repository {

namespace {

Connection& state() {
    static Connection c;
    return c;
}

tessarel::TsClientPtr& client() {
    static tessarel::TsClientPtr c;
    return c;
}

class ModalLoginPresenter : public LoginPresenter {
public:
    void showModal(frmLogin& dialog) override { dialog.exec(); }
};

LoginPresenter* g_presenter = nullptr;

} // namespace

Connection& connection() {
    return state();
}

void resetConnection() {
    state() = Connection{};
    browserHooks() = BrowserHooks{};
}

tessarel::TsClient& clientObject() {
    if (!client())
        client() = tessarel::TsClient::create();
    return *client();
}

bool IsConnected() {
    return state().connected;
}

void showNotConnected() {
    platform::messageBox("Not connected",
                         "The path indicates that you should be connected.\nRepository not available",
                         platform::MessageIcon::Exclamation);
}

bool EnsureConnection(const QString& path) {
    if (!platform::isRepositoryPath(path) || IsConnected())
        return false;
    loginPresenter().showModal(frmLogin::instance());
    if (IsConnected())
        return false;
    showNotConnected();
    auto& browser = browserHooks();
    if (browser.isOpen && browser.isOpen() && browser.setPath)
        browser.setPath("C:\\");
    return true;
}

QString ReportOperationError(const QString& tag, const QString& description) {
    tessarel::TsParsedErrorPtr parsed;
    try {
        parsed = clientObject().parsedError(toLib(description));
    } catch (const std::exception&) {
        parsed = nullptr;
    }
    // The library and the engines name files by their host paths; the line names them as typed.
    const QString message = parsed ? platform::withLocalPaths(fromLib(parsed->getMessage()))
                                   : "Serious error:" + platform::withLocalPaths(description);
    oplog::LogFailure(tag, message);
    return message;
}

tessarel::TsSessionPtr TakeSession() {
    auto& c = state();
    if (!c.sessionManager)
        tessarel::fail(tessarel::code::NotConnected, "You are not connected to a repository");
    c.session = c.sessionManager->getSession(toLib(c.repositoryName));
    return c.session;
}

void HandBackSession() {
    auto& c = state();
    if (c.sessionManager && c.session)
        c.sessionManager->release(c.session);
}

SessionUse::~SessionUse() {
    try {
        HandBackSession();
    } catch (const std::exception&) {
        // Handing back a session that is already gone leaves nothing to release.
    }
}

void ReleaseSession() {
    auto& c = state();
    if (c.sessionManager && c.session)
        c.sessionManager->release(c.session);
    c.session.reset();
    c.sessionManager.reset();
    c.connected = false;
}

QString escapeTqlQuotes(const QString& text) {
    QString escaped = text;
    escaped.replace("'", "''");
    return escaped;
}

QString deckQueryForFolder(const QString& folderPath) {
    return "select r_object_id from ts_document where folder('" + escapeTqlQuotes(folderPath) +
           "',descend) and a_content_type='ppt8'";
}

BrowserHooks& browserHooks() {
    static BrowserHooks hooks;
    return hooks;
}

void installLoginPresenter(LoginPresenter* presenter) {
    g_presenter = presenter;
}

LoginPresenter& loginPresenter() {
    static ModalLoginPresenter modal;
    return g_presenter ? *g_presenter : modal;
}

} // namespace lf::repository
