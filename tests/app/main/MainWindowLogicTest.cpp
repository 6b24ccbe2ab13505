#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <tuple>

#include "library/models/BankItem.h"
#include "library/models/DirectoryObject.h"
#include "platform/bundle/Bundle.h"
#include "support/app/MainWindowLogicRig.h"
#include "../effect/EffectScreenFakes.h"

namespace {

using testing_app::CallLog;
using Action = MainWindowLogic::MenuAction;
using Work = CommonUtilsDelegate::DeviceWork;
using Report = std::function<void(MainWindowLogic&)>;
using Strings = std::vector<std::string>;

const std::string kAfterSheet = "Quits once the open message is answered.";

// A counted line of the busy line: "<what>: <done> of <total>", the count held together.
std::string counted(const std::string& what, int done, int total)
{
    return what + ": " + std::to_string(done) + "\u00A0of\u00A0" + std::to_string(total);
}

class MainWindowLogicTest : public testing_app::MainWindowLogicRig {
protected:
    void SetUp() override { awake(); }
    long calls(const char* call) const { return std::count(log.begin(), log.end(), call); }
    bool valid(Action action) { return logic.validateMenuItem(action); }
    // Each step, then the busy line it must leave.
    void busySteps(const std::vector<std::pair<std::function<void()>, std::string>>& steps)
    {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            steps[i].first();
            EXPECT_EQ(chrome.deviceWork, steps[i].second) << "step " << i;
        }
    }
    // The two ways to ask for a Quit.
    const std::pair<const char*, std::function<void()>> quits[2] = {
        {"menu", [this] { logic.performMenuAction(Action::Quit); }}, {"window", [this] { logic.windowShouldClose(); }}};
};

TEST_F(MainWindowLogicTest, SetUpShowsTheEffectScreenThenBecomesTheDelegateAndLocksThePool)
{
    EXPECT_EQ(log, (CallLog{"showScreen 0", "clearUndoStack", "setDelegate", "syncEffect"}));
    EXPECT_EQ(coordinator.delegate, &logic);
    EXPECT_EQ(effects.calls, (Strings{"viewDidAppear", "reloadData"}));
    EXPECT_TRUE(patches.isLockPatchPool());
    EXPECT_FALSE(backUpAllEnabled());
    EXPECT_TRUE(chrome.applicationCheck && chrome.deviceCheck);
    // Switching to the shown screen changes nothing; to the other clears the undo stack.
    log.clear();
    effects.calls.clear();
    logic.effectManagerButtonClicked();
    EXPECT_TRUE(log.empty() && effects.calls.empty());
    logic.patchManagerButtonClicked();
    EXPECT_EQ(log, (CallLog{"showScreen 1", "clearUndoStack"}));
    EXPECT_EQ(logic.state(), MainWindowLogic::kStatePatch);
    EXPECT_EQ(patches.calls.back(), "reloadData");
    logic.reloadEffectListIfNeeded();
    EXPECT_TRUE(effects.calls.empty());
}

TEST_F(MainWindowLogicTest, MenuItemsFollowTheFlagsAndEveryActionChecksAgain)
{
    // Connected, undoable, restoring, a dialog: Connect, Disconnect, Information, Undo. Quit and Version are
    // always offered (a Quit over a sheet waits for its answer).
    const std::tuple<bool, bool, bool, bool, std::tuple<bool, bool, bool, bool>> cases[] = {
        {false, false, false, false, {true, false, false, false}}, {true, false, false, false, {false, true, true, false}},
        {true, true, false, false, {false, true, true, true}},     {true, true, true, false, {false, true, true, false}},
        {true, true, false, true, {false, true, true, false}},     {false, true, false, false, {true, false, false, true}},
    };
    for (const auto& [connected, undoable, restoring, dialog, offered] : cases) {
        appDelegate.setDeviceConnected(connected);
        appDelegate.setIsRestoringAll(restoring);
        appDelegate.setIsShowingDialog(dialog);
        coordinator.undoable = undoable;
        EXPECT_EQ(std::tuple(valid(Action::ConnectDevice), valid(Action::DisconnectDevice), valid(Action::DeviceInformation),
                             valid(Action::Undo)), offered);
        EXPECT_TRUE(valid(Action::Quit) && valid(Action::Version));
    }
    // A shortcut fires without the menu: a disabled action does nothing.
    log.clear();
    appDelegate.setDeviceConnected(false);
    appDelegate.setIsShowingDialog(true);
    for (Action action : {Action::DisconnectDevice, Action::DeviceInformation, Action::Undo}) logic.performMenuAction(action);
    EXPECT_TRUE(log.empty());
    appDelegate.setIsShowingDialog(false);
    appDelegate.setDeviceConnected(true);
    for (Action action : {Action::ConnectDevice, Action::DisconnectDevice, Action::DeviceInformation, Action::Quit})
        logic.performMenuAction(action);
    EXPECT_EQ(log, (CallLog{"endTextEditing", "ejectDevice", "showDeviceProperty", "clearAllDialog", "endTextEditing", "closeApp"}));
}

// A Quit asked over a message is kept until the message is answered, never dropped.
TEST_F(MainWindowLogicTest, AQuitAskedWhileASheetShowsEndsTheProgramOnceItIsAnswered)
{
    for (const auto& [name, quitBy] : quits) {
        SCOPED_TRACE(name);
        const auto& quit = quitBy;  // a lambda cannot capture a structured binding under clang 14
        connect();
        appDelegate.setIsShowingDialog(true);
        log.clear();
        quit();
        quit();
        EXPECT_TRUE(log.empty()) << testing::PrintToString(log);
        EXPECT_EQ(chrome.deviceWork, kAfterSheet);
        EXPECT_FALSE(valid(Action::DisconnectDevice));
        logic.performMenuAction(Action::DisconnectDevice);
        logic.sheetsMayHaveEnded();
        EXPECT_TRUE(log.empty()) << "the sheet still shows";
        appDelegate.setIsShowingDialog(false);
        logic.sheetsMayHaveEnded();
        EXPECT_EQ(std::pair(calls("closeApp"), calls("ejectDevice")), std::pair(1L, 0L)) << testing::PrintToString(log);
        logic.sheetsMayHaveEnded();
        EXPECT_EQ(calls("closeApp"), 1);
        logic.deviceDisonnect();
        dialogs.completions.clear();
    }
    // A termination signal while the kept Quit waits ends the program whatever shows: the line no longer
    // says the end waits for the message, and the message answered later starts no second end of its own.
    connect();
    appDelegate.setIsShowingDialog(true);
    logic.performMenuAction(Action::Quit);
    log.clear();
    logic.signalEndAsked();
    EXPECT_EQ(chrome.deviceWork.find(kAfterSheet), std::string::npos) << chrome.deviceWork;
    appDelegate.setIsShowingDialog(false);
    logic.sheetsMayHaveEnded();
    EXPECT_EQ(calls("closeApp"), 0) << testing::PrintToString(log);
    logic.deviceDisonnect();
    dialogs.completions.clear();
    // The pool's copies going on meanwhile: their count ends before the sentence that follows it, as
    // before every other wait's.
    appDelegate.setIsShowingDialog(true);
    busySteps({{[&] { logic.poolCopiesProgress(3, 10), logic.performMenuAction(Action::Quit); },
                counted("Copying patches", 3, 10) + ". " + kAfterSheet},
               {[&] { logic.poolCopiesProgress(0, 0); }, kAfterSheet}});
    appDelegate.setIsShowingDialog(false);
    logic.sheetsMayHaveEnded();
    dialogs.completions.clear();
}

TEST_F(MainWindowLogicTest, TheBusyLineNamesTheRunningWorkItsCountAndAWaitingEject)
{
    const std::string reading = "Reading the effects and patches from the unit…";
    connect();
    logic.didDoSynchronizationActionDevice(std::nullopt);
    busySteps({{[&] { logic.deviceWorkDidStart(Work::WritingPatches); }, "Writing patches to the unit…"},
               {[&] { logic.deviceWorkDidStart(Work::Reading); }, reading},
               {[&] { logic.ejectDevice(); }, reading + " Ejects after this; unit edits are off."},
               {[&] { logic.deviceWorkDidEnd(); }, ""},
               {[&] { logic.deviceWorkDidStart(Work::Ejecting); }, "Ejecting the unit…"},
               {[&] { logic.ejectDeviceWithState(1); }, ""},
               // Nothing is busy without a unit.
               {[&] { logic.deviceWorkDidStart(Work::Reading); }, ""},
               {[&] {
                    connect(), logic.didDoSynchronizationActionDevice(std::nullopt);
                    logic.deviceWorkDidStart(Work::Reading), logic.deviceWorkProgress(23, 100);
                }, counted("Reading patches", 23, 100)},
               {[&] { logic.ejectDevice(); }, counted("Reading patches", 23, 100) + ". Ejects after this; unit edits are off."},
               {[&] { logic.deviceWorkDidEnd(); }, ""},
               {[&] {
                    logic.ejectDeviceWithState(1), connect(), logic.didDoSynchronizationActionDevice(std::nullopt);
                    logic.deviceWorkDidStart(Work::WritingPatches), logic.deviceWorkProgress(40, 100);
                }, counted("Writing patches", 40, 100)},
               // The next work starts without the last one's count.
               {[&] { logic.deviceWorkDidStart(Work::WritingPatches); }, "Writing patches to the unit…"},
               {[&] { logic.deviceWorkDidStart(Work::SelectingPatch), logic.deviceWorkProgress(1, 2); },
                "Selecting the patch on the unit…"}});
}

TEST_F(MainWindowLogicTest, AQuitThatWaitsForTheRunningWorkSaysSo)
{
    const std::string after = ". Quits after this; unit edits are off.";
    for (const auto& [name, quitBy] : quits) {
        SCOPED_TRACE(name);
        const auto& quit = quitBy;  // a lambda cannot capture a structured binding under clang 14
        connect();
        busySteps({{[&] { logic.deviceWorkDidStart(Work::WritingPatches), logic.deviceWorkProgress(25, 100); },
                    counted("Writing patches", 25, 100)},
                   {[&] {
                        logic.ejectDevice(), quit();
                        EXPECT_EQ(log.back(), "closeApp");
                    }, counted("Writing patches", 25, 100) + after},
                   {[&] { logic.deviceWorkProgress(50, 100); }, counted("Writing patches", 50, 100) + after},
                   {[&] { logic.deviceWorkDidStart(Work::Ejecting); }, "Ejecting the unit…"}});
        logic.deviceDisonnect();
    }
}

// A unit that refused its eject keeps its edits off only while a Quit or a signal will still let it go.
TEST_F(MainWindowLogicTest, TheUnitsEditsStayOffUntilItIsLetGoOrStays)
{
    const auto refused = [&] { logic.ejectDeviceWithState(0); };
    const char* waiting = "Writing patches to the unit… Quits after this; unit edits are off.";
    const std::tuple<const char*, std::function<void()>, std::function<void()>, bool, const char*> cases[] = {
        {"eject refused", [] {}, refused, false, "Writing patches to the unit…"},
        {"eject refused, a Quit waiting", [&] { logic.performMenuAction(Action::Quit); }, refused, true, waiting},
        {"eject refused, a signal's end waiting", [&] { logic.signalEndAsked(); }, refused, true, waiting},
        {"unit let go", [] {}, [&] { logic.ejectDeviceWithState(1); }, false, ""},
        {"unit lost", [] {}, [&] { logic.deviceLostConnectOrNoReply(); }, false, ""},
    };
    coordinator.undoable = true;
    patches.setLockPatchPool(false);
    for (const auto& [name, meanwhile, end, stillOff, busy] : cases) {
        SCOPED_TRACE(name);
        connect();
        logic.deviceWorkDidStart(Work::WritingPatches);
        logic.performMenuAction(Action::DisconnectDevice);
        EXPECT_TRUE(appDelegate.isLettingDeviceGo() && patches.lockPatchList);
        meanwhile();
        end();
        EXPECT_EQ(appDelegate.isLettingDeviceGo(), stillOff);
        EXPECT_EQ(patches.lockPatchList, stillOff);
        EXPECT_EQ(valid(Action::Undo), !stillOff);
        // A Quit or a signal waiting lets the unit go itself: no Disconnect is offered beside it.
        EXPECT_EQ(valid(Action::DisconnectDevice), appDelegate.isDeviceConnected() && !stillOff);
        EXPECT_EQ(chrome.deviceWork, busy);
        logic.deviceDisonnect();
    }
}

// The waits for the pool's copies hold the input and run off the main thread.
TEST_F(MainWindowLogicTest, DisconnectAndQuitWaitForThePoolsCopiesWithNothingElseStarting)
{
    connect();
    coordinator.undoable = true;
    coordinator.poolWorkPending = true;
    logic.poolCopiesProgress(10, 300);
    log.clear();
    logic.performMenuAction(Action::DisconnectDevice);
    // The typing ends at once; the eject waits.
    EXPECT_TRUE(log == CallLog{"endTextEditing"} && chrome.inputHeld) << testing::PrintToString(log);
    for (Action action : {Action::DisconnectDevice, Action::Undo, Action::Quit, Action::Version})
        EXPECT_FALSE(logic.validateMenuItem(action)) << static_cast<int>(action);
    EXPECT_EQ(chrome.deviceWork, counted("Copying patches", 10, 300) + ". Ejects after this; unit edits are off.");
    logic.poolCopiesProgress(300, 300);
    logic.poolCopiesProgress(0, 0);
    coordinator.landPoolWork();
    EXPECT_TRUE(log == (CallLog{"endTextEditing", "ejectDevice"}) && !chrome.inputHeld) << testing::PrintToString(log);
    logic.ejectDeviceWithState(1);
    coordinator.poolWorkPending = true;
    logic.poolCopiesProgress(64, 300);
    log.clear();
    logic.performMenuAction(Action::Quit);
    logic.windowShouldClose();
    EXPECT_TRUE(log == (CallLog{"clearAllDialog", "endTextEditing"}) && chrome.inputHeld) << testing::PrintToString(log);
    EXPECT_EQ(chrome.deviceWork, counted("Copying patches", 64, 300) + ". The program ends when this is done.");
    logic.poolCopiesProgress(0, 0);
    coordinator.landPoolWork();
    EXPECT_EQ(log, (CallLog{"clearAllDialog", "endTextEditing", "closeApp"}));
}

TEST_F(MainWindowLogicTest, TheBusyLineCountsThePoolsCopiesAndADropsFilesUntilNoneRemains)
{
    const std::string copies = counted("Copying patches", 640, 10000);
    busySteps({{[&] { logic.poolCopiesProgress(0, 10000); }, counted("Copying patches", 0, 10000)},
               {[&] { logic.poolCopiesProgress(640, 10000); }, copies},
               {[&] {
                    connect(), logic.didDoSynchronizationActionDevice(std::nullopt);
                    logic.deviceWorkDidStart(Work::WritingPatches), logic.deviceWorkProgress(40, 100);
                }, counted("Writing patches", 40, 100) + "  " + copies},
               {[&] { logic.deviceWorkDidEnd(); }, copies},
               {[&] { logic.poolCopiesProgress(0, 0); }, ""}});
    const std::string ends = ". The program ends when this is done.";
    logic.ejectDeviceWithState(1);
    coordinator.poolWorkPending = true;
    busySteps({{[&] { logic.poolFilesReading(10000); }, "Reading the dropped files: 10000"},
               {[&] { logic.performMenuAction(Action::Quit); }, "Reading the dropped files: 10000" + ends},
               {[&] { logic.poolCopiesProgress(0, 9998); },
                "Reading the dropped files: 10000  " + counted("Copying patches", 0, 9998) + ends},
               {[&] { logic.poolFilesReading(0); }, counted("Copying patches", 0, 9998) + ends},
               {[&] { logic.poolCopiesProgress(0, 0); }, ""}});
}

// Neither the connection's late clearing of the screens nor the picture's read ends a read's line.
TEST_F(MainWindowLogicTest, TheBusyLineOutlivesTheConnectionsClearingAndThePicturesRead)
{
    logic.deviceWorkDidStart(Work::Reading);
    EXPECT_EQ(chrome.deviceWork, "");
    connect();
    const std::string reading = chrome.deviceWork;
    EXPECT_FALSE(reading.empty());
    logic.didDoSynchronizationActionDevice("picture");
    logic.didFinishSynchronizationActionDevice("picture");
    EXPECT_FALSE(chrome.deviceSync);
    // A late count after the end names nothing, and a work the lost unit took along is not told again
    // at the next connection.
    busySteps({{[] {}, reading},
               {[&] { logic.deviceWorkProgress(5, 100); }, counted("Reading patches", 5, 100)},
               {[&] { logic.deviceWorkDidEnd(); }, ""},
               {[&] { logic.deviceWorkProgress(100, 100); }, ""},
               {[&] { logic.deviceWorkDidStart(Work::Reading), logic.deviceDisonnect(), connect(); }, ""}});
}

TEST_F(MainWindowLogicTest, AQueuedEjectWaitsVisiblyUntilTheUnitAnswers)
{
    const std::pair<const char*, Report> ends[] = {
        {"done", [](auto& l) { l.ejectDeviceWithState(1); }},
        {"refused", [](auto& l) { l.ejectDeviceWithState(0); }},
        {"unplugged", [](auto& l) { l.deviceDisonnect(); }},
    };
    for (const auto& [name, end] : ends) {
        SCOPED_TRACE(name);
        connect();
        EXPECT_FALSE(logic.isEjectWaiting());
        logic.performMenuAction(Action::DisconnectDevice);
        EXPECT_TRUE(logic.isEjectWaiting());
        EXPECT_FALSE(valid(Action::DisconnectDevice));
        logic.performMenuAction(Action::DisconnectDevice);
        EXPECT_EQ(calls("ejectDevice"), 1);
        end(logic);
        EXPECT_FALSE(logic.isEjectWaiting());
        // A refused eject leaves the unit as it was, able to eject again.
        EXPECT_EQ(std::pair(valid(Action::DisconnectDevice), valid(Action::ConnectDevice)),
                  std::pair(appDelegate.isDeviceConnected(), !appDelegate.isDeviceConnected()));
    }
    // With nothing connected there is nothing to wait for.
    logic.ejectDevice();
    EXPECT_FALSE(logic.isEjectWaiting());
}

TEST_F(MainWindowLogicTest, TheHeaderShowsTheUnitAndTheSyncIconsTheRunningActions)
{
    const auto memory = [this] { return std::pair(chrome.memory, chrome.memoryVisible); };
    coordinator.deviceVersion = "1.2";
    logic.didGetDeviceMemory(42.5F);
    EXPECT_EQ(memory(), std::pair(0U, false));
    connect();
    logic.didGetDeviceName("Rig One");
    EXPECT_EQ(chrome.title, "Rig One - PEXO Rigmora");
    EXPECT_EQ(chrome.deviceVersion, "1.2");
    logic.didGetDeviceMemory(42.5F);
    EXPECT_EQ(memory(), std::pair(43U, true));
    logic.didGetDeviceMemory(-1.0F);
    EXPECT_EQ(memory(), std::pair(0U, false));
    logic.ejectDeviceWithState(1);
    const auto server = [this] { return std::pair(chrome.serverSync, chrome.lostServer); };
    for (const char* action : {"a", "b", "a"}) logic.didDoSynchronizationActionServer(action);
    logic.didFinishSynchronizationActionServer("a");
    EXPECT_EQ(logic.synchServerActionList(), (Strings{"b", "a"}));
    logic.didFinishSynchronizationActionServer("unknown");
    logic.didFinishSynchronizationActionServer("b");
    EXPECT_EQ(server(), std::pair(true, false));
    // The lost server hides the server's icon.
    logic.serverConnectWithState(false);
    EXPECT_EQ(server(), std::pair(false, true));
    logic.didDoSynchronizationActionServer("c");
    EXPECT_EQ(server(), std::pair(true, false));
    logic.serverConnectWithState(true);
    EXPECT_EQ(server(), std::pair(true, false));
    logic.didDoSynchronizationActionDevice(std::nullopt);
    EXPECT_FALSE(chrome.deviceSync);
    connect();
    logic.didDoSynchronizationActionDevice("x");
    EXPECT_TRUE(chrome.deviceSync);
    logic.didFinishSynchronizationActionDevice(std::nullopt);
    EXPECT_FALSE(chrome.deviceSync);
    for (int tick = 0; tick < 5; ++tick) logic.animateSyncIcon();
    EXPECT_EQ(chrome.frames, (std::vector<std::size_t>{0, 1, 2, 0, 1}));
}

TEST_F(MainWindowLogicTest, NewConnectionKeepsTheFirstRunsDialogsAndDropsThemLater)
{
    logic.patchPoolDirectoryObject({});
    coordinator.slotsInBank = 4;
    coordinator.deviceImage = QImage(4, 4, QImage::Format_RGB32);
    log.clear();
    logic.deviceConnectWithState(1);
    EXPECT_EQ(log, (CallLog{"clearUndoStack", "savePatchPoolToLocal", "updateDirectoryObjectForPatchPool"}));
    EXPECT_TRUE(appDelegate.isDeviceConnected());
    coordinator.answerDeviceImages();
    EXPECT_TRUE(chrome.hasDeviceImage);
    EXPECT_EQ(patches.numberOfSlotsInBlank, 4);
    log.clear();
    logic.deviceConnectWithState(1);
    EXPECT_EQ(log.front(), "clearAllDialog");
    log.clear();
    for (int ignored : {0, 2, 5}) logic.deviceConnectWithState(ignored);
    EXPECT_TRUE(log.empty());
    logic.deviceConnectWithState(3);
    EXPECT_EQ(log.back(), "info Main_AllQFXNotSupportThisModel");
    EXPECT_FALSE(appDelegate.isDeviceConnected());
}

// The picture is decoded off the main thread: a stale or orphaned answer never shows.
TEST_F(MainWindowLogicTest, AModelPictureShowsOnlyForTheUnitAndTheAskItCameFor)
{
    const QImage picture(4, 4, QImage::Format_RGB32);
    // The asks out answered: whether a picture showed since the last look.
    const auto shows = [this] { return coordinator.answerDeviceImages(), std::exchange(chrome.hasDeviceImage, false); };
    coordinator.deviceImage = picture;
    logic.deviceImageDidArrive();
    EXPECT_FALSE(shows());
    coordinator.deviceImage = QImage();
    logic.deviceConnectWithState(1);
    EXPECT_FALSE(shows());
    coordinator.deviceImage = picture;
    logic.deviceImageDidArrive();
    EXPECT_TRUE(shows());
    logic.deviceDisonnect();
    logic.deviceConnectWithState(1);
    EXPECT_FALSE(chrome.hasDeviceImage);
    logic.deviceDisonnect();
    EXPECT_FALSE(shows());
    logic.deviceConnectWithState(1);
    logic.deviceImageDidArrive();
    ASSERT_EQ(coordinator.imageAsks.size(), 2U);
    // The first ask's answer is stale once the second is out.
    auto first = std::move(coordinator.imageAsks.front());
    coordinator.imageAsks.erase(coordinator.imageAsks.begin());
    first(picture);
    EXPECT_FALSE(chrome.hasDeviceImage);
    EXPECT_TRUE(shows());
    auto closing = std::make_unique<MainWindowLogic>();
    awake(*closing);
    closing->deviceConnectWithState(1);
    ASSERT_EQ(coordinator.imageAsks.size(), 1U);
    closing.reset();
    EXPECT_FALSE(shows());
}

TEST_F(MainWindowLogicTest, LossesClearTheDisplayAndTellOnce)
{
    const CallLog lost{"clearAllDialog", "clearUndoStack", "savePatchPoolToLocal", "removeDeviceDataFolder",
                       "info Main_LostConnectionWithDevice"};
    const CallLog letGo{"clearAllDialog", "clearUndoStack", "savePatchPoolToLocal", "removeDeviceDataFolder"};
    const CallLog ejectAgain{"info Patch_ErrorAndEjectDevice", "ejectDevice"};
    const std::tuple<const char*, Report, CallLog, bool> cases[] = {
        {"disconnect", [](auto& l) { l.deviceDisonnect(); }, lost, false},
        {"no reply", [](auto& l) { l.deviceLostConnectOrNoReply(); }, lost, false},
        {"no reply during a write", [](auto& l) { l.deviceLostDuringWrite({"01:2", "03:4"}); },
         {"clearAllDialog", "clearUndoStack", "savePatchPoolToLocal", "removeDeviceDataFolder",
          "info Main_LostDuringWriteSlotsUnsure 01:2, 03:4"},
         false},
        {"eject done", [](auto& l) { l.ejectDeviceWithState(1); }, {"clearUndoStack", "savePatchPoolToLocal", "removeDeviceDataFolder"}, false},
        {"eject unplugged", [](auto& l) { l.ejectDeviceWithState(-4); }, lost, false},
        {"eject refused", [](auto& l) { l.ejectDeviceWithState(0); }, {"info Main_EjectDeviceFailed"}, true},
        {"eject without a unit", [](auto& l) { l.ejectDeviceWithState(-2); }, lost, false},
        {"let go", [](auto& l) { l.deviceLetGo(); }, letGo, false},
        {"sleep", [](auto& l) { l.systemDidSleep(); }, {"clearUndoStack", "savePatchPoolToLocal"}, false},
        {"effect list lost", [](auto& l) { l.getQFXListwithFailedState(-4); },
         {"ejectDevice", "clearUndoStack", "savePatchPoolToLocal", "info Main_LostConnectionWithDevice"}, false},
        {"effect list failed", [](auto& l) { l.getQFXListwithFailedState(0); }, {"info Main_GetQFXListFailed"}, true},
        {"patch list lost", [](auto& l) { l.getPatchListWithFailedState(-4); },
         {"clearUndoStack", "savePatchPoolToLocal", "info Main_LostConnectionWithDevice"}, false},
        {"patch list failed", [](auto& l) { l.getPatchListWithFailedState(-1); }, {"info Main_GetPatchListFailed"}, true},
        {"list damaged", [](auto& l) { l.readQFXListFail(); }, {"clearUndoStack", "savePatchPoolToLocal", "info Main_ReadQFXListFailed"}, false},
        {"list repaired", [](auto& l) { l.deviceEffectListRepaired(std::nullopt); }, {"info Main_DeviceEffectListRepaired"}, true},
        {"module dropped", [](auto& l) { l.deviceEffectListRepaired("Comp.QF2"); }, {"info Main_DeviceEffectDroppedFromList Comp.QF2"}, true},
        {"patch write error", [](auto& l) { l.writePatchItemWithFailedState(-3, patch("old"), 0); }, ejectAgain, true},
        {"patch write without old", [](auto& l) { l.writePatchItemWithFailedState(0, nullptr, 0); }, ejectAgain, true},
        {"flush", [](auto& l) { l.fileLishFlushWithFailedState(0); }, {}, true},
        {"select", [](auto& l) { l.selectPatchItem(patch("x"), 0); }, {}, true},
        {"eject allowed", [](auto& l) { l.didAllowEjectAction(); }, {}, true},
        {"eject prevented", [](auto& l) { l.didPreventEjectAction(); }, {}, true},
        // A save that failed while the program runs (a disconnect's, a sleep's) says so, and why.
        {"pool not saved", [](auto& l) { l.patchPoolNotSaved("disk full"); }, {"info Main_PatchPoolNotSaved disk full"}, true},
        {"pool kept", [](auto& l) { l.patchPoolKeptFromLastRun(); }, {"info Main_PatchPoolKeptFromLastRun"}, true},
        {"pool kept without", [](auto& l) { l.patchPoolKeptWithout("\"/a.qptc\""); }, {"info Main_PatchPoolKeptWithout \"/a.qptc\""}, true},
    };
    for (const auto& [name, report, expected, stillConnected] : cases) {
        connect();
        report(logic);
        EXPECT_EQ(log, expected) << name;
        EXPECT_EQ(appDelegate.isDeviceConnected(), stillConnected) << name;
    }
    // A failure after which the coordinator takes no request for the unit leaves no unit on the screen: the
    // window clears as for a loss, with the failure's own message over it, and Connect can be used again.
    const std::tuple<const char*, Report, const char*> failures[] = {
        {"effect list unreadable", [](auto& l) { l.getQFXListwithFailedState(0); }, "info Main_GetQFXListFailed"},
        {"dump failed", [](auto& l) { l.getPatchListWithFailedState(0); }, "info Main_GetPatchListFailed"},
    };
    for (const auto& [name, report, told] : failures) {
        SCOPED_TRACE(name);
        connect();
        logic.deviceWorkDidStart(Work::Reading);
        logic.performMenuAction(Action::DisconnectDevice);
        ASSERT_TRUE(logic.isEjectWaiting());
        log.clear();
        logic.deviceLetGo();
        report(logic);
        CallLog expected = letGo;
        expected.push_back(told);
        EXPECT_EQ(log, expected);
        EXPECT_FALSE(appDelegate.isDeviceConnected() || logic.isEjectWaiting());
        EXPECT_TRUE(valid(Action::ConnectDevice) && !valid(Action::DisconnectDevice));
        EXPECT_EQ(chrome.deviceWork, "");
    }
}

TEST_F(MainWindowLogicTest, TerminatingReportsEndTheProgramLaterWhenDismissed)
{
    logic.allQFXDataWithState(3);
    EXPECT_TRUE(dialogs.completions.empty());
    logic.allQFXDataWithState(1);
    logic.allQFXDataWithState(2);
    logic.internetNoConnect();
    ASSERT_EQ(dialogs.completions.size(), 3U);
    EXPECT_EQ(log.back(), "info Main_CanNotConnectToInternet");
    // Each such message says, in both languages, that the program closes on the button that answers it.
    for (const char* language : {"en", "ja"}) {
        const auto table = platform::Bundle::main().table("Localizable", language);
        ASSERT_TRUE(table.has_value());
        const std::string ok = table->entries().at("Common_Ok");
        for (const char* key : {"Main_CanNotConnectToInternet", "Main_CanNotGetQFXFileFromServer"})
            EXPECT_NE(table->entries().at(key).find(ok), std::string::npos) << language << " " << key;
    }
    dialogs.completions.front()();
    // Asked for by a post, never while the sheet's button still runs.
    EXPECT_EQ(chrome.terminated, 0);
    runPosted();
    EXPECT_EQ(chrome.terminated, 1);
}

TEST_F(MainWindowLogicTest, FailedEffectWriteRevertsOnlyWhatTheActionChanged)
{
    // The action; the entry's favourite and deleted marks as the screen left them; the entries left and the
    // deleted mark after the failure (never a favourite).
    const std::tuple<int, bool, bool, std::size_t, bool> cases[] = {
        {1, false, false, 2, false},  // an update: the entry stays as it was
        {2, false, true, 2, false},   // a delete: the mark goes back
        {3, true, false, 2, false},   // a favourite: toggled back
        {4, false, false, 2, true},   // a recover: the deleted mark comes back
        {5, false, false, 1, false},  // an add: the added entry goes
    };
    for (const auto& [actionType, favourite, deleted, count, deletedAfter] : cases) {
        SCOPED_TRACE(actionType);
        connect();
        auto entry = effect(7, "Echo");
        entry->isFavourite = favourite;
        entry->isDeleted = deleted;
        effects.setEffectList({effect(1, "Delay"), entry});
        logic.writeEffectItem(effect(7, "reported"), actionType, 0);
        ASSERT_EQ(effects.effectList().size(), count);
        EXPECT_EQ(std::pair(entry->isFavourite, entry->isDeleted), std::pair(false, deletedAfter));
        EXPECT_EQ(log, (CallLog{"info Main_WriteEffectItemFailed Echo"}));
        EXPECT_EQ(effects.calls.back(), "reloadDataInEffectList");
    }
    for (int lost : {-3, -4}) {
        connect();
        effects.setEffectList({effect(7, "Echo")});
        logic.writeEffectItem(effect(7, "Echo"), 3, lost);
        EXPECT_EQ(log, (CallLog{"ejectDevice", "clearUndoStack", "savePatchPoolToLocal", "info Main_LostConnectionWithDevice"}));
        EXPECT_TRUE(effects.effectList().empty());
    }
    connect();
    logic.writeEffectItem(effect(9, "absent"), 5, 0);
    EXPECT_TRUE(log.empty());
    // An effect file missing here keeps the unit and names the file.
    auto kept = effect(1, "Delay");
    effects.setEffectList({kept, effect(7, "Echo")});
    logic.writeEffectItem(effect(7, "Echo"), 5, CommonUtilsDelegate::kEffectFileMissing);
    EXPECT_EQ(log, (CallLog{"info Main_EffectFileMissing Echo"}));
    EXPECT_EQ(effects.effectList(), (EffectScreen::EffectItems{kept}));
    // A failed delete undeletes the entry.
    for (int state : {0, -4}) {
        connect();
        auto entry = effect(7, "Echo");
        entry->isDeleted = true;
        effects.setEffectList({entry});
        logic.deleteEffectItem(effect(7, "Echo"), state);
        EXPECT_FALSE(entry->isDeleted);
        EXPECT_EQ(log.back(), state == 0 ? "info Main_DeleteEffectItemFailed Echo" : "info Main_LostConnectionWithDevice");
    }
}

TEST_F(MainWindowLogicTest, FailedWritesAndRestoreResults)
{
    logic.patchPoolDirectoryObject({});
    connect();
    patches.setPatchItems({patch("A"), patch("B")});
    logic.writePatchItemWithFailedState(0, patch("old"), 1);
    EXPECT_EQ(patches.patchItems()[1]->patchName, "old");
    EXPECT_EQ(patches.calls.back(), "reloadDataInPatchList");
    logic.writePatchItemWithFailedState(-1, patch("past"), 2);
    EXPECT_EQ(patches.patchItems().size(), 2U);
    EXPECT_TRUE(log.empty());
    auto& summaries = patches.numberOfRestoredDictionaryArray();
    summaries = {{3, 5}, {3, 5}};
    appDelegate.setIsRestoringAll(true);
    patches.setlockPatchList(true);
    for (const std::size_t left : {1U, 0U}) {
        logic.writePatchListWithState(1);
        EXPECT_EQ(patches.calls.back(), "displayRestoreDialog 3/5");
        EXPECT_EQ(summaries.size(), left);
    }
    EXPECT_FALSE(appDelegate.isRestoringAll());
    summaries = {{2, 4}};
    appDelegate.setIsRestoringAll(true);
    patches.setlockPatchList(true);
    patches.backUpAllOrRestoreAllButton()->setEnabled(false);
    log.clear();
    logic.writePatchListWithState(0);
    EXPECT_EQ(log, (CallLog{"info Main_WritePatchListFailed"}));
    EXPECT_FALSE(!summaries.empty() || appDelegate.isRestoringAll() || patches.lockPatchList);
    EXPECT_TRUE(backUpAllEnabled());
    // A restore cut short by a lost unit never reports; its summary goes with the unit, so the next
    // restore shows its own counts.
    const std::pair<const char*, Report> losses[] = {
        {"unplugged", [](auto& l) { l.deviceDisonnect(); }},
        {"no reply", [](auto& l) { l.deviceLostConnectOrNoReply(); }},
        {"asleep", [](auto& l) { l.systemDidSleep(); }},
        {"let go", [](auto& l) { l.deviceLetGo(); }},
    };
    for (const auto& [name, lose] : losses) {
        connect();
        summaries.push_back({50, 100});
        lose(logic);
        connect();
        summaries.push_back({100, 100});
        logic.writePatchListWithState(1);
        EXPECT_EQ(patches.calls.back(), "displayRestoreDialog 100/100") << name;
        EXPECT_TRUE(summaries.empty()) << name;
    }
}

TEST_F(MainWindowLogicTest, ListsAndTreesReachTheScreensAndClearingEmptiesThem)
{
    connect();
    logic.effectListFromDevice({effect(1, "Delay")});
    EXPECT_TRUE(effects.isEffectListLoaded && effects.effectList().size() == 1U);
    logic.patchListFromDevice({patch("A"), patch("B")}, {"A1", "A2"});
    ASSERT_TRUE(patches.isPatchListLoaded() && patches.bankItems().size() == 2U);
    EXPECT_EQ(patches.bankItems()[1]->bankName, "A2");
    EXPECT_EQ(log, (CallLog{"clearUndoStack"}));
    // The pool is still locked: the backup button waits for it.
    EXPECT_FALSE(backUpAllEnabled());
    // Every effect pool tree starts a pool load, later and by a post.
    log.clear();
    logic.serverDirectoryObject({});
    EXPECT_TRUE(log.empty());
    runPosted();
    EXPECT_EQ(log, (CallLog{"createPatchDirectoryObjectFromLocal"}));
    log.clear();
    logic.patchPoolDirectoryObject({std::make_shared<DirectoryObject>()});
    EXPECT_EQ(log, (CallLog{"updateDirectoryObjectForPatchPool"}));
    EXPECT_TRUE(logic.isPatchPoolLoaded() && !patches.isLockPatchPool() && backUpAllEnabled());
    logic.changeEffectListSuccessfully();
    EXPECT_EQ(patches.calls.back(), "reloadData");
    logic.updatePatchItemFromDevice(patch("C"), "B3", {});
    EXPECT_EQ(patches.updatedPatchItems.back().second, "B3");
    // Clearing the app's data empties both screens and leaves the server's actions.
    logic.didDoSynchronizationActionServer("a");
    logic.didGetDeviceName("Rig One");
    appDelegate.setIsRestoringAll(true);
    log.clear(), effects.calls.clear(), patches.calls.clear();
    logic.clearAppData();
    EXPECT_EQ(log, (CallLog{"clearUndoStack", "savePatchPoolToLocal"}));
    EXPECT_EQ(effects.calls, (Strings{"setIsEffectListLoaded 0", "resetEffectPoolState", "reloadData"}));
    EXPECT_EQ(patches.calls, (Strings{"setIsPatchListLoaded 0", "resetPatchPoolState", "reloadData"}));
    EXPECT_FALSE(appDelegate.isDeviceConnected() || appDelegate.isRestoringAll());
    EXPECT_EQ(chrome.title, "PEXO Rigmora");
    EXPECT_FALSE(chrome.memoryVisible || chrome.serverSync);
    EXPECT_EQ(logic.synchServerActionList(), (Strings{"a"}));
}

TEST_F(MainWindowLogicTest, EffectPoolSortsCategoriesByIdAndEffectsByNameIgnoringCase)
{
    using effect_test::leaf;
    using testing_app::groupNode;
    auto echo = effect(1, "Echo");
    auto delay = effect(2, "delay");
    echo->effectCategoryID = delay->effectCategoryID = 5;
    auto drive = effect(3, "Drive");
    drive->effectCategoryID = 2;
    auto model = groupNode("Model", {groupNode("Delays", {leaf(echo), leaf(delay), groupNode("no item")}), groupNode("empty"),
                                     groupNode("Drives", {leaf(drive)})});
    MainWindowLogic::sortEffectPool({model});
    const auto names = [](const auto& nodes) {
        Strings order;
        for (const auto& each : nodes) order.push_back(*each->name);
        return order;
    };
    EXPECT_EQ(names(model->childDirectories), (Strings{"empty", "Drives", "Delays"}));
    EXPECT_EQ(names(model->childDirectories[2]->childDirectories), (Strings{"no item", "delay", "Echo"}));
}

TEST_F(MainWindowLogicTest, UpdateNoticesComeOncePerRunAndConnectionAndEverySheetListsAllUpdatedEffects)
{
    log.clear();
    logic.performMenuAction(Action::InformUpdatingApplication);
    logic.applicationDidHaveUpdateWithCurentVersion("1.0", "1.1");
    EXPECT_TRUE(log.empty());
    logic.performMenuAction(Action::InformUpdatingApplication);
    for (int twice = 0; twice < 2; ++twice) logic.applicationDidHaveUpdateWithCurentVersion("1.0", "1.1");
    EXPECT_EQ(log, (CallLog{"info Main_ApplicationUpdateInformationText PEXO Rigmora"}));
    connect();
    logic.deviceDidHaveUpdateWithCurentVersion("1", "2");
    EXPECT_TRUE(log.empty());  // no name yet
    logic.didGetDeviceName("Rig One");
    for (int twice = 0; twice < 2; ++twice) logic.deviceDidHaveUpdateWithCurentVersion("1", "2");
    EXPECT_EQ(log, (CallLog{"info Main_DeviceUpdateInformationText Rig One"}));
    logic.deviceConnectWithState(1);
    logic.didGetDeviceName("Rig One");
    log.clear();
    logic.deviceDidHaveUpdateWithCurentVersion("1", "2");
    EXPECT_EQ(log, (CallLog{"info Main_DeviceUpdateInformationText Rig One"}));
    // Updated effects replace their row, and every sheet lists them all.
    effects.setEffectList({effect(1, "Delay"), effect(7, "Echo")});
    logic.didFinishUpdateEffectDevice();
    EXPECT_TRUE(dialogs.updateSheets.empty());
    effects.effectList()[1]->isFavourite = true;
    effects.effectList()[1]->effectUsedTimes = 3;
    auto newer = effect(7, "Echo");
    logic.effectItem(newer, "1.0");
    // The row keeps what the unit's list still says of the effect.
    EXPECT_TRUE(newer->isFavourite && newer->effectUsedTimes == 3);
    logic.effectItem(nullptr, "1.0");
    EXPECT_TRUE(effects.effectList()[1] == newer && effects.calls.back() == "reloadEffectListRow 1");
    logic.effectItem(effect(9, "Elsewhere"), "2.0");
    logic.didFinishUpdateEffectDevice();
    logic.effectItem(effect(1, "Delay"), "3.0");
    logic.didFinishUpdateEffectDevice();
    ASSERT_TRUE(dialogs.updateSheets.size() == 2U && dialogs.updateSheets[1].size() == 3U);
    EXPECT_EQ(dialogs.updateSheets[1][0].oldVersion, "1.0");
    logic.clearAppData();
    EXPECT_TRUE(logic.updatedEffectItems().empty());
}

TEST_F(MainWindowLogicTest, DuplicateNamePromptCopiesBesideOrOver)
{
    log.clear();
    logic.copyPatchFileFrom("/a/src.qptc", "/b/taken.qptc", "/b/taken (1).qptc");
    EXPECT_EQ(log.back(), "duplicateAlert taken.qptc");
    dialogs.keepBoth();
    dialogs.replace();
    EXPECT_EQ(log, (CallLog{"duplicateAlert taken.qptc", "writeFilePatch /a/src.qptc > /b/taken (1).qptc keep",
                            "writeFilePatch /a/src.qptc > /b/taken.qptc replace"}));
    // Closed with the other sheets before an answer: nothing is written and the user is told.
    log.clear();
    dialogs.unanswered();
    EXPECT_EQ(log, (CallLog{"info Main_DuplicateCopyNotMade taken.qptc"}));
}

TEST_F(MainWindowLogicTest, HelpOpensTheManualOfTheLanguageAndTheHistoryPage)
{
    EXPECT_FALSE(valid(Action::Manual)) << "no guide installed: the item is greyed";
    std::ofstream(folder.path() + "/PEXO Rigmora Reference guide.pdf") << "%PDF";
    EXPECT_TRUE(valid(Action::Manual));
    logic.performMenuAction(Action::Manual);
    logic.performMenuAction(Action::VersionUpdateHistory);
    EXPECT_EQ(opener.opened, (Strings{"file " + folder.path() + "/PEXO Rigmora Reference guide.pdf", "url https://example.test/history-en"}));
    opener.opened.clear();
    MainWindowLogic japanese;
    awake(japanese, "ja");
    EXPECT_FALSE(japanese.validateMenuItem(Action::Manual)) << "no Japanese guide here";
    japanese.performMenuAction(Action::Manual);
    japanese.performMenuAction(Action::VersionUpdateHistory);
    EXPECT_EQ(opener.opened, (Strings{"url https://example.test/history-ja"}));
}

}  // namespace
