#pragma once

// A scheduler whose clock only moves when the test says so.

#include "platform/Scheduler.h"

#include <algorithm>
#include <vector>

class FakeScheduler final : public Scheduler {
public:
    void schedule(std::chrono::milliseconds delay, std::function<void()> task) override {
        m_tasks.push_back({m_now + delay, m_sequence++, std::move(task)});
    }
    Clock::time_point now() const override { return m_now; }

    // Moves the clock forward, running every task that falls due, in due order.
    void advance(std::chrono::milliseconds by) {
        const Clock::time_point until = m_now + by;
        while (true) {
            auto next = std::min_element(m_tasks.begin(), m_tasks.end(), [](auto& a, auto& b) {
                return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
            });
            if (next == m_tasks.end() || next->due > until)
                break;
            m_now = std::max(m_now, next->due);
            auto task = std::move(next->task);
            m_tasks.erase(next);
            task();
        }
        m_now = until;
    }
    // Runs what is due now (zero-delay tasks), as the event loop would.
    void runDue() { advance(std::chrono::milliseconds(0)); }
    std::size_t pendingCount() const { return m_tasks.size(); }

private:
    struct Task {
        Clock::time_point due;
        std::uint64_t sequence;
        std::function<void()> task;
    };
    Clock::time_point m_now{};
    std::uint64_t m_sequence = 0;
    std::vector<Task> m_tasks;
};
