#include "platform/power/LogindPowerEvents.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "common/Log.h"

namespace platform {

namespace {

constexpr const char* kService = "org.freedesktop.login1";
constexpr const char* kPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";

}  // namespace

// Touched on the bus thread only, once construction has handed it over.
struct LogindPowerEvents::Bus {
    sd_bus* bus = nullptr;
    sd_bus_slot* sleepSlot = nullptr;
    sd_bus_slot* shutdownSlot = nullptr;
    int sleepLock = -1;

    ~Bus()
    {
        if (sleepLock >= 0) ::close(sleepLock);
        sd_bus_slot_unref(sleepSlot);
        sd_bus_slot_unref(shutdownSlot);
        sd_bus_flush_close_unref(bus);
    }
};

LogindPowerEvents::LogindPowerEvents(Dispatch& dispatch) : m_dispatch(dispatch), m_alive(std::make_shared<bool>(true))
{
    auto bus = std::make_unique<Bus>();
    int result = sd_bus_open_system(&bus->bus);
    if (result >= 0) {
        const auto onSleep = [](sd_bus_message* message, void* self, sd_bus_error*) -> int {
            int starting = 0;
            if (sd_bus_message_read(message, "b", &starting) < 0) return 0;
            auto* events = static_cast<LogindPowerEvents*>(self);
            if (starting) {
                events->announce([](const Handlers& h, std::function<void()>& out) { out = h.willSleep; });
            } else {
                events->takeSleepLock();
                events->announce([](const Handlers& h, std::function<void()>& out) { out = h.didWake; });
            }
            return 0;
        };
        const auto onShutdown = [](sd_bus_message* message, void* self, sd_bus_error*) -> int {
            int starting = 0;
            if (sd_bus_message_read(message, "b", &starting) < 0 || !starting) return 0;
            static_cast<LogindPowerEvents*>(self)->announce(
                [](const Handlers& h, std::function<void()>& out) { out = h.willPowerOff; });
            return 0;
        };
        result = sd_bus_match_signal(bus->bus, &bus->sleepSlot, kService, kPath, kManager, "PrepareForSleep", onSleep,
                                     this);
        if (result >= 0)
            result = sd_bus_match_signal(bus->bus, &bus->shutdownSlot, kService, kPath, kManager, "PrepareForShutdown",
                                         onShutdown, this);
    }
    if (result < 0) {
        RIG_LOG("no sleep or wake notices: the system bus cannot be used (%s)", std::strerror(-result));
        return;
    }
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        RIG_LOG("no sleep or wake notices: %s", std::strerror(errno));
        return;
    }
    m_bus = std::move(bus);
    readSleepDelay();
    takeSleepLock();
    m_thread = std::thread([this] { serve(); });
}

LogindPowerEvents::~LogindPowerEvents()
{
    m_stop = true;
    wake();
    if (m_thread.joinable()) m_thread.join();
    // Only once the bus thread has ended: it reads this while it announces a notice. What it announced
    // and the main queue has not run yet is dropped.
    m_alive.reset();
    m_bus.reset();
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

void LogindPowerEvents::setHandlers(Handlers handlers)
{
    std::lock_guard lock(m_handlersMutex);
    m_handlers = std::move(handlers);
}

void LogindPowerEvents::readyToSleep()
{
    m_releaseAsked = true;
    wake();
}

void LogindPowerEvents::wake() const
{
    if (m_wakeFd < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
}

void LogindPowerEvents::announce(void (*pick)(const Handlers&, std::function<void()>&))
{
    std::function<void()> handler;
    {
        std::lock_guard lock(m_handlersMutex);
        pick(m_handlers, handler);
    }
    if (!handler) return;
    m_dispatch.main().async([alive = std::weak_ptr<bool>(m_alive), handler = std::move(handler)] {
        if (alive.lock()) handler();
    });
}

void LogindPowerEvents::readSleepDelay()
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::uint64_t microseconds = 0;
    const int result = sd_bus_get_property_trivial(m_bus->bus, kService, kPath, kManager, "InhibitDelayMaxUSec", &error,
                                                   't', &microseconds);
    sd_bus_error_free(&error);
    // A login manager that does not say keeps its usual delay; one that says none leaves no time at all.
    if (result >= 0)
        m_sleepDelay = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(
            std::min<std::uint64_t>(microseconds, std::uint64_t{24} * 3600 * 1000 * 1000)));
}

void LogindPowerEvents::takeSleepLock()
{
    if (m_bus->sleepLock >= 0) return;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int fd = -1;
    int result = sd_bus_call_method(m_bus->bus, kService, kPath, kManager, "Inhibit", &error, &reply, "ssss", "sleep",
                                    "PEXO Rigmora", "Releasing the connected device", "delay");
    if (result >= 0) result = sd_bus_message_read(reply, "h", &fd);
    // The descriptor belongs to the reply; ours is a copy that lives until the lock is let go.
    if (result >= 0) m_bus->sleepLock = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (m_bus->sleepLock < 0)
        RIG_LOG("sleep will not wait for the device: %s", error.message ? error.message : std::strerror(-result));
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
}

void LogindPowerEvents::releaseSleepLock()
{
    if (m_bus->sleepLock < 0) return;
    ::close(m_bus->sleepLock);
    m_bus->sleepLock = -1;
}

void LogindPowerEvents::serve()
{
    while (!m_stop) {
        if (m_releaseAsked.exchange(false)) releaseSleepLock();
        int result = 0;
        while ((result = sd_bus_process(m_bus->bus, nullptr)) > 0) {
        }
        if (result < 0) {
            RIG_LOG("the system bus went away: %s", std::strerror(-result));
            return;
        }
        pollfd fds[2] = {{sd_bus_get_fd(m_bus->bus), static_cast<short>(sd_bus_get_events(m_bus->bus)), 0},
                         {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(m_wakeFd, &count, sizeof count);
        }
    }
}

}  // namespace platform
