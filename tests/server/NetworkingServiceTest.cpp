#include <gtest/gtest.h>

#include "support/server/NetworkingFixture.h"

using namespace support::networking;

TEST(NetworkingService, ArchivesStayOnDiskAndDocumentsAreHandedOver)
{
    Fixture fixture;
    LoopbackServer server;
    server.serve("/qfx/0A000001.zip", std::string(200000, 'z'), "application/zip");
    server.serve("/AllQFX.json", "{\"models\":[]}", "application/json");
    server.serve("/empty.json", "", "application/json");

    const auto archive = (fixture.folder / "0A000001.zip").string();
    auto outcome = fixture.download(server.url("/qfx/0A000001.zip"), archive);
    EXPECT_TRUE(outcome->succeeded);
    EXPECT_FALSE(outcome->data);
    EXPECT_TRUE(outcome->onBackground);
    EXPECT_EQ(std::filesystem::file_size(archive), 200000u);

    // An existing file is replaced, not appended to.
    const auto document = (fixture.folder / "AllQFX.json").string();
    std::ofstream(document) << "stale content that is longer than the new one";
    outcome = fixture.download(server.url("/AllQFX.json"), document);
    ASSERT_TRUE(outcome->succeeded);
    EXPECT_EQ(outcome->data, (Bytes{'{', '"', 'm', 'o', 'd', 'e', 'l', 's', '"', ':', '[', ']', '}'}));

    outcome = fixture.download(server.url("/empty.json"), (fixture.folder / "empty.json").string());
    ASSERT_TRUE(outcome->succeeded);
    ASSERT_TRUE(outcome->data);
    EXPECT_TRUE(outcome->data->empty());
    EXPECT_EQ(outcome->calls, 1);
}

TEST(NetworkingService, FailedDownloadsAndThoseBeyondTheirSizeOrTimeLimitLeaveNoFile)
{
    Fixture fixture;
    LoopbackServer server;
    server.truncate("/cut.zip", std::string(1000, 'c'), 3000);
    server.serve("/big.json", std::string(2000, 'j'), "application/json");
    server.serve("/big.zip", std::string(5000, 'z'), "application/zip");
    server.serve("/fits.zip", std::string(3000, 'z'), "application/zip");
    server.trickle("/endless.zip", std::chrono::milliseconds(20));
    const std::pair<const char*, std::int64_t> cases[] = {{"missing.zip", -1011}, {"cut.zip", URLErrorNetworkConnectionLost},
        {"big.json", URLErrorDataLengthExceedsMaximum}, {"big.zip", URLErrorDataLengthExceedsMaximum}, {"fits.zip", 0},
        {"endless.zip", URLErrorTimedOut}};
    for (const auto& [name, code] : cases) {
        const auto path = (fixture.folder / name).string();
        auto outcome = fixture.download(server.url(std::string("/") + name), path, NetworkingService::Limits{4096, 1024, 0.5});
        EXPECT_EQ(outcome->error ? outcome->error->code : 0, code) << name;
        EXPECT_EQ(std::filesystem::exists(path), code == 0) << name;
        EXPECT_TRUE(outcome->onBackground) << name;
    }
    server.release();

    // A folder that does not exist: the file cannot be written, and that is a failure.
    auto outcome = fixture.download(server.url("/fits.zip"), (fixture.folder / "no" / "such.zip").string());
    ASSERT_FALSE(outcome->succeeded);
    EXPECT_EQ(outcome->error->code, ENOENT);
}

// A download held in memory hands its body over and leaves no file; one beyond the held-bytes limit fails
// as too large whether its length was announced or not, and one announcing far more than it sends fails
// as cut, having made room only up to the limit. The stall and time limits hold as for files.
TEST(NetworkingService, DownloadsIntoMemoryHandOverTheBodyWithinTheHeldLimit)
{
    Fixture fixture;
    LoopbackServer server;
    server.serve("/fits.zip", std::string(3000, 'z'), "application/zip");
    server.serve("/empty.zip", "", "application/zip");
    server.serve("/big.zip", std::string(5000, 'z'), "application/zip");
    LoopbackServer::Reply unannounced{200, "application/zip", std::string(5000, 'u'), {}};
    unannounced.chunkSize = 700;
    server.serve("/unannounced.zip", unannounced);
    server.truncate("/liar.zip", std::string(1000, 'l'), std::size_t(1) << 40);
    server.serve("/missing.zip", LoopbackServer::Reply{404, "text/html", "<html>gone</html>", {}});
    server.trickle("/endless.zip", std::chrono::milliseconds(20));
    NetworkingService::Limits limits{1 << 20, 1024, 0.5};
    limits.heldBytes = 4096;
    const struct {
        const char* name;
        std::int64_t code;
        std::size_t size;
    } cases[] = {{"fits.zip", 0, 3000},
                 {"empty.zip", 0, 0},
                 {"big.zip", URLErrorDataLengthExceedsMaximum, 0},
                 {"unannounced.zip", URLErrorDataLengthExceedsMaximum, 0},
                 {"liar.zip", URLErrorNetworkConnectionLost, 0},
                 {"missing.zip", -1011, 0},
                 {"endless.zip", URLErrorTimedOut, 0}};
    for (const auto& c : cases) {
        auto outcome = fixture.hold(server.url(std::string("/") + c.name), limits);
        EXPECT_EQ(outcome->calls, 1) << c.name;
        EXPECT_EQ(outcome->error ? outcome->error->code : 0, c.code) << c.name;
        EXPECT_EQ(outcome->succeeded, c.code == 0) << c.name;
        EXPECT_EQ(outcome->data ? *outcome->data : Bytes{}, Bytes(c.size, 'z')) << c.name;
        EXPECT_TRUE(outcome->onBackground) << c.name;
    }
    server.release();
    EXPECT_TRUE(std::filesystem::is_empty(fixture.folder));
}

// A trickle of a byte now and then fails as a stall does, long before the total limit, and leaves no file;
// a download that keeps above the floor is never cut.
TEST(NetworkingService, ADownloadBelowTheFloorFailsAsAStalledOne)
{
    Fixture fixture;
    LoopbackServer server;
    server.trickle("/trickle.zip", std::chrono::milliseconds(20));
    server.serve("/steady.zip", std::string(300000, 's'), "application/zip");
    const NetworkingService::Limits limits{1 << 20, 1024, 600, 1024, 0.5};

    const auto trickled = (fixture.folder / "trickle.zip").string();
    auto outcome = fixture.download(server.url("/trickle.zip"), trickled, limits);
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->code, URLErrorTimedOut);
    EXPECT_EQ(outcome->error->description, "The request timed out.");
    EXPECT_FALSE(std::filesystem::exists(trickled));
    server.release();

    const auto steady = (fixture.folder / "steady.zip").string();
    outcome = fixture.download(server.url("/steady.zip"), steady, limits);
    EXPECT_TRUE(outcome->succeeded);
    EXPECT_EQ(std::filesystem::file_size(steady), 300000u);
}

TEST(NetworkingService, ReachabilityGoesToTheLatestCallerOnly)
{
    Fixture fixture;
    FakeReachabilityProvider provider(fixture.loop);
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    auto manager = NetworkReachabilityManager::managerForAddress(reinterpret_cast<const sockaddr*>(&zero), provider, fixture.dispatch);

    // Blocks may still arrive on background threads while the test ends: they hold what they fill.
    struct Heard {
        std::mutex mutex;
        std::vector<bool> first, second;
    };
    auto heard = std::make_shared<Heard>();
    auto service = std::make_shared<NetworkingService>(fixture.dispatch, manager.get());
    service->requestInternetConnectWithBlock([heard](bool reachable) {
        std::lock_guard lock(heard->mutex);
        heard->first.push_back(reachable);
    });
    provider.setFlags(0);
    fixture.loop.runUntil([&] {
        std::lock_guard lock(heard->mutex);
        return !heard->first.empty();
    });
    auto other = std::make_shared<NetworkingService>(fixture.dispatch, manager.get());
    other->requestInternetConnectWithBlock([heard](bool reachable) {
        std::lock_guard lock(heard->mutex);
        heard->second.push_back(reachable);
    });
    // The new caller's first report (the flags read as monitoring starts) comes on a background thread
    // of its own; a change posted before it lands could be heard in either order.
    fixture.loop.runUntil([&] {
        std::lock_guard lock(heard->mutex);
        return !heard->second.empty();
    });
    provider.setFlags(kReachabilityFlagReachable);
    fixture.loop.runUntil([&] {
        std::lock_guard lock(heard->mutex);
        return !heard->second.empty() && heard->second.back();
    });
    manager->stopMonitoring();
    std::lock_guard lock(heard->mutex);
    EXPECT_FALSE(heard->first.empty());
    for (bool reachable : heard->first) EXPECT_FALSE(reachable);
    ASSERT_FALSE(heard->second.empty());
    EXPECT_TRUE(heard->second.back());
}
