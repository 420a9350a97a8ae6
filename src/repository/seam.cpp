#include "repository/seam.h"

#include "repository/connection.h"
#include "repository/frmLogin.h"
#include "repository/monitor.h"

namespace lf::repository {

bool RepositoryConnectionSeam::EnsureConnection(const QString& path) {
    return repository::EnsureConnection(path);
}

void RepositoryConnectionSeam::unloadWindows() {
    frmLogin::unloadInstance();
    frmProgress::unloadInstance(); // left open by a cancelled check-out or check-in
}

void RepositoryConnectionSeam::releaseSession() {
    ReleaseSession();
}

} // namespace lf::repository
