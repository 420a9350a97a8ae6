#pragma once
// What the wizard asks of the repository subsystem: the connection check of the confirmation page,
// the location browser behind the Browse buttons, and the releases when the wizard unloads. The
// repository subsystem derives from RepositorySeam and program.cpp installs its implementation;
// until then NoRepository stands in, with which no session can be had.
#include <QString>

class QLineEdit;

namespace lf::wizard {

class RepositorySeam {
public:
    virtual ~RepositorySeam() = default;

    // True when path holds "/" anywhere and no repository session can be had, after offering the
    // login window (and showing the "Not connected" box when the login did not connect). False in
    // every other case. The wizard treats true as a failed check of the field.
    virtual bool EnsureConnection(const QString& path) = 0;

    // Whether a repository session is open now; asks nothing and opens no window.
    virtual bool IsConnected() = 0;

    // A Browse button: the location browser fills targetBox with the chosen local or repository path;
    // forFile true selects a document (a template), false a folder. Shown without being modal.
    virtual void Browse(QLineEdit* targetBox, bool forFile) = 0;

    // The unload steps, in this order: unload the location browser and the login window, then release
    // the session and the session manager when they exist.
    virtual void unloadWindows() = 0;
    virtual void releaseSession() = 0;
};

// The stand-in until the repository can be reached: no login window, no session. A repository path
// fails the connection check with the "Not connected" box; Browse does nothing.
class NoRepository : public RepositorySeam {
public:
    bool EnsureConnection(const QString& path) override;
    bool IsConnected() override { return false; }
    void Browse(QLineEdit*, bool) override {}
    void unloadWindows() override {}
    void releaseSession() override {}
};

// The "Not connected" box that a failed connection check shows.
void showNotConnected();

} // namespace lf::wizard
