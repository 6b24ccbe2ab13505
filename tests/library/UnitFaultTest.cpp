// One fault at one message of one device operation, through the whole stack on the fake clock: the
// coordinator always ends the operation with a report and becomes idle, a reconnection reads the unit
// whole, and the unit keeps an effect list that agrees with its files and with what the coordinator shows.
#include <chrono>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>

#include "device/formats/OKVPatch.h"
#include "library/QFXListEdit.h"
#include "support/files/FaultyFileManager.h"
#include "support/library/EffectLibraryFixture.h"

using namespace effectfiles;
using Fault = sim::DeviceUnit::Fault;
using sim::RequestKey;

// The harness every fault here shares: the unit and the store laid out, what the list shows, and what the
// interface hears until a condition holds.
class UnitFaults : public EffectLibrary {
protected:
    // The unit holds `list` and Echo's file; the store `stored`, the catalogue `listed`.
    void unitAndStore(const std::vector<Category>& list, const std::vector<Module>& stored, const std::vector<Module>& listed,
                      int effects)
    {
        start();
        unit.files().setFile("FLST_SEQ.QT2", listFile(list, 260));
        unit.files().setFile("Echo.QF2", moduleFile(kEcho));
        for (const auto& module : stored) storeModule(module);
        utils->dataFromServer(catalogueListing(listed));
        effectsOnDevice = effects;
    }
    Strings shown(bool favourites = false)
    {
        Strings out;
        for (const auto& e : recorder.effects())
            out.push_back(e->fileName + (e->isDeleted ? " deleted" : "") + (favourites && e->isFavourite ? " favourite" : ""));
        return out;
    }
    // Appends what the interface hears to `heard` until `done` holds of it (the run loop's own bound).
    bool hearUntil(Strings& heard, const std::function<bool(const Strings&)>& done,
                   std::chrono::milliseconds bound = std::chrono::seconds(60))
    {
        return loop.runUntil([&] {
            for (auto& e : recorder.take()) heard.push_back(std::move(e));
            return done(heard);
        }, bound);
    }
};

namespace {

// ListGone: the unit is connected again without its list, which the program read from it before.
// UpdateStoreGone: an update cut short whose newer module is gone from this machine by the reconnection.
enum class Operation { Connect, ListGone, Delete, Favourite, Add, Recover, Update, UpdateStoreGone };

// The nth request of a kind within the operation.
struct Step {
    const char* name;
    RequestKey key;
    int nth = 1;
};

struct FaultRow {
    Operation operation;
    const char* operationName;
    Step step;
    Fault fault;
    const char* faultName;
};

RequestKey fsKey(std::uint8_t sub) { return RequestKey::fileSystem(sub); }

// The re-read every edit ends with; `closes` the closes before it in the operation.
std::vector<Step> reRead(int closes, bool diskFree)
{
    std::vector<Step> steps{{"Flush", fsKey(kFlush)}, {"ReFind", fsKey(0x25)}, {"ReFindClose", fsKey(0x27)},
                            {"ReRead", fsKey(kRead)}, {"ReClose", fsKey(0x21), closes + 1}};
    if (diskFree) steps.push_back({"DiskFree", fsKey(0x29)});
    return steps;
}

// A module's replace, then the list's rewrite, the first module of the operation.
const std::vector<Step> kModuleAndList{{"ModuleUnlink", fsKey(kUnlink)}, {"ModuleOpen", fsKey(0x20)}, {"ModuleWrite", fsKey(kWrite)},
                                       {"ModuleClose", fsKey(0x21)},     {"ListUnlink", fsKey(kUnlink), 2}, {"ListOpen", fsKey(0x20), 2},
                                       {"ListWrite", fsKey(kWrite), 3},  {"ListClose", fsKey(0x21), 2}};

std::vector<Step> stepsOf(Operation operation)
{
    std::vector<Step> steps;
    const auto append = [&](const std::vector<Step>& more) { steps.insert(steps.end(), more.begin(), more.end()); };
    switch (operation) {
    case Operation::Connect:
        return {{"FindFirst", fsKey(0x25)}, {"FindClose", fsKey(0x27)}, {"Open", fsKey(0x20)},
                {"Read", fsKey(kRead)},     {"Close", fsKey(0x21)},     {"DiskFree", fsKey(0x29)},
                {"AudioOff", RequestKey::maker(0x56)}, {"Dump", RequestKey::maker(0x46), 3},
                {"AudioOn", RequestKey::maker(0x57)}};
    case Operation::ListGone:
        return {{"ListUnlink", fsKey(kUnlink)}, {"ListOpen", fsKey(0x20)}, {"ListWrite", fsKey(kWrite)},
                {"ListClose", fsKey(0x21)},     {"Flush", fsKey(kFlush)},   {"ReRead", fsKey(kRead)}};
    case Operation::Delete:
        steps = {{"ModuleUnlink", fsKey(kUnlink)}, {"ListUnlink", fsKey(kUnlink), 2}, {"ListOpen", fsKey(0x20)},
                 {"ListWrite", fsKey(kWrite)},     {"ListClose", fsKey(0x21)}};
        append(reRead(1, true));
        return steps;
    case Operation::Favourite:
        steps = {{"ListUnlink", fsKey(kUnlink)}, {"ListOpen", fsKey(0x20)}, {"ListWrite", fsKey(kWrite)},
                 {"ListClose", fsKey(0x21)}};
        append(reRead(1, false));
        return steps;
    case Operation::Add:
    case Operation::Recover:
    case Operation::Update:
        steps = kModuleAndList;
        append(reRead(2, true));
        return steps;
    case Operation::UpdateStoreGone:
        return kModuleAndList;
    }
    return steps;
}

std::vector<FaultRow> table()
{
    const std::vector<std::pair<Operation, const char*>> operations{
        {Operation::Connect, "Connect"}, {Operation::ListGone, "ListGone"}, {Operation::Delete, "Delete"}, {Operation::Favourite, "Favourite"},
        {Operation::Add, "Add"},         {Operation::Recover, "Recover"}, {Operation::Update, "Update"}, {Operation::UpdateStoreGone, "UpdateStoreGone"}};
    const std::vector<std::pair<Fault, const char*>> faults{
        {Fault::Unplug, "Unplug"}, {Fault::SilentOnce, "SilentOnce"}, {Fault::SilentForGood, "SilentForGood"},
        {Fault::Cut, "Cut"},       {Fault::Grown, "Grown"},           {Fault::ErrorCode, "ErrorCode"}};
    std::vector<FaultRow> rows;
    for (const auto& [operation, operationName] : operations)
        for (const Step& step : stepsOf(operation))
            for (const auto& [fault, faultName] : faults) rows.push_back({operation, operationName, step, fault, faultName});
    return rows;
}

const Module kComp{0x05000002, "Comp", "10.0"};
// Comp and Echo loaded, Tape deleted; up to date with the store, or Comp outdated so the connect read
// queues its update behind it.
const std::vector<Category> kUnitList{{0x05, {{"Comp.QF2", "10.0", kComp.type}}}, {0x0D, {kEchoOn, kTapeOff}}};
const std::vector<Category> kOutdatedList{{0x05, {{"Comp.QF2", "2.0", kComp.type}}}, {0x0D, {kEchoOn, kTapeOff}}};

bool updates(Operation operation) { return operation == Operation::Update || operation == Operation::UpdateStoreGone; }

// What tells the interface an operation failed.
bool isFailure(const std::string& event)
{
    for (const char* prefix : {"lost", "disconnect", "readListFail", "listFailed", "patchesFailed", "write ", "delete ",
                               "memory -1"})
        if (event.starts_with(prefix)) return true;
    return false;
}

std::string slotName(const Bytes& record)
{
    const auto patch = OKVPatch::initWithData(record);
    return patch ? patch->patchName() : std::string("?");
}

// The last busy, reset or idle the interface heard was idle.
bool idle(const Strings& heard)
{
    for (auto it = heard.rbegin(); it != heard.rend(); ++it)
        if (*it == "busy" || *it == "reset" || *it == "idle") return *it == "idle";
    return false;
}

}  // namespace

class UnitFault : public UnitFaults, public ::testing::WithParamInterface<FaultRow> {
protected:
    // Moves time on until the coordinator is idle with no timer left, then 700 s more; hands over all it heard.
    Strings runOut()
    {
        Strings heard;
        for (int round = 0; round < 200; ++round) {
            for (auto& e : settle()) heard.push_back(e);
            if (idle(heard) && timers.activeCount() == 0) break;
            loop.advance(std::chrono::seconds(2));
        }
        loop.advance(std::chrono::seconds(700));
        for (auto& e : settle()) heard.push_back(e);
        return heard;
    }
};

TEST_P(UnitFault, EndsWithOneReportAndLeavesTheUnitWhole)
{
    const FaultRow& row = GetParam();
    // The unit holds Comp's file too, outdated for an update; the store the newer modules.
    unit.files().setFile("Comp.QF2", moduleFile(updates(row.operation) ? Module{kComp.type, "Comp", "2.0"} : kComp));
    unitAndStore(updates(row.operation) ? kOutdatedList : kUnitList, {kComp, kEcho, kTape, kDelay}, {kComp, kEcho, kDelay}, 3);
    Strings heard;
    if (row.operation == Operation::Connect || updates(row.operation)) {
        // The updates run behind the connect read, whose own requests come first.
        int nth = row.step.nth;
        const std::set<RequestKey> readKeys{fsKey(0x25), fsKey(0x27), fsKey(0x20), fsKey(kRead), fsKey(0x21), fsKey(0x29)};
        if (updates(row.operation) && readKeys.contains(row.step.key)) ++nth;
        unit.faultAt(row.step.key, nth, row.fault);
        utils->downloadFileSuccess(true);
        // An update's fault comes after the read, which ends whole: its end is waited for before the
        // clock is moved, or a watchdog moved past work still running on a loaded machine would end the
        // read, and the update would never start.
        if (updates(row.operation)) {
            ASSERT_TRUE(hearUntil(heard, [](const Strings& h) { return count(h, "patches 6") == 1; })) << ::testing::PrintToString(heard);
        }
    } else {
        utils->downloadFileSuccess(true);
        ASSERT_EQ(until("idle").back(), "idle");
        ASSERT_EQ(recorder.effects().size(), 3U);
        if (row.operation == Operation::ListGone) {
            unit.device().unplug();
            ASSERT_EQ(until("disconnect").back(), "disconnect");
            unit.files().removeFile("FLST_SEQ.QT2");
        }
        unit.faultAt(row.step.key, row.step.nth, row.fault);
        switch (row.operation) {
        case Operation::ListGone: unit.device().plugIn(); break;
        case Operation::Delete: utils->deleteEffectItem(storeItem("Echo.QF2")); break;
        case Operation::Favourite: utils->addFavouriteOfEffectItem(storeItem("Comp.QF2")); break;
        case Operation::Add: utils->addEffectItem(storeItem("Delay.QF2")); break;
        case Operation::Recover: utils->recoverEffectItem(storeItem("Tape.QF2")); break;
        case Operation::Update:
        case Operation::UpdateStoreGone:
        case Operation::Connect: break;
        }
    }
    for (auto& e : runOut()) heard.push_back(std::move(e));
    SCOPED_TRACE(::testing::PrintToString(heard));
    // One report: the failure once, or the success (the list changed, or the read's patches) once.
    const auto failures = std::count_if(heard.begin(), heard.end(), isFailure);
    EXPECT_LE(failures, 1);
    EXPECT_LE(count(heard, "effectListChanged"), 1);
    EXPECT_LE(count(heard, "patches 6"), 1);
    if (failures == 0 && row.operation != Operation::Favourite) {
        EXPECT_GE(count(heard, "effectListChanged") + count(heard, "patches 6"), 1) << "nothing told";
    }
    EXPECT_TRUE(idle(heard));
    EXPECT_EQ(timers.activeCount(), 0U);

    const auto newerComp = files.readFile(store("Comp.QF2"));
    if (row.operation == Operation::UpdateStoreGone) std::filesystem::remove(store("Comp.QF2"));
    // The unit switched off and on and plugged in again: it is read whole.
    unit.clearFaults();
    unit.device().unplug();
    settle();
    unit.device().plugIn();
    Strings again;
    // The run loop's own bound, which a sanitized run on a loaded machine needs; a shorter one ended a slow
    // reconnection early and looked like a repair never told.
    const bool readAgain = hearUntil(again, [](const Strings& h) { return count(h, "patches 6") == 1 && idle(h); });
    // What the reconnection told goes with every failure below, as what the operation told does.
    SCOPED_TRACE("again: " + ::testing::PrintToString(again));
    EXPECT_TRUE(readAgain) << "the reconnection's read did not end";
    ASSERT_EQ(count(again, "connect 1"), 1);

    if (row.operation == Operation::UpdateStoreGone) {
        // An update cut short cannot be finished without its module: the unit keeps what it holds whole
        // of it, or drops it, and the user is told either way.
        EXPECT_EQ(count(again, "unitListDropped Comp.QF2") + count(again, "unitListRepaired"), failures);
        // Shown again with the module back in the store, as the list shows only effects the store has.
        ASSERT_TRUE(files.writeAtomically(store("Comp.QF2"), *newerComp));
        utils->createEffectList();
        Strings listed;
        ASSERT_TRUE(hearUntil(listed, [](const Strings& h) {
            return std::any_of(h.begin(), h.end(), [](const std::string& e) { return e.starts_with("effects "); });
        }));
    }
    const auto list = unit.files().file("FLST_SEQ.QT2");
    ASSERT_TRUE(list) << "the unit has no effect list";
    const auto parsed = QFXListEdit::parse(*list);
    ASSERT_TRUE(parsed);
    Strings unitRecords, unitLoaded;
    for (const auto& category : parsed->arrayCategory())
        for (const auto& record : category.arrayQFXInformation()) {
            unitRecords.push_back(record.nameQFX() + (record.isLoadedQFX() ? "" : " deleted"));
            if (record.isLoadedQFX()) unitLoaded.push_back(record.nameQFX());
        }
    EXPECT_EQ(shown(), unitRecords);
    Strings modules;
    for (const std::string& name : unit.files().fileNames())
        if (name != "FLST_SEQ.QT2") modules.push_back(name);
    std::sort(unitLoaded.begin(), unitLoaded.end());
    EXPECT_EQ(modules, unitLoaded) << "the files on the unit and the modules its list names as loaded";
    ASSERT_EQ(recorder.lastPatches.size(), 6U);
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(recorder.lastPatches[i]->patchName,
                  slotName(unit.patches().patch(0, static_cast<std::int32_t>(i / 3), static_cast<std::int32_t>(i % 3)).value()));
}

INSTANTIATE_TEST_SUITE_P(EffectLibrary, UnitFault, ::testing::ValuesIn(table()), [](const auto& info) {
    return std::string(info.param.operationName) + info.param.step.name + info.param.faultName;
});

// ---- an effect edit cut at any message of the effect list's rewrite, by any fault the unit can show, leaves
// a unit that the next connection reads whole again, with the edit finished on it.

namespace {

enum class Action { Delete, Add, Recover, Favourite };

// One message of the list's rewrite: its key and which of that key's requests, counted from the list's
// unlink, it is (the acknowledgements and chunks come more than once).
struct ListStep {
    const char* name;
    std::uint8_t sub;
    int nthInList;
};

// The 260-byte list goes out as one chunk and the closing empty one.
constexpr ListStep kListWrite[] = {
    {"unlink", kUnlink, 1}, {"open", 0x20, 1}, {"openAck", 0x05, 1}, {"chunk", kWrite, 1},
    {"chunkAck", 0x05, 2}, {"endChunk", kWrite, 2}, {"endChunkAck", 0x05, 3}, {"close", 0x21, 1},
};

struct Case {
    Action action;
    ListStep step;
    Fault fault;
};

std::string nameOf(const Case& c)
{
    static const char* const actions[] = {"Delete", "Add", "Recover", "Favourite"};
    static const char* const faults[] = {"Unplug", "SilentOnce", "SilentForGood", "Cut", "Grown", "ErrorCode"};
    return std::string(actions[static_cast<int>(c.action)]) + "_" + c.step.name + "_" + faults[static_cast<int>(c.fault)];
}

void PrintTo(const Case& c, std::ostream* out) { *out << nameOf(c); }

// Every message with every fault for a deletion; for the other actions a third of those pairs, turned
// with the action, so each still meets every message and every fault kind.
std::vector<Case> allCases()
{
    std::vector<Case> cases;
    constexpr Fault kFaults[] = {Fault::Unplug, Fault::SilentOnce, Fault::SilentForGood, Fault::Cut, Fault::ErrorCode};
    for (Action action : {Action::Delete, Action::Add, Action::Recover, Action::Favourite})
        for (std::size_t step = 0; step < std::size(kListWrite); ++step)
            for (std::size_t fault = 0; fault < std::size(kFaults); ++fault)
                if (action == Action::Delete || (step + fault) % 3 == static_cast<std::size_t>(action) - 1)
                    cases.push_back({action, kListWrite[step], kFaults[fault]});
    return cases;
}

}  // namespace

class EffectEditFault : public UnitFaults, public ::testing::WithParamInterface<Case> {
protected:
    // The unit holds Echo (loaded) and names Tape unloaded; the store holds Echo, Tape and Delay.
    void prepare()
    {
        unitAndStore(kDeviceList, {kEcho, kTape, kDelay}, {kEcho, kTape, kDelay}, 2);
        utils->downloadFileSuccess(true);
        ASSERT_EQ(until("idle").back(), "idle");
    }
    // How many requests of `sub` the module step sends ahead of the list's rewrite.
    int beforeList(Action action, std::uint8_t sub)
    {
        if (action == Action::Favourite) return 0;
        if (action == Action::Delete) return sub == kUnlink ? 1 : 0;
        const auto module = files.readFile(store(action == Action::Add ? "Delay.QF2" : "Tape.QF2"));
        const int chunks = static_cast<int>((module->size() + 511) / 512) + 1;
        switch (sub) {
        case kWrite: return chunks;
        case 0x05: return chunks + 1;
        default: return 1;
        }
    }
    void act(Action action)
    {
        switch (action) {
        case Action::Delete: utils->deleteEffectItem(storeItem("Echo.QF2")); break;
        case Action::Add: utils->addEffectItem(storeItem("Delay.QF2")); break;
        case Action::Recover: utils->recoverEffectItem(storeItem("Tape.QF2")); break;
        case Action::Favourite: {
            auto echo = storeItem("Echo.QF2");
            echo->isFavourite = true;
            utils->addFavouriteOfEffectItem(echo);
            break;
        }
        }
    }
    // After `prepare`: the edit cut by `fault` at the nth request of `sub` in the list's rewrite, then the
    // unit plugged in again.
    Strings cutAndPlugInAgain(Action action, std::uint8_t sub, int nthInList, Fault fault)
    {
        unit.faultAt(RequestKey::fileSystem(sub), beforeList(action, sub) + nthInList, fault);
        act(action);
        runOutIdle();
        EXPECT_GE(unit.device().requestCount(RequestKey::fileSystem(sub)), static_cast<std::size_t>(beforeList(action, sub) + nthInList))
            << "the fault was never met";
        const Strings heard = plugInAgain();
        EXPECT_EQ(count(heard, "patches 6"), 1) << ::testing::PrintToString(heard);
        EXPECT_EQ(unit.files().file("Echo.QF2").has_value(), action != Action::Delete);
        return heard;
    }
};

TEST_P(EffectEditFault, TheNextConnectionReadsTheUnitWithTheEditFinished)
{
    const Case c = GetParam();
    prepare();
    cutAndPlugInAgain(c.action, c.step.sub, c.step.nthInList, c.fault);
    switch (c.action) {
    case Action::Delete: EXPECT_EQ(shown(true), (Strings{"Echo.QF2 deleted", "Tape.QF2 deleted"})); break;
    case Action::Add:
        EXPECT_EQ(shown(true), (Strings{"Echo.QF2", "Delay.QF2", "Tape.QF2 deleted"}));
        EXPECT_EQ(unit.files().file("Delay.QF2"), moduleFile(kDelay));
        break;
    case Action::Recover:
        EXPECT_EQ(shown(true), (Strings{"Echo.QF2", "Tape.QF2"}));
        EXPECT_EQ(unit.files().file("Tape.QF2"), moduleFile(kTape));
        break;
    case Action::Favourite: EXPECT_EQ(shown(true), (Strings{"Echo.QF2 favourite", "Tape.QF2 deleted"})); break;
    }
    // Nothing is left kept: the same unit, connected again, is read as it is.
    const Bytes list = deviceList();
    const Strings again = plugInAgain();
    ASSERT_EQ(count(again, "patches 6"), 1) << ::testing::PrintToString(again);
    EXPECT_EQ(deviceList(), list);
}

INSTANTIATE_TEST_SUITE_P(EveryMessageEveryFault, EffectEditFault, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return nameOf(info.param); });

// The unit the edit was left on may hold a module its list names unloaded (a repair whose unlink it refused
// leaves it so): it is still told apart as the edit's, and read whole again.
class EditsUnitWithAnUnnamedModule : public EffectEditFault {
protected:
    void check(Action action)
    {
        prepare();
        unit.files().setFile("Tape.QF2", moduleFile(kTape));
        cutAndPlugInAgain(action, 0x20, 1, Fault::Unplug);
    }
};

TEST_F(EditsUnitWithAnUnnamedModule, Delete) { check(Action::Delete); }
TEST_F(EditsUnitWithAnUnnamedModule, Add) { check(Action::Add); }
TEST_F(EditsUnitWithAnUnnamedModule, Favourite) { check(Action::Favourite); }

// The unit answers the list's unlink of a deletion only after the deletion was given up, and that late code
// lands as the next connection asks the unit whether the deleted module is gone (the unit without its list
// is told apart as the edit's by its files): it is taken for no answer of that connection, which finishes
// the deletion and reads the unit whole.
class LateAnswerOfACutDeletion : public EffectEditFault {
protected:
    // Lands just before (or after) the unit's answer to the nth request of `sub` in the next connection.
    // cleanUp: the unit falls silent at the list's first chunk instead, and the late code is its answer to
    // the close the cut write's clean-up sends, which nobody waits for.
    void landing(std::uint8_t sub, int nth, bool after, bool cleanUp = false)
    {
        prepare();
        if (cleanUp) {
            unit.faultAt(RequestKey::fileSystem(kWrite), 1, Fault::SilentOnce);
            unit.lateReplyAt(RequestKey::fileSystem(0x21), 1, 1 << 20);
        } else {
            unit.lateReplyAt(RequestKey::fileSystem(kUnlink), beforeList(Action::Delete, kUnlink) + 1, 1 << 20);
        }
        act(Action::Delete);
        runOutIdle();
        ASSERT_FALSE(unit.files().file("FLST_SEQ.QT2")) << "the unit unlinked its list before the cut";
        unit.device().unplug();
        settle();
        unit.handInLateReplyAfter(RequestKey::fileSystem(sub), nth, after);
        unit.device().plugIn();
        Strings heard;
        hearUntil(heard, [&](const Strings& h) {
            return !h.empty() && h.back() == "idle" && timers.activeCount() == 0 && count(h, "connect 1") == 1;
        }, std::chrono::seconds(30));
        for (auto& e : settle()) heard.push_back(e);
        EXPECT_EQ(count(heard, "patches 6"), 1) << ::testing::PrintToString(heard);
        EXPECT_EQ(shown(), (Strings{"Echo.QF2 deleted", "Tape.QF2 deleted"}));
        EXPECT_FALSE(unit.files().file("Echo.QF2"));
    }
};

TEST_F(LateAnswerOfACutDeletion, BeforeTheLength) { landing(0x28, 1, false); }
TEST_F(LateAnswerOfACutDeletion, BeforeTheLengthsCode) { landing(0x28, 1, true); }
TEST_F(LateAnswerOfACutDeletion, BeforeTheSecondLength) { landing(0x28, 2, false); }
TEST_F(LateAnswerOfACutDeletion, BeforeTheSecondLengthsCode) { landing(0x28, 2, true); }
TEST_F(LateAnswerOfACutDeletion, BeforeTheListsFind) { landing(0x25, 1, false); }
TEST_F(LateAnswerOfACutDeletion, CleanUpsCloseBeforeTheLengthsCode) { landing(0x28, 1, true, true); }
TEST_F(LateAnswerOfACutDeletion, CleanUpsCloseBeforeTheSecondLengthsCode) { landing(0x28, 2, true, true); }

// ---- the unit's late answer to the read of its effect list at a connection cut by the watchdog, handed in
// while the read of the next connection (the unit plugged in again) waits on any of its messages.

namespace {

struct Message {
    std::uint8_t sub;
    int occurrence;
};

// Find, its acknowledgement, find close, open, its acknowledgement, three chunks (count, data, and the code
// after the data's acknowledgement), close.
constexpr Message kListRead[] = {{0x25, 1}, {0x05, 1}, {0x27, 1}, {0x20, 1}, {0x05, 2}, {0x22, 1}, {0x05, 3}, {0x05, 4},
                                 {0x22, 2}, {0x05, 5}, {0x05, 6}, {0x22, 3}, {0x05, 7}, {0x05, 8}, {0x21, 1}};

// The connection acknowledges its information read before the list's read begins.
int inConnection(const Message& m) { return m.occurrence + (m.sub == 0x05 ? 1 : 0); }

}  // namespace

class StaleListRead : public UnitFaults, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(StaleListRead, TheNextConnectionReadsTheListWhole)
{
    const Message& held = kListRead[GetParam()];
    const Bytes list = listFile(kDeviceList, 1300);
    start();
    for (const auto& module : {kEcho, kTape}) storeModule(module);
    unit.device().unplug();
    settle();
    utils->dataFromServer(catalogueListing({kEcho, kTape}));
    utils->downloadFileSuccess(true);
    settle();
    // A third of the landings for each held message, turned with it: every landing still met (the
    // sequencer's sweep takes every pair).
    for (std::size_t at = 0; at < std::size(kListRead); ++at) {
        if ((at + GetParam()) % 3 != 0) continue;
        const Message& landing = kListRead[at];
        SCOPED_TRACE(::testing::Message() << "landing before the answer to 60 " << std::hex << int(landing.sub) << " #" << landing.occurrence);
        unit.clearFaults();
        unit.files().setFile("FLST_SEQ.QT2", list);
        unit.files().setFile("Echo.QF2", moduleFile(kEcho));
        unit.lateReplyAt(RequestKey::fileSystem(held.sub), inConnection(held), 1 << 20);
        unit.device().plugIn();
        const Strings first = runOutIdle();
        ASSERT_EQ(count(first, "lost"), 1) << ::testing::PrintToString(first);

        unit.device().unplug();
        settle();
        unit.handInLateReplyAfter(RequestKey::fileSystem(landing.sub), inConnection(landing), false);
        unit.device().plugIn();
        const Strings second = runOutIdle();
        EXPECT_EQ(count(second, "patches 6"), 1) << ::testing::PrintToString(second);
        EXPECT_EQ(files.readFile(storedCopy()), list);
        unit.device().unplug();
        settle();
    }
}

INSTANTIATE_TEST_SUITE_P(EveryHeldMessage, StaleListRead, ::testing::Range<std::size_t>(0, std::size(kListRead)));

// ---- a kept effect edit and the known list against the unit they are meant for, when the unit that comes
// back is another one of the same model.

// Unit A holds kUnitList; unit B, of the same model: Echo and Tape loaded, Delay deleted.
const std::vector<Category> kListB{{0x0D, {kEchoOn, {"Tape.QF2", "1.30", kTape.type}, {"Delay.QF2", "1.00", kDelay.type, false}}}};

class EffectRepair : public UnitFaults {
protected:
    struct UnitFiles {
        std::map<std::string, Bytes> files;
    };

    void prepare(platform::FileManager* fileManager = nullptr)
    {
        start(fileManager ? *fileManager : files);
        holdUnit(unitA());
        for (const auto& module : {kComp, kEcho, kTape, kDelay}) storeModule(module);
        utils->dataFromServer(catalogueListing({kComp, kEcho, kTape, kDelay}));
        effectsOnDevice = 3;
        utils->downloadFileSuccess(true);
        ASSERT_EQ(until("idle").back(), "idle");
    }
    static UnitFiles unitA()
    {
        return {{{"FLST_SEQ.QT2", listFile(kUnitList, 260)}, {"Comp.QF2", moduleFile(kComp)}, {"Echo.QF2", moduleFile(kEcho)}}};
    }
    static UnitFiles unitB()
    {
        return {{{"FLST_SEQ.QT2", listFile(kListB, 260)}, {"Echo.QF2", moduleFile(kEcho)}, {"Tape.QF2", moduleFile(kTape)}}};
    }
    UnitFiles unitNow()
    {
        UnitFiles now;
        for (const std::string& name : unit.files().fileNames()) now.files[name] = *unit.files().file(name);
        return now;
    }
    void holdUnit(const UnitFiles& held)
    {
        for (const std::string& name : unit.files().fileNames()) unit.files().removeFile(name);
        for (const auto& [name, bytes] : held.files) unit.files().setFile(name, bytes);
    }
    // The unit pulled (if it is not already), `next` plugged in instead; hands over what the connection told.
    Strings plugIn(const UnitFiles& next)
    {
        return plugInAgain([&] { holdUnit(next); });
    }
    // Unit A pulled as a delete's new list is written: the module's file is gone, the list half written.
    UnitFiles cutDelete(const char* module)
    {
        unit.faultAt(RequestKey::fileSystem(kWrite), 1, Fault::Unplug);
        utils->deleteEffectItem(storeItem(module));
        runOutIdle();
        return unitNow();
    }
    // The unit read whole at a connection: its patches were told once.
    static void readWhole(const Strings& heard) { EXPECT_EQ(count(heard, "patches 6"), 1) << ::testing::PrintToString(heard); }
    static UnitFiles withoutList(UnitFiles unit)
    {
        unit.files.erase("FLST_SEQ.QT2");
        return unit;
    }
};

TEST_F(EffectRepair, AnEditCutShortIsFinishedOnTheUnitItWasLeftOnAndNoOther)
{
    prepare();
    const UnitFiles cutA = cutDelete("Echo.QF2");
    ASSERT_FALSE(cutA.files.contains("Echo.QF2"));

    // Unit B of the same model comes next: its list and files stay as they are, and it is read as it is.
    readWhole(plugIn(unitB()));
    EXPECT_EQ(unitNow().files, unitB().files);
    EXPECT_EQ(shown(), (Strings{"Echo.QF2", "Tape.QF2", "Delay.QF2 deleted"}));

    // Unit A again: the kept delete is finished on it.
    readWhole(plugIn(cutA));
    EXPECT_EQ(shown(), (Strings{"Comp.QF2", "Echo.QF2 deleted", "Tape.QF2 deleted"}));
    EXPECT_FALSE(unit.files().file("Echo.QF2"));
}

TEST_F(EffectRepair, AKnownListGoesBackOnlyOntoAUnitHoldingItsModules)
{
    prepare();
    // Unit B without a list: A's list would name Comp, which B lacks; it is not written, and the unit is
    // let go as one whose list no one knows.
    const Strings heardB = plugIn(withoutList(unitB()));
    EXPECT_EQ(count(heardB, "listFailed 0"), 1) << ::testing::PrintToString(heardB);
    EXPECT_EQ(unitNow().files, withoutList(unitB()).files);
    // Unit A without its list gets it back.
    readWhole(plugIn(withoutList(unitA())));
    EXPECT_EQ(unit.files().file("FLST_SEQ.QT2"), unitA().files.at("FLST_SEQ.QT2"));
}

// A known list naming no loaded module tells no unit apart by its modules: a listless unit of the model
// is let go as it is, never given another unit's list.
TEST_F(EffectRepair, AKnownListNamingNoLoadedModuleGoesOntoNoUnit)
{
    prepare();
    const UnitFiles noneLoaded{{{"FLST_SEQ.QT2", listFile({{0x0D, {kTapeOff}}}, 260)}}};
    plugIn(noneLoaded);
    ASSERT_EQ(unit.files().file("FLST_SEQ.QT2"), noneLoaded.files.at("FLST_SEQ.QT2"));

    const Strings heard = plugIn(withoutList(unitB()));
    EXPECT_EQ(count(heard, "listFailed 0"), 1) << ::testing::PrintToString(heard);
    EXPECT_EQ(unitNow().files, withoutList(unitB()).files);
}

TEST_F(EffectRepair, ADeleteWhoseListCannotBeStoredIsToldOnceAndFinishedLater)
{
    FaultyFileManager disk;
    prepare(&disk);
    // Echo's file leaves the unit, then the edited list cannot be stored on this machine.
    disk.fail(FaultyFileManager::Op::Write, "Temp/Device/FLST_SEQ.QT2");
    const Strings heard = heardAfter([&] { utils->deleteEffectItem(storeItem("Echo.QF2")); }, "idle");
    EXPECT_EQ(count(heard, "delete 0 Echo.QF2"), 1) << ::testing::PrintToString(heard);
    EXPECT_EQ(count(heard, "effectListChanged"), 0) << ::testing::PrintToString(heard);
    EXPECT_FALSE(unit.files().file("Echo.QF2"));
    // The unit's next connection finishes the delete: its list no longer names the file it lacks.
    disk.heal();
    readWhole(plugIn(unitNow()));
    EXPECT_EQ(shown(), (Strings{"Comp.QF2", "Echo.QF2 deleted", "Tape.QF2 deleted"}));
    utils.reset();
}

TEST_F(EffectRepair, AnEditOnAnotherUnitOfTheModelLeavesTheFirstUnitsEditKept)
{
    prepare();
    const UnitFiles cutA = cutDelete("Echo.QF2");
    // Unit B: one edit ends whole, a second is cut as its list is written. Neither takes A's place.
    plugIn(unitB());
    auto echo = storeItem("Echo.QF2");
    echo->isFavourite = true;
    utils->addFavouriteOfEffectItem(echo);
    runOutIdle();
    ASSERT_NE(unitNow().files.at("FLST_SEQ.QT2"), unitB().files.at("FLST_SEQ.QT2"));
    const UnitFiles cutB = cutDelete("Tape.QF2");
    ASSERT_FALSE(cutB.files.contains("Tape.QF2"));

    // Each unit, back in either order, gets its own edit finished, and no other.
    readWhole(plugIn(cutA));
    EXPECT_EQ(shown(), (Strings{"Comp.QF2", "Echo.QF2 deleted", "Tape.QF2 deleted"}));
    EXPECT_TRUE(unit.files().file("Comp.QF2"));
    readWhole(plugIn(cutB));
    EXPECT_EQ(shown(), (Strings{"Echo.QF2", "Tape.QF2 deleted", "Delay.QF2 deleted"}));
    EXPECT_TRUE(unit.files().file("Echo.QF2"));
    // Nothing is kept any more: A, whole now, is read as it is.
    const UnitFiles wholeA = unitNow();
    plugIn(wholeA);
    EXPECT_EQ(unitNow().files, wholeA.files);
}

TEST_F(EffectRepair, AUnitWhoseListNamesNoEffectIsJudgedByItsModules)
{
    prepare();
    const UnitFiles cutA = cutDelete("Echo.QF2");

    // Unit B's own list was cut at its start (empty), or before its first record (the category's opening
    // alone): a prefix of A's edited list that tells nothing. B lacks Comp, which A's list names: A's
    // delete is not made on it.
    const Bytes listA = unitA().files.at("FLST_SEQ.QT2");
    for (const Bytes& cut : {Bytes{}, Bytes(listA.begin(), listA.begin() + 26)}) {
        UnitFiles cutB = unitB();
        cutB.files["FLST_SEQ.QT2"] = cut;
        plugIn(cutB);
        EXPECT_EQ(unitNow().files, cutB.files);
    }

    // A itself is still finished.
    readWhole(plugIn(cutA));
    EXPECT_EQ(shown(), (Strings{"Comp.QF2", "Echo.QF2 deleted", "Tape.QF2 deleted"}));
}

// A quit asked while a unit without its list is read: the known list is not written onto it, nor the unit
// read again, ahead of the closing eject; the next connection gives the list back.
TEST_F(EffectRepair, AQuitDuringTheReadOfAUnitWithoutItsListLeavesTheRepairToTheNextConnection)
{
    prepare();
    unit.device().unplug();
    settle();
    holdUnit(withoutList(unitA()));
    const auto find = RequestKey::fileSystem(0x25);
    const auto writes = unit.device().requestCount(RequestKey::fileSystem(kWrite));
    unit.holdReplies(find);
    const auto finds = unit.device().requestCount(find);
    unit.device().plugIn();
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(find) > finds; }, std::chrono::seconds(30)));
    utils->closeApp();
    unit.releaseReplies();
    for (int round = 0; round < 100 && lifecycle.terminated == 0; ++round) {
        settle();
        if (lifecycle.terminated == 0) loop.advance(std::chrono::seconds(2));
    }
    ASSERT_EQ(lifecycle.terminated, 1);
    EXPECT_FALSE(unit.files().file("FLST_SEQ.QT2"));
    EXPECT_EQ(unit.device().requestCount(RequestKey::fileSystem(kWrite)), writes);
    EXPECT_EQ(unit.device().requestCount(find), finds + 1) << "the unit was read again";
}

// An edit whose replaced list names no loaded module but its own tells no unit apart by its modules: a
// listless unit of the model is left as it is, and the edit waits for a unit whose list matches. A kept
// edit ends after ninety days without its unit.
TEST_F(EffectRepair, AnEditWhoseListNamesNoOtherModuleWaitsForItsListAndEnds)
{
    prepare();
    const UnitFiles echoOnly{{{"FLST_SEQ.QT2", listFile(kDeviceList, 260)}, {"Echo.QF2", moduleFile(kEcho)}}};
    plugIn(echoOnly);
    cutDelete("Echo.QF2");
    const auto pendingFiles = [&] {
        std::vector<std::filesystem::path> found;
        std::error_code error;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(std::filesystem::path(programFolder()) / "QFXMacApplication" / "DeviceEdit", error))
            if (entry.path().filename() == "Pending" && entry.path().parent_path().filename().string().starts_with("edit-"))
                found.push_back(entry.path());
        return found;
    };
    ASSERT_EQ(pendingFiles().size(), 1U);

    plugIn(withoutList(unitB()));
    EXPECT_EQ(unitNow().files, withoutList(unitB()).files) << "another unit lost its module and got the first unit's list";
    ASSERT_EQ(pendingFiles().size(), 1U) << "the edit was used up on another unit";

    const std::filesystem::path pending = pendingFiles().front();
    const auto keptAt = [&] {
        const auto bytes = *files.readFile(pending.string());
        const std::string text(bytes.begin(), bytes.end());
        const auto line = text.rfind('\n', text.size() - 2);
        return std::make_pair(text.substr(0, line + 1), std::stoll(text.substr(line + 1)));
    };
    const auto secondsNow = [] {
        return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    };
    // Kept under a clock ten years ahead, set back since: the record's time runs from now, or it would
    // outlive its end by years.
    const std::string ahead = keptAt().first + std::to_string(secondsNow() + 10LL * 365 * 24 * 3600) + "\n";
    ASSERT_TRUE(files.writeAtomically(pending.string(), Bytes(ahead.begin(), ahead.end())));
    plugIn(unitB());
    ASSERT_EQ(pendingFiles().size(), 1U);
    EXPECT_LE(keptAt().second, secondsNow());

    // Ninety days and a second on, the next connection of the model drops it.
    const std::string then = keptAt().first + std::to_string(secondsNow() - 90LL * 24 * 3600 - 1) + "\n";
    ASSERT_TRUE(files.writeAtomically(pending.string(), Bytes(then.begin(), then.end())));
    plugIn(unitB());
    EXPECT_TRUE(pendingFiles().empty());
}
