#pragma once

#include <QApplication>

#include <chrono>
#include <functional>

namespace testing_app {

// The process's application object, on the offscreen platform unless a display is there.
QApplication& application();

// Whether an X display is there for the tests that need one. Without one it answers false (the caller
// skips), and records a failure when RIG_REQUIRE_DISPLAY is set, as the test scripts do: there a missing
// display is a broken run, not a reason to skip what people see.
bool hasDisplay();

// Runs the event loop until `done` answers true or `limit` passes; answers `done()`.
bool processEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5));

// Shows `other` and makes it the active window, as another program taking the keys would; a few turns of
// the loop follow, for what its activation must not set off. Whether it became active.
bool activateAnotherWindow(QWidget& other);

}  // namespace testing_app
