// The program: the wizard window, with the parts of the program as built.
#include "wizard/frmWizard.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    lf::wizard::frmWizard wizard;
    wizard.show();
    return app.exec();
}
