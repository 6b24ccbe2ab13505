#pragma once

#include <thread>

#include "platform/dispatch/MainExecutor.h"

class QObject;

// Runs the main queue on Qt's event loop: posted work is a queued call on the application object,
// delayed work a single-shot Qt timer started on the main thread.
class QtMainExecutor final : public platform::MainExecutor {
public:
    explicit QtMainExecutor(QObject* context);

    void post(platform::Task task) override;
    void postAfter(platform::Duration delay, platform::Task task) override;
    bool isMainThread() const override;
    const platform::Clock& clock() const override { return platform::SystemClock::instance(); }

private:
    QObject* m_context;
    std::thread::id m_thread;
};
