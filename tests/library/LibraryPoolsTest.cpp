#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "library/models/PatchItem.h"
#include "library/store/BackupFile.h"
#include "platform/text/ShiftJis.h"
#include "support/files/HeldPoolCopies.h"
#include "support/library/CoordinatorFixture.h"
#include "support/library/LibraryFiles.h"

namespace fs = std::filesystem;
using namespace library_files;
using Copied = std::vector<CommonUtils::CopiedPatch>;
using Parts = std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>>;
using Progress = std::pair<std::size_t, std::size_t>;

namespace {

constexpr std::uint32_t kEcho = 0x0D000001;    // delay, compatible, on the device later
constexpr std::uint32_t kChorus = 0x0A000002;  // modulation, compatible
constexpr std::uint32_t kTape = 0x0D000003;    // delay, a generation the unit lacks
constexpr std::uint32_t kMissing = 0x0B000004; // in the catalogue, not in the store

std::vector<std::string> names(const CommonUtils::Tree& nodes)
{
    std::vector<std::string> out;
    for (const auto& node : nodes) out.push_back(node->name.value_or("?"));
    return out;
}

// What a batch of copies handed back in parts: every result, and whether its last part came.
struct Landing {
    Parts parts;
    bool last = false;
    auto into()
    {
        return [this](Parts results, bool end) {
            for (auto& each : results) parts.push_back(std::move(each));
            last = last || end;
        };
    }
};

}  // namespace

class Pools : public Coordinator {
protected:
    std::string under(const std::string& relative) { return (fs::path(root / "PEXO Rigmora") / relative).string(); }
    void put(const std::string& relative, const Bytes& bytes)
    {
        fs::create_directories(fs::path(under(relative)).parent_path());
        ASSERT_TRUE(files.writeAtomically(under(relative), bytes));
    }
    // A folder under the root, made.
    std::string folder(const std::string& relative)
    {
        fs::create_directories(under(relative));
        return under(relative);
    }
    // Patches of the unit's folder, each holding Echo, and a copy of one into a folder.
    void devicePatches(std::initializer_list<const char*> names)
    {
        for (const std::string name : names) put("Temp/Device/Patch/" + name + ".qptc", patchFile(name, {kEcho, 1}));
    }
    std::string device(const std::string& name) { return under("Temp/Device/Patch/" + name + ".qptc"); }
    CommonUtils::PatchCopy copy(const std::string& name, const std::string& into) { return {device(name), into}; }
    // The tree a load of the saved pool shows.
    CommonUtils::Tree loadPool()
    {
        start();
        utils->createPatchDirectoryObjectFromLocal();
        until("patchPool");
        return recorder.patchPool;
    }
    AllQFXData poolCatalogue()
    {
        const auto model = [](std::int32_t id, const char* name, std::vector<std::uint32_t> types) {
            nlohmann::json effects = nlohmann::json::array();
            for (auto type : types) effects.push_back(catalogueEffect(type));
            return nlohmann::json{{"modelId", hexOf(id)}, {"modelName", name}, {"effects", effects}};
        };
        return AllQFXData::initWithDic({{"qfx_url", "http://127.0.0.1/"},
                                        {"models",
                                         {model(kModelId, "Rig One", {kEcho, kChorus, kMissing, kTape}),
                                          model(0x00700002, "Rig Two", {kMissing}), model(0x00700003, "Rig Three", {})}}});
    }
    // The store, the catalogue and a first merge without a device; the unit then connects.
    void buildAndConnect(platform::FileManager* fileManager = nullptr)
    {
        put("QFXMacApplication/Effect/0D000001/Echo.QF2", effectModule(kEcho, "Echo", "DLY"));
        put("QFXMacApplication/Effect/0A000002/Chorus.QF2", effectModule(kChorus, "Chorus", "MOD"));
        put("QFXMacApplication/Effect/0D000003/Tape.QF2", effectModule(kTape, "Tape", "DLY", 2));
        start(fileManager ? *fileManager : files);
        // No server here: the run only opens its synchronisation code.
        utils->setServerClientFactory([] { return nullptr; });
        utils->syncEffect();
        utils->dataFromServer(poolCatalogue());
        utils->downloadFileSuccess(true);
        Strings seen = until("connect 1");
        // The connect read hands the tree over again, marked for the unit; on a busy machine its end may
        // already have been heard with the connection.
        const auto connected = std::find(seen.begin(), seen.end(), "connect 1");
        EXPECT_EQ(std::count(seen.begin(), connected, "effectPool"), 1);
        if (std::find(connected, seen.end(), "idle") == seen.end()) {
            const Strings rest = until("idle");
            seen.insert(seen.end(), rest.begin(), rest.end());
        }
        EXPECT_EQ(count(seen, "effectPool"), 2);
        ASSERT_FALSE(recorder.effectPools.empty());
        firstTree = recorder.effectPools.front();
    }
    // The unit's effect list holds Echo alone, and the pool is marked for it.
    void echoOnTheUnit()
    {
        buildAndConnect();
        utils->setEffectListFromDevice({}, {kEcho});
        utils->mergeEffect();
        until("effectPool");
    }
    // A patch file of `units` at `relative`, in a pool node named for it.
    std::shared_ptr<DirectoryObject> patchNode(const std::string& name, std::vector<std::uint32_t> units, bool stale = false)
    {
        put("Temp/Local/" + name + ".qptc", patchFile(name, std::move(units)));
        auto item = std::make_shared<PatchItem>();
        item->patchName = name;
        item->path = under("Temp/Local/" + name + ".qptc");
        item->isWarning = stale;
        auto leaf = std::make_shared<DirectoryObject>();
        leaf->name = name;
        leaf->object = std::move(item);
        leaf->isWarning = stale;
        return leaf;
    }
    // Copies asked of the pool's queue, their results kept as they land.
    void copyLater(const std::vector<CommonUtils::PatchCopy>& asked)
    {
        utils->writeFilePatchesLater(asked, [this](Copied results) { copied = std::move(results); });
    }
    std::optional<Copied> copied;
    // The tree built before the unit connected.
    CommonUtils::Tree firstTree;
};

// The copies of the pool's queue into one folder held until the test lets them go.
class HeldPools : public Pools {
protected:
    void SetUp() override { buildAndConnect(&held); }
    // The coordinator's queue uses the holding disk until the coordinator is gone.
    ~HeldPools() override
    {
        held.release();
        utils.reset();
    }
    // Copies into `into` are held from now on.
    std::string holding(const std::string& into)
    {
        held.holdInto = folder(into);
        return held.holdInto;
    }
    HeldPoolCopies held;
};

// Models without effects get no node; categories keep their first position; missing effects last. Marked
// for the unit: on the device, a generation it lacks, new effects and their parents, "UNKNOWN" while
// connected, a model of only missing effects. The tree first handed over is a copy the marks never reach.
TEST_F(Pools, EffectPoolTreeByModelAndCategoryMarkedForTheConnectedDevice)
{
    buildAndConnect();
    const CommonUtils::Tree built = firstTree;
    ASSERT_EQ(names(built), (Strings{"Rig One", "Rig Two"}));
    EXPECT_EQ(names(built[0]->childDirectories), (Strings{"DLY", "MOD", "UNKNOWN"}));
    EXPECT_EQ(names(built[0]->childDirectories[0]->childDirectories), (Strings{"Echo", "Tape"}));
    EXPECT_EQ(names(built[1]->childDirectories), (Strings{"UNKNOWN"}));

    utils->setEffectListFromDevice({MappingObject::initWithFilePath(under("QFXMacApplication/Effect/0D000001/Echo.QF2"))}, {kEcho});
    utils->mergeEffect();
    EXPECT_EQ(until("syncFinish").back(), "syncFinish");
    const auto& one = recorder.effectPool[0];
    const auto& delay = one->childDirectories[0];
    const auto& modulation = one->childDirectories[1];
    EXPECT_FALSE(delay->childDirectories[0]->isNew);
    EXPECT_FALSE(delay->childDirectories[0]->isIncompatible);
    EXPECT_TRUE(delay->childDirectories[1]->isIncompatible);
    EXPECT_FALSE(delay->isIncompatible);
    EXPECT_TRUE(modulation->childDirectories[0]->isNew);
    EXPECT_TRUE(modulation->hasNewChild && one->hasNewChild && !delay->hasNewChild);
    EXPECT_TRUE(one->childDirectories[2]->isIncompatible);
    EXPECT_FALSE(one->isIncompatible);
    EXPECT_TRUE(recorder.effectPool[1]->isIncompatible);
    EXPECT_FALSE(built[0]->childDirectories[1]->hasNewChild);
}

TEST_F(Pools, PatchEffectDictionaryAndWarnings)
{
    echoOnTheUnit();
    const auto patchWith = [&](const std::string& name, std::vector<std::uint32_t> units) {
        auto item = patchNode(name, std::move(units))->patchItem()->copy();
        utils->getEffectListWithPatch(*item);
        utils->updatePatchWarningWithPatchItem(*item);
        return item;
    };
    const auto slot = [](const PatchItem& item, const char* key) {
        const auto found = item.effectDictionnary.find(key);
        if (found == item.effectDictionnary.end()) return std::string("-");
        const auto& entry = *found->second.dictionary();
        return entry.at("effectName").asString().value_or("") + "/" + std::to_string(entry.at("useUnitNum").asInteger().value_or(-1));
    };
    const auto chain = patchWith("Chain", {kEcho, 1, 1, 0});
    EXPECT_EQ(chain->effectDictionnary.at("NumberOfSlot").asInteger(), seq.getDeviceUseUnitNum());
    EXPECT_EQ(slot(*chain, "slot 0"), "Echo/3");
    EXPECT_EQ(slot(*chain, "slot 3"), "-");
    EXPECT_FALSE(chain->isWarning);
    const auto builtIn = patchWith("BuiltIn", {0x1D000007, 1});
    EXPECT_EQ(slot(*builtIn, "slot 0"), "BUILT IN EFFECT/2");
    EXPECT_FALSE(builtIn->isWarning);
    // An unknown effect's continuation unit is read as a unit of its own.
    const auto unknown = patchWith("Unknown", {0x0C000009, 1});
    EXPECT_EQ(slot(*unknown, "slot 0"), "UNKNOWN/1");
    EXPECT_EQ(slot(*unknown, "slot 1"), "UNKNOWN/1");
    EXPECT_TRUE(unknown->isWarning);
    EXPECT_TRUE(patchWith("NotOnUnit", {kChorus})->isWarning);

    // A whole pool, read off the main thread: each node and item ends as the one-by-one pass leaves them,
    // and a file that cannot be read keeps its item's list and warning, judged again.
    auto group = std::make_shared<DirectoryObject>();
    group->isGroup = true;
    group->childDirectories = {patchNode("Chain", {kEcho, 1, 1, 0}, true), patchNode("Unknown", {0x0C000009, 1})};
    auto gone = std::make_shared<DirectoryObject>();
    gone->object = builtIn->copy();
    gone->patchItem()->path = under("Temp/Patch/Gone.qptc");
    gone->patchItem()->isWarning = true;
    const CommonUtils::Tree pool{group, patchNode("BuiltIn", {0x1D000007, 1}, true), gone};
    bool applied = false;
    utils->updatePatchWarningInPatchPoolLater(pool, [&] { applied = true; });
    ASSERT_TRUE(loop.runUntil([&] { return applied; }));
    const std::pair<std::shared_ptr<DirectoryObject>, std::shared_ptr<PatchItem>> rows[] = {
        {group->childDirectories[0], chain}, {group->childDirectories[1], unknown}, {pool[1], builtIn}};
    for (const auto& [node, expected] : rows) {
        SCOPED_TRACE(expected->path);
        EXPECT_EQ(node->patchItem()->effectDictionnary, expected->effectDictionnary);
        EXPECT_EQ(node->patchItem()->isWarning, expected->isWarning);
        EXPECT_EQ(node->isWarning, expected->isWarning);
    }
    EXPECT_EQ(gone->patchItem()->effectDictionnary, builtIn->effectDictionnary);
    EXPECT_FALSE(gone->patchItem()->isWarning);  // a built-in effect warns of nothing
    EXPECT_FALSE(gone->isWarning);
}

// An edit that gives a node another item while the whole pool's warnings are being judged (a property
// sheet's save does) frees the item the pass started from: the judgement lands in the node's item of the
// time it lands.
TEST_F(Pools, PoolWarningsLandInTheItemTheNodeHoldsWhenTheyLand)
{
    echoOnTheUnit();
    const CommonUtils::Tree pool{patchNode("Echoes", {kEcho}), patchNode("Chorus", {kChorus}), patchNode("Plain", {kEcho})};
    bool applied = false;
    utils->updatePatchWarningInPatchPoolLater(pool, [&] { applied = true; });
    // The edited copy takes the node's place; the only owner of the old item lets it go.
    auto edited = pool[1]->patchItem()->copy();
    edited->patchComment = "edited";
    pool[1]->object = edited;
    ASSERT_TRUE(loop.runUntil([&] { return applied; }));
    EXPECT_TRUE(edited->isWarning);  // a chorus the unit lacks
    EXPECT_EQ(edited->effectDictionnary.count("slot 0"), 1U);
    EXPECT_TRUE(pool[1]->isWarning);
    EXPECT_FALSE(pool[0]->isWarning);
    EXPECT_EQ(pool[2]->patchItem()->effectDictionnary.count("slot 0"), 1U);
}

// The application's version notice names the newer one the server lists under this program's name; the
// firmware check waits for a device, and the connect read makes it once the memory status is in.
TEST_F(Pools, VersionNoticesForANewerApplicationAndFirmware)
{
    start();
    utils->setApplicationVersion("2.9");
    const auto apps = [](const char* version) {
        return AppsVersion::initWithDic({{"apps",
                                          {{{"appName", "tonvault"}, {"appVersionMac", "9.0"}},
                                           {{"appName", "Tonvault"}, {"appVersionMac", version}},
                                           {{"appName", "Tonvault"}, {"appVersionMac", "9.9"}}}}});
    };
    utils->appVersionFromServer(apps("2.10"));
    utils->appVersionFromServer(apps("2.9"));
    utils->modelVersionFromServer(ModelsVersion::initWithDic({{"models", {{{"modelId", hexOf(kModelId)}, {"modelVersion", "1.30"}}}}}));
    EXPECT_EQ(settle(), (Strings{"appUpdate 2.9 2.10"}));
    utils->dataFromServer(catalogue());
    utils->connectDevice();
    EXPECT_EQ(until("idle"), (Strings{"busy", "connect 1", "busy", "effectPool", "syncFinish", "effects 1", "memory 0", "name Rig One",
                                      "deviceUpdate 1.20 1.30", "patches 6", "idle"}));
}

TEST_F(Pools, ReachabilityReportsAndAMissingCatalogue)
{
    start();
    utils->connectServer(true);  // equal to the initial report, no retry pending
    utils->connectServer(false);
    utils->connectServer(false);
    utils->dataFromServer(std::nullopt);
    utils->internetConnectionWithState(false);
    EXPECT_EQ(settle(), (Strings{"server 0", "catalogue 1", "syncFinish", "noInternet"}));
}

// The saved pool is loaded once per process into the working copy, leaving the library, with its backup
// groups' records (the marks a unit gives it are the layouts' tests').
TEST_F(Pools, SavedPoolLoadsIntoTheWorkingCopyAndIsMarkedForTheDevice)
{
    put("QFXMacApplication/Patch/Pool/[0] Solo.qptc", patchFile("Solo"));
    put("QFXMacApplication/Patch/Pool/[1] GroupA/[0] Lead.qptc", patchFile("Lead"));
    put("QFXMacApplication/Patch/Pool/[1] GroupA/[1] Rhythm.qptc", patchFile("Rhythm"));
    put("QFXMacApplication/Patch/Pool/[2] GroupB/[0] Old.qptc", patchFile("Old"));
    fs::create_directories(under("QFXMacApplication/Patch/Pool/[3] Empty"));
    put("QFXMacApplication/Patch/Backup/[4] Backup1/[0] Clean.qptc", patchFile("Clean"));
    ASSERT_TRUE(BackupFile::saveBackupFile(BackupFile::initWithName("Backup1", "Rig One").get(),
                                           under("QFXMacApplication/Patch/Backup/[4] Backup1/BackupInfo.backup"), under("")));
    const CommonUtils::Tree tree = loadPool();
    utils->createPatchDirectoryObjectFromLocal();  // once per process
    EXPECT_TRUE(utils->isLoadedPatchPool());
    const Strings rootNames = names(tree);
    EXPECT_EQ(std::set<std::string>(rootNames.begin(), rootNames.end()), (std::set<std::string>{"Solo", "GroupA", "GroupB", "Empty", "Backup1"}));
    const auto node = [&](const std::string& name) {
        return *std::find_if(tree.begin(), tree.end(), [&](const auto& n) { return n->name == name; });
    };
    EXPECT_EQ(names(node("GroupA")->childDirectories), (Strings{"Lead", "Rhythm"}));
    EXPECT_TRUE(node("Empty")->isGroup && node("Empty")->childDirectories.empty());
    EXPECT_TRUE(node("Backup1")->isBackUpAllGroup);
    EXPECT_EQ(node("Backup1")->modelName, "Rig One");
    EXPECT_TRUE(fs::exists(under("Temp/Local/Backup1/BackupInfo.backup")));
    EXPECT_TRUE(fs::exists(under("QFXMacApplication/Patch/Pool/[1] GroupA/[0] Lead.qptc")));
}

// A backup group's name comes back as saved: only a ":" of its record's name is read back from its "-". Its
// model is judged by what the load read, never by reading the record again while the user drags.
TEST_F(Pools, ABackupGroupsNameAndModelComeFromWhatTheLoadRead)
{
    const struct {
        const char* folder;
        std::optional<std::string> recorded;  // none: a record that does not read
        const char* model;
        const char* shown;
        bool sameModel;
    } groups[] = {
        {"[0] Gig-1", "Backup_Rig One_20240305_14_07", "Rig One", "Gig-1", true},
        {"[1] Live-Set", "Live:Set", "Rig One", "Live:Set", true},
        {"[2] Live-Set (1)", "Live:Set", "Rig Two", "Live:Set (1)", false},
        {"[3] A-B", std::nullopt, "", "A-B", false},
        {"[4] Rig-1-2", "Rig:1-2", "Rig One", "Rig:1-2", true},
    };
    Strings expected;
    for (const auto& g : groups) {
        const std::string folder = std::string("QFXMacApplication/Patch/Backup/") + g.folder;
        put(folder + "/[0] Clean.qptc", patchFile("Clean"));
        if (g.recorded) ASSERT_TRUE(BackupFile::saveBackupFile(BackupFile::initWithName(*g.recorded, g.model).get(), under(folder + "/BackupInfo.backup"), under("")));
        else put(folder + "/BackupInfo.backup", Bytes{'x'});
        expected.push_back(g.shown);
    }
    const CommonUtils::Tree tree = loadPool();
    ASSERT_EQ(names(tree), expected);
    connect();
    // The working copies' records turn unreadable: what the load read still answers.
    for (const auto& node : tree) put("Temp/Local/" + fs::path(*node->path).filename().string() + "/BackupInfo.backup", Bytes{'x'});
    for (std::size_t i = 0; i < tree.size(); ++i) EXPECT_EQ(utils->checkBackupGroupTheSeemModel(*tree[i]), groups[i].sameModel) << groups[i].folder;
    // A plain group naming the model is no backup.
    auto plain = std::make_shared<DirectoryObject>(*tree[0]);
    plain->isBackUpAllGroup = false;
    EXPECT_FALSE(utils->checkBackupGroupTheSeemModel(*plain));
    utils->forceEjectDevice();
    EXPECT_TRUE(loop.runUntil([&] { return !utils->checkBackupGroupTheSeemModel(*tree[0]); }));
}

// Files dropped on the pool are named on the busy line from the drop on, while they are read and before
// their copies are counted: two drops at once add up, and each read's end takes its own files off.
TEST_F(Pools, DroppedFilesAreToldFromTheDropUntilTheirReadLands)
{
    start();
    const auto dropped = [&](std::initializer_list<const char*> names) {
        std::vector<std::string> paths;
        for (const std::string name : names) {
            put("Dropped/" + name + ".qptc", patchFile(name));
            paths.push_back(under("Dropped/" + name + ".qptc"));
        }
        return paths;
    };
    Strings heard;
    const auto landed = [&](std::vector<std::shared_ptr<PatchItem>> items) {
        for (auto& event : recorder.take()) heard.push_back(std::move(event));
        heard.push_back("landed " + std::to_string(items.size()));
    };
    utils->readFilePatchesLater(dropped({"A", "B", "C"}), landed);
    utils->readFilePatchesLater(dropped({"D", "E"}), landed);
    ASSERT_TRUE(loop.runUntil([&] {
        for (auto& event : recorder.take()) heard.push_back(std::move(event));
        return !heard.empty() && heard.back() == "reading 0";
    }));
    // The reads run on the pool's thread: the first may land before the second drop is told, and its end
    // may be told before or after the second lands. Each drop's files are told before it lands, the reads
    // land in order, each end takes its own files off, and the line ends with none.
    ASSERT_EQ(std::multiset<std::string>(heard.begin(), heard.end()),
              (std::multiset<std::string>{"reading 3", "reading 5", "landed 3", "reading 2", "landed 2", "reading 0"}));
    const auto at = [&](const char* event) { return std::find(heard.begin(), heard.end(), event) - heard.begin(); };
    EXPECT_EQ(heard.front(), "reading 3");
    EXPECT_LT(at("reading 5"), at("landed 2"));
    EXPECT_LT(at("landed 3"), at("landed 2"));
    EXPECT_LT(at("landed 3"), at("reading 2"));
}

// A copy takes its patch's name, made safe and free; a missing source copies nothing, and a file that is
// too short or not a patch reads as none.
TEST_F(Pools, CopiedPatchFilesAreNamedSafely)
{
    start();
    const std::string group = under("QFXMacApplication/Patch/Pool/Group");
    const std::pair<const char*, const char*> cases[] = {{"Lead", "Lead.qptc"}, {"Lead", "Lead (1).qptc"}, {".hid", " .hid.qptc"},
                                                         {"a/b", "a_b.qptc"},   {"", "002-4.qptc"},          {"..", "002-5.qptc"}};
    int n = 0;
    for (const auto& [patchName, stored] : cases) {
        const std::string source = "Temp/Device/Patch/002-" + std::to_string(n++) + ".qptc";
        put(source, patchFile(patchName));
        EXPECT_EQ(utils->copyFileFromFilePath(under(source), group, false), group + "/" + stored) << patchName;
    }
    EXPECT_EQ(utils->copyFileFromFilePath(under("Temp/none.qptc"), group, false), "");
    EXPECT_FALSE(utils->getOKVPatchWithPath(under("Temp/Device/Patch/002-0.qptc")) == std::nullopt);
    put("Temp/short.qptc", Bytes{'P', 'T', 'C'});
    put("Temp/other.qptc", Bytes{'X', 'T', 'C', 'F', 0, 0, 0, 0});
    EXPECT_EQ(utils->getOKVPatchWithPath(under("Temp/short.qptc")), std::nullopt);
    EXPECT_EQ(utils->getOKVPatchWithPath(under("Temp/other.qptc")), std::nullopt);
}

TEST_F(Pools, ListCopiesEmptyOnlyWorkingFoldersUnderTemp)
{
    const fs::path home = fs::path(root / "home");
    fs::create_directories(home / "Export");
    files.writeAtomically((home / "Export/keep.txt").string(), Bytes{1});
    setenv("HOME", home.c_str(), 1);
    start();
    put("Temp/Effect/List/stale.QF2", Bytes{1});
    put("Device/Patch/keep.qptc", patchFile("Keep"));
    put("Temp/Device/Effect/E1.QF2", effectModule(kEcho, "Echo", "DLY"));
    const std::vector<CommonUtils::CopySource> list{under("Temp/Device/Effect/E1.QF2")};

    EXPECT_EQ(utils->copyFileList(list, "Temp/Effect/List"), "Temp/Effect/List");
    EXPECT_FALSE(fs::exists(under("Temp/Effect/List/stale.QF2")));
    EXPECT_TRUE(fs::exists(under("Temp/Effect/List/E1.QF2")));
    // Outside "Temp" a destination keeps what it holds, inside the root or not.
    EXPECT_EQ(utils->copyFileList(list, "Device/Patch"), "Device/Patch");
    EXPECT_TRUE(fs::exists(under("Device/Patch/keep.qptc")));
    EXPECT_EQ(utils->copyFileList(list, (home / "Export").string()), (home / "Export").string());
    EXPECT_TRUE(fs::exists(home / "Export/keep.txt"));
    EXPECT_TRUE(fs::exists(home / "Export/E1.QF2"));
    EXPECT_EQ(utils->copyFileList({}, "Temp/Effect/List"), "");
}

TEST(PatchTextLimits, NamesAndComments)
{
    const auto kanji = [](int n) {
        std::string text;
        for (int i = 0; i < n; ++i) text += "\xE6\xBC\xA2";  // two Shift-JIS bytes each
        return text;
    };
    const struct {
        std::optional<std::string> text;
        bool name;
        bool commentEn;
        bool commentJa;
    } cases[] = {
        {std::nullopt, false, false, false},
        {"", true, true, true},
        {"   ", true, true, true},
        {"ABCDEFGHIJ", true, true, true},
        {"ABCDEFGHIJK", false, true, true},
        {"caf\xC3\xA9", false, false, false},  // no Shift-JIS form either
        {std::string(200, 'a'), false, true, true},
        {std::string(201, 'a'), false, false, false},
        {kanji(1), false, false, true},
        {kanji(100), false, false, true},
        {kanji(101), false, false, false},
        // A NUL would end the unit's name field and is dropped from the comment's file.
        {std::string("A\0B", 3), false, false, false},
        // Stored, these read back as other characters ("\\", "~", a parallel sign): refused.
        {"\xC2\xA5" "1000", false, false, false},
        {"\xE2\x80\xBE", false, false, false},
        {"\xE2\x80\x96", false, false, false},
        // A minus sign, a not sign and a cent sign come back as other characters, full-width ones: refused.
        {"\xE2\x88\x92" "5dB", false, false, false},
        {"\xC2\xAC", false, false, false},
        {"\xC2\xA2", false, false, false},
        // The wave dash reads back in its full-width form, which the list then shows.
        {"\xE3\x80\x9C", false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.value_or("<none>"));
        EXPECT_EQ(CommonUtils::validatePatchName(c.text), c.name);
        EXPECT_EQ(CommonUtils::validatePatchComment(c.text, "en"), c.commentEn);
        EXPECT_EQ(CommonUtils::validatePatchComment(c.text, "ja"), c.commentJa);
    }
    // A comment stored before the rule refused what reads back changed ("\xE2\x88\x92" saved as 81 7C) reads as
    // the code's own character, which the rule takes: a stored comment never blocks a Save of the other field.
    const auto passesAsRead = [](std::vector<std::uint8_t> code) {
        const auto read = platform::ShiftJis::decode(code);
        return !read || CommonUtils::validatePatchComment(*read, "ja");
    };
    for (int single = 1; single < 0x100; ++single) EXPECT_TRUE(passesAsRead({static_cast<std::uint8_t>(single)})) << single;
    for (int lead = 0x81; lead <= 0xFC; ++lead)
        for (int trail = 0x40; trail <= 0xFC; ++trail)
            EXPECT_TRUE(passesAsRead({static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail)})) << lead << " " << trail;
    EXPECT_EQ(platform::ShiftJis::decode(std::vector<std::uint8_t>{0x81, 0x7C}), "\xEF\xBC\x8D");
}

// Patches saved into the pool are copied on the pool's queue: every copy in order, read back and marked
// for the connected unit, a failed one answered as none; nothing comes back in the caller's turn.
TEST_F(Pools, PatchCopiesMadeOffTheMainThreadComeBackInOrderAndMarked)
{
    buildAndConnect();
    put("Temp/Device/Patch/Fits.qptc", patchFile("Fits", {kEcho, 1}));
    put("Temp/Device/Patch/Newer.qptc", patchFile("Newer", {kEcho, 1}, 2));
    const std::string local = folder("Temp/Local");
    copyLater({copy("Newer", local), copy("Gone", local), copy("Fits", local)});
    EXPECT_FALSE(copied);
    ASSERT_TRUE(loop.runUntil([&] { return copied.has_value(); }));
    ASSERT_EQ(copied->size(), 3u);
    ASSERT_TRUE((*copied)[0].item);
    EXPECT_EQ((*copied)[0].item->path, local + "/Newer.qptc");
    EXPECT_EQ((*copied)[0].item->patchName, "Newer");
    EXPECT_TRUE((*copied)[0].isIncompatible);
    EXPECT_FALSE((*copied)[1].item);
    ASSERT_TRUE((*copied)[2].item);
    EXPECT_FALSE((*copied)[2].isIncompatible);
    EXPECT_EQ(files.readFile(local + "/Fits.qptc"), files.readFile(device("Fits")));
}

// A step on files the pool's copies under way cannot meet goes on at once, without them; one on their
// folder waits for them and lands them. Copies withdrawn before they began are not made and land as
// ECANCELED; the progress no longer counts them.
TEST_F(HeldPools, AStepWaitsOnlyForTheCopiesItCouldMeetAndWithdrawnCopiesAreNotMade)
{
    devicePatches({"A", "B"});
    put("Temp/Local/Top.qptc", patchFile("Top", {kEcho, 1}));
    const std::string group = holding("Temp/Local/Group");
    copyLater({copy("A", group), copy("B", group)});
    held.waitForTheFirst();
    utils->withdrawPoolCopies({copy("B", group)});
    EXPECT_EQ(utils->poolCopiesProgress(), (Progress{0, 1}));

    utils->settlePoolWorkFor({under("Temp/Local/Top.qptc"), under("Temp/Local"), device("C")});
    EXPECT_FALSE(copied) << "a step that meets none of the copies waited for them";

    held.release();
    utils->settlePoolWorkFor({group});
    ASSERT_TRUE(copied);
    ASSERT_EQ(copied->size(), 2u);
    ASSERT_TRUE((*copied)[0].item);
    EXPECT_EQ((*copied)[0].item->path, group + "/A.qptc");
    EXPECT_EQ((*copied)[0].item->patchName, "A");
    EXPECT_FALSE((*copied)[1].item);
    EXPECT_EQ((*copied)[1].error.code, ECANCELED);
    EXPECT_TRUE(fs::exists(group + "/A.qptc"));
    EXPECT_FALSE(fs::exists(group + "/B.qptc"));
    EXPECT_EQ(utils->poolCopiesProgress(), (Progress{0, 0}));
}

// A step that takes over nodes whose copies have not begun (a deletion, a move) withdraws them as handed
// over: it is told which of the copies it named were withdrawn, their results say so and are never made,
// and the copy asked again later (the deletion's undo, the move's new folder) is made once.
TEST_F(HeldPools, CopiesHandedOverAreToldAndNotMadeAndAskedAgainAreMadeOnce)
{
    devicePatches({"A", "B", "C"});
    const std::string other = folder("Temp/Local/Other");
    const std::string group = holding("Temp/Local/Group");
    Landing back;
    utils->writeFilePatchesLaterInParts({copy("A", group), copy("B", group)}, back.into());
    held.waitForTheFirst();
    const struct {
        const char* what;
        std::vector<CommonUtils::PatchCopy> asked;
        std::vector<bool> withdrawn;
    } cases[] = {
        {"one not begun and one never asked", {copy("B", group), copy("C", group)}, {true, false}},
        {"the same again: withdrawn already", {copy("B", group)}, {false}},
        {"into a folder it was not asked into", {copy("A", other)}, {false}},
    };
    for (const auto& each : cases) EXPECT_EQ(utils->withdrawPoolCopies(each.asked, true), each.withdrawn) << each.what;
    ASSERT_EQ(back.parts.size(), 1u);
    EXPECT_EQ(back.parts[0].first, 1u);
    EXPECT_TRUE(back.parts[0].second.handedOver);
    EXPECT_FALSE(back.parts[0].second.item);

    held.release();
    utils->settlePoolWork();
    ASSERT_EQ(back.parts.size(), 2u);
    EXPECT_TRUE(back.parts[1].second.item);
    EXPECT_FALSE(back.parts[1].second.handedOver);
    EXPECT_FALSE(fs::exists(group + "/B.qptc")) << "a copy handed over was made";
    copyLater({copy("B", other)});
    utils->settlePoolWork();
    ASSERT_TRUE(copied);
    ASSERT_TRUE((*copied)[0].item);
    EXPECT_EQ((*copied)[0].item->path, other + "/B.qptc");
    EXPECT_FALSE(fs::exists(group + "/B.qptc"));
    EXPECT_TRUE(fs::exists(device("B")));
}

// An undo of an addition whose copies wait behind another drop's: the withdrawn copies are handed back at
// once, and neither a step on their folder nor one on a file landed in the drop's folder waits for the drop.
TEST_F(HeldPools, WithdrawnCopiesAreHandedBackAtOnceAndStandInNoStepsWay)
{
    devicePatches({"A", "B", "C", "D"});
    const std::string rows = folder("Temp/Local/Rows");
    const std::string drop = holding("Temp/Local/Drop");
    Landing dropped, rowsBack;
    utils->writeFilePatchesLaterInParts({copy("A", drop), copy("B", drop)}, dropped.into());
    utils->writeFilePatchesLaterInParts({copy("C", rows), copy("D", rows)}, rowsBack.into());
    held.waitForTheFirst();

    utils->withdrawPoolCopies({copy("C", rows), copy("D", rows)});
    ASSERT_EQ(rowsBack.parts.size(), 2U) << "the withdrawn copies were not handed back before the undo went on";
    for (const auto& [index, result] : rowsBack.parts) {
        EXPECT_FALSE(result.item) << index;
        EXPECT_EQ(result.error.code, ECANCELED) << index;
    }
    EXPECT_FALSE(rowsBack.last);
    utils->settlePoolWorkFor({rows, device("C")});
    EXPECT_FALSE(dropped.last) << "a step on a folder whose copies are all withdrawn waited for the drop ahead";

    // The drop's B lands ahead of it; a rewrite of that file in the folder the drop fills waits for nothing.
    utils->settlePoolWorkFor({device("B")});
    ASSERT_EQ(dropped.parts.size(), 1U);
    ASSERT_TRUE(dropped.parts[0].second.item);
    utils->settlePoolWorkFor({dropped.parts[0].second.item->path});
    EXPECT_FALSE(dropped.last) << "a step on a landed file waited for the drop filling its folder";
    // B made; A held; C and D withdrawn, out of the count.
    EXPECT_EQ(utils->poolCopiesProgress(), (Progress{1, 2}));

    held.release();
    utils->settlePoolWork();
    EXPECT_TRUE(dropped.last);
    EXPECT_TRUE(rowsBack.last);
    EXPECT_EQ(rowsBack.parts.size(), 2U) << "a withdrawn copy was handed back twice";
    EXPECT_FALSE(fs::exists(rows + "/C.qptc"));
    EXPECT_FALSE(fs::exists(rows + "/D.qptc"));
    EXPECT_TRUE(fs::exists(device("C")));
    EXPECT_EQ(utils->poolCopiesProgress(), (Progress{0, 0}));
}

// A group a drop has just made holds only its folder while all its copies wait behind another drop's: with
// them withdrawn its folder goes to the bin without waiting for that drop, comes back by the undo, and the
// copies asked again land in it.
TEST_F(HeldPools, AGroupWhoseCopiesAreAllWithdrawnGoesToTheBinAndBackWithoutWaiting)
{
    devicePatches({"A", "B", "C"});
    const std::string made = folder("Temp/Local/New Patch Group 1");
    const std::string drop = holding("Temp/Local/Drop");
    bool dropLanded = false;
    utils->writeFilePatchesLater({copy("A", drop)}, [&](Copied) { dropLanded = true; });
    const std::vector<CommonUtils::PatchCopy> copies{copy("B", made), copy("C", made)};
    utils->writeFilePatchesLater(copies, [](Copied) {});
    held.waitForTheFirst();
    EXPECT_EQ(utils->withdrawPoolCopies(copies, true), (std::vector<bool>{true, true}));

    DirectoryObject group;
    group.isGroup = true;
    group.name = "New Patch Group 1";
    utils->settlePoolWorkFor({made});
    const std::string inBin = utils->deletePatchGroup(group);
    EXPECT_EQ(inBin, under("Temp/RecycleBin/New Patch Group 1"));
    EXPECT_FALSE(fs::exists(made));
    EXPECT_FALSE(dropLanded) << "the deletion waited for the drop ahead";
    group.path = inBin;
    EXPECT_EQ(utils->undoPatchGroup(group), made);
    copyLater(copies);
    held.release();
    utils->settlePoolWork();
    ASSERT_TRUE(copied);
    for (const auto& result : *copied) EXPECT_TRUE(result.item);
    EXPECT_TRUE(fs::exists(made + "/B.qptc"));
    EXPECT_TRUE(fs::exists(made + "/C.qptc"));
}

// A step on a file that copies are of has those copies land first, and only those: one not begun is made
// by the step itself, the batch's others go on and land later without it, and no copy is made twice.
TEST_F(HeldPools, AStepOnACopysFileLandsThatCopyAloneAheadOfItsBatch)
{
    devicePatches({"A", "B", "C"});
    const std::string group = holding("Temp/Local/Group");
    Landing batch;
    utils->writeFilePatchesLaterInParts({copy("A", group), copy("B", group), copy("C", group)}, batch.into());
    held.waitForTheFirst();

    for (int again = 0; again < 2; ++again) {  // landed, it stands in no later step's way
        utils->settlePoolWorkFor({device("B")});
        ASSERT_EQ(batch.parts.size(), 1U) << "the step did not land its own copy";
        EXPECT_FALSE(batch.last) << "the step waited for the batch";
    }
    EXPECT_EQ(batch.parts[0].first, 1U);
    ASSERT_TRUE(batch.parts[0].second.item);
    EXPECT_EQ(batch.parts[0].second.item->path, group + "/B.qptc");
    EXPECT_EQ(utils->poolCopiesProgress(), (Progress{1, 3}));

    held.release();
    utils->settlePoolWork();
    ASSERT_TRUE(batch.last);
    ASSERT_EQ(batch.parts.size(), 3U);
    for (std::size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(batch.parts[i].first, i == 1 ? 0U : 2U);
        EXPECT_TRUE(batch.parts[i].second.item);
    }
    Strings made;
    for (const auto& entry : fs::directory_iterator(group)) made.push_back(entry.path().filename().string());
    std::sort(made.begin(), made.end());
    EXPECT_EQ(made, (Strings{"A.qptc", "B.qptc", "C.qptc"}));
    EXPECT_EQ(utils->poolCopiesProgress(), (Progress{0, 0}));
}

// A step on many patches of a drop whose copies have not begun lands them all ahead of their batch, each made
// once and off the main thread, also while the shared computation threads are busy with work it never waits for.
TEST_F(HeldPools, AStepOnManyPatchesOfADropHasTheirCopiesMadeOffTheMainThreadAndWaitsForNoOtherWork)
{
    for (const bool sharedThreadsBusy : {false, true}) {
        SCOPED_TRACE(sharedThreadsBusy ? "the shared threads busy" : "the shared threads free");
        const int count = sharedThreadsBusy ? 12 : 40;
        const std::string group = holding(sharedThreadsBusy ? "Temp/Local/Drop 2" : "Temp/Local/Drop");
        // The queue holds on the drop's first copy: the others have not begun when the step comes.
        held.onlyNamed = "A.qptc";
        {
            std::lock_guard lock(held.mutex);
            held.makers.clear();
        }
        std::vector<CommonUtils::PatchCopy> copies;
        std::vector<std::string> others;
        for (int i = 0; i < count; ++i) {
            const std::string name = i == 0 ? std::string("A") : "P" + std::to_string(i);
            put("Dropped/" + name + ".qptc", patchFile(name, {kEcho, 1}));
            copies.push_back({under("Dropped/" + name + ".qptc"), group});
            if (i > 0) others.push_back(under("Dropped/" + name + ".qptc"));
        }
        std::mutex mutex;
        std::condition_variable changed;
        bool stepDone = false;
        bool guardRanOut = false;
        std::size_t busy = 0;
        const std::size_t threads = sharedThreadsBusy ? std::max(1U, std::thread::hardware_concurrency()) : 0;
        for (std::size_t i = 0; i < threads; ++i)
            dispatch.computation().async([&] {
                std::unique_lock lock(mutex);
                ++busy;
                changed.notify_all();
                // Bounded, so the probe ends on a coordinator that waits for this work: it then fails below.
                if (!changed.wait_for(lock, std::chrono::seconds(20), [&] { return stepDone; })) guardRanOut = true;
                --busy;
                changed.notify_all();
            });
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return busy == threads; });
        }
        Landing drop;
        utils->writeFilePatchesLaterInParts(copies, drop.into());
        held.waitForTheFirst();
        utils->settlePoolWorkFor(others);
        {
            std::lock_guard lock(mutex);
            stepDone = true;
            EXPECT_FALSE(guardRanOut) << "the step waited for the shared threads' other work";
        }
        changed.notify_all();
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return busy == 0; });
        }
        EXPECT_FALSE(drop.last);
        ASSERT_EQ(drop.parts.size(), others.size());
        for (const auto& [index, result] : drop.parts) {
            ASSERT_TRUE(result.item) << index;
            EXPECT_EQ(result.item->path, group + "/" + fs::path(copies[index].source).filename().string());
        }
        {
            std::lock_guard lock(held.mutex);
            EXPECT_EQ(held.makers.size(), others.size()) << "a copy was made twice";
            EXPECT_EQ(std::count(held.makers.begin(), held.makers.end(), std::this_thread::get_id()), 0)
                << "the step made the copies on the main thread";
        }
        held.release();
        utils->settlePoolWork();
        EXPECT_TRUE(drop.last);
        EXPECT_EQ(drop.parts.size(), copies.size());
        EXPECT_EQ(std::distance(fs::directory_iterator(group), fs::directory_iterator()), count);
        held.rearm();
    }
}

namespace {
// Another copy takes the target's name between the coordinator's look for a free name and its copy.
struct NameTakenUnderTheCopy : platform::LocalFileManager {
    bool copyItem(const std::string& from, const std::string& to, platform::Error* error, platform::Durability durability) override
    {
        if (!taken && to.find("/Group/") != std::string::npos) {
            taken = true;
            std::ofstream(to, std::ios::binary) << "another copy";
        }
        return LocalFileManager::copyItem(from, to, error, durability);
    }
    bool taken = false;
};

// Tells how far each copy was asked to get.
struct CopyDurabilities : platform::LocalFileManager {
    bool copyItem(const std::string& from, const std::string& to, platform::Error* error, platform::Durability durability) override
    {
        copies.emplace_back(fs::path(to).parent_path().filename().string(), durability);
        return LocalFileManager::copyItem(from, to, error, durability);
    }
    std::vector<std::pair<std::string, platform::Durability>> copies;
};
}  // namespace

// A step's own copy of a dropped patch runs beside the queue's copies of the drop: a name taken between
// the look and the copy costs the copy nothing, it takes the next free name and the other file stays.
TEST_F(Pools, ACopyWhoseNameIsTakenUnderItTakesTheNextFreeName)
{
    NameTakenUnderTheCopy racing;
    buildAndConnect(&racing);
    devicePatches({"A"});
    const std::string group = folder("Temp/Local/Group");
    copyLater({copy("A", group)});
    utils->settlePoolWork();
    ASSERT_TRUE(copied);
    ASSERT_EQ(copied->size(), 1U);
    ASSERT_TRUE((*copied)[0].item) << (*copied)[0].error.description;
    EXPECT_NE((*copied)[0].item->path, group + "/A.qptc");
    EXPECT_EQ(files.readFile((*copied)[0].item->path), files.readFile(device("A")));
    EXPECT_EQ(files.readFile(group + "/A.qptc"), Bytes({'a', 'n', 'o', 't', 'h', 'e', 'r', ' ', 'c', 'o', 'p', 'y'}));
    utils.reset();
}

// A copy into a working folder under "Temp" (rebuilt at every start, flushed by the pool's save) is not
// flushed on its own; one leaving for a folder of the user's is.
TEST_F(Pools, PatchCopiesIntoTheWorkingCopyAreNotFlushedOneByOne)
{
    CopyDurabilities recording;
    buildAndConnect(&recording);
    devicePatches({"Fits"});
    const std::string local = folder("Temp/Local/Group");
    const std::string outside = root / "Exported";
    fs::create_directories(outside);
    recording.copies.clear();
    copyLater({copy("Fits", local), copy("Fits", outside)});
    ASSERT_TRUE(loop.runUntil([&] { return copied.has_value(); }));
    EXPECT_TRUE(copied->size() == 2 && (*copied)[0].item && (*copied)[1].item);
    EXPECT_EQ(recording.copies, (std::vector<std::pair<std::string, platform::Durability>>{
                                    {"Group", platform::Durability::WorkingCopy}, {"Exported", platform::Durability::Durable}}));
    EXPECT_EQ(files.readFile(local + "/Fits.qptc"), files.readFile(device("Fits")));
    // The coordinator's background work uses the recording disk until the coordinator is gone.
    utils.reset();
}
