#pragma once

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"

namespace platform {

// What runs the main queue: Qt's event loop in the program, a RunLoop that the test drives in tests.
class MainExecutor {
public:
    virtual ~MainExecutor() = default;
    // Both are callable from any thread; tasks run on the main thread in the order they fall due.
    virtual void post(Task task) = 0;
    virtual void postAfter(Duration delay, Task task) = 0;
    virtual bool isMainThread() const = 0;
    virtual const Clock& clock() const = 0;
};

// The main queue: a Queue face over whatever executor the program installs.
class MainQueue final : public Queue {
public:
    explicit MainQueue(MainExecutor& executor) : Queue("main"), m_executor(executor) {}

    void async(Task task) override { m_executor.post(std::move(task)); }
    void after(Duration delay, Task task) override { m_executor.postAfter(delay, std::move(task)); }
    bool isCurrent() const override { return m_executor.isMainThread(); }

    MainExecutor& executor() const { return m_executor; }

private:
    MainExecutor& m_executor;
};

}  // namespace platform
