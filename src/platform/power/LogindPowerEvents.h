#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/dispatch/Dispatch.h"
#include "platform/power/PowerEvents.h"

namespace platform {

// Sleep, wake and power-off from the login manager on the system bus: its PrepareForSleep and
// PrepareForShutdown signals, with a delay lock on sleep held while awake. The bus is served on a thread
// of its own; handlers are posted to the main queue. Without a system bus (or login manager) nothing is
// ever announced and the program carries on: that is logged once, at construction.
class LogindPowerEvents final : public PowerEvents {
public:
    explicit LogindPowerEvents(Dispatch& dispatch);
    ~LogindPowerEvents() override;
    LogindPowerEvents(const LogindPowerEvents&) = delete;
    LogindPowerEvents& operator=(const LogindPowerEvents&) = delete;

    void setHandlers(Handlers handlers) override;
    void readyToSleep() override;
    // The login manager's longest delay for a sleep (read once, at construction), else the usual one.
    std::chrono::milliseconds sleepDelay() const override { return m_sleepDelay; }
    // The system bus was reached and the signals are watched.
    bool isWatching() const { return m_bus != nullptr; }

private:
    struct Bus;
    void serve();
    void announce(void (*pick)(const Handlers&, std::function<void()>&));
    void takeSleepLock();
    void releaseSleepLock();
    void wake() const;
    void readSleepDelay();

    Dispatch& m_dispatch;
    std::shared_ptr<bool> m_alive;
    std::mutex m_handlersMutex;
    Handlers m_handlers;
    std::unique_ptr<Bus> m_bus;
    int m_wakeFd = -1;
    std::chrono::milliseconds m_sleepDelay{kUsualSleepDelay};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_releaseAsked{false};
    std::thread m_thread;
};

}  // namespace platform
