#include "office/render/child_process.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lf::render {

bool ChildProcess::exited() {
    if (pid_ <= 0) {
        return false;
    }
    if (reaped_) {
        return true;
    }
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == pid_ || (r < 0 && errno == ECHILD)) {
        reaped_ = true;
        status_ = r == pid_ ? status : 0;
    }
    return reaped_;
}

std::string ChildProcess::exitDescription() const {
    if (!reaped_) {
        return "still running";
    }
    if (WIFSIGNALED(status_)) {
        return "signal " + std::to_string(WTERMSIG(status_));
    }
    return "exit code " + std::to_string(WEXITSTATUS(status_));
}

int ChildProcess::exitCode() const {
    return reaped_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

void ChildProcess::kill(int signal) const {
    if (pid_ > 0 && !reaped_) {
        ::kill(-pid_, signal);
    }
}

bool ChildProcess::end(std::chrono::milliseconds grace) {
    if (pid_ <= 0 || reaped_) {
        return true;
    }
    const auto until = std::chrono::steady_clock::now() + grace;
    while (!exited() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Helpers of the group may outlive its leader: the group goes in every case.
    ::kill(-pid_, SIGKILL);
    if (reaped_) {
        return true;
    }
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, 0);
    } while (r < 0 && errno == EINTR);
    reaped_ = true;
    status_ = r == pid_ ? status : 0;
    return false;
}

void ChildProcess::assign(pid_t pid) {
    end(std::chrono::milliseconds(0));
    pid_ = pid;
    reaped_ = false;
    status_ = 0;
}

Launcher::Launcher() : thread_([this] { run(); }) {}

Launcher::~Launcher() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void Launcher::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) {
            return;
        }
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}

pid_t Launcher::spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                      const std::filesystem::path& log, std::uint64_t addressSpaceLimit, int& error) {
    // Everything the child needs is made before the fork: between fork and exec it may only make
    // async-signal-safe calls.
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const std::string& e : environment) {
        env.push_back(const_cast<char*>(e.c_str()));
    }
    env.push_back(nullptr);
    const int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (logFd < 0 || nullFd < 0) {
        error = errno;
        if (logFd >= 0) {
            ::close(logFd);
        }
        if (nullFd >= 0) {
            ::close(nullFd);
        }
        return -1;
    }
    // An exec that fails reports its errno through this pipe; one that succeeds closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        error = errno;
        ::close(logFd);
        ::close(nullFd);
        return -1;
    }

    std::promise<pid_t> started;
    std::future<pid_t> pid = started.get_future();
    const pid_t parent = ::getpid();
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back([&] {
            const pid_t child = ::fork();
            if (child == 0) {
                ::setpgid(0, 0);
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (::getppid() != parent) { // the parent died before the line above
                    ::_exit(127);
                }
                if (addressSpaceLimit > 0) {
                    const rlimit limit{addressSpaceLimit, addressSpaceLimit};
                    if (::setrlimit(RLIMIT_AS, &limit) != 0) {
                        const int e = errno;
                        [[maybe_unused]] ssize_t w = ::write(report[1], &e, sizeof e);
                        ::_exit(127);
                    }
                }
                ::dup2(nullFd, STDIN_FILENO);
                ::dup2(logFd, STDOUT_FILENO);
                ::dup2(logFd, STDERR_FILENO);
                // Nothing else of ours (sockets, pipes, files) is handed on.
                ::syscall(SYS_close_range, 3U, static_cast<unsigned>(report[1]) - 1, 0U);
                ::syscall(SYS_close_range, static_cast<unsigned>(report[1]) + 1, UINT_MAX, 0U);
                ::execve(args[0], args.data(), env.data());
                const int e = errno;
                [[maybe_unused]] ssize_t w = ::write(report[1], &e, sizeof e);
                ::_exit(127);
            }
            if (child > 0) {
                ::setpgid(child, child); // also here, so the group exists before anyone signals it
            }
            started.set_value(child < 0 ? -errno : child);
        });
    }
    wake_.notify_all();
    pid_t result = pid.get();
    ::close(report[1]);
    ::close(logFd);
    ::close(nullFd);
    if (result < 0) {
        error = -result;
        ::close(report[0]);
        return -1;
    }
    int execError = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &execError, sizeof execError);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    if (n == static_cast<ssize_t>(sizeof execError)) {
        ChildProcess failed(result); // reaps it
        error = execError;
        return -1;
    }
    return result;
}

Watchdog::Watchdog(std::chrono::milliseconds limit, std::function<void()> expired, std::function<void()> tick,
                   std::chrono::milliseconds every, const platform::StopRequest* stop)
    : thread_([this, limit, expired = std::move(expired), tick = std::move(tick), every, stop] {
          const auto until = std::chrono::steady_clock::now() + limit;
          std::unique_lock lock(mutex_);
          for (;;) {
              const auto now = std::chrono::steady_clock::now();
              if (now >= until || (stop && stop->requested())) {
                  fired_ = true;
                  lock.unlock();
                  expired();
                  return;
              }
              const auto wait = tick || stop
                                    ? std::min<std::chrono::steady_clock::duration>(until - now, every)
                                    : until - now;
              if (done_.wait_for(lock, wait, [this] { return finished_; })) {
                  return;
              }
              if (tick) {
                  lock.unlock();
                  tick();
                  lock.lock();
              }
          }
      }) {}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    done_.notify_all();
    thread_.join();
}

bool Watchdog::fired() {
    std::lock_guard lock(mutex_);
    return fired_;
}

} // namespace lf::render
