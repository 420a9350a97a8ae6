#pragma once
// The repository subsystem's side of the wizard's repository seam: the real connection check (with
// the login window), and the releases when the wizard unloads. The location browser is not part of
// it yet: Browse does nothing.
//
// Library lf_repository.
#include "wizard/repository_seam.h"

namespace lf::repository {

class RepositoryConnectionSeam : public wizard::RepositorySeam {
public:
    bool EnsureConnection(const QString& path) override;
    void Browse(QLineEdit*, bool) override {}
    // Unloads the login window and a progress window left open (the browser joins them when it is
    // built).
    void unloadWindows() override;
    // Hands the session back and releases the session and the session manager.
    void releaseSession() override;
};

} // namespace lf::repository
