#pragma once
// The program-wide repository connection: the client object, the local client and its repository
// list, the session manager, the login information, the repository name, the session and the
// connected flag. One session is owned from a successful login until the wizard closes; operations
// take it again from the session manager before each use and hand it back afterwards.
//
// Library lf_repository.
#include "tessarel/tessarel.h"

#include <QString>

#include <functional>
#include <memory>

namespace lf::repository {

struct Connection {
    tessarel::TsLocalClientPtr localClient;
    std::shared_ptr<tessarel::TsRepositoryList> repositoryList;
    tessarel::TsSessionManagerPtr sessionManager;
    tessarel::TsLoginInfoPtr loginInfo;
    QString repositoryName;
    tessarel::TsSessionPtr session;
    bool connected = false;
};

// The program-wide state (data model of the login). Tests reset it with resetConnection.
Connection& connection();
void resetConnection();

// The client object, created on first use.
tessarel::TsClient& clientObject();

bool IsConnected();

// The "Not connected" box of a failed connection check.
void showNotConnected();

// When path holds "/" and the program is not connected, shows the login window modally; when the
// login did not connect, shows the "Not connected" box (and points an open browser at "C:\") and
// returns true. False in every other case.
bool EnsureConnection(const QString& path);

// Logs the parsed error's message under tag, or "Serious error:" + description when the client
// cannot parse it; never as an error. Returns the line logged (without the tag).
QString ReportOperationError(const QString& tag, const QString& description);

// An operation's use of the session: gets it again from the session manager for the repository name
// (and keeps it as the session), then hands it back. Both throw TsException when there is no
// session manager or the session cannot be had.
tessarel::TsSessionPtr TakeSession();
void HandBackSession();

// One step's use of the session: taken from the session manager when made, handed back when it goes,
// whichever way the step ends (a session already gone leaves nothing to hand back).
class SessionUse {
public:
    SessionUse() : session_(TakeSession()) {}
    ~SessionUse();
    SessionUse(const SessionUse&) = delete;
    SessionUse& operator=(const SessionUse&) = delete;
    tessarel::TsSession& session() { return *session_; }

private:
    tessarel::TsSessionPtr session_;
};

// The wizard's unload: hands the session back and releases the session and the session manager.
void ReleaseSession();

// A text placed inside a quoted TQL string literal: every ' becomes '', so a path or id typed by
// the user never changes the meaning of the query.
QString escapeTqlQuotes(const QString& text);

// The grayscale check-out query: every deck of a repository folder and all its subfolders.
QString deckQueryForFolder(const QString& folderPath);

// What the login and the connection check tell the location browser. The browser fills these in
// when it is built; until then they do nothing.
struct BrowserHooks {
    std::function<bool()> isOpen;                // the browser-open flag
    std::function<void(const QString&)> setPath; // the browser's current path
    std::function<void()> repositoryStart;       // a login while the browser is open
    bool repositoryMode = false;                 // set by a successful login
    QString pathSeparator = "\\";                // "/" after a successful login
};
BrowserHooks& browserHooks();

// How the login window is shown modally. The default runs its dialog loop; a test installs a
// presenter that types into the real window and presses its buttons. nullptr restores the default.
class frmLogin;
class LoginPresenter {
public:
    virtual ~LoginPresenter() = default;
    virtual void showModal(frmLogin& dialog) = 0;
};
void installLoginPresenter(LoginPresenter* presenter);
LoginPresenter& loginPresenter();

// QString and the library's texts.
inline std::string toLib(const QString& text) {
    return text.toStdString();
}
inline QString fromLib(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace lf::repository
