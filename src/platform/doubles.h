#pragma once
// Test doubles of the platform services. Each one installs itself when made and restores the service
// it replaced when it dies, so a test only declares what it needs:
//     lf::platform::ScriptedMessageBoxes boxes;  boxes.answers = {MessageAnswer::Yes};
// Library lf_platform_doubles.
#include "platform/dialogs.h"
#include "platform/printers.h"
#include "platform/services.h"

#include <QStringList>

#include <deque>
#include <vector>

namespace lf::platform {

// Answers each box with the next scripted answer; when the script has run out, an OK box is answered
// OK and a Yes/No box No. Records every box shown.
class ScriptedMessageBoxes : public MessageBoxService {
public:
    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes() override;
    ScriptedMessageBoxes(const ScriptedMessageBoxes&) = delete;
    ScriptedMessageBoxes& operator=(const ScriptedMessageBoxes&) = delete;

    MessageAnswer show(const MessageRequest& request) override;

    std::deque<MessageAnswer> answers;
    std::vector<MessageRequest> shown;
    int unscripted = 0; // boxes answered after the script ran out

private:
    MessageBoxService* previous_;
};

// Records each pointer change; hourglass tells the current state.
class RecordingPointer : public PointerService {
public:
    RecordingPointer();
    ~RecordingPointer() override;
    RecordingPointer(const RecordingPointer&) = delete;
    RecordingPointer& operator=(const RecordingPointer&) = delete;

    void setHourglass(bool value) override {
        hourglass = value;
        changes.push_back(value);
    }

    bool hourglass = false;
    std::vector<bool> changes;

private:
    PointerService* previous_;
};

// Records each sleep and returns at once.
class RecordingSleeper : public Sleeper {
public:
    RecordingSleeper();
    ~RecordingSleeper() override;
    RecordingSleeper(const RecordingSleeper&) = delete;
    RecordingSleeper& operator=(const RecordingSleeper&) = delete;

    void sleep(int milliseconds) override { durations.push_back(milliseconds); }

    std::vector<int> durations;

private:
    Sleeper* previous_;
};

// Counts the yields; still lets queued events run when passThrough is true.
class RecordingEventYield : public EventYield {
public:
    RecordingEventYield();
    ~RecordingEventYield() override;
    RecordingEventYield(const RecordingEventYield&) = delete;
    RecordingEventYield& operator=(const RecordingEventYield&) = delete;

    void processEvents() override;

    int count = 0;
    bool passThrough = false;

private:
    EventYield* previous_;
};

// Records each start; runs nothing. result decides what start returns.
class RecordingProcessStarter : public ProcessStarter {
public:
    struct Call {
        QString program;
        QStringList arguments;
        QString workingFolder;
    };
    RecordingProcessStarter();
    ~RecordingProcessStarter() override;
    RecordingProcessStarter(const RecordingProcessStarter&) = delete;
    RecordingProcessStarter& operator=(const RecordingProcessStarter&) = delete;

    bool start(const QString& program, const QStringList& arguments, const QString& workingFolder,
               QString* error) override;

    std::vector<Call> calls;
    bool result = true;

private:
    ProcessStarter* previous_;
};

// A fixed list of printers.
class FixedPrinterCatalog : public PrinterCatalog {
public:
    explicit FixedPrinterCatalog(QStringList names = {});
    ~FixedPrinterCatalog() override;
    FixedPrinterCatalog(const FixedPrinterCatalog&) = delete;
    FixedPrinterCatalog& operator=(const FixedPrinterCatalog&) = delete;

    QStringList printerNames() override { return names; }

    QStringList names;

private:
    PrinterCatalog* previous_;
};

} // namespace lf::platform
