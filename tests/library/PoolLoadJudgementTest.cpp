// Who judges the pool for a unit at the start: the load, from its own reading, whenever the unit came before
// the working copy is placed, so the tree shows marked and warned and no pass of its own follows it; and the
// effect tables published again as they were leave that judgement standing.
#include <algorithm>
#include <array>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "library/models/PatchItem.h"
#include "support/files/FaultyFileManager.h"
#include "support/library/CommonUtilsProbe.h"
#include "support/library/CoordinatorFixture.h"
#include "support/library/LibraryFiles.h"

namespace fs = std::filesystem;
using namespace library_files;

namespace {

// Where in the load something happens.
enum class Point { BeforeTheLoad, DuringTheReading, AfterTheJudgementAgain, AfterThePlacing, AfterTheHandOver };

constexpr std::uint32_t kEcho = 0x0D000001;   // compatible, in the store
constexpr std::uint32_t kChorus = 0x0A000002; // compatible, in the store, not on the unit

// Holds the load at its first step of a kind on a path (by default: the reading's first listing of a group)
// until the test lets it go.
class HeldReading {
public:
    void arm(FaultyFileManager& files, const std::string& part, FaultyFileManager::Op op = FaultyFileManager::Op::List)
    {
        files.atFirst(op, part, [this] { hold(); });
    }
    // At the first listing of the folder `path` itself.
    void armExactly(FaultyFileManager& files, const std::string& path)
    {
        files.atFirstExactly(FaultyFileManager::Op::List, path, [this] { hold(); });
    }
    bool reached()
    {
        std::lock_guard lock(m_mutex);
        return m_reached;
    }
    void release()
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }
    ~HeldReading() { release(); }

private:
    void hold()
    {
        std::unique_lock lock(m_mutex);
        m_reached = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_released; });
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_reached = false;
    bool m_released = false;
};

}  // namespace

class PoolLoadJudgement : public Coordinator {
protected:
    // The coordinator's queues (a save's clearing behind it) use the file manager below: it goes first.
    ~PoolLoadJudgement() override { utils.reset(); }
    std::string under(const std::string& relative) { return (fs::path(root / "PEXO Rigmora") / relative).string(); }
    void put(const std::string& relative, const Bytes& bytes)
    {
        fs::create_directories(fs::path(under(relative)).parent_path());
        ASSERT_TRUE(files.writeAtomically(under(relative), bytes));
    }
    AllQFXData poolCatalogue()
    {
        nlohmann::json effects = nlohmann::json::array();
        for (auto type : {kEcho, kChorus}) effects.push_back(catalogueEffect(type));
        return AllQFXData::initWithDic(
            {{"qfx_url", "http://127.0.0.1/"},
             {"models", {{{"modelId", hexOf(kModelId)}, {"modelName", "Rig One"}, {"effects", effects}}}}});
    }
    // The store and the saved pool: a patch the unit takes, one of a generation it lacks, one using an effect
    // it lacks, in a group and at the top.
    void seed()
    {
        put("QFXMacApplication/Effect/0D000001/Echo.QF2", effectModule(kEcho, "Echo", "DLY"));
        put("QFXMacApplication/Effect/0A000002/Chorus.QF2", effectModule(kChorus, "Chorus", "MOD"));
        put("QFXMacApplication/Patch/Pool/[0] Solo.qptc", patchFile("Solo", {kEcho}));
        put("QFXMacApplication/Patch/Pool/[1] GroupA/[0] Lead.qptc", patchFile("Lead", {kEcho}));
        put("QFXMacApplication/Patch/Pool/[1] GroupA/[1] Old.qptc", patchFile("Old", {kEcho}, 2));
        put("QFXMacApplication/Patch/Pool/[1] GroupA/[2] Wide.qptc", patchFile("Wide", {kChorus}));
    }
    // The unit connects and is read whole; it holds Echo among its effects.
    void connectUnit()
    {
        utils->setServerClientFactory([] { return nullptr; });
        utils->syncEffect();
        utils->dataFromServer(poolCatalogue());
        utils->downloadFileSuccess(true);
        const Strings seen = until("connect 1");
        if (std::find(seen.begin(), seen.end(), "idle") == seen.end()) until("idle");
        utils->setEffectListFromDevice({}, {kEcho});
        utils->mergeEffect();
        until("effectPool");
    }
    // The unit goes; it is back, read whole again.
    void unplug()
    {
        unit.device().unplug();
        until("disconnect");
    }
    void plugBackIn()
    {
        unit.device().plugIn();
        const Strings seen = until("connect 1");
        if (std::find(seen.begin(), seen.end(), "idle") == seen.end()) until("idle");
        utils->setEffectListFromDevice({}, {kEcho});
        utils->mergeEffect();
        until("effectPool");
    }
    // What the window asks once the tree shows with a unit there, and at each connection: the unit's marks,
    // and the warnings again unless they were judged against the effect tables as they are.
    void askAsTheWindowDoes()
    {
        utils->updateDirectoryObjectForPatchPool(recorder.patchPool);
        settle();
        if (utils->poolWarningsJudgedAgainst(recorder.patchPool) == utils->effectTablesGeneration()) return;
        bool applied = false;
        utils->updatePatchWarningInPatchPoolLater(recorder.patchPool, [&] { applied = true; });
        ASSERT_TRUE(loop.runUntil([&] { return applied; }));
    }
    // The tree as the unit holding Echo judges it: the patch of a generation it lacks is marked, the one using
    // an effect it lacks warned.
    void expectJudgedForTheUnit(const std::string& row)
    {
        const struct {
            const char* name;
            bool incompatible;
            bool warned;
        } rows[] = {{"Solo", false, false}, {"Lead", false, false}, {"Old", true, false}, {"Wide", false, true}};
        for (const auto& each : rows) {
            const auto node = leaf(each.name);
            ASSERT_NE(node, nullptr) << row << ": " << each.name;
            EXPECT_EQ(node->isIncompatible, each.incompatible) << row << ": " << each.name;
            EXPECT_EQ(node->isWarning, each.warned) << row << ": " << each.name;
        }
    }
    // The unit's effect list changes, and the effect tables are published for it.
    void changeTheUnitsEffects(const std::vector<std::uint32_t>& types)
    {
        const std::uint64_t before = utils->effectTablesGeneration();
        utils->setEffectListFromDevice({}, types);
        ASSERT_TRUE(loop.runUntil([&] { return utils->effectTablesGeneration() != before; }));
    }
    // The working copy holds every patch of the seed.
    bool placed()
    {
        const fs::path local = under(CommonUtils::kTempLocal);
        for (const char* file : {"Solo.qptc", "GroupA/Lead.qptc", "GroupA/Old.qptc", "GroupA/Wide.qptc"})
            if (!fs::exists(local / file)) return false;
        return true;
    }
    // Loads the pool with `change` made at `at` (a unit coming during the reading first, if asked), until the
    // tree is handed over and the change made.
    void loadWith(Point at, bool unitComesDuringTheReading, const std::function<void()>& change)
    {
        if (at == Point::BeforeTheLoad) change();
        HeldReading reading;
        HeldReading later;
        reading.arm(faulty, "GroupA");
        utils->createPatchDirectoryObjectFromLocal();
        ASSERT_TRUE(loop.runUntil([&] { return reading.reached(); }));
        if (unitComesDuringTheReading) connectUnit();
        if (at == Point::DuringTheReading) change();
        // The load's first link follows its judgement again; the identity's listing of the group waits while
        // the working copy is placed, and holds the load before the hand-over.
        if (at == Point::AfterTheJudgementAgain) later.arm(faulty, "Solo", FaultyFileManager::Op::Link);
        if (at == Point::AfterThePlacing) later.arm(faulty, "GroupA");
        reading.release();
        if (at == Point::AfterTheJudgementAgain || at == Point::AfterThePlacing) {
            ASSERT_TRUE(loop.runUntil([&] { return later.reached(); }));
            if (at == Point::AfterThePlacing) {
                ASSERT_TRUE(loop.runUntil([&] { return placed(); }));
            }
            change();
            later.release();
        }
        until("patchPool");
        if (at == Point::AfterTheHandOver) change();
    }
    std::shared_ptr<DirectoryObject> leaf(const std::string& name)
    {
        for (const auto& node : recorder.patchPool) {
            if (node->name == name) return node;
            for (const auto& child : node->childDirectories)
                if (child->name == name) return child;
        }
        return nullptr;
    }

    FaultyFileManager faulty;
};

// The demo's unit connects a few milliseconds into the load, after it took what to judge against: the tree
// came unmarked, and the window's ask for the unit's marks judged every file again after it showed (its paths
// taken on the main thread, each file's stamp looked up) before the marks and warnings showed.
TEST_F(PoolLoadJudgement, AUnitThatConnectsWhileTheLoadReadsIsJudgedForByTheLoad)
{
    seed();
    HeldReading held;
    held.arm(faulty, "GroupA");
    start(faulty);
    utils->createPatchDirectoryObjectFromLocal();
    ASSERT_TRUE(loop.runUntil([&] { return held.reached(); }));
    connectUnit();
    held.release();
    until("patchPool");

    const struct {
        const char* name;
        bool incompatible;
        bool warned;
    } rows[] = {{"Solo", false, false}, {"Lead", false, false}, {"Old", true, false}, {"Wide", false, true}};
    for (const auto& row : rows) {
        const auto node = leaf(row.name);
        ASSERT_NE(node, nullptr) << row.name;
        EXPECT_EQ(node->isIncompatible, row.incompatible) << row.name;
        EXPECT_EQ(node->isWarning, row.warned) << row.name;
        EXPECT_EQ(node->patchItem()->isWarning, row.warned) << row.name;
        EXPECT_FALSE(node->patchItem()->effectDictionnary.empty()) << row.name;
    }
    // The window's asks once the tree shows find the pool judged for this unit against its effects as they are.
    EXPECT_EQ(utils->poolWarningsJudgedAgainst(recorder.patchPool), utils->effectTablesGeneration());
    utils->updateDirectoryObjectForPatchPool(recorder.patchPool);
    const Strings after = settle();
    EXPECT_EQ(std::count(after.begin(), after.end(), "patchPoolMarks"), 0);
}

// A unit that comes once the tree is handed over is judged by its own pass, as before: the load claims no
// judgement it did not make.
TEST_F(PoolLoadJudgement, AUnitThatConnectsAfterTheLoadIsJudgedByItsOwnPass)
{
    seed();
    start(faulty);
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPool");
    EXPECT_FALSE(leaf("Old")->isIncompatible);
    connectUnit();
    utils->updateDirectoryObjectForPatchPool(recorder.patchPool);
    until("patchPoolMarks");
    EXPECT_TRUE(leaf("Old")->isIncompatible);
    EXPECT_FALSE(leaf("Lead")->isIncompatible);
}

// Each step of a connection's read and every merge publish the effect tables again, mostly as they were: the
// pool's warnings judged against them stand, where a new generation each time had the window judge the whole
// pool again after the load (its lists built anew and swapped in on the main thread).
TEST_F(PoolLoadJudgement, TheSameEffectTablesPublishedAgainLeaveThePoolsWarningsStanding)
{
    seed();
    start(faulty);
    connectUnit();
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPool");
    const std::uint64_t judged = utils->effectTablesGeneration();
    ASSERT_EQ(utils->poolWarningsJudgedAgainst(recorder.patchPool), judged);
    // The unit's list read again, as it was.
    utils->setEffectListFromDevice({}, {kEcho});
    settle();
    EXPECT_EQ(utils->effectTablesGeneration(), judged);
    EXPECT_EQ(utils->poolWarningsJudgedAgainst(recorder.patchPool), utils->effectTablesGeneration());
    // The unit's effects changed: what the warnings read changed, and they are judged again.
    utils->setEffectListFromDevice({}, {kEcho, kChorus});
    settle();
    EXPECT_NE(utils->effectTablesGeneration(), judged);
    EXPECT_NE(utils->poolWarningsJudgedAgainst(recorder.patchPool), utils->effectTablesGeneration());
}

// Where in the load the unit comes, goes, or is replaced by another of the model (gone and back, a connection
// of its own): once the window asked as it does (when the tree shows, and at each connection), the tree shows
// the marks and warnings of the unit connected then, whoever judged them. A judgement the load made while the
// unit was going (its description gone, every file read then judged as one the unit cannot take) was claimed
// for the model, and the next connection of that model found the pool marked already.
namespace {

enum class Change { Comes, Goes, IsReplaced };

struct UnitRow {
    const char* name;
    Point at;
    Change change;
    // The unit comes while the files are read, then changes at `at`.
    bool cameDuringTheReading = false;
};
void PrintTo(const UnitRow& row, std::ostream* os) { *os << row.name; }

}  // namespace

class PoolLoadUnitTimeline : public PoolLoadJudgement, public ::testing::WithParamInterface<UnitRow> {};

TEST_P(PoolLoadUnitTimeline, TheTreeShowsTheConnectedUnitsJudgement)
{
    const UnitRow& row = GetParam();
    seed();
    start(faulty);
    if (row.change != Change::Comes && !row.cameDuringTheReading) connectUnit();
    loadWith(row.at, row.cameDuringTheReading, [&] {
        if (row.change == Change::Comes) connectUnit();
        if (row.change == Change::Goes || row.change == Change::IsReplaced) unplug();
        if (row.change == Change::IsReplaced) plugBackIn();
    });
    if (row.change == Change::Goes) plugBackIn();
    askAsTheWindowDoes();
    expectJudgedForTheUnit(row.name);
}

INSTANTIATE_TEST_SUITE_P(
    PoolLoadJudgement, PoolLoadUnitTimeline,
    ::testing::Values(UnitRow{"ComesBeforeTheLoad", Point::BeforeTheLoad, Change::Comes},
                      UnitRow{"ComesDuringTheReading", Point::DuringTheReading, Change::Comes},
                      UnitRow{"ComesAfterTheJudgementAgain", Point::AfterTheJudgementAgain, Change::Comes},
                      UnitRow{"ComesAfterThePlacing", Point::AfterThePlacing, Change::Comes},
                      UnitRow{"ComesAfterTheHandOver", Point::AfterTheHandOver, Change::Comes},
                      UnitRow{"GoesBeforeTheLoad", Point::BeforeTheLoad, Change::Goes},
                      UnitRow{"GoesDuringTheReading", Point::DuringTheReading, Change::Goes},
                      UnitRow{"GoesAfterTheJudgementAgain", Point::AfterTheJudgementAgain, Change::Goes},
                      UnitRow{"GoesAfterThePlacing", Point::AfterThePlacing, Change::Goes},
                      UnitRow{"GoesAfterTheHandOver", Point::AfterTheHandOver, Change::Goes},
                      UnitRow{"ReplacedBeforeTheLoad", Point::BeforeTheLoad, Change::IsReplaced},
                      UnitRow{"ReplacedDuringTheReading", Point::DuringTheReading, Change::IsReplaced},
                      UnitRow{"ReplacedAfterTheJudgementAgain", Point::AfterTheJudgementAgain, Change::IsReplaced},
                      UnitRow{"ReplacedAfterThePlacing", Point::AfterThePlacing, Change::IsReplaced},
                      UnitRow{"ReplacedAfterTheHandOver", Point::AfterTheHandOver, Change::IsReplaced},
                      UnitRow{"CameDuringTheReadingGoesAfterTheJudgementAgain", Point::AfterTheJudgementAgain, Change::Goes, true},
                      UnitRow{"CameDuringTheReadingGoesAfterThePlacing", Point::AfterThePlacing, Change::Goes, true},
                      UnitRow{"CameDuringTheReadingReplacedAfterTheJudgementAgain", Point::AfterTheJudgementAgain,
                              Change::IsReplaced, true},
                      UnitRow{"CameDuringTheReadingReplacedAfterThePlacing", Point::AfterThePlacing, Change::IsReplaced, true}),
    [](const ::testing::TestParamInfo<UnitRow>& info) { return std::string(info.param.name); });

// The unit's effect list changes at each point of the load (an effect loaded onto it, one deleted from it):
// once the window asked as it does, each patch's warning is the one the list it holds now gives. A judgement
// made against the list before the change is never claimed as made against the list after it.
namespace {

struct EffectRow {
    const char* name;
    Point at;
    bool unitCameDuringTheReading;
    std::vector<std::uint32_t> effects;
    // Solo, Lead, Old, Wide.
    std::array<bool, 4> warned;
};
void PrintTo(const EffectRow& row, std::ostream* os) { *os << row.name; }

}  // namespace

class PoolLoadEffectListChange : public PoolLoadJudgement, public ::testing::WithParamInterface<EffectRow> {};

TEST_P(PoolLoadEffectListChange, ThePoolsWarningsAreTheListsAsItIsNow)
{
    const EffectRow& row = GetParam();
    seed();
    start(faulty);
    if (!row.unitCameDuringTheReading) connectUnit();
    loadWith(row.at, row.unitCameDuringTheReading, [&] { changeTheUnitsEffects(row.effects); });
    askAsTheWindowDoes();
    const char* names[] = {"Solo", "Lead", "Old", "Wide"};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto node = leaf(names[i]);
        ASSERT_NE(node, nullptr) << row.name << ": " << names[i];
        EXPECT_EQ(node->isWarning, row.warned[i]) << row.name << ": " << names[i];
    }
}

INSTANTIATE_TEST_SUITE_P(
    PoolLoadJudgement, PoolLoadEffectListChange,
    ::testing::Values(
        EffectRow{"LoadedDuringTheReading", Point::DuringTheReading, false, {kEcho, kChorus}, {false, false, false, false}},
        EffectRow{"LoadedAfterTheJudgementAgain", Point::AfterTheJudgementAgain, false, {kEcho, kChorus}, {false, false, false, false}},
        EffectRow{"LoadedAfterThePlacing", Point::AfterThePlacing, false, {kEcho, kChorus}, {false, false, false, false}},
        EffectRow{"LoadedAfterTheHandOver", Point::AfterTheHandOver, false, {kEcho, kChorus}, {false, false, false, false}},
        EffectRow{"DeletedDuringTheReading", Point::DuringTheReading, false, {kChorus}, {true, true, true, false}},
        EffectRow{"DeletedAfterTheJudgementAgain", Point::AfterTheJudgementAgain, false, {kChorus}, {true, true, true, false}},
        EffectRow{"DeletedAfterThePlacing", Point::AfterThePlacing, false, {kChorus}, {true, true, true, false}},
        EffectRow{"DeletedAfterTheHandOver", Point::AfterTheHandOver, false, {kChorus}, {true, true, true, false}},
        EffectRow{"UnitCameThenLoadedAfterTheJudgementAgain", Point::AfterTheJudgementAgain, true, {kEcho, kChorus},
                  {false, false, false, false}},
        EffectRow{"UnitCameThenLoadedAfterThePlacing", Point::AfterThePlacing, true, {kEcho, kChorus}, {false, false, false, false}},
        EffectRow{"UnitCameThenDeletedAfterTheJudgementAgain", Point::AfterTheJudgementAgain, true, {kChorus},
                  {true, true, true, false}},
        EffectRow{"UnitCameThenDeletedAfterThePlacing", Point::AfterThePlacing, true, {kChorus}, {true, true, true, false}}),
    [](const ::testing::TestParamInfo<EffectRow>& info) { return std::string(info.param.name); });

// A file whose stamp the reading could not take kept no facts: the load judges the others for a unit that came
// meanwhile but claims no judgement of the pool, and the pass of its own that follows judges every file.
TEST_F(PoolLoadJudgement, AFileReadWithoutItsFactsLeavesTheUnitToItsOwnPass)
{
    seed();
    faulty.unstamped("Wide");
    start(faulty);
    loadWith(Point::DuringTheReading, false, [&] { connectUnit(); });
    utils->updateDirectoryObjectForPatchPool(recorder.patchPool);
    EXPECT_EQ(count(settle(), "patchPoolMarks"), 1);
    askAsTheWindowDoes();
    expectJudgedForTheUnit("unit");
}

// The same with the unit there from the start and its effect list changed during the reading: the marks stand
// (made for this very connection), the warnings are judged again against the list as it is.
TEST_F(PoolLoadJudgement, AFileReadWithoutItsFactsLeavesTheWarningsToBeJudgedAgain)
{
    seed();
    faulty.unstamped("Solo");
    start(faulty);
    connectUnit();
    loadWith(Point::DuringTheReading, false, [&] { changeTheUnitsEffects({kChorus}); });
    EXPECT_NE(utils->poolWarningsJudgedAgainst(recorder.patchPool), utils->effectTablesGeneration());
    askAsTheWindowDoes();
    for (const char* name : {"Solo", "Lead", "Old"}) EXPECT_TRUE(leaf(name)->isWarning) << name;
    EXPECT_FALSE(leaf("Wide")->isWarning);
    EXPECT_TRUE(leaf("Old")->isIncompatible);
}

// Another library swapped in for the one the load read, while the identity is taken beside the placing: the
// identity named the files it found then, and the save took the other library for the one loaded and replaced
// it with the pool read from the first. A file read that the library no longer holds where it was read makes
// it one the start could not read whole, which no save replaces.
TEST_F(PoolLoadJudgement, ALibrarySwappedInWhileTheIdentityIsTakenIsAnotherOneNoSaveReplaces)
{
    seed();
    const std::string library = under("QFXMacApplication/Patch");
    HeldReading reading;
    HeldReading identity;
    reading.arm(faulty, "GroupA");
    start(faulty);
    utils->createPatchDirectoryObjectFromLocal();
    ASSERT_TRUE(loop.runUntil([&] { return reading.reached(); }));
    identity.armExactly(faulty, library);
    reading.release();
    ASSERT_TRUE(loop.runUntil([&] { return identity.reached() && placed(); }));
    fs::rename(library, under("moved away"));
    put("QFXMacApplication/Patch/Pool/[0] Other.qptc", patchFile("Other", {kEcho}));
    identity.release();
    until("patchPool");
    ASSERT_NE(leaf("Solo"), nullptr);
    std::atomic<bool> changed{true};
    const auto refused = utils->savePatchPoolToLocal(recorder.patchPool, changed);
    ASSERT_TRUE(refused.has_value()) << "the other library reported replaced";
    EXPECT_NE(refused->find("changed while it was read"), std::string::npos) << *refused;
    EXPECT_TRUE(fs::exists(under("QFXMacApplication/Patch/Pool/[0] Other.qptc")));
    EXPECT_FALSE(fs::exists(under("QFXMacApplication/Patch/Pool/[0] Solo.qptc")));
}

// Files the reading read that the identity does not count (a hidden patch file, one in a group within a group)
// are not files the library lost: the library is the one read, and the save writes it.
TEST_F(PoolLoadJudgement, FilesTheIdentityDoesNotCountLeaveTheLibraryTheOneRead)
{
    seed();
    put("QFXMacApplication/Patch/Pool/.Hidden.qptc", patchFile("Hidden", {kEcho}));
    put("QFXMacApplication/Patch/Pool/[1] GroupA/.Hidden.qptc", patchFile("Hidden", {kEcho}));
    put("QFXMacApplication/Patch/Pool/[1] GroupA/Inner/[0] Deep.qptc", patchFile("Deep", {kEcho}));
    start(faulty);
    utils->createPatchDirectoryObjectFromLocal();
    Strings heard = until("patchPool");
    for (auto& later : settle()) heard.push_back(std::move(later));
    EXPECT_EQ(count(heard, "patchLibraryNotRead"), 0);
    std::atomic<bool> changed{true};
    EXPECT_EQ(utils->savePatchPoolToLocal(recorder.patchPool, changed), std::nullopt);
}

// The working copy's file changed between its placing and the filing of what the reading kept of it: the facts
// are filed under its working path with the stamp of the file read, and a judgement after never takes them for
// the file now there.
TEST_F(PoolLoadJudgement, AWorkingFileChangedBeforeItsFactsAreFiledIsJudgedAsItIsNow)
{
    seed();
    start(faulty);
    connectUnit();
    loadWith(Point::AfterThePlacing, false, [&] {
        ASSERT_TRUE(files.writeAtomically(under(std::string(CommonUtils::kTempLocal) + "/GroupA/Lead.qptc"),
                                          patchFile("Lead", {kEcho}, 2)));
    });
    unplug();
    plugBackIn();
    askAsTheWindowDoes();
    EXPECT_TRUE(leaf("Lead")->isIncompatible);
    EXPECT_FALSE(leaf("Solo")->isIncompatible);
}

// A group of the library that cannot be listed, by the reading or only by the identity taken after it: the
// library is one the start could not read whole, told, and no save of this run replaces it.
TEST_F(PoolLoadJudgement, AGroupUnlistedByTheReadingOrTheIdentityLeavesTheLibraryUnreplaced)
{
    for (const int passing : {0, 1}) {
        SCOPED_TRACE(passing == 0 ? "the reading" : "the identity");
        faulty.heal();
        fs::remove_all(under(""));
        seed();
        faulty.alsoFail(FaultyFileManager::Op::List, "GroupA", 1, EACCES, passing);
        start(faulty);
        utils->createPatchDirectoryObjectFromLocal();
        // Told after the tree.
        EXPECT_EQ(count(until("patchLibraryNotRead"), "patchLibraryNotRead"), 1);
        std::atomic<bool> changed{true};
        EXPECT_TRUE(utils->savePatchPoolToLocal(recorder.patchPool, changed).has_value());
        EXPECT_TRUE(fs::exists(under("QFXMacApplication/Patch/Pool/[1] GroupA/[2] Wide.qptc")));
        utils.reset();
    }
}

// The coordinator let go while the load waits for the identity (the program quitting as it starts): it waits
// for the load, and the next start on the same folder shows the pool whole.
TEST_F(PoolLoadJudgement, TheCoordinatorGoingWhileTheIdentityIsTakenWaitsForTheLoad)
{
    seed();
    HeldReading reading;
    HeldReading identity;
    reading.arm(faulty, "GroupA");
    start(faulty);
    utils->createPatchDirectoryObjectFromLocal();
    ASSERT_TRUE(loop.runUntil([&] { return reading.reached(); }));
    identity.armExactly(faulty, under("QFXMacApplication/Patch"));
    reading.release();
    ASSERT_TRUE(loop.runUntil([&] { return identity.reached(); }));
    std::thread letGo([&] { identity.release(); });
    utils.reset();
    letGo.join();
    recorder.patchPool.clear();
    start(faulty);
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPool");
    for (const char* name : {"Solo", "Lead", "Old", "Wide"}) EXPECT_NE(leaf(name), nullptr) << name;
}

// The effect tables published again after the pool was judged: the generation the warnings and effect lists are
// judged against moves when what they read changed (the unit's types, each type's first summary's name) and
// only then; once the window asked as it does, each patch's effect list names its effects as the store does now.
namespace {

OKVSimpleEffect summary(std::uint32_t type, const std::string& name, const std::string& version = "1.00")
{
    OKVSimpleEffect each;
    each.setDataType(type);
    each.setDataTypeName(name);
    each.setDataVersion(version);
    each.setDataUseUnitNum(1);
    return each;
}

struct TablesRow {
    const char* name;
    std::function<void(std::vector<OKVSimpleEffect>&)> change;
    bool moves;
    const char* echoNamed;
};
void PrintTo(const TablesRow& row, std::ostream* os) { *os << row.name; }

}  // namespace

class PoolLoadTablesPublished : public PoolLoadJudgement, public ::testing::WithParamInterface<TablesRow> {};

TEST_P(PoolLoadTablesPublished, TheWarningsGenerationMovesExactlyWhenWhatTheyReadChanged)
{
    const TablesRow& row = GetParam();
    seed();
    start(faulty);
    connectUnit();
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPool");
    askAsTheWindowDoes();
    const std::uint64_t judged = utils->effectTablesGeneration();
    auto summaries = CommonUtilsProbe::effectSummaries(*utils);
    row.change(summaries);
    CommonUtilsProbe::publishEffectSummaries(*utils, summaries);
    EXPECT_EQ(utils->effectTablesGeneration() != judged, row.moves);
    askAsTheWindowDoes();
    const auto& list = leaf("Solo")->patchItem()->effectDictionnary;
    const auto slot = list.find("slot 0");
    ASSERT_NE(slot, list.end());
    ASSERT_NE(slot->second.dictionary(), nullptr);
    EXPECT_EQ(slot->second.dictionary()->at("effectName").asString(), std::optional<std::string>(row.echoNamed));
}

INSTANTIATE_TEST_SUITE_P(
    PoolLoadJudgement, PoolLoadTablesPublished,
    ::testing::Values(
        TablesRow{"TheSameSummaries", [](auto&) {}, false, "Echo"},
        TablesRow{"TheFirstEchoRenamed", [](auto& all) { all.insert(all.begin(), summary(kEcho, "Echo Two")); }, true, "Echo Two"},
        TablesRow{"ASecondEchoOfAnotherName", [](auto& all) { all.push_back(summary(kEcho, "Echo Three")); }, false, "Echo"},
        TablesRow{"TheFirstEchoOfAnotherVersion", [](auto& all) { all.insert(all.begin(), summary(kEcho, "Echo", "2.00")); },
                  false, "Echo"},
        TablesRow{"AnEffectOfAnotherType", [](auto& all) { all.push_back(summary(0x0B000003, "Drive")); }, true, "Echo"}),
    [](const ::testing::TestParamInfo<TablesRow>& info) { return std::string(info.param.name); });
