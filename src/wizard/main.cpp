// The program: the wizard window, with the parts of the program as built.
#include "wizard/frmWizard.h"
#include "wizard/program.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    lf::wizard::frmWizard wizard(lf::wizard::programParts());
    wizard.show();
    return app.exec();
}
