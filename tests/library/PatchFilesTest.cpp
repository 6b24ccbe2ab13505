#include <filesystem>

#include "library/store/BackupFile.h"
#include "platform/text/ShiftJis.h"
#include "support/library/LibraryFiles.h"
#include "support/library/PatchLibraryFixture.h"

namespace fs = std::filesystem;

// A group exported twice gets a second folder, its patches of one name numbered; a source path with a ":"
// is read from its "-" folder. A patch name holding "/" or "\\" is exported under the name the pool's copies
// give it, numbered or not.
TEST_F(PatchLibrary, ExportsNumberEqualNamesAndMakeNamesSafe)
{
    startLibrary();
    const auto node = group("Live:Set", {writePatch("Temp/Local/Live-Set/1.qptc", "Same"), writePatch("Temp/Local/Live-Set/2.qptc", "Same"),
                                         writePatch("Temp/Local/Live-Set/3.qptc", "Same")});
    const std::string out = root / "out";
    utils->copyGroup(*node, out);
    utils->copyGroup(*node, out);
    EXPECT_EQ(files.contentsOfDirectory(out), (Strings{"Live-Set", "Live-Set (1)"}));
    EXPECT_EQ(files.contentsOfDirectory(out + "/Live-Set"), (Strings{"0 - Same.qptc", "1 - Same.qptc", "2 - Same.qptc"}));
    const struct {
        std::string source;
        const char* name;  // the patch's, written at the source when given
        std::int64_t index;
        const char* file;
    } cases[] = {{rootFolder + "/Temp/Local/Live:Set/1.qptc", nullptr, -1, "single/Same.qptc"},
                 {"0", "AC/DC", -1, "AC_DC.qptc"}, {"1", "AC/DC", 3, "3 - AC_DC.qptc"}, {"2", "a\\b", -1, "a_b.qptc"}, {"3", "/", 0, "0 - _.qptc"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string source = c.name ? writePatch("Temp/Local/" + c.source + ".qptc", c.name) : c.source;
        const std::string into = c.name ? out + "/export" : out + "/single";
        const auto copied = utils->writeFilePatchWithPath(source, into, {false, c.name != nullptr, c.index});
        ASSERT_TRUE(copied);
        EXPECT_EQ(copied->path, c.name ? into + "/" + c.file : out + "/" + c.file);
        EXPECT_EQ(files.readFile(copied->path), files.readFile(c.name ? source : rootFolder + "/Temp/Local/Live-Set/1.qptc"));
    }
}

// An effect item's relative path is one of the effect pool's working copy.
TEST_F(PatchLibrary, RelativeEffectPathsReadFromTheEffectPool)
{
    startLibrary();
    const std::string file = rootFolder + "/Temp/Effect/Pool/DLY/Echo.QF2";
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    ASSERT_TRUE(files.writeAtomically(file, library_files::effectModule(0x0D000001, "Echo", "DLY")));
    for (const std::string& path : {std::string("DLY/Echo.QF2"), std::string("./DLY/Echo.QF2"), file}) {
        const auto item = utils->getEffectItemWithPath(path);
        ASSERT_TRUE(item) << path;
        EXPECT_EQ(item->effectName, "Echo");
        EXPECT_EQ(item->path, file);
    }
    EXPECT_FALSE(utils->getEffectItemWithPath(" "));
    EXPECT_FALSE(utils->getEffectItemWithPath("DLY/Missing.QF2"));
    EXPECT_FALSE(utils->getEffectItemWithPath("/DLY/Echo.QF2"));
}

TEST_F(PatchLibrary, MovesIntoGroupsAndRenamesGroupsWithTheirChildren)
{
    startLibrary();
    fs::create_directories(rootFolder + "/Temp/Local/Blues");
    auto patch = item(writePatch("Temp/Local/Lead.qptc", "Lead"));
    const std::string moved = utils->movePatchItem(*patch, "Blues");
    EXPECT_EQ(moved, rootFolder + "/Temp/Local/Blues/Lead.qptc");
    patch->path = moved;
    EXPECT_EQ(utils->movePatchItem(*patch, "Blues"), moved);  // already there: untouched
    EXPECT_EQ(utils->movePatchItem(*patch, ".."), "");       // never outside the pool
    // Nor is a file from outside the pool's working copy ever moved into it.
    auto row = item(writePatch("Temp/Device/Patch/Row.qptc", "Row"));
    EXPECT_EQ(utils->movePatchItem(*row, "Blues"), "");
    EXPECT_TRUE(fs::exists(rootFolder + "/Temp/Device/Patch/Row.qptc"));

    auto blues = group("Blues", {moved});
    fs::create_directories(rootFolder + "/Temp/Local/Taken");
    EXPECT_EQ(utils->renameGroup(*blues, ":::"), 2);
    EXPECT_EQ(utils->renameGroup(*blues, "a/b"), 2);
    EXPECT_EQ(utils->renameGroup(*blues, "Taken"), 1);
    EXPECT_EQ(utils->renameGroup(*blues, "Slow:Blues"), 0);
    EXPECT_EQ(blues->name, "Slow:Blues");
    const std::string renamed = rootFolder + "/Temp/Local/Slow-Blues/Lead.qptc";
    EXPECT_EQ(blues->childDirectories[0]->patchItem()->path, renamed);
    EXPECT_EQ(names("Temp/Local"), (Strings{"Slow-Blues", "Taken"}));
    // Only the group's own folder takes the new name, even where a folder above it bears the old one.
    auto local = group("Local", {writePatch("Temp/Local/Local/Lead.qptc", "Lead")});
    EXPECT_EQ(utils->renameGroup(*local, "Leads"), 0);
    EXPECT_EQ(local->childDirectories[0]->patchItem()->path, rootFolder + "/Temp/Local/Leads/Lead.qptc");
    EXPECT_TRUE(files.exists(rootFolder + "/Temp/Local/Leads/Lead.qptc"));
}

// Names and comments are cut at the last whole character that fits; a blank comment is 200 zero bytes in
// the other language's chunk and nothing in the Japanese one; the chunk of the other language stays.
TEST_F(PatchLibrary, RewritesNamesAndCommentsInEachLanguage)
{
    const std::string kana = "\xE3\x81\x82";  // one character, two bytes in Shift-JIS
    std::string hundredAndOneKana;
    for (int i = 0; i < 101; ++i) hundredAndOneKana += kana;
    struct Case {
        std::string language, name, comment, expectedComment;
        std::size_t en, jp;
        bool ok;
    } cases[] = {
        {"en", "Clean", std::string(250, 'c'), std::string(200, 'c'), 200, 4, true},
        {"en", "Clean", "  ", "", 200, 4, true},
        {"en", "Clean", std::string(199, 'c') + "\xC3\xA9", std::string(199, 'c'), 200, 4, true},
        {"en", std::string("a\0b", 3), "x", "x", 4, 4, false},
        {"en", "TwelveChars!", "x", "old", 4, 4, false},
        {"ja", "Clean", hundredAndOneKana, hundredAndOneKana.substr(0, 300), 4, 200, true},
        {"ja", "Clean", "", "", 4, 0, true},
        // The Japanese encoding stores a wave dash, a minus and a not sign as their full-width forms.
        {"ja", "Clean", "\xE3\x80\x9C\xE2\x88\x92\xC2\xAC", "\xEF\xBD\x9E\xEF\xBC\x8D\xEF\xBF\xA2", 4, 8, true},
        {"en", "Clean", std::string("a\0b", 3), "ab", 4, 4, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language + " " + c.comment.substr(0, 8));
        startLibrary(c.language);
        const std::string path = writePatch("Temp/Local/p.qptc", "Old", {'o', 'l', 'd'}, *platform::ShiftJis::encode("old"));
        const Bytes before = *files.readFile(path);
        PatchItem edit = editOf(path, c.name, c.comment);
        EXPECT_EQ(utils->editFilePatch(edit), c.ok);
        const auto patch = utils->getOKVPatchWithPath(path);
        ASSERT_TRUE(patch);
        EXPECT_EQ(patch->commentEN().ckSize(), c.en);
        EXPECT_EQ(patch->commentJP().ckSize(), c.jp);
        if (!c.ok) {
            EXPECT_EQ(files.readFile(path), before);
            continue;
        }
        const auto read = utils->getPatchItemWithPath(path);
        EXPECT_EQ(read->patchName, c.name);
        EXPECT_EQ(read->patchComment, c.expectedComment);
        // The item shows what the file holds, as the lists do after the edit.
        EXPECT_EQ(edit.patchComment, c.expectedComment);
        // The former file is kept as it was.
        EXPECT_EQ(files.readFile(rootFolder + "/Temp/Former/p.qptc"), before);
    }
}

// Text the program cannot decode reads as "": a name that is not UTF-8, a comment that is not UTF-8 in
// English or not Shift-JIS in Japanese. An edit of the other field keeps its stored bytes, rather than
// writing the "" back, and the rewrite is checked against what it meant to store.
TEST_F(PatchLibrary, AnEditOfOneFieldKeepsTheStoredBytesOfTheOtherThoughTheyDoNotDecode)
{
    const Bytes latin1{'c', 'a', 'f', 0xE9};  // not UTF-8
    const Bytes notShiftJis{'x', 0x81, 0x20, 'y'};  // a lead byte before a byte no character ends with
    const std::string badName = "\xFF\xFEtone";
    for (const std::string language : {"en", "ja"}) {
        SCOPED_TRACE(language);
        startLibrary(language);
        const std::string path = writePatch("Temp/Local/p.qptc", badName, latin1, notShiftJis);
        const auto shown = utils->getPatchItemWithPath(path);
        ASSERT_TRUE(shown);
        ASSERT_EQ(shown->patchName, "");
        ASSERT_EQ(shown->patchComment, "");
        const Bytes before = *files.readFile(path);

        // The comment edited: the name's bytes stay as they were.
        PatchItem comment = *shown;
        comment.patchComment = "Warm";
        ASSERT_TRUE(utils->editFilePatch(comment));
        auto patch = utils->getOKVPatchWithPath(path);
        ASSERT_TRUE(patch);
        EXPECT_EQ(patch->patchName(), badName);
        EXPECT_EQ(utils->getPatchItemWithPath(path)->patchComment, "Warm");
        // The other language's comment is never touched.
        EXPECT_EQ(OKVPatch::subDataWithData((language == "ja" ? patch->commentEN() : patch->commentJP()).content()),
                  language == "ja" ? latin1 : notShiftJis);

        // Back to the stored file, then renamed: the comment's bytes stay as they were, in both chunks.
        ASSERT_TRUE(files.writeAtomically(path, before));
        PatchItem rename = *shown;
        rename.patchName = "Lead";
        ASSERT_TRUE(utils->editFilePatch(rename));
        patch = utils->getOKVPatchWithPath(path);
        ASSERT_TRUE(patch);
        EXPECT_EQ(patch->patchName(), "Lead");
        EXPECT_EQ(OKVPatch::subDataWithData(patch->commentEN().content()), latin1);
        EXPECT_EQ(OKVPatch::subDataWithData(patch->commentJP().content()), notShiftJis);
        EXPECT_EQ(rename.patchComment, "");

        // An edit that changes nothing leaves the file as it was, byte for byte.
        ASSERT_TRUE(files.writeAtomically(path, before));
        PatchItem same = *shown;
        ASSERT_TRUE(utils->editFilePatch(same));
        EXPECT_EQ(files.readFile(path), before);
    }
}

TEST_F(PatchLibrary, RewriteFailuresLeaveTheFileAsItWas)
{
    startLibrary();
    const std::string path = writePatch("Temp/Local/p.qptc", "Old", {'o'});
    const Bytes before = *files.readFile(path);
    PatchItem edit = editOf(path, "New");
    for (Op op : {Op::Copy, Op::Write, Op::CreateDirectory}) {
        faulty.fail(op, op == Op::Write ? "p.qptc" : "Temp/Former");
        EXPECT_FALSE(utils->editFilePatch(edit));
        EXPECT_EQ(files.readFile(path), before);
        faulty.heal();
    }
    // Every rewrite keeps its former file under a name of its own (the failed write's too), never in the
    // unit's folder, which a unit let go has removed on another thread.
    EXPECT_TRUE(utils->editFilePatch(edit));
    edit.patchName = "Newer";
    EXPECT_TRUE(utils->editFilePatch(edit));
    EXPECT_EQ(names("Temp/Former"), (Strings{"p (1).qptc", "p (2).qptc", "p.qptc"}));
    EXPECT_EQ(files.readFile(rootFolder + "/Temp/Former/p.qptc"), before);
    EXPECT_FALSE(files.exists(rootFolder + "/Temp/Device"));
    // Another group's patch of the same file name, whose rewrite does not read back as meant (a name the
    // record cuts): it gets its own former file back, never the first group's kept under that name.
    const std::string other = writePatch("Temp/Local/g/p.qptc", "Other", {'x'});
    const Bytes otherBefore = *files.readFile(other);
    PatchItem cut = editOf(other, "TwelveChars!");
    EXPECT_FALSE(utils->editFilePatch(cut));
    EXPECT_EQ(files.readFile(other), otherBefore);
    EXPECT_EQ(files.readFile(rootFolder + "/Temp/Former/p (3).qptc"), otherBefore);
}

// Replacing a file keeps it until its successor is whole; a file replaced by itself stays as it is.
TEST_F(PatchLibrary, ReplacingAPatchFileNeverLosesTheOneInTheWay)
{
    startLibrary();
    const std::string kept = writePatch("out/Keep.qptc", "Old");
    const std::string source = writePatch("Temp/Local/New.qptc", "New");
    const Bytes before = *files.readFile(kept);
    for (Op op : {Op::Copy, Op::Write}) faulty.fail(op, "Keep.qptc");
    EXPECT_FALSE(utils->writeFilePatchWithPath(source, kept, {true}));
    EXPECT_EQ(files.readFile(kept), before);
    faulty.heal();
    for (const std::string& from : {source, kept}) {
        const auto replaced = utils->writeFilePatchWithPath(from, kept, {true});
        ASSERT_TRUE(replaced);
        EXPECT_EQ(replaced->patchName, "New");
        EXPECT_EQ(names("out"), (Strings{"Keep.qptc"}));
    }
}

// A copy that fails says why: the file layer's errno, or that the source is no patch file.
TEST_F(PatchLibrary, AFailedCopyIntoThePoolSaysWhy)
{
    startLibrary();
    const std::string pool = rootFolder + "/Temp/Local";
    const std::string source = writePatch("in/Song.qptc", "Song");
    const auto failure = [&](const std::string& from, const std::string& to) {
        platform::Error error;
        EXPECT_FALSE(utils->writeFilePatchWithPath(from, to, {}, &error)) << from;
        return std::make_pair(error.domain, error.code);
    };
    const auto files_ = [](int code) { return std::make_pair(std::string("files"), std::int64_t{code}); };
    faulty.fail(Op::Copy, "Song.qptc", 1, ENOSPC);
    EXPECT_EQ(failure(source, pool), files_(ENOSPC));
    faulty.fail(Op::CreateDirectory, "Temp/Local/Live", 1, EACCES);
    EXPECT_EQ(failure(source, pool + "/Live"), files_(EACCES)) << "into a group whose folder cannot be made";
    EXPECT_TRUE(names("Temp/Local").empty());

    EXPECT_EQ(failure(rootFolder + "/in/Gone.qptc", pool), files_(ENOENT));
    const std::string text = rootFolder + "/in/Notes.qptc";
    ASSERT_TRUE(files.writeAtomically(text, Bytes{'p', 'l', 'a', 'i', 'n'}));
    EXPECT_EQ(failure(text, pool), std::make_pair(std::string(CommonUtils::kPatchErrorDomain), CommonUtils::kNotAPatchFile));
    EXPECT_EQ(failure(rootFolder + "/in/" + std::string(300, 'x') + ".qptc", pool), files_(ENAMETOOLONG));
    EXPECT_TRUE(utils->writeFilePatchWithPath(source, pool, {})) << "a copy after the failures works";
}

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
