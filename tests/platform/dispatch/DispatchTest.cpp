#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/OperationQueue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/TimerService.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

struct DispatchFixture : ::testing::Test { FakeClock clock; RunLoop loop{clock}; Dispatch dispatch{loop}; };
struct TimerFixture : ::testing::Test { FakeClock clock; RunLoop loop{clock}; TimerService timers{loop}; int fired = 0; };

// Counts the tasks that run and whether two ever ran at once.
struct OneAtATime {
    std::atomic<int> active{0}, done{0};
    std::atomic<bool> overlapped{false};
    template <typename Work>
    void run(Work&& work)
    {
        if (active.fetch_add(1) != 0) overlapped = true;
        work();
        active.fetch_sub(1);
        ++done;
    }
};

}  // namespace

TEST_F(DispatchFixture, SerialQueueKeepsSubmissionOrderAcrossThreads)
{
    auto queue = dispatch.makeSerial("order", Priority::Low);
    std::mutex mutex;
    std::vector<int> seen, expected;
    OneAtATime tasks;
    for (int i = 0; i < 2000; ++i) {
        expected.push_back(i);
        queue->async([&, i] { tasks.run([&] { std::lock_guard lock(mutex); seen.push_back(i); }); });
    }
    queue->sync([] {});
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(tasks.overlapped);
}

TEST_F(DispatchFixture, SyncOnOwnSerialQueueRunsInlineInsteadOfDeadlocking)
{
    auto queue = dispatch.makeSerial("self");
    bool inner = false;
    queue->sync([&] {
        EXPECT_TRUE(queue->isCurrent());
        queue->sync([&] { inner = true; });
    });
    EXPECT_TRUE(inner);
    EXPECT_FALSE(queue->isCurrent());
}

// Delayed work waits for the clock; pool work falling due after its dispatch is gone is dropped.
TEST_F(DispatchFixture, DelayedWorkWaitsForTheClock)
{
    std::atomic<int> fired{0};
    Dispatch(loop).global(Priority::Low).after(1s, [&] { fired += 100; });
    dispatch.main().after(5s, [&] { ++fired; });
    auto queue = dispatch.makeSerial("late");
    queue->after(10s, [&] { ++fired; });
    loop.advance(4s);
    EXPECT_EQ(fired, 0);
    loop.advance(1s);
    EXPECT_EQ(fired, 1);
    loop.advance(5s);
    EXPECT_TRUE(loop.runUntil([&] { return fired == 2; }));
}

TEST_F(DispatchFixture, OperationQueueRunsOneAtATimeWaitsForAllAndMayBeReleasedByItsOperation)
{
    OperationQueue operations(dispatch.makeSerial("ops", Priority::Default));
    OneAtATime tasks;
    for (int i = 0; i < 50; ++i) operations.addOperation([&] { tasks.run([] { std::this_thread::sleep_for(100us); }); });
    operations.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(tasks.done, 50);
    EXPECT_EQ(operations.operationCount(), 0u);
    EXPECT_FALSE(tasks.overlapped);
    // An operation may release its own queue: once the serial queue runs this, it has stopped touching it.
    auto serial = dispatch.makeSerial("ops", Priority::Default);
    auto owned = std::make_unique<OperationQueue>(serial);
    std::atomic<bool> released{false};
    owned->addOperation([&] { owned.reset(), released = true; });
    serial->sync([] {});
    EXPECT_TRUE(released);
}

// Main-queue work from the background runs on the loop thread; a group notifies once everything left.
TEST_F(DispatchFixture, MainQueueWorkFromBackgroundRunsOnTheLoopThreadAndAGroupNotifiesOnceEverythingLeft)
{
    std::atomic<bool> ranOnMain{false};
    dispatch.global(Priority::Default).async([&] { dispatch.main().async([&] { ranOnMain = dispatch.main().isCurrent(); }); });
    EXPECT_TRUE(loop.runUntil([&] { return ranOnMain.load(); }));
    DispatchGroup group;
    std::atomic<int> work{0};
    std::atomic<bool> notified{false};
    for (int i = 0; i < 8; ++i) {
        group.enter();
        dispatch.global(Priority::Background).async([&] { ++work, group.leave(); });
    }
    group.notify(dispatch.main(), [&] { notified = (work == 8); });
    EXPECT_TRUE(group.wait(5s));
    EXPECT_TRUE(loop.runUntil([&] { return notified.load(); }));
}

// A task still running when the wait begins, a serial queue's later tasks and work one pool hands to
// another all end before the wait returns.
TEST_F(DispatchFixture, WaitingUntilIdleCoversRunningQueuedAndChainedWork)
{
    EXPECT_FALSE(dispatch.waitUntilIdle()) << "nothing queued";
    auto queue = dispatch.makeSerial("chain", Priority::Background);
    std::atomic<int> done{0};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    dispatch.global(Priority::Low).async([&, released] {
        released.wait();
        for (int i = 0; i < 50; ++i) queue->async([&] { ++done; });
        dispatch.global(Priority::High).async([&] { ++done; });
    });
    std::atomic<bool> waited{false};
    std::thread waiter([&] {
        dispatch.waitUntilIdle();
        dispatch.waitUntilIdle();  // the high pool may have been looked at before the low one handed it work
        waited = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(waited.load()) << "returned while a task was still running";
    release.set_value();
    waiter.join();
    EXPECT_EQ(done.load(), 51);
    EXPECT_FALSE(dispatch.waitUntilIdle());
}

TEST_F(TimerFixture, OneShotFiresOnceAtItsTime)
{
    timers.scheduleOnce(2s, [&] { ++fired; });
    loop.advance(1999ms);
    EXPECT_EQ(fired, 0);
    loop.advance(1ms);
    EXPECT_EQ(fired, 1);
    loop.advance(1h);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(timers.activeCount(), 0u);
}

// A repeating timer fires every interval until invalidated, from outside or from its own callback.
TEST_F(TimerFixture, RepeatingFiresEveryIntervalUntilInvalidated)
{
    auto id = timers.scheduleRepeating(100ms, [&] { ++fired; });
    loop.advance(1s);
    EXPECT_EQ(fired, 10);
    timers.invalidate(id);
    loop.advance(1s);
    EXPECT_EQ(fired, 10);
    id = timers.scheduleRepeating(1s, [&] {
        if (++fired == 13) timers.invalidate(id);
    });
    loop.advance(10s);
    EXPECT_EQ(fired, 13);
}

// An expiry already queued does nothing once it is stale: its timer invalidated, its watchdog re-armed, or
// its service gone.
TEST_F(TimerFixture, AStaleExpiryDoesNothing)
{
    auto id = timers.scheduleOnce(1s, [&] { ++fired; });
    TimerService(loop).scheduleOnce(1s, [&] { ++fired; });
    clock.advance(2s);  // due, but the loop has not run them yet
    timers.invalidate(id);
    loop.runUntilIdle();
    EXPECT_EQ(fired, 0);

    Timer watchdog(timers);
    std::vector<int> which;
    watchdog.arm(3s, [&] { which.push_back(1); });
    loop.advance(2s);
    watchdog.arm(3s, [&] { which.push_back(2); });
    loop.advance(2s);  // the first arming's time has passed
    EXPECT_TRUE(which.empty());
    loop.advance(1s);
    EXPECT_EQ(which, std::vector<int>{2});
    EXPECT_FALSE(watchdog.isArmed());
}
