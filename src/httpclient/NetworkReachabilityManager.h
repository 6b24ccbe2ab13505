#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dispatch/Dispatch.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/reachability/Reachability.h"

using NetworkReachabilityStatus = std::int64_t;
constexpr NetworkReachabilityStatus kNetworkReachabilityStatusUnknown = -1;
constexpr NetworkReachabilityStatus kNetworkReachabilityStatusNotReachable = 0;
constexpr NetworkReachabilityStatus kNetworkReachabilityStatusReachableViaWWAN = 1;
constexpr NetworkReachabilityStatus kNetworkReachabilityStatusReachableViaWiFi = 2;

// Posted at each delivered status, with no sender; the user info holds the status under the item key.
inline constexpr const char* ReachabilityDidChangeNotification = "org.pexo.rigmora.httpclient.reachability.change";
inline constexpr const char* ReachabilityNotificationStatusItem = "org.pexo.rigmora.httpclient.reachability.status";

// The status the reachability flags stand for; never "via WWAN".
NetworkReachabilityStatus NetworkReachabilityStatusForFlags(std::uint32_t flags);
std::string StringFromNetworkReachabilityStatus(NetworkReachabilityStatus status);

// Watches whether the network (or one host) can be reached: keeps the last status and calls one
// status-change block on the main queue at each change.
class NetworkReachabilityManager : public std::enable_shared_from_this<NetworkReachabilityManager> {
public:
    using StatusBlock = std::function<void(NetworkReachabilityStatus status)>;
    enum Association : std::uint64_t { kAssociationAddress = 1, kAssociationDomain = 3 };

    // The process-wide manager for the zero IPv4 address (the network in general), on the kernel's
    // routing state and the shared dispatch.
    static NetworkReachabilityManager& sharedManager();
    static std::shared_ptr<NetworkReachabilityManager> managerForAddress(const sockaddr* address,
                                                                         platform::ReachabilityProvider& provider,
                                                                         platform::Dispatch& dispatch);
    static std::shared_ptr<NetworkReachabilityManager> managerForDomain(const std::string& domain,
                                                                        platform::ReachabilityProvider& provider,
                                                                        platform::Dispatch& dispatch);
    static std::shared_ptr<NetworkReachabilityManager> initWithReachability(
        std::unique_ptr<platform::Reachability> reachability, Association association, platform::Dispatch& dispatch);

    ~NetworkReachabilityManager();
    NetworkReachabilityManager(const NetworkReachabilityManager&) = delete;
    NetworkReachabilityManager& operator=(const NetworkReachabilityManager&) = delete;

    // Restarts from stopped; an address-based start also delivers the current status.
    void startMonitoring();
    void stopMonitoring();
    void setReachabilityStatusChangeBlock(StatusBlock block);
    // Where each change is also posted, on the main queue after the block: the default centre unless set.
    void setNotificationCenter(platform::NotificationCenter* center) { m_notificationCenter = center; }

    // Safe to read from any thread.
    NetworkReachabilityStatus networkReachabilityStatus() const { return m_status.load(); }
    Association networkReachabilityAssociation() const { return m_association; }
    bool isReachable() const { return isReachableViaWWAN() || isReachableViaWiFi(); }
    bool isReachableViaWWAN() const { return m_status.load() == kNetworkReachabilityStatusReachableViaWWAN; }
    bool isReachableViaWiFi() const { return m_status.load() == kNetworkReachabilityStatusReachableViaWiFi; }
    std::string localizedNetworkReachabilityStatusString() const;

private:
    struct Passkey {};

public:
    NetworkReachabilityManager(Passkey, std::unique_ptr<platform::Reachability> reachability, Association association,
                               platform::Dispatch& dispatch);

private:
    void deliver(std::uint64_t generation, NetworkReachabilityStatus status, bool postLater);

    // Shared with the reading of the first status, which must not keep the manager itself alive.
    std::shared_ptr<platform::Reachability> m_reachability;
    Association m_association;
    platform::Dispatch& m_dispatch;
    std::atomic<NetworkReachabilityStatus> m_status{kNetworkReachabilityStatusUnknown};
    // Each start or stop opens a new generation; deliveries of an older one are dropped.
    std::atomic<std::uint64_t> m_generation{0};
    mutable std::mutex m_blockMutex;
    StatusBlock m_block;
    std::atomic<platform::NotificationCenter*> m_notificationCenter{&platform::NotificationCenter::defaultCenter()};
};
