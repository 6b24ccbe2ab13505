#pragma once

#include <atomic>
#include <chrono>
#include <mutex>

#include "library/ApplicationLifecycle.h"
#include "platform/power/PowerEvents.h"

// Sleep and wake announced by the test, on the thread it calls from (the main queue in the fixtures).
class FakePowerEvents final : public platform::PowerEvents {
public:
    void setHandlers(Handlers handlers) override
    {
        std::lock_guard lock(m_mutex);
        m_handlers = std::move(handlers);
    }
    void readyToSleep() override { ++readyCount; }
    // The system's delay for a sleep, as a login manager would tell it; set before the sleep is announced.
    std::chrono::milliseconds sleepDelay() const override { return delay; }

    void sleep() { call(&Handlers::willSleep); }
    void wake() { call(&Handlers::didWake); }
    void powerOff() { call(&Handlers::willPowerOff); }

    std::atomic<int> readyCount{0};
    std::chrono::milliseconds delay{kUsualSleepDelay};

private:
    void call(std::function<void()> Handlers::*which)
    {
        std::function<void()> handler;
        {
            std::lock_guard lock(m_mutex);
            handler = m_handlers.*which;
        }
        if (handler) handler();
    }

    std::mutex m_mutex;
    Handlers m_handlers;
};

// Counts what the coordinator asked of the shell.
class FakeApplicationLifecycle final : public ApplicationLifecycle {
public:
    void clearAllDialog() override { ++dialogsCleared; }
    void terminate() override { ++terminated; }

    std::atomic<int> dialogsCleared{0};
    std::atomic<int> terminated{0};
};
