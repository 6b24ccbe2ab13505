#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include "library/store/BackupFile.h"
#include "support/library/PatchLibraryFixture.h"

namespace fs = std::filesystem;

namespace {

// The pool in its order: "Patch", "Group/Patch", "Group/" for a group without patches.
Strings order(const CommonUtils::Tree& tree)
{
    Strings names;
    for (const auto& node : tree) {
        if (!node->isGroup) {
            names.push_back(node->name.value_or("?"));
            continue;
        }
        if (node->childDirectories.empty()) names.push_back(node->name.value_or("?") + "/");
        for (const auto& child : node->childDirectories) names.push_back(node->name.value_or("?") + "/" + child->name.value_or("?"));
    }
    return names;
}

// Every regular file below `folder` by its path there, with its bytes.
std::map<std::string, std::string> filesIn(const fs::path& folder)
{
    std::map<std::string, std::string> found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!fs::is_regular_file(it->symlink_status())) continue;
        std::ifstream in(it->path(), std::ios::binary);
        found[fs::relative(it->path(), folder).string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return found;
}

Strings entriesOf(const fs::path& folder)
{
    Strings names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

class LibraryLinks : public PatchLibrary {
protected:
    std::string library() const { return rootFolder + "/QFXMacApplication/Patch"; }
    void put(const fs::path& path, const std::string& name)
    {
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(files.writeAtomically(path.string(), patchBytes(name)));
    }
    // A backup group "B" holding "D" in `part`, with the record that keeps it a backup.
    void backup(const fs::path& part)
    {
        put(part / "[1] B" / "[0] D.qptc", "D");
        fs::create_directories(rootFolder);
        ASSERT_TRUE(BackupFile::saveBackupFile(BackupFile::initWithName("B", "Unit").get(), rootFolder + "/record", rootFolder));
        fs::rename(rootFolder + "/record", part / "[1] B" / BackupFile::kFileName);
    }
    void link(const std::string& relative, const fs::path& target)
    {
        fs::create_directories(fs::path(library() + "/" + relative).parent_path());
        fs::create_symlink(target, library() + "/" + relative);
    }
    Strings start()
    {
        startLibrary();
        utils->createPatchDirectoryObjectFromLocal();
        Strings heard = until("patchPool");
        for (auto& more : settle()) heard.push_back(std::move(more));
        return heard;
    }
    // The pool shown with a patch "E" added at its end.
    CommonUtils::Tree withE()
    {
        CommonUtils::Tree tree = recorder.patchPool;
        auto node = std::make_shared<DirectoryObject>();
        auto item = std::make_shared<PatchItem>();
        item->path = writePatch("Temp/Local/E.qptc", "E");
        item->patchName = "E";
        node->name = "E";
        node->path = item->path;
        node->object = item;
        tree.push_back(node);
        return tree;
    }
    std::optional<std::string> save(const CommonUtils::Tree& tree)
    {
        std::atomic<bool> changed{true};
        return utils->savePatchPoolToLocal(tree, changed);
    }
};

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
        utils.reset();
        fs::remove_all(rootFolder);
        const std::string other = std::string(c.part) == "Pool" ? "Backup" : "Pool";
        put(library() + "/Patches/[0] A.qptc", "A");
        put(library() + "/" + other + "/[1] O.qptc", "O");
        link(c.part, c.target[0] == '/' ? fs::path(library() + c.target) : fs::path(c.target));
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
    // A linked "Pool" came in with the session's patch before the cut; a linked "Backup" is as it was.
    const Case cases[] = {{"Backup", "Backups", {"A", "B/D"}}, {"Pool", "Pools", {"A", "B/D", "E"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        utils.reset();
        fs::remove_all(rootFolder);
        const fs::path beside = fs::path(rootFolder) / "QFXMacApplication" / c.folder;
        const bool pool = std::string(c.part) == "Pool";
        put((pool ? beside : fs::path(library()) / "Pool") / "[0] A.qptc", "A");
        backup(pool ? fs::path(library()) / "Backup" : beside);
        link(c.part, fs::path("..") / c.folder);
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
        utils.reset();
        fs::remove_all(rootFolder);
        fs::remove_all(drive);
        put(library() + "/Pool/[0] A.qptc", "A");
        backup(backups);
        link("Backup", backups);
        start();
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
