#pragma once
// The wizard's repository seam as the program plugs it in: the repository subsystem's connection
// check (with the login window), the location browser behind the Browse buttons, and its releases
// when the wizard unloads.
//
// Library lf_program.
#include "wizard/repository_seam.h"

namespace lf::wizard {

class RepositoryConnectionSeam : public RepositorySeam {
public:
    bool EnsureConnection(const QString& path) override;
    bool IsConnected() override;
    void Browse(QLineEdit* targetBox, bool forFile) override;
    // Unloads the location browser, the login window and a progress window left open.
    void unloadWindows() override;
    // Hands the session back and releases the session and the session manager.
    void releaseSession() override;
};

} // namespace lf::wizard
