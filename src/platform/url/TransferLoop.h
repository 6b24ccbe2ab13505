#pragma once

#include <chrono>
#include <map>
#include <memory>

namespace platform {

class URLConnection;

// A curl multi handle and the connections it runs. Every member is called on the one thread that drives
// the loop, except wakeUp.
class TransferLoop {
public:
    TransferLoop();
    ~TransferLoop();
    TransferLoop(const TransferLoop&) = delete;
    TransferLoop& operator=(const TransferLoop&) = delete;

    void add(std::shared_ptr<URLConnection> connection);
    void remove(URLConnection& connection);
    // Drops a cancelled connection now, or after the current round of transfers when inside one.
    void cancelled(URLConnection& connection);

    // Moves every transfer on, delivers what ended (finished, failed, idle too long) and then waits at
    // most `wait` for network activity or a wakeUp.
    void runOnce(std::chrono::milliseconds wait);
    // Ends a wait in progress (or the next one). Any thread.
    void wakeUp();
    bool empty() const { return m_active.empty(); }

private:
    void* m_multi = nullptr;
    std::map<void*, std::shared_ptr<URLConnection>> m_active;
    bool m_performing = false;
};

}  // namespace platform
