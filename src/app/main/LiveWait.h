#pragma once

#include <functional>

// Waits on the main thread for work that ends elsewhere with the main loop turning meanwhile: the window
// paints, its timers and the coordinator's reports run, and the user's input is held, so no gesture lands
// in the middle of what waits. Off the main thread it only blocks until the work reports.
class LiveWait final {
public:
    // Whether the work has called its report yet.
    enum class State { Waiting, Reported };
    // Starts the work, handing it the report it calls once, from any thread.
    using Start = std::function<void(std::function<void()> report)>;

    // Whether a wait on this thread turns the main loop (the thread is the application's own).
    static bool turnsTheLoop();
    // Starts the work and returns once it has reported.
    static void run(const Start& start);
};
