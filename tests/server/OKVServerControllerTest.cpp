#include <gtest/gtest.h>

#include <netinet/in.h>

#include <mutex>

#include "httpclient/NetworkReachabilityManager.h"
#include "platform/reachability/FakeReachabilityProvider.h"
#include "server/DownloadAPIController.h"
#include "server/OKVServerController.h"
#include "support/server/ServerFixture.h"
#include "server/DownloadTempFolder.h"

namespace fs = std::filesystem;

namespace {

const std::string kCatalogue = R"({"qfx_url":"http://x/qfx/","models":[{"modelId":"12345678","modelName":"QX-1",
    "jpegImage":"PICTURE","effects":[{"type":"0B000123","fileName":"0B000123.zip","version":"1.0"}]}]})";
const std::string kApps = R"({"apps":[{"appName":"Tonvault","appVersionMac":"2.0"}]})";
const std::string kModels = R"({"models":[{"modelId":"12345678","modelVersion":"1.5"}]})";

// Every report as one line, in order, with the thread it came on checked.
struct Recorder : OKVServerDelegate {
    platform::Dispatch* dispatch = nullptr;
    std::mutex mutex;
    std::vector<std::string> events;
    std::optional<AllQFXData> data;
    bool onMain = false;

    void add(std::string event)
    {
        std::lock_guard lock(mutex);
        onMain = onMain || dispatch->main().isCurrent();
        events.push_back(std::move(event));
    }
    void appVersionFromServer(std::optional<AppsVersion> v) override
    {
        add(v ? "apps " + (v->appsList().empty() ? std::string("empty") : v->appsList()[0].appVersionMac())
              : "apps none");
    }
    void modelVersionFromServer(std::optional<ModelsVersion> v) override
    {
        add(v ? "models " + (v->modelsList().empty() ? std::string("empty") : v->modelsList()[0].modelVersion())
              : "models none");
    }
    void dataFromServer(std::optional<AllQFXData> d) override
    {
        {
            std::lock_guard lock(mutex);
            data = d;
        }
        add(d ? "data " + d->qfx_url().value_or("") : "data none");
    }
    void downloadFileSuccess(bool ok) override { add(ok ? "files ready" : "files failed"); }
    void connectServer(bool ok) override { add(ok ? "server yes" : "server no"); }
    void downloadImageSuccess(bool ok) override { add(ok ? "picture yes" : "picture no"); }
    void internetConnectionWithState(bool ok) override { add(ok ? "internet yes" : "internet no"); }
    std::vector<std::string> sorted()
    {
        std::lock_guard lock(mutex);
        auto copy = events;
        std::sort(copy.begin(), copy.end());
        return copy;
    }
};

struct Sync : ServerFixture {
    platform::FakeReachabilityProvider provider{loop};
    std::shared_ptr<NetworkReachabilityManager> manager;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();

    Sync()
    {
        recorder->dispatch = &dispatch;
        sockaddr_in zero{};
        zero.sin_family = AF_INET;
        manager = NetworkReachabilityManager::managerForAddress(reinterpret_cast<const sockaddr*>(&zero), provider,
                                                                dispatch);
    }
    ~Sync() { manager->stopMonitoring(); }

    std::shared_ptr<OKVServerController> controller()
    {
        auto c = OKVServerController::create(dispatch, root.string(), configuration(), manager.get());
        c->setDelegate(recorder);
        return c;
    }
    void serveAll(const std::string& catalogue)
    {
        server.serve("/v1/effects.json", catalogue, "application/json");
        server.serve("/v1/apps.json", kApps, "application/json");
        server.serve("/v1/models.json", kModels, "application/json");
        server.serve("/img/12345678.png", "png", "image/png");
    }
    std::string withPicture(std::string catalogue)
    {
        return catalogue.replace(catalogue.find("PICTURE"), 7, server.url("/img/12345678.png"));
    }
    // Waits until `count` reports have come, then a little more for any that should not.
    std::vector<std::string> run(std::size_t count)
    {
        loop.runUntil([&] {
            std::lock_guard lock(recorder->mutex);
            return recorder->events.size() >= count;
        });
        loop.runUntil([] { return false; }, std::chrono::milliseconds(100));
        EXPECT_FALSE(recorder->onMain);
        return recorder->sorted();
    }
    std::vector<std::string> sync(std::size_t count)
    {
        controller()->getAllQFXFileFromServer();
        return run(count);
    }
    std::vector<std::string> offline(std::uint32_t flags, std::size_t count)
    {
        provider.setFlags(flags);
        controller()->internetConnection();
        return run(count);
    }
};

using Events = std::vector<std::string>;

}  // namespace

TEST(OKVServerController, FirstRunOnlineStoresEveryDocumentAndThePictures)
{
    Sync s;
    const std::string catalogue = s.withPicture(kCatalogue);
    s.serveAll(catalogue);
    EXPECT_EQ(s.sync(5), (Events{"apps 2.0", "data http://x/qfx/", "files ready", "models 1.5", "picture yes"}));
    EXPECT_EQ(s.read("QFXMacApplication/ALLQFXServer"), catalogue);
    EXPECT_EQ(s.read("QFXMacApplication/AppsVersion"), kApps);
    EXPECT_EQ(s.read("QFXMacApplication/ModelsVersion"), kModels);
    EXPECT_EQ(s.read("QFXMacApplication/Image/12345678.png"), "png");
    ASSERT_TRUE(s.recorder->data);
    EXPECT_EQ(s.recorder->data->modelsList()->at(0).modelName(), "QX-1");

    // A second run with nothing new gives the same reports and leaves the stored copies alike.
    s.recorder->events.clear();
    EXPECT_EQ(s.sync(5), (Events{"apps 2.0", "data http://x/qfx/", "files ready", "models 1.5", "picture yes"}));
    EXPECT_EQ(s.read("QFXMacApplication/ALLQFXServer"), catalogue);
}

TEST(OKVServerController, BadOrMissingRepliesFallBackToTheStoredCopies)
{
    const struct {
        const char* what;
        support::LoopbackServer::Reply reply;
    } replies[] = {
        {"server down", {500, "text/plain", "down", {}}},
        {"empty", {200, "application/json", "", {}}},
        {"not JSON", {200, "text/html", "<html>", {}}},
        {"error document", {200, "application/json", R"({"qfx_url":"u","models":[]})", {}}},
        {"no URL", {200, "application/json", R"({"models":[{"modelId":"1"}]})", {}}},
    };
    for (const auto& r : replies) {
        Sync s;
        s.serveAll("");
        s.server.serve("/v1/effects.json", r.reply);
        s.server.serve("/v1/apps.json", support::LoopbackServer::Reply{404, "text/plain", "", {}});
        s.write("QFXMacApplication/ALLQFXServer", kCatalogue);
        s.write("QFXMacApplication/AppsVersion", kApps);
        // The store holds the catalogue's one effect, so nothing is fetched again.
        s.write("QFXMacApplication/Effect/0B000123/0B000123.QF2", "module");
        EXPECT_EQ(s.sync(4), (Events{"apps 2.0", "data http://x/qfx/", "files ready", "models 1.5"})) << r.what;
        EXPECT_EQ(s.read("QFXMacApplication/ALLQFXServer"), kCatalogue) << r.what;

        // With no stored copy: no data and no server, and the version chain still runs.
        Sync bare;
        bare.serveAll("");
        bare.server.serve("/v1/effects.json", r.reply);
        bare.server.serve("/v1/apps.json", support::LoopbackServer::Reply{404, "text/plain", "", {}});
        EXPECT_EQ(bare.sync(4), (Events{"apps none", "data none", "models 1.5", "server no"})) << r.what;
        EXPECT_FALSE(fs::exists(bare.root / "QFXMacApplication/ALLQFXServer")) << r.what;
    }
}

TEST(OKVServerController, OfflineBranchUsesWhatIsStored)
{
    {
        Sync s;
        EXPECT_EQ(s.offline(platform::kReachabilityFlagReachable, 1), (Events{"internet yes"}));
        // A later change of the status is not acted on again.
        s.provider.setFlags(0);
        EXPECT_EQ(s.run(1), (Events{"internet yes"}));
    }
    {
        Sync s;
        EXPECT_EQ(s.offline(0, 1), (Events{"internet no"}));
    }
    {
        Sync s;
        s.write("QFXMacApplication/ALLQFXServer", kCatalogue);
        EXPECT_EQ(s.offline(0, 2), (Events{"data http://x/qfx/", "files ready"}));
    }
    const char* unusable[] = {"not json", R"({"qfx_url":"u","models":[]})"};
    for (const char* stored : unusable) {
        Sync s;
        s.write("QFXMacApplication/ALLQFXServer", stored);
        EXPECT_EQ(s.offline(0, 1), (Events{"data none"})) << stored;
    }
    {
        // A catalogue an earlier fetch left in the download folder is used, and stored.
        Sync s;
        s.write("OKVServerTemp/effects-7.json", kCatalogue);
        EXPECT_EQ(s.offline(0, 2), (Events{"data http://x/qfx/", "files ready"}));
        EXPECT_EQ(s.read("QFXMacApplication/ALLQFXServer"), kCatalogue);
    }
}

TEST(OKVServerController, ServerCheckNeverHoldsTheMainThread)
{
    Sync s;
    s.serveAll(kCatalogue);
    s.server.stall("/v1/effects.json");
    // Called on the main thread while the server holds its answer: it returns at once.
    s.controller()->requestServerConnection();
    EXPECT_TRUE(s.recorder->sorted().empty());
    s.server.release();
    EXPECT_EQ(s.run(1), (Events{"server yes"}));
}

TEST(OKVServerController, ASyncDuringASlowArchiveLeavesItsDownloadAlone)
{
    Sync s;
    s.serveAll(s.withPicture(kCatalogue));
    s.server.stall("/qfx/0B000123.zip");
    std::atomic<int> code{0};
    DownloadAPIController::create(s.dispatch, s.root.string(), s.configuration())
        ->requestFile([&](bool, auto, std::optional<platform::Error> error) { code = error ? int(error->code) : -1; },
                      s.server.url("/qfx/0B000123.zip"), DownloadAPIController::TypeEffect{"0B000123"});
    s.loop.runUntil([&] { return s.server.hits("/qfx/0B000123.zip") > 0; });
    // The sync clears the download folder while the archive is still coming: its file stays.
    s.write("OKVServerTemp/left-over.json", "{}");
    s.sync(5);
    EXPECT_FALSE(fs::exists(s.root / "OKVServerTemp/left-over.json"));
    EXPECT_TRUE(DownloadTempFolder::latest((s.root / "OKVServerTemp").string(), "0B000123.zip"));
    // The stalled answer is no archive: it reaches the unpacker, so the file was still there, and the
    // batch hears one failure.
    s.server.release();
    s.loop.runUntil([&] { return code != 0; });
    EXPECT_EQ(code, DownloadAPIController::kUnpackFailed);
    EXPECT_FALSE(DownloadTempFolder::latest((s.root / "OKVServerTemp").string(), "0B000123.zip"));
}
