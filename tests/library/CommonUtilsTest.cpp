#include <atomic>
#include <algorithm>
#include <filesystem>
#include <optional>
#include <thread>

#include "support/library/CommonUtilsProbe.h"
#include "support/library/CoordinatorFixture.h"
#include "support/image/ImageMaker.h"

namespace fs = std::filesystem;
using Kind = CommonUtils::RequestKind;

// The start recreates Temp empty, clears the leftovers of runs cut short (an earlier Temp, unpacks a kill cut
// in the staging folder or, by an earlier version, inside the store) and leaves the store's own, hidden or not.
TEST_F(Coordinator, StartUpRecreatesTempEmptyAndClearsWhatCutRunsLeftAndNothingElse)
{
    const std::string rootFolder = root / "PEXO Rigmora";
    const std::string app = rootFolder + "/QFXMacApplication";
    fs::create_directories(rootFolder + "/Temp/Device");
    files.writeAtomically(rootFolder + "/Temp/Device/FLST_SEQ.QT2", Bytes{1, 2, 3});
    fs::create_directories(rootFolder + "/.Temp-old-1/Local/Group");
    files.writeAtomically(rootFolder + "/.Temp-old-1/Local/Group/x.qptc", Bytes{1});
    for (const char* left : {"/.Effect-staging/.0001.new-a1B2c3", "/Effect/.0002.new-x9Y8z7", "/Effect/.0003.old-qwerty",
                             "/Effect/Model 1/.0004.new-abcdef", "/Effect/..0005.new-abcdef.unzip-123456"}) {
        fs::create_directories(app + left);
        files.writeAtomically(app + left + "/half.QF2", Bytes{1});
    }
    for (const char* own : {"/Effect/0001/a.QF2", "/Effect/Model 1/0004/b.QF2", "/Effect/.keep/c.QF2", "/Effect/.0006.new-short/d.QF2"}) {
        fs::create_directories(fs::path(app + own).parent_path());
        ASSERT_TRUE(files.writeAtomically(app + own, Bytes{2}));
    }

    start();
    EXPECT_TRUE(fs::is_directory(rootFolder + "/Temp"));
    EXPECT_TRUE(fs::is_empty(rootFolder + "/Temp"));
    // The staging folder is gone before any download can unpack into it.
    EXPECT_FALSE(fs::exists(app + "/.Effect-staging"));
    // The earlier folders go in the background; the coordinator waits for that only as it ends.
    utils.reset();
    EXPECT_EQ(files.contentsOfDirectory(rootFolder), (Strings{"QFXMacApplication", "Temp"}));
    EXPECT_EQ(files.contentsOfDirectory(app + "/Effect"), (Strings{".0006.new-short", ".keep", "0001", "Model 1"}));
    EXPECT_EQ(files.contentsOfDirectory(app + "/Effect/Model 1"), (Strings{"0004"}));
}

// The unit pads a version shorter than its four bytes with zeros, which are no part of it.
TEST_F(Coordinator, AShortDeviceVersionEndsAtItsFirstZero)
{
    auto state = unit.device().state();
    state.identity.version = {'2', '.', '1', 0};
    unit.device().setState(state);
    start();
    connect();
    EXPECT_EQ(utils->getDeviceVersion(), "2.1");
}

TEST_F(Coordinator, ConnectsReadsTheEffectListAndAnswersTheDeviceFacts)
{
    start();
    EXPECT_EQ(utils->getDeviceVersion(), std::string());
    connect();
    EXPECT_EQ(files.readFile(root / "PEXO Rigmora/Temp/Device/FLST_SEQ.QT2"), unit.files().file("FLST_SEQ.QT2"));
    EXPECT_EQ(utils->getNumberOfExistedEffectsInDevice(), 1U);
    EXPECT_EQ(utils->getDeviceName(), "Rig One");
    EXPECT_EQ(utils->getDeviceVersion(), "1.20");
    EXPECT_EQ(utils->getMaxEffectInDevice(), 64);

    // The eject waits in the queue like any other request; its block is never called.
    bool called = false;
    utils->ejectDeviceWithPatchList({}, [&](bool) { called = true; });
    EXPECT_EQ(until("eject 1"), (Strings{"busy", "reset", "idle", "eject 1"}));
    EXPECT_FALSE(called);
    // Each request names its work as it starts: the connection's read, then the eject.
    using Work = CommonUtilsDelegate::DeviceWork;
    const std::vector<Work> works = recorder.works();
    ASSERT_GE(works.size(), 2U);
    EXPECT_EQ(works.front(), Work::Reading);
    EXPECT_EQ(works.back(), Work::Ejecting);
    // The read's end is told once the queue ran dry, and the eject's with the reset that lets the unit go.
    const std::vector<std::string> trail = recorder.workTrail();
    ASSERT_FALSE(trail.empty());
    EXPECT_EQ(trail.front(), "start");
    const auto ejecting = std::find(trail.rbegin(), trail.rend(), "start").base() - 1;
    ASSERT_NE(ejecting, trail.begin());
    EXPECT_EQ(*(ejecting - 1), "end");
    EXPECT_NE(std::find(ejecting, trail.end(), "end"), trail.end());
    EXPECT_EQ(utils->getDeviceName(), std::nullopt);
    EXPECT_EQ(utils->getMaxEffectInDevice(), 0);

    // Without a device every request method does nothing.
    utils->dataFromDevice();
    utils->ejectDeviceForClosing();
    EXPECT_EQ(settle(), Strings{});
}

// The pictures are fetched anew as the unit connects: one that is stored while a unit is connected tells
// the interface to look again; a failed one, or one stored with no unit, tells nothing.
TEST_F(Coordinator, AModelPictureStoredWhileConnectedIsToldToTheInterface)
{
    start();
    utils->downloadImageSuccess(true);
    EXPECT_EQ(settle(), Strings{});
    connect();
    settle();
    utils->downloadImageSuccess(false);
    EXPECT_EQ(settle(), Strings{});
    utils->downloadImageSuccess(true);
    EXPECT_EQ(settle(), Strings{"picture"});
}

// A picture the server sent may be large or hostile: it is read and decoded away from the main thread,
// which gets it later on its own queue, and never blocks for it.
class ModelPicture : public Coordinator {
protected:
    void SetUp() override
    {
        start();
        connect();
        const fs::path pictures = root / "PEXO Rigmora/QFXMacApplication/Image";
        fs::create_directories(pictures);
        ASSERT_TRUE(files.writeAtomically((pictures / (hexOf(kModelId) + ".png")).string(), imagemaker::png(3, 2)));
    }
};

TEST_F(ModelPicture, IsDecodedAwayFromTheMainThreadAndHandedBackThere)
{
    const auto mainThread = std::this_thread::get_id();
    std::optional<std::optional<platform::BitmapImageRep>> got;
    utils->getImageDevice([&](std::optional<platform::BitmapImageRep> picture) {
        EXPECT_EQ(std::this_thread::get_id(), mainThread);
        got = std::move(picture);
    });
    EXPECT_FALSE(got.has_value());
    ASSERT_TRUE(loop.runUntil([&] { return got.has_value(); }));
    ASSERT_TRUE(*got);
    EXPECT_EQ((*got)->pixelsWide(), 3U);
    EXPECT_EQ((*got)->pixelsHigh(), 2U);
}

// The coordinator may go (the program quits) while a picture is still being read: the answer is dropped,
// and the picture queue is done with the coordinator before it is gone.
TEST_F(ModelPicture, AskedAsTheCoordinatorGoesIsNeverHandedBack)
{
    int answers = 0;
    for (int ask = 0; ask < 3; ++ask) utils->getImageDevice([&](std::optional<platform::BitmapImageRep>) { ++answers; });
    utils.reset();
    loop.runUntilIdle();
    EXPECT_EQ(answers, 0);
}

TEST_F(Coordinator, ADeviceTheCatalogueDoesNotAcceptIsNeverConnected)
{
    start();
    utils->dataFromServer(catalogue(0x00110022));
    utils->connectDevice();
    // No accepted device found: the queue is reset and the interface hears of no connection.
    EXPECT_EQ(until("idle"), (Strings{"reset", "idle"}));
    EXPECT_EQ(settle(), Strings{});
    EXPECT_EQ(utils->getDeviceName(), std::nullopt);
}

// Requests posted together run one at a time in posting order: each starts only once the one before it
// has its result, and the interface sees busy at each hand-over and idle once the queue has drained.
TEST_F(Coordinator, RequestsPostedTogetherRunOneAtATimeInOrder)
{
    start();
    connect();
    std::mutex mutex;
    Strings started;
    for (int i = 0; i < 3; ++i) {
        utils->addRequest(Kind::SelectPatch, [&, i] {
            std::lock_guard lock(mutex);
            started.push_back("select " + std::to_string(i));
            seq.getMemoryStatus();
        });
    }
    utils->ejectDeviceForClosing();
    const Strings heard = settle();
    EXPECT_EQ(started, (Strings{"select 0"}));
    // The memory result ends no select request: the queue waits for the select result that never comes.
    EXPECT_EQ(heard, (Strings{"busy"}));

    // Each select result lets exactly the next request go.
    for (std::size_t i = 1; i <= 2; ++i) {
        utils->selectPatchWithState(1);
        EXPECT_EQ(settle(), Strings{"busy"});
        std::lock_guard lock(mutex);
        EXPECT_EQ(started.size(), i + 1);
    }
    utils->selectPatchWithState(1);
    // The closing eject runs last and quits without an eject message.
    const Strings rest = until("reset");
    EXPECT_EQ(count(rest, "busy"), 1);
    EXPECT_EQ(count(rest, "eject 1"), 0);
    EXPECT_EQ(started, (Strings{"select 0", "select 1", "select 2"}));
}

// A timed request whose result never comes gives the device up at the larger of its own time-out and
// the sequencer's watchdog plus one command time-out (3 s here), dropping what waits behind it;
// untimed requests are never cut off.
struct TimeOutRow {
    Kind kind;
    float sequencerWatchdog;
    int expiresAfter;  // seconds; 0 for never
};

class RequestTimeOut : public Coordinator, public ::testing::WithParamInterface<TimeOutRow> {
protected:
    // What the interface heard as the unit was given up, and after.
    Strings givenUp()
    {
        Strings heard = until("lost");
        for (auto& e : settle()) heard.push_back(e);
        return heard;
    }
};

TEST_P(RequestTimeOut, GivesTheDeviceUpOnlyWhenTheRequestOutlivesItsLimit)
{
    const TimeOutRow row = GetParam();
    start();
    connect();
    bool followerRan = false;
    utils->addRequest(row.kind, [] {}, row.sequencerWatchdog);
    utils->addRequest(Kind::SelectPatch, [&] { followerRan = true; });
    ASSERT_EQ(until("busy"), Strings{"busy"});
    // The clock may move only once the flow has armed its time-out: the count is read again after the
    // queues have settled, as another short-lived timer may have made it one before.
    if (row.expiresAfter > 0) {
        ASSERT_TRUE(loop.runUntil([&] { return timers.activeCount() == 1; }));
        EXPECT_EQ(settle(), Strings{});
        ASSERT_TRUE(loop.runUntil([&] { return timers.activeCount() == 1; }));
    }
    const int limit = row.expiresAfter > 0 ? row.expiresAfter : 600;
    loop.advance(std::chrono::seconds(limit) - std::chrono::milliseconds(100));
    EXPECT_EQ(settle(), Strings{});
    loop.advance(std::chrono::milliseconds(200));
    if (row.expiresAfter == 0) {
        EXPECT_EQ(settle(), Strings{});
        EXPECT_EQ(utils->getDeviceName(), "Rig One");
    } else {
        // Given up: the queue is dropped, the interface told, the device force-ejected.
        EXPECT_EQ(givenUp(), (Strings{"reset", "idle", "lost", "reset", "idle"}));
        EXPECT_EQ(utils->getDeviceName(), std::nullopt);
        EXPECT_TRUE(loop.runUntil([&] { return leftEditorMode(); }));
        EXPECT_FALSE(followerRan);
    }
}

INSTANTIATE_TEST_SUITE_P(Coordinator, RequestTimeOut,
                         ::testing::Values(TimeOutRow{Kind::SelectPatch, 3.0F, 20},
                                           TimeOutRow{Kind::FavouriteEffect, 12.0F, 20},
                                           TimeOutRow{Kind::UpdateEffect, 18.0F, 21},
                                           TimeOutRow{Kind::WriteAllPatch, 0.0F, 60},
                                           TimeOutRow{Kind::WriteAllPatch, 100.0F, 103},
                                           TimeOutRow{Kind::DeleteEffect, 0.0F, 0},
                                           TimeOutRow{Kind::GetQFXList, 0.0F, 0}));

// A time-out that was on its way as its request's result came ends nothing: the request handed over next
// keeps the unit and its own time-out.
TEST_F(RequestTimeOut, AnExpiryOnItsWayAsItsRequestEndsSparesTheNextRequest)
{
    start();
    connect();
    std::atomic<int> started{0};
    utils->addRequest(Kind::SelectPatch, [&] { ++started; });
    ASSERT_TRUE(loop.runUntil([&] { return started == 1; }));
    const CommonUtilsProbe::Ticket first = CommonUtilsProbe::runningTicket(*utils);
    utils->addRequest(Kind::WriteOnePatch, [&] { ++started; });
    utils->selectPatchWithState(1);
    ASSERT_TRUE(loop.runUntil([&] { return started == 2; }));
    EXPECT_EQ(settle(), (Strings{"busy", "busy"}));
    CommonUtilsProbe::expire(*utils, first);
    EXPECT_EQ(settle(), Strings{});
    EXPECT_EQ(utils->getDeviceName(), "Rig One");
    // The running request's own expiry still gives the unit up.
    CommonUtilsProbe::expire(*utils, CommonUtilsProbe::runningTicket(*utils));
    EXPECT_EQ(givenUp(), (Strings{"reset", "idle", "lost", "reset", "idle"}));
    EXPECT_EQ(utils->getDeviceName(), std::nullopt);
}

TEST_F(RequestTimeOut, AResultBeforeItCancelsIt)
{
    start();
    connect();
    utils->addRequest(Kind::WriteAllPatch, [] {});
    until("busy");
    ASSERT_TRUE(loop.runUntil([&] { return timers.activeCount() == 1; }));
    loop.advance(std::chrono::seconds(59));
    utils->writeAllPatchDataDumpWithState(1);
    EXPECT_EQ(until("idle"), Strings{"idle"});
    loop.advance(std::chrono::seconds(120));
    EXPECT_EQ(settle(), Strings{});
    EXPECT_EQ(utils->getDeviceName(), "Rig One");
}
