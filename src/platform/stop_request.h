#pragma once
// A person's or a script's request that a run stop: the Stop button, closing the window during a run,
// Cancel in the errors dialog, SIGINT/SIGTERM to the command-line runner. Whoever starts a run owns one
// and hands it to the run; the operations look at it between files. Setting it is a single lock-free
// store, so a signal handler may set it.
#include <atomic>

namespace lf::platform {

class StopRequest {
public:
    void request() noexcept { requested_.store(true, std::memory_order_relaxed); }
    bool requested() const noexcept { return requested_.load(std::memory_order_relaxed); }
    void reset() noexcept { requested_.store(false, std::memory_order_relaxed); }

private:
    std::atomic<bool> requested_{false};
    static_assert(std::atomic<bool>::is_always_lock_free);
};

} // namespace lf::platform
