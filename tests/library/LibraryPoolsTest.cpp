#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <thread>

#include "support/files/HeldPoolCopies.h"
#include "support/library/CoordinatorFixture.h"
#include "library/models/PatchItem.h"
#include "platform/text/ShiftJis.h"
#include "library/store/BackupFile.h"
#include "support/library/LibraryFiles.h"

namespace fs = std::filesystem;
using namespace library_files;

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

}  // namespace

class Pools : public Coordinator {
protected:
    std::string under(const std::string& relative) { return (fs::path(root / "PEXO Rigmora") / relative).string(); }
    void put(const std::string& relative, const Bytes& bytes)
    {
        fs::create_directories(fs::path(under(relative)).parent_path());
        ASSERT_TRUE(files.writeAtomically(under(relative), bytes));
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
        EXPECT_EQ(std::count(seen.begin(), seen.end(), "effectPool"), 2);
        ASSERT_FALSE(recorder.effectPools.empty());
        firstTree = recorder.effectPools.front();
    }
    // The tree built before the unit connected.
    CommonUtils::Tree firstTree;
};

TEST_F(Pools, EffectPoolTreeByModelAndCategoryMarkedForTheConnectedDevice)
{
    buildAndConnect();
    const CommonUtils::Tree built = firstTree;
    // Models without effects get no node; categories keep their first position; missing effects last.
    ASSERT_EQ(names(built), (Strings{"Rig One", "Rig Two"}));
    EXPECT_EQ(names(built[0]->childDirectories), (Strings{"DLY", "MOD", "UNKNOWN"}));
    EXPECT_EQ(names(built[0]->childDirectories[0]->childDirectories), (Strings{"Echo", "Tape"}));
    EXPECT_EQ(names(built[1]->childDirectories), (Strings{"UNKNOWN"}));

    utils->setEffectListFromDevice({MappingObject::initWithFilePath(under("QFXMacApplication/Effect/0D000001/Echo.QF2"))},
                                   {kEcho});
    utils->mergeEffect();
    EXPECT_EQ(until("syncFinish").back(), "syncFinish");
    const CommonUtils::Tree& marked = recorder.effectPool;
    const auto& one = marked[0];
    const auto& delay = one->childDirectories[0];
    const auto& modulation = one->childDirectories[1];
    EXPECT_FALSE(delay->childDirectories[0]->isNew);          // on the device
    EXPECT_FALSE(delay->childDirectories[0]->isIncompatible);
    EXPECT_TRUE(delay->childDirectories[1]->isIncompatible);  // a generation the unit lacks
    EXPECT_FALSE(delay->isIncompatible);
    EXPECT_TRUE(modulation->childDirectories[0]->isNew);
    EXPECT_TRUE(modulation->hasNewChild && one->hasNewChild && !delay->hasNewChild);
    EXPECT_TRUE(one->childDirectories[2]->isIncompatible);    // "UNKNOWN" while connected
    EXPECT_FALSE(one->isIncompatible);
    EXPECT_TRUE(marked[1]->isIncompatible);                   // only missing effects
    // The tree first handed over is a copy: the marks never reach it.
    EXPECT_FALSE(built[0]->childDirectories[1]->hasNewChild);
}

TEST_F(Pools, PatchEffectDictionaryAndWarnings)
{
    buildAndConnect();
    utils->setEffectListFromDevice({}, {kEcho});
    utils->mergeEffect();
    until("effectPool");
    const auto patchWith = [&](const std::string& name, std::vector<std::uint32_t> units) {
        put("Temp/Patch/" + name + ".qptc", patchFile(name, std::move(units)));
        auto item = std::make_shared<PatchItem>();
        item->path = under("Temp/Patch/" + name + ".qptc");
        utils->getEffectListWithPatch(*item);
        utils->updatePatchWarningWithPatchItem(*item);
        return item;
    };
    const auto slot = [](const PatchItem& item, const char* key) {
        const auto found = item.effectDictionnary.find(key);
        if (found == item.effectDictionnary.end()) return std::string("-");
        const auto& entry = *found->second.dictionary();
        return entry.at("effectName").asString().value_or("") + "/" +
               std::to_string(entry.at("useUnitNum").asInteger().value_or(-1));
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
    // and a file that cannot be read keeps its item's list and warning.
    const auto leaf = [](const std::shared_ptr<PatchItem>& done, bool staleWarning) {
        auto copy = std::make_shared<PatchItem>();
        copy->path = done->path;
        copy->isWarning = staleWarning;
        auto node = std::make_shared<DirectoryObject>();
        node->object = copy;
        node->isWarning = staleWarning;
        return node;
    };
    auto group = std::make_shared<DirectoryObject>();
    group->isGroup = true;
    group->childDirectories = {leaf(chain, true), leaf(unknown, false)};
    auto gone = std::make_shared<PatchItem>(*builtIn);
    gone->path = under("Temp/Patch/Gone.qptc");
    gone->isWarning = true;
    auto goneNode = std::make_shared<DirectoryObject>();
    goneNode->object = gone;
    const CommonUtils::Tree pool{group, leaf(builtIn, true), goneNode};
    bool applied = false;
    utils->updatePatchWarningInPatchPoolLater(pool, [&] { applied = true; });
    ASSERT_TRUE(loop.runUntil([&] { return applied; }));
    const struct {
        std::shared_ptr<DirectoryObject> node;
        std::shared_ptr<PatchItem> expected;
    } rows[] = {{group->childDirectories[0], chain}, {group->childDirectories[1], unknown}, {pool[1], builtIn}};
    for (const auto& row : rows) {
        EXPECT_EQ(row.node->patchItem()->effectDictionnary, row.expected->effectDictionnary) << row.expected->path;
        EXPECT_EQ(row.node->patchItem()->isWarning, row.expected->isWarning) << row.expected->path;
        EXPECT_EQ(row.node->isWarning, row.expected->isWarning) << row.expected->path;
    }
    EXPECT_EQ(gone->effectDictionnary, builtIn->effectDictionnary);
    EXPECT_FALSE(gone->isWarning);  // the old list, judged again: a built-in effect warns of nothing
    EXPECT_FALSE(goneNode->isWarning);
}

// An edit that gives a node another item while the whole pool's warnings are being judged (a property
// sheet's save does) frees the item the pass started from: the judgement lands in the node's item of the
// time it lands.
TEST_F(Pools, PoolWarningsLandInTheItemTheNodeHoldsWhenTheyLand)
{
    buildAndConnect();
    utils->setEffectListFromDevice({}, {kEcho});
    utils->mergeEffect();
    until("effectPool");
    const auto node = [&](const std::string& name, std::vector<std::uint32_t> units) {
        put("Temp/Local/" + name + ".qptc", patchFile(name, std::move(units)));
        auto item = std::make_shared<PatchItem>();
        item->patchName = name;
        item->path = under("Temp/Local/" + name + ".qptc");
        auto leaf = std::make_shared<DirectoryObject>();
        leaf->name = name;
        leaf->object = std::move(item);
        return leaf;
    };
    const CommonUtils::Tree pool{node("Echoes", {kEcho}), node("Chorus", {kChorus}), node("Plain", {kEcho})};
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
    const auto firmware = ModelsVersion::initWithDic({{"models", {{{"modelId", hexOf(kModelId)}, {"modelVersion", "1.30"}}}}});
    // Before a device is connected the firmware check does nothing.
    utils->modelVersionFromServer(firmware);
    EXPECT_EQ(settle(), (Strings{"appUpdate 2.9 2.10"}));

    // The connect read checks the firmware once the memory status is in.
    utils->dataFromServer(catalogue());
    utils->connectDevice();
    EXPECT_EQ(until("idle"),
              (Strings{"busy", "connect 1", "busy", "effectPool", "syncFinish", "effects 1", "memory 0", "name Rig One",
                       "deviceUpdate 1.20 1.30", "patches 6", "idle"}));
}

TEST_F(Pools, ReachabilityReportsAndAMissingCatalogue)
{
    start();
    utils->connectServer(true);   // equal to the initial report, no retry pending
    utils->connectServer(false);
    utils->connectServer(false);
    utils->dataFromServer(std::nullopt);
    utils->internetConnectionWithState(false);
    EXPECT_EQ(settle(), (Strings{"server 0", "catalogue 1", "syncFinish", "noInternet"}));
}

TEST_F(Pools, SavedPoolLoadsIntoTheWorkingCopyAndIsMarkedForTheDevice)
{
    put("QFXMacApplication/Patch/Pool/[0] Solo.qptc", patchFile("Solo"));
    put("QFXMacApplication/Patch/Pool/[1] GroupA/[0] Lead.qptc", patchFile("Lead"));
    put("QFXMacApplication/Patch/Pool/[1] GroupA/[1] Rhythm.qptc", patchFile("Rhythm"));
    put("QFXMacApplication/Patch/Pool/[2] GroupB/[0] Old.qptc", patchFile("Old", {}, 2));
    fs::create_directories(under("QFXMacApplication/Patch/Pool/[3] Empty"));
    put("QFXMacApplication/Patch/Backup/[4] Backup1/[0] Clean.qptc", patchFile("Clean"));
    const auto record = BackupFile::initWithName("Backup1", "Rig One");
    ASSERT_TRUE(BackupFile::saveBackupFile(record.get(), under("QFXMacApplication/Patch/Backup/[4] Backup1/BackupInfo.backup"),
                                           under("")));
    start();
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPool");
    utils->createPatchDirectoryObjectFromLocal();  // once per process
    EXPECT_TRUE(utils->isLoadedPatchPool());

    const CommonUtils::Tree tree = recorder.patchPool;
    const Strings rootNames = names(tree);
    EXPECT_EQ(std::set<std::string>(rootNames.begin(), rootNames.end()),
              (std::set<std::string>{"Solo", "GroupA", "GroupB", "Empty", "Backup1"}));
    const auto node = [&](const std::string& name) {
        return *std::find_if(tree.begin(), tree.end(), [&](const auto& n) { return n->name == name; });
    };
    EXPECT_EQ(names(node("GroupA")->childDirectories), (Strings{"Lead", "Rhythm"}));
    EXPECT_TRUE(node("Empty")->isGroup && node("Empty")->childDirectories.empty());
    EXPECT_TRUE(node("Backup1")->isBackUpAllGroup);
    EXPECT_EQ(node("Backup1")->modelName, "Rig One");
    EXPECT_TRUE(fs::exists(under("Temp/Local/Backup1/BackupInfo.backup")));
    EXPECT_TRUE(fs::exists(under("QFXMacApplication/Patch/Pool/[1] GroupA/[0] Lead.qptc")));

    connect();
    utils->updateDirectoryObjectForPatchPool(tree);
    until("patchPoolMarks");
    EXPECT_FALSE(node("GroupA")->childDirectories[0]->isIncompatible);
    EXPECT_TRUE(node("GroupB")->childDirectories[0]->isIncompatible);
    EXPECT_FALSE(node("Solo")->isIncompatible);
}

// A backup group's name comes back as saved: only a ":" of the name the backup was made with, which no
// folder name can hold, is read back from its "-"; a "-" the user typed in a later name stays.
TEST_F(Pools, ABackupGroupsNameComesBackAsItWasShown)
{
    const auto backup = [&](const std::string& folder, const std::optional<std::string>& recorded) {
        put("QFXMacApplication/Patch/Backup/" + folder + "/[0] Clean.qptc", patchFile("Clean"));
        const std::string path = under("QFXMacApplication/Patch/Backup/" + folder + "/BackupInfo.backup");
        if (recorded) ASSERT_TRUE(BackupFile::saveBackupFile(BackupFile::initWithName(*recorded, "Rig One").get(), path, under("")));
        else put("QFXMacApplication/Patch/Backup/" + folder + "/BackupInfo.backup", Bytes{'x'});
    };
    backup("[0] Gig-1", "Backup_Rig One_20240305_14_07");
    backup("[1] Live-Set", "Live:Set");
    backup("[2] Live-Set (1)", "Live:Set");
    backup("[3] A-B", std::nullopt);
    backup("[4] Rig-1-2", "Rig:1-2");
    start();
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPool");
    EXPECT_EQ(names(recorder.patchPool), (Strings{"Gig-1", "Live:Set", "Live:Set (1)", "A-B", "Rig:1-2"}));
}

// Whether a dragged backup group was made for the connected model is judged by the model its record named
// as the pool loaded (off the main thread), never by reading the record again while the user drags.
TEST_F(Pools, ABackupGroupsModelIsJudgedByWhatTheLoadReadNotByTheFileAgain)
{
    const auto backup = [&](const std::string& folder, const std::optional<std::string>& model) {
        put("QFXMacApplication/Patch/Backup/" + folder + "/[0] Clean.qptc", patchFile("Clean"));
        const std::string path = under("QFXMacApplication/Patch/Backup/" + folder + "/BackupInfo.backup");
        if (model) ASSERT_TRUE(BackupFile::saveBackupFile(BackupFile::initWithName("B", *model).get(), path, under("")));
        else put("QFXMacApplication/Patch/Backup/" + folder + "/BackupInfo.backup", Bytes{'x'});
    };
    backup("[0] Mine", "Rig One");
    backup("[1] Other", "Rig Two");
    backup("[2] Broken", std::nullopt);
    start();
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPool");
    const CommonUtils::Tree tree = recorder.patchPool;
    const auto node = [&](const std::string& name) {
        return *std::find_if(tree.begin(), tree.end(), [&](const auto& n) { return n->name == name; });
    };
    connect();
    // The working copies' records turn unreadable: what the load read still answers.
    for (const char* name : {"Mine", "Other", "Broken"}) put(std::string("Temp/Local/") + name + "/BackupInfo.backup", Bytes{'x'});
    const struct {
        const char* group;
        bool sameModel;
    } cases[] = {{"Mine", true}, {"Other", false}, {"Broken", false}};
    for (const auto& c : cases) EXPECT_EQ(utils->checkBackupGroupTheSeemModel(*node(c.group)), c.sameModel) << c.group;
    // A plain group naming the model is no backup.
    auto plain = std::make_shared<DirectoryObject>(*node("Mine"));
    plain->isBackUpAllGroup = false;
    EXPECT_FALSE(utils->checkBackupGroupTheSeemModel(*plain));
    utils->forceEjectDevice();
    EXPECT_TRUE(loop.runUntil([&] { return !utils->checkBackupGroupTheSeemModel(*node("Mine")); }));
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
    const std::vector<std::string> first = dropped({"A", "B", "C"}), second = dropped({"D", "E"});
    Strings heard;
    std::vector<std::size_t> read;
    const auto landed = [&](std::vector<std::shared_ptr<PatchItem>> items) {
        for (auto& event : recorder.take()) heard.push_back(std::move(event));
        heard.push_back("landed " + std::to_string(items.size()));
    };
    utils->readFilePatchesLater(first, landed);
    utils->readFilePatchesLater(second, landed);
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
    EXPECT_EQ(heard.back(), "reading 0");
}

// Groups whose saved names differ only in their number are each made a folder of their own, named in the
// saved order, with their patches linked in it, however the folders and links are spread over threads.
TEST_F(Pools, GroupsOfOneNameGetFoldersOfTheirOwnInTheSavedOrder)
{
    for (int i = 0; i < 3; ++i)
        put("QFXMacApplication/Patch/Pool/[" + std::to_string(i) + "] A/[0] P" + std::to_string(i) + ".qptc",
            patchFile("P" + std::to_string(i)));
    start();
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPool");
    const CommonUtils::Tree& tree = recorder.patchPool;
    EXPECT_EQ(names(tree), (Strings{"A", "A (1)", "A (2)"}));
    for (std::size_t i = 0; i < tree.size() && i < 3; ++i) {
        ASSERT_EQ(tree[i]->childDirectories.size(), 1U);
        EXPECT_EQ(tree[i]->childDirectories[0]->patchItem()->path, under("Temp/Local/" + *tree[i]->name + "/P" + std::to_string(i) + ".qptc"));
        EXPECT_TRUE(fs::exists(tree[i]->childDirectories[0]->patchItem()->path));
    }
}

// A save cut off between moving the saved library aside and moving its successor in leaves the old one,
// whole, beside a missing library: it is the library the next start loads.
TEST_F(Pools, ALibraryLeftAsideByACutOffSaveIsLoaded)
{
    put("QFXMacApplication/.Patch-old/Pool/[0] Solo.qptc", patchFile("Solo"));
    // Its staged successor, not yet moved in.
    put("QFXMacApplication/.Patch-saving/Pool/[0] Later.qptc", patchFile("Later"));
    start();
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPool");
    EXPECT_EQ(names(recorder.patchPool), (Strings{"Solo"}));
    EXPECT_TRUE(fs::exists(under("QFXMacApplication/Patch/Pool/[0] Solo.qptc")));
}

TEST_F(Pools, CopiedPatchFilesAreNamedSafely)
{
    start();
    const std::string group = under("QFXMacApplication/Patch/Pool/Group");
    const struct {
        const char* patchName;
        const char* stored;
    } cases[] = {{"Lead", "Lead.qptc"}, {"Lead", "Lead (1).qptc"}, {".hid", " .hid.qptc"}, {"a/b", "a_b.qptc"},
                 {"", "002-4.qptc"}, {"..", "002-5.qptc"}};
    int n = 0;
    for (const auto& c : cases) {
        const std::string source = "Temp/Device/Patch/002-" + std::to_string(n++) + ".qptc";
        put(source, patchFile(c.patchName));
        EXPECT_EQ(utils->copyFileFromFilePath(under(source), group, false), group + "/" + c.stored) << c.patchName;
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
        {"\xE6\xBC\xA2", false, false, true},  // one kanji: two Shift-JIS bytes
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
        EXPECT_EQ(CommonUtils::validatePatchName(c.text), c.name) << c.text.value_or("<none>");
        EXPECT_EQ(CommonUtils::validatePatchComment(c.text, "en"), c.commentEn) << c.text.value_or("<none>");
        EXPECT_EQ(CommonUtils::validatePatchComment(c.text, "ja"), c.commentJa) << c.text.value_or("<none>");
    }
    std::string kanji;
    for (int i = 0; i < 100; ++i) kanji += "\xE6\xBC\xA2";
    EXPECT_TRUE(CommonUtils::validatePatchComment(kanji, "ja"));
    EXPECT_FALSE(CommonUtils::validatePatchComment(kanji + "\xE6\xBC\xA2", "ja"));

    // A comment stored before the rule refused what reads back changed ("\xE2\x88\x92" saved as 81 7C) reads as
    // the code's own character, which the rule takes: a stored comment never blocks a Save of the other field.
    const auto passesAsRead = [](std::vector<std::uint8_t> code) {
        const auto read = platform::ShiftJis::decode(code);
        return !read || CommonUtils::validatePatchComment(*read, "ja");
    };
    for (int single = 1; single < 0x100; ++single)
        EXPECT_TRUE(passesAsRead({static_cast<std::uint8_t>(single)})) << single;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        for (int trail = 0x40; trail <= 0xFC; ++trail)
            EXPECT_TRUE(passesAsRead({static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail)})) << lead << " " << trail;
    }
    EXPECT_EQ(platform::ShiftJis::decode(std::vector<std::uint8_t>{0x81, 0x7C}), "\xEF\xBC\x8D");
}

// Patches saved into the pool are copied on the pool's queue: every copy in order, read back and marked
// for the connected unit, a failed one answered as none; nothing comes back in the caller's turn.
TEST_F(Pools, PatchCopiesMadeOffTheMainThreadComeBackInOrderAndMarked)
{
    buildAndConnect();
    put("Temp/Device/Patch/Fits.qptc", patchFile("Fits", {kEcho, 1}));
    put("Temp/Device/Patch/Newer.qptc", patchFile("Newer", {kEcho, 1}, 2));
    const std::string local = under("Temp/Local");
    fs::create_directories(local);
    std::optional<std::vector<CommonUtils::CopiedPatch>> copied;
    utils->writeFilePatchesLater({{under("Temp/Device/Patch/Newer.qptc"), local},
                                  {under("Temp/Device/Patch/Gone.qptc"), local},
                                  {under("Temp/Device/Patch/Fits.qptc"), local}},
                                 [&](std::vector<CommonUtils::CopiedPatch> results) { copied = std::move(results); });
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
    EXPECT_EQ(files.readFile(local + "/Fits.qptc"), files.readFile(under("Temp/Device/Patch/Fits.qptc")));
}

namespace {
// Tells how far each copy was asked to get.
struct CopyDurabilities : platform::LocalFileManager {
    bool copyItem(const std::string& from, const std::string& to, platform::Error* error,
                  platform::Durability durability) override
    {
        copies.emplace_back(fs::path(to).parent_path().filename().string(), durability);
        return LocalFileManager::copyItem(from, to, error, durability);
    }
    std::vector<std::pair<std::string, platform::Durability>> copies;
};
}  // namespace

namespace {
using HeldCopies = HeldPoolCopies;

// Lets the held copies go and ends the coordinator however the test ends: the coordinator's queue uses the
// holding disk until the coordinator is gone.
struct ReleaseAndEnd {
    HeldCopies& held;
    std::unique_ptr<CommonUtils>& utils;
    ~ReleaseAndEnd()
    {
        held.release();
        utils.reset();
    }
};
}  // namespace

// A step on files the pool's copies under way cannot meet goes on at once, without them; one on their
// folder waits for them and lands them. Copies withdrawn before they began are not made and land as
// ECANCELED; the progress no longer counts them.
TEST_F(Pools, AStepWaitsOnlyForTheCopiesItCouldMeetAndWithdrawnCopiesAreNotMade)
{
    HeldCopies held;
    buildAndConnect(&held);
    const ReleaseAndEnd ending{held, utils};
    put("Temp/Device/Patch/A.qptc", patchFile("A", {kEcho, 1}));
    put("Temp/Device/Patch/B.qptc", patchFile("B", {kEcho, 1}));
    put("Temp/Local/Top.qptc", patchFile("Top", {kEcho, 1}));
    const std::string group = under("Temp/Local/Group");
    fs::create_directories(group);
    held.holdInto = group;
    std::optional<std::vector<CommonUtils::CopiedPatch>> copied;
    utils->writeFilePatchesLater({{under("Temp/Device/Patch/A.qptc"), group}, {under("Temp/Device/Patch/B.qptc"), group}},
                                 [&](std::vector<CommonUtils::CopiedPatch> results) { copied = std::move(results); });
    held.waitForTheFirst();
    utils->withdrawPoolCopies({{under("Temp/Device/Patch/B.qptc"), group}});
    EXPECT_EQ(utils->poolCopiesProgress(), (std::pair<std::size_t, std::size_t>{0, 1}));

    utils->settlePoolWorkFor({under("Temp/Local/Top.qptc"), under("Temp/Local"), under("Temp/Device/Patch/C.qptc")});
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
    EXPECT_EQ(utils->poolCopiesProgress(), (std::pair<std::size_t, std::size_t>{0, 0}));
}

// A step that takes over nodes whose copies have not begun (a deletion, a move) withdraws them as handed
// over: it is told which of the copies it named were withdrawn, their results say so and are never made,
// and the copy asked again later (the deletion's undo, the move's new folder) is made once.
TEST_F(Pools, CopiesHandedOverAreToldAndNotMadeAndAskedAgainAreMadeOnce)
{
    HeldCopies held;
    buildAndConnect(&held);
    const ReleaseAndEnd ending{held, utils};
    for (const char* name : {"A", "B", "C"}) put(std::string("Temp/Device/Patch/") + name + ".qptc", patchFile(name, {kEcho, 1}));
    const std::string group = under("Temp/Local/Group");
    const std::string other = under("Temp/Local/Other");
    fs::create_directories(group);
    fs::create_directories(other);
    held.holdInto = group;
    std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>> back;
    utils->writeFilePatchesLaterInParts(
        {{under("Temp/Device/Patch/A.qptc"), group}, {under("Temp/Device/Patch/B.qptc"), group}},
        [&](std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>> results, bool) {
            for (auto& each : results) back.push_back(std::move(each));
        });
    held.waitForTheFirst();

    struct Case {
        const char* what;
        std::vector<CommonUtils::PatchCopy> asked;
        std::vector<bool> withdrawn;
    };
    const std::vector<Case> cases{
        {"one not begun and one never asked", {{under("Temp/Device/Patch/B.qptc"), group}, {under("Temp/Device/Patch/C.qptc"), group}}, {true, false}},
        {"the same again: withdrawn already", {{under("Temp/Device/Patch/B.qptc"), group}}, {false}},
        {"into a folder it was not asked into", {{under("Temp/Device/Patch/A.qptc"), other}}, {false}},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        EXPECT_EQ(utils->withdrawPoolCopies(each.asked, true), each.withdrawn);
    }
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].first, 1u);
    EXPECT_TRUE(back[0].second.handedOver);
    EXPECT_FALSE(back[0].second.item);

    held.release();
    utils->settlePoolWork();
    ASSERT_EQ(back.size(), 2u);
    EXPECT_TRUE(back[1].second.item);
    EXPECT_FALSE(back[1].second.handedOver);
    EXPECT_FALSE(fs::exists(group + "/B.qptc")) << "a copy handed over was made";
    std::optional<std::vector<CommonUtils::CopiedPatch>> again;
    utils->writeFilePatchesLater({{under("Temp/Device/Patch/B.qptc"), other}},
                                 [&](std::vector<CommonUtils::CopiedPatch> results) { again = std::move(results); });
    utils->settlePoolWork();
    ASSERT_TRUE(again);
    ASSERT_TRUE((*again)[0].item);
    EXPECT_EQ((*again)[0].item->path, other + "/B.qptc");
    EXPECT_FALSE(fs::exists(group + "/B.qptc"));
    EXPECT_TRUE(fs::exists(under("Temp/Device/Patch/B.qptc")));
}

// An undo of an addition whose copies wait behind another drop's: the withdrawn copies are handed back at
// once, as not wanted, so their nodes leave before the undo goes on, and a step on their folder then meets
// nothing and does not wait for the drop ahead. A file that landed in a folder the drop still fills is
// rewritten without waiting for the drop either.
TEST_F(Pools, WithdrawnCopiesAreHandedBackAtOnceAndStandInNoStepsWay)
{
    HeldCopies held;
    buildAndConnect(&held);
    const ReleaseAndEnd ending{held, utils};
    for (const char* name : {"A", "B", "C", "D"})
        put(std::string("Temp/Device/Patch/") + name + ".qptc", patchFile(name, {kEcho, 1}));
    const std::string drop = under("Temp/Local/Drop");
    const std::string rows = under("Temp/Local/Rows");
    fs::create_directories(drop);
    fs::create_directories(rows);
    held.holdInto = drop;
    std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>> dropEarly;
    bool dropLanded = false;
    utils->writeFilePatchesLaterInParts(
        {{under("Temp/Device/Patch/A.qptc"), drop}, {under("Temp/Device/Patch/B.qptc"), drop}},
        [&](std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>> results, bool last) {
            for (auto& each : results) dropEarly.push_back(std::move(each));
            dropLanded = dropLanded || last;
        });
    std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>> rowsBack;
    bool rowsLanded = false;
    utils->writeFilePatchesLaterInParts(
        {{under("Temp/Device/Patch/C.qptc"), rows}, {under("Temp/Device/Patch/D.qptc"), rows}},
        [&](std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>> results, bool last) {
            for (auto& each : results) rowsBack.push_back(std::move(each));
            rowsLanded = rowsLanded || last;
        });
    held.waitForTheFirst();

    utils->withdrawPoolCopies({{under("Temp/Device/Patch/C.qptc"), rows}, {under("Temp/Device/Patch/D.qptc"), rows}});
    ASSERT_EQ(rowsBack.size(), 2U) << "the withdrawn copies were not handed back before the undo went on";
    for (const auto& [index, result] : rowsBack) {
        EXPECT_FALSE(result.item) << index;
        EXPECT_EQ(result.error.code, ECANCELED) << index;
    }
    EXPECT_FALSE(rowsLanded);
    utils->settlePoolWorkFor({rows, under("Temp/Device/Patch/C.qptc")});
    EXPECT_FALSE(dropLanded) << "a step on a folder whose copies are all withdrawn waited for the drop ahead";

    // The drop's B lands ahead of it; a rewrite of that file in the folder the drop fills waits for nothing.
    utils->settlePoolWorkFor({under("Temp/Device/Patch/B.qptc")});
    ASSERT_EQ(dropEarly.size(), 1U);
    ASSERT_TRUE(dropEarly[0].second.item);
    utils->settlePoolWorkFor({dropEarly[0].second.item->path});
    EXPECT_FALSE(dropLanded) << "a step on a landed file waited for the drop filling its folder";
    // B made; A held; C and D withdrawn, out of the count.
    EXPECT_EQ(utils->poolCopiesProgress(), (std::pair<std::size_t, std::size_t>{1, 2}));

    held.release();
    utils->settlePoolWork();
    EXPECT_TRUE(dropLanded);
    EXPECT_TRUE(rowsLanded);
    EXPECT_EQ(rowsBack.size(), 2U) << "a withdrawn copy was handed back twice";
    EXPECT_FALSE(fs::exists(rows + "/C.qptc"));
    EXPECT_FALSE(fs::exists(rows + "/D.qptc"));
    EXPECT_TRUE(fs::exists(under("Temp/Device/Patch/C.qptc")));
    EXPECT_EQ(utils->poolCopiesProgress(), (std::pair<std::size_t, std::size_t>{0, 0}));
}

// A group a drop has just made holds only its folder while all its copies wait behind another drop's: with
// them withdrawn its folder goes to the bin without waiting for that drop, comes back by the undo, and the
// copies asked again land in it.
TEST_F(Pools, AGroupWhoseCopiesAreAllWithdrawnGoesToTheBinAndBackWithoutWaiting)
{
    HeldCopies held;
    buildAndConnect(&held);
    const ReleaseAndEnd ending{held, utils};
    for (const char* name : {"A", "B", "C"}) put(std::string("Temp/Device/Patch/") + name + ".qptc", patchFile(name, {kEcho, 1}));
    const std::string drop = under("Temp/Local/Drop");
    const std::string folder = under("Temp/Local/New Patch Group 1");
    fs::create_directories(drop);
    fs::create_directories(folder);
    held.holdInto = drop;
    bool dropLanded = false;
    utils->writeFilePatchesLater({{under("Temp/Device/Patch/A.qptc"), drop}},
                                 [&](std::vector<CommonUtils::CopiedPatch>) { dropLanded = true; });
    const std::vector<CommonUtils::PatchCopy> copies{{under("Temp/Device/Patch/B.qptc"), folder},
                                                     {under("Temp/Device/Patch/C.qptc"), folder}};
    utils->writeFilePatchesLater(copies, [](std::vector<CommonUtils::CopiedPatch>) {});
    held.waitForTheFirst();
    EXPECT_EQ(utils->withdrawPoolCopies(copies, true), (std::vector<bool>{true, true}));

    DirectoryObject group;
    group.isGroup = true;
    group.name = "New Patch Group 1";
    utils->settlePoolWorkFor({folder});
    const std::string inBin = utils->deletePatchGroup(group);
    EXPECT_EQ(inBin, under("Temp/RecycleBin/New Patch Group 1"));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_FALSE(dropLanded) << "the deletion waited for the drop ahead";
    group.path = inBin;
    EXPECT_EQ(utils->undoPatchGroup(group), folder);
    std::optional<std::vector<CommonUtils::CopiedPatch>> again;
    utils->writeFilePatchesLater(copies, [&](std::vector<CommonUtils::CopiedPatch> results) { again = std::move(results); });
    held.release();
    utils->settlePoolWork();
    ASSERT_TRUE(again);
    for (const auto& result : *again) EXPECT_TRUE(result.item);
    EXPECT_TRUE(fs::exists(folder + "/B.qptc"));
    EXPECT_TRUE(fs::exists(folder + "/C.qptc"));
}

// A step on a file that copies are of has those copies land first, and only those: one not begun is made
// by the step itself, the batch's others go on and land later without it, and no copy is made twice.
TEST_F(Pools, AStepOnACopysFileLandsThatCopyAloneAheadOfItsBatch)
{
    HeldCopies held;
    buildAndConnect(&held);
    const ReleaseAndEnd ending{held, utils};
    for (const char* name : {"A", "B", "C"}) put(std::string("Temp/Device/Patch/") + name + ".qptc", patchFile(name, {kEcho, 1}));
    const std::string group = under("Temp/Local/Group");
    fs::create_directories(group);
    held.holdInto = group;
    std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>> early;
    std::optional<std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>>> rest;
    utils->writeFilePatchesLaterInParts(
        {{under("Temp/Device/Patch/A.qptc"), group}, {under("Temp/Device/Patch/B.qptc"), group},
         {under("Temp/Device/Patch/C.qptc"), group}},
        [&](std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>> results, bool last) {
            if (last) rest = std::move(results);
            else for (auto& each : results) early.push_back(std::move(each));
        });
    held.waitForTheFirst();

    utils->settlePoolWorkFor({under("Temp/Device/Patch/B.qptc")});
    ASSERT_EQ(early.size(), 1U) << "the step did not land its own copy";
    EXPECT_EQ(early[0].first, 1U);
    ASSERT_TRUE(early[0].second.item);
    EXPECT_EQ(early[0].second.item->path, group + "/B.qptc");
    EXPECT_FALSE(rest) << "the step waited for the batch";
    EXPECT_EQ(utils->poolCopiesProgress(), (std::pair<std::size_t, std::size_t>{1, 3}));
    // Landed, it stands in no later step's way.
    utils->settlePoolWorkFor({under("Temp/Device/Patch/B.qptc")});
    EXPECT_EQ(early.size(), 1U);
    EXPECT_FALSE(rest);

    held.release();
    utils->settlePoolWork();
    ASSERT_TRUE(rest);
    std::vector<std::size_t> places;
    for (const auto& [index, result] : *rest) {
        places.push_back(index);
        EXPECT_TRUE(result.item) << index;
    }
    EXPECT_EQ(places, (std::vector<std::size_t>{0, 2}));
    std::vector<std::string> made;
    for (const auto& entry : fs::directory_iterator(group)) made.push_back(entry.path().filename().string());
    std::sort(made.begin(), made.end());
    EXPECT_EQ(made, (std::vector<std::string>{"A.qptc", "B.qptc", "C.qptc"}));
    EXPECT_EQ(utils->poolCopiesProgress(), (std::pair<std::size_t, std::size_t>{0, 0}));
}

// A step on many patches of a drop whose copies have not begun (a deletion of thousands selected) lands
// them all ahead of their batch, each made once and off the main thread, which only waits for them.
TEST_F(Pools, AStepOnManyPatchesOfADropHasTheirCopiesMadeOffTheMainThread)
{
    HeldCopies held;
    buildAndConnect(&held);
    const ReleaseAndEnd ending{held, utils};
    const std::string group = under("Temp/Local/Drop");
    fs::create_directories(group);
    held.holdInto = group;
    held.onlyNamed = "A.qptc";
    std::vector<CommonUtils::PatchCopy> copies;
    std::vector<std::string> others;
    for (int i = 0; i < 40; ++i) {
        const std::string name = i == 0 ? std::string("A") : "P" + std::to_string(i);
        put("Dropped/" + name + ".qptc", patchFile(name, {kEcho, 1}));
        copies.push_back({under("Dropped/" + name + ".qptc"), group});
        if (i > 0) others.push_back(under("Dropped/" + name + ".qptc"));
    }
    std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>> early;
    bool last = false;
    utils->writeFilePatchesLaterInParts(copies, [&](std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>> results, bool end) {
        for (auto& each : results) early.push_back(std::move(each));
        last = last || end;
    });
    held.waitForTheFirst();

    utils->settlePoolWorkFor(others);
    EXPECT_FALSE(last);
    ASSERT_EQ(early.size(), others.size());
    for (const auto& [index, result] : early) {
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
    EXPECT_TRUE(last);
    EXPECT_EQ(early.size(), copies.size());
    EXPECT_EQ(std::distance(fs::directory_iterator(group), fs::directory_iterator()), 40);
}

// The same step while every thread of the shared computation pool is busy with other work (an effect
// archive unpacked): the copies are made all the same and the step does not wait for that work.
TEST_F(Pools, AStepOnManyPatchesOfADropWaitsForNoOtherWorkOfTheSharedThreads)
{
    HeldCopies held;
    buildAndConnect(&held);
    const ReleaseAndEnd ending{held, utils};
    const std::string group = under("Temp/Local/Drop");
    fs::create_directories(group);
    // The queue holds on the drop's first copy: the others have not begun when the step comes.
    held.holdInto = group;
    held.onlyNamed = "A.qptc";
    std::vector<CommonUtils::PatchCopy> copies;
    std::vector<std::string> others;
    for (int i = 0; i < 12; ++i) {
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
    const std::size_t threads = std::max(1U, std::thread::hardware_concurrency());
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
    std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>> early;
    bool last = false;
    utils->writeFilePatchesLaterInParts(copies, [&](std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>> results, bool end) {
        for (auto& each : results) early.push_back(std::move(each));
        last = last || end;
    });
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
    EXPECT_FALSE(last);
    ASSERT_EQ(early.size(), others.size());
    for (const auto& [index, result] : early) EXPECT_TRUE(result.item) << index;
    held.release();
    utils->settlePoolWork();
    EXPECT_TRUE(last);
    EXPECT_EQ(std::distance(fs::directory_iterator(group), fs::directory_iterator()), 12);
}

namespace {
// Another copy takes the target's name between the coordinator's look for a free name and its copy.
struct NameTakenUnderTheCopy : platform::LocalFileManager {
    bool copyItem(const std::string& from, const std::string& to, platform::Error* error,
                  platform::Durability durability) override
    {
        if (!taken && to.find("/Group/") != std::string::npos) {
            taken = true;
            std::ofstream(to, std::ios::binary) << "another copy";
        }
        return LocalFileManager::copyItem(from, to, error, durability);
    }
    bool taken = false;
};
}  // namespace

// A step's own copy of a dropped patch runs beside the queue's copies of the drop: a name taken between
// the look and the copy costs the copy nothing, it takes the next free name and the other file stays.
TEST_F(Pools, ACopyWhoseNameIsTakenUnderItTakesTheNextFreeName)
{
    NameTakenUnderTheCopy racing;
    buildAndConnect(&racing);
    put("Temp/Device/Patch/A.qptc", patchFile("A", {kEcho, 1}));
    const std::string group = under("Temp/Local/Group");
    fs::create_directories(group);
    std::optional<std::vector<CommonUtils::CopiedPatch>> copied;
    utils->writeFilePatchesLater({{under("Temp/Device/Patch/A.qptc"), group}},
                                 [&](std::vector<CommonUtils::CopiedPatch> results) { copied = std::move(results); });
    utils->settlePoolWork();
    ASSERT_TRUE(copied);
    ASSERT_EQ(copied->size(), 1U);
    ASSERT_TRUE((*copied)[0].item) << (*copied)[0].error.description;
    EXPECT_NE((*copied)[0].item->path, group + "/A.qptc");
    EXPECT_EQ(files.readFile((*copied)[0].item->path), files.readFile(under("Temp/Device/Patch/A.qptc")));
    EXPECT_EQ(files.readFile(group + "/A.qptc"), Bytes({'a', 'n', 'o', 't', 'h', 'e', 'r', ' ', 'c', 'o', 'p', 'y'}));
    utils.reset();
}

// A copy into a working folder under "Temp" (rebuilt at every start, flushed by the pool's save) is not
// flushed on its own; one leaving for a folder of the user's is.
TEST_F(Pools, PatchCopiesIntoTheWorkingCopyAreNotFlushedOneByOne)
{
    CopyDurabilities recording;
    buildAndConnect(&recording);
    put("Temp/Device/Patch/Fits.qptc", patchFile("Fits", {kEcho, 1}));
    const std::string local = under("Temp/Local/Group");
    const std::string outside = root / "Exported";
    fs::create_directories(local);
    fs::create_directories(outside);
    recording.copies.clear();
    bool done = false;
    utils->writeFilePatchesLater({{under("Temp/Device/Patch/Fits.qptc"), local}, {under("Temp/Device/Patch/Fits.qptc"), outside}},
                                 [&](std::vector<CommonUtils::CopiedPatch> results) {
                                     EXPECT_TRUE(results.size() == 2 && results[0].item && results[1].item);
                                     done = true;
                                 });
    ASSERT_TRUE(loop.runUntil([&] { return done; }));
    EXPECT_EQ(recording.copies, (std::vector<std::pair<std::string, platform::Durability>>{
                                    {"Group", platform::Durability::WorkingCopy}, {"Exported", platform::Durability::Durable}}));
    EXPECT_EQ(files.readFile(local + "/Fits.qptc"), files.readFile(under("Temp/Device/Patch/Fits.qptc")));
    // The coordinator's background work uses the recording disk until the coordinator is gone.
    utils.reset();
}
