#include "app/shell/RunningInstance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

// The address of an abstract socket: a leading NUL, then the name, its length counted exactly.
socklen_t addressOf(const std::string& name, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::size_t length = std::min(name.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.data(), length);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
}

}  // namespace

RunningInstance::RunningInstance(const std::string& folder, std::function<void()> raise) : raise_(std::move(raise))
{
    sockaddr_un address;
    const socklen_t length = addressOf(socketName(folder), address);
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener_ < 0) return;
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(listener_, 4) != 0) {
        ::close(listener_);
        listener_ = -1;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &RunningInstance::accept);
}

RunningInstance::~RunningInstance()
{
    notifier_.reset();
    if (listener_ >= 0) ::close(listener_);
}

std::string RunningInstance::socketName(const std::string& folder)
{
    // A folder the system cannot resolve is named as it was given.
    std::error_code error;
    std::string path = std::filesystem::weakly_canonical(folder, error).string();
    if (error) path = folder;
    // FNV-1a over the path: short and stable across runs, unlike std::hash.
    std::uint64_t digest = 14695981039346656037ull;
    for (const unsigned char c : path) digest = (digest ^ c) * 1099511628211ull;
    char name[64];
    std::snprintf(name, sizeof name, "pexo-rigmora-%016llx", static_cast<unsigned long long>(digest));
    return name;
}

bool RunningInstance::knock(const std::string& folder)
{
    sockaddr_un address;
    const socklen_t length = addressOf(socketName(folder), address);
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) return false;
    const bool reached = ::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
                         ::send(descriptor, "r", 1, MSG_NOSIGNAL) == 1;
    ::close(descriptor);
    return reached;
}

void RunningInstance::accept()
{
    // Every knock waiting is taken; what it says does not matter, it only asks for the window.
    bool knocked = false;
    for (int peer = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC); peer >= 0;
         peer = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) {
        ::close(peer);
        knocked = true;
    }
    if (knocked && raise_) raise_();
}
