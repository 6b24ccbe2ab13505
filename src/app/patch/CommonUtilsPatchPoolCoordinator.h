#pragma once

#include "app/patch/PatchPoolCoordinator.h"

class CommonUtils;
class UndoController;
namespace platform {
class FileManager;
}

// The pool's edits on the program's coordinator, file manager and undo stack.
class CommonUtilsPatchPoolCoordinator final : public PatchPoolCoordinator {
public:
    CommonUtilsPatchPoolCoordinator(CommonUtils& utils, platform::FileManager& files, UndoController& undo);

    std::string localPoolFolder() override;
    bool fileExistsAtPath(const std::string& path) override;
    bool createDirectoryAtPath(const std::string& path) override;
    std::shared_ptr<PatchItem> writeFilePatchWithPath(const std::string& source, const std::string& toPath) override;
    std::string movePatchItem(PatchItem& item, const std::string& groupName) override;
    std::int32_t renameGroup(DirectoryObject& group, const std::string& newName) override;
    bool editFilePatch(PatchItem& item) override;
    void updatePatchWarningWithPatchItem(PatchItem& item) override;
    void updateIncompatiblePathItemInDirectory(DirectoryObject& node) override;
    void addActionStack(std::shared_ptr<UndoAction> action) override;
    void doUndoAction() override;

private:
    CommonUtils& utils_;
    platform::FileManager& files_;
    UndoController& undo_;
};
