#include "repository/seam.h"

#include "repository/connection.h"
#include "repository/frmLogin.h"

namespace lf::repository {

bool RepositoryConnectionSeam::EnsureConnection(const QString& path) {
    return repository::EnsureConnection(path);
}

void RepositoryConnectionSeam::unloadWindows() {
    frmLogin::unloadInstance();
}

void RepositoryConnectionSeam::releaseSession() {
    ReleaseSession();
}

} // namespace lf::repository
