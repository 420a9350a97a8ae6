#pragma once
// The window-side services: message boxes and the mouse pointer. Like services.h, each is an
// interface with a default that really does it (a QMessageBox, the application's override cursor) and
// a double in platform/doubles.h; install*(nullptr) restores the default.
#include <QString>

namespace lf::platform {

enum class MessageIcon { None, Critical, Question, Exclamation, Information };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

struct MessageRequest {
    QString title;
    QString text; // lines separated by "\n"
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    bool foreground = false; // raise the box above every other window
};

class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    // Shows the box modally and returns the button pressed (closing an OK box counts as OK, closing
    // a Yes/No box as No).
    virtual MessageAnswer show(const MessageRequest& request) = 0;
};

MessageBoxService& messageBoxes();
void installMessageBoxes(MessageBoxService* service);

inline MessageAnswer messageBox(const QString& title, const QString& text, MessageIcon icon,
                                MessageButtons buttons = MessageButtons::Ok, bool foreground = false) {
    return messageBoxes().show({title, text, icon, buttons, foreground});
}

class PointerService {
public:
    virtual ~PointerService() = default;
    // The hourglass (true) or the default pointer (false). Not nested: one call to the default
    // pointer undoes any number of hourglass calls, as the screen's mouse pointer property does.
    virtual void setHourglass(bool hourglass) = 0;
};

PointerService& pointer();
void installPointer(PointerService* service);

inline void showHourglass() {
    pointer().setHourglass(true);
}
inline void showDefaultPointer() {
    pointer().setHourglass(false);
}

} // namespace lf::platform
