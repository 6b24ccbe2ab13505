#include "support/library/CoordinatorFixture.h"
#include "server/OKVServerController.h"
#include "support/image/ImageMaker.h"
#include "support/server/LoopbackServer.h"
#include "support/server/ZipMaker.h"

namespace {

// Stands where the coordinator's own server handlers will: the catalogue and the ready store go on to it.
struct ServerToCoordinator : OKVServerDelegate {
    explicit ServerToCoordinator(CommonUtils& utils) : utils(utils) {}
    void dataFromServer(std::optional<AllQFXData> data) override { utils.dataFromServer(data); }
    void downloadFileSuccess(bool success) override { utils.downloadFileSuccess(success); }
    // A run's last requests: nothing of it is in flight once both have ended.
    void modelVersionFromServer(std::optional<ModelsVersion>) override { ++runs; }
    void downloadImageSuccess(bool) override { ++pictures; }
    CommonUtils& utils;
    std::atomic<int> runs{0};
    std::atomic<int> pictures{0};
};

class Synchronisation : public Coordinator {
protected:
    Synchronisation()
    {
        auto document = nlohmann::json::parse(catalogueText());
        server.serve("/v1/effects.json", document.dump(), "application/json");
        server.serve("/img.png", imagemaker::pngText(2, 2), "image/png");
        const auto zip = root / "src.zip";
        zipmaker::write(zip, {zipmaker::file("0B000123.QF2", "drive")});
        server.serve("/qfx/0B000123.zip", zipmaker::readFile(zip), "application/zip");
        configuration = platform::Configuration(platform::StringsTable::parse(
            "\"kServerURLAllQFX\" = \"" + server.url("/v1/effects.json") + "\";\n\"kServerURLAppVersion\" = \"" +
            server.url("/v1/apps.json") + "\";\n\"kServerURLModelVersion\" = \"" + server.url("/v1/models.json") +
            "\";\n\"kCommand_Time_Out\" = \"3.0\";\n"));
    }
    std::string catalogueText() const
    {
        return nlohmann::json{{"qfx_url", server.url("/qfx/")},
                              {"models",
                               {{{"modelId", hexOf(kModelId)},
                                 {"modelName", "Rig One"},
                                 {"jpegImage", server.url("/img.png")},
                                 {"effects", {{{"type", "0B000123"}, {"fileName", "0B000123.zip"}, {"version", "1.0"}}}}}}}}
            .dump();
    }
    // Runs one synchronisation; `until` then waits for the device.
    void sync()
    {
        auto controller = OKVServerController::create(dispatch, root / "PEXO Rigmora", configuration);
        controller->setDelegate(forward);
        controller->getAllQFXFileFromServer();
    }
    void TearDown() override { ASSERT_TRUE(loop.runUntil([&] { return forward->runs == 2 && forward->pictures == 2; })); }

    support::LoopbackServer server;
    std::shared_ptr<ServerToCoordinator> forward;
};

}  // namespace

TEST_F(Synchronisation, FromTheServerToAConnectedDeviceHeadless)
{
    start();
    forward = std::make_shared<ServerToCoordinator>(*utils);
    sync();
    // The effect pool tree closes the synchronisation before the scan.
    Strings expected{"effectPool", "syncFinish"};
    for (const std::string& e : connectRead()) expected.push_back(e);
    EXPECT_EQ(until("idle"), expected);
    EXPECT_EQ(zipmaker::readFile(root / "PEXO Rigmora/QFXMacApplication/Effect/0B000123/0B000123.QF2"), "drive");
    EXPECT_EQ(files.readFile(root / "PEXO Rigmora/Temp/Device/FLST_SEQ.QT2"), unit.files().file("FLST_SEQ.QT2"));
    EXPECT_EQ(utils->getDeviceName(), "Rig One");

    // Unplugged and back: the next synchronisation runs the connected handling once, then forgets the eject.
    unit.device().unplug();
    until("disconnect");
    unit.device().plugIn();
    until("idle");
    sync();
    const Strings again = until("idle");
    EXPECT_EQ(std::count(again.begin(), again.end(), "connect 1"), 1);
    EXPECT_EQ(server.hits("/qfx/0B000123.zip"), 1);
}
