#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/Locked.h"

namespace support {

inline constexpr const char* kLoginPath = "/org/freedesktop/login1";
inline constexpr const char* kLoginManager = "org.freedesktop.login1.Manager";

// A bus daemon of the test's own with a stand-in login manager on it: it hands out delay locks as pipe
// ends (a lock is let go once every copy of its end is closed) and announces what the test asks for.
class PrivateLoginManager : private Locked {
public:
    explicit PrivateLoginManager(const std::string& folder) : m_address("unix:path=" + folder + "/bus")
    {
        // Built before the fork: the child may only exec.
        const std::string option = "--address=" + m_address;
        m_daemon = ::fork();
        if (m_daemon == 0) {
            const int quiet = ::open("/dev/null", O_WRONLY);
            ::dup2(quiet, STDERR_FILENO);
            ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", option.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 500 && !std::filesystem::exists(folder + "/bus"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (sd_bus_new(&m_bus) < 0 || sd_bus_set_address(m_bus, m_address.c_str()) < 0 ||
            sd_bus_set_bus_client(m_bus, 1) < 0 || sd_bus_start(m_bus) < 0 ||
            sd_bus_request_name(m_bus, "org.freedesktop.login1", 0) < 0 ||
            sd_bus_add_object(m_bus, nullptr, kLoginPath, &PrivateLoginManager::call, this) < 0)
            return;
        m_ready = true;
        m_thread = std::thread([this] { serve(); });
    }
    ~PrivateLoginManager()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        sd_bus_flush_close_unref(m_bus);
        for (int fd : m_locks) ::close(fd);
        if (m_daemon > 0) {
            ::kill(m_daemon, SIGTERM);
            ::waitpid(m_daemon, nullptr, 0);
        }
    }

    bool ready() const { return m_ready; }
    const std::string& address() const { return m_address; }

    void announce(const char* signal, bool starting) { locked([&] { m_pending.push_back({signal, starting}); }); }
    // The longest delay for a sleep the manager tells when asked; unset, it tells none.
    void setSleepDelay(std::uint64_t microseconds) { locked([&] { m_sleepDelay = microseconds; }); }
    int locksTaken() { return locked([&] { return static_cast<int>(m_locks.size()); }); }
    // The newest lock is still held by the program.
    bool lastLockHeld()
    {
        return locked([&] {
            pollfd fd{m_locks.back(), POLLIN, 0};
            return ::poll(&fd, 1, 0) == 0;
        });
    }

private:
    static int call(sd_bus_message* message, void* self, sd_bus_error*)
    {
        auto* manager = static_cast<PrivateLoginManager*>(self);
        if (sd_bus_message_is_method_call(message, "org.freedesktop.DBus.Properties", "Get")) return manager->property(message);
        if (!sd_bus_message_is_method_call(message, kLoginManager, "Inhibit")) return 0;
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) < 0) return -errno;
        manager->locked([&] { manager->m_locks.push_back(ends[0]); });
        const int result = sd_bus_reply_method_return(message, "h", ends[1]);
        ::close(ends[1]);
        return result < 0 ? result : 1;
    }
    int property(sd_bus_message* message)
    {
        const char* interface = nullptr;
        const char* name = nullptr;
        if (sd_bus_message_read(message, "ss", &interface, &name) < 0) return 0;
        const std::optional<std::uint64_t> delay = locked([&] { return m_sleepDelay; });
        if (!delay || std::string(name) != "InhibitDelayMaxUSec") return 0;
        sd_bus_message* reply = nullptr;
        int result = sd_bus_message_new_method_return(message, &reply);
        if (result >= 0) result = sd_bus_message_append(reply, "v", "t", *delay);
        if (result >= 0) result = sd_bus_send(nullptr, reply, nullptr);
        sd_bus_message_unref(reply);
        return result < 0 ? result : 1;
    }
    void serve()
    {
        while (!m_stop) {
            const auto pending = locked([&] { return std::exchange(m_pending, {}); });
            for (const auto& [signal, starting] : pending)
                sd_bus_emit_signal(m_bus, kLoginPath, kLoginManager, signal, "b", static_cast<int>(starting));
            while (sd_bus_process(m_bus, nullptr) > 0) {
            }
            sd_bus_wait(m_bus, 10000);
        }
    }

    std::string m_address;
    pid_t m_daemon = -1;
    sd_bus* m_bus = nullptr;
    bool m_ready = false;
    std::atomic<bool> m_stop{false};
    std::vector<std::pair<const char*, bool>> m_pending;
    std::vector<int> m_locks;
    std::optional<std::uint64_t> m_sleepDelay;
    std::thread m_thread;
};

}  // namespace support
