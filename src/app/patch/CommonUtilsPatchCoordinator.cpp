#include "app/patch/CommonUtilsPatchCoordinator.h"

#include <filesystem>
#include <system_error>

#include "library/CommonUtils.h"

// Every step below touches the pool's working copy or the files its nodes name: the copies asked before
// it land first, so it finds them where the user saw them go.
bool CommonUtilsPatchCoordinator::editFilePatch(PatchItem& item)
{
    utils_.settlePoolWork();
    return utils_.editFilePatch(item);
}

void CommonUtilsPatchCoordinator::selectPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index)
{
    utils_.selectPatchItem(item, index);
}

void CommonUtilsPatchCoordinator::writeToDeviceWithPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index)
{
    utils_.writeToDeviceWithPatchItem(item, index);
}

void CommonUtilsPatchCoordinator::writeToDeviceWithPatchGroup(const PatchItems& items,
                                                              const std::vector<std::int64_t>& indexes)
{
    utils_.writeToDeviceWithPatchGroup(items, indexes);
}

void CommonUtilsPatchCoordinator::writeToDeviceWithPatchList(const PatchItems& items)
{
    utils_.writeToDeviceWithPatchList(items);
}

void CommonUtilsPatchCoordinator::updatePatchWarningWithPatchItem(PatchItem& item)
{
    utils_.updatePatchWarningWithPatchItem(item);
}

void CommonUtilsPatchCoordinator::updatePatchWarningInPatchList(const PatchItems& list)
{
    utils_.updatePatchWarningInPatchList(list);
}

void CommonUtilsPatchCoordinator::updatePatchWarningInPatchPool(const Tree& pool)
{
    utils_.updatePatchWarningInPatchPool(pool);
}

void CommonUtilsPatchCoordinator::updatePatchWarningInPatchPoolLater(const Tree& pool, std::function<void()> applied)
{
    utils_.updatePatchWarningInPatchPoolLater(pool, std::move(applied));
}

std::optional<std::uint64_t> CommonUtilsPatchCoordinator::warningsJudgedAgainst() const
{
    return utils_.effectTablesGeneration();
}

std::optional<std::uint64_t> CommonUtilsPatchCoordinator::poolWarningsJudgedAgainst(const Tree& pool)
{
    return utils_.poolWarningsJudgedAgainst(pool);
}

// ---- patch files crossing the screen by drag and drop ----

std::string CommonUtilsPatchCoordinator::applicationFolder() { return utils_.rootPath(); }

bool CommonUtilsPatchCoordinator::checkFilePatchWithfilePath(const std::string& path)
{
    return utils_.checkFilePatchWithfilePath(path);
}

bool CommonUtilsPatchCoordinator::isPatchFileIncompatibleWithPath(const std::string& path)
{
    return utils_.isPatchFileIncompatibleWithPath(path);
}

std::shared_ptr<PatchItem> CommonUtilsPatchCoordinator::readFilePatchWithPath(const std::string& path)
{
    return utils_.readFilePatchWithPath(path);
}

std::shared_ptr<PatchItem> CommonUtilsPatchCoordinator::writeFilePatchWithInfo(const std::string& source,
                                                                               const std::string& toPath,
                                                                               const WriteInfo& info)
{
    utils_.settlePoolWork();
    return utils_.writeFilePatchWithPath(source, toPath, {info.replace, info.copiedToFinder, info.index});
}

void CommonUtilsPatchCoordinator::copyGroup(const DirectoryObject& group, const std::string& toPath)
{
    utils_.settlePoolWork();
    utils_.copyGroup(group, toPath);
}

bool CommonUtilsPatchCoordinator::checkBackupGroupTheSeemModel(const std::string& groupName)
{
    return utils_.checkBackupGroupTheSeemModel(groupName);
}

// ---- the patch pool's files ----

std::string CommonUtilsPatchCoordinator::localPoolFolder() { return utils_.pathUnderRoot(CommonUtils::kTempLocal); }

std::string CommonUtilsPatchCoordinator::devicePatchFolder() { return utils_.pathUnderRoot(CommonUtils::kDevicePatch); }

bool CommonUtilsPatchCoordinator::fileExistsAtPath(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

bool CommonUtilsPatchCoordinator::createDirectoryAtPath(const std::string& path)
{
    utils_.settlePoolWork();
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

std::shared_ptr<PatchItem> CommonUtilsPatchCoordinator::writeFilePatchWithPath(const std::string& source,
                                                                               const std::string& toPath,
                                                                               platform::Error* error)
{
    utils_.settlePoolWork();
    return utils_.writeFilePatchWithPath(source, toPath, CommonUtils::PatchWriteInfo{}, error);
}

void CommonUtilsPatchCoordinator::readFilePatchesLater(const std::vector<std::string>& paths,
                                                       std::function<void(PatchItems)> done)
{
    utils_.readFilePatchesLater(paths, std::move(done));
}

void CommonUtilsPatchCoordinator::writeFilePatchesLater(const PatchCopies& copies,
                                                        std::function<void(std::vector<CopiedPatch>)> done)
{
    std::vector<CommonUtils::PatchCopy> asked;
    asked.reserve(copies.size());
    for (const auto& [source, folder] : copies) asked.push_back({source, folder});
    utils_.writeFilePatchesLater(std::move(asked), [done = std::move(done)](std::vector<CommonUtils::CopiedPatch> results) {
        std::vector<CopiedPatch> copied;
        copied.reserve(results.size());
        for (auto& each : results) copied.push_back({std::move(each.item), each.isIncompatible, std::move(each.error)});
        done(std::move(copied));
    });
}

void CommonUtilsPatchCoordinator::settlePoolWork() { utils_.settlePoolWork(); }

std::string CommonUtilsPatchCoordinator::movePatchItem(PatchItem& item, const std::string& groupName)
{
    utils_.settlePoolWork();
    return utils_.movePatchItem(item, groupName);
}

std::int32_t CommonUtilsPatchCoordinator::renameGroup(DirectoryObject& group, const std::string& newName)
{
    utils_.settlePoolWork();
    return utils_.renameGroup(group, newName);
}

void CommonUtilsPatchCoordinator::updateIncompatiblePathItemInDirectory(DirectoryObject& node)
{
    utils_.updateIncompatiblePathItemInDirectory(node);
}

// ---- the recycle bin, backups and restores ----

std::string CommonUtilsPatchCoordinator::deletePatchItem(const PatchItem& item, const DirectoryObject* group)
{
    utils_.settlePoolWork();
    return utils_.deletePatchItem(item, group);
}

std::string CommonUtilsPatchCoordinator::undoPatchItem(const PatchItem& item, const DirectoryObject* group)
{
    utils_.settlePoolWork();
    return utils_.undoPatchItem(item, group);
}

std::string CommonUtilsPatchCoordinator::deletePatchGroup(const DirectoryObject& group)
{
    utils_.settlePoolWork();
    return utils_.deletePatchGroup(group);
}

std::string CommonUtilsPatchCoordinator::undoPatchGroup(DirectoryObject& group)
{
    utils_.settlePoolWork();
    return utils_.undoPatchGroup(group);
}

std::string CommonUtilsPatchCoordinator::canBackupWithName(const std::string& name)
{
    return utils_.canBackupWithName(name);
}

std::int32_t CommonUtilsPatchCoordinator::backupPatchListWithName(const std::string& name, const PatchItems& patchList)
{
    utils_.settlePoolWork();
    return utils_.backupPatchListWithName(name, patchList);
}

bool CommonUtilsPatchCoordinator::restorePatchWithPatchItems(const PatchItems& items)
{
    utils_.settlePoolWork();
    return utils_.restorePatchWithPatchItems(items);
}
