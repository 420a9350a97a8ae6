#pragma once
// The office instances as processes: each is started in a process group of its own (so ending the
// group ends every helper it started too) and is told by the kernel to die with us (PR_SET_PDEATHSIG).
// The kernel sends that signal when the *thread* that forked the child ends, so every child is forked
// by the Launcher's own thread, which lives as long as the instances it started.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "platform/stop_request.h"

namespace lf::render {

// One child process, the leader of its process group. Only its owner waits for it; kill() may come
// from another thread (a watchdog) while the owner is waiting on the child's answer.
class ChildProcess {
public:
    ChildProcess() = default;
    explicit ChildProcess(pid_t pid) : pid_(pid) {}
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { end(std::chrono::milliseconds(0)); }

    pid_t pid() const { return pid_; }
    // Whether it has exited (reaped then, once); false while it runs or when there is none.
    bool exited();
    // How it ended ("exit code 81", "signal 9"), after exited().
    std::string exitDescription() const;
    int exitCode() const; // -1 unless it exited normally
    // Sends the signal to the whole process group; safe from any thread until the process is reaped.
    void kill(int signal) const;
    // Ends the group: waits up to `grace` for the process to exit by itself, then SIGKILLs the group
    // and reaps the process. True when it had exited by itself (or had been reaped already).
    bool end(std::chrono::milliseconds grace);
    // Ends the process held (as end(0)) and holds another.
    void assign(pid_t pid);

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

// Forks children from one thread of its own that stays alive until the Launcher goes.
class Launcher {
public:
    Launcher();
    ~Launcher(); // the children still running get SIGKILL from the kernel when its thread ends
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    // Starts argv[0] (a path) with the arguments and the environment (NAME=value each), in a new
    // process group, with no standard input and its output and errors appended to `log`, its address
    // space limited to `addressSpaceLimit` bytes (RLIMIT_AS; 0: no limit of ours). The pid, or -1
    // with errno in `error` when the program could not be started.
    pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                const std::filesystem::path& log, std::uint64_t addressSpaceLimit, int& error);

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

// Calls `expired` from a thread of its own when `limit` passes before the watchdog goes, and `tick`
// (when given) every `every` until then. With a stop request, a stop asked for meanwhile ends the
// wait as the limit would (looked at every `every`).
class Watchdog {
public:
    Watchdog(std::chrono::milliseconds limit, std::function<void()> expired, std::function<void()> tick = {},
             std::chrono::milliseconds every = std::chrono::milliseconds(100),
             const platform::StopRequest* stop = nullptr);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    // Whether the limit passed (read after the watched call returned).
    bool fired();

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    bool fired_ = false;
    std::thread thread_;
};

} // namespace lf::render
