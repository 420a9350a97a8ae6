#include "platform/folders.h"

#include <QDir>

namespace lf::platform {
namespace {

QString xdgFolder(const char* variable, const QString& fallbackUnderHome) {
    QString base = qEnvironmentVariable(variable);
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + "/" + fallbackUnderHome;
    const QString folder = base + "/lessonforge";
    QDir().mkpath(folder);
    return folder;
}

} // namespace

QString configFolder() {
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}
QString dataFolder() {
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}

} // namespace lf::platform
