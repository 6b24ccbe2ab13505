#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <vector>

#include "support/library/LinkedLibraryFixture.h"

namespace fs = std::filesystem;

namespace {

// Moves everything in `from` into `to`, as a drive's content goes with its unmount and comes back with its mount.
// A landed save's leftover that its clean-up removes meanwhile is passed by.
void moveEntries(const fs::path& from, const fs::path& to)
{
    fs::create_directories(to);
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(from)) entries.push_back(entry.path());
    for (const auto& entry : entries) {
        std::error_code ec;
        fs::rename(entry, to / entry.filename(), ec);
        if (ec && ec != std::errc::no_such_file_or_directory) throw fs::filesystem_error("cannot move", entry, ec);
    }
}

}  // namespace

class LibraryLinks : public LinkedLibrary {
protected:
    // The library {A} and its backups {B/D} linked into `drive` as "Backups", started.
    void linkedBackups(const fs::path& drive)
    {
        anew();
        fs::remove_all(drive);
        put(library() + "/Pool/[0] A.qptc", "A");
        backup(drive / "Backups");
        link("QFXMacApplication/Patch/Backup", drive / "Backups");
        start();
        ASSERT_EQ(order(recorder.patchPool), (Strings{"A", "B/D"}));
    }
};

class LibraryStart : public LinkedLibrary {
protected:
    // A run that could not read its library, whose session adds "E": told once, naming `folder` and `why`;
    // the save refuses and the end keeps the session. What lies under `untouched` is as it was.
    void aRunThatCannotReadAddsE(const Strings& heard, const std::string& folder, const std::string& why, const fs::path& untouched)
    {
        ASSERT_EQ(count(heard, "patchLibraryNotRead"), 1);
        const std::string reason = recorder.notReadReasons.back();
        EXPECT_NE(reason.find("\"" + folder + "\""), std::string::npos) << reason;
        EXPECT_NE(reason.find(why), std::string::npos) << reason;
        const auto before = filesIn(untouched);
        const auto refused = save(withE());
        ASSERT_TRUE(refused.has_value()) << "the library was replaced";
        EXPECT_EQ(*refused, reason);
        EXPECT_EQ(filesIn(untouched), before);
        ASSERT_EQ(utils->keepUnsavedPatchPool(), std::nullopt);
    }
    // The next start shows `library` whole, and the session's "E" after it.
    void theNextStartShows(const Strings& library)
    {
        const Strings heard = start();
        EXPECT_EQ(count(heard, "patchLibraryNotRead"), 0);
        const Strings shown = order(recorder.patchPool);
        ASSERT_EQ(shown.size(), library.size() + 1);
        EXPECT_EQ(Strings(shown.begin(), shown.end() - 1), library);
        EXPECT_TRUE(shown.back().ends_with("/E")) << shown.back();
    }
};

// A start that cannot clear or make its working copy shows nothing of the library: it is told as a start that
// could not read it, naming the folder and why, and a save once the disk takes writes again replaces nothing.
TEST_F(LibraryStart, AStartWithoutItsWorkingCopyNeverLetsASaveReplaceTheLibrary)
{
    struct Case {
        const char* name;
        std::function<void(FaultyFileManager&)> fault;
        bool stale;  // the last run's working copy is still there
        int code;
    };
    const Case cases[] = {
        {"a full disk", [](auto& f) { f.fail(Op::CreateDirectory, "/Temp/Local", 1000, ENOSPC); }, false, ENOSPC},
        {"a read-only data folder", [](auto& f) { f.fail(Op::CreateDirectory, "/Temp", 1000, EROFS); }, false, EROFS},
        {"a working copy in use",
         [](auto& f) {
             f.fail(Op::Move, "/Temp\n", 1000, EBUSY);
             f.alsoFail(Op::Remove, "/Temp", 1000, EBUSY);
         },
         true, EBUSY},
        {"an I/O error", [](auto& f) { f.fail(Op::CreateDirectory, "/Temp/Local", 1000, EIO); }, false, EIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        anew();
        libraryAGC();
        if (c.stale) put(rootFolder + "/Temp/Local/Old.qptc", "Old");
        c.fault(faulty);
        const Strings heard = start();
        faulty.heal();
        EXPECT_EQ(order(recorder.patchPool), Strings{});
        aRunThatCannotReadAddsE(heard, rootFolder + "/Temp/Local", std::strerror(c.code), library());
        theNextStartShows({"A", "G/C"});
    }
}

// A library, or a linked part, missing or empty behind its link now (a mount point left as an empty folder)
// is one the start could not read: never written under the bare mount point, the session kept for its return.
// Gone during the run, the save refuses it; another drive there is never replaced; emptied by the user, it is theirs.
TEST_F(LibraryStart, ALibraryAwayBehindItsLinkIsNeverWrittenUnderTheMountPoint)
{
    const fs::path share = fs::path(root.path()) / "share";
    const fs::path elsewhere = fs::path(root.path()) / "elsewhere";
    struct Case {
        const char* name;
        std::string link;   // the link the user made, under the data folder
        fs::path target;    // where it leads
        fs::path told;      // the folder the user is told of
        Strings shown;
    };
    const Case cases[] = {
        {"the library linked into the share", "QFXMacApplication/Patch", share / "Patch", share / "Patch", {"A", "G/C"}},
        {"the library linked to the mount point", "QFXMacApplication/Patch", share, share, {"A", "G/C"}},
        {"the store linked into the share", "QFXMacApplication", share / "store", share / "store/Patch", {"A", "G/C"}},
        {"the backups linked to the mount point", "QFXMacApplication/Patch/Backup", share, share, {"A", "G/C", "B/D"}},
        {"the backups linked into the share", "QFXMacApplication/Patch/Backup", share / "Backups", share / "Backups", {"A", "G/C", "B/D"}},
    };
    enum class Away { Unmounted, EmptiedByHand, UnmountedDuringTheRun, UnmountedAtTheEnd, KilledWhileAway, BackDuringTheRun, AnotherDriveThere,
                      MovedByTheUser, GoneDuringTheSave };
    const std::map<Away, const char*> told = {{Away::Unmounted, "unmounted"},
                                              {Away::EmptiedByHand, "emptied by hand"},
                                              {Away::UnmountedDuringTheRun, "unmounted during the run"},
                                              {Away::UnmountedAtTheEnd, "unmounted when the end saves"},
                                              {Away::KilledWhileAway, "killed after a save refused while unmounted"},
                                              {Away::BackDuringTheRun, "unmounted and back during the run"},
                                              {Away::AnotherDriveThere, "another drive mounted there during the run"},
                                              {Away::MovedByTheUser, "moved elsewhere by the user and linked there during the run"},
                                              {Away::GoneDuringTheSave, "unmounted once the save judged it there"}};
    for (const Case& c : cases) {
        for (const auto& [how, what] : told) {
            const bool unmounted = how != Away::EmptiedByHand;
            SCOPED_TRACE(std::string(c.name) + ", " + what);
            anew();
            fs::remove_all(share);
            fs::remove_all(elsewhere);
            fs::create_directories(c.target);
            faulty.mount(share.string());
            link(c.link, c.target);
            libraryAGC();
            if (c.shown.size() == 3) backup(c.target, "2");
            start();
            ASSERT_EQ(order(recorder.patchPool), c.shown);
            ASSERT_EQ(save(recorder.patchPool), std::nullopt);
            Strings shownWithE = c.shown;
            shownWithE.push_back("E");
            if (how == Away::MovedByTheUser) {
                // The place judged is where the link leads now: the save writes there, and the old place stays empty.
                // The new link made as a shell completes a folder's name, ending in "/".
                moveEntries(share, elsewhere);
                fs::remove(rootFolder + "/" + c.link);
                link(c.link, (elsewhere / fs::relative(c.target, share) / "").lexically_normal());
                ASSERT_EQ(save(withE()), std::nullopt);
                EXPECT_TRUE(fs::is_empty(share));
                EXPECT_EQ(count(start(), "patchLibraryNotRead"), 0);
                EXPECT_EQ(order(recorder.patchPool), shownWithE);
                continue;
            }
            if (how != Away::Unmounted && how != Away::EmptiedByHand) {
                const auto unmount = [&] {
                    moveEntries(share, elsewhere);
                    faulty.unmount(share.string());
                };
                // Gone once the save judged the places, as it makes its first folder.
                if (how == Away::GoneDuringTheSave) faulty.atFirst(Op::CreateDirectory, ".Patch-saving", unmount);
                else unmount();
                std::map<std::string, std::string> other;
                if (how == Away::AnotherDriveThere) {
                    fs::create_directories(c.target);
                    if (c.shown.size() == 3) backup(c.told, "7");
                    else put(c.told / "Pool/[0] O.qptc", "O");
                    faulty.mount(share.string());
                    other = filesIn(share);
                }
                if (how == Away::UnmountedAtTheEnd) utils->closeApp();
                const auto refused = save(withE());
                ASSERT_TRUE(refused.has_value()) << "written under the bare mount point, or over another drive's library";
                EXPECT_NE(refused->find("\"" + c.told.string() + "\""), std::string::npos) << *refused;
                EXPECT_NE(refused->find(how == Away::AnotherDriveThere ? "another library" : "missing or empty"), std::string::npos) << *refused;
                EXPECT_TRUE(fs::is_symlink(rootFolder + "/" + c.link)) << "the link replaced";
                if (how == Away::AnotherDriveThere) {
                    EXPECT_EQ(filesIn(share), other) << "another drive's library replaced";
                    continue;
                }
                // Gone during the save, the folders its staging was begun in may stay, holding nothing.
                EXPECT_TRUE(how == Away::GoneDuringTheSave ? filesIn(share).empty() : fs::is_empty(share))
                    << "written under the bare mount point";
                if (how == Away::GoneDuringTheSave) {
                    // The session kept, and its share back, the next start shows it.
                    ASSERT_EQ(utils->keepUnsavedPatchPool(), std::nullopt);
                    utils.reset();
                    for (const auto& entry : fs::directory_iterator(share)) fs::remove_all(entry.path());
                }
                if (how == Away::BackDuringTheRun) {
                    // The share back, the next save of the run lands, there: the session read back from it.
                    moveEntries(elsewhere, share);
                    faulty.mount(share.string());
                    ASSERT_EQ(save(withE()), std::nullopt);
                    EXPECT_TRUE(fs::is_symlink(rootFolder + "/" + c.link)) << "the link replaced";
                    EXPECT_TRUE(fs::is_empty(elsewhere));
                    EXPECT_EQ(count(start(), "patchLibraryNotRead"), 0);
                    EXPECT_EQ(order(recorder.patchPool), shownWithE);
                    continue;
                }
                // Kept by the end, or by the failed save's note when the run is killed instead.
                if (how == Away::UnmountedDuringTheRun || how == Away::UnmountedAtTheEnd) {
                    ASSERT_EQ(utils->keepUnsavedPatchPool(), std::nullopt);
                }
                utils.reset();
                moveEntries(elsewhere, share);
                faulty.mount(share.string());
                // The session was kept against the library it was loaded from, which is back: shown instead.
                EXPECT_EQ(count(start(), "patchLibraryNotRead"), 0);
                EXPECT_EQ(order(recorder.patchPool), shownWithE);
                continue;
            }
            utils.reset();

            // The share's content goes with its unmount; what the link leads to, with the user's deletion.
            moveEntries(unmounted ? share : c.target, elsewhere);
            if (!unmounted) {
                EXPECT_EQ(count(start(), "patchLibraryNotRead"), 0);
                const Strings left = c.shown.size() == 3 ? Strings{"A", "G/C"} : Strings{};
                ASSERT_EQ(order(recorder.patchPool), left);
                ASSERT_EQ(save(withE()), std::nullopt);
                utils.reset();
                start();
                EXPECT_EQ(order(recorder.patchPool).back(), "E");
                continue;
            }
            faulty.unmount(share.string());
            const Strings heard = start();
            aRunThatCannotReadAddsE(heard, c.told.string(), "missing or empty", share);
            EXPECT_TRUE(fs::is_empty(share)) << "written under the bare mount point";
            utils.reset();

            moveEntries(elsewhere, share);
            faulty.mount(share.string());
            theNextStartShows(c.shown);
        }
    }
}

// A part linked within the library (relative or absolute), or to a folder that holds the library, cannot be
// swapped in with it: the save says so and replaces nothing, the session's patch stays in the working copy,
// and the library and what the link leads to are as they were.
TEST_F(LibraryLinks, APartLinkedWithinTheLibraryOrHoldingItIsNeverReportedSaved)
{
    struct Case {
        const char* part;
        const char* target;  // relative to the library, or absolute below it when it starts with "/"
    };
    const Case cases[] = {{"Pool", "Patches"}, {"Pool", "/Patches"}, {"Backup", "Patches"}, {"Backup", ".."}, {"Pool", "."}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.part) + " -> " + c.target);
        anew();
        const std::string other = std::string(c.part) == "Pool" ? "Backup" : "Pool";
        put(library() + "/Patches/[0] A.qptc", "A");
        put(library() + "/" + other + "/[1] O.qptc", "O");
        link("QFXMacApplication/Patch/" + std::string(c.part), c.target[0] == '/' ? fs::path(library() + c.target) : fs::path(c.target));
        start();
        const auto before = filesIn(rootFolder + "/QFXMacApplication");
        const auto why = save(withE());
        ASSERT_TRUE(why.has_value()) << "reported saved";
        EXPECT_NE(why->find(library()), std::string::npos) << *why;
        EXPECT_NE(why->find(std::string("/") + c.part + "\" links to"), std::string::npos) << *why;
        EXPECT_EQ(filesIn(rootFolder + "/QFXMacApplication"), before);
        EXPECT_TRUE(fs::is_symlink(library() + "/" + c.part));
        EXPECT_TRUE(fs::exists(rootFolder + "/Temp/Local/E.qptc"));
    }
}

// A save cut between its swaps, with a part linked to a folder beside the library: the library went aside
// after the part's old folder did. The next start puts back the library, never the part's old folder.
TEST_F(LibraryLinks, ACutSaveWithALinkedPartBesideTheLibraryPutsBackTheLibrary)
{
    struct Case {
        const char* part;
        const char* folder;  // beside the library
        Strings shown;
    };
    // A linked "Pool" came in with the session's patch before the cut; with a linked "Backup" the session's
    // patch comes back from the pool the failed save kept for a cut run.
    const Case cases[] = {{"Backup", "Backups", {"A", "B/D", "E"}}, {"Pool", "Pools", {"A", "B/D", "E"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        anew();
        const fs::path beside = fs::path(rootFolder) / "QFXMacApplication" / c.folder;
        const bool pool = std::string(c.part) == "Pool";
        put((pool ? beside : fs::path(library()) / "Pool") / "[0] A.qptc", "A");
        backup(pool ? fs::path(library()) / "Backup" : beside);
        link("QFXMacApplication/Patch/" + std::string(c.part), fs::path("..") / c.folder);
        start();
        ASSERT_EQ(order(recorder.patchPool), (Strings{"A", "B/D"}));
        // Cut once the part is swapped and the library is aside: neither the new library comes in nor
        // anything is put back.
        faulty.fail(Op::Move, "\n" + library());
        faulty.alsoFail(Op::Move, "/" + std::string(c.folder) + "\n", 1000, EIO, 1);
        ASSERT_TRUE(save(withE()).has_value());
        utils.reset();
        faulty.heal();
        ASSERT_FALSE(fs::exists(library()));

        start();
        EXPECT_EQ(order(recorder.patchPool), c.shown);
        EXPECT_TRUE(fs::is_symlink(library() + "/" + c.part)) << "the library, link and all";
    }
}

// A save refused on a linked part's drive names that folder, where the user can free it; an old copy of the
// part that a cut clean-up left on its drive goes with the next save, as the library's own leftovers do.
TEST_F(LibraryLinks, APartsDriveIsNamedWhenItRefusesAndItsLeftoversGoWithTheNextSave)
{
    const fs::path drive = fs::path(root.path()) / "other drive";
    const fs::path backups = drive / "Backups";
    struct Case {
        const char* name;
        Op op;
        std::string where;
        int code;
    };
    const Case cases[] = {
        {"no staging folder on the drive", Op::CreateDirectory, (drive / ".Patch-saving").string(), EROFS},
        {"the part cannot go aside", Op::Move, backups.string() + "\n", EACCES},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        linkedBackups(drive);
        faulty.fail(c.op, c.where, 1000, c.code);
        const auto why = save(withE());
        faulty.heal();
        ASSERT_TRUE(why.has_value());
        EXPECT_NE(why->find("\"" + backups.string() + "\""), std::string::npos) << *why;
        EXPECT_NE(why->find(std::strerror(c.code)), std::string::npos) << *why;
        EXPECT_EQ(entriesOf(drive), Strings{"Backups"});
    }

    // The clean-up after a landed save is cut on the drive: the part's old copy stays there, until the next save.
    faulty.fail(Op::Remove, (drive / ".").string());
    ASSERT_EQ(save(withE()), std::nullopt);
    utils.reset();
    faulty.heal();
    ASSERT_EQ(entriesOf(drive).size(), 2U);
    start();
    ASSERT_EQ(order(recorder.patchPool), (Strings{"A", "B/D", "E"}));
    ASSERT_EQ(save(recorder.patchPool), std::nullopt);
    utils.reset();
    EXPECT_EQ(entriesOf(drive), Strings{"Backups"});
    EXPECT_EQ(filesIn(backups).count("[1] B/[0] D.qptc"), 1U);
}

// A save cut between a linked part's two moves leaves the part's folder aside on its drive with the staged part
// beside it. The next start puts the folder back, as it does the library's, in place of nothing or of an empty
// folder the user made again; a folder the user filled since stays theirs, and no save removes the aside then.
TEST_F(LibraryLinks, APartLeftAsideByACutSaveIsPutBackAndNeverSwept)
{
    const fs::path drive = fs::path(root.path()) / "other drive";
    const fs::path backups = drive / "Backups";
    struct Case {
        const char* name;
        std::function<void()> meanwhile;  // what the user does before the next start
        Strings shown;
        bool asideStays;
    };
    const Case cases[] = {
        {"nothing", [] {}, {"A", "B/D", "E"}, false},
        {"the folder made again", [&] { fs::create_directories(backups); }, {"A", "B/D", "E"}, false},
        // The clock set back since a landed save whose aside and an older staging folder were left: the cut's is put back.
        {"a later save's leftovers beside",
         [&] {
             backup(drive / ".Backups.old-99999999999999999999", "5");
             fs::create_directories(drive / ".Patch-saving-99999999999999999998");
         },
         {"A", "B/D", "E"}, false},
        // Another library now: the session's patch comes beside it, in a group named for its session.
        {"the folder made again and filled", [&] { backup(backups, "3"); }, {"A", "B/D", "Kept/E"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        linkedBackups(drive);
        // The staged part never moves in, nor the old one back; the staged one stays, as a kill leaves it.
        faulty.fail(Op::Move, "\n" + backups.string());
        faulty.alsoFail(Op::Remove, (drive / ".Patch-saving").string());
        ASSERT_TRUE(save(withE()).has_value());
        utils.reset();
        faulty.heal();
        ASSERT_FALSE(fs::exists(backups));
        ASSERT_EQ(entriesOf(drive).size(), 2U);
        c.meanwhile();

        const Strings heard = start();
        EXPECT_EQ(count(heard, "patchLibraryNotRead"), 0);
        EXPECT_EQ(asKept(order(recorder.patchPool)), c.shown);
        ASSERT_EQ(save(recorder.patchPool), std::nullopt);
        utils.reset();
        EXPECT_EQ(filesIn(backups).count("[1] B/[0] D.qptc"), 1U);
        const Strings left = entriesOf(drive);
        EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const std::string& name) { return name.starts_with(".Backups.old-"); }),
                  c.asideStays ? 1 : 0);
        if (!c.asideStays) continue;
        // The aside still holds the backups the cut set aside.
        for (const auto& name : left) {
            if (!name.starts_with(".Backups.old-")) continue;
            EXPECT_EQ(filesIn(drive / name).count("[1] B/[0] D.qptc"), 1U);
        }
    }
}
