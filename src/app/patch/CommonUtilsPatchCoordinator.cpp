#include "app/patch/CommonUtilsPatchCoordinator.h"

#include <filesystem>
#include <system_error>

#include "library/CommonUtils.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"

namespace {

std::string folderOf(CommonUtils& utils, const std::string& groupName)
{
    const std::string local = utils.pathUnderRoot(CommonUtils::kTempLocal);
    return groupName.empty() ? local : (std::filesystem::path(local) / CommonUtils::groupFolderName(groupName)).string();
}

// The group's folder and every file its patches name.
std::vector<std::string> pathsOfGroup(CommonUtils& utils, const DirectoryObject& group)
{
    std::vector<std::string> paths{folderOf(utils, group.name.value_or(""))};
    for (const auto& child : group.childDirectories)
        if (const PatchItem* item = child ? child->patchItem() : nullptr) paths.push_back(item->path);
    return paths;
}

std::vector<std::string> pathsOf(const std::shared_ptr<PatchItem>& item)
{
    return {item ? item->path : std::string()};
}

template <typename Items>
std::vector<std::string> pathsOf(const Items& items)
{
    std::vector<std::string> paths;
    paths.reserve(items.size());
    for (const auto& item : items) paths.push_back(item ? item->path : std::string());
    return paths;
}

}  // namespace

// Every step below touches the pool's working copy or the files its nodes name: the copies asked before
// it that it could meet land first, so it finds them where the user saw them go. Copies it cannot meet go
// on while it runs, and the main thread does not wait for them. A step that reads the files its patches
// name lands the moves of the pool's files still on the queue first when one of them takes such a file
// (nothing otherwise): until then a moved patch names its file where it was.
bool CommonUtilsPatchCoordinator::editFilePatch(PatchItem& item)
{
    utils_.settlePoolWorkFor({item.path});
    return utils_.editFilePatch(item);
}

bool CommonUtilsPatchCoordinator::restoreFilePatch(PatchItem& item, const StoredPatchTexts& restore)
{
    utils_.settlePoolWorkFor({item.path});
    return utils_.editFilePatch(item, &restore);
}

std::optional<StoredPatchTexts> CommonUtilsPatchCoordinator::storedPatchTexts(const std::string& path)
{
    utils_.settlePoolWorkFor({path});
    return utils_.storedPatchTexts(path);
}

void CommonUtilsPatchCoordinator::selectPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index)
{
    utils_.settlePoolMovesOf(pathsOf(item));
    utils_.selectPatchItem(item, index);
}

void CommonUtilsPatchCoordinator::writeToDeviceWithPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index)
{
    utils_.settlePoolMovesOf(pathsOf(item));
    utils_.writeToDeviceWithPatchItem(item, index);
}

void CommonUtilsPatchCoordinator::writeToDeviceWithPatchGroup(const PatchItems& items,
                                                              const std::vector<std::int64_t>& indexes)
{
    utils_.settlePoolMovesOf(pathsOf(items));
    utils_.writeToDeviceWithPatchGroup(items, indexes);
}

void CommonUtilsPatchCoordinator::writeToDeviceWithPatchList(const PatchItems& items)
{
    utils_.settlePoolMovesOf(pathsOf(items));
    utils_.writeToDeviceWithPatchList(items);
}

void CommonUtilsPatchCoordinator::updatePatchWarningWithPatchItem(PatchItem& item)
{
    utils_.settlePoolMovesOf({item.path});
    utils_.updatePatchWarningWithPatchItem(item);
}

void CommonUtilsPatchCoordinator::updatePatchWarningInPatchList(const PatchItems& list)
{
    utils_.settlePoolMovesOf(pathsOf(list));
    utils_.updatePatchWarningInPatchList(list);
}

void CommonUtilsPatchCoordinator::updatePatchWarningInPatchPool(const Tree& pool)
{
    utils_.settlePoolMoves();
    utils_.updatePatchWarningInPatchPool(pool);
}

void CommonUtilsPatchCoordinator::updatePatchWarningInPatchPoolLater(const Tree& pool, std::function<void()> applied)
{
    // Asked after every edit with a unit connected: it takes the files' paths once the moves have landed,
    // and the main thread never waits for them (nor for the copies ahead of them).
    utils_.whenPoolMovesLanded([&utils = utils_, pool, applied = std::move(applied)]() mutable {
        utils.updatePatchWarningInPatchPoolLater(pool, std::move(applied));
    });
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
    utils_.settlePoolWorkFor({source, toPath});
    return utils_.writeFilePatchWithPath(source, toPath, {info.replace, info.copiedToFinder, info.index});
}

void CommonUtilsPatchCoordinator::copyGroup(const DirectoryObject& group, const std::string& toPath)
{
    auto paths = pathsOfGroup(utils_, group);
    paths.push_back(toPath);
    utils_.settlePoolWorkFor(paths);
    utils_.copyGroup(group, toPath);
}

bool CommonUtilsPatchCoordinator::checkBackupGroupTheSeemModel(const DirectoryObject& group)
{
    return utils_.checkBackupGroupTheSeemModel(group);
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
    utils_.settlePoolWorkFor({path});
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

std::shared_ptr<PatchItem> CommonUtilsPatchCoordinator::writeFilePatchWithPath(const std::string& source,
                                                                               const std::string& toPath,
                                                                               platform::Error* error)
{
    utils_.settlePoolWorkFor({source, toPath});
    return utils_.writeFilePatchWithPath(source, toPath, CommonUtils::PatchWriteInfo{}, error);
}

void CommonUtilsPatchCoordinator::readFilePatchesLater(const std::vector<std::string>& paths,
                                                       std::function<void(PatchItems)> done)
{
    utils_.readFilePatchesLater(paths, std::move(done));
}

void CommonUtilsPatchCoordinator::writeFilePatchesLater(const PatchCopies& copies, CopiesLanded landed)
{
    std::vector<CommonUtils::PatchCopy> asked;
    asked.reserve(copies.size());
    for (const auto& [source, folder] : copies) asked.push_back({source, folder});
    utils_.writeFilePatchesLaterInParts(std::move(asked), [landed = std::move(landed)](auto results, bool last) {
        std::vector<std::pair<std::size_t, CopiedPatch>> copied;
        copied.reserve(results.size());
        for (auto& [index, each] : results)
            copied.push_back({index, {std::move(each.item), each.isIncompatible, std::move(each.error), each.handedOver}});
        landed(std::move(copied), last);
    });
}

void CommonUtilsPatchCoordinator::settlePoolWork() { utils_.settlePoolWork(); }

void CommonUtilsPatchCoordinator::settlePoolWorkFor(const std::vector<std::string>& paths) { utils_.settlePoolWorkFor(paths); }

void CommonUtilsPatchCoordinator::landFinishedPoolWork() { utils_.settlePoolWorkFor({}); }

std::vector<bool> CommonUtilsPatchCoordinator::withdrawPendingCopies(const PatchCopies& copies, bool handOver)
{
    std::vector<CommonUtils::PatchCopy> withdrawn;
    withdrawn.reserve(copies.size());
    for (const auto& [source, folder] : copies) withdrawn.push_back({source, folder});
    // The copies not begun are handed back as withdrawn, one of theirs under way lands alone, and what
    // has finished lands: the undo then goes on over what the pool holds.
    auto taken = utils_.withdrawPoolCopies(withdrawn, handOver);
    utils_.settlePoolWorkFor({});
    return taken;
}

std::string CommonUtilsPatchCoordinator::movePatchItem(PatchItem& item, const std::string& groupName)
{
    return movePatchItems({&item}, groupName).front();
}

std::vector<std::string> CommonUtilsPatchCoordinator::movePatchItems(const std::vector<PatchItem*>& items,
                                                                     const std::string& groupName)
{
    // The patches' own copies land first, and the move meets no other copy of their batches; a patch
    // already in the target's folder (one of a drop moved inside the group the drop goes into) moves no
    // file and meets no other copy into that folder either. One settling for the whole move.
    const std::string folder = folderOf(utils_, groupName);
    const auto normal = [](const std::string& path) { return std::filesystem::path(path).lexically_normal(); };
    const std::filesystem::path normalFolder = normal(folder);
    std::vector<std::string> paths;
    paths.reserve(items.size() + 1);
    bool intoFolder = false;
    for (const PatchItem* item : items) {
        if (item == nullptr) continue;
        paths.push_back(item->path);
        if (!intoFolder && normal(utils_.absolutePath(item->path)).parent_path() != normalFolder) intoFolder = true;
    }
    if (intoFolder) paths.push_back(folder);
    utils_.settlePoolWorkFor(paths);
    return utils_.movePatchItems(items, groupName);
}

void CommonUtilsPatchCoordinator::movePatchItemsLater(const std::vector<PatchItem*>& items, const std::string& groupName,
                                                      std::function<void(std::vector<std::string>)> landed)
{
    // The patches' own copies land first, so the move takes the files they name now; the copies into the
    // folder they go to, and the moves asked before, are ahead of it on the pool's queue.
    std::vector<std::string> paths;
    paths.reserve(items.size());
    for (const PatchItem* item : items) paths.push_back(item != nullptr ? item->path : std::string());
    utils_.settlePoolWorkFor(paths);
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i] != nullptr) paths[i] = items[i]->path;
    utils_.movePatchFilesLater(std::move(paths), groupName, std::move(landed));
}

std::int32_t CommonUtilsPatchCoordinator::renameGroup(DirectoryObject& group, const std::string& newName)
{
    // The folder and the files in it move: copies into it, and of its files, land first. A patch whose
    // copy a step withdrew names the file dropped, which stays where it is; its copy, asked again, is not
    // this step's to wait for.
    const std::string folder = folderOf(utils_, group.name.value_or(""));
    const auto normal = [](const std::string& path) { return std::filesystem::path(path).lexically_normal(); };
    std::vector<std::string> paths{folder};
    for (const auto& child : group.childDirectories)
        if (const PatchItem* item = child ? child->patchItem() : nullptr;
            item && normal(utils_.absolutePath(item->path)).parent_path() == normal(folder))
            paths.push_back(item->path);
    // A folder already bearing the new name refuses the rename as it stands: the copies into it (another
    // group's, still dropped into) are not this step's to wait for.
    if (const std::string target = folderOf(utils_, newName); !newName.empty() && !fileExistsAtPath(target))
        paths.push_back(target);
    utils_.settlePoolWorkFor(paths);
    return utils_.renameGroup(group, newName);
}

void CommonUtilsPatchCoordinator::updateIncompatiblePathItemInDirectory(DirectoryObject& node)
{
    utils_.settlePoolMovesOf({node.patchItem() != nullptr ? node.patchItem()->path : std::string()});
    utils_.updateIncompatiblePathItemInDirectory(node);
}

// ---- the recycle bin, backups and restores ----

std::string CommonUtilsPatchCoordinator::deletePatchItem(const PatchItem& item, const DirectoryObject* group)
{
    utils_.settlePoolWorkFor({item.path});
    return utils_.deletePatchItem(item, group);
}

std::string CommonUtilsPatchCoordinator::undoPatchItem(const PatchItem& item, const DirectoryObject* group)
{
    utils_.settlePoolWorkFor({item.path, folderOf(utils_, group ? group->name.value_or("") : std::string())});
    return utils_.undoPatchItem(item, group);
}

std::string CommonUtilsPatchCoordinator::deletePatchGroup(const DirectoryObject& group)
{
    utils_.settlePoolWorkFor(pathsOfGroup(utils_, group));
    return utils_.deletePatchGroup(group);
}

std::string CommonUtilsPatchCoordinator::undoPatchGroup(DirectoryObject& group)
{
    utils_.settlePoolWorkFor(pathsOfGroup(utils_, group));
    return utils_.undoPatchGroup(group);
}

std::string CommonUtilsPatchCoordinator::canBackupWithName(const std::string& name)
{
    return utils_.canBackupWithName(name);
}

std::int32_t CommonUtilsPatchCoordinator::backupPatchListWithName(const std::string& name, const PatchItems& patchList)
{
    // The backup reads the list's files and puts its group's folder in place of any of that name.
    std::vector<std::string> paths{folderOf(utils_, name)};
    for (const auto& item : patchList)
        if (item) paths.push_back(item->path);
    utils_.settlePoolWorkFor(paths);
    return utils_.backupPatchListWithName(name, patchList);
}

bool CommonUtilsPatchCoordinator::restorePatchWithPatchItems(const PatchItems& items)
{
    std::vector<std::string> paths;
    for (const auto& item : items)
        if (item) paths.push_back(item->path);
    utils_.settlePoolWorkFor(paths);
    return utils_.restorePatchWithPatchItems(items);
}
