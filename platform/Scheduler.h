#pragma once

// Tasks on the main thread after a delay on the monotonic clock, and that clock.
// Models take a Scheduler so that tests can run time by hand.

#include <chrono>
#include <functional>

class Scheduler {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~Scheduler() = default;

    // Runs `task` on the main thread once `delay` has passed; a zero delay still runs it
    // later, from the event loop, never inside this call.
    virtual void schedule(std::chrono::milliseconds delay, std::function<void()> task) = 0;
    virtual Clock::time_point now() const = 0;

    // The Qt event loop's scheduler (precise timers).
    static Scheduler& main();
};
