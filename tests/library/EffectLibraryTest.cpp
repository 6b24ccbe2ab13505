#include <filesystem>

#include "library/models/EffectItem.h"
#include "library/models/PatchItem.h"
#include "support/library/CoordinatorFixture.h"
#include "support/library/EffectFiles.h"

namespace fs = std::filesystem;
using namespace effectfiles;

namespace {

const Module kEcho{0x0D000002, 0x0D, "Echo", "1.20"};
const Module kDelay{0x0D000004, 0x0D, "Delay", "1.00"};
const Module kTape{0x0D000008, 0x0D, "Tape", "1.30"};
const Module kBoost{0x08000001, 0x08, "Boost", "1.00"};

const Record kEchoOn{"Echo.QF2", "1.00", kEcho.type};
const Record kTapeOff{"Tape.QF2", "1.01", kTape.type, false};

// The device's list at connection: Echo loaded, Tape deleted, in a 260-byte file.
const std::vector<Category> kDeviceList = {{0x0D, {kEchoOn, kTapeOff}}};

}  // namespace

class EffectLibrary : public Coordinator {
protected:
    std::string store(const std::string& name) const { return root / ("PEXO Rigmora/QFXMacApplication/Effect/" + name); }
    std::string storeModule(const std::string& name, const Module& module)
    {
        fs::create_directories(fs::path(store(name)).parent_path());
        files.writeAtomically(store(name), moduleFile(module));
        return store(name);
    }
    // A connected device holding `list`, after a synchronisation that left `storeModules` in the store.
    void connectWith(const std::vector<Category>& list, int effects = 2,
                     const std::vector<Module>& storeModules = {kEcho, kDelay, kTape, kBoost})
    {
        start();
        unit.files().setFile("FLST_SEQ.QT2", listFile(list, 260));
        unit.files().setFile("Echo.QF2", moduleFile(kEcho));
        for (const Module& module : storeModules) storeModule(module.typeName + ".QF2", module);
        utils->dataFromServer(catalogue());
        utils->downloadFileSuccess(true);
        ASSERT_EQ(until("idle"), (Strings{"effectPool", "syncFinish", "busy", "connect 1", "busy",
                                          "effects " + std::to_string(effects), "idle"}));
    }
    std::shared_ptr<EffectItem> storeItem(const std::string& name) { return utils->getEffectItemWithPath(store(name)); }
    Bytes deviceList() { return unit.files().file("FLST_SEQ.QT2").value_or(Bytes{}); }
    std::string storedCopy() const { return root / "PEXO Rigmora/Temp/Device/FLST_SEQ.QT2"; }
    void failNext(std::uint8_t sub, std::int32_t code = 1)
    {
        unit.files().changeFaults([&](SimulatedFileSystem::Faults& f) {
            f.failCount[sub] = 50;
            f.code = code;
        });
    }
};

TEST_F(EffectLibrary, ReadMatchesTheDeviceListWithTheStore)
{
    const Module comp{0x05000002, 0x05, "Comp", "1.00"};
    connectWith({{0x05, {{"Comp.QF2", "1.00", comp.type, true, true}}},
                 {0x0D, {kEchoOn, kTapeOff, {"Mystery.QF2", "0.90", 0x0D0000FF}, {"Blank", "", 0, false},
                         {"Echo2.QF2", "1.00", kEcho.type}}}},
                5, {comp, kEcho, kTape});

    const auto effects = recorder.effects();
    ASSERT_EQ(effects.size(), 5U);
    const std::string copies = root / "PEXO Rigmora/Temp/Effect/List/";
    struct Expected {
        std::string fileName, effectName, version, path;
        bool deleted, favourite;
        std::int32_t categoryID;
    };
    const std::vector<Expected> expected = {
        {"Comp.QF2", "Comp", "1.00", copies + "Comp.QF2", false, true, 0x05},
        {"Echo.QF2", "Echo", "1.00", copies + "Echo.QF2", false, false, 0x0D},
        {"Tape.QF2", "Tape", "1.01", copies + "Tape.QF2", true, false, 0x0D},
        {"Mystery.QF2", "UNKNOWN", "0.90", "", false, false, 255},
        {"Echo2.QF2", "Echo", "1.00", copies + "Echo.QF2", false, false, 0x0D},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].fileName);
        EXPECT_EQ(effects[i]->fileName, expected[i].fileName);
        EXPECT_EQ(effects[i]->effectName, expected[i].effectName);
        EXPECT_EQ(effects[i]->effectVersion, expected[i].version);
        EXPECT_EQ(effects[i]->path, expected[i].path);
        EXPECT_EQ(effects[i]->isDeleted, expected[i].deleted);
        EXPECT_EQ(effects[i]->isFavourite, expected[i].favourite);
        EXPECT_EQ(effects[i]->effectCategoryID, expected[i].categoryID);
    }
    EXPECT_EQ(files.readFile(copies + "Echo.QF2"), moduleFile(kEcho));
    // Loaded types once each, in list order; the deleted Tape is not loaded.
    EXPECT_EQ(utils->getEffectTypeListInDevice(), (std::vector<std::uint32_t>{0x05000002, kEcho.type, 0x0D0000FF}));
    EXPECT_EQ(utils->getNumberOfExistedEffectsInDevice(), 5U);
}

TEST_F(EffectLibrary, AListThatCannotBeStoredIsStillReadFromMemory)
{
    start();
    // "Temp" is a file, so the list's folder cannot be made.
    fs::remove_all(root / "PEXO Rigmora/Temp");
    files.writeAtomically(root / "PEXO Rigmora/Temp", Bytes{1});
    utils->dataFromServer(catalogue());
    utils->connectDevice();
    EXPECT_EQ(until("idle"), (Strings{"busy", "connect 1", "busy", "listFailed 0", "effects 1", "idle"}));
    // Without a stored copy an edit has no base: the device's list stays as it was.
    const Bytes before = *unit.files().file("FLST_SEQ.QT2");
    auto item = std::make_shared<EffectItem>();
    item->fileName = "COMP";
    utils->addFavouriteOfEffectItem(item);
    EXPECT_EQ(until("idle"), (Strings{"busy", "write 3 0 COMP", "idle"}));
    EXPECT_EQ(unit.files().file("FLST_SEQ.QT2"), before);
}

TEST_F(EffectLibrary, AListThatDoesNotParseEndsTheConnection)
{
    start();
    unit.files().setFile("FLST_SEQ.QT2", Bytes(300, 0x5A));
    utils->dataFromServer(catalogue());
    utils->connectDevice();
    const Strings heard = until("readListFail");
    EXPECT_TRUE(loop.runUntil([&] { return leftEditorMode(); }));
    EXPECT_EQ(utils->getDeviceName(), std::nullopt);
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "effects 1"), 0);
}

// Each action against the simulated device: what it leaves in the device's list and files, and what the
// interface hears.
struct ActionRow {
    const char* name;
    const char* effect;
    void (CommonUtils::*request)(const std::shared_ptr<EffectItem>&);
    bool favourite;
    std::vector<Category> before;
    std::vector<Category> after;
    std::vector<std::string> deviceFiles;
    bool listChanged;
    std::vector<std::uint32_t> loadedTypes;
};

void PrintTo(const ActionRow& row, std::ostream* os) { *os << row.name; }

class EffectAction : public EffectLibrary, public ::testing::WithParamInterface<ActionRow> {};

const Record kDelayOn{"Delay.QF2", "1.00", kDelay.type};

TEST_P(EffectAction, EditsTheDeviceListAndTellsTheInterface)
{
    const ActionRow& row = GetParam();
    connectWith(row.before);
    auto item = storeItem(row.effect);
    ASSERT_TRUE(item);
    item->isFavourite = row.favourite;
    ((*utils).*row.request)(item);
    Strings heard = until("idle");
    for (auto& e : settle()) heard.push_back(e);
    EXPECT_EQ(heard, row.listChanged ? (Strings{"busy", "idle", "effectListChanged"}) : (Strings{"busy", "idle"}));
    EXPECT_EQ(deviceList(), listFile(row.after, 260));
    EXPECT_EQ(files.readFile(storedCopy()), listFile(row.after, 260));
    EXPECT_EQ(unit.files().fileNames(), row.deviceFiles);
    EXPECT_EQ(utils->getEffectTypeListInDevice(), row.loadedTypes);
}

INSTANTIATE_TEST_SUITE_P(
    EffectLibrary, EffectAction,
    ::testing::Values(
        ActionRow{"Add", "Delay.QF2", &CommonUtils::addEffectItem, false, kDeviceList,
                  {{0x0D, {kEchoOn, {"Delay.QF2", "1.00", kDelay.type}, kTapeOff}}},
                  {"Delay.QF2", "Echo.QF2", "FLST_SEQ.QT2"}, true, {kEcho.type, kDelay.type}},
        ActionRow{"AddInANewCategory", "Boost.QF2", &CommonUtils::replaceEffectItem, false, kDeviceList,
                  {{0x08, {{"Boost.QF2", "1.00", kBoost.type}}}, kDeviceList[0]},
                  {"Boost.QF2", "Echo.QF2", "FLST_SEQ.QT2"}, true, {kBoost.type, kEcho.type}},
        ActionRow{"Delete", "Echo.QF2", &CommonUtils::deleteEffectItem, false, kDeviceList,
                  {{0x0D, {{"Echo.QF2", "1.00", kEcho.type, false}, kTapeOff}}}, {"FLST_SEQ.QT2"}, true, {}},
        ActionRow{"Recover", "Tape.QF2", &CommonUtils::recoverEffectItem, true, kDeviceList,
                  {{0x0D, {kEchoOn, {"Tape.QF2", "1.30", kTape.type, true, true}}}},
                  {"Echo.QF2", "FLST_SEQ.QT2", "Tape.QF2"}, true, {kEcho.type, kTape.type}},
        ActionRow{"FavouriteOn", "Echo.QF2", &CommonUtils::addFavouriteOfEffectItem, true, kDeviceList,
                  {{0x0D, {{"Echo.QF2", "1.00", kEcho.type, true, true}, kTapeOff}}}, {"Echo.QF2", "FLST_SEQ.QT2"},
                  false, {kEcho.type}},
        ActionRow{"FavouriteOff", "Echo.QF2", &CommonUtils::removeFavouriteOfEffectItem, false,
                  {{0x0D, {{"Echo.QF2", "1.00", kEcho.type, true, true}, kTapeOff}}}, kDeviceList,
                  {"Echo.QF2", "FLST_SEQ.QT2"}, false, {kEcho.type}}),
    [](const auto& info) { return std::string(info.param.name); });

// The device failing at each step of an action (after the command layer's retries) counts as lost: the
// queue is reset and the interface told, whatever the step.
struct DeviceFailureRow {
    const char* name;
    const char* effect;
    void (CommonUtils::*request)(const std::shared_ptr<EffectItem>&);
    std::uint8_t failingStep;  // file-system sub-function
    bool listChanged;  // a write the device gave up on leaves its file cut short
};

void PrintTo(const DeviceFailureRow& row, std::ostream* os) { *os << row.name; }

class EffectDeviceFailure : public EffectLibrary, public ::testing::WithParamInterface<DeviceFailureRow> {};

TEST_P(EffectDeviceFailure, ResetsTheQueueAndReportsTheDeviceLost)
{
    const DeviceFailureRow& row = GetParam();
    connectWith(kDeviceList);
    auto item = storeItem(row.effect);
    ASSERT_TRUE(item);
    failNext(row.failingStep);
    ((*utils).*row.request)(item);
    Strings heard = until("lost");
    for (auto& e : settle()) heard.push_back(e);
    EXPECT_EQ(heard, (Strings{"busy", "reset", "idle", "lost"}));
    EXPECT_EQ(deviceList() != listFile(kDeviceList, 260), row.listChanged);
    EXPECT_EQ(utils->getEffectTypeListInDevice(), std::vector<std::uint32_t>{});
    EXPECT_EQ(utils->getMaxEffectInDevice(), 0);
}

constexpr std::uint8_t kWrite = 0x23, kUnlink = 0x24, kFlush = 0x09, kRead = 0x22;

INSTANTIATE_TEST_SUITE_P(
    EffectLibrary, EffectDeviceFailure,
    ::testing::Values(DeviceFailureRow{"AddEffectWrite", "Delay.QF2", &CommonUtils::addEffectItem, kWrite, false},
                      DeviceFailureRow{"AddFlush", "Delay.QF2", &CommonUtils::addEffectItem, kFlush, true},
                      DeviceFailureRow{"AddReRead", "Delay.QF2", &CommonUtils::addEffectItem, kRead, true},
                      DeviceFailureRow{"RecoverEffectWrite", "Tape.QF2", &CommonUtils::recoverEffectItem, kWrite, false},
                      DeviceFailureRow{"DeleteUnlink", "Echo.QF2", &CommonUtils::deleteEffectItem, kUnlink, false},
                      DeviceFailureRow{"DeleteListWrite", "Echo.QF2", &CommonUtils::deleteEffectItem, kWrite, true},
                      DeviceFailureRow{"DeleteFlush", "Echo.QF2", &CommonUtils::deleteEffectItem, kFlush, true},
                      DeviceFailureRow{"FavouriteListWrite", "Echo.QF2", &CommonUtils::addFavouriteOfEffectItem, kWrite,
                                       true},
                      DeviceFailureRow{"FavouriteReRead", "Echo.QF2", &CommonUtils::removeFavouriteOfEffectItem, kRead,
                                       false}),
    [](const auto& info) { return std::string(info.param.name); });

// Failures the coordinator or the device layer find themselves reach the action's report, and the
// loaded types keep what the device still holds.
struct ActionFailureRow {
    const char* name;
    const char* fileName;  // the item's, changed from the store's
    const char* path;      // the item's, changed from the store's
    const char* effect;
    void (CommonUtils::*request)(const std::shared_ptr<EffectItem>&);
    bool dropStoredList;
    Strings heard;
    std::vector<std::string> deviceFiles;
    std::vector<std::uint32_t> loadedTypes;
};

void PrintTo(const ActionFailureRow& row, std::ostream* os) { *os << row.name; }

class EffectActionFailure : public EffectLibrary, public ::testing::WithParamInterface<ActionFailureRow> {};

TEST_P(EffectActionFailure, ReportsTheFailureAndKeepsWhatTheDeviceHolds)
{
    const ActionFailureRow& row = GetParam();
    connectWith(kDeviceList);
    auto item = storeItem(row.effect);
    ASSERT_TRUE(item);
    if (row.fileName) item->fileName = row.fileName;
    if (row.path) item->path = row.path;
    if (row.dropStoredList) fs::remove(storedCopy());
    ((*utils).*row.request)(item);
    Strings heard = until(row.heard.back());
    for (auto& e : settle()) heard.push_back(e);
    EXPECT_EQ(heard, row.heard);
    // The device's list is never rewritten by a failed action.
    EXPECT_EQ(deviceList(), listFile(kDeviceList, 260));
    EXPECT_EQ(unit.files().fileNames(), row.deviceFiles);
    EXPECT_EQ(utils->getEffectTypeListInDevice(), row.loadedTypes);
}

INSTANTIATE_TEST_SUITE_P(
    EffectLibrary, EffectActionFailure,
    ::testing::Values(
        ActionFailureRow{"AddOfAFileGoneFromDisk", nullptr, "/nowhere/Delay.QF2", "Delay.QF2",
                         &CommonUtils::addEffectItem, false, {"busy", "write 5 -3 Delay.QF2", "idle"},
                         {"Echo.QF2", "FLST_SEQ.QT2"}, {kEcho.type}},
        ActionFailureRow{"AddWithoutStoredList", nullptr, nullptr, "Delay.QF2", &CommonUtils::addEffectItem, true,
                         {"busy", "write 5 0 Delay.QF2", "idle", "effectListChanged"},
                         {"Delay.QF2", "Echo.QF2", "FLST_SEQ.QT2"}, {kEcho.type}},
        ActionFailureRow{"AddWithoutFileName", "", nullptr, "Delay.QF2", &CommonUtils::addEffectItem, false,
                         {"busy", "write 5 0 ", "idle"}, {"Echo.QF2", "FLST_SEQ.QT2"}, {kEcho.type}},
        ActionFailureRow{"DeleteTheDeviceRefuses", "AnOverlongDeviceFileName.QF2", nullptr, "Echo.QF2",
                         &CommonUtils::deleteEffectItem, false,
                         {"busy", "delete 0 AnOverlongDeviceFileName.QF2", "idle"}, {"Echo.QF2", "FLST_SEQ.QT2"},
                         {kEcho.type}},
        ActionFailureRow{"DeleteWithoutStoredList", nullptr, nullptr, "Echo.QF2", &CommonUtils::deleteEffectItem,
                         true, {"busy", "delete 0 Echo.QF2", "idle", "effectListChanged"}, {"FLST_SEQ.QT2"}, {}},
        ActionFailureRow{"DeleteWithoutFileName", "", nullptr, "Echo.QF2", &CommonUtils::deleteEffectItem, false,
                         {"busy", "delete 0 ", "idle"}, {"Echo.QF2", "FLST_SEQ.QT2"}, {kEcho.type}},
        ActionFailureRow{"FavouriteWithoutStoredList", nullptr, nullptr, "Echo.QF2",
                         &CommonUtils::addFavouriteOfEffectItem, true, {"busy", "write 3 0 Echo.QF2", "idle"},
                         {"Echo.QF2", "FLST_SEQ.QT2"}, {kEcho.type}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EffectLibrary, RequestsWithoutADeviceDoNothing)
{
    start();
    auto item = std::make_shared<EffectItem>();
    item->fileName = "Echo.QF2";
    for (auto request : {&CommonUtils::addEffectItem, &CommonUtils::deleteEffectItem, &CommonUtils::recoverEffectItem,
                         &CommonUtils::addFavouriteOfEffectItem, &CommonUtils::removeFavouriteOfEffectItem})
        ((*utils).*request)(item);
    EXPECT_EQ(settle(), Strings{});
}

// Use counts over the device's patches: an effect spanning several slots counts once per occurrence, and a
// slot that claims no units still moves the walk on.
namespace {

platform::PlistDictionary slotOf(std::uint32_t type, std::int64_t units)
{
    return {{"effectName", "x"}, {"effectType", static_cast<std::int64_t>(type)}, {"useUnitNum", units}};
}

std::shared_ptr<PatchItem> patchWith(std::int64_t slots, std::vector<std::pair<int, platform::PlistDictionary>> used)
{
    auto patch = std::make_shared<PatchItem>();
    patch->effectDictionnary["NumberOfSlot"] = slots;
    for (auto& [index, slot] : used) patch->effectDictionnary["slot " + std::to_string(index)] = std::move(slot);
    return patch;
}

}  // namespace

TEST(EffectUseCount, CountsOccurrencesOverThePatches)
{
    constexpr std::uint32_t kType = 0x0D000002;
    struct Row {
        const char* name;
        std::vector<std::shared_ptr<PatchItem>> patches;
        std::int64_t expected;
    } rows[] = {
        {"two units then again at slot 2", {patchWith(4, {{0, slotOf(kType, 2)}, {1, slotOf(kType, 2)}, {2, slotOf(kType, 2)}})}, 2},
        {"no units never stalls", {patchWith(3, {{0, slotOf(kType, 0)}, {1, slotOf(kType, 0)}})}, 2},
        {"empty and other slots", {patchWith(3, {{1, slotOf(0x05000001, 1)}, {2, {}}})}, 0},
        {"slots beyond the count", {patchWith(1, {{1, slotOf(kType, 1)}})}, 0},
        {"over several patches", {patchWith(1, {{0, slotOf(kType, 1)}}), patchWith(2, {{1, slotOf(kType, 1)}})}, 2},
        {"no patches", {}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto item = std::make_shared<EffectItem>();
        item->effectType = kType;
        item->effectUsedTimes = 9;
        CommonUtils::countEffectUsedTimesWithEffectItem(item, row.patches);
        EXPECT_EQ(item->effectUsedTimes, row.expected);
    }
    // The list form skips unknown effects.
    auto known = std::make_shared<EffectItem>(), unknown = std::make_shared<EffectItem>();
    known->effectType = unknown->effectType = kType;
    unknown->effectName = "UNKNOWN";
    CommonUtils::countEffectUsedTimesInEffectList({known, unknown}, {patchWith(1, {{0, slotOf(kType, 1)}})});
    EXPECT_EQ(known->effectUsedTimes, 1);
    EXPECT_EQ(unknown->effectUsedTimes, 0);
    EXPECT_EQ(CommonUtils::checkEffectExisted(*known, {}), -1);
    EXPECT_EQ(CommonUtils::checkEffectExisted(*known, {std::make_shared<EffectItem>(), unknown}), 1);
}

// An effect file read from the device becomes a file named by its type name only when that name is safe
// and its header parses; otherwise nothing is written and the action fails.
struct ReceivedEffectRow {
    const char* name;
    Bytes data;
    const char* stored;  // nullptr: the action fails
};

void PrintTo(const ReceivedEffectRow& row, std::ostream* os) { *os << row.name; }

class ReceivedEffect : public EffectLibrary, public ::testing::WithParamInterface<ReceivedEffectRow> {};

TEST_P(ReceivedEffect, IsStoredOnlyUnderASafeName)
{
    const ReceivedEffectRow& row = GetParam();
    connectWith(kDeviceList);
    // The add waits for its effect file's write while the device's file arrives.
    const auto opens = unit.device().requestCount(sim::RequestKey::fileSystem(0x20));
    unit.delayReplies(sim::RequestKey::fileSystem(0x20), std::chrono::milliseconds(300));
    utils->addEffectItem(storeItem("Delay.QF2"));
    ASSERT_EQ(until("busy"), Strings{"busy"});
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(sim::RequestKey::fileSystem(0x20)) > opens; }));
    utils->getQFXListOrQFXWithState(1, row.data);
    const std::string folder = root / "PEXO Rigmora/Temp/Device/Effect";
    if (row.stored) {
        EXPECT_TRUE(loop.runUntil([&] { return fs::exists(folder + "/" + row.stored); }));
        // The add itself goes on to its end.
        EXPECT_EQ(until("effectListChanged").back(), "effectListChanged");
    } else {
        EXPECT_EQ(until("idle"), (Strings{"write 5 0 Delay.QF2", "idle"}));
        EXPECT_FALSE(fs::exists(folder));
    }
}

INSTANTIATE_TEST_SUITE_P(
    EffectLibrary, ReceivedEffect,
    ::testing::Values(ReceivedEffectRow{"GoodHeader", moduleFile(kDelay), "Delay.QF2"},
                      ReceivedEffectRow{"HeaderDoesNotParse", Bytes(60, 0x41), nullptr},
                      ReceivedEffectRow{"NameLeavesTheFolder", moduleFile({kDelay.type, 0x0D, "..", "1.00"}), nullptr},
                      ReceivedEffectRow{"NameWithASlash", moduleFile({kDelay.type, 0x0D, "a/b", "1.00"}), nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// Every loaded effect the store holds in a newer version is replaced on the device once the pool is
// rebuilt while connected, one action each, and a closing action tells the interface the updates are done.
TEST_F(EffectLibrary, UpdatesEachOutdatedLoadedEffectThenCloses)
{
    const Module comp{0x05000002, 0x05, "Comp", "10.0"};
    // Comp (2.0 against 10.0) and Echo are newer in the store; Tape is too, but deleted on the device.
    connectWith({{0x05, {{"Comp.QF2", "2.0", comp.type}}}, {0x0D, {kEchoOn, kTapeOff}}}, 3, {comp, kEcho, kTape});
    utils->mergeEffect();
    Strings heard = until("updatesDone");
    for (auto& e : settle()) heard.push_back(e);
    EXPECT_EQ(heard, (Strings{"effectPool", "syncFinish", "busy", "updated Comp.QF2 from 2.0", "busy",
                              "updated Echo.QF2 from 1.00", "busy", "updatesDone", "idle", "effectListChanged"}));
    EXPECT_EQ(deviceList(), listFile({{0x05, {{"Comp.QF2", "10.0", comp.type}}},
                                      {0x0D, {{"Echo.QF2", "1.20", kEcho.type}, kTapeOff}}},
                                     260));
    EXPECT_EQ(unit.files().file("Comp.QF2"), moduleFile(comp));

    // Up to date now: nothing more is queued.
    utils->mergeEffect();
    EXPECT_EQ(settle(), (Strings{"effectPool", "syncFinish"}));
}

TEST_F(EffectLibrary, AStoreFileGoneSinceTheSynchronisationFailsOnlyItsOwnUpdate)
{
    const Module comp{0x05000002, 0x05, "Comp", "10.0"};
    connectWith({{0x05, {{"Comp.QF2", "2.0", comp.type}}}, {0x0D, {kEchoOn, kTapeOff}}}, 3, {comp, kEcho, kTape});
    fs::remove(store("Comp.QF2"));
    utils->mergeEffect();
    Strings heard = until("updatesDone");
    for (auto& e : settle()) heard.push_back(e);
    EXPECT_EQ(heard, (Strings{"effectPool", "syncFinish", "busy", "write 1 0 (none)", "busy",
                              "updated Echo.QF2 from 1.00", "busy", "updatesDone", "idle", "effectListChanged"}));
}

TEST_F(EffectLibrary, ADeviceLostDuringTheUpdatesDropsTheRestAndTheClosingAction)
{
    connectWith(kDeviceList);
    failNext(kWrite);
    utils->mergeEffect();
    Strings heard = until("lost");
    for (auto& e : settle()) heard.push_back(e);
    EXPECT_EQ(heard, (Strings{"effectPool", "syncFinish", "busy", "reset", "idle", "lost"}));
    EXPECT_EQ(deviceList(), listFile(kDeviceList, 260));
}
