#include <algorithm>

#include <gtest/gtest.h>

#include "server/AllQFXData.h"
#include "server/DownloadAPIController.h"
#include "server/DownloadTempFolder.h"
#include "support/server/OKVServerSync.h"

namespace fs = std::filesystem;
using namespace support::okvsync;

TEST(OKVServerController, FirstRunOnlineStoresEveryDocumentAndThePictures)
{
    Sync s;
    const std::string catalogue = s.withPicture(kCatalogue);
    s.serveAll(catalogue);
    EXPECT_EQ(s.sync(5), (Events{"apps 2.0", "data http://x/qfx/", "files ready", "models 1.5", "picture yes"}));
    EXPECT_EQ(s.read("QFXMacApplication/ALLQFXServer"), catalogue);
    EXPECT_EQ(s.read("QFXMacApplication/AppsVersion"), kApps);
    EXPECT_EQ(s.read("QFXMacApplication/ModelsVersion"), kModels);
    EXPECT_EQ(s.read("QFXMacApplication/Image/12345678.png"), imagemaker::pngText(2, 2));
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

// Documents that keep the vocabulary's keys but hold the wrong kinds under them. Read leniently, each would
// look like a catalogue whose model lost its effects; stored, it would sweep the effect store.
TEST(OKVServerController, ACatalogueWithKeysOfTheWrongKindNeverReplacesTheStoredOneOrSweepsTheStore)
{
    const auto model = [](const std::string& effects) {
        return R"({"qfx_url":"http://y/qfx/","models":[{"modelId":"12345678","modelName":"QX-1","effects":)" +
               effects + "}]}";
    };
    const struct {
        const char* what;
        std::string document;
    } documents[] = {
        {"effects a string", model(R"("0B000123")")},
        {"effects an object", model(R"({"type":"0B000123","fileName":"0B000123.zip","version":"1.0"})")},
        {"effects null", model("null")},
        {"effects a list of strings", model(R"(["0B000123"])")},
        {"effects a list with a number", model(R"([{"type":"0C000200","fileName":"a.zip","version":"1"},7])")},
        {"type a number", model(R"([{"type":184549667,"fileName":"0B000123.zip","version":"1.0"}])")},
        {"type null", model(R"([{"type":null,"fileName":"0B000123.zip","version":"1.0"}])")},
        {"type missing", model(R"([{"fileName":"0B000123.zip","version":"1.0"}])")},
        {"type no folder name", model(R"([{"type":"../0B000123","fileName":"0B000123.zip","version":"1.0"}])")},
        {"version a number", model(R"([{"type":"0B000123","fileName":"0B000123.zip","version":2}])")},
        {"fileName a list", model(R"([{"type":"0B000123","fileName":["0B000123.zip"],"version":"1.0"}])")},
        {"models an object", R"({"qfx_url":"http://y/qfx/","models":{"modelId":"12345678"}})"},
        {"models a list of strings", R"({"qfx_url":"http://y/qfx/","models":["12345678"]})"},
        {"a model among strings", R"({"qfx_url":"http://y/qfx/","models":[{"modelId":"12345678"},"x"]})"},
        {"qfx_url a list", R"({"qfx_url":["http://y/qfx/"],"models":[{"modelId":"12345678","effects":[]}]})"},
        {"modelId a number", R"({"qfx_url":"http://y/qfx/","models":[{"modelId":305419896,"effects":[]}]})"},
        {"region levels of text", R"({"qfx_url":"http://y/qfx/","models":[{"modelId":"1","qfxRegionLevels":["1"]}]})"},
        {"unit count a string", R"({"qfx_url":"http://y/qfx/","models":[{"modelId":"1","qfxMaxNumOfUnit":"9"}]})"},
    };
    for (const auto& d : documents) {
        EXPECT_TRUE(AllQFXData::initWithDic(nlohmann::json::parse(d.document)).isError()) << d.what;

        Sync s;
        s.serveAll(d.document);
        s.write("QFXMacApplication/ALLQFXServer", kCatalogue);
        s.write("QFXMacApplication/Effect/0B000123/0B000123.QF2", "module");
        s.write("QFXMacApplication/Effect/0C000200/0C000200.QF2", "other");
        // The stored catalogue is what the run reports, never the fetched one.
        EXPECT_EQ(s.sync(4), (Events{"apps 2.0", "data http://x/qfx/", "files ready", "models 1.5"})) << d.what;
        EXPECT_EQ(s.read("QFXMacApplication/ALLQFXServer"), kCatalogue) << d.what;
        EXPECT_EQ(s.read("QFXMacApplication/Effect/0B000123/0B000123.QF2"), "module") << d.what;
        EXPECT_EQ(s.read("QFXMacApplication/Effect/0C000200/0C000200.QF2"), "other") << d.what;

        // Without a stored copy nothing is ready, and the store is still left alone.
        Sync bare;
        bare.serveAll(d.document);
        bare.write("QFXMacApplication/Effect/0B000123/0B000123.QF2", "module");
        EXPECT_EQ(bare.sync(4), (Events{"apps 2.0", "data none", "models 1.5", "server no"})) << d.what;
        EXPECT_FALSE(fs::exists(bare.root / "QFXMacApplication/ALLQFXServer")) << d.what;
        EXPECT_EQ(bare.read("QFXMacApplication/Effect/0B000123/0B000123.QF2"), "module") << d.what;

        // Stored by an earlier version of the program, it is refused as the offline copy too.
        Sync offline;
        offline.write("QFXMacApplication/ALLQFXServer", d.document);
        EXPECT_EQ(offline.offline(0, 1), (Events{"data none"})) << d.what;
    }
}

// The pictures are asked for at the end of every run; until a good one arrives the model keeps the one it had.
TEST(OKVServerController, AFailedPictureKeepsTheModelsOldOne)
{
    using Reply = support::LoopbackServer::Reply;
    const std::string old = imagemaker::pngText(5, 5);
    const struct {
        const char* what;
        std::optional<Reply> reply;  // none: a redirect to a missing picture
        bool replaced;
    } pictures[] = {
        {"a server error", Reply{500, "text/plain", "down", {}}, false},
        {"9 MiB", Reply{200, "image/png", std::string(9u << 20, 'x'), {}}, false},
        {"a redirect to 404", std::nullopt, false},
        {"an HTML page", Reply{200, "text/html", "<html></html>", {}}, false},
        {"a good picture", Reply{200, "image/png", imagemaker::pngText(2, 2), {}}, true},
    };
    for (const auto& p : pictures) {
        Sync s;
        s.serveAll(s.withPicture(kCatalogue));
        if (p.reply) s.server.serve("/img/12345678.png", *p.reply);
        else s.server.redirect("/img/12345678.png", "/img/gone.png");
        s.write("QFXMacApplication/Image/12345678.png", old);
        // A model the catalogue no longer lists has no picture to wait for.
        s.write("QFXMacApplication/Image/87654321.png", old);
        const std::string answer = p.replaced ? "picture yes" : "picture no";
        EXPECT_EQ(s.sync(5), (Events{"apps 2.0", "data http://x/qfx/", "files ready", "models 1.5", answer})) << p.what;
        EXPECT_EQ(s.read("QFXMacApplication/Image/12345678.png"), p.replaced ? imagemaker::pngText(2, 2) : old) << p.what;
        EXPECT_FALSE(fs::exists(s.root / "QFXMacApplication/Image/87654321.png")) << p.what;
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
        // Stored right after it is reported, on the controller's thread.
        EXPECT_TRUE(s.loop.runUntil([&] { return s.read("QFXMacApplication/ALLQFXServer") == kCatalogue; }));
    }
}

TEST(OKVServerController, ARootPastThePathLimitIsReadAsHoldingNothing)
{
    // The system refuses every path beneath such a root; the sync finds nothing stored rather than throwing.
    Sync s;
    s.root = s.root / std::string(250, 'r');
    while (s.root.string().size() < 4082) s.root /= std::string(std::min<std::size_t>(250, 4082 - s.root.string().size() - 1), 'r');
    EXPECT_EQ(s.offline(0, 1), (Events{"internet no"}));
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
    // The sync clears the download folder while the archive is still coming; the archive is held in
    // memory, never in that folder, so the clearing cannot take it.
    s.write("OKVServerTemp/left-over.json", "{}");
    s.sync(5);
    EXPECT_FALSE(fs::exists(s.root / "OKVServerTemp/left-over.json"));
    EXPECT_FALSE(DownloadTempFolder::latest((s.root / "OKVServerTemp").string(), "0B000123.zip"));
    // The stalled answer is no archive: it still reaches the unpacker whole, and the batch hears one
    // failure.
    s.server.release();
    s.loop.runUntil([&] { return code != 0; });
    EXPECT_EQ(code, DownloadAPIController::kUnpackFailed);
    EXPECT_FALSE(DownloadTempFolder::latest((s.root / "OKVServerTemp").string(), "0B000123.zip"));
}
