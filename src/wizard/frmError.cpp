#include "wizard/frmError.h"

#include "platform/dialogs.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace lf::wizard {
namespace {

QPointer<frmError> theInstance;
bool errorDialogAnswer = false;

} // namespace

frmError& frmError::instance() {
    if (!theInstance)
        theInstance = new frmError;
    return *theInstance;
}

bool frmError::isLoaded() {
    return !theInstance.isNull();
}

bool frmError::answer() {
    return errorDialogAnswer;
}

frmError::frmError(QWidget* parent) : QDialog(parent) {
    setObjectName("frmError");
    setWindowTitle("Errors Encountered");
    lstErrors = new QListWidget(this);
    lstErrors->setObjectName("lstErrors");
    cmdContinue = new QPushButton("&Continue", this);
    cmdContinue->setObjectName("cmdContinue");
    cmdCancel = new QPushButton("Cance&l", this);
    cmdCancel->setObjectName("cmdCancel");
    // The list takes the room; the buttons stay at the foot on the right, whatever the font.
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdContinue);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lstErrors, 1);
    layout->addLayout(buttons);
    resize(480, 300);
    cmdContinue->setAutoDefault(false);
    cmdCancel->setAutoDefault(false);

    connect(cmdContinue, &QPushButton::clicked, this, &frmError::cmdContinue_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmError::cmdCancel_Click);
    connect(lstErrors, &QListWidget::currentRowChanged, this, &frmError::lstErrors_Click);
    lstErrors->viewport()->installEventFilter(this);
}

void frmError::addError(const QString& message) {
    lstErrors->addItem(message);
}

QStringList frmError::errorLines() const {
    QStringList lines;
    for (int i = 0; i < lstErrors->count(); ++i)
        lines.append(lstErrors->item(i)->text());
    return lines;
}

void frmError::unload() {
    if (isVisible())
        done(QDialog::Rejected);
    lstErrors->clear();
    lstErrors->setToolTip(QString());
}

void frmError::cmdContinue_Click() {
    errorDialogAnswer = true;
    unload();
}

void frmError::cmdCancel_Click() {
    errorDialogAnswer = false;
    unload();
}

void frmError::lstErrors_Click() {
    const QListWidgetItem* item = lstErrors->currentItem();
    lstErrors->setToolTip(item ? item->text() : QString());
}

void frmError::lstErrors_DblClick() {
    const QListWidgetItem* item = lstErrors->currentItem();
    platform::messageBox("Error", item ? item->text() : QString(), platform::MessageIcon::Information);
}

void frmError::closeEvent(QCloseEvent* event) {
    // Closed by its close box: no answer is set, and the list goes as with the buttons.
    lstErrors->clear();
    QDialog::closeEvent(event);
}

void frmError::reject() {
    lstErrors->clear();
    QDialog::reject();
}

bool frmError::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lstErrors->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        lstErrors_DblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool ShowErrorDialog() {
    frmError& dialog = frmError::instance();
    dialog.exec();
    return frmError::answer();
}

} // namespace lf::wizard
