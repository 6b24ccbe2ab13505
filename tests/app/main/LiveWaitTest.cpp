#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <functional>
#include <thread>

#include "app/main/LiveWait.h"
#include "support/app/TestApplication.h"

// The wait returns once the work reports, whenever and from wherever it does: inside the start, before
// the loop has turned; on a later turn of the main loop itself; from another thread while the loop sleeps
// with nothing else to wake it; and, off the main thread, from the waiting thread's own work.
TEST(LiveWait, ReturnsOnceTheWorkReportsFromAnyThreadAtAnyTime)
{
    testing_app::application();
    ASSERT_TRUE(LiveWait::turnsTheLoop());
    LiveWait::run([](const std::function<void()>& report) { report(); });
    bool turned = false;
    LiveWait::run([&turned](std::function<void()> report) {
        QTimer::singleShot(0, qApp, [&turned, report = std::move(report)] {
            turned = true;
            report();
        });
    });
    EXPECT_TRUE(turned) << "returned before the loop ran the work";
    std::thread worker;
    LiveWait::run([&worker](std::function<void()> report) { worker = std::thread(std::move(report)); });
    worker.join();
    bool offMain = false;
    std::thread waiting([&offMain] {
        offMain = !LiveWait::turnsTheLoop();
        std::thread reporter;
        LiveWait::run([&reporter](std::function<void()> report) { reporter = std::thread(std::move(report)); });
        reporter.join();
        LiveWait::run([](const std::function<void()>& report) { report(); });
    });
    waiting.join();
    EXPECT_TRUE(offMain);
}
