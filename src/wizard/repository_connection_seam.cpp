#include "wizard/repository_connection_seam.h"

#include "repository/connection.h"
#include "repository/frmBrowser.h"
#include "repository/frmLogin.h"
#include "repository/monitor.h"

namespace lf::wizard {

bool RepositoryConnectionSeam::EnsureConnection(const QString& path) {
    return repository::EnsureConnection(path);
}

bool RepositoryConnectionSeam::IsConnected() {
    return repository::IsConnected();
}

void RepositoryConnectionSeam::Browse(QLineEdit* targetBox, bool forFile) {
    repository::Browse(targetBox, forFile);
}

void RepositoryConnectionSeam::unloadWindows() {
    repository::frmBrowser::unloadInstance();
    repository::frmLogin::unloadInstance();
    repository::frmProgress::unloadInstance(); // left open by a cancelled check-out or check-in
}

void RepositoryConnectionSeam::releaseSession() {
    repository::ReleaseSession();
}

} // namespace lf::wizard
