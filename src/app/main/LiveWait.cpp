#include "app/main/LiveWait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "app/main/UserInputHold.h"
#include "common/HandOff.h"

namespace {

struct Shared {
    std::mutex mutex;
    std::condition_variable reported;
    LiveWait::State state = LiveWait::State::Waiting;

    bool isReported()
    {
        std::lock_guard lock(mutex);
        return state == LiveWait::State::Reported;
    }
};

}  // namespace

bool LiveWait::turnsTheLoop()
{
    const QCoreApplication* application = QCoreApplication::instance();
    return application != nullptr && QThread::currentThread() == application->thread();
}

void LiveWait::run(const Start& start)
{
    auto shared = std::make_shared<Shared>();
    const bool live = turnsTheLoop();
    start([shared, live] {
        {
            std::lock_guard lock(shared->mutex);
            shared->state = State::Reported;
        }
        shared->reported.notify_all();
        // The loop may sleep in its wait for events: a posted call wakes it to see the report.
        if (live)
            if (QCoreApplication* application = QCoreApplication::instance())
                QMetaObject::invokeMethod(application, handoff::carried([] {}), Qt::QueuedConnection);
    });
    if (!live) {
        std::unique_lock lock(shared->mutex);
        shared->reported.wait(lock, [&] { return shared->state == State::Reported; });
        return;
    }
    if (shared->isReported()) return;
    const UserInputHold hold;
    // Events, not the loop's exec: a quit asked meanwhile (or the end of the program's loop, where the
    // end's save waits) must not cut the wait short.
    while (!shared->isReported()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}
