#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

namespace platform {

// How far a piece of work has come, readable from any thread; pausing or cancelling it runs the handler
// its owner installed.
class Progress {
public:
    explicit Progress(std::int64_t total = 0) : m_total(total) {}

    std::int64_t totalUnitCount() const { return m_total; }
    void setTotalUnitCount(std::int64_t total) { m_total = total; }
    std::int64_t completedUnitCount() const { return m_completed; }
    void setCompletedUnitCount(std::int64_t completed) { m_completed = completed; }

    void setPausingHandler(std::function<void()> handler)
    {
        std::lock_guard lock(m_mutex);
        m_pausing = std::move(handler);
    }
    void setCancellationHandler(std::function<void()> handler)
    {
        std::lock_guard lock(m_mutex);
        m_cancellation = std::move(handler);
    }
    void pause() { run(m_pausing); }
    void cancel() { run(m_cancellation); }

private:
    void run(const std::function<void()>& handler)
    {
        std::function<void()> copy;
        {
            std::lock_guard lock(m_mutex);
            copy = handler;
        }
        if (copy) copy();
    }

    std::atomic<std::int64_t> m_total;
    std::atomic<std::int64_t> m_completed{0};
    std::mutex m_mutex;
    std::function<void()> m_pausing;
    std::function<void()> m_cancellation;
};

}  // namespace platform
