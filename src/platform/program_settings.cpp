#include "platform/program_settings.h"

namespace lf::platform {

std::unique_ptr<QSettings> programSettings() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "Lessonforge",
                                       "Lessonforge");
}

} // namespace lf::platform
