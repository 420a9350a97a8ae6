#pragma once
// The small program-wide services of the host that need no window: timed sleeps, yielding to the
// event loop, starting a process. Each is an interface with a default that really does it; a test
// installs a double (platform/doubles.h) for as long as it lives. install*(nullptr) restores the
// default. Everything runs on the user-interface thread.
#include <QString>
#include <QStringList>

namespace lf::platform {

class Sleeper {
public:
    virtual ~Sleeper() = default;
    // Waits the given time; the default keeps the windows painting while it waits.
    virtual void sleep(int milliseconds) = 0;
};

class EventYield {
public:
    virtual ~EventYield() = default;
    // Lets pending window events run (DoEvents).
    virtual void processEvents() = 0;
};

class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;
    // Starts program with its arguments in workingFolder (a host folder; empty: the current one)
    // and returns at once. False, with the reason in *error, when it cannot be started.
    virtual bool start(const QString& program, const QStringList& arguments, const QString& workingFolder,
                       QString* error) = 0;
};

Sleeper& sleeper();
void installSleeper(Sleeper* service);
EventYield& eventYield();
void installEventYield(EventYield* service);
ProcessStarter& processStarter();
void installProcessStarter(ProcessStarter* service);

// The calls the operations make.
inline void sleepFor(int milliseconds) {
    sleeper().sleep(milliseconds);
}
inline void yieldToEventLoop() {
    eventYield().processEvents();
}
inline bool startProcess(const QString& program, const QStringList& arguments,
                         const QString& workingFolder = QString(), QString* error = nullptr) {
    return processStarter().start(program, arguments, workingFolder, error);
}

} // namespace lf::platform
