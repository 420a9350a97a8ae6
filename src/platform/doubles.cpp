#include "platform/doubles.h"

#include <QCoreApplication>

namespace lf::platform {

ScriptedMessageBoxes::ScriptedMessageBoxes() : previous_(&messageBoxes()) {
    installMessageBoxes(this);
}
ScriptedMessageBoxes::~ScriptedMessageBoxes() {
    installMessageBoxes(previous_);
}

MessageAnswer ScriptedMessageBoxes::show(const MessageRequest& request) {
    shown.push_back(request);
    if (!answers.empty()) {
        const MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    ++unscripted;
    return request.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

RecordingPointer::RecordingPointer() : previous_(&pointer()) {
    installPointer(this);
}
RecordingPointer::~RecordingPointer() {
    installPointer(previous_);
}

RecordingSleeper::RecordingSleeper() : previous_(&sleeper()) {
    installSleeper(this);
}
RecordingSleeper::~RecordingSleeper() {
    installSleeper(previous_);
}

RecordingEventYield::RecordingEventYield() : previous_(&eventYield()) {
    installEventYield(this);
}
RecordingEventYield::~RecordingEventYield() {
    installEventYield(previous_);
}
void RecordingEventYield::processEvents() {
    ++count;
    if (passThrough && QCoreApplication::instance())
        QCoreApplication::processEvents();
}

RecordingProcessStarter::RecordingProcessStarter() : previous_(&processStarter()) {
    installProcessStarter(this);
}
RecordingProcessStarter::~RecordingProcessStarter() {
    installProcessStarter(previous_);
}
bool RecordingProcessStarter::start(const QString& program, const QStringList& arguments,
                                    const QString& workingFolder, QString* error) {
    calls.push_back({program, arguments, workingFolder});
    if (!result && error)
        *error = "Cannot start " + program;
    return result;
}

FixedPrinterCatalog::FixedPrinterCatalog(QStringList printerNames)
    : names(std::move(printerNames)), previous_(&printerCatalog()) {
    installPrinterCatalog(this);
}
FixedPrinterCatalog::~FixedPrinterCatalog() {
    installPrinterCatalog(previous_);
}

} // namespace lf::platform
