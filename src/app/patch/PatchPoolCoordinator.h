#pragma once

#include <cstdint>
#include <memory>
#include <string>

class DirectoryObject;
class PatchItem;
class UndoAction;

// What the patch pool's edits ask of the library coordinator and the undo stack. Paths are absolute.
class PatchPoolCoordinator {
public:
    virtual ~PatchPoolCoordinator() = default;

    // The pool's working folder, "Temp/Local" under the root.
    virtual std::string localPoolFolder() = 0;
    virtual bool fileExistsAtPath(const std::string& path) = 0;
    // With intermediate folders; true when the folder is there afterwards.
    virtual bool createDirectoryAtPath(const std::string& path) = 0;
    // A copy of the patch file into `toPath`, never replacing; none when it failed.
    virtual std::shared_ptr<PatchItem> writeFilePatchWithPath(const std::string& source, const std::string& toPath) = 0;
    // The file moved into the group's folder (the top of the pool for an empty name); "" when it failed.
    virtual std::string movePatchItem(PatchItem& item, const std::string& groupName) = 0;
    // 0 renamed (folder moved, children re-pointed), 1 a folder of that name exists, 2 refused or failed.
    virtual std::int32_t renameGroup(DirectoryObject& group, const std::string& newName) = 0;
    // Rewrites the name and comment in the patch file; false leaves the file as it was.
    virtual bool editFilePatch(PatchItem& item) = 0;
    virtual void updatePatchWarningWithPatchItem(PatchItem& item) = 0;
    virtual void updateIncompatiblePathItemInDirectory(DirectoryObject& node) = 0;

    virtual void addActionStack(std::shared_ptr<UndoAction> action) = 0;
    virtual void doUndoAction() = 0;
};
