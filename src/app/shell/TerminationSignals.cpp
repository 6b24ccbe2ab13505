#include "app/shell/TerminationSignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>

#include "common/Log.h"

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
// The write end the async-signal-safe handler may use; -1 when nothing is installed.
std::atomic<int> g_writeEnd{-1};
struct sigaction g_previous[std::size(kSignals)];

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal) : onSignal_(std::move(onSignal))
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sockets_) != 0) {
        RIG_LOG("no socket pair for termination signals (errno %d): they end the program at once", errno);
        sockets_[0] = sockets_[1] = -1;
        return;
    }
    g_writeEnd.store(sockets_[1]);
    notifier_ = std::make_unique<QSocketNotifier>(sockets_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { drain(); });
    struct sigaction action {};
    action.sa_handler = &TerminationSignals::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
}

TerminationSignals::~TerminationSignals()
{
    if (!notifier_) return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
    g_writeEnd.store(-1);
    notifier_.reset();
    ::close(sockets_[0]);
    ::close(sockets_[1]);
}

void TerminationSignals::handle(int signal)
{
    const int saved = errno;
    const int fd = g_writeEnd.load();
    const char byte = static_cast<char>(signal);
    if (fd >= 0 && ::write(fd, &byte, 1) < 0) {
        // A full socket already holds a wake-up; nothing else is safe to do here.
    }
    errno = saved;
}

void TerminationSignals::drain()
{
    char bytes[64];
    bool any = false;
    while (::read(sockets_[0], bytes, sizeof bytes) > 0) any = true;
    if (any && onSignal_) onSignal_();
}
