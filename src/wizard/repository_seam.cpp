#include "wizard/repository_seam.h"

#include "platform/dialogs.h"
#include "platform/paths.h"

namespace lf::wizard {

void showNotConnected() {
    platform::messageBox("Not connected",
                         "The path indicates that you should be connected.\nRepository not available",
                         platform::MessageIcon::Exclamation);
}

bool NoRepository::EnsureConnection(const QString& path) {
    if (!platform::isRepositoryPath(path))
        return false;
    showNotConnected();
    return true;
}

} // namespace lf::wizard
