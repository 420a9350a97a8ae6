// The program: the wizard window, with the parts of the program as built.
#include "wizard/frmWizard.h"
#include "wizard/program.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstring>

namespace {

const char* const kUsage =
    "usage: lessonforge [--help]\n"
    "Opens the Lessonforge wizard: the course operations on a folder of decks and documents, page by\n"
    "page. The wizard has no options of its own; the standard options of Qt programs are taken (for\n"
    "example -platform NAME, -display DISPLAY).\n"
    "  --help, -h   print this text and exit\n"
    "Settings: $XDG_CONFIG_HOME/lessonforge (Syllabo.ini, drives.ini, tessarel.ini); data (the drive C:\n"
    "folder, repositories): $XDG_DATA_HOME/lessonforge.\n";

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    QApplication app(argc, argv);
    // The desktop entry and icon the program is installed with, for the window's icon and for the
    // desktops (Wayland among them) that match a window to its entry by this name.
    QGuiApplication::setDesktopFileName("lessonforge");
    QApplication::setWindowIcon(lf::wizard::ProgramIcon());
    lf::wizard::frmWizard wizard(lf::wizard::programParts());
    wizard.show();
    return app.exec();
}
