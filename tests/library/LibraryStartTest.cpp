#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

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

// Moves everything in `from` into `to`, as a drive's content goes with its unmount and comes back with its mount.
void moveEntries(const fs::path& from, const fs::path& to)
{
    fs::create_directories(to);
    for (const auto& entry : fs::directory_iterator(from)) fs::rename(entry.path(), to / entry.path().filename());
}

}  // namespace

class LibraryStart : public PatchLibrary {
protected:
    std::string library() const { return rootFolder + "/QFXMacApplication/Patch"; }
    void put(const fs::path& path, const std::string& name)
    {
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(files.writeAtomically(path.string(), patchBytes(name)));
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
    static long count(const Strings& heard, const std::string& event) { return std::count(heard.begin(), heard.end(), event); }
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
        utils.reset();
        fs::remove_all(rootFolder);
        put(library() + "/Pool/[0] A.qptc", "A");
        put(library() + "/Pool/[1] G/[0] C.qptc", "C");
        if (c.stale) put(rootFolder + "/Temp/Local/Old.qptc", "Old");
        c.fault(faulty);
        const Strings heard = start();
        faulty.heal();
        EXPECT_EQ(order(recorder.patchPool), Strings{});
        aRunThatCannotReadAddsE(heard, rootFolder + "/Temp/Local", std::strerror(c.code), library());
        theNextStartShows({"A", "G/C"});
    }
}

// A library, or a linked part, that held the library's patches at the last save and is missing or empty
// behind its link now (a share or drive whose mount point stays as an empty folder) is one the start could not
// read: told, never written under the bare mount point, and the session kept for when it is mounted again.
TEST_F(LibraryStart, ALibraryAwayBehindItsLinkIsNeverWrittenUnderTheMountPoint)
{
    const fs::path share = fs::path(root.path()) / "share";
    const fs::path unmounted = fs::path(root.path()) / "unmounted";
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        utils.reset();
        fs::remove_all(rootFolder);
        fs::remove_all(share);
        fs::remove_all(unmounted);
        fs::create_directories(c.target);
        fs::create_directories(fs::path(rootFolder + "/" + c.link).parent_path());
        fs::create_directory_symlink(c.target, rootFolder + "/" + c.link);
        put(library() + "/Pool/[0] A.qptc", "A");
        put(library() + "/Pool/[1] G/[0] C.qptc", "C");
        if (c.shown.size() == 3) {
            put(share / "[2] B" / "[0] D.qptc", "D");
            ASSERT_TRUE(BackupFile::saveBackupFile(BackupFile::initWithName("B", "Unit").get(), rootFolder + "/record", rootFolder));
            fs::rename(rootFolder + "/record", share / "[2] B" / BackupFile::kFileName);
        }
        start();
        ASSERT_EQ(order(recorder.patchPool), c.shown);
        ASSERT_EQ(save(recorder.patchPool), std::nullopt);
        utils.reset();

        moveEntries(share, unmounted);
        const Strings heard = start();
        aRunThatCannotReadAddsE(heard, c.told.string(), "missing or empty", share);
        EXPECT_TRUE(fs::is_empty(share)) << "written under the bare mount point";
        utils.reset();

        moveEntries(unmounted, share);
        theNextStartShows(c.shown);
    }
}
