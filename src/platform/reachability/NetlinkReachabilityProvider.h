#pragma once

#include <memory>

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

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};

}  // namespace platform
