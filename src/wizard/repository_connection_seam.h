#pragma once
// The wizard's repository seam as the program plugs it in: the repository subsystem's connection
// check (with the login window), and its releases when the wizard unloads. The location browser is
// not part of it yet: Browse does nothing.
//
// Library lf_program.
#include "wizard/repository_seam.h"

namespace lf::wizard {

class RepositoryConnectionSeam : public RepositorySeam {
public:
    bool EnsureConnection(const QString& path) override;
    void Browse(QLineEdit*, bool) override {}
    // Unloads the login window and a progress window left open (the browser joins them when it is
    // built).
    void unloadWindows() override;
    // Hands the session back and releases the session and the session manager.
    void releaseSession() override;
};

} // namespace lf::wizard
