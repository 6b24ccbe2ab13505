#pragma once

#include <QApplication>

#include <chrono>
#include <functional>

namespace testing_app {

// The process's application object, on the offscreen platform unless a display is there.
QApplication& application();

// Runs the event loop until `done` answers true or `limit` passes; answers `done()`.
bool processEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5));

}  // namespace testing_app
