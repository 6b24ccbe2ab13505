#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/patch/PatchPoolCoordinator.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/undo/UndoAction.h"

namespace testing_app {

// The pool's coordinator over a disk of paths kept in memory: copies and moves succeed unless the test
// names the patch to fail, and every undo record is kept, newest last.
class FakePatchPoolCoordinator final : public PatchPoolCoordinator {
public:
    std::string local = "/root/Temp/Local";
    std::set<std::string> existing;
    // Patch names whose copy or move fails.
    std::set<std::string> failingCopies;
    std::set<std::string> failingMoves;
    bool editSucceeds = true;
    std::int32_t renameResult = 0;
    std::vector<std::shared_ptr<UndoAction>> actions;
    std::vector<std::string> calls;
    int undoCount = 0;

    std::string localPoolFolder() override { return local; }
    bool fileExistsAtPath(const std::string& path) override { return existing.count(path) > 0; }
    bool createDirectoryAtPath(const std::string& path) override
    {
        calls.push_back("createDirectory " + path);
        existing.insert(path);
        return true;
    }
    std::shared_ptr<PatchItem> writeFilePatchWithPath(const std::string& source, const std::string& toPath) override
    {
        const std::string name = std::filesystem::path(source).filename().string();
        calls.push_back("write " + name + " -> " + toPath);
        if (failingCopies.count(std::filesystem::path(source).stem().string())) return nullptr;
        auto copied = std::make_shared<PatchItem>();
        copied->path = (std::filesystem::path(toPath) / name).string();
        return copied;
    }
    std::string movePatchItem(PatchItem& item, const std::string& groupName) override
    {
        calls.push_back("move " + item.patchName + " -> " + groupName);
        if (failingMoves.count(item.patchName)) return {};
        const std::string name = std::filesystem::path(item.path).filename().string();
        return (std::filesystem::path(local) / groupName / name).lexically_normal().string();
    }
    std::int32_t renameGroup(DirectoryObject& group, const std::string& newName) override
    {
        calls.push_back("renameGroup " + group.name.value_or("") + " -> " + newName);
        if (renameResult == 0) group.name = newName;
        return renameResult;
    }
    bool editFilePatch(PatchItem& item) override
    {
        calls.push_back("editFilePatch " + item.patchName);
        return editSucceeds;
    }
    void updatePatchWarningWithPatchItem(PatchItem& item) override { calls.push_back("warning " + item.patchName); }
    void updateIncompatiblePathItemInDirectory(DirectoryObject& /*node*/) override {}
    void addActionStack(std::shared_ptr<UndoAction> action) override { actions.push_back(std::move(action)); }
    void doUndoAction() override { ++undoCount; }

    // A patch whose file lies at `path`.
    static std::shared_ptr<PatchItem> patch(const std::string& name, const std::string& path)
    {
        auto item = std::make_shared<PatchItem>();
        item->patchName = name;
        item->path = path;
        return item;
    }
};

}  // namespace testing_app
