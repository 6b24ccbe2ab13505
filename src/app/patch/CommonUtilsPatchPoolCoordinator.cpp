#include "app/patch/CommonUtilsPatchPoolCoordinator.h"

#include "library/CommonUtils.h"
#include "library/undo/UndoController.h"
#include "platform/files/FileManager.h"

CommonUtilsPatchPoolCoordinator::CommonUtilsPatchPoolCoordinator(CommonUtils& utils, platform::FileManager& files,
                                                                 UndoController& undo)
    : utils_(utils), files_(files), undo_(undo)
{
}

std::string CommonUtilsPatchPoolCoordinator::localPoolFolder() { return utils_.pathUnderRoot(CommonUtils::kTempLocal); }

bool CommonUtilsPatchPoolCoordinator::fileExistsAtPath(const std::string& path) { return files_.exists(path); }

bool CommonUtilsPatchPoolCoordinator::createDirectoryAtPath(const std::string& path)
{
    return files_.isDirectory(path) || files_.createDirectory(path, true);
}

std::shared_ptr<PatchItem> CommonUtilsPatchPoolCoordinator::writeFilePatchWithPath(const std::string& source,
                                                                                   const std::string& toPath)
{
    return utils_.writeFilePatchWithPath(source, toPath, CommonUtils::PatchWriteInfo{});
}

std::string CommonUtilsPatchPoolCoordinator::movePatchItem(PatchItem& item, const std::string& groupName)
{
    return utils_.movePatchItem(item, groupName);
}

std::int32_t CommonUtilsPatchPoolCoordinator::renameGroup(DirectoryObject& group, const std::string& newName)
{
    return utils_.renameGroup(group, newName);
}

bool CommonUtilsPatchPoolCoordinator::editFilePatch(PatchItem& item) { return utils_.editFilePatch(item); }

void CommonUtilsPatchPoolCoordinator::updatePatchWarningWithPatchItem(PatchItem& item)
{
    utils_.updatePatchWarningWithPatchItem(item);
}

void CommonUtilsPatchPoolCoordinator::updateIncompatiblePathItemInDirectory(DirectoryObject& node)
{
    utils_.updateIncompatiblePathItemInDirectory(node);
}

void CommonUtilsPatchPoolCoordinator::addActionStack(std::shared_ptr<UndoAction> action)
{
    undo_.addActionStack(std::move(action));
}

void CommonUtilsPatchPoolCoordinator::doUndoAction() { undo_.doUndoAction(); }
