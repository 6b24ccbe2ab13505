#include <algorithm>
#include <map>
#include <optional>

#include "library/QFXListEdit.h"
#include "support/files/FaultyFileManager.h"
#include "support/library/EffectLibraryFixture.h"

namespace fs = std::filesystem;
using namespace effectfiles;
using Types = std::vector<std::uint32_t>;

TEST_F(EffectLibrary, ReadMatchesTheDeviceListWithTheStore)
{
    const Module comp{0x05000002, "Comp", "1.00"};
    connectWith({{0x05, {{"Comp.QF2", "1.00", comp.type, true, true}}},
                 {0x0D, {kEchoOn, kTapeOff, {"Mystery.QF2", "0.90", 0x0D0000FF}, {"Blank", "", 0, false},
                         {"Echo2.QF2", "1.20", kEcho.type}}}},
                5, {comp, kEcho, kTape});
    // Name, effect, version from the device, deleted, favourite, category ID, the copy it reads.
    Strings shown;
    for (const auto& e : recorder.effects())
        shown.push_back(e->fileName + " " + e->effectName + " " + e->effectVersion + " " + std::to_string(e->isDeleted) +
                        std::to_string(e->isFavourite) + " " + std::to_string(e->effectCategoryID) + " " +
                        fs::path(e->path).parent_path().filename().string());
    EXPECT_EQ(shown, (Strings{"Comp.QF2 Comp 1.00 01 5 List", "Echo.QF2 Echo 1.20 00 13 List",
                              "Tape.QF2 Tape 1.01 10 13 List", "Mystery.QF2 UNKNOWN 0.90 00 255 ",
                              "Echo2.QF2 Echo 1.20 00 13 List"}));
    EXPECT_EQ(files.readFile(root / "PEXO Rigmora/Temp/Effect/List/Echo.QF2"), moduleFile(kEcho));
    // Loaded types once each, in list order.
    EXPECT_EQ(utils->getEffectTypeListInDevice(), (Types{comp.type, kEcho.type, 0x0D0000FF}));
    EXPECT_EQ(utils->getNumberOfExistedEffectsInDevice(), 5U);
}

TEST_F(EffectLibrary, AListThatCannotBeStoredIsReadFromMemoryAndPreparesNoEdit)
{
    // The copy is refused; the read goes on to its end from the list in memory.
    FaultyFileManager refusing;
    refusing.fail(FaultyFileManager::Op::Write, "Temp/Device/FLST_SEQ.QT2");
    start(refusing);
    utils->dataFromServer(catalogue());
    utils->connectDevice();
    EXPECT_EQ(until("idle"), (Strings{"busy", "connect 1", "busy", "listFailed 0", "effectPool", "syncFinish",
                                      "effects 1", "memory 0", "name Rig One", "patches 6", "idle"}));
    EXPECT_FALSE(leftEditorMode());
    const auto before = unit.files().file("FLST_SEQ.QT2");
    auto item = std::make_shared<EffectItem>();
    item->fileName = "COMP";
    EXPECT_EQ(heardAfter([&] { utils->addFavouriteOfEffectItem(item); }, "idle"),
              (Strings{"busy", "write 3 0 COMP", "idle"}));
    EXPECT_EQ(unit.files().file("FLST_SEQ.QT2"), before);
    utils.reset();  // its background work uses the refusing disk until it is gone
}

TEST_F(EffectLibrary, AListThatDoesNotParseEndsTheConnection)
{
    start();
    unit.files().setFile("FLST_SEQ.QT2", Bytes(300, 0x5A));
    utils->dataFromServer(catalogue());
    EXPECT_EQ(heardAfter([&] { utils->connectDevice(); }, "readListFail"),
              (Strings{"busy", "connect 1", "busy", "readListFail", "idle", "reset", "idle"}));
    EXPECT_TRUE(loop.runUntil([&] { return leftEditorMode(); }));
}

// A unit found without its list, and none kept from it: nothing can be read or edited on it, so it is let
// go, and the interface is told so before it hears why.
TEST_F(EffectLibrary, AUnitWithoutAListThisProgramHasNotSeenIsLetGoVisibly)
{
    start();
    unit.files().removeFile("FLST_SEQ.QT2");
    utils->dataFromServer(catalogue());
    const Strings heard = heardAfter([&] { utils->connectDevice(); }, "listFailed 0");
    const auto told = std::find(heard.begin(), heard.end(), "listFailed 0");
    ASSERT_NE(told, heard.begin());
    EXPECT_EQ(*(told - 1), "letGo");
    EXPECT_EQ(count(heard, "letGo"), 1);
    EXPECT_TRUE(loop.runUntil([&] { return leftEditorMode(); }));
    EXPECT_EQ(utils->getDeviceName(), std::nullopt);
}

// Each action: what it leaves in the unit's list (and the stored copy) and files, the types loaded, and what
// the interface hears. The unit failing at any step (past the command layer's retries) counts as lost: the
// queue is reset. A failure found on this side or refused by the device layer reaches the action's report,
// and the unit's list is never rewritten.
struct ActionRow {
    const char* name;
    const char* effect;
    EffectLibrary::Request request;
    Strings heard;
    std::optional<std::vector<Category>> after;  // none: the unit's list is as before, or `listCut`
    Strings deviceFiles;                          // empty: not judged
    Types loadedTypes;
    bool favourite = false;
    std::vector<Category> before = kDeviceList;
    std::uint8_t failingStep = 0;
    bool listCut = false;  // a write the unit gave up on leaves its file cut short
    const char* fileName = nullptr;  // replaces the store item's, when given
    const char* path = nullptr;      // replaces the store item's, when given
    bool dropStoredList = false;
};

class EffectAction : public EffectLibrary, public ::testing::WithParamInterface<ActionRow> {};

TEST_P(EffectAction, EditsTheDeviceListAndTellsTheInterface)
{
    const ActionRow& row = GetParam();
    connectWith(row.before);
    auto item = storeItem(row.effect);
    item->isFavourite = row.favourite;
    if (row.fileName) item->fileName = row.fileName;
    if (row.path) item->path = row.path;
    if (row.dropStoredList) fs::remove(storedCopy());
    if (row.failingStep) failNext(row.failingStep);
    EXPECT_EQ(heardAfter([&] { ((*utils).*row.request)(item); }, row.heard.back()), row.heard);
    if (row.after) {
        EXPECT_EQ(deviceList(), listFile(*row.after, 260));
        EXPECT_EQ(files.readFile(storedCopy()), listFile(*row.after, 260));
    } else {
        EXPECT_EQ(deviceList() != listFile(row.before, 260), row.listCut);
    }
    if (!row.deviceFiles.empty()) {
        EXPECT_EQ(unit.files().fileNames(), row.deviceFiles);
    }
    EXPECT_EQ(utils->getEffectTypeListInDevice(), row.loadedTypes);
}

const Record kEchoFavourite{"Echo.QF2", "1.20", kEcho.type, true, true};
const Strings kEchoAndList{"Echo.QF2", "FLST_SEQ.QT2"};
const Strings kChanged{"busy", "memory 0", "idle", "effectListChanged"};
const Strings kLost{"busy", "reset", "idle", "lost"};

INSTANTIATE_TEST_SUITE_P(
    EffectLibrary, EffectAction,
    ::testing::Values(
        ActionRow{"Add", "Delay.QF2", &CommonUtils::addEffectItem, kChanged, {{{0x0D, {kEchoOn, {"Delay.QF2", "1.00", kDelay.type}, kTapeOff}}}},
                  {"Delay.QF2", "Echo.QF2", "FLST_SEQ.QT2"}, {kEcho.type, kDelay.type}},
        ActionRow{"AddInANewCategory", "Boost.QF2", &CommonUtils::replaceEffectItem, kChanged,
                  {{{0x08, {{"Boost.QF2", "1.00", kBoost.type}}}, kDeviceList[0]}}, {"Boost.QF2", "Echo.QF2", "FLST_SEQ.QT2"},
                  {kBoost.type, kEcho.type}},
        ActionRow{"Delete", "Echo.QF2", &CommonUtils::deleteEffectItem, kChanged, {{{0x0D, {{"Echo.QF2", "1.20", kEcho.type, false}, kTapeOff}}}},
                  {"FLST_SEQ.QT2"}, {}},
        ActionRow{"Recover", "Tape.QF2", &CommonUtils::recoverEffectItem, kChanged,
                  {{{0x0D, {kEchoOn, {"Tape.QF2", "1.30", kTape.type, true, true}}}}}, {"Echo.QF2", "FLST_SEQ.QT2", "Tape.QF2"},
                  {kEcho.type, kTape.type}, true},
        ActionRow{"FavouriteOn", "Echo.QF2", &CommonUtils::addFavouriteOfEffectItem, {"busy", "idle"}, {{{0x0D, {kEchoFavourite, kTapeOff}}}},
                  kEchoAndList, {kEcho.type}, true},
        ActionRow{"FavouriteOff", "Echo.QF2", &CommonUtils::removeFavouriteOfEffectItem, {"busy", "idle"}, kDeviceList, kEchoAndList,
                  {kEcho.type}, false, {{0x0D, {kEchoFavourite, kTapeOff}}}},
        ActionRow{"AddFailsAtEffectWrite", "Delay.QF2", &CommonUtils::addEffectItem, kLost, {}, {}, {}, false, kDeviceList, kWrite},
        ActionRow{"AddFailsAtFlush", "Delay.QF2", &CommonUtils::addEffectItem, kLost, {}, {}, {}, false, kDeviceList, kFlush, true},
        ActionRow{"AddFailsAtReRead", "Delay.QF2", &CommonUtils::addEffectItem, kLost, {}, {}, {}, false, kDeviceList, kRead, true},
        ActionRow{"DeleteFailsAtUnlink", "Echo.QF2", &CommonUtils::deleteEffectItem, kLost, {}, {}, {}, false, kDeviceList, kUnlink},
        ActionRow{"DeleteFailsAtListWrite", "Echo.QF2", &CommonUtils::deleteEffectItem, kLost, {}, {}, {}, false, kDeviceList, kWrite, true},
        ActionRow{"FavouriteFailsAtReRead", "Echo.QF2", &CommonUtils::removeFavouriteOfEffectItem, kLost, {}, {}, {}, false, kDeviceList, kRead},
        // A file gone from this machine is told as such (-7), and the unit stays connected.
        ActionRow{"AddOfAFileGoneFromDisk", "Delay.QF2", &CommonUtils::addEffectItem, {"busy", "write 5 -7 Delay.QF2", "idle"}, {},
                  kEchoAndList, {kEcho.type}, false, kDeviceList, 0, false, nullptr, "/nowhere/Delay.QF2"},
        // Without a stored list to edit no file is sent or deleted: the unit's list would not follow.
        ActionRow{"AddWithoutStoredList", "Delay.QF2", &CommonUtils::addEffectItem, {"busy", "write 5 0 Delay.QF2", "idle"}, {},
                  kEchoAndList, {kEcho.type}, false, kDeviceList, 0, false, nullptr, nullptr, true},
        ActionRow{"RecoverWithoutStoredList", "Tape.QF2", &CommonUtils::recoverEffectItem, {"busy", "write 4 0 Tape.QF2", "idle"}, {},
                  kEchoAndList, {kEcho.type}, false, kDeviceList, 0, false, nullptr, nullptr, true},
        ActionRow{"DeleteTheDeviceRefuses", "Echo.QF2", &CommonUtils::deleteEffectItem,
                  {"busy", "delete 0 AnOverlongDeviceFileName.QF2", "idle"}, {}, kEchoAndList, {kEcho.type}, false, kDeviceList, 0, false,
                  "AnOverlongDeviceFileName.QF2"},
        ActionRow{"DeleteWithoutStoredList", "Echo.QF2", &CommonUtils::deleteEffectItem, {"busy", "delete 0 Echo.QF2", "idle"}, {},
                  kEchoAndList, {kEcho.type}, false, kDeviceList, 0, false, nullptr, nullptr, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EffectLibrary, AStoredListWithABlockLeftOpenIsNoBaseForAnEdit)
{
    connectWith(kDeviceList);
    // The unit's list lost the closing record of its last block; a rewrite would drop Comp's record.
    Bytes cut = listFile({kDeviceList[0], {0x05, {{"Comp.QF2", "1.00", 0x05000002}}}});
    cut.resize(cut.size() - OKVQFXInformation::kRecordSize);
    unit.files().setFile("FLST_SEQ.QT2", cut);
    ASSERT_TRUE(files.writeAtomically(storedCopy(), cut));
    auto item = storeItem("Echo.QF2");
    item->isFavourite = true;
    EXPECT_EQ(heardAfter([&] { utils->addFavouriteOfEffectItem(item); }, "idle"),
              (Strings{"busy", "write 3 0 Echo.QF2", "idle"}));
    EXPECT_EQ(deviceList(), cut);
    EXPECT_EQ(files.readFile(storedCopy()), cut);
}

// An effect file read from the unit is stored under its type name only when that name is safe and its
// header parses; otherwise nothing is written and the action fails.
struct ReceivedEffectRow {
    const char* name;
    Bytes data;
    const char* stored;  // nullptr: the action fails
};

class ReceivedEffect : public EffectLibrary, public ::testing::WithParamInterface<ReceivedEffectRow> {};

TEST_P(ReceivedEffect, IsStoredOnlyUnderASafeName)
{
    const ReceivedEffectRow& row = GetParam();
    connectWith(kDeviceList);
    // The add waits for its effect file's write while the unit's file arrives.
    const auto opens = unit.device().requestCount(sim::RequestKey::fileSystem(0x20));
    unit.delayReplies(sim::RequestKey::fileSystem(0x20), std::chrono::milliseconds(300));
    utils->addEffectItem(storeItem("Delay.QF2"));
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(sim::RequestKey::fileSystem(0x20)) > opens; }));
    utils->getQFXListOrQFXWithState(1, row.data);
    const std::string folder = root / "PEXO Rigmora/Temp/Device/Effect";
    if (row.stored) {
        EXPECT_TRUE(loop.runUntil([&] { return fs::exists(folder + "/" + row.stored); }));
        // The add itself goes on to its end.
        EXPECT_EQ(until("effectListChanged").back(), "effectListChanged");
    } else {
        EXPECT_EQ(until("idle"), (Strings{"busy", "write 5 0 Delay.QF2", "idle"}));
        EXPECT_FALSE(fs::exists(folder));
    }
}

INSTANTIATE_TEST_SUITE_P(EffectLibrary, ReceivedEffect,
                         ::testing::Values(ReceivedEffectRow{"GoodHeader", moduleFile(kDelay), "Delay.QF2"},
                                           ReceivedEffectRow{"HeaderDoesNotParse", Bytes(60, 0x41), nullptr},
                                           ReceivedEffectRow{"NameLeavesTheFolder", moduleFile({kDelay.type, "..", ""}), nullptr},
                                           ReceivedEffectRow{"NameWithASlash", moduleFile({kDelay.type, "a/b", ""}), nullptr}),
                         [](const auto& info) { return std::string(info.param.name); });

// Use counts: an effect spanning several slots counts once per occurrence, and a slot that claims no
// units still moves the walk on.
TEST(EffectUseCount, CountsOccurrencesOverThePatches)
{
    constexpr std::uint32_t kType = 0x0D000002;
    const auto slot = [](std::uint32_t type, std::int64_t units) {
        return platform::PlistDictionary{{"effectType", std::int64_t(type)}, {"useUnitNum", units}};
    };
    const auto patch = [](std::int64_t slots, std::vector<std::pair<int, platform::PlistDictionary>> used) {
        auto p = std::make_shared<PatchItem>();
        p->effectDictionnary["NumberOfSlot"] = slots;
        for (auto& [i, s] : used) p->effectDictionnary["slot " + std::to_string(i)] = std::move(s);
        return p;
    };
    const struct {
        std::vector<std::shared_ptr<PatchItem>> patches;
        std::int64_t expected;
    } rows[] = {
        {{patch(4, {{0, slot(kType, 2)}, {1, slot(kType, 2)}, {2, slot(kType, 2)}})}, 2},
        {{patch(3, {{0, slot(kType, 0)}, {1, slot(kType, 0)}})}, 2},
        {{patch(3, {{1, slot(0x05000001, 1)}, {2, {}}})}, 0},
        {{patch(1, {{1, slot(kType, 1)}})}, 0},
        {{patch(1, {{0, slot(kType, 1)}}), patch(2, {{1, slot(kType, 1)}})}, 2},
    };
    for (const auto& row : rows) {
        auto item = std::make_shared<EffectItem>();
        item->effectType = kType;
        CommonUtils::countEffectUsedTimesWithEffectItem(item, row.patches);
        EXPECT_EQ(item->effectUsedTimes, row.expected);
    }
    // The list form skips unknown effects.
    auto known = std::make_shared<EffectItem>(), unknown = std::make_shared<EffectItem>();
    known->effectType = unknown->effectType = kType;
    unknown->effectName = "UNKNOWN";
    CommonUtils::countEffectUsedTimesInEffectList({known, unknown}, {patch(1, {{0, slot(kType, 1)}})});
    EXPECT_EQ(std::pair(known->effectUsedTimes, unknown->effectUsedTimes), std::pair(std::int64_t(1), std::int64_t(0)));
    EXPECT_EQ(CommonUtils::checkEffectExisted(*known, {}), -1);
}

// The connect read marks the pool for the connected unit and then replaces every loaded effect the store
// holds in a newer version, one action each, then a closing action.
TEST_F(EffectLibrary, TheConnectReadMarksThePoolAndUpdatesEachOutdatedLoadedEffect)
{
    const Module comp{0x05000002, "Comp", "10.0"};
    // Comp (2.0 against 10.0) and Echo are newer in the store; Tape is too, but deleted on the unit.
    const std::vector<Category> list{{0x05, {{"Comp.QF2", "2.0", comp.type}}},
                                     {0x0D, {{"Echo.QF2", "1.00", kEcho.type}, kTapeOff}}};
    effectsOnDevice = 3;
    Strings expected{"effectPool", "syncFinish"};
    for (const std::string& e : connectRead())
        if (e != "idle") expected.push_back(e);
    for (const char* e : {"busy", "memory 0", "updated Comp.QF2 from 2.0", "busy", "memory 0",
                          "updated Echo.QF2 from 1.00", "busy", "updatesDone", "idle", "effectListChanged"})
        expected.push_back(e);
    EXPECT_EQ(connectHearing(list, {comp, kEcho, kTape, kDelay}, catalogueListing({comp, kEcho, kDelay}),
                             "effectListChanged"),
              expected);
    EXPECT_EQ(deviceList(), listFile({{0x05, {{"Comp.QF2", "10.0", comp.type}}},
                                      {0x0D, {{"Echo.QF2", "1.20", kEcho.type}, kTapeOff}}}, 260));
    EXPECT_EQ(unit.files().file("Comp.QF2"), moduleFile(comp));

    // The tree the read handed over is marked for this unit: what it holds is not new, the delay is.
    ASSERT_EQ(recorder.effectPool.size(), 1u);
    const auto& model = recorder.effectPool[0];
    ASSERT_EQ(model->childDirectories.size(), 1u);
    std::map<std::string, std::pair<bool, bool>> marks;  // name -> (new, incompatible)
    for (const auto& leaf : model->childDirectories[0]->childDirectories)
        marks[leaf->name.value_or("")] = {leaf->isNew, leaf->isIncompatible};
    using Marks = std::map<std::string, std::pair<bool, bool>>;
    EXPECT_EQ(marks, (Marks{{"Comp", {false, false}}, {"Echo", {false, false}}, {"Delay", {true, false}}}));
    EXPECT_TRUE(model->hasNewChild && model->childDirectories[0]->hasNewChild);

    // Up to date now: nothing is queued.
    EXPECT_EQ(heardAfter([&] { utils->mergeEffect(); }, "syncFinish"), (Strings{"effectPool", "syncFinish"}));
}

// Without a stored list to edit, an update sends no newer file: the unit keeps its file and its list.
TEST_F(EffectLibrary, AnUpdateWithoutAStoredListLeavesTheUnitAlone)
{
    const Module comp{0x05000002, "Comp", "10.0"};
    FaultyFileManager refusing;
    refusing.fail(FaultyFileManager::Op::Write, "Temp/Device/FLST_SEQ.QT2");
    const std::vector<Category> list{{0x05, {{"Comp.QF2", "2.0", comp.type}}}};
    const Bytes before = moduleFile({comp.type, "Comp", "2.0"});
    unit.files().setFile("Comp.QF2", before);
    EXPECT_EQ(connectHearing(list, {comp}, catalogue(), "idle", &refusing),
              (Strings{"effectPool", "syncFinish", "busy", "connect 1", "busy", "listFailed 0", "effectPool",
                       "syncFinish", "effects 1", "memory 0", "name Rig One", "patches 6", "busy",
                       "write 1 0 Comp.QF2", "busy", "updatesDone", "idle"}));
    EXPECT_EQ(unit.files().file("Comp.QF2"), before);
    EXPECT_EQ(deviceList(), listFile(list, 260));
    utils.reset();  // its background work uses the refusing disk until it is gone
}

TEST_F(EffectLibrary, ADeviceLostDuringTheUpdatesDropsTheRestAndTheClosingAction)
{
    const std::vector<Category> list{{0x0D, {{"Echo.QF2", "1.00", kEcho.type}, kTapeOff}}};
    failNext(kWrite);
    effectsOnDevice = 2;
    Strings expected{"effectPool", "syncFinish"};
    for (const std::string& e : connectRead())
        if (e != "idle") expected.push_back(e);
    for (const char* e : {"busy", "reset", "idle", "lost"}) expected.push_back(e);
    EXPECT_EQ(connectHearing(list, {kEcho, kDelay, kTape, kBoost}, catalogue(), "lost"), expected);
    EXPECT_EQ(deviceList(), listFile(list, 260));
}

// Connect pressed after the catalogue came but before the downloads ended: the tree is built when they
// end, marked for the unit, and the unit's outdated effects are updated.
TEST_F(EffectLibrary, AUnitConnectedBeforeTheDownloadsEndGetsThePoolAndItsUpdates)
{
    start();
    unit.files().setFile("FLST_SEQ.QT2", listFile({{0x0D, {{"Echo.QF2", "1.00", kEcho.type}, kTapeOff}}}, 260));
    unit.files().setFile("Echo.QF2", moduleFile({kEcho.type, "Echo", "1.00"}));
    utils->dataFromServer(catalogueListing({kEcho, kDelay}));
    utils->connectDevice();
    ASSERT_EQ(until("idle").back(), "idle");
    for (const auto& module : {kEcho, kDelay, kTape}) storeModule(module);
    utils->downloadFileSuccess(true);
    const Strings heard = until("updatesDone");
    EXPECT_EQ(count(heard, "updated Echo.QF2 from 1.00"), 1) << ::testing::PrintToString(heard);
    settle();
    ASSERT_EQ(recorder.effectPool.size(), 1u);
    ASSERT_EQ(recorder.effectPool[0]->childDirectories.size(), 1u);
    std::map<std::string, bool> isNew;
    for (const auto& leaf : recorder.effectPool[0]->childDirectories[0]->childDirectories)
        isNew[leaf->name.value_or("")] = leaf->isNew;
    EXPECT_EQ(isNew, (std::map<std::string, bool>{{"Echo", false}, {"Delay", true}}));
}

// A store holding one type twice (a full download again beside the first): the update sends the file
// meant for the connected model.
TEST_F(EffectLibrary, AnUpdateSendsTheStoreFileMeantForTheConnectedModel)
{
    start();
    unit.files().setFile("FLST_SEQ.QT2", listFile({{0x0D, {{"Echo.QF2", "1.00", kEcho.type}}}}, 260));
    unit.files().setFile("Echo.QF2", moduleFile({kEcho.type, "Echo", "1.00"}));
    const Module other{kEcho.type, "Echo", "1.30"}, meant{kEcho.type, "Echo", "1.50"};
    for (const char* folder : {"A Other", "Rig One"}) fs::create_directories(store(folder));
    ASSERT_TRUE(files.writeAtomically(store("A Other/Echo.QF2"), moduleFile(other)));
    ASSERT_TRUE(files.writeAtomically(store("Rig One/Echo.QF2"), moduleFile(meant)));
    utils->dataFromServer(catalogueListing({kEcho}));
    utils->downloadFileSuccess(true);
    const Strings heard = until("updatesDone");
    ASSERT_EQ(count(heard, "updated Echo.QF2 from 1.00"), 1) << ::testing::PrintToString(heard);
    EXPECT_EQ(unit.files().file("Echo.QF2"), moduleFile(meant));
}

// A quit asked while the unit's patches are read: the read ends, and the updates it queued behind itself
// never start; the program ends with the unit as it was.
TEST_F(EffectLibrary, AQuitDuringTheReadLetsItEndAndStartsNoUpdateOfTheUnitsEffects)
{
    const Module comp{0x05000002, "Comp", "10.0"};
    const std::vector<Category> list{{0x05, {{"Comp.QF2", "2.0", comp.type}}},
                                     {0x0D, {{"Echo.QF2", "1.00", kEcho.type}, kTapeOff}}};
    const Bytes oldComp = moduleFile({comp.type, "Comp", "2.0"});
    unit.files().setFile("Comp.QF2", oldComp);
    effectsOnDevice = 3;
    // The dump held after its first patch: the list is read, and the updates are queued behind the read.
    const sim::RequestKey dump = sim::RequestKey::maker(0x46);
    unit.holdReplies(dump, 1);
    Strings heard = connectHearing(list, {comp, kEcho, kTape, kDelay}, catalogueListing({comp, kEcho, kDelay}),
                                   "effects 3");
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(dump) >= 2; }));
    // The quit is on the coordinator's queue ahead of the dump's next answer.
    utils->closeApp();
    unit.releaseReplies();
    ASSERT_TRUE(loop.runUntil([&] {
        for (auto& e : recorder.take()) heard.push_back(std::move(e));
        return lifecycle.terminated == 1;
    }));
    EXPECT_EQ(count(heard, "patches 6"), 1) << ::testing::PrintToString(heard);
    EXPECT_EQ(std::count_if(heard.begin(), heard.end(),
                            [](const std::string& e) { return e.starts_with("updated") || e.starts_with("write "); }),
              0)
        << ::testing::PrintToString(heard);
    EXPECT_EQ(unit.files().file("Comp.QF2"), oldComp);
    EXPECT_EQ(deviceList(), listFile(list, 260));
}

// ---- the list edit itself, on the stored copy alone.

namespace {

// The stored list every edit starts from: two categories, 0x05 and 0x0D, in a 260-byte file.
const std::vector<Category> kStored = {
    {0x05, {{"Comp.QF2", "1.00", 0x05000002}, {"Gate.QF2", "1.00", 0x05000009, true, true}}},
    {0x0D, {{"Echo.QF2", "1.00", 0x0D000002}, {"Tape.QF2", "1.01", 0x0D000008, false}}},
};

EffectItem item(std::uint32_t type, std::int32_t category, const std::string& version = "2.00", bool favourite = false)
{
    EffectItem e;
    e.fileName = "New.QF2";
    e.effectType = type;
    e.effectCategoryID = category;
    e.effectVersion = version;
    e.isFavourite = favourite;
    return e;
}

Record added(std::uint32_t type) { return {"New.QF2", "2.00", type}; }

}  // namespace

// The coordinator's action tests cover the common edits; these are the edges.
TEST(QFXListEdit, RewritesTheStoredListByteForByte)
{
    const struct {
        const char* name;
        EffectItem item;
        std::int32_t action;
        std::vector<Category> expected;
    } rows[] = {
        {"an add above all appends", item(0x0D000010, 0x0D), QFXListEdit::Add,
         {kStored[0], {0x0D, {kStored[1].records[0], kStored[1].records[1], added(0x0D000010)}}}},
        // Types compare unsigned: a top bit set sorts last.
        {"an add of a high-bit type goes last", item(0x8D000001, 0x0D), QFXListEdit::Add,
         {kStored[0], {0x0D, {kStored[1].records[0], kStored[1].records[1], added(0x8D000001)}}}},
        {"a new category first", item(0x01000001, 0x01), QFXListEdit::Add, {{0x01, {added(0x01000001)}}, kStored[0], kStored[1]}},
        {"a new category last", item(0x20000001, 0x20), QFXListEdit::Add, {kStored[0], kStored[1], {0x20, {added(0x20000001)}}}},
        {"a favourite of a missing type changes nothing", item(0x0D000005, 0x0D, "1.00", true), QFXListEdit::Favourite, kStored},
        {"a delete in a missing category changes nothing", item(0x07000001, 0x07), QFXListEdit::Delete, kStored},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<OKVQFXList> list = QFXListEdit::parse(listFile(kStored, 260));
        ASSERT_TRUE(list);
        QFXListEdit::apply(*list, list->arrayCategory().size(), row.item, row.action);
        const std::size_t grown = std::max<std::size_t>(260, listFile(row.expected).size());
        EXPECT_EQ(list->getByteData(), listFile(row.expected, grown));
    }
}

TEST(QFXListEdit, AStoredCopyWithoutBlocksIsNoBaseForAnEdit)
{
    EXPECT_FALSE(QFXListEdit::parse(Bytes{}));
    EXPECT_FALSE(QFXListEdit::parse(Bytes(300, 0x5A)));
    // A block never closed is no block.
    Bytes unclosed = effectlist::marker(0x3E, 0x0D);
    unclosed.resize(52, 0x01);
    EXPECT_FALSE(QFXListEdit::parse(unclosed));
    // An all-zero file is a device list that holds nothing yet.
    const auto empty = QFXListEdit::parse(Bytes(104, 0));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->arrayCategory().empty());
}

// Two records of one type: the edit changes the record naming the item's file, the file the device
// operation sent or deleted; an item whose file the list does not name changes the first of the type.
TEST(QFXListEdit, ChangesTheRecordOfTheItemsFileAmongRecordsOfOneType)
{
    const Record echo{"Echo.QF2", "1.00", 0x0D000002}, echo2{"Echo2.QF2", "1.00", 0x0D000002};
    const struct {
        const char* file;
        std::int32_t action;
        std::vector<Record> expected;
    } rows[] = {
        {"Echo2.QF2", QFXListEdit::Delete, {echo, {"Echo2.QF2", "1.00", 0x0D000002, false}}},
        {"Echo2.QF2", QFXListEdit::Recover, {echo, {"Echo2.QF2", "2.00", 0x0D000002, true, true}}},
        {"Other.QF2", QFXListEdit::Delete, {{"Echo.QF2", "1.00", 0x0D000002, false}, echo2}},
    };
    for (const auto& row : rows) {
        std::optional<OKVQFXList> list = QFXListEdit::parse(listFile({{0x0D, {echo, echo2}}}));
        ASSERT_TRUE(list);
        EffectItem e = item(0x0D000002, 0x0D, "2.00", true);
        e.fileName = row.file;
        QFXListEdit::apply(*list, 1, e, row.action);
        EXPECT_EQ(list->getByteData(), listFile({{0x0D, row.expected}})) << row.file << " " << row.action;
    }
}
