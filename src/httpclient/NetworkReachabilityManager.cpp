#include "httpclient/NetworkReachabilityManager.h"

#include <netinet/in.h>

#include "httpclient/HTTPResponseSerializer.h"
#include "platform/reachability/NetlinkReachabilityProvider.h"

using namespace platform;

NetworkReachabilityStatus NetworkReachabilityStatusForFlags(std::uint32_t flags)
{
    const bool reachable = flags & kReachabilityFlagReachable;
    const bool needsConnection = flags & kReachabilityFlagConnectionRequired;
    const bool canConnectAutomatically =
        (flags & kReachabilityFlagConnectionOnDemand) || (flags & kReachabilityFlagConnectionOnTraffic);
    const bool canConnectWithoutUser = canConnectAutomatically && !(flags & kReachabilityFlagInterventionRequired);
    const bool networkReachable = reachable && (!needsConnection || canConnectWithoutUser);
    return networkReachable ? kNetworkReachabilityStatusReachableViaWiFi : kNetworkReachabilityStatusNotReachable;
}

std::string StringFromNetworkReachabilityStatus(NetworkReachabilityStatus status)
{
    switch (status) {
    case kNetworkReachabilityStatusNotReachable: return "Not Reachable";
    case kNetworkReachabilityStatusReachableViaWWAN: return "Reachable via WWAN";
    case kNetworkReachabilityStatusReachableViaWiFi: return "Reachable via WiFi";
    default: return "Unknown";
    }
}

NetworkReachabilityManager& NetworkReachabilityManager::sharedManager()
{
    static NetlinkReachabilityProvider provider(Dispatch::shared().mainExecutor());
    static const std::shared_ptr<NetworkReachabilityManager> shared = [] {
        sockaddr_in zero{};
        zero.sin_family = AF_INET;
        return managerForAddress(reinterpret_cast<const sockaddr*>(&zero), provider, Dispatch::shared());
    }();
    return *shared;
}

std::shared_ptr<NetworkReachabilityManager> NetworkReachabilityManager::managerForAddress(const sockaddr* address,
                                                                                       ReachabilityProvider& provider,
                                                                                       Dispatch& dispatch)
{
    return initWithReachability(provider.createWithAddress(address), kAssociationAddress, dispatch);
}

std::shared_ptr<NetworkReachabilityManager> NetworkReachabilityManager::managerForDomain(const std::string& domain,
                                                                                      ReachabilityProvider& provider,
                                                                                      Dispatch& dispatch)
{
    return initWithReachability(provider.createWithName(domain), kAssociationDomain, dispatch);
}

std::shared_ptr<NetworkReachabilityManager> NetworkReachabilityManager::initWithReachability(
    std::unique_ptr<Reachability> reachability, Association association, Dispatch& dispatch)
{
    return std::make_shared<NetworkReachabilityManager>(Passkey{}, std::move(reachability), association, dispatch);
}

NetworkReachabilityManager::NetworkReachabilityManager(Passkey, std::unique_ptr<Reachability> reachability,
                                                       Association association, Dispatch& dispatch)
    : m_reachability(std::move(reachability)), m_association(association), m_dispatch(dispatch)
{
}

NetworkReachabilityManager::~NetworkReachabilityManager() { stopMonitoring(); }

void NetworkReachabilityManager::setReachabilityStatusChangeBlock(StatusBlock block)
{
    std::lock_guard lock(m_blockMutex);
    m_block = std::move(block);
}

std::string NetworkReachabilityManager::localizedNetworkReachabilityStatusString() const
{
    return HTTPClientTexts().text(StringFromNetworkReachabilityStatus(networkReachabilityStatus()));
}

void NetworkReachabilityManager::deliver(std::uint64_t generation, NetworkReachabilityStatus status, bool postLater)
{
    if (generation != m_generation.load()) return;
    m_status.store(status);
    StatusBlock block;
    {
        std::lock_guard lock(m_blockMutex);
        block = m_block;
    }
    if (block) block(status);
    auto* center = m_notificationCenter.load();
    if (!center) return;
    auto post = [center, status] {
        center->post(ReachabilityDidChangeNotification, nullptr, {{ReachabilityNotificationStatusItem, status}});
    };
    // A change the platform reports is posted on a later turn of the main queue, the first status at once.
    if (postLater)
        m_dispatch.main().async(post);
    else
        post();
}

void NetworkReachabilityManager::startMonitoring()
{
    stopMonitoring();
    if (!m_reachability) return;
    const auto generation = ++m_generation;
    std::weak_ptr<NetworkReachabilityManager> weak = weak_from_this();
    m_reachability->schedule([weak, generation](std::uint32_t flags) {
        if (auto self = weak.lock()) self->deliver(generation, NetworkReachabilityStatusForFlags(flags), true);
    });
    if (m_association == kAssociationDomain) return;
    m_dispatch.global(Priority::Background).async([weak, generation, reachability = m_reachability,
                                                   main = &m_dispatch.main()] {
        std::uint32_t flags = 0;
        // Flags that cannot be read leave the status unknown rather than claiming either way.
        const auto status = reachability->getFlags(flags) ? NetworkReachabilityStatusForFlags(flags)
                                                          : kNetworkReachabilityStatusUnknown;
        main->async([weak, generation, status] {
            if (auto manager = weak.lock()) manager->deliver(generation, status, false);
        });
    });
}

void NetworkReachabilityManager::stopMonitoring()
{
    ++m_generation;
    if (m_reachability) m_reachability->unschedule();
}
