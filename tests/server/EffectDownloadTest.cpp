#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <atomic>

#include "platform/plist/PropertyList.h"
#include "server/OKVServerController.h"
#include "support/server/ServerFixture.h"
#include "support/server/ZipMaker.h"

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {

struct Ready : OKVServerDelegate {
    std::atomic<int> filesReady{0};
    void downloadFileSuccess(bool ok) override { filesReady += ok ? 1 : 0; }
};

// One effect of a model: its type text (also its folder), archive name and version.
struct Effect {
    std::string type;
    std::string version = "1.0";
    std::string archive() const { return type + ".zip"; }
};
using Models = std::map<std::string, std::vector<Effect>>;  // model ID text -> effects

struct EffectStore : ServerFixture {
    std::shared_ptr<Ready> ready = std::make_shared<Ready>();

    std::string catalogue(const Models& models) const
    {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& [id, effects] : models) {
            nlohmann::json model{{"modelId", id}, {"modelName", "Model " + id}, {"jpegImage", server.url("/img.png")},
                                 {"effects", nlohmann::json::array()}};
            for (const Effect& e : effects)
                model["effects"].push_back({{"type", e.type}, {"fileName", e.archive()}, {"version", e.version}});
            list.push_back(model);
        }
        return nlohmann::json{{"qfx_url", server.url("/qfx/")}, {"models", list}}.dump();
    }
    // Every archive holds one module file whose bytes name the effect and version.
    void serveArchives(const Models& models)
    {
        for (const auto& [id, effects] : models)
            for (const Effect& e : effects) {
                const fs::path zip = root / ("src-" + e.archive());
                ASSERT_TRUE(zipmaker::write(zip, {zipmaker::file(e.type + ".QF2", e.type + " " + e.version)}));
                server.serve("/qfx/" + e.archive(), zipmaker::readFile(zip), "application/zip");
            }
    }
    // One whole synchronisation against the server (or, with the catalogue down, the stored copy); true
    // once the store is reported ready.
    bool sync(const Models& models, bool catalogueDown = false)
    {
        if (catalogueDown) server.serve("/v1/effects.json", support::LoopbackServer::Reply{500, "text/plain", "", {}});
        else server.serve("/v1/effects.json", catalogue(models), "application/json");
        server.serve("/img.png", "png", "image/png");
        const int before = ready->filesReady;
        auto controller = OKVServerController::create(dispatch, root.string(), configuration());
        controller->setDelegate(ready);
        controller->getAllQFXFileFromServer();
        const bool done = loop.runUntil([&] { return ready->filesReady > before; });
        loop.runUntil([] { return false; }, std::chrono::milliseconds(50));
        return done;
    }
    std::string module(const std::string& type) const { return read("QFXMacApplication/Effect/" + type + "/" + type + ".QF2"); }
    int hits(const Effect& e) const { return server.hits("/qfx/" + e.archive()); }
    Strings failedTypes() const
    {
        Strings types;
        const auto list = platform::PropertyList::readFile(root / "QFXMacApplication/EffectDownloadFail.plist");
        if (list && list->array())
            for (const auto& entry : *list->array()) types.push_back(entry.get("TypeEffectString").asString().value_or("?"));
        return types;
    }
};

const Effect kDrive{"0B000123"};
const Effect kDelay{"0C000200"};
const Effect kReverb{"0D000300"};

}  // namespace

TEST(EffectDownload, FirstRunFetchesEveryTypeOnceAndASecondRunOnlyTheNewerOne)
{
    EffectStore s;
    // Two models share the drive: it is fetched once.
    const Models first{{"12345678", {kDrive, kDelay}}, {"22334455", {kDrive, kReverb}}};
    s.serveArchives(first);
    ASSERT_TRUE(s.sync(first));
    EXPECT_EQ(s.module("0B000123"), "0B000123 1.0");
    EXPECT_EQ(s.module("0D000300"), "0D000300 1.0");
    EXPECT_EQ((std::vector<int>{s.hits(kDrive), s.hits(kDelay), s.hits(kReverb)}), (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(s.read("QFXMacApplication/Image/12345678.png"), "png");

    // The delay is newer on the server; the reverb's model is gone, so its folder is swept.
    Effect newer = kDelay;
    newer.version = "1.10";
    const Models second{{"12345678", {kDrive, newer}}};
    s.serveArchives(second);
    ASSERT_TRUE(s.sync(second));
    EXPECT_EQ((std::vector<int>{s.hits(kDrive), s.hits(kDelay)}), (std::vector<int>{1, 2}));
    EXPECT_EQ(s.module("0C000200"), "0C000200 1.10");
    EXPECT_EQ(s.module("0B000123"), "0B000123 1.0");
    EXPECT_FALSE(fs::exists(s.root / "QFXMacApplication/Effect/0D000300"));
    EXPECT_TRUE(s.failedTypes().empty());

    // A missing folder brings its effect back even at an equal version.
    fs::remove_all(s.root / "QFXMacApplication/Effect/0B000123");
    ASSERT_TRUE(s.sync(second));
    EXPECT_EQ(s.hits(kDrive), 2);
    EXPECT_EQ(s.module("0B000123"), "0B000123 1.0");
}

// A failing archive never stops the batch, keeps the effect's earlier files, and is tried again by every
// later run until it arrives, even when the catalogue no longer calls it new.
TEST(EffectDownload, AFailingArchiveIsKeptInTheRetryListAndRetriedNextTime)
{
    EffectStore s;
    const Models first{{"12345678", {kDrive, kDelay}}};
    s.serveArchives(first);
    ASSERT_TRUE(s.sync(first));

    Effect newer = kDelay;
    newer.version = "2.0";
    const Models second{{"12345678", {kDrive, newer, kReverb}}};
    s.serveArchives(second);
    s.server.serve("/qfx/" + kDelay.archive(), support::LoopbackServer::Reply{500, "text/plain", "down", {}});
    s.server.serve("/qfx/" + kReverb.archive(), "not an archive at all", "application/zip");
    ASSERT_TRUE(s.sync(second));
    EXPECT_EQ(s.module("0C000200"), "0C000200 1.0");
    EXPECT_FALSE(fs::exists(s.root / "QFXMacApplication/Effect/0D000300/0D000300.QF2"));
    Strings failed = s.failedTypes();
    std::sort(failed.begin(), failed.end());
    EXPECT_EQ(failed, (Strings{"0C000200", "0D000300"}));
    const auto list = platform::PropertyList::readFile(s.root / "QFXMacApplication/EffectDownloadFail.plist");
    // Completions end in any order; the delay's entry is whichever names its type.
    const auto& entry = list->at(list->at(0).get("TypeEffectString").asString() == "0C000200" ? 0 : 1);
    EXPECT_EQ(entry.get("CategoryID").asInteger(), 0x0C);
    EXPECT_EQ(entry.get("TypeEffect").asInteger(), 0x0C000200);
    EXPECT_EQ(entry.get("EffectName").asString(), kDelay.archive());
    EXPECT_EQ(entry.get("EffectLink").asString(), s.server.url("/qfx/" + kDelay.archive()));

    // The stored catalogue now says 2.0 and the folder exists, yet the failure list brings it back.
    s.serveArchives(second);
    ASSERT_TRUE(s.sync(second));
    EXPECT_EQ(s.module("0C000200"), "0C000200 2.0");
    EXPECT_EQ(s.module("0D000300"), "0D000300 1.0");
    EXPECT_FALSE(fs::exists(s.root / "QFXMacApplication/EffectDownloadFail.plist"));
    EXPECT_EQ(s.hits(kDrive), 1);
}

// When the catalogue cannot be fetched, the stored one is checked against the store; a short store is
// downloaded again whole, each archive into a folder of its own under its model's folder.
TEST(EffectDownload, TheFallBackRefetchesAShortStoreArchiveByArchive)
{
    EffectStore s;
    const Models models{{"12345678", {kDrive, kDelay, kReverb}}};
    s.write("QFXMacApplication/ALLQFXServer", s.catalogue(models));
    s.write("QFXMacApplication/EffectDownloadFail.plist", "stale");
    s.serveArchives(models);
    ASSERT_TRUE(s.sync(models, true));
    for (const Effect& e : models.at("12345678"))
        EXPECT_EQ(s.read("QFXMacApplication/Effect/Model 12345678/" + e.type + "/" + e.type + ".QF2"), e.type + " 1.0");
    EXPECT_FALSE(fs::exists(s.root / "QFXMacApplication/EffectDownloadFail.plist"));
    // A second fall-back finds the store complete and fetches nothing.
    ASSERT_TRUE(s.sync(models, true));
    EXPECT_EQ(s.hits(kDelay), 1);

    // The next online run sweeps the model folder's layout into one folder per type.
    ASSERT_TRUE(s.sync(models));
    EXPECT_EQ(s.module("0C000200"), "0C000200 1.0");
    EXPECT_FALSE(fs::exists(s.root / "QFXMacApplication/Effect/Model 12345678/0C000200"));
}
