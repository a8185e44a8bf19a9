#include "platform/Scheduler.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

class QtScheduler final : public Scheduler {
public:
    void schedule(std::chrono::milliseconds delay, std::function<void()> task) override {
        // The application object as context: the task runs on its (the main) thread.
        QTimer::singleShot(delay, Qt::PreciseTimer, QCoreApplication::instance(), std::move(task));
    }
    Clock::time_point now() const override { return Clock::now(); }
};

} // namespace

Scheduler& Scheduler::main() {
    static QtScheduler scheduler;
    return scheduler;
}
