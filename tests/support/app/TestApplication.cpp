#include "support/app/TestApplication.h"

#include <QElapsedTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>

namespace testing_app {

namespace {

QApplication* instance = nullptr;

// Ends the application object while the program still runs: left-over windows and pending deletions
// first, so nothing is torn down by exit handlers after the platform is gone.
class ApplicationEnd final : public ::testing::Environment {
public:
    void TearDown() override
    {
        if (instance == nullptr) return;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QWidgetList owners;  // windows without a parent; deleting them deletes the ones they own
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->parentWidget() == nullptr) owners.append(window);
        }
        qDeleteAll(owners);
        delete instance;
        instance = nullptr;
    }
};

[[maybe_unused]] const auto* const registered = ::testing::AddGlobalTestEnvironment(new ApplicationEnd);

}  // namespace

QApplication& application()
{
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    if (instance == nullptr) {
        if (std::getenv("DISPLAY") == nullptr) qputenv("QT_QPA_PLATFORM", "offscreen");
        instance = new QApplication(argc, argv);
    }
    return *instance;
}

bool hasDisplay()
{
    if (std::getenv("DISPLAY") != nullptr) return true;
    if (std::getenv("RIG_REQUIRE_DISPLAY") != nullptr) ADD_FAILURE() << "RIG_REQUIRE_DISPLAY is set but DISPLAY is not";
    return false;
}

bool processEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    // A loaded machine can keep this thread off the processor for longer than the whole limit, and work
    // posted by work done in one turn (a layout after a paint, say) runs only in the next: the wait takes a
    // few turns whatever the clock says, and its last turn starts after the limit, so what has come due by
    // then is done.
    constexpr int kFewestTurns = 4;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int turn = 1;; ++turn) {
        if (done()) return true;
        const bool late = elapsed.elapsed() >= limit.count();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (late && turn >= kFewestTurns) break;
    }
    return done();
}

bool activateAnotherWindow(QWidget& other)
{
    other.resize(200, 100);
    other.show();
    other.activateWindow();
    if (!processEventsUntil([&] { return other.isActiveWindow(); })) return false;
    processEventsUntil([] { return false; }, std::chrono::milliseconds(20));
    return true;
}

}  // namespace testing_app
