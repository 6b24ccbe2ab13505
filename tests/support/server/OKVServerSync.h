#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "httpclient/NetworkReachabilityManager.h"
#include "platform/reachability/FakeReachabilityProvider.h"
#include "server/OKVServerController.h"
#include "support/image/ImageMaker.h"
#include "support/server/ServerFixture.h"

// The catalogue server's three documents, a delegate that records every report as one line, and a
// controller wired to a loopback server and a reachability the test sets.
namespace support::okvsync {

using Events = std::vector<std::string>;
using Reply = support::LoopbackServer::Reply;

inline const std::string kCatalogue = R"({"qfx_url":"http://x/qfx/","models":[{"modelId":"12345678","modelName":"QX-1",
    "jpegImage":"PICTURE","effects":[{"type":"0B000123","fileName":"0B000123.zip","version":"1.0"}]}]})";
inline const std::string kApps = R"({"apps":[{"appName":"Tonvault","appVersionMac":"2.0"}]})";
inline const std::string kModels = R"({"models":[{"modelId":"12345678","modelVersion":"1.5"}]})";

// Every report as one line, in order, with the thread it came on checked.
struct Recorder : OKVServerDelegate {
    platform::Dispatch* dispatch = nullptr;
    std::mutex mutex;
    Events events;
    std::optional<AllQFXData> data;
    bool onMain = false;

    void add(std::string event)
    {
        std::lock_guard lock(mutex);
        onMain = onMain || dispatch->main().isCurrent();
        events.push_back(std::move(event));
    }
    void add(const std::string& what, bool ok) { add(what + (ok ? " yes" : " no")); }
    void appVersionFromServer(std::optional<AppsVersion> v) override
    {
        add(!v ? "apps none" : v->appsList().empty() ? "apps empty" : "apps " + v->appsList()[0].appVersionMac());
    }
    void modelVersionFromServer(std::optional<ModelsVersion> v) override
    {
        add(!v ? "models none" : v->modelsList().empty() ? "models empty" : "models " + v->modelsList()[0].modelVersion());
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
    void connectServer(bool ok) override { add("server", ok); }
    void downloadImageSuccess(bool ok) override { add("picture", ok); }
    void internetConnectionWithState(bool ok) override { add("internet", ok); }
    Events sorted()
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
        manager = NetworkReachabilityManager::managerForAddress(reinterpret_cast<const sockaddr*>(&zero), provider, dispatch);
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
        server.serve("/img/12345678.png", imagemaker::pngText(2, 2), "image/png");
    }
    std::string withPicture(std::string catalogue) { return catalogue.replace(catalogue.find("PICTURE"), 7, server.url("/img/12345678.png")); }
    // Waits until `count` reports have come, then a little more for any that should not.
    Events run(std::size_t count)
    {
        loop.runUntil([&] {
            std::lock_guard lock(recorder->mutex);
            return recorder->events.size() >= count;
        });
        loop.runUntil([] { return false; }, std::chrono::milliseconds(100));
        EXPECT_FALSE(recorder->onMain);
        return recorder->sorted();
    }
    Events sync(std::size_t count)
    {
        controller()->getAllQFXFileFromServer();
        return run(count);
    }
    Events offline(std::uint32_t flags, std::size_t count)
    {
        provider.setFlags(flags);
        controller()->internetConnection();
        return run(count);
    }
};

}  // namespace support::okvsync
