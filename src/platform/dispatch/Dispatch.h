#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dispatch/MainExecutor.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/dispatch/ThreadPool.h"

namespace platform {

// The set of queues one program (or one test) runs on: the main queue over the installed executor and
// a global pool per priority. Objects take a Dispatch& instead of reaching for process-wide queues, so
// tests never share threads or state.
class Dispatch {
public:
    explicit Dispatch(MainExecutor& mainExecutor, unsigned threadsPerPriority = 2);
    ~Dispatch();
    Dispatch(const Dispatch&) = delete;
    Dispatch& operator=(const Dispatch&) = delete;

    MainQueue& main() { return m_main; }
    Queue& global(Priority priority);
    // A pool with a thread per core for long computations (unpacking archives) that must not hold the
    // global pools' few threads; made on first use.
    Queue& computation();
    // Returns once every pool has run out of work (serial queues run on them); true if any had some.
    // For a caller that must know the background work has ended, never from a pool's own thread.
    bool waitUntilIdle();
    std::shared_ptr<SerialQueue> makeSerial(std::string label, Priority priority = Priority::Default);
    const Clock& clock() const { return m_main.executor().clock(); }
    MainExecutor& mainExecutor() { return m_main.executor(); }

    // The instance built by the program at start; tests construct their own and never set it.
    static Dispatch& shared();
    static void setShared(Dispatch* dispatch);

private:
    MainQueue m_main;
    std::array<std::unique_ptr<ThreadPool>, 4> m_global;
    // Declared after the global pools, so it ends (its queue run out) while they still take its reports.
    std::once_flag m_computationMade;
    std::unique_ptr<ThreadPool> m_computation;
};

}  // namespace platform
