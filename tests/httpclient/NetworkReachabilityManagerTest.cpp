#include <gtest/gtest.h>

#include <netinet/in.h>

#include "httpclient/NetworkReachabilityManager.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/reachability/FakeReachabilityProvider.h"

using namespace platform;

namespace {

struct ReachabilityFixture : ::testing::Test {
    RunLoop loop;
    Dispatch dispatch{loop, 1};
    FakeReachabilityProvider provider{loop};
    std::vector<NetworkReachabilityStatus> seen;

    std::shared_ptr<NetworkReachabilityManager> makeManager()
    {
        sockaddr_in zero{};
        zero.sin_family = AF_INET;
        auto manager =
            NetworkReachabilityManager::managerForAddress(reinterpret_cast<const sockaddr*>(&zero), provider, dispatch);
        manager->setReachabilityStatusChangeBlock([this](NetworkReachabilityStatus status) {
            EXPECT_TRUE(loop.isMainThread());
            seen.push_back(status);
        });
        return manager;
    }
    // The first status of an address-based start is read on a background thread.
    // Returns whether they came, so a test stops before reading a delivery that never arrived.
    bool waitForDeliveries(std::size_t count)
    {
        return loop.runUntil([&] { return seen.size() >= count; }, std::chrono::seconds(30));
    }
};

}  // namespace

TEST(NetworkReachabilityStatusForFlags, MapsFlagCombinations)
{
    const std::uint32_t reachable = kReachabilityFlagReachable;
    const std::uint32_t required = reachable | kReachabilityFlagConnectionRequired;
    EXPECT_EQ(NetworkReachabilityStatusForFlags(reachable), kNetworkReachabilityStatusReachableViaWiFi);
    EXPECT_EQ(NetworkReachabilityStatusForFlags(required), kNetworkReachabilityStatusNotReachable);
    EXPECT_EQ(NetworkReachabilityStatusForFlags(required | kReachabilityFlagConnectionOnTraffic),
              kNetworkReachabilityStatusReachableViaWiFi);
    EXPECT_EQ(NetworkReachabilityStatusForFlags(required | kReachabilityFlagConnectionOnDemand),
              kNetworkReachabilityStatusReachableViaWiFi);
    EXPECT_EQ(NetworkReachabilityStatusForFlags(required | kReachabilityFlagConnectionOnTraffic |
                                                kReachabilityFlagInterventionRequired),
              kNetworkReachabilityStatusNotReachable);
    EXPECT_EQ(NetworkReachabilityStatusForFlags(0), kNetworkReachabilityStatusNotReachable);
    EXPECT_EQ(NetworkReachabilityStatusForFlags(kReachabilityFlagConnectionOnTraffic),
              kNetworkReachabilityStatusNotReachable);
    EXPECT_EQ(StringFromNetworkReachabilityStatus(7), "Unknown");
}

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
    EXPECT_EQ(seen, (std::vector<NetworkReachabilityStatus>{2, 0}));
    EXPECT_FALSE(manager->isReachable());

    manager->stopMonitoring();
    provider.setFlags(kReachabilityFlagReachable);
    loop.runUntilIdle();
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(ReachabilityFixture, StartingTwiceDeliversOncePerChange)
{
    auto manager = makeManager();
    provider.setFlags(kReachabilityFlagReachable);
    manager->startMonitoring();
    manager->startMonitoring();
    ASSERT_TRUE(waitForDeliveries(1));
    loop.runUntil([] { return false; }, std::chrono::milliseconds(20));
    EXPECT_EQ(seen.size(), 1u) << "the first start's status is dropped by the second";
    EXPECT_EQ(provider.scheduledCount(), 1u);

    provider.setFlags(0);
    loop.runUntilIdle();
    EXPECT_EQ(seen, (std::vector<NetworkReachabilityStatus>{2, 0}));
}

TEST_F(ReachabilityFixture, ReplacedBlockAloneHearsLaterChanges)
{
    auto manager = makeManager();
    provider.setFlags(kReachabilityFlagReachable);
    manager->startMonitoring();
    ASSERT_TRUE(waitForDeliveries(1));
    std::vector<NetworkReachabilityStatus> second;
    manager->setReachabilityStatusChangeBlock([&](NetworkReachabilityStatus s) { second.push_back(s); });
    provider.setFlags(0);
    loop.runUntilIdle();
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(second, std::vector<NetworkReachabilityStatus>{0});
}

TEST_F(ReachabilityFixture, UnreadableFlagsGiveUnknownAndAGoneManagerHearsNothing)
{
    provider.setFlagsUnavailable(true);
    auto manager = makeManager();
    manager->startMonitoring();
    ASSERT_TRUE(waitForDeliveries(1));
    EXPECT_EQ(seen.back(), kNetworkReachabilityStatusUnknown);

    provider.setFlags(kReachabilityFlagReachable);
    manager.reset();
    loop.runUntilIdle();
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(ReachabilityFixture, DomainManagersWaitForTheFirstChange)
{
    auto manager = NetworkReachabilityManager::managerForDomain("example.invalid", provider, dispatch);
    EXPECT_EQ(manager->networkReachabilityAssociation(), NetworkReachabilityManager::kAssociationDomain);
    std::vector<NetworkReachabilityStatus> heard;
    manager->setReachabilityStatusChangeBlock([&](NetworkReachabilityStatus s) { heard.push_back(s); });
    manager->startMonitoring();
    loop.runUntil([] { return false; }, std::chrono::milliseconds(20));
    EXPECT_TRUE(heard.empty());
    provider.setFlags(kReachabilityFlagReachable);
    loop.runUntilIdle();
    EXPECT_EQ(heard, std::vector<NetworkReachabilityStatus>{2});
}

TEST_F(ReachabilityFixture, EachDeliveredStatusIsPostedOnceAfterTheBlock)
{
    NotificationCenter center;
    std::vector<NetworkReachabilityStatus> posted;
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
    provider.setFlags(0);
    loop.runUntilIdle();
    EXPECT_EQ(posted, (std::vector<NetworkReachabilityStatus>{2, 0})) << "the dropped first start posts nothing";

    // A manager not told otherwise, the shared one among them, posts on the default centre.
    auto& shared = NotificationCenter::defaultCenter();
    const auto token = shared.addObserver(ReachabilityDidChangeNotification, nullptr, [&](auto&) { posted.push_back(-9); });
    auto plain = makeManager();
    plain->startMonitoring();
    ASSERT_TRUE(waitForDeliveries(3));
    shared.removeObserver(token);
    EXPECT_EQ(posted.back(), -9);
}
