#include "platform/dialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace lf::platform {
namespace {

class RealMessageBoxes : public MessageBoxService {
public:
    MessageAnswer show(const MessageRequest& request) override {
        QMessageBox box;
        box.setWindowTitle(request.title);
        box.setText(request.text);
        switch (request.icon) {
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MessageIcon::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case MessageIcon::Exclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        }
        if (request.buttons == MessageButtons::YesNo) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            box.setEscapeButton(QMessageBox::No);
        } else {
            box.setStandardButtons(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Ok);
        }
        if (request.foreground)
            box.setWindowFlag(Qt::WindowStaysOnTopHint);
        // A box must be answerable even while an operation shows the hourglass.
        const bool busy = QApplication::overrideCursor() != nullptr;
        if (busy)
            QApplication::setOverrideCursor(Qt::ArrowCursor);
        const int pressed = box.exec();
        if (busy)
            QApplication::restoreOverrideCursor();
        if (request.buttons == MessageButtons::YesNo)
            return pressed == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
        return MessageAnswer::Ok;
    }
};

class RealPointer : public PointerService {
public:
    void setHourglass(bool hourglass) override {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
            return;
        if (hourglass) {
            if (!QApplication::overrideCursor())
                QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            while (QApplication::overrideCursor())
                QApplication::restoreOverrideCursor();
        }
    }
};

RealMessageBoxes realMessageBoxes;
RealPointer realPointer;
MessageBoxService* currentMessageBoxes = nullptr;
PointerService* currentPointer = nullptr;

} // namespace

MessageBoxService& messageBoxes() {
    return currentMessageBoxes ? *currentMessageBoxes : realMessageBoxes;
}
void installMessageBoxes(MessageBoxService* service) {
    currentMessageBoxes = service;
}
PointerService& pointer() {
    return currentPointer ? *currentPointer : realPointer;
}
void installPointer(PointerService* service) {
    currentPointer = service;
}

} // namespace lf::platform
