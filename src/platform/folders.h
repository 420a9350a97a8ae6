#pragma once
// Where the program keeps its configuration (the stand-in for the Windows directory, where
// Syllabo.ini, drives.ini and tessarel.ini live) and its data (drive_c, repositories).
#include <QString>

namespace lf::platform {

// $XDG_CONFIG_HOME/lessonforge (default ~/.config/lessonforge). Created on first use.
QString configFolder();
// $XDG_DATA_HOME/lessonforge (default ~/.local/share/lessonforge). Created on first use.
QString dataFolder();
// The host folder of the templates the program ships: share/lessonforge/templates beside the
// installed program (../share from its bin folder), else the one in the build tree the program was
// built in. Empty when neither holds them.
QString shippedTemplatesFolder();

} // namespace lf::platform
