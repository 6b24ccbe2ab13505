#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "KeptPoolStarts.h"

namespace fs = std::filesystem;

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
