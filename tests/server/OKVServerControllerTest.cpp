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

// Answers that are no usable catalogue, and documents that keep the vocabulary's keys but hold the wrong
// kinds under them: read leniently, each would look like a catalogue whose model lost its effects, and
// stored, it would sweep the effect store. The stored copies stand in for each, and the store is left alone.
TEST(OKVServerController, AnUnusableCatalogueNeverReplacesTheStoredOneOrSweepsTheStore)
{
    const auto model = [](const std::string& effects) {
        return R"({"qfx_url":"http://y/qfx/","models":[{"modelId":"12345678","modelName":"QX-1","effects":)" + effects + "}]}";
    };
    const struct {
        const char* what;
        Reply reply;
        bool appsDown = false;  // the version document fails too: its stored copy stands in
    } answers[] = {
        {"server down", {500, "text/plain", "down", {}}, true},
        {"empty", {200, "application/json", "", {}}, true},
        {"not JSON", {200, "text/html", "<html>", {}}, true},
        {"error document", {200, "application/json", R"({"qfx_url":"u","models":[]})", {}}, true},
        {"no URL", {200, "application/json", R"({"models":[{"modelId":"1"}]})", {}}, true},
        {"effects a string", {200, "application/json", model(R"("0B000123")"), {}}},
        {"effects an object", {200, "application/json", model(R"({"type":"0B000123","fileName":"0B000123.zip","version":"1.0"})"), {}}},
        {"effects null", {200, "application/json", model("null"), {}}},
        {"effects a list of strings", {200, "application/json", model(R"(["0B000123"])"), {}}},
        {"effects a list with a number", {200, "application/json", model(R"([{"type":"0C000200","fileName":"a.zip","version":"1"},7])"), {}}},
        {"type a number", {200, "application/json", model(R"([{"type":184549667,"fileName":"0B000123.zip","version":"1.0"}])"), {}}},
        {"type null", {200, "application/json", model(R"([{"type":null,"fileName":"0B000123.zip","version":"1.0"}])"), {}}},
        {"type missing", {200, "application/json", model(R"([{"fileName":"0B000123.zip","version":"1.0"}])"), {}}},
        {"type no folder name", {200, "application/json", model(R"([{"type":"../0B000123","fileName":"0B000123.zip","version":"1.0"}])"), {}}},
        {"version a number", {200, "application/json", model(R"([{"type":"0B000123","fileName":"0B000123.zip","version":2}])"), {}}},
        {"fileName a list", {200, "application/json", model(R"([{"type":"0B000123","fileName":["0B000123.zip"],"version":"1.0"}])"), {}}},
        {"models an object", {200, "application/json", R"({"qfx_url":"http://y/qfx/","models":{"modelId":"12345678"}})", {}}},
        {"models a list of strings", {200, "application/json", R"({"qfx_url":"http://y/qfx/","models":["12345678"]})", {}}},
        {"a model among strings", {200, "application/json", R"({"qfx_url":"http://y/qfx/","models":[{"modelId":"12345678"},"x"]})", {}}},
        {"qfx_url a list", {200, "application/json", R"({"qfx_url":["http://y/qfx/"],"models":[{"modelId":"12345678","effects":[]}]})", {}}},
        {"modelId a number", {200, "application/json", R"({"qfx_url":"http://y/qfx/","models":[{"modelId":305419896,"effects":[]}]})", {}}},
        {"region levels of text", {200, "application/json", R"({"qfx_url":"http://y/qfx/","models":[{"modelId":"1","qfxRegionLevels":["1"]}]})", {}}},
        {"unit count a string", {200, "application/json", R"({"qfx_url":"http://y/qfx/","models":[{"modelId":"1","qfxMaxNumOfUnit":"9"}]})", {}}},
    };
    const auto serve = [](Sync& s, const auto& a) {
        s.serveAll("");
        s.server.serve("/v1/effects.json", a.reply);
        if (a.appsDown) s.server.serve("/v1/apps.json", Reply{404, "text/plain", "", {}});
        s.write("QFXMacApplication/Effect/0B000123/0B000123.QF2", "module");
    };
    for (const auto& a : answers) {
        SCOPED_TRACE(a.what);
        if (const auto json = nlohmann::json::parse(a.reply.body, nullptr, false); !json.is_discarded()) {
            EXPECT_TRUE(AllQFXData::initWithDic(json).isError());
        }
        // The stored catalogue is what the run reports, never the fetched one.
        Sync s;
        serve(s, a);
        s.write("QFXMacApplication/ALLQFXServer", kCatalogue);
        s.write("QFXMacApplication/AppsVersion", kApps);
        s.write("QFXMacApplication/Effect/0C000200/0C000200.QF2", "other");
        EXPECT_EQ(s.sync(4), (Events{"apps 2.0", "data http://x/qfx/", "files ready", "models 1.5"}));
        EXPECT_EQ(s.read("QFXMacApplication/ALLQFXServer"), kCatalogue);
        EXPECT_EQ(std::pair(s.read("QFXMacApplication/Effect/0B000123/0B000123.QF2"), s.read("QFXMacApplication/Effect/0C000200/0C000200.QF2")),
                  std::pair(std::string("module"), std::string("other")));

        // Without a stored copy nothing is ready, and the store is still left alone.
        Sync bare;
        serve(bare, a);
        EXPECT_EQ(bare.sync(4), (Events{a.appsDown ? "apps none" : "apps 2.0", "data none", "models 1.5", "server no"}));
        EXPECT_FALSE(fs::exists(bare.root / "QFXMacApplication/ALLQFXServer"));
        EXPECT_EQ(bare.read("QFXMacApplication/Effect/0B000123/0B000123.QF2"), "module");

        // Stored by an earlier version of the program, it is refused as the offline copy too.
        Sync offline;
        offline.write("QFXMacApplication/ALLQFXServer", a.reply.body);
        EXPECT_EQ(offline.offline(0, 1), (Events{"data none"}));
    }
}

// The pictures are asked for at the end of every run; until a good one arrives the model keeps the one it had.
TEST(OKVServerController, AFailedPictureKeepsTheModelsOldOne)
{
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
        EXPECT_EQ(s.sync(5), (Events{"apps 2.0", "data http://x/qfx/", "files ready", "models 1.5",
                                     p.replaced ? "picture yes" : "picture no"})) << p.what;
        EXPECT_EQ(s.read("QFXMacApplication/Image/12345678.png"), p.replaced ? imagemaker::pngText(2, 2) : old) << p.what;
        EXPECT_FALSE(fs::exists(s.root / "QFXMacApplication/Image/87654321.png")) << p.what;
    }
}

TEST(OKVServerController, OfflineBranchUsesWhatIsStoredAndTheServerCheckNeverHoldsTheMainThread)
{
    const Events stored{"data http://x/qfx/", "files ready"};
    Sync reachable;
    EXPECT_EQ(reachable.offline(platform::kReachabilityFlagReachable, 1), (Events{"internet yes"}));
    // A later change of the status is not acted on again.
    reachable.provider.setFlags(0);
    EXPECT_EQ(reachable.run(1), (Events{"internet yes"}));
    Sync nothing;
    EXPECT_EQ(nothing.offline(0, 1), (Events{"internet no"}));
    // The system refuses every path beneath a root past the path limit: the run finds nothing stored rather than throwing.
    Sync deep;
    while (deep.root.string().size() < 4082) deep.root /= std::string(std::min<std::size_t>(250, 4082 - deep.root.string().size() - 1), 'r');
    EXPECT_EQ(deep.offline(0, 1), (Events{"internet no"}));
    Sync kept;
    kept.write("QFXMacApplication/ALLQFXServer", kCatalogue);
    EXPECT_EQ(kept.offline(0, 2), stored);
    // A catalogue an earlier fetch left in the download folder is used, and stored right after it is reported.
    Sync left;
    left.write("OKVServerTemp/effects-7.json", kCatalogue);
    EXPECT_EQ(left.offline(0, 2), stored);
    EXPECT_TRUE(left.loop.runUntil([&] { return left.read("QFXMacApplication/ALLQFXServer") == kCatalogue; }));
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
    // The stalled answer is no archive: it still reaches the unpacker whole, and the batch hears one failure.
    s.server.release();
    s.loop.runUntil([&] { return code != 0; });
    EXPECT_EQ(code, DownloadAPIController::kUnpackFailed);
    EXPECT_FALSE(DownloadTempFolder::latest((s.root / "OKVServerTemp").string(), "0B000123.zip"));
}
