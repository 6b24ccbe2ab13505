#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/url/TransferLoop.h"

namespace platform {

// The one long-lived thread that runs every asynchronous connection: it drives a TransferLoop and runs
// the tasks handed to it in between, woken by curl's wake-up descriptor.
class NetworkThread {
public:
    // Created on first use; it runs until the process ends.
    static NetworkThread& shared();

    explicit NetworkThread(std::string name);
    ~NetworkThread();
    NetworkThread(const NetworkThread&) = delete;
    NetworkThread& operator=(const NetworkThread&) = delete;

    // Runs the task on the network thread, in order, never waiting for it; dropped once halted.
    void perform(std::function<void()> task);
    // Moves no transfer on and runs no task from now on, and returns once the thread has stopped doing so:
    // the program calls it when its queues are about to go, so no transfer still in flight reports into
    // them. The transfers are left as they stand until the process ends.
    void halt();
    bool isCurrent() const { return std::this_thread::get_id() == m_thread.get_id(); }
    // The loop the thread drives; only to be used on the thread.
    TransferLoop& loop() { return *m_loop; }

private:
    void run(std::string name);

    std::unique_ptr<TransferLoop> m_loop;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    bool m_halting = false;
    bool m_halted = false;
    std::condition_variable m_changed;
    std::thread m_thread;
};

}  // namespace platform
