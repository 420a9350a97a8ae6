#pragma once
// A person's or a script's request that a run stop: the Stop button, closing the window during a run,
// Cancel in the errors dialog, SIGINT/SIGTERM to the command-line runner. Whoever starts a run owns one
// and hands it to the run; the operations look at it between files. Setting it is a single lock-free
// store, so a signal handler may set it.
#include <atomic>
#include <stdexcept>

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

// The one line a stopped run logs, under the tag of the operation it stopped.
inline constexpr const char* kStoppedByUser = "Stopped by the user";

// Thrown between files once a stop is requested, and when the person cancels in the errors dialog:
// the operation ends the way a failure does, its failure line being what() says.
class Stopped : public std::runtime_error {
public:
    Stopped() : std::runtime_error(kStoppedByUser) {}
};

} // namespace lf::platform
