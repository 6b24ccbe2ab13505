#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

#include <cstdlib>

#include "app/MainWindow.h"
#include "app/QtMainExecutor.h"
#include "platform/dispatch/Dispatch.h"

namespace {

QApplication& application()
{
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    if (std::getenv("DISPLAY") == nullptr) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

}  // namespace

TEST(MainWindow, HasTheProductTitleAndContentSize)
{
    application();
    MainWindow window;
    EXPECT_EQ(window.windowTitle(), QStringLiteral("PEXO Rigmora"));
    EXPECT_EQ(window.size(), QSize(1500, 1500));
}

TEST(QtMainExecutor, RunsPostedAndDelayedWorkOnTheEventLoopInOrder)
{
    auto& app = application();
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

TEST(MainWindowOnScreen, OpensCentredOnARealDisplay)
{
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
    application();
    MainWindow window;
    window.show();
    QApplication::processEvents();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_NEAR(window.geometry().center().x(), available.center().x(), 2);
    if (const char* path = std::getenv("RIG_SCREENSHOT")) window.grab().save(QString::fromUtf8(path));
}
