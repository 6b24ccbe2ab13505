#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <set>

#include "library/store/BackupFile.h"
#include "support/library/LibraryFiles.h"
#include "support/library/PatchLibraryFixture.h"

namespace fs = std::filesystem;

namespace {

// What a folder holds, by content rather than by name: the saved library renames what it loads.
struct Inventory {
    std::multiset<std::string> files;  // the bytes of each regular file
    std::multiset<std::string> links;  // the target of each link
    int specials = 0;
    bool operator==(const Inventory&) const = default;
};

Inventory inventory(const fs::path& folder)
{
    Inventory found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const auto status = it->symlink_status();
        if (fs::is_symlink(status)) {
            found.links.insert(fs::read_symlink(it->path()).string());
        } else if (fs::is_regular_file(status)) {
            std::ifstream in(it->path(), std::ios::binary);
            found.files.insert(std::string(std::istreambuf_iterator<char>(in), {}));
        } else if (!fs::is_directory(status)) {
            ++found.specials;
        }
    }
    return found;
}

// The tree as the user sees it: "Patch", "Group/Patch", and "Group/" for a group without patches.
std::set<std::string> shown(const CommonUtils::Tree& tree)
{
    std::set<std::string> names;
    for (const auto& node : tree) {
        if (!node->isGroup) {
            names.insert(node->name.value_or("?"));
            continue;
        }
        if (node->childDirectories.empty()) names.insert(node->name.value_or("?") + "/");
        for (const auto& child : node->childDirectories)
            names.insert(node->name.value_or("?") + "/" + child->name.value_or("?"));
    }
    return names;
}

}  // namespace

class PatchLibraryLayouts : public PatchLibrary {
protected:
    void link(const std::string& relative, const fs::path& target)
    {
        const fs::path path = library() + "/" + relative;
        fs::create_directories(path.parent_path());
        fs::create_symlink(target, path);
    }
    void fifo(const std::string& relative)
    {
        const fs::path path = library() + "/" + relative;
        fs::create_directories(path.parent_path());
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    }
    // A start that loads the saved pool; the tree it shows.
    CommonUtils::Tree load()
    {
        startLibrary();
        utils->createPatchDirectoryObjectFromLocal();
        until("patchPool");
        return recorder.patchPool;
    }
    bool save(const CommonUtils::Tree& tree)
    {
        std::atomic<bool> changed{true};
        utils->savePatchPoolToLocal(tree, changed);
        return !changed;
    }
};

// Each library is loaded, saved and loaded again: the tree shows only readable patches in the pool and
// its groups, and every file, link and special file of the library is still there after the save.
TEST_F(PatchLibraryLayouts, EveryFileIsAccountedForAcrossALoadAndASave)
{
    const fs::path outside = root / "outside";
    fs::create_directories(outside / "Pool");
    ASSERT_TRUE(files.writeAtomically((outside / "secret.qptc").string(), patchBytes("Secret")));
    ASSERT_TRUE(files.writeAtomically((outside / "Pool/[0] Far.qptc").string(), patchBytes("Far")));
    Bytes truncated = patchBytes("Cut");
    truncated.resize(truncated.size() / 2);

    const struct {
        const char* what;
        std::function<void()> layOut;
        std::set<std::string> expected;
    } cases[] = {
        {"a group named with a dot",
         [&] {
             put("Pool/[0] Live 2.0/[0] A.qptc", patchBytes("A"));
             put("Pool/[1] Live 2.0/[0] B.qptc", patchBytes("B"));
             put("Pool/[2] Solo.qptc", patchBytes("Solo"));
             put("Pool/[3] v1.qptc/[0] C.qptc", patchBytes("C"));
         },
         {"Live 2.0/A", "Live 2.0 (1)/B", "Solo", "v1.qptc/C"}},
        {"groups within groups",
         [&] {
             put("Pool/[4] Outer/[0] Inner/[0] Nested.qptc", patchBytes("Nested"));
             put("Pool/[5] Both/[0] Direct.qptc", patchBytes("Direct"));
             put("Pool/[5] Both/[1] Deep/[0] Deeper/[0] Far.qptc", patchBytes("Far"));
         },
         {"Outer/", "Both/Direct"}},
        {"damaged patch files",
         [&] {
             put("Pool/[0] Good.qptc", patchBytes("Good"));
             put("Pool/[1] Cut.qptc", truncated);
             put("Pool/[2] Noise.qptc", Bytes{'P', 'T', 'C', 'F', 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3});
             put("Pool/[3] Empty.qptc", {});
             put("Pool/[4] G/[0] Bad.qptc", Bytes(40, 0xAB));
             put("Pool/[4] G/[1] Fine.qptc", patchBytes("Fine"));
             put("Backup/[5] B/[0] Zero.qptc", {});
         },
         {"Good", "G/Fine", "B/"}},
        {"files of other kinds",
         [&] {
             put("Pool/[0] Kept.qptc", patchBytes("Kept"));
             put("Pool/b.QPTC", patchBytes("Upper"));
             put("Pool/a.txt", Bytes{'n', 'o', 't', 'e'});
             put("Pool/c.qptc.bak", patchBytes("Bak"));
             put("Pool/[1] G/notes.txt", Bytes{'g'});
             put("Pool/[1] G/[0] In.qptc", patchBytes("In"));
             put("Pool/BackupInfo.backup", Bytes{'r'});
             put("readme.txt", Bytes{'r', 'e', 'a', 'd'});
         },
         {"Kept", "G/In"}},
        {"links and special files",
         [&] {
             put("Pool/[0] Good.qptc", patchBytes("Good"));
             link("Pool/[1] Zero.qptc", "/dev/zero");
             fifo("Pool/[2] Pipe.qptc");
             link("Pool/[3] Out.qptc", outside / "secret.qptc");
             link("Pool/[4] G/[0] Out.qptc", outside / "secret.qptc");
             put("Pool/[4] G/[1] Mine.qptc", patchBytes("Mine"));
             fifo("Pool/[4] G/BackupInfo.backup");
             link("Pool/[5] Away", outside);
         },
         {"Good", "G/Mine"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        utils.reset();
        fs::remove_all(rootFolder);
        c.layOut();
        const Inventory before = inventory(library());

        const CommonUtils::Tree first = load();
        EXPECT_EQ(shown(first), c.expected);
        ASSERT_TRUE(save(first));
        EXPECT_EQ(inventory(library()), before);

        const CommonUtils::Tree second = load();
        EXPECT_EQ(shown(second), c.expected);
        ASSERT_TRUE(save(second));
        EXPECT_EQ(inventory(library()), before);
        EXPECT_EQ(inventory(outside).files.size(), 2U);
    }
}

// A library moved aside that is a link, or that cannot be removed, never stands in the save's way, and
// never brings a folder from outside into the library.
TEST_F(PatchLibraryLayouts, AsideFoldersNeitherBlockTheSaveNorPullInOutsideFiles)
{
    const fs::path outside = root / "outside";
    fs::create_directories(outside / "Pool");
    ASSERT_TRUE(files.writeAtomically((outside / "Pool/[0] Far.qptc").string(), patchBytes("Far")));
    fs::create_directories(rootFolder + "/QFXMacApplication");
    fs::create_symlink(outside, rootFolder + "/QFXMacApplication/.Patch-old");
    EXPECT_TRUE(load().empty());
    EXPECT_FALSE(fs::exists(fs::symlink_status(library())));

    fs::remove(rootFolder + "/QFXMacApplication/.Patch-old");
    put("Pool/[0] Solo.qptc", patchBytes("Solo"));
    fs::create_directories(rootFolder + "/QFXMacApplication/.Patch-old/Pool");
    CommonUtils::Tree tree = load();
    ASSERT_EQ(shown(tree), (std::set<std::string>{"Solo"}));
    // The stale aside cannot be removed: each save takes a fresh one.
    faulty.fail(Op::Remove, ".Patch-old");
    for (int round = 0; round < 2; ++round) {
        tree.push_back(group("Set " + std::to_string(round)));
        EXPECT_TRUE(save(tree));
        EXPECT_TRUE(fs::is_directory(library() + "/Pool/[" + std::to_string(round + 1) + "] Set " + std::to_string(round)));
    }
    faulty.heal();
    EXPECT_EQ(inventory(outside).files.size(), 1U);
    EXPECT_EQ(shown(load()), (std::set<std::string>{"Solo", "Set 0/", "Set 1/"}));
}

// A save that fails leaves the saved library as it was; while the program runs the user is told, at the
// end nothing is shown.
TEST_F(PatchLibraryLayouts, AFailedSaveIsReportedWhileRunningAndKeepsTheLibrary)
{
    put("Pool/[0] Solo.qptc", patchBytes("Solo"));
    CommonUtils::Tree tree = load();
    const Inventory before = inventory(library());
    tree.push_back(group("New"));
    faulty.fail(Op::Move, "QFXMacApplication/.Patch-saving");
    std::atomic<bool> changed{true};
    // The caller is told why, to say it at the end.
    const auto why = utils->savePatchPoolToLocal(tree, changed);
    ASSERT_TRUE(why);
    EXPECT_FALSE(why->empty());
    EXPECT_TRUE(changed);
    EXPECT_EQ(until("patchPoolNotSaved").back(), "patchPoolNotSaved");
    EXPECT_EQ(inventory(library()), before);

    utils->closeApp();
    EXPECT_FALSE(save(tree));
    EXPECT_EQ(inventory(library()), before);
    const Strings heard = settle();
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "patchPoolNotSaved"), 0);
    faulty.heal();
}

// Copies asked before a save land first, in the nodes that asked them, even in the same turn: the save
// holds them and never a copy's temporary file, which a library left by an older run may hold.
TEST_F(PatchLibraryLayouts, ASaveLandsTheCopiesAskedBeforeItAndCarriesNoTemporary)
{
    put("Pool/[0] Live/[0] A.qptc", patchBytes("A"));
    put("Pool/[0] Live/.B.qptc.tmp-4242-7", patchBytes("B"));
    put("Pool/.Solo.qptc.tmp-4242-8", patchBytes("Solo"));
    CommonUtils::Tree tree = load();
    ASSERT_EQ(shown(tree), (std::set<std::string>{"Live/A"}));
    const std::string local = rootFolder + "/Temp/Local/Live";
    std::vector<std::shared_ptr<DirectoryObject>> asked;
    std::vector<CommonUtils::PatchCopy> copies;
    for (const char* name : {"C", "D", "E"}) {
        const std::string source = writePatch(std::string("Temp/Device/Patch/") + name + ".qptc", name);
        auto node = group("").get()->copy();
        node->isGroup = false;
        node->object = item(source);
        tree[0]->childDirectories.push_back(node);
        asked.push_back(node);
        copies.push_back({source, local});
    }
    int landings = 0;
    utils->writeFilePatchesLater(copies, [&](std::vector<CommonUtils::CopiedPatch> results) {
        ++landings;
        for (std::size_t i = 0; i < results.size(); ++i)
            if (results[i].item) asked[i]->patchItem()->path = results[i].item->path;
    });
    ASSERT_TRUE(save(tree));
    EXPECT_EQ(landings, 1);
    EXPECT_EQ(names("QFXMacApplication/Patch/Pool"), (Strings{"[0] Live"}));
    EXPECT_EQ(names("QFXMacApplication/Patch/Pool/[0] Live"),
              (Strings{"[0] A.qptc", "[1] C.qptc", "[2] D.qptc", "[3] E.qptc"}));
    // Nothing is left to land on a later turn.
    settle();
    EXPECT_EQ(landings, 1);
}

// A copy into a group whose name holds a dot lands in the group, replacing or not.
TEST_F(PatchLibraryLayouts, CopiesIntoADotNamedGroupLandInIt)
{
    put("Pool/[0] Live 2.0/[0] A.qptc", patchBytes("A"));
    const CommonUtils::Tree tree = load();
    ASSERT_EQ(shown(tree), (std::set<std::string>{"Live 2.0/A"}));
    const std::string group = rootFolder + "/Temp/Local/Live 2.0";
    const std::string source = writePatch("Temp/Device/Patch/1.qptc", "A");
    for (bool replace : {false, true}) {
        const auto copied = utils->writeFilePatchWithPath(source, group, {replace, false, -1});
        ASSERT_TRUE(copied);
        EXPECT_EQ(fs::path(copied->path).parent_path(), fs::path(group));
        EXPECT_TRUE(fs::is_directory(group));
    }
    EXPECT_EQ(names("Temp/Local/Live 2.0"), (Strings{"A (1).qptc", "A.qptc"}));
}

// Files dropped from another program keep working under any name the file system takes: one that is not
// UTF-8, and a kept name near the length limit, are copied for the list and the pool, saved and loaded.
TEST_F(PatchLibraryLayouts, DroppedFilesWithOddNamesAreCopiedSavedAndLoadedAgain)
{
    EXPECT_TRUE(load().empty());
    const fs::path outside = root / "outside";
    fs::create_directories(outside);
    const std::string odd = (outside / "\xFF\xFE.qptc").string();
    const std::string kept = (outside / ("(1)" + std::string(236, 'k') + ".qptc")).string();
    // At the limit: the saved library's "[n] " prefix must not push it over.
    const std::string full = (outside / ("(2)" + std::string(242, 'f') + "\xE3\x81\x82.qptc")).string();
    ASSERT_TRUE(files.writeAtomically(odd, patchBytes("Odd")));
    ASSERT_TRUE(files.writeAtomically(kept, patchBytes("Kept")));
    ASSERT_TRUE(files.writeAtomically(full, patchBytes("Full")));
    CommonUtils::Tree tree;
    for (const std::string& source : {odd, kept, full}) {
        SCOPED_TRACE(source.substr(outside.string().size()));
        ASSERT_TRUE(utils->checkFilePatchWithfilePath(source));
        EXPECT_TRUE(utils->writeFilePatchWithPath(source, rootFolder + "/Temp/Device/Patch", {false, false, -1}));
        const auto copied = utils->writeFilePatchWithPath(source, rootFolder + "/Temp/Local", {false, false, -1});
        ASSERT_TRUE(copied);
        auto leaf = std::make_shared<DirectoryObject>();
        leaf->name = copied->patchName;
        leaf->path = copied->path;
        leaf->object = copied;
        tree.push_back(leaf);
    }
    tree.push_back(group("G", {tree.back()->path.value_or("")}));
    EXPECT_TRUE(save(tree));
    EXPECT_EQ(shown(load()), (std::set<std::string>{"Odd", "Kept", "Full", "G/Full"}));
}

// A user who moved the library, or the whole data folder, elsewhere and left a link sees the pool, and
// the save writes through the link: the library stays where the link points and the link stays a link.
// Inside the library a link is still kept unread.
TEST_F(PatchLibraryLayouts, ALinkedLibraryOrDataFolderIsLoadedAndSavedThrough)
{
    const fs::path disk = root / "disk";
    // Which folder was moved to the other disk, and the library's place below it.
    const struct {
        const char* moved;
        const char* below;
    } cases[] = {{"QFXMacApplication/Patch", ""}, {"QFXMacApplication", "Patch"}, {"", "QFXMacApplication/Patch"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("a link at \"") + c.moved + "\"");
        utils.reset();
        fs::remove_all(rootFolder);
        fs::remove_all(disk);
        const fs::path link = *c.moved ? fs::path(rootFolder) / c.moved : fs::path(rootFolder);
        const fs::path moved = disk / "moved";
        const fs::path library = *c.below ? moved / c.below : moved;
        fs::create_directories(library / "Pool/[1] Set");
        ASSERT_TRUE(files.writeAtomically((library / "Pool/[0] Solo.qptc").string(), patchBytes("Solo")));
        ASSERT_TRUE(files.writeAtomically((library / "Pool/[1] Set/[0] A.qptc").string(), patchBytes("A")));
        fs::create_symlink(root / "outside.qptc", library / "Pool/[2] Link.qptc");
        fs::create_directories(link.parent_path());
        fs::create_directory_symlink(moved, link);

        CommonUtils::Tree tree = load();
        ASSERT_EQ(shown(tree), (std::set<std::string>{"Solo", "Set/A"}));
        tree.push_back(group("New"));
        EXPECT_TRUE(save(tree));
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(fs::read_symlink(link), moved);
        EXPECT_TRUE(fs::is_directory(library / "Pool/[2] New"));
        EXPECT_EQ(inventory(library).links, (std::multiset<std::string>{root / "outside.qptc"}));
        EXPECT_EQ(shown(load()), (std::set<std::string>{"Solo", "Set/A", "New/"}));
        // A save cut off once the library was moved aside, its staged successor not yet moved in: the next
        // start finds it beside the link's target.
        fs::create_directories(library.parent_path() / ".Patch-saving-00000000000000000001/Pool");
        fs::rename(library, library.parent_path() / ".Patch-old-00000000000000000001");
        EXPECT_EQ(shown(load()), (std::set<std::string>{"Solo", "Set/A", "New/"}));
        EXPECT_TRUE(fs::is_symlink(link));
    }
}

// The working copy shares the saved library's files until it changes one: renaming, commenting, moving
// and renaming a group there leave every saved byte as it was, until the save takes the edits.
TEST_F(PatchLibraryLayouts, EditsInTheWorkingCopyLeaveTheSavedLibraryUntilTheSave)
{
    put("Pool/[0] Solo.qptc", patchBytes("Solo"));
    put("Pool/[1] Blues/[0] Lead.qptc", patchBytes("Lead", {'e', 'n'}));
    put("Pool/[1] Blues/[1] Rhythm.qptc", patchBytes("Rhythm"));
    const Inventory before = inventory(library());
    CommonUtils::Tree tree = load();
    ASSERT_EQ(shown(tree), (std::set<std::string>{"Solo", "Blues/Lead", "Blues/Rhythm"}));
    const auto node = [&](const std::string& name) {
        return *std::find_if(tree.begin(), tree.end(), [&](const auto& n) { return n->name == name; });
    };
    struct stat saved {}, working {};
    ASSERT_EQ(::stat((library() + "/Pool/[0] Solo.qptc").c_str(), &saved), 0);
    ASSERT_EQ(::stat(node("Solo")->patchItem()->path.c_str(), &working), 0);
    EXPECT_EQ(saved.st_ino, working.st_ino);

    const struct {
        const char* what;
        std::function<bool()> edit;
    } edits[] = {
        {"rename a patch", [&] { return utils->editFilePatch(*node("Solo")->patchItem() = editOf(node("Solo")->patchItem()->path, "Lone")); }},
        {"comment a patch",
         [&] {
             PatchItem& lead = *node("Blues")->childDirectories[0]->patchItem();
             lead = editOf(lead.path, "Lead", "a new comment");
             return utils->editFilePatch(lead);
         }},
        {"move a patch out of its group",
         [&] {
             PatchItem& rhythm = *node("Blues")->childDirectories[1]->patchItem();
             rhythm.path = utils->movePatchItem(rhythm, "");
             return !rhythm.path.empty();
         }},
        {"rename the group", [&] { return utils->renameGroup(*node("Blues"), "Slow Blues") == 0; }},
    };
    for (const auto& e : edits) {
        SCOPED_TRACE(e.what);
        ASSERT_TRUE(e.edit());
        EXPECT_EQ(inventory(library()), before);
    }
    ASSERT_TRUE(save(tree));
    EXPECT_NE(inventory(library()), before);
    const std::set<std::string> after = shown(load());
    EXPECT_TRUE(after.count("Lone") == 1 && after.count("Slow Blues/Lead") == 1) << ::testing::PrintToString(after);
}

// With a device connected the load reads each patch once for the tree, its mark and its warning, and the
// window's update of that very tree reads nothing; a later update judges on the pool's queue from what the
// load read, reading only a file rewritten since, and sets the marks on the main thread.
TEST_F(PatchLibraryLayouts, MarksComeFromTheLoadsOwnReadingThenFromThePoolsQueue)
{
    put("Pool/[0] Solo.qptc", library_files::patchFile("Solo"));
    put("Pool/[1] G/[0] Newer.qptc", library_files::patchFile("Newer", {}, 2));
    startLibrary();
    connect();
    faulty.countReads(".qptc");
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPool");
    const CommonUtils::Tree tree = recorder.patchPool;
    ASSERT_EQ(shown(tree), (std::set<std::string>{"Solo", "G/Newer"}));
    const auto solo = tree[0];
    const auto newer = tree[1]->childDirectories[0];
    EXPECT_FALSE(solo->isIncompatible);
    EXPECT_TRUE(newer->isIncompatible);
    EXPECT_FALSE(solo->patchItem()->effectDictionnary.empty());
    EXPECT_EQ(faulty.reads(), 2);
    EXPECT_EQ(utils->poolWarningsJudgedAgainst(tree), utils->effectTablesGeneration());

    utils->updateDirectoryObjectForPatchPool(tree);
    const Strings quiet = settle();
    EXPECT_EQ(std::count(quiet.begin(), quiet.end(), "patchPoolMarks"), 0);
    EXPECT_EQ(faulty.reads(), 2);

    solo->isIncompatible = true;
    newer->isIncompatible = false;
    utils->updateDirectoryObjectForPatchPool(tree);
    until("patchPoolMarks");
    EXPECT_FALSE(solo->isIncompatible);
    EXPECT_TRUE(newer->isIncompatible);
    EXPECT_EQ(faulty.reads(), 2);

    // A file rewritten since the load is read again.
    ASSERT_TRUE(files.writeAtomically(solo->patchItem()->path, library_files::patchFile("Solo", {}, 2)));
    utils->updateDirectoryObjectForPatchPool(tree);
    until("patchPoolMarks");
    EXPECT_TRUE(solo->isIncompatible);
    EXPECT_TRUE(newer->isIncompatible);
    EXPECT_EQ(faulty.reads(), 3);
}

// A unit connecting after the load began: the load read each file without a unit to judge it for, and the
// unit's marks and warnings come in one pass from that same reading; the window asks no other pass while
// it runs, and every file was read once.
TEST_F(PatchLibraryLayouts, AUnitConnectingAfterTheLoadBeganIsJudgedFromTheLoadsReading)
{
    put("Pool/[0] Solo.qptc", library_files::patchFile("Solo"));
    put("Pool/[1] G/[0] Newer.qptc", library_files::patchFile("Newer", {}, 2));
    put("Pool/[1] G/[1] Lead.qptc", library_files::patchFile("Lead", {0x0D000001, 1}));
    startLibrary();
    faulty.countReads(".qptc");
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPool");
    const CommonUtils::Tree tree = recorder.patchPool;
    ASSERT_EQ(shown(tree), (std::set<std::string>{"Solo", "G/Newer", "G/Lead"}));
    const auto solo = tree[0];
    const auto newer = tree[1]->childDirectories[0];
    EXPECT_FALSE(newer->isIncompatible);
    EXPECT_TRUE(solo->patchItem()->effectDictionnary.empty());
    EXPECT_EQ(utils->poolWarningsJudgedAgainst(tree), std::nullopt);
    EXPECT_EQ(faulty.reads(), 3);

    connect();
    utils->updateDirectoryObjectForPatchPool(tree);
    // Under way: the window waits for it rather than judge the pool itself.
    EXPECT_EQ(utils->poolWarningsJudgedAgainst(tree), utils->effectTablesGeneration());
    until("patchPoolMarks");
    EXPECT_FALSE(solo->isIncompatible);
    EXPECT_TRUE(newer->isIncompatible);
    for (const auto& leaf : {solo, newer, tree[1]->childDirectories[1]}) {
        SCOPED_TRACE(leaf->name.value_or("?"));
        PatchItem& item = *leaf->patchItem();
        // The same list and warning a pass reading the file gives.
        PatchItem judged;
        judged.path = item.path;
        utils->getEffectListWithPatch(judged);
        utils->updatePatchWarningWithPatchItem(judged);
        EXPECT_FALSE(item.effectDictionnary.empty());
        EXPECT_EQ(item.effectDictionnary, judged.effectDictionnary);
        EXPECT_EQ(item.isWarning, judged.isWarning);
        EXPECT_EQ(leaf->isWarning, judged.isWarning);
    }
    faulty.countReads(".qptc");
    EXPECT_EQ(utils->poolWarningsJudgedAgainst(tree), utils->effectTablesGeneration());

    // A whole-pool pass (the unit's effects changed) judges from the same reading too.
    bool applied = false;
    utils->updatePatchWarningInPatchPoolLater(tree, [&] { applied = true; });
    ASSERT_TRUE(loop.runUntil([&] { return applied; }));
    EXPECT_EQ(faulty.reads(), 0);
    // Another tree is not the one judged.
    EXPECT_EQ(utils->poolWarningsJudgedAgainst({solo}), std::nullopt);
}

// The judgement of an empty pool ends like any other: once it landed, a change of what warnings are judged
// against is seen, so the next whole pool is judged again.
TEST_F(PatchLibraryLayouts, AnEmptyPoolsJudgementEndsAndLaterChangesAreSeen)
{
    fs::create_directories(library() + "/Pool");
    startLibrary();
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPool");
    const CommonUtils::Tree tree = recorder.patchPool;
    ASSERT_TRUE(tree.empty());
    connect();
    utils->updateDirectoryObjectForPatchPool(tree);
    until("patchPoolMarks");
    const auto judged = utils->poolWarningsJudgedAgainst(tree);
    EXPECT_EQ(judged, utils->effectTablesGeneration());
    // The unit's effects change.
    utils->setEffectListFromDevice({}, {0x0D000001});
    ASSERT_TRUE(loop.runUntil([&] { return utils->effectTablesGeneration() != judged; }));
    EXPECT_EQ(utils->poolWarningsJudgedAgainst(tree), judged);
}

// A library of many groups is read and linked by several threads: the tree keeps the saved order, groups
// whose plain names meet take free names in that order, every patch is linked into its own group's folder,
// and the save gives back the library as it was.
TEST_F(PatchLibraryLayouts, AManyGroupedLibraryLoadsInTheSavedOrderWhateverThreadReadIt)
{
    constexpr int kGroups = 24;
    for (int g = 0; g < kGroups; ++g) {
        // Groups 20 and up share the plain name "Same".
        const std::string group = "Pool/[" + std::to_string(g) + "] " + (g >= 20 ? std::string("Same") : "G" + std::to_string(g));
        for (int p = 2; p >= 0; --p)
            put(group + "/[" + std::to_string(p) + "] P" + std::to_string(g) + "-" + std::to_string(p) + ".qptc",
                patchBytes("P" + std::to_string(g) + "-" + std::to_string(p)));
    }
    put("Pool/[99] Last.qptc", patchBytes("Last"));
    put("Pool/odd.txt", Bytes{'x'});
    const Inventory before = inventory(library());
    const CommonUtils::Tree tree = load();
    ASSERT_EQ(tree.size(), static_cast<std::size_t>(kGroups + 1));
    const std::string local = rootFolder + "/Temp/Local";
    for (int g = 0; g < kGroups; ++g) {
        SCOPED_TRACE(g);
        const auto& group = tree[static_cast<std::size_t>(g)];
        const std::string name = g < 20 ? "G" + std::to_string(g) : g == 20 ? std::string("Same") : "Same (" + std::to_string(g - 20) + ")";
        EXPECT_EQ(group->name, name);
        EXPECT_EQ(group->path, local + "/" + name);
        ASSERT_EQ(group->childDirectories.size(), 3u);
        for (int p = 0; p < 3; ++p) {
            const auto& child = group->childDirectories[static_cast<std::size_t>(p)];
            const std::string patch = "P" + std::to_string(g) + "-" + std::to_string(p);
            EXPECT_EQ(child->name, patch);
            EXPECT_EQ(child->patchItem()->path, local + "/" + name + "/" + patch + ".qptc");
            EXPECT_TRUE(fs::is_regular_file(child->patchItem()->path));
        }
    }
    EXPECT_EQ(tree.back()->name, "Last");
    EXPECT_TRUE(fs::exists(local + "/odd.txt"));
    ASSERT_TRUE(save(tree));
    EXPECT_EQ(inventory(library()), before);
}

// An entry the load could not take into the working copy is taken by the save from the saved library.
TEST_F(PatchLibraryLayouts, WhatTheLoadCouldNotPlaceTheSaveKeeps)
{
    put("Pool/[0] Solo.qptc", patchBytes("Solo"));
    put("Pool/a.txt", Bytes{'a'});
    put("Pool/[1] G/[0] Inner/b.txt", Bytes{'b'});
    put("Pool/[1] G/[1] In.qptc", patchBytes("In"));
    const Inventory before = inventory(library());
    faulty.fail(Op::Link, ".txt");
    const CommonUtils::Tree tree = load();
    faulty.heal();
    EXPECT_FALSE(fs::exists(rootFolder + "/Temp/Local/a.txt"));
    ASSERT_TRUE(save(tree));
    EXPECT_EQ(inventory(library()), before);
}

// A patch file the load could not read (cut short by a copy still writing it, or damaged) is kept unread,
// and stays the library's whatever it reads as by the save: finished by that copy or repaired in place by the
// user during the run, it is carried by every save, and by the end's keeping of a pool whose save failed,
// and shows at the next start. Its group is the one the load read, through the copies of the pool the
// program hands its queue, a rename, and a deletion undone; deleted, the group takes it along for good.
TEST_F(PatchLibraryLayouts, AFileUnreadAtTheStartIsKeptOnceItReadsAgain)
{
    const std::string cutInGroup = "Pool/[0] G/[1] Cut.qptc";
    const std::string cutAtTop = "Pool/[2] Loose.qptc";
    using Tree = CommonUtils::Tree;
    // As the program hands the pool to the save: every node a copy of its own.
    const auto copies = [](const Tree& tree) {
        Tree copy;
        for (const auto& node : tree) copy.push_back(node->copy());
        return copy;
    };
    const struct {
        const char* what;
        // Its end written after the part the load met, else the whole file written again over it.
        bool byTheCopy;
        bool saveFails;
        // What the run does to the group holding one before it reads again; the pool it saves then.
        std::function<Tree(const Tree&)> during;
        // What the group shows at the next start ("" for none).
        std::string group;
    } cases[] = {
        {"finished by the copy still writing it", true, false, nullptr, "G"},
        {"repaired in place by the user", false, false, nullptr, "G"},
        {"repaired, and the run's save failing", false, true, nullptr, "G"},
        {"repaired, its group renamed", false, false,
         [&](const Tree& tree) {
             EXPECT_EQ(utils->renameGroup(*tree.front(), "H"), 0);
             return tree;
         },
         "H"},
        {"repaired, saved from copies of the pool", false, false, copies, "G"},
        {"repaired, saved from copies of the pool, the save failing", false, true, copies, "G"},
        {"repaired, its group deleted and the deletion undone from a copy", false, false,
         [&](const Tree& tree) {
             const auto back = tree.front()->copy();
             back->path = utils->deletePatchGroup(*tree.front());
             EXPECT_FALSE(back->path->empty());
             EXPECT_EQ(utils->undoPatchGroup(*back), rootFolder + "/Temp/Local/G");
             Tree undone = tree;
             undone.front() = back;
             return copies(undone);
         },
         "G"},
        {"repaired, its group deleted", false, false,
         [&](const Tree& tree) {
             EXPECT_FALSE(utils->deletePatchGroup(*tree.front()).empty());
             return copies(Tree(tree.begin() + 1, tree.end()));
         },
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        utils.reset();
        fs::remove_all(rootFolder);
        put("Pool/[0] G/[0] A.qptc", patchBytes("A"));
        put("Pool/[1] Top.qptc", patchBytes("Top"));
        const std::pair<std::string, Bytes> cut[] = {{cutInGroup, patchBytes("Cut")}, {cutAtTop, patchBytes("Loose")}};
        for (const auto& [relative, whole] : cut) put(relative, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2)));

        const Tree loaded = load();
        EXPECT_EQ(shown(loaded), (std::set<std::string>{"G/A", "Top"}));
        const Tree tree = c.during ? c.during(loaded) : loaded;
        for (const auto& [relative, whole] : cut) {
            std::ofstream out(library() + "/" + relative, std::ios::binary | (c.byTheCopy ? std::ios::app : std::ios::trunc));
            const std::size_t from = c.byTheCopy ? whole.size() / 2 : 0;
            out.write(reinterpret_cast<const char*>(whole.data()) + from, static_cast<std::streamsize>(whole.size() - from));
        }
        if (c.saveFails) {
            keepAfterAFailedSave(tree);
            // Over a library deleted since, the kept pool shows as it was left.
            fs::remove_all(library());
        } else {
            ASSERT_TRUE(save(tree));
            ASSERT_TRUE(save(tree)) << "every save";
        }
        std::set<std::string> expected{"Top", "Loose"};
        if (!c.group.empty()) expected.insert({c.group + "/A", c.group + "/Cut"});
        Tree next = load();
        EXPECT_EQ(shown(next), expected);
        if (c.group.empty()) continue;
        // Shown now, it is the user's to delete: the next start's record holds it no more.
        auto& children = next.front()->childDirectories;
        const auto cutNode = std::find_if(children.begin(), children.end(), [](const auto& child) { return child->name == "Cut"; });
        ASSERT_NE(cutNode, children.end());
        ASSERT_FALSE(utils->deletePatchItem(*(*cutNode)->patchItem(), next.front().get()).empty());
        children.erase(cutNode);
        ASSERT_TRUE(save(copies(next)));
        expected.erase(c.group + "/Cut");
        EXPECT_EQ(shown(load()), expected) << "deleted";
    }
}

// A group whose folder holds more than its patches (a stray file from another machine, a note, a folder
// within: all kept by the load) goes to the bin whole and comes back whole. Deleted, nothing of it fails
// the save or comes back at the next start; a folder of the working copy that no group names is never
// saved as a group.
TEST_F(PatchLibraryLayouts, ADeletedGroupGoesWithAllItsFolderHolds)
{
    put("Pool/[0] Lead.qptc", patchBytes("Lead"));
    put("Pool/[1] Blues/[0] a.qptc", patchBytes("A"));
    put("Pool/[1] Blues/.DS_Store", Bytes{1, 2, 3});
    put("Pool/[1] Blues/notes.txt", Bytes{'n'});
    put("Pool/[1] Blues/Old/[0] b.qptc", patchBytes("B"));
    put("Pool/[2] Jazz/[0] c.qptc", patchBytes("C"));
    CommonUtils::Tree tree = load();
    ASSERT_EQ(shown(tree), (std::set<std::string>{"Lead", "Blues/A", "Jazz/C"}));
    const auto blues = tree[1];
    const Strings held{".DS_Store", "Old", "a.qptc", "notes.txt"};

    const std::string inBin = utils->deletePatchGroup(*blues);
    EXPECT_EQ(inBin, rootFolder + "/Temp/RecycleBin/Blues");
    EXPECT_FALSE(fs::exists(rootFolder + "/Temp/Local/Blues"));
    EXPECT_EQ(names("Temp/RecycleBin/Blues"), held);
    blues->path = inBin;
    EXPECT_EQ(utils->undoPatchGroup(*blues), rootFolder + "/Temp/Local/Blues");
    EXPECT_EQ(names("Temp/Local/Blues"), held);
    EXPECT_EQ(names("Temp/Local/Blues/Old"), Strings{"[0] b.qptc"});

    ASSERT_FALSE(utils->deletePatchGroup(*blues).empty());
    tree.erase(tree.begin() + 1);
    // As a clean-up that failed could leave one behind.
    fs::create_directories(rootFolder + "/Temp/Local/Ghost");
    ASSERT_TRUE(files.writeAtomically(rootFolder + "/Temp/Local/Ghost/notes.txt", Bytes{'g'}));
    ASSERT_TRUE(save(tree));
    EXPECT_EQ(shown(load()), (std::set<std::string>{"Lead", "Jazz/C"}));
}

// A library that cannot be written whole (a staging folder, "Pool" or "Backup", not made; the old library
// not moved aside; the new one not moved in) is told with its cause, to the caller and to the user while
// the program runs: in the program's words, naming the user's library folder and none of the folders the
// save makes beside it.
TEST_F(PatchLibraryLayouts, ALibraryThatCannotBeWrittenIsToldByTheUsersFolderAndItsCause)
{
    put("Pool/[0] Solo.qptc", patchBytes("Solo"));
    struct Case {
        Op op;
        const char* part;
    };
    std::vector<std::pair<std::vector<std::string>, std::string>> asked;
    const auto words = [&](const std::vector<std::string>& entries, const std::string& folder,
                           const platform::Error& cause) {
        asked.emplace_back(entries, folder);
        return "words " + std::to_string(cause.code);
    };
    for (const Case& c : {Case{Op::CreateDirectory, "/Pool"}, Case{Op::CreateDirectory, "/Backup"},
                          Case{Op::Move, "QFXMacApplication/.Patch.old-"}, Case{Op::Move, "QFXMacApplication/.Patch-saving"}}) {
        SCOPED_TRACE(c.part);
        CommonUtils::Tree tree = load();
        utils->setSaveFailureWords(words);
        tree.push_back(group("New"));
        faulty.fail(c.op, c.part, 1, EACCES);
        asked.clear();
        std::atomic<bool> changed{true};
        const auto why = utils->savePatchPoolToLocal(tree, changed);
        faulty.heal();
        ASSERT_TRUE(why);
        EXPECT_EQ(*why, "words " + std::to_string(EACCES));
        ASSERT_EQ(asked.size(), 1U);
        EXPECT_TRUE(asked[0].first.empty());
        EXPECT_EQ(asked[0].second, rootFolder + "/QFXMacApplication/Patch");
        until("patchPoolNotSaved");
        EXPECT_EQ(recorder.notSavedReasons.back(), *why);
        EXPECT_TRUE(changed);
    }
    // Without the program's words the system's are used, still of the user's folder.
    const platform::Error denied = platform::Error::make("files", EACCES, "cannot move to \"/r/.Patch-old-12\": x");
    EXPECT_EQ(CommonUtils::defaultSaveFailureWords({}, "/r/Patch", denied),
              "\"/r/Patch\" could not be written: " + std::string(std::strerror(EACCES)));
}

// One entry that cannot be staged costs only itself: the others are saved in the pool's order, it keeps
// its last saved copy (one never saved is left out), the message names each, and the pool stays unsaved.
TEST_F(PatchLibraryLayouts, AnEntryThatCannotBeStagedCostsOnlyItself)
{
    put("Pool/[0] A.qptc", patchBytes("A"));
    put("Pool/[1] B.qptc", patchBytes("B"));
    put("Pool/[2] G/[0] C.qptc", patchBytes("C"));
    CommonUtils::Tree tree = load();
    ASSERT_EQ(order(tree), (Strings{"A", "B", "G/C"}));
    tree.push_back(leaf(writePatch("Temp/Local/D.qptc", "D"), "D"));
    tree.push_back(leaf(rootFolder + "/Temp/Local/Gone.qptc", "Gone"));
    faulty.fail(Op::Link, "Temp/Local/B.qptc");
    std::atomic<bool> changed{true};
    const auto why = utils->savePatchPoolToLocal(tree, changed);
    faulty.heal();
    ASSERT_TRUE(why);
    EXPECT_NE(why->find("\"B\""), std::string::npos) << *why;
    EXPECT_NE(why->find("\"Gone\""), std::string::npos) << *why;
    EXPECT_EQ(why->find("\"A\""), std::string::npos) << *why;
    EXPECT_NE(why->find("injected failure"), std::string::npos) << *why;
    EXPECT_TRUE(changed);
    until("patchPoolNotSaved");
    EXPECT_EQ(recorder.notSavedReasons, Strings{*why});
    EXPECT_EQ(order(load()), (Strings{"A", "B", "G/C", "D"}));
}

// The working copy of a run whose last save failed is kept at its end: the next start shows that pool in
// its order (not the older library), says so once, and its first save writes it, edited or not.
TEST_F(PatchLibraryLayouts, APoolKeptAtTheEndIsTheNextStartsPoolUntilItIsSaved)
{
    put("Pool/[0] A.qptc", patchBytes("A"));
    put("Pool/[1] G/[0] C.qptc", patchBytes("C"));
    put("Pool/[1] G/notes.txt", Bytes{'n'});
    put("Pool/[2] X.qptc", patchBytes("X"));
    CommonUtils::Tree tree = load();
    ASSERT_EQ(order(tree), (Strings{"A", "G/C", "X"}));
    const Inventory before = inventory(library());
    // A new group first, a new patch in G, the rest reversed, X taken out (its file left behind).
    const std::string local = rootFolder + "/Temp/Local";
    auto fresh = group("New");
    fresh->childDirectories.push_back(leaf(writePatch("Temp/Local/New/D.qptc", "D"), "D"));
    tree[1]->childDirectories.insert(tree[1]->childDirectories.begin(),
                                     leaf(writePatch("Temp/Local/G/F.qptc", "F"), "F"));
    CommonUtils::Tree edited{fresh, tree[1], tree[0], leaf(writePatch("Temp/Local/E.qptc", "E"), "E")};
    const Strings expected{"New/D", "G/F", "G/C", "A", "E"};
    // A folder no group names is no group, kept or not.
    fs::create_directories(local + "/Ghost");
    ASSERT_TRUE(files.writeAtomically(local + "/Ghost/notes.txt", Bytes{'g'}));
    faulty.fail(Op::CreateDirectory, ".Patch-saving");
    std::atomic<bool> changed{true};
    ASSERT_TRUE(utils->savePatchPoolToLocal(edited, changed));
    faulty.heal();
    EXPECT_EQ(utils->keepUnsavedPatchPool(), std::nullopt);
    EXPECT_EQ(inventory(library()), before);

    startLibrary();
    utils->createPatchDirectoryObjectFromLocal();
    const Strings heard = until("patchPoolKept");
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "patchPool"), 1);
    const CommonUtils::Tree next = recorder.patchPool;
    EXPECT_EQ(order(next), expected);
    EXPECT_TRUE(fs::exists(local + "/G/notes.txt"));
    std::atomic<bool> unchanged{false};
    EXPECT_FALSE(utils->savePatchPoolToLocal(next, unchanged));
    EXPECT_TRUE(fs::exists(library() + "/Pool/[1] G/notes.txt"));
    for (const auto& name : names(""))
        EXPECT_NE(name.rfind(CommonUtils::kKeptPool, 0), 0U) << name;

    // Saved, it is the library's pool again, and nothing more is said of it.
    EXPECT_EQ(order(load()), expected);
    const Strings later = settle();
    EXPECT_EQ(std::count(later.begin(), later.end(), "patchPoolKept"), 0);
}

namespace {

std::vector<std::string> keptIn(const fs::path& root)
{
    std::vector<std::string> kept;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root, ec))
        if (entry.path().filename().string().rfind(CommonUtils::kKeptPool, 0) == 0) kept.push_back(entry.path().filename().string());
    std::sort(kept.begin(), kept.end());
    return kept;
}

}  // namespace

// A kept pool is shown instead of the library only over the library it was made against. Over a library
// changed since (a patch added by hand), or one the failed run could not read, the start shows the library
// and the kept pool after it (its patches in a group named for its session), says so, and the first save
// writes both; nothing of either is dropped.
TEST_F(PatchLibraryLayouts, AKeptPoolMadeAgainstAnotherLibraryIsShownBesideIt)
{
    const struct {
        const char* what;
        bool unreadableInTheFailedRun;
    } cases[] = {{"a patch added by hand after the failed run", false}, {"a library the failed run could not read", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(rootFolder);
        put("Pool/[0] A.qptc", patchBytes("A"));
        put("Pool/[1] G/[0] C.qptc", patchBytes("C"));
        if (c.unreadableInTheFailedRun) faulty.fail(Op::List, "/Patch/Pool");
        CommonUtils::Tree tree = load();
        ASSERT_EQ(order(tree), c.unreadableInTheFailedRun ? Strings{} : (Strings{"A", "G/C"}));
        tree.push_back(leaf(writePatch("Temp/Local/E.qptc", "E"), "E"));
        std::atomic<bool> changed{true};
        if (c.unreadableInTheFailedRun) {
            // The save never replaces a library the run did not read, even when the store lets it.
            const auto why = utils->savePatchPoolToLocal(tree, changed);
            ASSERT_TRUE(why);
            EXPECT_NE(why->find(library() + "/Pool"), std::string::npos) << *why;
            EXPECT_NE(why->find(std::strerror(EIO)), std::string::npos) << *why;
            faulty.heal();
        } else {
            faulty.fail(Op::CreateDirectory, ".Patch-saving");
            ASSERT_TRUE(utils->savePatchPoolToLocal(tree, changed));
            faulty.heal();
        }
        EXPECT_EQ(utils->keepUnsavedPatchPool(), std::nullopt);
        ASSERT_EQ(keptIn(rootFolder).size(), 1U);
        EXPECT_EQ(names("QFXMacApplication/Patch/Pool"), (Strings{"[0] A.qptc", "[1] G"})) << "the library is whole";
        if (!c.unreadableInTheFailedRun) put("Pool/[2] Hand.qptc", patchBytes("Hand"));

        startLibrary();
        utils->createPatchDirectoryObjectFromLocal();
        const Strings heard = until("patchPoolKeptBeside");
        EXPECT_EQ(std::count(heard.begin(), heard.end(), "patchPoolKept"), 0);
        const CommonUtils::Tree next = recorder.patchPool;
        const auto named = std::find_if(next.begin(), next.end(),
                                        [](const auto& node) { return node->name.value_or("").starts_with("Kept session 20"); });
        ASSERT_NE(named, next.end());
        const std::string session = (*named)->name.value_or("");
        EXPECT_EQ(recorder.keptBeside.back(), "\"" + session + "\"");
        // The library in its order, then what the pool the failed run left holds that the library does not.
        const Strings expected = c.unreadableInTheFailedRun ? Strings{"A", "G/C", session + "/E"}
                                                            : Strings{"A", "G/C", "Hand", session + "/E"};
        EXPECT_EQ(order(next), expected);
        EXPECT_EQ(keptIn(rootFolder).size(), 1U) << "kept until a save writes it";
        std::atomic<bool> unchanged{false};
        EXPECT_FALSE(utils->savePatchPoolToLocal(next, unchanged));
        EXPECT_EQ(keptIn(rootFolder), Strings{});
        EXPECT_EQ(order(load()), expected);
        const Strings later = settle();
        EXPECT_EQ(std::count(later.begin(), later.end(), "patchPoolKeptBeside"), 0);
    }
}

// A kept pool a save has written is never shown again, even when it could not be put aside after that
// save: the next start finds the library that save wrote and removes it. A kill after the kept pool went
// aside but before the library was replaced leaves it the next start's pool.
TEST_F(PatchLibraryLayouts, AKeptPoolIsNeverShownAgainOnceASaveOfItLanded)
{
    put("Pool/[0] A.qptc", patchBytes("A"));
    CommonUtils::Tree tree = load();
    tree.push_back(leaf(writePatch("Temp/Local/E.qptc", "E"), "E"));
    keepAfterAFailedSave(tree);
    const Strings kept = keptIn(rootFolder);
    ASSERT_EQ(kept.size(), 1U);

    // Cut between the two steps of a save: the kept pool aside, the library not yet replaced by the one
    // that save was writing.
    fs::rename(fs::path(rootFolder) / kept[0], fs::path(rootFolder) / (kept[0] + ".taken-0123456789abcdef"));
    startLibrary();
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPoolKept");
    CommonUtils::Tree next = recorder.patchPool;
    EXPECT_EQ(order(next), (Strings{"A", "E"}));
    EXPECT_EQ(keptIn(rootFolder), kept);

    // The save lands, but the kept pool cannot be put aside after it.
    next.push_back(leaf(writePatch("Temp/Local/F.qptc", "F"), "F"));
    faulty.fail(Op::Move, ".Temp-old-kept");
    std::atomic<bool> changed{true};
    EXPECT_FALSE(utils->savePatchPoolToLocal(next, changed));
    faulty.heal();
    ASSERT_EQ(keptIn(rootFolder).size(), 1U);
    EXPECT_TRUE(CommonUtils::keptNameOf(keptIn(rootFolder)[0]).taken);

    EXPECT_EQ(order(load()), (Strings{"A", "E", "F"}));
    const Strings heard = settle();
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "patchPoolKept"), 0);
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "patchPoolKeptBeside"), 0);
    EXPECT_EQ(keptIn(rootFolder), Strings{});
}

// The keep moves the working copy aside whole before it names anything: refused, it says its own cause and
// leaves the working copy as it was. An entry it cannot rename (an I/O error, not a taken name) stays in the
// kept pool under its plain name, and the next start shows it.
TEST_F(PatchLibraryLayouts, TheKeepNeverLosesAnEntryItCouldNotName)
{
    put("Pool/[0] A.qptc", patchBytes("A"));
    CommonUtils::Tree tree = load();
    tree.push_back(leaf(writePatch("Temp/Local/E.qptc", "E"), "E"));
    std::atomic<bool> changed{true};
    faulty.fail(Op::CreateDirectory, ".Patch-saving");
    ASSERT_TRUE(utils->savePatchPoolToLocal(tree, changed));
    faulty.fail(Op::Move, "Temp/Local\n", 1, ENOSPC);
    const auto why = utils->keepUnsavedPatchPool();
    ASSERT_TRUE(why);
    EXPECT_NE(why->find(std::strerror(ENOSPC)), std::string::npos) << *why;
    EXPECT_EQ(names("Temp/Local"), (Strings{"A.qptc", "E.qptc"}));
    EXPECT_EQ(keptIn(rootFolder), Strings{});

    faulty.fail(Op::CreateDirectory, ".Patch-saving");
    ASSERT_TRUE(utils->savePatchPoolToLocal(tree, changed));
    faulty.fail(Op::Move, "/E.qptc\n", 1, EIO);
    EXPECT_EQ(utils->keepUnsavedPatchPool(), std::nullopt);
    faulty.heal();
    ASSERT_EQ(keptIn(rootFolder).size(), 1U);
    EXPECT_EQ(names(keptIn(rootFolder)[0]), (Strings{"E.qptc", "[0] A.qptc"}));
    startLibrary();
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPoolKept");
    EXPECT_EQ(shown(recorder.patchPool), (std::set<std::string>{"A", "E"}));
}

// Once a quit has begun, a run cut before its closing save lands keeps its pool for the next start as a
// failed save's is: in its order, with what landed after the save began, shown instead of the same library
// and said so. A run cut after that save replaced the library keeps nothing: the library holds its pool.
TEST_F(PatchLibraryLayouts, ARunCutWhileItsClosingSaveRunsKeepsItsPool)
{
    put("Pool/[0] A.qptc", patchBytes("A"));
    put("Pool/[1] G/[0] C.qptc", patchBytes("C"));
    CommonUtils::Tree tree = load();
    const CommonUtils::Tree edited{leaf(writePatch("Temp/Local/E.qptc", "E"), "E"), tree[1], tree[0]};
    utils->closeApp();
    // Cut before the library was replaced: the refused staging stands for the kill, and no keep follows.
    faulty.fail(Op::CreateDirectory, ".Patch-saving");
    std::atomic<bool> changed{true};
    ASSERT_TRUE(utils->savePatchPoolToLocal(edited, changed));
    faulty.heal();
    writePatch("Temp/Local/Late.qptc", "Late");

    startLibrary();
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPoolKept");
    CommonUtils::Tree next = recorder.patchPool;
    EXPECT_EQ(shown(next), (std::set<std::string>{"E", "G/C", "A", "Late"}));
    const Strings inOrder = order(next);
    EXPECT_LT(std::find(inOrder.begin(), inOrder.end(), "E"), std::find(inOrder.begin(), inOrder.end(), "G/C"));
    EXPECT_LT(std::find(inOrder.begin(), inOrder.end(), "G/C"), std::find(inOrder.begin(), inOrder.end(), "A"));

    // Cut after the library was replaced, before the note of the closing save went.
    utils->closeApp();
    faulty.fail(Op::Remove, ".closing-pool");
    EXPECT_FALSE(utils->savePatchPoolToLocal(next, changed));
    faulty.heal();
    EXPECT_TRUE(fs::exists(rootFolder + "/Temp/.closing-pool.taken"));
    EXPECT_EQ(order(load()), inOrder);
    const Strings heard = settle();
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "patchPoolKept"), 0);
    EXPECT_EQ(keptIn(rootFolder), Strings{});
}

// A closing save written while the program goes on (a power-off's) and a quit noted meanwhile with a
// pool changed since: the library gets the older pool, and the quit's note stays for the newer one, so a
// run cut before the end's own save keeps what was changed after the power-off.
TEST_F(PatchLibraryLayouts, AQuitNotedWhileAnEarlierClosingSaveIsWrittenKeepsItsOwnNote)
{
    put("Pool/[0] A.qptc", patchBytes("A"));
    CommonUtils::Tree tree = load();
    const CommonUtils::Tree first{tree[0], leaf(writePatch("Temp/Local/E.qptc", "E"), "E")};
    // The pool's queue is held until the quit is noted.
    std::mutex mutex;
    std::condition_variable changed;
    bool go = false;
    utils->keepUnsavedPatchPoolLater([&](const std::optional<std::string>&) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return go; });
    });
    ASSERT_EQ(utils->beginPatchPoolSave(first, true, true), std::optional<bool>(true));
    std::atomic<bool> written{false};
    std::optional<std::string> failure{"not written"};
    utils->writePatchPoolLater(first, true, [&](std::optional<std::string> cause) {
        failure = std::move(cause);
        written = true;
    });
    const CommonUtils::Tree second{tree[0], first[1], leaf(writePatch("Temp/Local/F.qptc", "F"), "F")};
    utils->noteQuitAsked(second, true);
    {
        std::lock_guard lock(mutex);
        go = true;
    }
    changed.notify_all();
    ASSERT_TRUE(loop.runUntil([&] { return written.load(); }));
    EXPECT_EQ(failure, std::nullopt);
    EXPECT_TRUE(fs::exists(library() + "/Pool/[1] E.qptc"));
    EXPECT_TRUE(fs::exists(rootFolder + "/Temp/.closing-pool")) << "the quit's note went with the earlier save";

    // Cut here: the next start keeps what the quit noted.
    startLibrary();
    utils->createPatchDirectoryObjectFromLocal();
    until("patchPool");
    settle();
    // Shown beside the library the earlier save wrote (the note was made against the one before), F
    // once and E only where the library holds it.
    const Strings next = order(recorder.patchPool);
    const auto named = [&](const std::string& name) {
        return std::count_if(next.begin(), next.end(), [&](const std::string& entry) {
            return entry == name || fs::path(entry).filename() == name;
        });
    };
    EXPECT_EQ(named("F"), 1);
    EXPECT_EQ(named("E"), 1);
}

// ---- which library a kept pool belongs to ----

class KeptPoolIdentity : public PatchLibraryLayouts {
protected:
    // A run that loads the library, adds the patch `added` and ends with its save failed: its pool is kept.
    void keepAFailedRun(const std::string& added)
    {
        CommonUtils::Tree tree = load();
        tree.push_back(leaf(writePatch("Temp/Local/" + added + ".qptc", added), added));
        keepAfterAFailedSave(tree);
    }
    // A save cut off between putting the `kept` pools it holds aside and replacing the library: the
    // library cannot be moved aside, and nothing taken goes back.
    void cutTheSaveBeforeTheSwap(int kept)
    {
        faulty.fail(Op::Move, "/QFXMacApplication/Patch\n");
        faulty.alsoFail(Op::Move, ".taken", 1000, EIO, kept);
    }
};

// The same library seen again, on a drive mounted again (other device and inode numbers) or copied back
// with its times kept: the kept pool is the pool the user left, shown instead of it, nothing twice.
TEST_F(KeptPoolIdentity, TheSameLibraryRemountedOrCopiedBackIsKnownAgain)
{
    for (const bool copied : {false, true}) {
        SCOPED_TRACE(copied ? "cp -a" : "remount");
        // The last start's clean-up ends with it, before its folder goes.
        utils.reset();
        fs::remove_all(rootFolder);
        put("Pool/[0] A.qptc", patchBytes("A"));
        put("Pool/[1] G/[0] C.qptc", patchBytes("C"));
        put("Backup/[2] B/[0] D.qptc", patchBytes("D"));
        keepAFailedRun("E");
        if (copied) {
            const std::string away = root / "away";
            fs::remove_all(away);
            ASSERT_EQ(std::system(("cp -a '" + library() + "' '" + away + "'").c_str()), 0);
            fs::remove_all(library());
            ASSERT_EQ(std::system(("cp -a '" + away + "' '" + library() + "'").c_str()), 0);
        } else {
            faulty.remount();
        }
        const Strings heard = start();
        EXPECT_EQ(count(heard, "patchPoolKept"), 1);
        EXPECT_EQ(count(heard, "patchPoolKeptBeside"), 0);
        const Strings expected{"A", "G/C", "B/D", "E"};
        EXPECT_EQ(order(recorder.patchPool), expected);
        std::atomic<bool> unchanged{false};
        EXPECT_FALSE(utils->savePatchPoolToLocal(recorder.patchPool, unchanged));
        EXPECT_EQ(keptIn(rootFolder), Strings{});
        EXPECT_EQ(order(load()), expected);
    }
}

// Beside a library changed since, a kept pool brings in only what its session added or changed, and the
// message names what came in.
TEST_F(KeptPoolIdentity, BesideAChangedLibraryOnlyWhatTheSessionChangedComesIn)
{
    put("Pool/[0] A.qptc", patchBytes("A"));
    put("Pool/[1] Live Set/[0] C.qptc", patchBytes("C"));
    put("Pool/[2] Other/[0] O.qptc", patchBytes("O"));
    put("Backup/[3] B/[0] D.qptc", patchBytes("D"));
    CommonUtils::Tree tree = load();
    ASSERT_EQ(order(tree), (Strings{"A", "Live Set/C", "Other/O", "B/D"}));
    // The session adds a patch to "Live Set" and one at the top.
    tree[1]->childDirectories.push_back(leaf(writePatch("Temp/Local/Live Set/F.qptc", "F"), "F"));
    tree.push_back(leaf(writePatch("Temp/Local/E.qptc", "E"), "E"));
    keepAfterAFailedSave(tree);
    put("Pool/[4] Hand.qptc", patchBytes("Hand"));

    const Strings heard = start();
    ASSERT_EQ(count(heard, "patchPoolKeptBeside"), 1);
    const CommonUtils::Tree next = recorder.patchPool;
    const auto session = std::find_if(next.begin(), next.end(), [](const auto& node) {
        return node->name.value_or("").starts_with("Kept session 20");
    });
    ASSERT_NE(session, next.end());
    const std::string named = (*session)->name.value_or("");
    EXPECT_EQ(order(next), (Strings{"A", "Live Set/C", "Other/O", "B/D", "Hand", named + "/E", "Live Set (1)/F"}));
    EXPECT_EQ(recorder.keptBeside.back(), "\"" + named + "\", \"Live Set (1)\"");
    std::atomic<bool> unchanged{false};
    EXPECT_FALSE(utils->savePatchPoolToLocal(next, unchanged));
    EXPECT_EQ(keptIn(rootFolder), Strings{});
}

// A copy that did not keep times (cp -r) holds what the library held, byte for byte: it is the same
// library, and the session that renamed its top patch is shown instead of it, nothing twice.
TEST_F(KeptPoolIdentity, ALibraryCopiedWithoutItsTimesIsTheSameLibrary)
{
    put("Pool/[0] A.qptc", patchBytes("A"));
    put("Pool/[1] G/[0] C.qptc", patchBytes("C"));
    put("Pool/[1] G/[1] Inner/[0] I.qptc", patchBytes("I"));
    put("Backup/[3] B/[0] D.qptc", patchBytes("D"));
    CommonUtils::Tree tree = load();
    // The session renames the top patch.
    tree[0] = leaf(writePatch("Temp/Local/Renamed.qptc", "A"), "Renamed");
    keepAfterAFailedSave(tree);
    utils.reset();
    const std::string away = root / "away";
    ASSERT_EQ(std::system(("cp -r '" + library() + "' '" + away + "'").c_str()), 0);
    fs::remove_all(library());
    // A second apart, so that no time the copy gives can match the library's.
    const auto later = fs::file_time_type::clock::now() + std::chrono::seconds(5);
    ASSERT_EQ(std::system(("cp -r '" + away + "' '" + library() + "'").c_str()), 0);
    for (const auto& entry : fs::recursive_directory_iterator(library()))
        if (entry.is_regular_file()) fs::last_write_time(entry.path(), later);

    const Strings heard = start();
    EXPECT_EQ(count(heard, "patchPoolKept"), 1);
    EXPECT_EQ(count(heard, "patchPoolKeptBeside"), 0);
    EXPECT_EQ(order(recorder.patchPool), (Strings{"A", "G/C", "B/D"}));
    EXPECT_TRUE(fs::exists(rootFolder + "/Temp/Local/Renamed.qptc")) << "the session's file, not the library's";
}

// A power-off the system calls off leaves the run open: a save that fails after it is told, as before.
TEST_F(KeptPoolIdentity, APowerOffCalledOffLeavesTheRunOpen)
{
    put("Pool/[0] A.qptc", patchBytes("A"));
    CommonUtils::Tree tree = load();
    tree.push_back(leaf(writePatch("Temp/Local/E.qptc", "E"), "E"));
    utils->setPowerEvents(&power);
    utils->setPatchPoolSaver([&] {
        std::atomic<bool> changed{true};
        utils->savePatchPoolToLocal(tree, changed);
    });
    power.powerOff();
    settle();
    ASSERT_TRUE(fs::exists(library() + "/Pool/[1] E.qptc")) << "saved at the power-off";
    EXPECT_FALSE(fs::exists(rootFolder + "/Temp/.closing-pool"));
    tree.push_back(leaf(writePatch("Temp/Local/F.qptc", "F"), "F"));
    faulty.fail(Op::CreateDirectory, ".Patch-saving");
    std::atomic<bool> changed{true};
    ASSERT_TRUE(utils->savePatchPoolToLocal(tree, changed));
    faulty.heal();
    EXPECT_EQ(count(settle(), "patchPoolNotSaved"), 1);
    EXPECT_FALSE(utils->isClosing()) << "no quit was asked";
    // The failed save's pool is noted for a run cut from here on.
    EXPECT_TRUE(fs::exists(rootFolder + "/Temp/.closing-pool"));
}

// A save that fails while the program runs leaves a note a run cut after it keeps its edits by, the same
// over a library the run could not read; a save that lands after it takes the note away, whether a plain
// save or a power-off's the system called off wrote it, and a run cut then shows the library alone. A
// group whose name breaks a line comes back under its name; a folder of patches the note does not name
// (a group made after it, the change not noted yet) comes back as a group after the pool, never dropped.
TEST_F(KeptPoolIdentity, AFailedSavesNoteKeepsACutRunUntilASaveLands)
{
    // The run's pool, as the window shows it.
    CommonUtils::Tree tree;
    const struct {
        const char* what;
        bool unreadable;
        bool failedAtAPowerOff;
        bool landsAfter;
        Strings shownAfterTheCut;
        // A group the pool holds before the save, with one patch "X" in it.
        std::string group;
        // What the run did to its working copy after the note, the change not noted yet (a kill in its turn).
        std::function<void()> afterTheNote;
    } cases[] = {
        {"a full store", false, false, false, {"A", "E"}, "", nullptr},
        {"a library the run could not read", true, false, false, {"A", "Kept/E"}, "", nullptr},
        {"a full store, then a save that lands", false, false, true, {"A", "F"}, "", nullptr},
        {"a power-off's save on a full store, then a save that lands", false, true, true, {"A", "F"}, "", nullptr},
        {"a group whose name holds line breaks and the note's escapes", false, false, false,
         {"A", "E", "Two\nLines %0A 100%\r/X"}, "Two\nLines %0A 100%\r", nullptr},
        {"a folder of patches the note does not name", false, false, false, {"A", "E", "Later/S"}, "",
         [&] { writePatch("Temp/Local/Later/S.qptc", "S"); }},
        {"a patch at the top the note does not name", false, false, false, {"A", "E", "S"}, "",
         [&] { writePatch("Temp/Local/S.qptc", "S"); }},
        {"a patch in a noted group the note does not name", false, false, false, {"A", "E", "G/X", "G/S"}, "G",
         [&] { writePatch("Temp/Local/G/S.qptc", "S"); }},
        {"a noted group renamed since", false, false, false, {"A", "E", "New/X"}, "G",
         [&] { fs::rename(rootFolder + "/Temp/Local/G", rootFolder + "/Temp/Local/New"); }},
        {"a noted group deleted since", false, false, false, {"A", "E"}, "G",
         [&] {
             fs::create_directories(rootFolder + "/Temp/RecycleBin");
             fs::rename(rootFolder + "/Temp/Local/G", rootFolder + "/Temp/RecycleBin/G");
         }},
        {"a Backup All made since", false, false, false, {"A", "E", "Backup 1/S"}, "",
         [&] {
             auto slot = std::make_shared<PatchItem>();
             slot->path = writePatch("Temp/Device/Patch/S.qptc", "S");
             EXPECT_EQ(utils->backupPatchListWithName("Backup 1", {slot}), 1);
         }},
        {"a folder holding only a copy's half-written file", false, false, false, {"A", "E"}, "",
         [&] {
             fs::create_directories(rootFolder + "/Temp/Local/Later");
             fs::copy_file(writePatch("Temp/Local/S.qptc", "S"), rootFolder + "/Temp/Local/Later/.S.qptc.tmp-12-3");
             fs::remove(rootFolder + "/Temp/Local/S.qptc");
         }},
        {"the library changed by another program since", false, false, false, {"A", "Hand", "Kept/E"}, "",
         [&] { put("Pool/[1] Hand.qptc", patchBytes("Hand")); }},
        // E deleted, F added: the note cannot be written again (a full disk) and names E still.
        {"a change the note cannot be written again for", false, false, false, {"A", "F"}, "",
         [&] {
             fs::remove(rootFolder + "/Temp/Local/E.qptc");
             tree.back() = leaf(writePatch("Temp/Local/F.qptc", "F"), "F");
             faulty.fail(Op::Write, ".closing-pool");
             utils->noteQuitAgain(tree, true);
             faulty.heal();
             const auto note = files.readFile(rootFolder + "/Temp/.closing-pool");
             ASSERT_TRUE(note);
             EXPECT_NE(std::string(note->begin(), note->end()).find("E.qptc"), std::string::npos) << "the older note";
         }},
        {"a change, then a save that lands without it", false, false, false, {"A", "E", "F"}, "",
         [&] {
             tree.push_back(leaf(writePatch("Temp/Local/F.qptc", "F"), "F"));
             utils->noteQuitAgain(tree, true);
             faulty.fail(Op::Link, "Temp/Local/F.qptc");
             std::atomic<bool> changed{true};
             EXPECT_TRUE(utils->savePatchPoolToLocal(tree, changed));
             faulty.heal();
             EXPECT_TRUE(fs::exists(library() + "/Pool/[1] E.qptc"));
             ASSERT_TRUE(fs::exists(rootFolder + "/Temp/.closing-pool")) << "the library does not hold F";
         }},
        {"a quit asked, its save failing too, cut before the end", false, false, false, {"A", "F"}, "",
         [&] {
             fs::remove(rootFolder + "/Temp/Local/E.qptc");
             tree.back() = leaf(writePatch("Temp/Local/F.qptc", "F"), "F");
             utils->noteQuitAsked(tree, true);
             faulty.fail(Op::CreateDirectory, ".Patch-saving");
             std::atomic<bool> changed{true};
             EXPECT_TRUE(utils->savePatchPoolToLocal(tree, changed));
             faulty.heal();
         }},
        {"a change, then a second power-off whose save fails", false, true, false, {"A", "F"}, "",
         [&] {
             fs::remove(rootFolder + "/Temp/Local/E.qptc");
             tree.back() = leaf(writePatch("Temp/Local/F.qptc", "F"), "F");
             utils->noteQuitAgain(tree, true);
             faulty.fail(Op::CreateDirectory, ".Patch-saving");
             power.powerOff();
             settle();
             faulty.heal();
             EXPECT_FALSE(utils->isClosing()) << "called off";
         }},
        {"a change, then a second save that fails", false, false, false, {"A", "F"}, "",
         [&] {
             fs::remove(rootFolder + "/Temp/Local/E.qptc");
             tree.back() = leaf(writePatch("Temp/Local/F.qptc", "F"), "F");
             utils->noteQuitAgain(tree, true);
             faulty.fail(Op::CreateDirectory, ".Patch-saving");
             std::atomic<bool> changed{true};
             EXPECT_TRUE(utils->savePatchPoolToLocal(tree, changed));
             faulty.heal();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(rootFolder);
        put("Pool/[0] A.qptc", patchBytes("A"));
        if (c.unreadable) faulty.fail(Op::List, "/Patch/Pool");
        tree = load();
        faulty.heal();
        tree.push_back(leaf(writePatch("Temp/Local/E.qptc", "E"), "E"));
        if (!c.group.empty()) tree.push_back(group(c.group, {writePatch("Temp/Local/" + c.group + "/X.qptc", "X")}));
        faulty.fail(Op::CreateDirectory, ".Patch-saving");
        if (c.failedAtAPowerOff) {
            utils->setPowerEvents(&power);
            utils->setPatchPoolSaver([&] {
                std::atomic<bool> changed{true};
                utils->savePatchPoolToLocal(tree, changed);
            });
            power.powerOff();
            settle();
            ASSERT_FALSE(utils->isClosing()) << "called off";
        } else {
            std::atomic<bool> changed{true};
            ASSERT_TRUE(utils->savePatchPoolToLocal(tree, changed));
        }
        faulty.heal();
        ASSERT_TRUE(fs::exists(rootFolder + "/Temp/.closing-pool"));
        if (c.afterTheNote) c.afterTheNote();
        if (c.landsAfter) {
            // E deleted, F added: a note left standing would bring E back.
            tree.back() = leaf(writePatch("Temp/Local/F.qptc", "F"), "F");
            std::atomic<bool> changed{true};
            ASSERT_FALSE(utils->savePatchPoolToLocal(tree, changed));
            EXPECT_FALSE(fs::exists(rootFolder + "/Temp/.closing-pool"));
        }

        start();
        Strings shown = order(recorder.patchPool);
        for (auto& name : shown)
            if (name.starts_with("Kept session 20")) name = "Kept" + name.substr(name.find('/'));
        EXPECT_EQ(shown, c.shownAfterTheCut);
        for (const auto& node : recorder.patchPool)
            if (node->name == "Backup 1") {
                EXPECT_TRUE(node->isBackUpAllGroup) << "a backup of the whole list";
            }
    }
}

// A save that put the kept pool aside and was cut before it replaced the library: the next start takes the
// kept pool back as long as the library is not the one that save wrote, a remount since included.
TEST_F(KeptPoolIdentity, AKeptPoolTakenByACutSaveComesBackAfterARemount)
{
    put("Pool/[0] A.qptc", patchBytes("A"));
    keepAFailedRun("E");
    ASSERT_EQ(count(start(), "patchPoolKept"), 1);
    CommonUtils::Tree tree = recorder.patchPool;
    cutTheSaveBeforeTheSwap(1);
    std::atomic<bool> changed{true};
    ASSERT_TRUE(utils->savePatchPoolToLocal(tree, changed));
    faulty.heal();
    ASSERT_EQ(keptIn(rootFolder).size(), 1U);
    ASSERT_TRUE(CommonUtils::keptNameOf(keptIn(rootFolder)[0]).taken);
    faulty.remount();

    const Strings heard = start();
    EXPECT_EQ(count(heard, "patchPoolKept"), 1);
    EXPECT_EQ(order(recorder.patchPool), (Strings{"A", "E"}));
    EXPECT_EQ(keptIn(rootFolder).size(), 1U);
}

// The closing save's note is judged by the library that save wrote: a library changed by hand during the
// run does not make a cut save read as landed.
TEST_F(KeptPoolIdentity, AClosingSaveCutOverALibraryChangedDuringTheRunKeepsItsPool)
{
    put("Pool/[0] A.qptc", patchBytes("A"));
    CommonUtils::Tree tree = load();
    tree.push_back(leaf(writePatch("Temp/Local/E.qptc", "E"), "E"));
    put("Pool/[1] Hand.qptc", patchBytes("Hand"));
    utils->closeApp();
    cutTheSaveBeforeTheSwap(0);
    std::atomic<bool> changed{true};
    ASSERT_TRUE(utils->savePatchPoolToLocal(tree, changed));
    faulty.heal();
    ASSERT_TRUE(fs::exists(rootFolder + "/Temp/.closing-pool.taken"));

    const Strings heard = start();
    EXPECT_EQ(count(heard, "patchPoolKeptBeside"), 1);
    const Strings shownNow = order(recorder.patchPool);
    EXPECT_EQ(std::count_if(shownNow.begin(), shownNow.end(), [](const std::string& name) { return name.ends_with("/E"); }), 1);
    EXPECT_EQ(std::count(shownNow.begin(), shownNow.end(), "A"), 1);
    EXPECT_EQ(std::count(shownNow.begin(), shownNow.end(), "Hand"), 1);
}

// A kept pool shown beside a changed library, whose closing save was cut after it was put aside, comes
// back once: within the pool of the cut run, never beside it a second time.
TEST_F(KeptPoolIdentity, AKeptPoolTakenByACutClosingSaveComesBackOnce)
{
    put("Pool/[0] A.qptc", patchBytes("A"));
    keepAFailedRun("E");
    put("Pool/[1] Hand.qptc", patchBytes("Hand"));
    ASSERT_EQ(count(start(), "patchPoolKeptBeside"), 1);
    const CommonUtils::Tree tree = recorder.patchPool;
    const Strings before = order(tree);
    utils->closeApp();
    cutTheSaveBeforeTheSwap(1);
    std::atomic<bool> changed{true};
    ASSERT_TRUE(utils->savePatchPoolToLocal(tree, changed));
    faulty.heal();

    const Strings heard = start();
    EXPECT_EQ(count(heard, "patchPoolKept"), 1);
    EXPECT_EQ(count(heard, "patchPoolKeptBeside"), 0);
    EXPECT_EQ(order(recorder.patchPool), before);
    EXPECT_EQ(keptIn(rootFolder).size(), 1U);
}

// A save that lands without one entry has written the kept pool it holds: a run cut after it never shows
// that kept pool again; it shows the cut run's own pool, the entry left out included, each once.
TEST_F(KeptPoolIdentity, AKeptPoolASaveWroteIsNeverShownAgainThoughAnEntryWasLeftOut)
{
    put("Pool/[0] A.qptc", patchBytes("A"));
    put("Pool/[1] B.qptc", patchBytes("B"));
    keepAFailedRun("E");
    ASSERT_EQ(count(start(), "patchPoolKept"), 1);
    CommonUtils::Tree tree = recorder.patchPool;
    tree.push_back(leaf(writePatch("Temp/Local/F.qptc", "F"), "F"));
    faulty.fail(Op::Link, "Temp/Local/F.qptc");
    std::atomic<bool> changed{true};
    ASSERT_TRUE(utils->savePatchPoolToLocal(tree, changed));
    faulty.heal();
    EXPECT_EQ(keptIn(rootFolder), Strings{});

    const Strings heard = start();
    EXPECT_EQ(count(heard, "patchPoolKept"), 1);
    EXPECT_EQ(count(heard, "patchPoolKeptBeside"), 0);
    EXPECT_EQ(order(recorder.patchPool), (Strings{"A", "B", "E", "F"}));
}

// A save that cannot read back the library it staged cannot say which library it writes: it replaces
// nothing, so no kept pool it holds is marked for a library no start finds, to come back after it landed.
TEST_F(KeptPoolIdentity, ASaveThatCannotReadBackWhatItStagedReplacesNothing)
{
    put("Pool/[0] A.qptc", patchBytes("A"));
    put("Pool/[1] B.qptc", patchBytes("B"));
    keepAFailedRun("E");
    ASSERT_EQ(count(start(), "patchPoolKept"), 1);
    CommonUtils::Tree tree = recorder.patchPool;
    ASSERT_EQ(order(tree), (Strings{"A", "B", "E"}));
    // The session deletes "A"; the kept pool is cut off where the save would drop it.
    tree.erase(tree.begin());
    faulty.fail(Op::List, ".Patch-saving", 1);
    faulty.alsoFail(Op::Move, ".taken", 1000, EIO, 1);
    std::atomic<bool> changed{true};
    utils->savePatchPoolToLocal(tree, changed);
    ASSERT_EQ(utils->keepUnsavedPatchPool(), std::nullopt);
    faulty.heal();

    const Strings heard = start();
    EXPECT_EQ(count(heard, "patchPoolKeptBeside"), 0);
    EXPECT_EQ(order(recorder.patchPool), (Strings{"B", "E"}));
}

// A folder the load could not list makes a run that could not read its library: the user is told which
// and why, the rest is shown, and no save replaces the library, so the group is never written as empty.
TEST_F(KeptPoolIdentity, AGroupTheLoadCouldNotListIsNeverSavedAway)
{
    put("Pool/[0] A.qptc", patchBytes("A"));
    put("Pool/[1] G/[0] C.qptc", patchBytes("C"));
    const Inventory before = inventory(library());
    faulty.fail(Op::List, "/Pool/[1] G", 1000, EACCES);
    const Strings heard = start();
    faulty.heal();
    ASSERT_EQ(count(heard, "patchLibraryNotRead"), 1);
    const std::string reason = recorder.notReadReasons.back();
    EXPECT_NE(reason.find(library() + "/Pool/[1] G"), std::string::npos) << reason;
    EXPECT_NE(reason.find(std::strerror(EACCES)), std::string::npos) << reason;
    CommonUtils::Tree tree = recorder.patchPool;
    EXPECT_EQ(shown(tree), (std::set<std::string>{"A", "G/"}));
    tree.push_back(leaf(writePatch("Temp/Local/E.qptc", "E"), "E"));
    std::atomic<bool> changed{true};
    const auto why = utils->savePatchPoolToLocal(tree, changed);
    ASSERT_TRUE(why);
    EXPECT_EQ(*why, reason);
    EXPECT_EQ(inventory(library()), before);
    // A run cut after the failed save shows the library whole, the session's patch kept beside it.
    const Strings next = order(load());
    ASSERT_EQ(next.size(), 3U) << ::testing::PrintToString(next);
    EXPECT_EQ(Strings(next.begin(), next.begin() + 2), (Strings{"A", "G/C"}));
    EXPECT_TRUE(next[2].starts_with("Kept session 20") && next[2].ends_with("/E")) << next[2];
}

// A "Backup" linked to a drive that is not there now is a part the start could not read: the user is told,
// no save moves the link aside or replaces the library, and once the drive is back its backups show again
// with the session's patch beside them.
TEST_F(KeptPoolIdentity, ALibraryPartLinkedToADriveNotThereIsNeverSavedAway)
{
    const fs::path elsewhere = fs::path(root.path()) / "other drive" / "Backups";
    put("Pool/[0] A.qptc", patchBytes("A"));
    link("Backup", elsewhere);
    Strings heard = start();
    EXPECT_EQ(count(heard, "patchLibraryNotRead"), 1);
    EXPECT_EQ(count(heard, "patchLibraryPartKeptAside"), 0);
    EXPECT_EQ(order(recorder.patchPool), (Strings{"A"}));
    CommonUtils::Tree tree = recorder.patchPool;
    tree.push_back(leaf(writePatch("Temp/Local/E.qptc", "E"), "E"));
    std::atomic<bool> changed{true};
    EXPECT_TRUE(utils->savePatchPoolToLocal(tree, changed));
    EXPECT_TRUE(fs::is_symlink(library() + "/Backup")) << "the link stays where the user put it";
    EXPECT_FALSE(fs::exists(fs::symlink_status(library() + "/Backup (not a folder)")));
    ASSERT_EQ(utils->keepUnsavedPatchPool(), std::nullopt);

    fs::create_directories(elsewhere / "[1] B");
    std::ofstream(elsewhere / "[1] B" / "[0] D.qptc", std::ios::binary)
        .write(reinterpret_cast<const char*>(patchBytes("D").data()), static_cast<std::streamsize>(patchBytes("D").size()));
    heard = start();
    EXPECT_EQ(count(heard, "patchLibraryNotRead"), 0);
    const Strings shownNow = order(recorder.patchPool);
    ASSERT_EQ(shownNow.size(), 3U);
    EXPECT_EQ(Strings(shownNow.begin(), shownNow.begin() + 2), (Strings{"A", "B/D"}));
    EXPECT_TRUE(shownNow[2].ends_with("/E")) << shownNow[2];
}

// A "Backup" that is a link to a folder on another drive is read through the link, and the library is
// saved; a "Pool" that is a plain file is named to the user, kept as it is beside the part, and never
// hides the rest of the library.
TEST_F(KeptPoolIdentity, ALibraryPartThatIsALinkIsReadAndOneThatIsNoFolderIsKeptAside)
{
    const fs::path elsewhere = fs::path(root.path()) / "other drive" / "Backups";
    fs::create_directories(elsewhere / "[1] B");
    std::ofstream(elsewhere / "[1] B" / "[0] D.qptc", std::ios::binary)
        .write(reinterpret_cast<const char*>(patchBytes("D").data()), static_cast<std::streamsize>(patchBytes("D").size()));
    // The record is written within the data folder, as the program writes it, then taken to the drive.
    fs::create_directories(rootFolder);
    ASSERT_TRUE(BackupFile::saveBackupFile(BackupFile::initWithName("B", "Unit").get(), rootFolder + "/record", rootFolder));
    fs::rename(rootFolder + "/record", elsewhere / "[1] B" / BackupFile::kFileName);
    put("Pool/[0] A.qptc", patchBytes("A"));
    link("Backup", elsewhere);
    Strings heard = start();
    EXPECT_EQ(order(recorder.patchPool), (Strings{"A", "B/D"}));
    CommonUtils::Tree tree = recorder.patchPool;
    tree.push_back(leaf(writePatch("Temp/Local/E.qptc", "E"), "E"));
    EXPECT_TRUE(save(tree));
    EXPECT_TRUE(fs::is_symlink(library() + "/Backup")) << "the link stays the user's";
    EXPECT_TRUE(fs::exists(elsewhere / "[1] B" / "[0] D.qptc")) << "written where the link points";
    EXPECT_EQ(order(load()), (Strings{"A", "B/D", "E"}));

    utils.reset();
    fs::remove_all(library());
    put("Backup/[1] B/[0] D.qptc", patchBytes("D"));
    const Bytes mine{'n', 'o', 't', 'e', 's'};
    put("Pool", mine);
    heard = start();
    EXPECT_EQ(count(heard, "patchLibraryPartKeptAside"), 1);
    EXPECT_EQ(recorder.keptAside.back(), "Pool -> Pool (not a folder)");
    EXPECT_EQ(order(recorder.patchPool), (Strings{"B/D"}));
    tree = recorder.patchPool;
    tree.push_back(leaf(writePatch("Temp/Local/E.qptc", "E"), "E"));
    EXPECT_TRUE(save(tree));
    std::ifstream in(library() + "/Pool (not a folder)", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "notes");
    EXPECT_EQ(order(load()), (Strings{"B/D", "E"}));
    // A later save carries the kept file over once, as it is.
    tree = recorder.patchPool;
    tree.push_back(leaf(writePatch("Temp/Local/F.qptc", "F"), "F"));
    EXPECT_TRUE(save(tree));
    Strings top;
    for (const auto& entry : fs::directory_iterator(library())) top.push_back(entry.path().filename().string());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (Strings{"Backup", "Pool", "Pool (not a folder)"}));
    EXPECT_EQ(order(load()), (Strings{"B/D", "E", "F"}));
}

// A run cut while its quit waited for a drop's copies, over the files the patches were being copied from
// as the next start finds them: each patch the quit showed comes back once and in its place, from the copy
// that landed after the note or from its file, and a file that no longer holds a patch is named instead.
TEST_F(KeptPoolIdentity, PatchesStillBeingCopiedComeBackOnceFromWhatTheirFilesHoldNow)
{
    const std::string junk = "no patch";
    struct Case {
        const char* what;
        // Dropped files ("G/" first: dropped into the group) and the patch each holds.
        std::vector<std::pair<std::string, std::string>> drops;
        // Copies that landed after the note, within the working copy.
        std::vector<std::pair<std::string, std::string>> landed;
        // Each dropped file as the next start finds it: nothing to remove it, a folder, or other bytes.
        std::vector<std::pair<std::string, std::optional<std::string>>> changed;
        Strings expected;
        Strings named;
    };
    const std::vector<Case> cases = {
        {"two files alike, one copy landed", {{"one.qptc", "Twin"}, {"two.qptc", "Twin"}}, {{"Twin.qptc", "Twin"}}, {},
         {"A", "G/C", "Twin", "Twin"}, {}},
        {"a copy landed in its group", {{"G/late.qptc", "Late"}}, {{"G/Late.qptc", "Late"}}, {}, {"A", "G/C", "G/Late"}, {}},
        {"a name holding a line break", {{"New\nLine.qptc", "NL"}, {"G/In\nG.qptc", "InG"}}, {}, {},
         {"A", "G/C", "G/InG", "NL"}, {}},
        {"files gone, a folder now, no patch now, too large now",
         {{"gone.qptc", "Gone"}, {"dir.qptc", "Dir"}, {"G/junk.qptc", "Junk"}, {"big.qptc", "Big"}, {"kept.qptc", "Kept"}},
         {},
         {{"gone.qptc", std::nullopt}, {"dir.qptc", "/"}, {"G/junk.qptc", junk}, {"big.qptc", std::string(1 << 20, 'x')}},
         {"A", "G/C", "Kept"},
         // The first three in the pool's order, and how many.
         {"drops/junk.qptc\", ", "gone.qptc", "dir.qptc", "(4)"}},
    };
    const fs::path drops = root / "drops";
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        utils.reset();
        fs::remove_all(rootFolder);
        fs::remove_all(drops);
        fs::create_directories(drops);
        recorder.keptWithout.clear();
        put("Pool/[0] A.qptc", patchBytes("A"));
        put("Pool/[1] G/[0] C.qptc", patchBytes("C"));
        CommonUtils::Tree tree = load();
        ASSERT_EQ(order(tree), (Strings{"A", "G/C"}));
        for (const auto& [file, name] : each.drops) {
            const bool intoGroup = file.starts_with("G/");
            const std::string path = (drops / file.substr(intoGroup ? 2 : 0)).string();
            ASSERT_TRUE(files.writeAtomically(path, patchBytes(name)));
            (intoGroup ? tree[1]->childDirectories : tree).push_back(leaf(path, name));
        }
        utils->noteQuitAsked(tree, true);
        ASSERT_TRUE(fs::exists(rootFolder + "/Temp/.closing-pool"));
        for (const auto& [file, name] : each.landed) writePatch("Temp/Local/" + file, name);
        for (const auto& [file, now] : each.changed) {
            const fs::path path = drops / fs::path(file).filename();
            fs::remove(path);
            if (now == "/") fs::create_directory(path);
            else if (now) std::ofstream(path, std::ios::binary) << *now;
        }

        const Strings heard = start();
        EXPECT_EQ(count(heard, "patchPoolKept"), 1);
        EXPECT_EQ(order(recorder.patchPool), each.expected);
        EXPECT_EQ(count(heard, "patchPoolKeptWithout"), each.named.empty() ? 0 : 1);
        for (const auto& file : each.named) {
            ASSERT_EQ(recorder.keptWithout.size(), 1U);
            EXPECT_NE(recorder.keptWithout[0].find(file), std::string::npos) << recorder.keptWithout[0];
        }
    }
}

// A patch of a drop still being copied when the quit was noted, edited while the quit waits: the edit lands
// its copy first and rewrites it, and the quit noted again names that copy. The next start shows the edit,
// the patch once and in its place, whatever its texts hold (a line break, a "%" the note's escapes use); so
// it does when the run is cut in the edit's own turn, before the quit is noted again (the note still names
// the dropped file, which holds other bytes than the edited copy now).
TEST_F(KeptPoolIdentity, APendingPatchEditedWhileTheQuitWaitsComesBackEdited)
{
    struct Case {
        const char* what;
        std::string name;
        std::string comment;
        bool notedAgain = true;
        // Further files of the same patch dropped after it, whose copies took "Late (n)" and were edited too.
        int twins = 0;
        // The edited copy deleted in the same turn: what was dropped comes back as dropped, never lost.
        bool deleted = false;
    };
    const std::vector<Case> cases = {
        {"renamed", "Renamed", ""},
        {"its comment edited", "Late", "after the drop"},
        {"both", "Both", "and a comment"},
        {"texts of the note's own marks", "50%0A%25", "line\nbreak %0D\r\nend"},
        {"renamed, cut before the quit is noted again", "Renamed", "", false},
        {"both, cut before the quit is noted again", "Both", "and a comment", false},
        {"two of one name renamed, cut before the quit is noted again", "First", "", false, 1},
        {"three of one name, their comments edited, cut before the quit is noted again", "Late", "one", false, 2},
        {"renamed then deleted, cut before the quit is noted again", "Renamed", "gone", false, 0, true},
    };
    const fs::path drops = root / "drops";
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        utils.reset();
        fs::remove_all(rootFolder);
        fs::remove_all(drops);
        fs::create_directories(drops);
        put("Pool/[0] A.qptc", patchBytes("A"));
        put("Pool/[1] G/[0] C.qptc", patchBytes("C"));
        CommonUtils::Tree tree = load();
        ASSERT_EQ(order(tree), (Strings{"A", "G/C"}));
        const std::string source = (drops / "late.qptc").string();
        ASSERT_TRUE(files.writeAtomically(source, patchBytes("Late")));
        auto node = leaf(source, "Late");
        tree[1]->childDirectories.push_back(node);
        std::vector<std::shared_ptr<DirectoryObject>> twins;
        for (int n = 1; n <= each.twins; ++n) {
            const std::string twinSource = (drops / ("twin " + std::to_string(n) + ".qptc")).string();
            ASSERT_TRUE(files.writeAtomically(twinSource, patchBytes("Late")));
            twins.push_back(leaf(twinSource, "Late"));
            tree[1]->childDirectories.push_back(twins.back());
        }
        tree[1]->childDirectories.push_back(leaf(writePatch("Temp/Local/G/D.qptc", "D"), "D"));
        utils->noteQuitAsked(tree, true);
        Strings expected{"A", "G/C", "G/" + each.name, "G/D"};
        for (int n = 1; n <= each.twins; ++n) {
            auto& twin = twins[n - 1];
            PatchItem& other = *twin->patchItem();
            other.path = writePatch("Temp/Local/G/Late (" + std::to_string(n) + ").qptc", "Late");
            other.patchName = each.name + " " + std::to_string(n);
            other.patchComment = each.comment + " " + std::to_string(n);
            ASSERT_TRUE(utils->editFilePatch(other));
            twin->name = other.patchName;
            expected.insert(expected.begin() + 2 + n, "G/" + other.patchName);
        }

        // The copy lands, then the edit rewrites it.
        PatchItem& item = *node->patchItem();
        item.path = writePatch("Temp/Local/G/Late.qptc", "Late");
        item.patchName = each.name;
        item.patchComment = each.comment;
        ASSERT_TRUE(utils->editFilePatch(item));
        node->name = item.patchName;
        std::string comment = item.patchComment;
        if (each.deleted) {
            fs::create_directories(rootFolder + "/Temp/RecycleBin");
            fs::rename(item.path, rootFolder + "/Temp/RecycleBin/Late.qptc");
            expected[2] = "G/Late";
            comment.clear();
        }
        if (each.notedAgain) utils->noteQuitAgain(tree, true);

        start();
        EXPECT_EQ(order(recorder.patchPool), expected);
        ASSERT_EQ(recorder.patchPool.size(), 2U);
        ASSERT_EQ(recorder.patchPool[1]->childDirectories.size(), expected.size() - 1);
        const PatchItem* shown = recorder.patchPool[1]->childDirectories[1]->patchItem();
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->patchComment, comment);
        // The dropped file was never written to.
        EXPECT_EQ(files.readFile(source), patchBytes("Late"));
    }
}
