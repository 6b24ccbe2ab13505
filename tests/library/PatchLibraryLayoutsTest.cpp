#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
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
using Tree = CommonUtils::Tree;
using Names = std::set<std::string>;

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

// As the program hands the pool to its queue: every node a copy of its own.
Tree copies(const Tree& tree)
{
    Tree copy;
    for (const auto& node : tree) copy.push_back(node->copy());
    return copy;
}

}  // namespace

// The checks every start over a kept pool shares.
class KeptPoolStarts : public PatchLibrary {
protected:
    // A start that shows the kept pool `instead` times instead of the library, `beside` times beside it, and
    // shows `shown` (a kept session's group as "Kept"); what it said.
    Strings startShows(long instead, long beside, const Strings& shown)
    {
        Strings heard = start();
        EXPECT_EQ(count(heard, "patchPoolKept"), instead);
        EXPECT_EQ(count(heard, "patchPoolKeptBeside"), beside);
        EXPECT_EQ(asKept(order(recorder.patchPool)), shown);
        return heard;
    }
    // The pool shown is saved as it is; the next start shows it so and says nothing more of a kept pool.
    void savedAndShownAgain(const Strings& shown)
    {
        EXPECT_EQ(save(recorder.patchPool, false), std::nullopt);
        SCOPED_TRACE("as saved");
        startShows(0, 0, shown);
    }
};

class PatchLibraryLayouts : public KeptPoolStarts {
protected:
    // The tree as the user sees it, in no order.
    static Names shown(const Tree& tree)
    {
        const Strings listed = order(tree);
        return Names(listed.begin(), listed.end());
    }
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
    // A save of `tree` the faults set refuse, told to the caller and, the pool still marked changed, to the
    // user; why.
    std::string refusedSave(const Tree& tree)
    {
        std::atomic<bool> changed{true};
        const auto why = utils->savePatchPoolToLocal(tree, changed);
        faulty.heal();
        EXPECT_TRUE(why);
        EXPECT_TRUE(changed);
        EXPECT_EQ(count(until("patchPoolNotSaved"), "patchPoolNotSaved"), 1);
        EXPECT_EQ(recorder.notSavedReasons.empty() ? "" : recorder.notSavedReasons.back(), why.value_or(""));
        return why.value_or("");
    }
    // Solo, and Newer of a generation no unit has, loaded (a unit `connected` first) with reads counted.
    Tree loadCountingReads(bool connected, const Names& expected)
    {
        put("Pool/[0] Solo.qptc", library_files::patchFile("Solo"));
        put("Pool/[1] G/[0] Newer.qptc", library_files::patchFile("Newer", {}, 2));
        startLibrary();
        if (connected) connect();
        faulty.countReads(".qptc");
        utils->createPatchDirectoryObjectFromLocal();
        until("patchPool");
        EXPECT_EQ(shown(recorder.patchPool), expected);
        return recorder.patchPool;
    }
    // A file written at `path` outside the library.
    void write(const fs::path& path, const std::string& name)
    {
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(files.writeAtomically(path.string(), patchBytes(name)));
    }
};

// Each library is loaded, saved and loaded again: the tree shows only readable patches in the pool and
// its groups, and every file, link and special file of the library is still there after the save.
TEST_F(PatchLibraryLayouts, EveryFileIsAccountedForAcrossALoadAndASave)
{
    const fs::path outside = root / "outside";
    write(outside / "secret.qptc", "Secret");
    write(outside / "Pool/[0] Far.qptc", "Far");
    Bytes truncated = patchBytes("Cut");
    truncated.resize(truncated.size() / 2);
    const struct {
        const char* what;
        std::function<void()> layOut;
        Names expected;
    } cases[] = {
        {"a group named with a dot",
         [&] { lay({"Pool/[0] Live 2.0/[0] A.qptc", "Pool/[1] Live 2.0/[0] B.qptc", "Pool/[2] Solo.qptc", "Pool/[3] v1.qptc/[0] C.qptc"}); },
         {"Live 2.0/A", "Live 2.0 (1)/B", "Solo", "v1.qptc/C"}},
        {"groups within groups",
         [&] { lay({"Pool/[4] Outer/[0] Inner/[0] Nested.qptc", "Pool/[5] Both/[0] Direct.qptc", "Pool/[5] Both/[1] Deep/[0] Deeper/[0] Far.qptc"}); },
         {"Outer/", "Both/Direct"}},
        {"damaged patch files",
         [&] {
             lay({"Pool/[0] Good.qptc", "Pool/[4] G/[1] Fine.qptc"});
             put("Pool/[1] Cut.qptc", truncated);
             put("Pool/[2] Noise.qptc", Bytes{'P', 'T', 'C', 'F', 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3});
             put("Pool/[3] Empty.qptc", {});
             put("Pool/[4] G/[0] Bad.qptc", Bytes(40, 0xAB));
             put("Backup/[5] B/[0] Zero.qptc", {});
         },
         {"Good", "G/Fine", "B/"}},
        {"files of other kinds",
         [&] {
             lay({"Pool/[0] Kept.qptc", "Pool/b.QPTC", "Pool/c.qptc.bak", "Pool/[1] G/[0] In.qptc"});
             for (const char* other : {"Pool/a.txt", "Pool/[1] G/notes.txt", "Pool/BackupInfo.backup", "readme.txt"}) put(other, Bytes{'n'});
         },
         {"Kept", "G/In"}},
        {"links and special files",
         [&] {
             lay({"Pool/[0] Good.qptc", "Pool/[4] G/[1] Mine.qptc"});
             link("Pool/[1] Zero.qptc", "/dev/zero");
             fifo("Pool/[2] Pipe.qptc");
             link("Pool/[3] Out.qptc", outside / "secret.qptc");
             link("Pool/[4] G/[0] Out.qptc", outside / "secret.qptc");
             fifo("Pool/[4] G/BackupInfo.backup");
             link("Pool/[5] Away", outside);
         },
         {"Good", "G/Mine"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        anew();
        c.layOut();
        const Inventory before = inventory(library());
        for (int round = 0; round < 2; ++round) {
            const Tree tree = load();
            EXPECT_EQ(shown(tree), c.expected);
            ASSERT_TRUE(saved(tree));
            EXPECT_EQ(inventory(library()), before);
        }
        EXPECT_EQ(inventory(outside).files.size(), 2U);
    }
}

// A library moved aside that is a link, or that cannot be removed, never stands in the save's way, and
// never brings a folder from outside into the library.
TEST_F(PatchLibraryLayouts, AsideFoldersNeitherBlockTheSaveNorPullInOutsideFiles)
{
    const fs::path outside = root / "outside";
    write(outside / "Pool/[0] Far.qptc", "Far");
    fs::create_directories(rootFolder + "/QFXMacApplication");
    fs::create_symlink(outside, rootFolder + "/QFXMacApplication/.Patch-old");
    EXPECT_TRUE(load().empty());
    EXPECT_FALSE(fs::exists(fs::symlink_status(library())));

    fs::remove(rootFolder + "/QFXMacApplication/.Patch-old");
    lay({"Pool/[0] Solo.qptc"});
    fs::create_directories(rootFolder + "/QFXMacApplication/.Patch-old/Pool");
    Tree tree = load();
    ASSERT_EQ(shown(tree), Names{"Solo"});
    // The stale aside cannot be removed: each save takes a fresh one.
    faulty.fail(Op::Remove, ".Patch-old");
    for (int round = 0; round < 2; ++round) {
        tree.push_back(group("Set " + std::to_string(round)));
        EXPECT_TRUE(saved(tree));
        EXPECT_TRUE(fs::is_directory(library() + "/Pool/[" + std::to_string(round + 1) + "] Set " + std::to_string(round)));
    }
    faulty.heal();
    EXPECT_EQ(inventory(outside).files.size(), 1U);
    EXPECT_EQ(shown(load()), (Names{"Solo", "Set 0/", "Set 1/"}));
}

// A save that fails leaves the saved library as it was; while the program runs the user is told (the
// caller is told why, to say it at the end), at the end nothing is shown.
TEST_F(PatchLibraryLayouts, AFailedSaveIsReportedWhileRunningAndKeepsTheLibrary)
{
    lay({"Pool/[0] Solo.qptc"});
    Tree tree = load();
    const Inventory before = inventory(library());
    tree.push_back(group("New"));
    faulty.fail(Op::Move, "QFXMacApplication/.Patch-saving");
    EXPECT_FALSE(refusedSave(tree).empty());
    EXPECT_EQ(inventory(library()), before);

    utils->closeApp();
    faulty.fail(Op::Move, "QFXMacApplication/.Patch-saving");
    EXPECT_FALSE(saved(tree));
    EXPECT_EQ(inventory(library()), before);
    EXPECT_EQ(count(settle(), "patchPoolNotSaved"), 0);
    faulty.heal();
}

// Copies asked before a save land first, in the nodes that asked them, even in the same turn: the save
// holds them and never a copy's temporary file, which a library left by an older run may hold.
TEST_F(PatchLibraryLayouts, ASaveLandsTheCopiesAskedBeforeItAndCarriesNoTemporary)
{
    lay({"Pool/[0] Live/[0] A.qptc"});
    put("Pool/[0] Live/.B.qptc.tmp-4242-7", patchBytes("B"));
    put("Pool/.Solo.qptc.tmp-4242-8", patchBytes("Solo"));
    Tree tree = load();
    ASSERT_EQ(shown(tree), Names{"Live/A"});
    std::vector<std::shared_ptr<DirectoryObject>> asked;
    std::vector<CommonUtils::PatchCopy> copied;
    for (const char* name : {"C", "D", "E"}) {
        const std::string source = writePatch(std::string("Temp/Device/Patch/") + name + ".qptc", name);
        asked.push_back(leaf(source, ""));
        tree[0]->childDirectories.push_back(asked.back());
        copied.push_back({source, rootFolder + "/Temp/Local/Live"});
    }
    int landings = 0;
    utils->writeFilePatchesLater(copied, [&](std::vector<CommonUtils::CopiedPatch> results) {
        ++landings;
        for (std::size_t i = 0; i < results.size(); ++i)
            if (results[i].item) asked[i]->patchItem()->path = results[i].item->path;
    });
    ASSERT_TRUE(saved(tree));
    EXPECT_EQ(landings, 1);
    EXPECT_EQ(names("QFXMacApplication/Patch/Pool"), (Strings{"[0] Live"}));
    EXPECT_EQ(names("QFXMacApplication/Patch/Pool/[0] Live"), (Strings{"[0] A.qptc", "[1] C.qptc", "[2] D.qptc", "[3] E.qptc"}));
    // Nothing is left to land on a later turn.
    settle();
    EXPECT_EQ(landings, 1);
}

// A copy into a group whose name holds a dot lands in the group, replacing or not.
TEST_F(PatchLibraryLayouts, CopiesIntoADotNamedGroupLandInIt)
{
    lay({"Pool/[0] Live 2.0/[0] A.qptc"});
    ASSERT_EQ(shown(load()), Names{"Live 2.0/A"});
    const std::string group = rootFolder + "/Temp/Local/Live 2.0";
    const std::string source = writePatch("Temp/Device/Patch/1.qptc", "A");
    for (bool replace : {false, true}) {
        const auto copied = utils->writeFilePatchWithPath(source, group, {replace, false, -1});
        ASSERT_TRUE(copied);
        EXPECT_EQ(fs::path(copied->path).parent_path(), fs::path(group));
    }
    EXPECT_EQ(names("Temp/Local/Live 2.0"), (Strings{"A (1).qptc", "A.qptc"}));
}

// Files dropped from another program keep working under any name the file system takes: one that is not
// UTF-8, and a kept name near the length limit, are copied for the list and the pool, saved and loaded.
TEST_F(PatchLibraryLayouts, DroppedFilesWithOddNamesAreCopiedSavedAndLoadedAgain)
{
    EXPECT_TRUE(load().empty());
    const fs::path outside = root / "outside";
    // The last at the limit: the saved library's "[n] " prefix must not push it over.
    const std::pair<fs::path, const char*> dropped[] = {{outside / "\xFF\xFE.qptc", "Odd"},
                                                        {outside / ("(1)" + std::string(236, 'k') + ".qptc"), "Kept"},
                                                        {outside / ("(2)" + std::string(242, 'f') + "\xE3\x81\x82.qptc"), "Full"}};
    Tree tree;
    for (const auto& [source, name] : dropped) {
        SCOPED_TRACE(name);
        write(source, name);
        ASSERT_TRUE(utils->checkFilePatchWithfilePath(source));
        EXPECT_TRUE(utils->writeFilePatchWithPath(source, rootFolder + "/Temp/Device/Patch", {false, false, -1}));
        const auto copied = utils->writeFilePatchWithPath(source, rootFolder + "/Temp/Local", {false, false, -1});
        ASSERT_TRUE(copied);
        tree.push_back(leaf(copied->path, copied->patchName));
    }
    tree.push_back(group("G", {tree.back()->path.value_or("")}));
    EXPECT_TRUE(saved(tree));
    EXPECT_EQ(shown(load()), (Names{"Odd", "Kept", "Full", "G/Full"}));
}

// A user who moved the library, or the whole data folder, elsewhere and left a link sees the pool, and
// the save writes through the link: the library stays where the link points and the link stays a link.
// Inside the library a link is still kept unread.
TEST_F(PatchLibraryLayouts, ALinkedLibraryOrDataFolderIsLoadedAndSavedThrough)
{
    const fs::path disk = root / "disk";
    // Which folder was moved to the other disk, and the library's place below it.
    const std::pair<const char*, const char*> cases[] = {{"QFXMacApplication/Patch", ""}, {"QFXMacApplication", "Patch"}, {"", "QFXMacApplication/Patch"}};
    for (const auto& [moved, below] : cases) {
        SCOPED_TRACE(std::string("a link at \"") + moved + "\"");
        anew();
        fs::remove_all(disk);
        const fs::path link = *moved ? fs::path(rootFolder) / moved : fs::path(rootFolder);
        const fs::path library = *below ? disk / "moved" / below : disk / "moved";
        write(library / "Pool/[0] Solo.qptc", "Solo");
        write(library / "Pool/[1] Set/[0] A.qptc", "A");
        fs::create_symlink(root / "outside.qptc", library / "Pool/[2] Link.qptc");
        fs::create_directories(link.parent_path());
        fs::create_directory_symlink(disk / "moved", link);

        Tree tree = load();
        ASSERT_EQ(shown(tree), (Names{"Solo", "Set/A"}));
        tree.push_back(group("New"));
        EXPECT_TRUE(saved(tree));
        EXPECT_EQ(fs::read_symlink(link), disk / "moved");
        EXPECT_TRUE(fs::is_directory(library / "Pool/[2] New"));
        EXPECT_EQ(inventory(library).links, (std::multiset<std::string>{root / "outside.qptc"}));
        EXPECT_EQ(shown(load()), (Names{"Solo", "Set/A", "New/"}));
        // A save cut off once the library was moved aside, its staged successor not yet moved in: the next
        // start finds it beside the link's target.
        fs::create_directories(library.parent_path() / ".Patch-saving-00000000000000000001/Pool");
        fs::rename(library, library.parent_path() / ".Patch-old-00000000000000000001");
        EXPECT_EQ(shown(load()), (Names{"Solo", "Set/A", "New/"}));
        EXPECT_TRUE(fs::is_symlink(link));
    }
}

// The working copy shares the saved library's files until it changes one: renaming, commenting, moving
// and renaming a group there leave every saved byte as it was, until the save takes the edits.
TEST_F(PatchLibraryLayouts, EditsInTheWorkingCopyLeaveTheSavedLibraryUntilTheSave)
{
    lay({"Pool/[0] Solo.qptc", "Pool/[1] Blues/[1] Rhythm.qptc"});
    put("Pool/[1] Blues/[0] Lead.qptc", patchBytes("Lead", {'e', 'n'}));
    const Inventory before = inventory(library());
    Tree tree = load();
    ASSERT_EQ(shown(tree), (Names{"Solo", "Blues/Lead", "Blues/Rhythm"}));
    PatchItem& solo = *tree[0]->patchItem();
    PatchItem& lead = *tree[1]->childDirectories[0]->patchItem();
    PatchItem& rhythm = *tree[1]->childDirectories[1]->patchItem();
    struct stat inLibrary {}, working {};
    ASSERT_EQ(::stat((library() + "/Pool/[0] Solo.qptc").c_str(), &inLibrary), 0);
    ASSERT_EQ(::stat(solo.path.c_str(), &working), 0);
    EXPECT_EQ(inLibrary.st_ino, working.st_ino);
    const std::pair<const char*, std::function<bool()>> edits[] = {
        {"rename a patch", [&] { return utils->editFilePatch(solo = editOf(solo.path, "Lone")); }},
        {"comment a patch", [&] { return utils->editFilePatch(lead = editOf(lead.path, "Lead", "a new comment")); }},
        {"move a patch out of its group", [&] { return !(rhythm.path = utils->movePatchItem(rhythm, "")).empty(); }},
        {"rename the group", [&] { return utils->renameGroup(*tree[1], "Slow Blues") == 0; }},
    };
    for (const auto& [what, edit] : edits) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(edit());
        EXPECT_EQ(inventory(library()), before);
    }
    ASSERT_TRUE(saved(tree));
    EXPECT_NE(inventory(library()), before);
    const Names after = shown(load());
    EXPECT_TRUE(after.count("Lone") == 1 && after.count("Slow Blues/Lead") == 1) << ::testing::PrintToString(after);
}

// With a device connected the load reads each patch once for the tree, its mark and its warning, and the
// window's update of that very tree reads nothing; a later update judges on the pool's queue from what the
// load read, reading only a file rewritten since, and sets the marks on the main thread.
TEST_F(PatchLibraryLayouts, MarksComeFromTheLoadsOwnReadingThenFromThePoolsQueue)
{
    const Tree tree = loadCountingReads(true, {"Solo", "G/Newer"});
    ASSERT_FALSE(HasFailure());
    const auto solo = tree[0];
    const auto newer = tree[1]->childDirectories[0];
    const auto marks = [&](bool soloMark, bool newerMark, int reads) {
        EXPECT_EQ(solo->isIncompatible, soloMark);
        EXPECT_EQ(newer->isIncompatible, newerMark);
        EXPECT_EQ(faulty.reads(), reads);
    };
    marks(false, true, 2);
    EXPECT_FALSE(solo->patchItem()->effectDictionnary.empty());
    EXPECT_EQ(utils->poolWarningsJudgedAgainst(tree), utils->effectTablesGeneration());

    utils->updateDirectoryObjectForPatchPool(tree);
    EXPECT_EQ(count(settle(), "patchPoolMarks"), 0);
    EXPECT_EQ(faulty.reads(), 2);

    solo->isIncompatible = true;
    newer->isIncompatible = false;
    utils->updateDirectoryObjectForPatchPool(tree);
    until("patchPoolMarks");
    marks(false, true, 2);
    // A file rewritten since the load is read again.
    ASSERT_TRUE(files.writeAtomically(solo->patchItem()->path, library_files::patchFile("Solo", {}, 2)));
    utils->updateDirectoryObjectForPatchPool(tree);
    until("patchPoolMarks");
    marks(true, true, 3);
}

// A unit connecting after the load began: the load read each file without a unit to judge it for, and the
// unit's marks and warnings come in one pass from that same reading; the window asks no other pass while
// it runs, and every file was read once.
TEST_F(PatchLibraryLayouts, AUnitConnectingAfterTheLoadBeganIsJudgedFromTheLoadsReading)
{
    put("Pool/[1] G/[1] Lead.qptc", library_files::patchFile("Lead", {0x0D000001, 1}));
    const Tree tree = loadCountingReads(false, {"Solo", "G/Newer", "G/Lead"});
    ASSERT_FALSE(HasFailure());
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
        const PatchItem& item = *leaf->patchItem();
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
    const Tree tree = load();
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
    const auto patch = [](int g, int p) { return "P" + std::to_string(g) + "-" + std::to_string(p); };
    for (int g = 0; g < kGroups; ++g)  // groups 20 and up share the plain name "Same"
        for (int p = 2; p >= 0; --p)
            put("Pool/[" + std::to_string(g) + "] " + (g >= 20 ? std::string("Same") : "G" + std::to_string(g)) + "/[" +
                    std::to_string(p) + "] " + patch(g, p) + ".qptc",
                patchBytes(patch(g, p)));
    lay({"Pool/[99] Last.qptc"});
    put("Pool/odd.txt", Bytes{'x'});
    const Inventory before = inventory(library());
    const Tree tree = load();
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
            EXPECT_EQ(child->name, patch(g, p));
            EXPECT_EQ(child->patchItem()->path, local + "/" + name + "/" + patch(g, p) + ".qptc");
            EXPECT_TRUE(fs::is_regular_file(child->patchItem()->path));
        }
    }
    EXPECT_EQ(tree.back()->name, "Last");
    EXPECT_TRUE(fs::exists(local + "/odd.txt"));
    ASSERT_TRUE(saved(tree));
    EXPECT_EQ(inventory(library()), before);
}

// An entry the load could not take into the working copy is taken by the save from the saved library.
TEST_F(PatchLibraryLayouts, WhatTheLoadCouldNotPlaceTheSaveKeeps)
{
    lay({"Pool/[0] Solo.qptc", "Pool/[1] G/[1] In.qptc"});
    put("Pool/a.txt", Bytes{'a'});
    put("Pool/[1] G/[0] Inner/b.txt", Bytes{'b'});
    const Inventory before = inventory(library());
    faulty.fail(Op::Link, ".txt");
    const Tree tree = load();
    faulty.heal();
    EXPECT_FALSE(fs::exists(rootFolder + "/Temp/Local/a.txt"));
    ASSERT_TRUE(saved(tree));
    EXPECT_EQ(inventory(library()), before);
}

// A patch file the load could not read (cut short, or damaged) is kept unread and stays the library's: once
// it reads again it is carried by every save and by the end's keep, in the group the load read it in
// (renamed, copied, undone); deleted, the group takes it along for good.
TEST_F(PatchLibraryLayouts, AFileUnreadAtTheStartIsKeptOnceItReadsAgain)
{
    const struct {
        const char* what;
        bool byTheCopy;  // its end written after the part the load met, else the whole file written again over it
        bool saveFails;
        // What the run does to the group holding one before it reads again; the pool it saves then.
        std::function<Tree(const Tree&)> during;
        std::string group;  // what the group shows at the next start ("" for none)
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
    const std::pair<std::string, Bytes> cut[] = {{"Pool/[0] G/[1] Cut.qptc", patchBytes("Cut")}, {"Pool/[2] Loose.qptc", patchBytes("Loose")}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        anew();
        lay({"Pool/[0] G/[0] A.qptc", "Pool/[1] Top.qptc"});
        for (const auto& [relative, whole] : cut) put(relative, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2)));

        const Tree loaded = load();
        EXPECT_EQ(shown(loaded), (Names{"G/A", "Top"}));
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
            ASSERT_TRUE(saved(tree));
            ASSERT_TRUE(saved(tree)) << "every save";
        }
        Names expected{"Top", "Loose"};
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
        ASSERT_TRUE(saved(copies(next)));
        expected.erase(c.group + "/Cut");
        EXPECT_EQ(shown(load()), expected) << "deleted";
    }
}

// A group whose folder holds more than its patches goes to the bin and back whole; deleted, nothing of it
// comes back, and a folder no group names is never saved as a group.
TEST_F(PatchLibraryLayouts, ADeletedGroupGoesWithAllItsFolderHolds)
{
    lay({"Pool/[0] Lead.qptc", "Pool/[1] Blues/[0] A.qptc", "Pool/[1] Blues/Old/[0] B.qptc", "Pool/[2] Jazz/[0] C.qptc"});
    put("Pool/[1] Blues/.DS_Store", Bytes{1, 2, 3});
    put("Pool/[1] Blues/notes.txt", Bytes{'n'});
    Tree tree = load();
    ASSERT_EQ(shown(tree), (Names{"Lead", "Blues/A", "Jazz/C"}));
    const auto blues = tree[1];
    const Strings held{".DS_Store", "A.qptc", "Old", "notes.txt"};

    const std::string inBin = utils->deletePatchGroup(*blues);
    EXPECT_EQ(inBin, rootFolder + "/Temp/RecycleBin/Blues");
    EXPECT_FALSE(fs::exists(rootFolder + "/Temp/Local/Blues"));
    EXPECT_EQ(names("Temp/RecycleBin/Blues"), held);
    blues->path = inBin;
    EXPECT_EQ(utils->undoPatchGroup(*blues), rootFolder + "/Temp/Local/Blues");
    EXPECT_EQ(names("Temp/Local/Blues"), held);
    EXPECT_EQ(names("Temp/Local/Blues/Old"), Strings{"[0] B.qptc"});

    ASSERT_FALSE(utils->deletePatchGroup(*blues).empty());
    tree.erase(tree.begin() + 1);
    // As a clean-up that failed could leave one behind.
    writePatch("Temp/Local/Ghost/notes.txt", "g");
    ASSERT_TRUE(saved(tree));
    EXPECT_EQ(shown(load()), (Names{"Lead", "Jazz/C"}));
}

// A library that cannot be written whole is told with its cause in the program's words (else the
// system's), naming the user's library folder and none of the folders the save makes beside it.
TEST_F(PatchLibraryLayouts, ALibraryThatCannotBeWrittenIsToldByTheUsersFolderAndItsCause)
{
    lay({"Pool/[0] Solo.qptc"});
    std::vector<std::pair<std::vector<std::string>, std::string>> asked;
    const auto words = [&](const std::vector<std::string>& entries, const std::string& folder, const platform::Error& cause) {
        asked.emplace_back(entries, folder);
        return "words " + std::to_string(cause.code);
    };
    const std::pair<Op, const char*> cases[] = {{Op::CreateDirectory, "/Pool"}, {Op::CreateDirectory, "/Backup"},
                                                {Op::Move, "QFXMacApplication/.Patch.old-"}, {Op::Move, "QFXMacApplication/.Patch-saving"}};
    for (const auto& [op, part] : cases) {
        SCOPED_TRACE(part);
        Tree tree = load();
        utils->setSaveFailureWords(words);
        tree.push_back(group("New"));
        faulty.fail(op, part, 1, EACCES);
        asked.clear();
        EXPECT_EQ(refusedSave(tree), "words " + std::to_string(EACCES));
        ASSERT_EQ(asked.size(), 1U);
        EXPECT_TRUE(asked[0].first.empty());
        EXPECT_EQ(asked[0].second, rootFolder + "/QFXMacApplication/Patch");
    }
    const platform::Error denied = platform::Error::make("files", EACCES, "cannot move to \"/r/.Patch-old-12\": x");
    EXPECT_EQ(CommonUtils::defaultSaveFailureWords({}, "/r/Patch", denied),
              "\"/r/Patch\" could not be written: " + std::string(std::strerror(EACCES)));
}

// One entry that cannot be staged costs only itself: the others are saved in the pool's order, it keeps
// its last saved copy (one never saved is left out), the message names each, and the pool stays unsaved.
TEST_F(PatchLibraryLayouts, AnEntryThatCannotBeStagedCostsOnlyItself)
{
    lay({"Pool/[0] A.qptc", "Pool/[1] B.qptc", "Pool/[2] G/[0] C.qptc"});
    Tree tree = load();
    ASSERT_EQ(order(tree), (Strings{"A", "B", "G/C"}));
    add(tree, "D").push_back(leaf(rootFolder + "/Temp/Local/Gone.qptc", "Gone"));
    faulty.fail(Op::Link, "Temp/Local/B.qptc");
    const std::string why = refusedSave(tree);
    for (const char* named : {"\"B\"", "\"Gone\"", "injected failure"}) EXPECT_NE(why.find(named), std::string::npos) << why;
    EXPECT_EQ(why.find("\"A\""), std::string::npos) << why;
    EXPECT_EQ(recorder.notSavedReasons.size(), 1U);
    EXPECT_EQ(order(load()), (Strings{"A", "B", "G/C", "D"}));
}

// The working copy of a run whose last save failed is kept at its end: the next start shows that pool in
// its order (not the older library), says so once, and its first save writes it, edited or not.
TEST_F(PatchLibraryLayouts, APoolKeptAtTheEndIsTheNextStartsPoolUntilItIsSaved)
{
    lay({"Pool/[0] A.qptc", "Pool/[1] G/[0] C.qptc", "Pool/[2] X.qptc"});
    put("Pool/[1] G/notes.txt", Bytes{'n'});
    Tree tree = load();
    ASSERT_EQ(order(tree), (Strings{"A", "G/C", "X"}));
    const Inventory before = inventory(library());
    // A new group first, a new patch in G, the rest reversed, X taken out (its file left behind).
    Tree fresh{group("New")};
    add(fresh[0]->childDirectories, "D", "New/");
    Tree inG;
    tree[1]->childDirectories.insert(tree[1]->childDirectories.begin(), add(inG, "F", "G/")[0]);
    Tree edited{fresh[0], tree[1], tree[0]};
    add(edited, "E");
    const Strings expected{"New/D", "G/F", "G/C", "A", "E"};
    // A folder no group names is no group, kept or not.
    writePatch("Temp/Local/Ghost/notes.txt", "g");
    keepAfterAFailedSave(edited);
    EXPECT_EQ(inventory(library()), before);

    const Strings heard = start();
    EXPECT_EQ(count(heard, "patchPool"), 1);
    EXPECT_EQ(count(heard, "patchPoolKept"), 1);
    const Tree next = recorder.patchPool;
    EXPECT_EQ(order(next), expected);
    EXPECT_TRUE(fs::exists(rootFolder + "/Temp/Local/G/notes.txt"));
    EXPECT_FALSE(save(next, false));
    EXPECT_TRUE(fs::exists(library() + "/Pool/[1] G/notes.txt"));
    EXPECT_EQ(kept(), Strings{});

    // Saved, it is the library's pool again, and nothing more is said of it.
    EXPECT_EQ(order(load()), expected);
    EXPECT_EQ(count(settle(), "patchPoolKept"), 0);
}

// A kept pool a save has written is never shown again, even when it could not be put aside after that
// save: the next start finds the library that save wrote and removes it. A kill after the kept pool went
// aside but before the library was replaced leaves it the next start's pool.
TEST_F(PatchLibraryLayouts, AKeptPoolIsNeverShownAgainOnceASaveOfItLanded)
{
    lay({"Pool/[0] A.qptc"});
    keepAFailedRun();
    const Strings left = kept();
    ASSERT_EQ(left.size(), 1U);

    // Cut between the two steps of a save: the kept pool aside, the library not yet replaced by the one
    // that save was writing.
    fs::rename(fs::path(rootFolder) / left[0], fs::path(rootFolder) / (left[0] + ".taken-0123456789abcdef"));
    startShows(1, 0, {"A", "E"});
    Tree next = recorder.patchPool;
    EXPECT_EQ(kept(), left);

    // The save lands, but the kept pool cannot be put aside after it.
    faulty.fail(Op::Move, ".Temp-old-kept");
    EXPECT_FALSE(save(add(next, "F")));
    faulty.heal();
    ASSERT_EQ(kept().size(), 1U);
    EXPECT_TRUE(CommonUtils::keptNameOf(kept()[0]).taken);

    startShows(0, 0, {"A", "E", "F"});
    EXPECT_EQ(kept(), Strings{});
}

// The keep moves the working copy aside whole before it names anything: refused, it says its own cause and
// leaves the working copy as it was. An entry it cannot rename (an I/O error, not a taken name) stays in the
// kept pool under its plain name, and the next start shows it.
TEST_F(PatchLibraryLayouts, TheKeepNeverLosesAnEntryItCouldNotName)
{
    lay({"Pool/[0] A.qptc"});
    Tree tree = load();
    add(tree, "E");
    failSave(tree);
    faulty.fail(Op::Move, "Temp/Local\n", 1, ENOSPC);
    const auto why = utils->keepUnsavedPatchPool();
    ASSERT_TRUE(why);
    EXPECT_NE(why->find(std::strerror(ENOSPC)), std::string::npos) << *why;
    EXPECT_EQ(names("Temp/Local"), (Strings{"A.qptc", "E.qptc"}));
    EXPECT_EQ(kept(), Strings{});

    failSave(tree);
    faulty.fail(Op::Move, "/E.qptc\n", 1, EIO);
    EXPECT_EQ(utils->keepUnsavedPatchPool(), std::nullopt);
    faulty.heal();
    ASSERT_EQ(kept().size(), 1U);
    EXPECT_EQ(names(kept()[0]), (Strings{"E.qptc", "[0] A.qptc"}));
    EXPECT_EQ(count(start(), "patchPoolKept"), 1);
    EXPECT_EQ(shown(recorder.patchPool), (Names{"A", "E"}));
}

// Once a quit has begun, a run cut before its closing save lands keeps its pool for the next start as a
// failed save's is: in its order, with what landed after the save began, shown instead of the same library
// and said so. A run cut after that save replaced the library keeps nothing: the library holds its pool.
TEST_F(PatchLibraryLayouts, ARunCutWhileItsClosingSaveRunsKeepsItsPool)
{
    lay({"Pool/[0] A.qptc", "Pool/[1] G/[0] C.qptc"});
    Tree tree = load();
    Tree e;
    const Tree edited{add(e, "E")[0], tree[1], tree[0]};
    utils->closeApp();
    // Cut before the library was replaced: the refused staging stands for the kill, and no keep follows.
    failSave(edited);
    writePatch("Temp/Local/Late.qptc", "Late");

    EXPECT_EQ(count(start(), "patchPoolKept"), 1);
    const Tree next = recorder.patchPool;
    EXPECT_EQ(shown(next), (Names{"E", "G/C", "A", "Late"}));
    const Strings inOrder = order(next);
    const auto at = [&](const char* name) { return std::find(inOrder.begin(), inOrder.end(), name); };
    EXPECT_LT(at("E"), at("G/C"));
    EXPECT_LT(at("G/C"), at("A"));

    // Cut after the library was replaced, before the note of the closing save went.
    utils->closeApp();
    faulty.fail(Op::Remove, ".closing-pool");
    EXPECT_FALSE(save(next));
    faulty.heal();
    EXPECT_TRUE(fs::exists(rootFolder + "/Temp/.closing-pool.taken"));
    startShows(0, 0, inOrder);
    EXPECT_EQ(kept(), Strings{});
}

// A closing save written while the program goes on (a power-off's) and a quit noted meanwhile with a
// pool changed since: the library gets the older pool, and the quit's note stays for the newer one, so a
// run cut before the end's own save keeps what was changed after the power-off.
TEST_F(PatchLibraryLayouts, AQuitNotedWhileAnEarlierClosingSaveIsWrittenKeepsItsOwnNote)
{
    lay({"Pool/[0] A.qptc"});
    Tree first = load();
    add(first, "E");
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
    Tree second = first;
    utils->noteQuitAsked(add(second, "F"), true);
    {
        std::lock_guard lock(mutex);
        go = true;
    }
    changed.notify_all();
    ASSERT_TRUE(loop.runUntil([&] { return written.load(); }));
    EXPECT_EQ(failure, std::nullopt);
    EXPECT_TRUE(fs::exists(library() + "/Pool/[1] E.qptc"));
    EXPECT_TRUE(fs::exists(rootFolder + "/Temp/.closing-pool")) << "the quit's note went with the earlier save";

    // Cut here: the next start keeps what the quit noted, beside the library the earlier save wrote (the
    // note was made against the one before): F once, and E only where the library holds it.
    const Strings next = order(load());
    for (const char* name : {"F", "E"})
        EXPECT_EQ(std::count_if(next.begin(), next.end(), [&](const std::string& entry) { return entry == name || fs::path(entry).filename() == name; }), 1)
            << name;
}

// ---- which library a kept pool belongs to ----

class KeptPoolIdentity : public PatchLibraryLayouts {
protected:
    // A save cut off between putting the `held` kept pools it holds aside and replacing the library: the
    // library cannot be moved aside, and nothing taken goes back.
    void cutTheSaveBeforeTheSwap(const Tree& tree, int held)
    {
        faulty.fail(Op::Move, "/QFXMacApplication/Patch\n");
        faulty.alsoFail(Op::Move, ".taken", 1000, EIO, held);
        ASSERT_TRUE(save(tree));
        faulty.heal();
    }
    // The library copied away and back with `cp` and its `flags`.
    void copiedBack(const std::string& flags)
    {
        utils.reset();  // the last start's clean-up ends with it, before its folder goes
        const std::string away = root / "away";
        fs::remove_all(away);
        ASSERT_EQ(std::system(("cp " + flags + " '" + library() + "' '" + away + "'").c_str()), 0);
        fs::remove_all(library());
        ASSERT_EQ(std::system(("cp " + flags + " '" + away + "' '" + library() + "'").c_str()), 0);
    }
    // The name of the kept session's group the pool shows.
    std::string session()
    {
        for (const auto& node : recorder.patchPool)
            if (node->name.value_or("").starts_with("Kept session 20")) return *node->name;
        return "none";
    }
};

// A failed run's pool is kept, and the library meets each row's change before the next start. The same
// library is known again (its pool shown instead of it); over another, the session's changes come beside it
// and are named. The library stays whole, the pool kept until a save writes it.
TEST_F(KeptPoolIdentity, AKeptPoolIsShownInsteadOfItsOwnLibraryAndBesideAnother)
{
    const Strings agcd{"Pool/[0] A.qptc", "Pool/[1] G/[0] C.qptc", "Backup/[2] B/[0] D.qptc"};
    const struct {
        const char* what;
        Strings library;
        bool unreadable;                                   // the failed run could not read the library
        std::function<void(Tree&)> session;                // what the failed run did to its pool (else: added E)
        std::function<void()> between;                     // what met the library before the next start
        Strings shown;                                     // the session's group as "Kept"; instead of the library when it is not named
        Strings besideNamed;                               // the groups the message names after the session's
        std::function<void()> after = nullptr;             // checked after the next start
    } cases[] = {
        {"the drive mounted again", agcd, false, nullptr, [&] { faulty.remount(); }, {"A", "G/C", "B/D", "E"}, {}},
        {"copied back with cp -a", agcd, false, nullptr, [&] { copiedBack("-a"); }, {"A", "G/C", "B/D", "E"}, {}},
        {"copied back with cp -r, the session having renamed the top patch",
         {"Pool/[0] A.qptc", "Pool/[1] G/[0] C.qptc", "Pool/[1] G/[1] Inner/[0] I.qptc", "Backup/[3] B/[0] D.qptc"}, false,
         [&](Tree& tree) { tree[0] = leaf(writePatch("Temp/Local/Renamed.qptc", "A"), "Renamed"); },
         [&] {
             copiedBack("-r");
             // A second apart, so that no time the copy gives can match the library's.
             const auto later = fs::file_time_type::clock::now() + std::chrono::seconds(5);
             for (const auto& entry : fs::recursive_directory_iterator(library()))
                 if (entry.is_regular_file()) fs::last_write_time(entry.path(), later);
         },
         {"A", "G/C", "B/D"}, {},
         [&] { EXPECT_TRUE(fs::exists(rootFolder + "/Temp/Local/Renamed.qptc")) << "the session's file, not the library's"; }},
        {"a patch added by hand after the failed run", {"Pool/[0] A.qptc", "Pool/[1] G/[0] C.qptc"}, false, nullptr,
         [&] { lay({"Pool/[2] Hand.qptc"}); }, {"A", "G/C", "Hand", "Kept/E"}, {"Kept"}},
        {"a library the failed run could not read", {"Pool/[0] A.qptc", "Pool/[1] G/[0] C.qptc"}, true, nullptr, nullptr,
         {"A", "G/C", "Kept/E"}, {"Kept"}},
        {"a changed library, the session having added to one of its groups",
         {"Pool/[0] A.qptc", "Pool/[1] Live Set/[0] C.qptc", "Pool/[2] Other/[0] O.qptc", "Backup/[3] B/[0] D.qptc"}, false,
         [&](Tree& tree) {
             add(tree[1]->childDirectories, "F", "Live Set/");
             add(tree, "E");
         }, [&] { lay({"Pool/[4] Hand.qptc"}); },
         {"A", "Live Set/C", "Other/O", "B/D", "Hand", "Kept/E", "Live Set (1)/F"}, {"Kept", "Live Set (1)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        anew();
        lay(c.library);
        const Inventory before = inventory(library());
        if (c.unreadable) faulty.fail(Op::List, "/Patch/Pool");
        Tree tree = load();
        ASSERT_EQ(order(tree).empty(), c.unreadable);
        if (c.session) c.session(tree);
        else add(tree, "E");
        if (c.unreadable) {
            const auto why = save(tree);
            ASSERT_TRUE(why);
            EXPECT_NE(why->find(library() + "/Pool"), std::string::npos) << *why;
            EXPECT_NE(why->find(std::strerror(EIO)), std::string::npos) << *why;
            faulty.heal();
            ASSERT_EQ(utils->keepUnsavedPatchPool(), std::nullopt);
        } else {
            keepAfterAFailedSave(tree);
        }
        ASSERT_EQ(kept().size(), 1U);
        EXPECT_EQ(inventory(library()), before) << "the library is whole";
        if (c.between) c.between();

        const bool instead = c.besideNamed.empty();
        startShows(instead ? 1 : 0, instead ? 0 : 1, c.shown);
        if (!instead) {
            std::string named;
            for (const auto& group : c.besideNamed) named += (named.empty() ? "\"" : ", \"") + (group == "Kept" ? session() : group) + "\"";
            EXPECT_EQ(recorder.keptBeside.back(), named);
        }
        if (c.after) c.after();
        EXPECT_EQ(kept().size(), 1U) << "kept until a save writes it";
        savedAndShownAgain(c.shown);
        EXPECT_EQ(kept(), Strings{});
    }
}

// A power-off the system calls off leaves the run open: a save that fails after it is told, as before.
TEST_F(KeptPoolIdentity, APowerOffCalledOffLeavesTheRunOpen)
{
    lay({"Pool/[0] A.qptc"});
    Tree tree = load();
    add(tree, "E");
    utils->setPowerEvents(&power);
    utils->setPatchPoolSaver([&] { save(tree); });
    power.powerOff();
    settle();
    ASSERT_TRUE(fs::exists(library() + "/Pool/[1] E.qptc")) << "saved at the power-off";
    EXPECT_FALSE(fs::exists(rootFolder + "/Temp/.closing-pool"));
    failSave(add(tree, "F"));
    EXPECT_EQ(count(settle(), "patchPoolNotSaved"), 1);
    EXPECT_FALSE(utils->isClosing()) << "no quit was asked";
    // The failed save's pool is noted for a run cut from here on.
    EXPECT_TRUE(fs::exists(rootFolder + "/Temp/.closing-pool"));
}

// A save that fails while the program runs leaves a note a run cut after it keeps its edits by; a save that
// lands after it takes the note away. What the note does not name comes back after the pool, never dropped.
TEST_F(KeptPoolIdentity, AFailedSavesNoteKeepsACutRunUntilASaveLands)
{
    Tree tree;  // the run's pool, as the window shows it
    // E deleted (its file removed, or left behind), F added.
    const auto eForF = [&](bool removed = true) {
        if (removed) fs::remove(rootFolder + "/Temp/Local/E.qptc");
        tree.pop_back();
        add(tree, "F");
    };
    const struct {
        const char* what;
        bool unreadable;
        bool failedAtAPowerOff;
        bool landsAfter;
        Strings shownAfterTheCut;
        std::string group;  // a group the pool holds before the save, with one patch "X" in it
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
         [&] { EXPECT_EQ(utils->backupPatchListWithName("Backup 1", {item(writePatch("Temp/Device/Patch/S.qptc", "S"))}), 1); }},
        {"a folder holding only a copy's half-written file", false, false, false, {"A", "E"}, "",
         [&] {
             fs::create_directories(rootFolder + "/Temp/Local/Later");
             fs::rename(writePatch("Temp/Local/S.qptc", "S"), rootFolder + "/Temp/Local/Later/.S.qptc.tmp-12-3");
         }},
        {"the library changed by another program since", false, false, false, {"A", "Hand", "Kept/E"}, "",
         [&] { lay({"Pool/[1] Hand.qptc"}); }},
        // The note cannot be written again (a full disk) and names E still.
        {"a change the note cannot be written again for", false, false, false, {"A", "F"}, "",
         [&] {
             eForF();
             faulty.fail(Op::Write, ".closing-pool");
             utils->noteQuitAgain(tree, true);
             faulty.heal();
             const auto note = files.readFile(rootFolder + "/Temp/.closing-pool");
             ASSERT_TRUE(note);
             EXPECT_NE(std::string(note->begin(), note->end()).find("E.qptc"), std::string::npos) << "the older note";
         }},
        {"a change, then a save that lands without it", false, false, false, {"A", "E", "F"}, "",
         [&] {
             utils->noteQuitAgain(add(tree, "F"), true);
             faulty.fail(Op::Link, "Temp/Local/F.qptc");
             EXPECT_TRUE(save(tree));
             faulty.heal();
             EXPECT_TRUE(fs::exists(library() + "/Pool/[1] E.qptc"));
             ASSERT_TRUE(fs::exists(rootFolder + "/Temp/.closing-pool")) << "the library does not hold F";
         }},
        {"a quit asked, its save failing too, cut before the end", false, false, false, {"A", "F"}, "",
         [&] {
             eForF();
             utils->noteQuitAsked(tree, true);
             failSave(tree);
         }},
        {"a change, then a second power-off whose save fails", false, true, false, {"A", "F"}, "",
         [&] {
             eForF();
             utils->noteQuitAgain(tree, true);
             faulty.fail(Op::CreateDirectory, ".Patch-saving");
             power.powerOff();
             settle();
             faulty.heal();
             EXPECT_FALSE(utils->isClosing()) << "called off";
         }},
        {"a change, then a second save that fails", false, false, false, {"A", "F"}, "",
         [&] {
             eForF();
             utils->noteQuitAgain(tree, true);
             failSave(tree);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(rootFolder);
        lay({"Pool/[0] A.qptc"});
        if (c.unreadable) faulty.fail(Op::List, "/Patch/Pool");
        tree = load();
        faulty.heal();
        add(tree, "E");
        if (!c.group.empty()) tree.push_back(group(c.group, {writePatch("Temp/Local/" + c.group + "/X.qptc", "X")}));
        if (c.failedAtAPowerOff) {
            faulty.fail(Op::CreateDirectory, ".Patch-saving");
            utils->setPowerEvents(&power);
            utils->setPatchPoolSaver([&] { save(tree); });
            power.powerOff();
            settle();
            faulty.heal();
            ASSERT_FALSE(utils->isClosing()) << "called off";
        } else {
            failSave(tree);
        }
        ASSERT_TRUE(fs::exists(rootFolder + "/Temp/.closing-pool"));
        if (c.afterTheNote) c.afterTheNote();
        if (c.landsAfter) {
            // A note left standing would bring E back.
            eForF(false);
            ASSERT_FALSE(save(tree));
            EXPECT_FALSE(fs::exists(rootFolder + "/Temp/.closing-pool"));
        }
        start();
        EXPECT_EQ(asKept(order(recorder.patchPool)), c.shownAfterTheCut);
        for (const auto& node : recorder.patchPool)
            if (node->name == "Backup 1") {
                EXPECT_TRUE(node->isBackUpAllGroup) << "a backup of the whole list";
            }
    }
}

// A save cut before it replaced the library (a kill) or one that landed, over a kept pool or the run's own:
// a kept pool comes back while the library is not the one that save wrote, never beside it twice; a save
// that cannot read back what it staged replaces nothing, so nothing it holds is marked for a lost library.
TEST_F(KeptPoolIdentity, WhatTheNextStartShowsAfterASaveOverAKeptPool)
{
    const struct {
        const char* what;
        Strings library;
        bool keptRun;  // an earlier run's pool with "E" kept, and shown by this run's start
        bool hand;     // ... over a library changed by hand since
        std::function<void(Tree&)> run;
        long keptTold, besideTold;
        Strings shown;        // the session's group as "Kept"
        int keptLeft;         // kept pools left after the next start; -1: not judged
    } cases[] = {
        {"a kept pool taken by a cut save, the drive mounted again since", {"Pool/[0] A.qptc"}, true, false,
         [&](Tree& tree) {
             cutTheSaveBeforeTheSwap(tree, 1);
             ASSERT_EQ(kept().size(), 1U);
             ASSERT_TRUE(CommonUtils::keptNameOf(kept()[0]).taken);
             faulty.remount();
         },
         1, 0, {"A", "E"}, 1},
        {"a closing save cut over a library changed by hand during the run", {"Pool/[0] A.qptc"}, false, false,
         [&](Tree& tree) {
             lay({"Pool/[1] Hand.qptc"});
             utils->closeApp();
             cutTheSaveBeforeTheSwap(add(tree, "E"), 0);
             ASSERT_TRUE(fs::exists(rootFolder + "/Temp/.closing-pool.taken"));
         },
         0, 1, {"A", "Hand", "Kept/E"}, -1},
        {"a kept pool shown beside a changed library, its closing save cut", {"Pool/[0] A.qptc"}, true, true,
         [&](Tree& tree) {
             utils->closeApp();
             cutTheSaveBeforeTheSwap(tree, 1);
         },
         1, 0, {"A", "Hand", "Kept/E"}, 1},
        {"a save that lands without one entry", {"Pool/[0] A.qptc", "Pool/[1] B.qptc"}, true, false,
         [&](Tree& tree) {
             faulty.fail(Op::Link, "Temp/Local/F.qptc");
             ASSERT_TRUE(save(add(tree, "F")));
             faulty.heal();
             EXPECT_EQ(kept(), Strings{});
         },
         1, 0, {"A", "B", "E", "F"}, -1},
        {"a save that cannot read back what it staged, the session having deleted A", {"Pool/[0] A.qptc", "Pool/[1] B.qptc"}, true, false,
         [&](Tree& tree) {
             ASSERT_EQ(order(tree), (Strings{"A", "B", "E"}));
             tree.erase(tree.begin());
             // The kept pool is cut off where the save would drop it.
             faulty.fail(Op::List, ".Patch-saving", 1);
             faulty.alsoFail(Op::Move, ".taken", 1000, EIO, 1);
             save(tree);
             ASSERT_EQ(utils->keepUnsavedPatchPool(), std::nullopt);
             faulty.heal();
         },
         1, 0, {"B", "E"}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        anew();
        lay(c.library);
        Tree tree;
        if (c.keptRun) {
            keepAFailedRun();
            if (c.hand) lay({"Pool/[1] Hand.qptc"});
            ASSERT_EQ(count(start(), c.hand ? "patchPoolKeptBeside" : "patchPoolKept"), 1);
            tree = recorder.patchPool;
        } else {
            tree = load();
        }
        c.run(tree);
        startShows(c.keptTold, c.besideTold, c.shown);
        if (c.keptLeft >= 0) {
            EXPECT_EQ(kept().size(), static_cast<std::size_t>(c.keptLeft));
        }
    }
}

// A folder the load could not list makes a run that could not read its library: the user is told which
// and why, the rest is shown, and no save replaces the library, so the group is never written as empty.
// A run cut after the failed save shows the library whole, the session's patch kept beside it.
TEST_F(KeptPoolIdentity, AGroupTheLoadCouldNotListIsNeverSavedAway)
{
    lay({"Pool/[0] A.qptc", "Pool/[1] G/[0] C.qptc"});
    const Inventory before = inventory(library());
    faulty.fail(Op::List, "/Pool/[1] G", 1000, EACCES);
    const Strings heard = start();
    faulty.heal();
    ASSERT_EQ(count(heard, "patchLibraryNotRead"), 1);
    const std::string reason = recorder.notReadReasons.back();
    EXPECT_NE(reason.find(library() + "/Pool/[1] G"), std::string::npos) << reason;
    EXPECT_NE(reason.find(std::strerror(EACCES)), std::string::npos) << reason;
    Tree tree = recorder.patchPool;
    EXPECT_EQ(shown(tree), (Names{"A", "G/"}));
    EXPECT_EQ(save(add(tree, "E")), reason);
    EXPECT_EQ(inventory(library()), before);
    EXPECT_EQ(asKept(order(load())), (Strings{"A", "G/C", "Kept/E"}));
}

// A "Backup" linked to a drive not there now is a part the start could not read: told, never moved aside
// or replaced, its backups back with the drive. A "Pool" that is a plain file is named, kept beside the part
// and carried over once by each later save.
TEST_F(KeptPoolIdentity, ALibraryPartLinkedOrNoFolderIsNeverSavedAway)
{
    const fs::path elsewhere = fs::path(root.path()) / "other drive" / "Backups";
    lay({"Pool/[0] A.qptc"});
    link("Backup", elsewhere);
    Strings heard = start();
    EXPECT_EQ(count(heard, "patchLibraryNotRead"), 1);
    EXPECT_EQ(count(heard, "patchLibraryPartKeptAside"), 0);
    EXPECT_EQ(order(recorder.patchPool), (Strings{"A"}));
    Tree tree = recorder.patchPool;
    EXPECT_TRUE(save(add(tree, "E")));
    EXPECT_TRUE(fs::is_symlink(library() + "/Backup")) << "the link stays where the user put it";
    EXPECT_FALSE(fs::exists(fs::symlink_status(library() + "/Backup (not a folder)")));
    ASSERT_EQ(utils->keepUnsavedPatchPool(), std::nullopt);

    write(elsewhere / "[1] B" / "[0] D.qptc", "D");
    heard = start();
    EXPECT_EQ(count(heard, "patchLibraryNotRead"), 0);
    EXPECT_EQ(asKept(order(recorder.patchPool)), (Strings{"A", "B/D", "Kept/E"}));

    // The drive there, its backup group holding the record, written within the data folder as the program
    // writes it, then taken to the drive.
    anew();
    fs::remove_all(elsewhere);
    write(elsewhere / "[1] B" / "[0] D.qptc", "D");
    fs::create_directories(rootFolder);
    ASSERT_TRUE(BackupFile::saveBackupFile(BackupFile::initWithName("B", "Unit").get(), rootFolder + "/record", rootFolder));
    fs::rename(rootFolder + "/record", elsewhere / "[1] B" / BackupFile::kFileName);
    lay({"Pool/[0] A.qptc"});
    link("Backup", elsewhere);
    tree = load();
    EXPECT_EQ(order(tree), (Strings{"A", "B/D"}));
    EXPECT_TRUE(saved(add(tree, "E")));
    EXPECT_TRUE(fs::is_symlink(library() + "/Backup")) << "the link stays the user's";
    EXPECT_TRUE(fs::exists(elsewhere / "[1] B" / "[0] D.qptc")) << "written where the link points";
    EXPECT_EQ(order(load()), (Strings{"A", "B/D", "E"}));

    utils.reset();
    fs::remove_all(library());
    lay({"Backup/[1] B/[0] D.qptc"});
    put("Pool", Bytes{'n', 'o', 't', 'e', 's'});
    heard = start();
    EXPECT_EQ(count(heard, "patchLibraryPartKeptAside"), 1);
    EXPECT_EQ(recorder.keptAside.back(), "Pool -> Pool (not a folder)");
    tree = recorder.patchPool;
    EXPECT_EQ(order(tree), (Strings{"B/D"}));
    EXPECT_TRUE(saved(add(tree, "E")));
    EXPECT_EQ(files.readFile(library() + "/Pool (not a folder)"), (Bytes{'n', 'o', 't', 'e', 's'}));
    tree = load();
    EXPECT_EQ(order(tree), (Strings{"B/D", "E"}));
    EXPECT_TRUE(saved(add(tree, "F")));
    EXPECT_EQ(names("QFXMacApplication/Patch"), (Strings{"Backup", "Pool", "Pool (not a folder)"}));
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
        anew();
        fs::remove_all(drops);
        fs::create_directories(drops);
        recorder.keptWithout.clear();
        lay({"Pool/[0] A.qptc", "Pool/[1] G/[0] C.qptc"});
        Tree tree = load();
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

// A patch of a drop still being copied when the quit was noted, edited while the quit waits: the next start
// shows the edit once and in its place, whatever its texts hold, also when the run is cut before the quit is
// noted again (the note then names the dropped file, whose bytes the edit no longer matches).
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
        anew();
        fs::remove_all(drops);
        fs::create_directories(drops);
        lay({"Pool/[0] A.qptc", "Pool/[1] G/[0] C.qptc"});
        Tree tree = load();
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

// Which library a kept pool meets at the next start: the one it was made against, another, one read in part,
// or none, and what the start shows of each.
class KeptPoolLibrary : public KeptPoolStarts {
public:
    using PatchLibrary::library;
    using PatchLibrary::patchBytes;
    using PatchLibrary::put;
    using PatchLibrary::root;
    // The standing library: a patch, a group and a backup group.
    void layOut()
    {
        anew();
        lay({"Pool/[0] A.qptc", "Pool/[1] G/[0] C.qptc", "Backup/[2] B/[0] D.qptc"});
    }
    // A run that loads the library, adds the patch E and ends with its save failed: its pool is kept.
    void keepAFailedRun()
    {
        PatchLibrary::keepAFailedRun();
        utils.reset();
    }
    // A patch of the kept pool at `relative`, as the session would have left it.
    void putInKeptPool(const std::string& relative, const std::string& name)
    {
        for (const std::string& pool : kept()) {
            fs::create_directories((fs::path(rootFolder) / pool / relative).parent_path());
            ASSERT_TRUE(files.writeAtomically((fs::path(rootFolder) / pool / relative).string(), patchBytes(name)));
        }
    }
    // The pool shown in its order, a kept session's group as "Kept".
    Strings order() const { return asKept(PatchLibrary::order(recorder.patchPool)); }
};

// Between the failed run and the next start, the library meets a file manager, a Mac, a sync tool or the
// user. What the program neither shows nor writes leaves it the library the kept pool was made against,
// shown as the user left it; a patch, a group or a record changed, even to another version of the same
// size and time, makes it another, beside which only the session's changes come in.
TEST_F(KeptPoolLibrary, OnlyWhatTheProgramOwnsMakesTheLibraryAnother)
{
    const Strings asLeft{"A", "G/C", "B/D", "E"};
    const struct {
        const char* what;
        std::function<void(KeptPoolLibrary&)> change;
        Strings shown;
        // What the user or a tool left there, which the save of the kept pool shown instead keeps.
        const char* kept = "";
        // What stood there already when the pool was kept.
        const char* before = "";
    } cases[] = {
        {"a file manager's folder settings", [](KeptPoolLibrary& t) { t.put(".directory", {'x'}); }, asLeft, ".directory"},
        {"a Mac's folder view in the pool", [](KeptPoolLibrary& t) { t.put("Pool/.DS_Store", {'x'}); }, asLeft, "Pool/.DS_Store"},
        {"a Mac's resource fork of a patch", [](KeptPoolLibrary& t) { t.put("Pool/._[0] A.qptc", {'x'}); }, asLeft,
         "Pool/._[0] A.qptc"},
        {"thumbnails in a group", [](KeptPoolLibrary& t) { t.put("Pool/[1] G/Thumbs.db", {'x'}); }, asLeft, "Pool/[1] G/Thumbs.db"},
        {"folder settings in a backup", [](KeptPoolLibrary& t) { t.put("Backup/desktop.ini", {'x'}); }, asLeft,
         "Backup/desktop.ini"},
        {"a note in a backup group", [](KeptPoolLibrary& t) { t.put("Backup/[2] B/note.txt", {'n'}); }, asLeft,
         "Backup/[2] B/note.txt"},
        {"a hidden folder in a group", [](KeptPoolLibrary& t) { t.put("Pool/[1] G/.thumbnails/t.png", {'x'}); }, asLeft,
         "Pool/[1] G/.thumbnails/t.png"},
        {"a hidden folder in the pool", [](KeptPoolLibrary& t) { t.put("Pool/.sync/state", {'x'}); }, asLeft, "Pool/.sync/state"},
        {"a note edited since, as an editor saves",
         [](KeptPoolLibrary& t) {
             t.put("Pool/.note.txt.swp", {'n', '2'});
             fs::rename(t.library() + "/Pool/.note.txt.swp", t.library() + "/Pool/note.txt");
         },
         asLeft, "Pool/note.txt", "Pool/note.txt"},
        {"a patch added", [](KeptPoolLibrary& t) { t.put("Pool/[1] G/[1] H.qptc", t.patchBytes("H")); },
         {"A", "G/C", "G/H", "B/D", "Kept/E"}},
        {"a group added", [](KeptPoolLibrary& t) { fs::create_directories(t.library() + "/Pool/[3] New"); },
         {"A", "G/C", "B/D", "New/", "Kept/E"}},
        // As a sync tool does: a new file renamed over the old, its size and time those of the old.
        {"a patch replaced by another version with its size and time kept",
         [](KeptPoolLibrary& t) {
             const std::string path = t.library() + "/Pool/[0] A.qptc";
             const auto time = fs::last_write_time(path);
             t.put("Pool/.A.qptc.partial", t.patchBytes("Z"));
             fs::last_write_time(t.library() + "/Pool/.A.qptc.partial", time);
             fs::rename(t.library() + "/Pool/.A.qptc.partial", path);
             ASSERT_EQ(fs::file_size(path), t.patchBytes("A").size());
         },
         {"Z", "G/C", "B/D", "Kept/A", "Kept/E"}},
        // A group the session never touched is the library's under any name: it never comes in again.
        {"a group renamed by hand", [](KeptPoolLibrary& t) { fs::rename(t.library() + "/Pool/[1] G", t.library() + "/Pool/[1] Live"); },
         {"A", "Live/C", "B/D", "Kept/E"}},
        {"a group's name's case changed, as a case-insensitive share gives",
         [](KeptPoolLibrary& t) { fs::rename(t.library() + "/Pool/[1] G", t.library() + "/Pool/[1] g"); },
         {"A", "g/C", "B/D", "Kept/E"}},
        // The session's copy of a group stands for no library group another kept group stands for.
        {"a patch added, the session having copied a group",
         [](KeptPoolLibrary& t) {
             t.put("Pool/[3] H.qptc", t.patchBytes("H"));
             t.putInKeptPool("[4] Mine/[0] C.qptc", "C");
         },
         {"A", "G/C", "B/D", "H", "Kept/E", "Mine/C"}},
        // The kept group of its name holds part of the library's group: still the library group's own.
        {"a patch added to a group, the session's copy of the group holding the same",
         [](KeptPoolLibrary& t) {
             t.put("Pool/[1] G/[1] X.qptc", t.patchBytes("X"));
             t.putInKeptPool("[4] Mine/[0] C.qptc", "C");
             t.putInKeptPool("[4] Mine/[1] X.qptc", "X");
         },
         {"A", "G/C", "G/X", "B/D", "Kept/E", "Mine/C", "Mine/X"}},
        {"a group renamed by hand, the session having copied it",
         [](KeptPoolLibrary& t) {
             fs::rename(t.library() + "/Pool/[1] G", t.library() + "/Pool/[1] Live");
             t.putInKeptPool("[4] Mine/[0] C.qptc", "C");
         },
         {"A", "Live/C", "B/D", "Kept/E", "Mine/C"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        layOut();
        if (*c.before != 0) put(c.before, {'n', '1'});
        keepAFailedRun();
        c.change(*this);
        const bool same = c.shown == asLeft;
        startShows(same ? 1 : 0, same ? 0 : 1, c.shown);
        if (*c.kept == 0) continue;
        EXPECT_EQ(save(recorder.patchPool, false), std::nullopt);
        std::ifstream saved(library() + "/" + c.kept, std::ios::binary);
        EXPECT_TRUE(saved) << "dropped by the save";
        if (*c.before != 0) {
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), "n2") << "the newer one";
            EXPECT_FALSE(fs::exists(library() + "/Pool/note (1).txt")) << "twice";
        }
        EXPECT_TRUE(fs::exists(library() + "/Pool/[3] E.qptc")) << "the session's patch";
    }
}

// A start that cannot list one folder of the library still keeps out of a kept pool shown beside it what
// it could read the library to hold: nothing read is doubled, and the run's end keeps no doubled pool.
TEST_F(KeptPoolLibrary, AKeptPoolBesideALibraryReadInPartBringsOnlyWhatTheReadingLacks)
{
    layOut();
    put("Pool/[3] H/[0] F.qptc", patchBytes("F"));
    keepAFailedRun();
    put("Pool/[4] Hand.qptc", patchBytes("Hand"));
    faulty.fail(Op::List, "/Pool/[3] H", 1000, EACCES);
    // What could not be compared (the unlisted group's patches) comes in; nothing else twice.
    EXPECT_EQ(count(startShows(0, 1, {"A", "G/C", "B/D", "H/", "Hand", "Kept/E", "H (1)/F"}), "patchLibraryNotRead"), 1);
    faulty.heal();
    // No save replaces a library read in part: the end keeps the pool, made against no library.
    EXPECT_TRUE(save(recorder.patchPool, false));
    ASSERT_EQ(utils->keepUnsavedPatchPool(), std::nullopt);

    start();
    const Strings shownNow = order();
    for (const char* once : {"A", "G/C", "B/D", "Hand"})
        EXPECT_EQ(std::count(shownNow.begin(), shownNow.end(), std::string(once)), 1) << once;
    for (const char* once : {"/E", "/F"})
        EXPECT_EQ(std::count_if(shownNow.begin(), shownNow.end(), [&](const std::string& name) { return name.ends_with(once); }), 1)
            << once;
}

// A library the user deleted between the runs stays deleted: no earlier save's aside folder brings it back,
// and a kept pool shows as the user left it, which the next save writes. Only a save cut between its two
// moves, whose staged library is still beside the one it moved aside, has its library put back.
TEST_F(KeptPoolLibrary, ADeletedLibraryStaysDeleted)
{
    const struct {
        const char* what;
        bool keptPool;
        bool cutBetweenTheMoves;
        Strings shown;
        // Beside the cut save's pair, a landed save's aside dated later: the clock was set back since.
        bool laterLeftover = false;
        // An earlier version's cut, its staging folder unnumbered, with an older landed save's aside beside.
        bool earlierVersion = false;
        bool firstVersion = false;  // its folders unnumbered both
    } cases[] = {
        {"a landed save's aside folder whose removal was cut", false, false, {}},
        {"a kept pool", true, false, {"A", "G/C", "B/D", "E"}},
        {"a save cut between its moves", false, true, {"A", "G/C", "B/D"}},
        {"a save cut between its moves, the clock set back after a landed save", false, true, {"A", "G/C", "B/D"}, true},
        {"an earlier version's save cut between its moves, after a landed one", false, true, {"A", "G/C", "B/D"}, false, true},
        {"the first version's save cut between its moves", false, true, {"A", "G/C", "B/D"}, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        layOut();
        if (c.keptPool) {
            keepAFailedRun();
            fs::remove_all(library());
        } else if (c.cutBetweenTheMoves) {
            const fs::path store = fs::path(library()).parent_path();
            // The staged successor, never the library shown.
            const fs::path staged = store / (c.earlierVersion || c.firstVersion ? ".Patch-saving" : ".Patch-saving-00000000000000000007");
            fs::create_directories(staged / "Pool");
            ASSERT_TRUE(files.writeAtomically((staged / "Pool/[0] Later.qptc").string(), patchBytes("Later")));
            if (c.earlierVersion) fs::create_directories(store / ".Patch-old-00000000000000000005/Pool");
            fs::rename(library(), store / (c.firstVersion   ? ".Patch-old"
                                           : c.laterLeftover ? ".Patch.old-00000000000000000007"
                                                             : ".Patch-old-00000000000000000007"));
            if (c.laterLeftover) fs::create_directories(store / ".Patch.old-00000000000000000009/Pool");
        } else {
            start();
            CommonUtils::Tree tree = recorder.patchPool;
            tree.push_back(group("New"));
            faulty.fail(Op::Remove, ".Patch-old");
            EXPECT_EQ(save(tree), std::nullopt);
            utils.reset();
            faulty.heal();
            fs::remove_all(library());
        }
        startShows(c.keptPool ? 1 : 0, 0, c.shown);
        EXPECT_EQ(fs::exists(library()), c.cutBetweenTheMoves);
        savedAndShownAgain(c.shown);
    }
}

// The version before the digests named a kept pool's library by sixteen hex digits over the library's names,
// sizes and file times to the second. Such a pool is judged by that identity of the library it meets: over
// the library it was kept against it shows instead of it, with the session's deletion; over another it shows
// after it; one that version's landed save took goes, and so does the working copy of a run whose closing
// save landed before the cut.
TEST_F(KeptPoolLibrary, APoolKeptByTheEarlierVersionIsJudgedByItsIdentity)
{
    // That version's identity of the library `layOut` makes, its files' times set to kSeconds.
    constexpr const char* kEarlier = "0ca1be9576f983be";
    constexpr std::int64_t kSeconds = 1780000000;
    const struct {
        const char* what;
        const char* keptAs;
        std::function<void(KeptPoolLibrary&)> change;
        Strings shown;
        bool instead;
    } cases[] = {
        {"the library it was kept against", "%s", [](KeptPoolLibrary&) {}, {"G/C", "B/D"}, true},
        {"the library changed since", "%s", [](KeptPoolLibrary& t) { t.put("Pool/[3] H.qptc", t.patchBytes("H")); },
         {"A", "G/C", "B/D", "H"}, false},
        {"taken by a save of it that landed", "0000000000000000.taken-%s", [](KeptPoolLibrary&) {}, {"A", "G/C", "B/D"}, false},
        // That version read a linked part through its link, as this one does.
        {"the library it was kept against, its pool linked from another drive", "%s",
         [](KeptPoolLibrary& t) {
             fs::create_directories(t.root / "drive");
             fs::rename(t.library() + "/Pool", t.root / "drive/Pool");
             fs::create_symlink(t.root / "drive/Pool", t.library() + "/Pool");
         },
         {"G/C", "B/D"}, true},
        {"sixteen characters that are no identity of that version", "0ca1be9576f983bG", [](KeptPoolLibrary&) {}, {"A", "G/C", "B/D"},
         false},
        // Its closing save was cut after the library was replaced: the run's working copy is no pool to keep.
        {"a closing save of it that landed, its note left", nullptr, [](KeptPoolLibrary&) {}, {"A", "G/C", "B/D"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        layOut();
        for (const char* each : {"Pool/[0] A.qptc", "Pool/[1] G/[0] C.qptc", "Backup/[2] B/[0] D.qptc"})
            fs::last_write_time(library() + "/" + each, fs::file_time_type::clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(kSeconds))));
        if (c.keptAs == nullptr) {
            writePatch("Temp/Local/E.qptc", "E");
            std::ofstream(rootFolder + "/Temp/.closing-pool.taken") << "0000000000000000\nA " << kEarlier << "\nP E.qptc\n";
        } else {
            char name[128];
            std::snprintf(name, sizeof name, c.keptAs, kEarlier);
            // The session deleted A.
            const std::string kept = rootFolder + "/.Pool-kept-1780000000000000000-" + name;
            fs::create_directories(kept + "/[0] G");
            fs::create_directories(kept + "/[1] B");
            fs::copy_file(library() + "/Pool/[1] G/[0] C.qptc", kept + "/[0] G/[0] C.qptc");
            fs::copy_file(library() + "/Backup/[2] B/[0] D.qptc", kept + "/[1] B/[0] D.qptc");
        }
        c.change(*this);
        startShows(c.instead ? 1 : 0, 0, c.shown);
        savedAndShownAgain(c.shown);
        EXPECT_EQ(std::count_if(fs::directory_iterator(rootFolder), fs::directory_iterator(),
                                [](const auto& entry) { return entry.path().filename().string().starts_with(".Pool-kept"); }),
                  0);
    }
}
