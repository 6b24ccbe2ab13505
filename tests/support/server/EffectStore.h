#pragma once

#include <gtest/gtest.h>
#include <map>
#include <atomic>

#include "platform/plist/PropertyList.h"
#include "server/OKVServerController.h"
#include "support/image/ImageMaker.h"
#include "support/server/ServerFixture.h"
#include "support/server/ZipMaker.h"

// A catalogue made from a table of models and their effects, each effect's archive served with one
// module file naming its type and version, and whole synchronisations run against it.
namespace support::effectstore {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

struct Ready : OKVServerDelegate {
    std::atomic<int> filesReady{0}, picturesAnswered{0};
    void downloadFileSuccess(bool ok) override { filesReady += ok ? 1 : 0; }
    void downloadImageSuccess(bool) override { ++picturesAnswered; }
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
        server.serve("/img.png", imagemaker::pngText(2, 2), "image/png");
        const int before = ready->filesReady;
        const int pictures = ready->picturesAnswered;
        auto controller = OKVServerController::create(dispatch, root.string(), configuration());
        controller->setDelegate(ready);
        controller->getAllQFXFileFromServer();
        const bool done = loop.runUntil([&] { return ready->filesReady > before; });
        // A fetched catalogue brings a picture request per model; none is left in flight when the test ends.
        if (catalogueDown) loop.runUntil([] { return false; }, std::chrono::milliseconds(50));
        else loop.runUntil([&] { return ready->picturesAnswered >= pictures + static_cast<int>(models.size()); });
        return done;
    }
    std::string module(const std::string& type) const { return read("QFXMacApplication/Effect/" + type + "/" + type + ".QF2"); }
    bool exists(const std::string& relative) const { return fs::exists(root / "QFXMacApplication" / relative); }
    int hits(const Effect& e) const { return server.hits("/qfx/" + e.archive()); }
    std::vector<int> hits(const std::vector<Effect>& effects) const
    {
        std::vector<int> counts;
        for (const Effect& e : effects) counts.push_back(hits(e));
        return counts;
    }
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

}  // namespace support::effectstore
