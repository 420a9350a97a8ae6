#include "platform/services.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QThread>
#include <QTimer>

namespace lf::platform {
namespace {

class RealSleeper : public Sleeper {
public:
    void sleep(int milliseconds) override {
        if (milliseconds <= 0)
            return;
        if (!QCoreApplication::instance()) {
            QThread::msleep(static_cast<unsigned long>(milliseconds));
            return;
        }
        // A local event loop keeps the windows painting; input is held back so the user cannot
        // start something else in the middle of an operation's pause.
        QEventLoop loop;
        QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
};

class RealEventYield : public EventYield {
public:
    void processEvents() override {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
    }
};

class RealProcessStarter : public ProcessStarter {
public:
    bool start(const QString& program, const QStringList& arguments, const QString& workingFolder,
               QString* error) override {
        QProcess process;
        process.setProgram(program);
        process.setArguments(arguments);
        if (!workingFolder.isEmpty())
            process.setWorkingDirectory(workingFolder);
        process.setStandardInputFile(QProcess::nullDevice());
        if (process.startDetached())
            return true;
        if (error)
            *error = "Cannot start " + program;
        return false;
    }
};

RealSleeper realSleeper;
RealEventYield realEventYield;
RealProcessStarter realProcessStarter;
Sleeper* currentSleeper = nullptr;
EventYield* currentEventYield = nullptr;
ProcessStarter* currentProcessStarter = nullptr;

} // namespace

Sleeper& sleeper() {
    return currentSleeper ? *currentSleeper : realSleeper;
}
void installSleeper(Sleeper* service) {
    currentSleeper = service;
}
EventYield& eventYield() {
    return currentEventYield ? *currentEventYield : realEventYield;
}
void installEventYield(EventYield* service) {
    currentEventYield = service;
}
ProcessStarter& processStarter() {
    return currentProcessStarter ? *currentProcessStarter : realProcessStarter;
}
void installProcessStarter(ProcessStarter* service) {
    currentProcessStarter = service;
}

} // namespace lf::platform
