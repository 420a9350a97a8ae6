#pragma once
// Where the program keeps its configuration (the stand-in for the Windows directory, where
// Syllabo.ini, drives.ini and tessarel.ini live) and its data (drive_c, repositories).
#include <QString>

namespace lf::platform {

// $XDG_CONFIG_HOME/lessonforge (default ~/.config/lessonforge). Created on first use.
QString configFolder();
// $XDG_DATA_HOME/lessonforge (default ~/.local/share/lessonforge). Created on first use.
QString dataFolder();

} // namespace lf::platform
