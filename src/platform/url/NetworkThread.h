#pragma once

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

    // Runs the task on the network thread, in order, never waiting for it.
    void perform(std::function<void()> task);
    bool isCurrent() const { return std::this_thread::get_id() == m_thread.get_id(); }
    // The loop the thread drives; only to be used on the thread.
    TransferLoop& loop() { return *m_loop; }

private:
    void run(std::string name);

    std::unique_ptr<TransferLoop> m_loop;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace platform
