#pragma once

#include <chrono>
#include <functional>

namespace platform {

// The system's announcements of sleep, wake and power-off. A source holds back an announced sleep until
// the program says it is ready (or the system's own limit runs out), so the device can be let go first.
class PowerEvents {
public:
    struct Handlers {
        std::function<void()> willSleep;
        std::function<void()> didWake;
        std::function<void()> willPowerOff;
    };

    virtual ~PowerEvents() = default;
    // Replaces the handlers; empty ones are skipped. Handlers are called on the main queue.
    virtual void setHandlers(Handlers handlers) = 0;
    // The program has done what it must before the announced sleep: the hold on it is let go until the
    // next wake takes it again. Safe from any thread.
    virtual void readyToSleep() = 0;
    // How long the system waits for `readyToSleep` before it sleeps anyway. Safe from any thread.
    virtual std::chrono::milliseconds sleepDelay() const { return kUsualSleepDelay; }
    // The login manager's own default, for a system that does not say.
    static constexpr std::chrono::milliseconds kUsualSleepDelay{5000};
};

}  // namespace platform
