#include <filesystem>

#include "library/store/BackupFile.h"
#include "support/library/PatchLibraryFixture.h"

namespace fs = std::filesystem;

TEST_F(PatchLibrary, DeletedPatchesWaitInTheBinForUndo)
{
    startLibrary();
    const auto blues = group("Blues");
    auto first = item(writePatch("Temp/Local/Blues/Lead.qptc", "Lead"));
    first->path = utils->deletePatchItem(*first, blues.get());
    writePatch("Temp/Local/Blues/Lead.qptc", "Lead");
    auto second = item(rootFolder + "/Temp/Local/Blues/Lead.qptc");
    second->path = utils->deletePatchItem(*second, blues.get());
    EXPECT_EQ(names("Temp/RecycleBin/Blues"), (Strings{"Lead (1).qptc", "Lead.qptc"}));

    EXPECT_EQ(utils->undoPatchItem(*first, blues.get()), rootFolder + "/Temp/Local/Blues/Lead.qptc");
    // The place is taken again: the second comes back under a free name, the file in its place untouched.
    writePatch("Temp/Local/Blues/Lead (1).qptc", "Other");
    const std::string binned = second->path;
    EXPECT_EQ(utils->undoPatchItem(*second, blues.get()), rootFolder + "/Temp/Local/Blues/Lead (1) (1).qptc");
    EXPECT_EQ(names("Temp/Local/Blues"), (Strings{"Lead (1) (1).qptc", "Lead (1).qptc", "Lead.qptc"}));
    EXPECT_EQ(utils->getPatchItemWithPath(rootFolder + "/Temp/Local/Blues/Lead (1).qptc")->patchName, "Other");
    // A bin file that has gone makes the undo fail rather than report a patch that is not there.
    second->path = binned;
    EXPECT_EQ(utils->undoPatchItem(*second, blues.get()), "");
    EXPECT_EQ(utils->deletePatchItem(*item("Temp/Local/x.qptc"), group("..").get()), "");
    // An item naming no file, or a folder, never moves the folder it resolves to into the bin.
    auto blank = item("");
    blank->path.clear();
    EXPECT_EQ(utils->deletePatchItem(*blank, nullptr), "");
    EXPECT_EQ(utils->deletePatchItem(*item(rootFolder + "/Temp/Local/Blues"), nullptr), "");
    EXPECT_TRUE(fs::exists(rootFolder + "/Temp/Local/Blues/Lead.qptc"));
    // Only what the pool's working copy holds goes to the bin: a node still naming the file it is copied
    // from (a row of the device list, a file of the user's) never sends that file there.
    const std::string row = writePatch("Temp/Device/Patch/Row.qptc", "Row");
    const std::string users = writePatch("Dropped/Mine.qptc", "Mine");
    EXPECT_EQ(utils->deletePatchItem(*item(row), blues.get()), "");
    EXPECT_EQ(utils->deletePatchItem(*item(users), nullptr), "");
    EXPECT_EQ(utils->deletePatchItem(*item(rootFolder + "/Temp/Local/../Device/Patch/Row.qptc"), nullptr), "");
    EXPECT_TRUE(fs::exists(row));
    EXPECT_TRUE(fs::exists(users));
}

// A patch of a drop deleted while the drop's copies go on frees its name, which a later copy of a patch of
// the same name takes: the undo brings it back beside that copy, and neither file is lost or overwritten.
TEST_F(PatchLibrary, AnUndoneDeletionWhoseNameADropsLaterCopyTookComesBackBesideIt)
{
    startLibrary();
    const std::string drop = rootFolder + "/Temp/Local/Drop";
    fs::create_directories(drop);
    const std::string first = writePatch("Dropped/one/Same.qptc", "Same", {'1'});
    const std::string later = writePatch("Dropped/two/Same.qptc", "Same", {'2'});
    std::vector<CommonUtils::CopiedPatch> landed;
    const auto copyIn = [&](const std::string& source) {
        utils->writeFilePatchesLater({{source, drop}}, [&](std::vector<CommonUtils::CopiedPatch> results) {
            for (auto& each : results) landed.push_back(std::move(each));
        });
        utils->settlePoolWork();
    };
    copyIn(first);
    ASSERT_EQ(landed.size(), 1U);
    ASSERT_TRUE(landed[0].item);
    const auto group = this->group("Drop");
    auto deleted = item(landed[0].item->path);
    deleted->path = utils->deletePatchItem(*deleted, group.get());
    ASSERT_FALSE(deleted->path.empty());
    copyIn(later);
    ASSERT_EQ(landed.size(), 2U);
    ASSERT_TRUE(landed[1].item);
    ASSERT_EQ(landed[1].item->path, drop + "/Same.qptc");

    const std::string back = utils->undoPatchItem(*deleted, group.get());
    ASSERT_FALSE(back.empty()) << "the undo failed and left the patch in the bin";
    EXPECT_NE(back, landed[1].item->path);
    EXPECT_EQ(names("Temp/Local/Drop").size(), 2U);
    EXPECT_EQ(files.readFile(back), files.readFile(first));
    EXPECT_EQ(files.readFile(drop + "/Same.qptc"), files.readFile(later));
    EXPECT_NE(files.readFile(first), files.readFile(later));
}

TEST_F(PatchLibrary, DeletedGroupsMoveWholeOrNotAtAll)
{
    startLibrary();
    auto set = group("Live:Set");
    set->isBackUpAllGroup = true;
    writePatch("Temp/Local/Live-Set/a.qptc", "A");
    writePatch("Temp/Local/Live-Set/b.qptc", "B");
    BackupFile::saveBackupFile(BackupFile::initWithName("Live:Set", "Rig One").get(),
                               rootFolder + "/Temp/Local/Live-Set/BackupInfo.backup", rootFolder);
    fs::create_directories(rootFolder + "/Temp/RecycleBin/Live-Set");
    // A folder in the group is no patch, but it is the group's: it goes along.
    fs::create_directories(rootFolder + "/Temp/Local/Live-Set/Notes");
    const Strings all{"BackupInfo.backup", "Notes", "a.qptc", "b.qptc"};

    // The folder's own move failing, what it holds goes one by one, and the emptied folder goes.
    faulty.fail(Op::Move, "Local/Live-Set\n", 1);
    const std::string inBin = utils->deletePatchGroup(*set);
    EXPECT_EQ(inBin, rootFolder + "/Temp/RecycleBin/Live-Set (1)");
    EXPECT_EQ(names("Temp/RecycleBin/Live-Set (1)"), all);
    EXPECT_FALSE(fs::exists(rootFolder + "/Temp/Local/Live-Set"));

    // Back into a folder made since that holds a file of the same name: nothing is replaced, what had
    // moved goes back, and the group stays whole in the bin.
    writePatch("Temp/Local/Live-Set/b.qptc", "Other");
    set->path = inBin;
    EXPECT_EQ(utils->undoPatchGroup(*set), "");
    EXPECT_EQ(names("Temp/RecycleBin/Live-Set (1)"), all);
    EXPECT_EQ(names("Temp/Local/Live-Set"), (Strings{"b.qptc"}));

    fs::remove_all(rootFolder + "/Temp/Local/Live-Set");
    set->childDirectories = group("", {inBin + "/a.qptc"})->childDirectories;
    EXPECT_EQ(utils->undoPatchGroup(*set), rootFolder + "/Temp/Local/Live-Set");
    EXPECT_EQ(set->childDirectories[0]->patchItem()->path, rootFolder + "/Temp/Local/Live-Set/a.qptc");
    EXPECT_EQ(names("Temp/Local/Live-Set"), all);
    // Its bin folder is gone now: a second undo fails visibly.
    set->path = inBin;
    EXPECT_EQ(utils->undoPatchGroup(*set), "");
}

// A group folder moves to the bin and back as one folder, with whatever it holds: a record too, even in a
// group that is not a Backup All group.
TEST_F(PatchLibrary, AGroupMovesAsOneFolderWithWhatItHolds)
{
    startLibrary();
    auto blues = group("Blues");
    for (const char* name : {"a", "b", "c"}) writePatch(std::string("Temp/Local/Blues/") + name + ".qptc", name);
    // Any move of a single patch fails: only the folder's own move can succeed.
    faulty.fail(Op::Move, ".qptc");
    const std::string inBin = utils->deletePatchGroup(*blues);
    EXPECT_EQ(inBin, rootFolder + "/Temp/RecycleBin/Blues");
    EXPECT_EQ(names("Temp/RecycleBin/Blues"), (Strings{"a.qptc", "b.qptc", "c.qptc"}));
    EXPECT_FALSE(fs::exists(rootFolder + "/Temp/Local/Blues"));
    blues->path = inBin;
    blues->childDirectories = group("", {inBin + "/b.qptc"})->childDirectories;
    EXPECT_EQ(utils->undoPatchGroup(*blues), rootFolder + "/Temp/Local/Blues");
    EXPECT_EQ(blues->childDirectories[0]->patchItem()->path, rootFolder + "/Temp/Local/Blues/b.qptc");
    EXPECT_EQ(names("Temp/Local/Blues"), (Strings{"a.qptc", "b.qptc", "c.qptc"}));
    faulty.heal();
    ASSERT_FALSE(utils->deletePatchGroup(*blues).empty());
    writePatch("Temp/Local/Blues/d.qptc", "d");
    BackupFile::saveBackupFile(BackupFile::initWithName("Blues", "Rig One").get(),
                               rootFolder + "/Temp/Local/Blues/BackupInfo.backup", rootFolder);
    EXPECT_EQ(utils->deletePatchGroup(*blues), rootFolder + "/Temp/RecycleBin/Blues (1)");
    EXPECT_EQ(names("Temp/RecycleBin/Blues (1)"), (Strings{"BackupInfo.backup", "d.qptc"}));
    EXPECT_FALSE(fs::exists(rootFolder + "/Temp/Local/Blues"));
}

TEST_F(PatchLibrary, BackupsRecordTheModelAndReplaceTheOldGroupOnlyWhenWhole)
{
    startLibrary();
    connect();
    const std::vector<std::shared_ptr<PatchItem>> device = {item(writePatch("Device/Patch/0_0_0.qptc", "One")),
                                                            item(writePatch("Device/Patch/0_0_1.qptc", "Two"))};
    EXPECT_EQ(utils->backupPatchListWithName("Gig:1", device), 1);
    EXPECT_EQ(names("Temp/Local/Gig-1"), (Strings{"BackupInfo.backup", "One.qptc", "Two.qptc"}));
    EXPECT_EQ(device[0]->path, rootFolder + "/Temp/Local/Gig-1/One.qptc");
    EXPECT_EQ(utils->canBackupWithName("Gig:1"), "Gig-1 (1)");
    EXPECT_TRUE(utils->checkBackupGroupTheSeemModel("Gig:1"));  // its record names the connected model

    const std::vector<std::shared_ptr<PatchItem>> again = {item(writePatch("Device/Patch/0_0_2.qptc", "Three")),
                                                           item(writePatch("Device/Patch/0_0_3.qptc", "Four"))};
    // A copy failing part-way, or the new group not reaching the disk, leaves the old backup as it was.
    for (const auto& [op, path] : {std::pair{Op::Copy, "0_0_3"}, std::pair{Op::Flush, "Temp/.backup"}}) {
        faulty.fail(op, path);
        EXPECT_EQ(utils->backupPatchListWithName("Gig:1", again), 2);
        EXPECT_EQ(names("Temp/Local/Gig-1"), (Strings{"BackupInfo.backup", "One.qptc", "Two.qptc"}));
        faulty.heal();
    }
    EXPECT_EQ(utils->backupPatchListWithName("Gig:1", {item(rootFolder + "/Temp/Local/missing.qptc")}), 2);
    EXPECT_EQ(utils->backupPatchListWithName("Gig:1", again), 3);
    EXPECT_EQ(names("Temp/Local/Gig-1"), (Strings{"BackupInfo.backup", "Four.qptc", "Three.qptc"}));
    for (const auto& name : names("Temp")) EXPECT_NE(name[0], '.') << "staging left behind: " << name;

    // Restore copies into the device folder and stops at the first file that is not a patch.
    std::vector<std::shared_ptr<PatchItem>> restore = {item(again[0]->path), item(rootFolder + "/nothing.qptc"),
                                                       item(again[1]->path)};
    EXPECT_FALSE(utils->restorePatchWithPatchItems(restore));
    EXPECT_EQ(restore[0]->path, rootFolder + "/Temp/Device/Patch/Three.qptc");

    utils->forceEjectDevice();
    EXPECT_TRUE(loop.runUntil([&] { return !utils->checkBackupGroupTheSeemModel("Gig:1"); }));
}

// The saved library is rebuilt beside the old one: a save whose library cannot be made or swapped in
// leaves the old one whole, and one with an entry that cannot be staged saves the others and that entry's
// last saved copy; either way the pool stays marked as changed.
TEST_F(PatchLibrary, PoolSaveIsWholeOrNothing)
{
    startLibrary();
    auto patch = std::make_shared<DirectoryObject>();
    patch->object = item(writePatch("Temp/Local/[4] Lead.qptc", "Lead"));
    const auto normal = group("Blues", {writePatch("Temp/Local/Blues/x.qptc", "X"), writePatch("Temp/Local/Blues/y.qptc", "Y")});
    auto backup = group("Gig:1", {writePatch("Temp/Local/Gig-1/One.qptc", "One")});
    backup->isBackUpAllGroup = true;
    BackupFile::saveBackupFile(BackupFile::initWithName("Gig:1", "Rig One").get(),
                               rootFolder + "/Temp/Local/Gig-1/BackupInfo.backup", rootFolder);
    const auto empty = group("Empty");
    const std::vector<std::shared_ptr<DirectoryObject>> pool = {patch, normal, backup, empty};

    std::atomic<bool> changed{true};
    utils->savePatchPoolToLocal(pool, changed);  // not loaded yet
    EXPECT_FALSE(fs::exists(rootFolder + "/QFXMacApplication/Patch"));
    utils->sendPatchPoolData({});
    ASSERT_TRUE(loop.runUntil([&] { return utils->isLoadedPatchPool(); }));
    utils->savePatchPoolToLocal(pool, changed);
    EXPECT_FALSE(changed);
    EXPECT_EQ(names("QFXMacApplication/Patch/Pool"), (Strings{"[0] Lead.qptc", "[1] Blues", "[3] Empty"}));
    EXPECT_EQ(names("QFXMacApplication/Patch/Backup/[2] Gig-1"), (Strings{"BackupInfo.backup", "[0] One.qptc"}));

    changed = true;
    const std::vector<std::shared_ptr<DirectoryObject>> smaller = {normal, backup};
    for (Op op : {Op::Flush, Op::Move}) {
        faulty.fail(op, "QFXMacApplication/.Patch-saving");
        utils->savePatchPoolToLocal(smaller, changed);
        faulty.heal();
        EXPECT_TRUE(changed);
        EXPECT_EQ(names("QFXMacApplication/Patch/Pool"), (Strings{"[0] Lead.qptc", "[1] Blues", "[3] Empty"}));
        settle();  // the old library set aside by the first save goes in the background
        EXPECT_EQ(names("QFXMacApplication"), (Strings{"Patch"}));
    }
    // Blues cannot be staged from the working copy: its last saved copy takes its new place.
    faulty.fail(Op::Link, "Temp/Local/Blues/y.qptc");
    utils->savePatchPoolToLocal(smaller, changed);
    faulty.heal();
    EXPECT_TRUE(changed);
    EXPECT_EQ(names("QFXMacApplication/Patch/Pool"), (Strings{"[0] Blues"}));
    EXPECT_EQ(names("QFXMacApplication/Patch/Pool/[0] Blues"), (Strings{"[0] x.qptc", "[1] y.qptc"}));
    EXPECT_EQ(names("QFXMacApplication/Patch/Backup/[1] Gig-1"), (Strings{"BackupInfo.backup", "[0] One.qptc"}));
    utils->savePatchPoolToLocal(smaller, changed);
    EXPECT_FALSE(changed);
    EXPECT_EQ(names("QFXMacApplication/Patch/Pool"), (Strings{"[0] Blues"}));
    // Not changed: nothing is written.
    utils->savePatchPoolToLocal(pool, changed);
    EXPECT_EQ(names("QFXMacApplication/Patch/Pool"), (Strings{"[0] Blues"}));
}
