#include "platform/reachability/NetlinkReachabilityProvider.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "common/Log.h"

namespace platform {

namespace {

// An address as raw bytes: 4 for IPv4, 16 for IPv6.
struct Address {
    int family = AF_UNSPEC;
    std::array<std::uint8_t, 16> bytes{};

    std::size_t size() const { return family == AF_INET ? 4 : 16; }
    bool isAny() const
    {
        return std::all_of(bytes.begin(), bytes.begin() + static_cast<long>(size()), [](auto b) { return b == 0; });
    }
    bool isLoopback() const
    {
        if (family == AF_INET) return bytes[0] == 127;
        static const std::array<std::uint8_t, 16> v6Loopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        return bytes == v6Loopback;
    }
    bool startsWith(const Address& prefix, unsigned bits) const
    {
        if (family != prefix.family) return false;
        for (unsigned i = 0; i < bits && i < size() * 8; ++i) {
            const unsigned mask = 0x80u >> (i % 8);
            if ((bytes[i / 8] & mask) != (prefix.bytes[i / 8] & mask)) return false;
        }
        return true;
    }
};

struct Route {
    Address destination;
    unsigned prefixLength = 0;
    std::vector<int> interfaces;
};

struct Link {
    bool up = false;
    bool loopback = false;
};

struct RoutingState {
    std::map<int, Link> links;
    std::vector<Route> routes;
    std::vector<Address> localAddresses;
};

struct Target {
    enum class Kind { Address, Name } kind = Kind::Address;
    Address address;
    std::string name;
};

class Socket {
public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

enum class DumpPart { More, Done, Failed };

// One datagram of a dump's answer: each message of the dump `sequence` goes to `visit` until the end or
// an error message.
// One datagram of a dump's answer: each message of the dump `sequence` goes to `visit` until the end or
// an error message. A message whose length, rounded up to four bytes, reaches past the datagram ends the
// walk: counting down what is left would wrap round there and walk on beyond the data.
template <typename Visit>
DumpPart readDumpPart(const void* data, std::size_t size, std::uint32_t sequence, Visit visit)
{
    const auto* at = static_cast<const std::uint8_t*>(data);
    for (std::size_t left = size; left >= sizeof(nlmsghdr);) {
        const auto* message = reinterpret_cast<const nlmsghdr*>(at);
        if (message->nlmsg_len < sizeof(nlmsghdr) || message->nlmsg_len > left) break;
        if (message->nlmsg_seq == sequence) {
            if (message->nlmsg_type == NLMSG_DONE) return DumpPart::Done;
            if (message->nlmsg_type == NLMSG_ERROR) return DumpPart::Failed;
            visit(message);
        }
        const std::size_t step = NLMSG_ALIGN(message->nlmsg_len);
        if (step >= left) break;
        at += step;
        left -= step;
    }
    return DumpPart::More;
}

// One dump request and its multi-part answer; false on any failure.
template <typename Header, typename Visit>
bool dump(int fd, std::uint16_t type, const Header& header, std::uint32_t sequence, Visit visit)
{
    struct {
        nlmsghdr nl;
        Header body;
    } request{};
    request.nl.nlmsg_len = NLMSG_LENGTH(sizeof(Header));
    request.nl.nlmsg_type = type;
    request.nl.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.nl.nlmsg_seq = sequence;
    request.body = header;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &request, request.nl.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
        return false;

    alignas(nlmsghdr) static thread_local std::array<char, 32768> buffer;
    while (true) {
        const auto n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        const DumpPart part = readDumpPart(buffer.data(), static_cast<std::size_t>(n), sequence, visit);
        if (part != DumpPart::More) return part == DumpPart::Done;
    }
}

// The length is signed for the same reason: an attribute length off the grid rounds past the end.
template <typename Visit>
void attributes(const rtattr* first, int length, Visit visit)
{
    for (auto* attribute = first; RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length))
        visit(attribute);
}

Address addressFrom(int family, const rtattr* attribute)
{
    Address address;
    address.family = family;
    const auto size = std::min<std::size_t>(RTA_PAYLOAD(attribute), address.size());
    std::memcpy(address.bytes.data(), RTA_DATA(attribute), size);
    return address;
}

// The fixed part after a message's header, or nothing when the message is too short to hold it (the
// attribute lengths below it would otherwise wrap round and be read far past the message).
template <typename Body>
const Body* bodyOf(const nlmsghdr* message, std::uint16_t type)
{
    if (message->nlmsg_type != type || message->nlmsg_len < NLMSG_LENGTH(sizeof(Body))) return nullptr;
    return static_cast<const Body*>(NLMSG_DATA(message));
}

void readLink(const nlmsghdr* message, RoutingState& state)
{
    const auto* info = bodyOf<ifinfomsg>(message, RTM_NEWLINK);
    if (!info) return;
    state.links[info->ifi_index] = Link{(info->ifi_flags & IFF_UP) && (info->ifi_flags & IFF_RUNNING),
                                        (info->ifi_flags & IFF_LOOPBACK) != 0};
}

void readRoute(const nlmsghdr* message, RoutingState& state)
{
    const auto* info = bodyOf<rtmsg>(message, RTM_NEWROUTE);
    if (!info || info->rtm_type != RTN_UNICAST) return;
    Route route;
    route.destination.family = info->rtm_family;
    route.prefixLength = info->rtm_dst_len;
    attributes(RTM_RTA(info), static_cast<int>(RTM_PAYLOAD(message)), [&](const rtattr* attribute) {
        if (attribute->rta_type == RTA_DST) {
            route.destination = addressFrom(info->rtm_family, attribute);
        } else if (attribute->rta_type == RTA_OIF && RTA_PAYLOAD(attribute) >= sizeof(int)) {
            int index = 0;
            std::memcpy(&index, RTA_DATA(attribute), sizeof index);
            route.interfaces.push_back(index);
        } else if (attribute->rta_type == RTA_MULTIPATH) {
            auto* hop = static_cast<const rtnexthop*>(RTA_DATA(attribute));
            auto left = static_cast<int>(RTA_PAYLOAD(attribute));
            while (left >= static_cast<int>(sizeof(rtnexthop)) && RTNH_OK(hop, left)) {
                route.interfaces.push_back(hop->rtnh_ifindex);
                left -= NLMSG_ALIGN(hop->rtnh_len);
                hop = RTNH_NEXT(hop);
            }
        }
    });
    state.routes.push_back(std::move(route));
}

void readAddress(const nlmsghdr* message, RoutingState& state)
{
    const auto* info = bodyOf<ifaddrmsg>(message, RTM_NEWADDR);
    if (!info) return;
    attributes(IFA_RTA(info), static_cast<int>(IFA_PAYLOAD(message)), [&](const rtattr* attribute) {
        if (attribute->rta_type == IFA_LOCAL || attribute->rta_type == IFA_ADDRESS)
            state.localAddresses.push_back(addressFrom(info->ifa_family, attribute));
    });
}

bool readRoutingState(RoutingState& state)
{
    Socket socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (socket.fd() < 0) return false;
    static std::atomic<std::uint32_t> sequence{1};

    ifinfomsg linkRequest{};
    linkRequest.ifi_family = AF_UNSPEC;
    if (!dump(socket.fd(), RTM_GETLINK, linkRequest, sequence++,
              [&](const nlmsghdr* message) { readLink(message, state); }))
        return false;

    for (const int family : {AF_INET, AF_INET6}) {
        rtmsg routeRequest{};
        routeRequest.rtm_family = static_cast<unsigned char>(family);
        if (!dump(socket.fd(), RTM_GETROUTE, routeRequest, sequence++,
                  [&](const nlmsghdr* message) { readRoute(message, state); }))
            return false;
    }

    ifaddrmsg addressRequest{};
    addressRequest.ifa_family = AF_UNSPEC;
    return dump(socket.fd(), RTM_GETADDR, addressRequest, sequence++,
                [&](const nlmsghdr* message) { readAddress(message, state); });
}

constexpr std::uint32_t kLocalFlags =
    kReachabilityFlagReachable | kReachabilityFlagIsLocalAddress | kReachabilityFlagIsDirect;

bool leavesThroughAnUpInterface(const Route& route, const RoutingState& state)
{
    return std::any_of(route.interfaces.begin(), route.interfaces.end(), [&](int index) {
        const auto link = state.links.find(index);
        return link != state.links.end() && link->second.up && !link->second.loopback;
    });
}

std::uint32_t flagsForAddress(const Address& address, const RoutingState& state)
{
    if (address.isLoopback()) return kLocalFlags;
    const bool any = address.isAny();
    if (!any && std::any_of(state.localAddresses.begin(), state.localAddresses.end(), [&](const Address& local) {
            return local.family == address.family && local.bytes == address.bytes;
        }))
        return kReachabilityFlagReachable | kReachabilityFlagIsLocalAddress;
    for (const auto& route : state.routes) {
        const bool covers = any ? route.prefixLength == 0 : address.startsWith(route.destination, route.prefixLength);
        if (covers && leavesThroughAnUpInterface(route, state)) return kReachabilityFlagReachable;
    }
    return 0;
}

std::uint32_t flagsFor(const Target& target, const RoutingState& state)
{
    if (target.kind == Target::Kind::Address) return flagsForAddress(target.address, state);
    const auto& name = target.name;
    const std::string suffix = ".localhost";
    if (name == "localhost" ||
        (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0))
        return kLocalFlags;
    // Any way out: the default route of either family.
    Address anyV4;
    anyV4.family = AF_INET;
    Address anyV6;
    anyV6.family = AF_INET6;
    return flagsForAddress(anyV4, state) | flagsForAddress(anyV6, state);
}

std::optional<Address> numericAddress(const std::string& text)
{
    Address address;
    if (::inet_pton(AF_INET, text.c_str(), address.bytes.data()) == 1) {
        address.family = AF_INET;
        return address;
    }
    if (::inet_pton(AF_INET6, text.c_str(), address.bytes.data()) == 1) {
        address.family = AF_INET6;
        return address;
    }
    return std::nullopt;
}

std::optional<Target> targetFrom(const sockaddr* address)
{
    if (!address) return std::nullopt;
    Target target;
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        target.address.family = AF_INET;
        std::memcpy(target.address.bytes.data(), &v4->sin_addr, 4);
    } else if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        target.address.family = AF_INET6;
        std::memcpy(target.address.bytes.data(), &v6->sin6_addr, 16);
    } else {
        return std::nullopt;
    }
    return target;
}

}  // namespace

struct NetlinkReachabilityProvider::Shared {
    explicit Shared(MainExecutor& m) : main(m) {}

    struct Registration {
        Target target;
        Reachability::Callback callback;
        std::uint32_t lastFlags = 0;
    };

    MainExecutor& main;
    std::mutex mutex;
    std::vector<std::weak_ptr<Registration>> scheduled;
    std::thread monitor;
    int wakeFd = -1;
    bool stopping = false;

    void ensureMonitor();
    void stopMonitor();
    void monitorLoop(int netlinkFd);
    void reevaluate();
};

void NetlinkReachabilityProvider::Shared::ensureMonitor()
{
    // Called with the mutex held.
    if (monitor.joinable() || stopping) return;
    const int netlinkFd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (netlinkFd < 0) {
        RIG_LOG("no routing socket (%s): reachability changes go unnoticed", std::strerror(errno));
        return;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (::bind(netlinkFd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || wakeFd < 0) {
        RIG_LOG("cannot listen for routing changes: %s", std::strerror(errno));
        ::close(netlinkFd);
        if (wakeFd >= 0) ::close(wakeFd);
        wakeFd = -1;
        return;
    }
    monitor = std::thread([this, netlinkFd] { monitorLoop(netlinkFd); });
}

void NetlinkReachabilityProvider::Shared::stopMonitor()
{
    std::thread thread;
    {
        std::lock_guard lock(mutex);
        stopping = true;
        if (wakeFd >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] auto written = ::write(wakeFd, &one, sizeof one);
        }
        thread = std::move(monitor);
    }
    if (thread.joinable()) thread.join();
    if (wakeFd >= 0) ::close(wakeFd);
    wakeFd = -1;
}

void NetlinkReachabilityProvider::Shared::monitorLoop(int netlinkFd)
{
    std::array<char, 16384> buffer;
    while (true) {
        pollfd fds[2] = {{netlinkFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents) break;
        // Drain the burst a change brings, then look once. An overrun (ENOBUFS) only means we look too.
        while (::recv(netlinkFd, buffer.data(), buffer.size(), 0) > 0 || errno == ENOBUFS) {
        }
        reevaluate();
    }
    ::close(netlinkFd);
}

void NetlinkReachabilityProvider::Shared::reevaluate()
{
    RoutingState state;
    const bool known = readRoutingState(state);
    std::lock_guard lock(mutex);
    std::erase_if(scheduled, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : scheduled) {
        auto registration = weak.lock();
        if (!registration) continue;
        const auto flags = known ? flagsFor(registration->target, state) : 0u;
        if (flags == registration->lastFlags) continue;
        registration->lastFlags = flags;
        main.post([weak, flags] {
            if (auto live = weak.lock()) live->callback(flags);
        });
    }
}

namespace {

class NetlinkReachability final : public Reachability {
public:
    NetlinkReachability(std::shared_ptr<NetlinkReachabilityProvider::Shared> shared, Target target)
        : m_shared(std::move(shared)), m_target(std::move(target))
    {
    }
    ~NetlinkReachability() override { unschedule(); }

    bool getFlags(std::uint32_t& flags) override
    {
        RoutingState state;
        if (!readRoutingState(state)) return false;
        flags = flagsFor(m_target, state);
        return true;
    }

    void schedule(Callback callback) override
    {
        auto registration = std::make_shared<NetlinkReachabilityProvider::Shared::Registration>();
        registration->target = m_target;
        registration->callback = std::move(callback);
        getFlags(registration->lastFlags);
        std::lock_guard lock(m_shared->mutex);
        m_registration = registration;
        m_shared->scheduled.push_back(registration);
        m_shared->ensureMonitor();
    }

    void unschedule() override
    {
        std::lock_guard lock(m_shared->mutex);
        m_registration.reset();
    }

private:
    std::shared_ptr<NetlinkReachabilityProvider::Shared> m_shared;
    Target m_target;
    std::shared_ptr<NetlinkReachabilityProvider::Shared::Registration> m_registration;
};

}  // namespace

NetlinkReachabilityProvider::NetlinkReachabilityProvider(MainExecutor& main) : m_shared(std::make_shared<Shared>(main))
{
}

NetlinkReachabilityProvider::~NetlinkReachabilityProvider() { m_shared->stopMonitor(); }

std::unique_ptr<Reachability> NetlinkReachabilityProvider::createWithAddress(const sockaddr* address)
{
    auto target = targetFrom(address);
    if (!target) return nullptr;
    return std::make_unique<NetlinkReachability>(m_shared, std::move(*target));
}

std::optional<std::uint32_t> NetlinkReachabilityProvider::flagsFromDumps(const std::vector<std::uint8_t>& links,
                                                                         const std::vector<std::uint8_t>& routes,
                                                                         const std::vector<std::uint8_t>& addresses,
                                                                         const sockaddr* address)
{
    const auto target = targetFrom(address);
    if (!target) return std::nullopt;
    RoutingState state;
    const std::pair<const std::vector<std::uint8_t>*, void (*)(const nlmsghdr*, RoutingState&)> answers[] = {
        {&links, readLink}, {&routes, readRoute}, {&addresses, readAddress}};
    std::uint32_t sequence = 1;
    for (const auto& [bytes, read] : answers) {
        // A vector's bytes are aligned for any header, as a received datagram's are.
        const auto part = readDumpPart(bytes->data(), bytes->size(), sequence++,
                                       [&, read = read](const nlmsghdr* message) { read(message, state); });
        if (part == DumpPart::Failed) return std::nullopt;
    }
    return flagsFor(*target, state);
}

std::unique_ptr<Reachability> NetlinkReachabilityProvider::createWithName(const std::string& hostName)
{
    Target target;
    if (auto numeric = numericAddress(hostName)) {
        target.address = *numeric;
    } else {
        target.kind = Target::Kind::Name;
        target.name = hostName;
    }
    return std::make_unique<NetlinkReachability>(m_shared, std::move(target));
}

}  // namespace platform
