#pragma once
// The program's own settings, per user: what the window remembers between sessions (its size, the
// operations last checked, the last folder of each Browse). They live in the user's configuration
// folder (XDG), never in the settings file the wizard shares with scripts and other programs.
#include <QSettings>

#include <memory>

namespace lf::platform {

// $XDG_CONFIG_HOME/Lessonforge/Lessonforge.ini (~/.config when unset), in INI form.
std::unique_ptr<QSettings> programSettings();

} // namespace lf::platform
