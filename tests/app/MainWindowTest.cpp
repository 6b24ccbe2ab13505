#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "app/QtMainExecutor.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/AppLifecycle.h"
#include "platform/dispatch/Dispatch.h"
#include "support/app/TestApplication.h"

namespace {

using namespace std::chrono_literals;

TEST(QtMainExecutor, RunsPostedAndDelayedWorkOnTheEventLoopInOrder)
{
    auto& app = testing_app::application();
    QtMainExecutor executor(&app);
    platform::Dispatch dispatch(executor);
    std::vector<int> order;
    dispatch.global(platform::Priority::Default).async([&] {
        dispatch.main().async([&] { order.push_back(executor.isMainThread() ? 1 : -1); });
    });
    dispatch.main().after(std::chrono::milliseconds(30), [&] {
        order.push_back(2);
        QApplication::quit();
    });
    QApplication::exec();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

class MainWindowOnScreen : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testing_app::hasDisplay()) GTEST_SKIP() << "no X display";
    }
    QApplication& app = testing_app::application();
    QtMainExecutor executor{&app};
    platform::Dispatch dispatch{executor};
    AppDelegate appDelegate;
};

TEST_F(MainWindowOnScreen, SplashThenTheMainWindowCentredOnARealDisplay)
{
    AppLifecycle lifecycle(appDelegate, dispatch, "1.0.0", 300ms);
    lifecycle.applicationDidFinishLaunching();
    testing_app::processEventsUntil([] { return false; }, 150ms);
    ASSERT_NE(lifecycle.flashWindowController(), nullptr);
    // The main window is being made ready behind the splash, not shown.
    EXPECT_EQ(lifecycle.window(), nullptr);
    for (QWidget* window : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<MainWindow*>(window) != nullptr && window->isVisible());
    if (const char* path = std::getenv("RIG_SPLASH_SCREENSHOT")) {
        lifecycle.flashWindowController()->grab().save(QString::fromUtf8(path));
    }
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return lifecycle.window() && lifecycle.window()->isVisible(); }));
    testing_app::processEventsUntil([] { return false; }, 200ms);
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_NEAR(lifecycle.window()->geometry().center().x(), available.center().x(), 2);
    EXPECT_EQ(lifecycle.window()->windowTitle(), "PEXO Rigmora");
    if (const char* path = std::getenv("RIG_SCREENSHOT")) lifecycle.window()->grab().save(QString::fromUtf8(path));
}

// Activation repaints every list; made key with its first picture still on its way to the display server,
// that repaint waited for the server to take the whole window in. The window is made key after it painted.
TEST_F(MainWindowOnScreen, MadeKeyOnlyOnceItHasPainted)
{
    struct Watch : QObject {
        std::vector<QEvent::Type> seen;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (qobject_cast<MainWindow*>(watched) != nullptr &&
                (event->type() == QEvent::Paint || event->type() == QEvent::WindowActivate))
                seen.push_back(event->type());
            return false;
        }
    } watch;
    app.installEventFilter(&watch);
    AppLifecycle lifecycle(appDelegate, dispatch, "1.0.0", 100ms);
    lifecycle.applicationDidFinishLaunching();
    EXPECT_TRUE(testing_app::processEventsUntil([&] { return lifecycle.window() && lifecycle.window()->isActiveWindow(); }));
    app.removeEventFilter(&watch);
    ASSERT_FALSE(watch.seen.empty());
    EXPECT_EQ(watch.seen.front(), QEvent::Paint);
    EXPECT_NE(std::find(watch.seen.begin(), watch.seen.end(), QEvent::WindowActivate), watch.seen.end());
}

}  // namespace
