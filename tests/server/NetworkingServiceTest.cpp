#include <gtest/gtest.h>

#include "support/server/NetworkingFixture.h"

using namespace support::networking;

TEST(NetworkingService, ArchivesStayOnDiskAndDocumentsAreHandedOver)
{
    Fixture f;
    f.server.serve("/qfx/0A000001.zip", std::string(200000, 'z'), "application/zip");
    f.server.serve("/AllQFX.json", "{\"models\":[]}", "application/json");
    f.server.serve("/empty.json", "", "application/json");

    const auto archive = (f.folder / "0A000001.zip").string();
    auto outcome = f.download("/qfx/0A000001.zip", archive);
    EXPECT_TRUE(outcome->succeeded && outcome->onBackground);
    EXPECT_FALSE(outcome->data);
    EXPECT_EQ(std::filesystem::file_size(archive), 200000u);
    // An existing file is replaced, not appended to.
    const auto document = (f.folder / "AllQFX.json").string();
    std::ofstream(document) << "stale content that is longer than the new one";
    outcome = f.download("/AllQFX.json", document);
    ASSERT_TRUE(outcome->succeeded);
    EXPECT_EQ(outcome->data, (Bytes{'{', '"', 'm', 'o', 'd', 'e', 'l', 's', '"', ':', '[', ']', '}'}));
    outcome = f.download("/empty.json", (f.folder / "empty.json").string());
    ASSERT_TRUE(outcome->succeeded && outcome->data);
    EXPECT_TRUE(outcome->data->empty());
    EXPECT_EQ(outcome->calls, 1);
}

// A failed download, and one beyond its size or time limit, leaves no file. A trickle of a byte now and then
// fails as a stall does, long before the total limit; a download that keeps above the floor is never cut.
// One held in memory hands its body over and leaves no file; one beyond the held-bytes limit fails as too
// large whether its length was announced or not, and one announcing far more than it sends fails as cut,
// having made room only up to the limit. The stall and time limits hold as for files.
TEST(NetworkingService, FailedDownloadsAndThoseBeyondTheirSizeOrTimeLimitLeaveNoFileOnDiskOrInMemory)
{
    Fixture f;
    f.server.truncate("/cut.zip", std::string(1000, 'c'), 3000);
    f.server.serve("/big.json", std::string(2000, 'j'), "application/json");
    f.server.serve("/big.zip", std::string(5000, 'z'), "application/zip");
    f.server.serve("/fits.zip", std::string(3000, 'z'), "application/zip");
    f.server.serve("/steady.zip", std::string(300000, 's'), "application/zip");
    f.server.trickle("/endless.zip", std::chrono::milliseconds(20));
    f.server.serve("/empty.zip", "", "application/zip");
    f.server.serve("/unannounced.zip", LoopbackServer::Reply{200, "application/zip", std::string(5000, 'u'), {}, 700});
    f.server.truncate("/liar.zip", std::string(1000, 'l'), std::size_t(1) << 40);
    const NetworkingService::Limits tight{4096, 1024, 0.5}, floor{1 << 20, 1024, 600, 1024, 0.5};
    // The total limit and the floor each say which stopped the download.
    const std::tuple<const char*, NetworkingService::Limits, std::int64_t, std::string> cases[] = {
        {"missing.zip", tight, -1011, ""}, {"cut.zip", tight, URLErrorNetworkConnectionLost, ""},
        {"big.json", tight, URLErrorDataLengthExceedsMaximum, ""}, {"big.zip", tight, URLErrorDataLengthExceedsMaximum, ""},
        {"fits.zip", tight, 0, ""},
        {"endless.zip", tight, URLErrorTimedOut, "The request took longer than its time limit."},
        {"endless.zip", floor, URLErrorTimedOut, "The request timed out."}, {"steady.zip", floor, 0, ""}};
    for (const auto& [name, limits, code, said] : cases) {
        const auto path = (f.folder / name).string();
        auto outcome = f.download(std::string("/") + name, path, limits);
        EXPECT_EQ(outcome->error ? outcome->error->code : 0, code) << name;
        if (!said.empty()) { EXPECT_EQ(outcome->error->description, said) << name; }
        EXPECT_EQ(std::filesystem::exists(path), code == 0) << name;
        EXPECT_TRUE(outcome->onBackground) << name;
    }
    EXPECT_EQ(std::filesystem::file_size(f.folder / "steady.zip"), 300000u);
    std::filesystem::remove(f.folder / "steady.zip");
    NetworkingService::Limits held{1 << 20, 1024, 0.5};
    held.heldBytes = 4096;
    const std::tuple<const char*, std::int64_t, std::size_t> inMemory[] = {
        {"fits.zip", 0, 3000}, {"empty.zip", 0, 0}, {"big.zip", URLErrorDataLengthExceedsMaximum, 0},
        {"unannounced.zip", URLErrorDataLengthExceedsMaximum, 0}, {"liar.zip", URLErrorNetworkConnectionLost, 0},
        {"missing.zip", -1011, 0}, {"endless.zip", URLErrorTimedOut, 0}};
    for (const auto& [name, code, size] : inMemory) {
        SCOPED_TRACE(name);
        auto outcome = f.download(std::string("/") + name, std::nullopt, held);
        EXPECT_EQ(std::tuple(outcome->calls, outcome->error ? outcome->error->code : 0, outcome->succeeded, outcome->onBackground),
                  std::tuple(1, code, code == 0, true));
        EXPECT_EQ(outcome->data ? *outcome->data : Bytes{}, Bytes(size, 'z'));
    }
    f.server.release();
    // A folder that does not exist: the file cannot be written, and that is a failure.
    auto outcome = f.download("/fits.zip", (f.folder / "no" / "such.zip").string());
    ASSERT_FALSE(outcome->succeeded);
    EXPECT_EQ(outcome->error->code, ENOENT);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(f.folder), {}), 1) << "only fits.zip, downloaded to a file";
}

TEST(NetworkingService, ReachabilityGoesToTheLatestCallerOnly)
{
    Fixture f;
    FakeReachabilityProvider provider(f.loop);
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    auto manager = NetworkReachabilityManager::managerForAddress(reinterpret_cast<const sockaddr*>(&zero), provider, f.dispatch);
    // Blocks may still arrive on background threads while the test ends: they hold what they fill.
    struct Heard {
        std::mutex mutex;
        std::vector<bool> first, second;
    };
    auto heard = std::make_shared<Heard>();
    const auto into = [heard](std::vector<bool> Heard::*list) {
        return [heard, list](bool reachable) {
            std::lock_guard lock(heard->mutex);
            ((*heard).*list).push_back(reachable);
        };
    };
    const auto until = [&](auto ready) {
        f.loop.runUntil([&] {
            std::lock_guard lock(heard->mutex);
            return ready(*heard);
        });
    };
    auto service = std::make_shared<NetworkingService>(f.dispatch, manager.get());
    service->requestInternetConnectWithBlock(into(&Heard::first));
    provider.setFlags(0);
    until([](const Heard& h) { return !h.first.empty(); });
    auto other = std::make_shared<NetworkingService>(f.dispatch, manager.get());
    other->requestInternetConnectWithBlock(into(&Heard::second));
    // The new caller's first report (the flags read as monitoring starts) comes on a background thread
    // of its own; a change posted before it lands could be heard in either order.
    until([](const Heard& h) { return !h.second.empty(); });
    provider.setFlags(kReachabilityFlagReachable);
    until([](const Heard& h) { return !h.second.empty() && h.second.back(); });
    manager->stopMonitoring();
    std::lock_guard lock(heard->mutex);
    EXPECT_FALSE(heard->first.empty());
    EXPECT_EQ(std::count(heard->first.begin(), heard->first.end(), true), 0);
    ASSERT_FALSE(heard->second.empty());
    EXPECT_TRUE(heard->second.back());
}
