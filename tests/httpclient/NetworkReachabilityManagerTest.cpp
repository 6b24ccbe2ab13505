#include <gtest/gtest.h>

#include <netinet/in.h>

#include "httpclient/NetworkReachabilityManager.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/reachability/FakeReachabilityProvider.h"

using namespace platform;
using Statuses = std::vector<NetworkReachabilityStatus>;

namespace {

struct ReachabilityFixture : ::testing::Test {
    RunLoop loop;
    Dispatch dispatch{loop, 1};
    FakeReachabilityProvider provider{loop};
    Statuses seen;

    std::shared_ptr<NetworkReachabilityManager> makeManager()
    {
        sockaddr_in zero{};
        zero.sin_family = AF_INET;
        auto manager = NetworkReachabilityManager::managerForAddress(reinterpret_cast<const sockaddr*>(&zero), provider, dispatch);
        manager->setReachabilityStatusChangeBlock([this](NetworkReachabilityStatus status) {
            EXPECT_TRUE(loop.isMainThread());
            seen.push_back(status);
        });
        return manager;
    }
    // The first status of an address-based start is read on a background thread. Returns whether they came,
    // so a test stops before reading a delivery that never arrived.
    bool waitForDeliveries(std::size_t count) { return loop.runUntil([&] { return seen.size() >= count; }, std::chrono::seconds(30)); }
    void settle() { loop.runUntil([] { return false; }, std::chrono::milliseconds(20)); }
};

}  // namespace

TEST(NetworkReachabilityStatusForFlags, MapsFlagCombinations)
{
    const std::uint32_t reachable = kReachabilityFlagReachable, required = reachable | kReachabilityFlagConnectionRequired;
    const std::pair<std::uint32_t, NetworkReachabilityStatus> cases[] = {
        {reachable, kNetworkReachabilityStatusReachableViaWiFi},
        {required, kNetworkReachabilityStatusNotReachable},
        {required | kReachabilityFlagConnectionOnTraffic, kNetworkReachabilityStatusReachableViaWiFi},
        {required | kReachabilityFlagConnectionOnDemand, kNetworkReachabilityStatusReachableViaWiFi},
        {required | kReachabilityFlagConnectionOnTraffic | kReachabilityFlagInterventionRequired, kNetworkReachabilityStatusNotReachable},
        {0, kNetworkReachabilityStatusNotReachable},
        {kReachabilityFlagConnectionOnTraffic, kNetworkReachabilityStatusNotReachable},
    };
    for (const auto& [flags, status] : cases) EXPECT_EQ(NetworkReachabilityStatusForFlags(flags), status) << flags;
    EXPECT_EQ(StringFromNetworkReachabilityStatus(7), "Unknown");
}

// A replaced block alone hears later changes; after a stop, none hears any.
TEST_F(ReachabilityFixture, StartsUnknownThenDeliversTheFirstStatusAndEveryChange)
{
    auto manager = makeManager();
    EXPECT_EQ(manager->networkReachabilityStatus(), kNetworkReachabilityStatusUnknown);
    EXPECT_FALSE(manager->isReachable());
    EXPECT_EQ(manager->localizedNetworkReachabilityStatusString(), "Unknown");
    provider.setFlags(kReachabilityFlagReachable);
    loop.runUntilIdle();
    EXPECT_TRUE(seen.empty()) << "nothing before monitoring starts";

    manager->startMonitoring();
    ASSERT_TRUE(waitForDeliveries(1));
    EXPECT_EQ(seen.back(), kNetworkReachabilityStatusReachableViaWiFi);
    EXPECT_TRUE(manager->isReachableViaWiFi());
    provider.setFlags(kReachabilityFlagReachable | kReachabilityFlagConnectionRequired);
    loop.runUntilIdle();
    EXPECT_EQ(seen, (Statuses{2, 0}));
    EXPECT_FALSE(manager->isReachable());
    Statuses second;
    manager->setReachabilityStatusChangeBlock([&](NetworkReachabilityStatus s) { second.push_back(s); });
    for (const bool monitoring : {true, false}) {
        if (!monitoring) manager->stopMonitoring();
        provider.setFlags(monitoring ? std::uint32_t{kReachabilityFlagReachable} : 0U);
        loop.runUntilIdle();
    }
    EXPECT_EQ(std::pair(seen.size(), second), std::pair(std::size_t{2}, Statuses{2}));
}

// A second start drops the first one's status: the block hears each change once, and each is posted once,
// after the block has heard it.
TEST_F(ReachabilityFixture, StartingTwiceDeliversAndPostsOncePerChange)
{
    NotificationCenter center;
    Statuses posted;
    center.addObserver(ReachabilityDidChangeNotification, nullptr, [&](const Notification& note) {
        EXPECT_EQ(note.sender, nullptr);
        EXPECT_EQ(posted.size() + 1, seen.size()) << "the block hears a status before observers do";
        posted.push_back(std::any_cast<NetworkReachabilityStatus>(note.userInfo.at(ReachabilityNotificationStatusItem)));
    });
    auto manager = makeManager();
    manager->setNotificationCenter(&center);
    provider.setFlags(kReachabilityFlagReachable);
    manager->startMonitoring();
    manager->startMonitoring();
    ASSERT_TRUE(waitForDeliveries(1));
    settle();
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(provider.scheduledCount(), 1u);
    provider.setFlags(0);
    loop.runUntilIdle();
    EXPECT_EQ(seen, (Statuses{2, 0}));
    EXPECT_EQ(posted, (Statuses{2, 0}));

    // A manager not told otherwise, the shared one among them, posts on the default centre.
    auto& shared = NotificationCenter::defaultCenter();
    const auto token = shared.addObserver(ReachabilityDidChangeNotification, nullptr, [&](auto&) { posted.push_back(-9); });
    auto plain = makeManager();
    plain->startMonitoring();
    ASSERT_TRUE(waitForDeliveries(3));
    shared.removeObserver(token);
    EXPECT_EQ(posted.back(), -9);
}

// A domain manager waits for the first change; unreadable flags give unknown; a gone manager hears nothing.
TEST_F(ReachabilityFixture, DomainManagersWaitUnreadableFlagsGiveUnknownAndAGoneManagerHearsNothing)
{
    auto domain = NetworkReachabilityManager::managerForDomain("example.invalid", provider, dispatch);
    EXPECT_EQ(domain->networkReachabilityAssociation(), NetworkReachabilityManager::kAssociationDomain);
    Statuses heard;
    domain->setReachabilityStatusChangeBlock([&](NetworkReachabilityStatus s) { heard.push_back(s); });
    domain->startMonitoring();
    settle();
    EXPECT_TRUE(heard.empty());
    provider.setFlags(kReachabilityFlagReachable);
    loop.runUntilIdle();
    EXPECT_EQ(heard, Statuses{2});
    domain.reset();

    provider.setFlagsUnavailable(true);
    auto manager = makeManager();
    manager->startMonitoring();
    ASSERT_TRUE(waitForDeliveries(1));
    EXPECT_EQ(seen.back(), kNetworkReachabilityStatusUnknown);
    provider.setFlags(0);
    manager.reset();
    loop.runUntilIdle();
    EXPECT_EQ(seen.size(), 1u);
}

