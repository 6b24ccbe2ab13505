#pragma once

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "device/formats/OKVPatch.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "support/files/FaultyFileManager.h"
#include "support/library/CoordinatorFixture.h"

// The coordinator over a file manager the test can make fail, with helpers that lay out patch files.
class PatchLibrary : public Coordinator {
protected:
    using Op = FaultyFileManager::Op;

    // The coordinator goes before the file manager it was handed.
    ~PatchLibrary() override { utils.reset(); }

    CommonUtils& startLibrary(const std::string& language = "en")
    {
        utils.reset();
        utils = std::make_unique<CommonUtils>(collaborators(faulty));
        utils->setDelegate(&recorder);
        utils->setPreferredLocalization(language);
        return *utils;
    }

    static Bytes patchBytes(const std::string& name, const Bytes& commentEN = {}, const Bytes& commentJP = {})
    {
        OKVPatch patch;
        patch.setPatchName(name);
        patch.setEffectTypes({0x01000001, 0x02000002});
        patch.commentEN().setContent(commentEN);
        patch.commentJP().setContent(commentJP);
        patch.prm().setContent(Bytes(16, 0x33));
        return patch.getByteData();
    }
    // A patch file at `relative` under the root, its folders made.
    std::string writePatch(const std::string& relative, const std::string& name, const Bytes& commentEN = {},
                           const Bytes& commentJP = {})
    {
        const std::string path = rootFolder + "/" + relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        EXPECT_TRUE(files.writeAtomically(path, patchBytes(name, commentEN, commentJP)));
        return path;
    }
    std::shared_ptr<PatchItem> item(const std::string& path)
    {
        auto made = std::make_shared<PatchItem>();
        made->path = path;
        return made;
    }
    // An edit of the file at `path`: its new name and comment.
    static PatchItem editOf(const std::string& path, const std::string& name, const std::string& comment = {})
    {
        PatchItem edit;
        edit.path = path;
        edit.patchName = name;
        edit.patchComment = comment;
        return edit;
    }
    static std::shared_ptr<DirectoryObject> group(const std::string& name, const std::vector<std::string>& paths = {})
    {
        auto node = std::make_shared<DirectoryObject>();
        node->name = name;
        node->isGroup = true;
        for (const auto& path : paths) {
            auto leaf = std::make_shared<DirectoryObject>();
            auto patch = std::make_shared<PatchItem>();
            patch->path = path;
            leaf->path = path;
            leaf->object = patch;
            node->childDirectories.push_back(leaf);
        }
        return node;
    }
    // A patch of the pool at `path`, shown as `name`.
    static std::shared_ptr<DirectoryObject> leaf(const std::string& path, const std::string& name)
    {
        auto node = std::make_shared<DirectoryObject>();
        auto item = std::make_shared<PatchItem>();
        item->path = path;
        item->patchName = name;
        node->name = name;
        node->path = path;
        node->object = item;
        return node;
    }
    // The tree in its order: "Patch", "Group/Patch", and "Group/" for a group without patches.
    static Strings order(const std::vector<std::shared_ptr<DirectoryObject>>& tree)
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
    std::string library() const { return rootFolder + "/QFXMacApplication/Patch"; }
    // A file of the library at `relative`, its folders made.
    void put(const std::string& relative, const Bytes& bytes)
    {
        const std::filesystem::path path = library() + "/" + relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
    }
    // A start that loads the pool, and everything it said once the pool was shown.
    Strings start()
    {
        startLibrary();
        utils->createPatchDirectoryObjectFromLocal();
        Strings heard = until("patchPool");
        for (auto& more : settle()) heard.push_back(std::move(more));
        return heard;
    }
    // A case begins with no run and no data folder.
    void anew()
    {
        utils.reset();
        std::filesystem::remove_all(rootFolder);
    }
    // Patch files of the library at each `relative`, named as their file is, "[n] " left out.
    void lay(const Strings& relatives)
    {
        for (const std::string& relative : relatives) {
            std::string name = std::filesystem::path(relative).stem().string();
            if (name.starts_with("[")) name = name.substr(name.find("] ") + 2);
            put(relative, patchBytes(name));
        }
    }
    // A start that loads the saved pool; the tree it shows.
    CommonUtils::Tree load()
    {
        start();
        return recorder.patchPool;
    }
    // A save of `tree`: why it was not made, if it was not.
    std::optional<std::string> save(const CommonUtils::Tree& tree, bool changed = true)
    {
        std::atomic<bool> flag{changed};
        return utils->savePatchPoolToLocal(tree, flag);
    }
    // Whether a save of `tree` landed: the pool is no longer marked changed.
    bool saved(const CommonUtils::Tree& tree)
    {
        std::atomic<bool> changed{true};
        utils->savePatchPoolToLocal(tree, changed);
        return !changed;
    }
    // A save of `tree` that cannot stage its library.
    void failSave(const CommonUtils::Tree& tree)
    {
        faulty.fail(Op::CreateDirectory, ".Patch-saving");
        ASSERT_TRUE(save(tree));
        faulty.heal();
    }
    // ... and the end's keeping of the pool it left.
    void keepAfterAFailedSave(const CommonUtils::Tree& tree)
    {
        ASSERT_NO_FATAL_FAILURE(failSave(tree));
        ASSERT_EQ(utils->keepUnsavedPatchPool(), std::nullopt);
    }
    // A run that loads the library, adds the patch `added` and ends with its save failed: its pool is kept.
    void keepAFailedRun(const std::string& added = "E")
    {
        CommonUtils::Tree tree = load();
        keepAfterAFailedSave(add(tree, added));
    }
    // `tree` with a patch `name` of the working copy (in `folder`) added at its end.
    CommonUtils::Tree& add(CommonUtils::Tree& tree, const std::string& name, const std::string& folder = "")
    {
        tree.push_back(leaf(writePatch("Temp/Local/" + folder + name + ".qptc", name), name));
        return tree;
    }
    // The kept pools in the data folder, sorted.
    Strings kept() const
    {
        Strings found;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(rootFolder, ec))
            if (entry.path().filename().string().starts_with(CommonUtils::kKeptPool)) found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }
    // `shown` with a kept session's group ("Kept session <time>") named "Kept".
    static Strings asKept(Strings shown)
    {
        for (auto& name : shown)
            if (name.starts_with("Kept session ")) name = "Kept" + name.substr(std::min(name.find('/'), name.size()));
        return shown;
    }
    // The names in a folder under the root, sorted.
    Strings names(const std::string& relative)
    {
        return files.contentsOfDirectory(rootFolder + "/" + relative).value_or(Strings{});
    }

    FaultyFileManager faulty;
    std::string rootFolder = root / "PEXO Rigmora";
};
