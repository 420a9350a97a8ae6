#include "platform/folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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

QString shippedTemplatesFolder() {
    const QString installed = QCoreApplication::applicationDirPath() + "/../share/lessonforge/templates";
    for (const QString& folder : {installed, QStringLiteral(LF_BUILD_TEMPLATES_DIR)})
        if (QFileInfo(folder).isDir())
            return QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    return QString();
}

} // namespace lf::platform
