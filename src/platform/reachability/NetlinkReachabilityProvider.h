#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/dispatch/MainExecutor.h"
#include "platform/reachability/Reachability.h"

namespace platform {

// Reachability from the kernel's routing state, read over rtnetlink. A loopback address is always
// reachable; any other target is reachable when a route covering it (for the zero address or a host
// name: a default route) leaves through an interface that is up and is not the loopback. Host names
// are not resolved: a name counts as reachable when the machine has a way out.
//
// While any reference is scheduled, one thread listens for link, address and route changes and
// re-evaluates every scheduled reference, posting changed flags to the main queue.
class NetlinkReachabilityProvider final : public ReachabilityProvider {
public:
    explicit NetlinkReachabilityProvider(MainExecutor& main);
    ~NetlinkReachabilityProvider() override;
    NetlinkReachabilityProvider(const NetlinkReachabilityProvider&) = delete;
    NetlinkReachabilityProvider& operator=(const NetlinkReachabilityProvider&) = delete;

    std::unique_ptr<Reachability> createWithAddress(const sockaddr* address) override;
    std::unique_ptr<Reachability> createWithName(const std::string& hostName) override;

    // The flags an IPv4 or IPv6 address gets from the kernel's answers to the link, route and address
    // dumps, each one datagram as received (the dumps numbered 1, 2 and 3); nothing when an answer is an
    // error or the address is of another family.
    static std::optional<std::uint32_t> flagsFromDumps(const std::vector<std::uint8_t>& links,
                                                       const std::vector<std::uint8_t>& routes,
                                                       const std::vector<std::uint8_t>& addresses,
                                                       const sockaddr* address);

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};

}  // namespace platform
