#include <filesystem>

#include "common/Log.h"
#include "library/CommonUtils.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/store/BackupFile.h"
#include "library/store/OKVLocalFileController.h"
#include "platform/files/FileManager.h"
#include "platform/files/SafeName.h"

namespace fs = std::filesystem;

namespace {

// Copies into a staging folder are flushed once, with the folder, before it is swapped in.
constexpr auto kStaged = platform::Durability::Staged;

std::string fileNameOf(const std::string& path) { return fs::path(path).filename().string(); }
std::string join(const std::string& folder, const std::string& name) { return (fs::path(folder) / name).string(); }

// The folder of a group under `base`, or nothing when the group's name would not stay inside it.
std::optional<std::string> groupFolder(const std::string& base, const std::string& groupName)
{
    const std::string name = CommonUtils::groupFolderName(groupName);
    if (!platform::SafeName::check(name)) {
        RIG_LOG("refused group name as a folder name: %s", name.c_str());
        return std::nullopt;
    }
    return join(base, name);
}

// The folder of the group under `base`, or `base` itself for the pool's top level.
std::optional<std::string> folderOf(const std::string& base, const DirectoryObject* group)
{
    return group ? groupFolder(base, group->name.value_or("")) : std::optional<std::string>(base);
}

}  // namespace

// ---- the recycle bin ----

std::string CommonUtils::deletePatchItem(const PatchItem& item, const DirectoryObject* group)
{
    const auto folder = folderOf(pathUnderRoot(kTempRecycleBin), group);
    if (!folder || !m_files.createDirectory(*folder, true)) return {};
    const std::string source = absolutePath(item.path);
    std::string target = join(*folder, fileNameOf(source));
    if (!m_files.exists(source)) return target;
    if (m_files.exists(target)) target = createNewNameForPath(target);
    platform::Error error;
    if (!m_files.moveItem(source, target, &error)) {
        RIG_LOG("cannot move %s into the bin: %s", source.c_str(), error.description.c_str());
        return {};
    }
    return target;
}

std::string CommonUtils::undoPatchItem(const PatchItem& item, const DirectoryObject* group)
{
    const auto folder = folderOf(pathUnderRoot(kTempLocal), group);
    platform::Error error;
    if (!folder || !m_files.createDirectory(*folder, true, &error)) return {};
    const std::string source = absolutePath(item.path);
    const std::string target = join(*folder, fileNameOf(source));
    // Without its file in the bin there is nothing to bring back: the undo fails rather than report a
    // patch that is not there.
    if (!m_files.exists(source)) {
        RIG_LOG("the bin holds no %s", source.c_str());
        return {};
    }
    if (!m_files.moveItem(source, target, &error)) {
        RIG_LOG("cannot put back %s: %s", source.c_str(), error.description.c_str());
        return {};
    }
    return target;
}

// Moves a group's patch files (and its backup record) from one folder to another. A failure puts back
// what was moved, so every file stays in one whole group; the source goes only once it is empty.
bool CommonUtils::moveFilesOfGroup(const std::string& from, const std::string& to, bool withRecord)
{
    std::vector<std::string> names;
    for (const auto& name : m_files.contentsOfDirectory(from).value_or(std::vector<std::string>{}))
        if (isPathOfFile(name) && !m_files.isDirectory(join(from, name))) names.push_back(name);
    if (withRecord && m_files.exists(join(from, BackupFile::kFileName))) names.emplace_back(BackupFile::kFileName);
    platform::Error error;
    for (std::size_t moved = 0; moved < names.size(); ++moved) {
        if (m_files.moveItem(join(from, names[moved]), join(to, names[moved]), &error)) continue;
        RIG_LOG("cannot move %s: %s", names[moved].c_str(), error.description.c_str());
        while (moved-- > 0)
            if (!m_files.moveItem(join(to, names[moved]), join(from, names[moved]), &error))
                RIG_LOG("cannot put back %s: %s", names[moved].c_str(), error.description.c_str());
        return false;
    }
    const auto left = m_files.contentsOfDirectory(from);
    if (left && left->empty() && !m_files.removeItem(from, &error))
        RIG_LOG("cannot remove %s: %s", from.c_str(), error.description.c_str());
    return true;
}

std::string CommonUtils::deletePatchGroup(const DirectoryObject& group)
{
    const auto source = groupFolder(pathUnderRoot(kTempLocal), group.name.value_or(""));
    auto target = groupFolder(pathUnderRoot(kTempRecycleBin), group.name.value_or(""));
    if (!source || !target || !m_files.isDirectory(*source)) return {};
    if (m_files.exists(*target)) target = createNewDirectoryPath(*target);
    platform::Error error;
    if (!m_files.createDirectory(*target, true, &error)) {
        RIG_LOG("cannot create %s: %s", target->c_str(), error.description.c_str());
        return {};
    }
    if (!moveFilesOfGroup(*source, *target, group.isBackUpAllGroup)) {
        m_files.removeItem(*target);
        return {};
    }
    return *target;
}

std::string CommonUtils::undoPatchGroup(DirectoryObject& group)
{
    const auto target = groupFolder(pathUnderRoot(kTempLocal), group.name.value_or(""));
    const std::string source = absolutePath(group.path.value_or(""));
    if (!target || group.path.value_or("").empty() || !m_files.isDirectory(source)) {
        RIG_LOG("the bin holds no group at %s", source.c_str());
        return {};
    }
    platform::Error error;
    if (!m_files.createDirectory(*target, true, &error) || !moveFilesOfGroup(source, *target, true)) return {};
    group.path = *target;
    for (auto& child : group.childDirectories) {
        PatchItem* item = child->patchItem();
        if (item == nullptr) continue;
        item->path = join(*target, fileNameOf(item->path));
        child->path = item->path;
    }
    return *target;
}

// ---- backups ----

std::string CommonUtils::canBackupWithName(const std::string& name)
{
    const std::string folder = join(pathUnderRoot(kTempLocal), groupFolderName(name));
    if (!m_files.exists(folder)) return name;
    return fileNameOf(createNewDirectoryPath(folder));
}

std::int32_t CommonUtils::backupPatchListWithName(const std::string& name,
                                                  const std::vector<std::shared_ptr<PatchItem>>& patchList)
{
    const auto folder = groupFolder(pathUnderRoot(kTempLocal), name);
    platform::Error error;
    if (!folder || !m_files.createDirectory(pathUnderRoot(kTempLocal), true, &error)) return 2;
    // The new group is built beside any old one of the name, which goes only once the new one is whole.
    const std::string staging = createNewDirectoryPath(join(pathUnderRoot(kTemp), ".backup"));
    std::vector<std::string> copies;
    bool built = m_files.createDirectory(staging, true, &error);
    for (std::size_t i = 0; built && i < patchList.size(); ++i) {
        const std::string copy = checkFilePatchWithfilePath(patchList[i]->path)
                                     ? copyFileFromFilePath(absolutePath(patchList[i]->path), staging, false, kStaged)
                                     : std::string();
        built = !copy.empty();
        copies.push_back(join(*folder, fileNameOf(copy)));
    }
    std::string deviceName;
    {
        std::lock_guard lock(m_publishedMutex);
        deviceName = m_published.deviceName;
    }
    const auto record = BackupFile::initWithName(name, deviceName);
    built = built && BackupFile::saveBackupFile(record.get(), join(staging, BackupFile::kFileName), m_rootPath) &&
            m_files.flushFolder(staging, &error);
    if (!built) {
        removeFileWithPath(staging);
        return 2;
    }
    const bool replacing = m_files.exists(*folder);
    const std::string aside = replacing ? createNewDirectoryPath(staging) : std::string();
    if (replacing && !m_files.moveItem(*folder, aside, &error)) {
        RIG_LOG("cannot replace backup %s: %s", folder->c_str(), error.description.c_str());
        removeFileWithPath(staging);
        return 4;
    }
    if (!m_files.moveItem(staging, *folder, &error)) {
        RIG_LOG("cannot place backup %s: %s", folder->c_str(), error.description.c_str());
        if (replacing && !m_files.moveItem(aside, *folder)) RIG_LOG("cannot put back backup %s", folder->c_str());
        removeFileWithPath(staging);
        return 2;
    }
    if (replacing) removeFileWithPath(aside);
    for (std::size_t i = 0; i < patchList.size(); ++i) patchList[i]->path = copies[i];
    return replacing ? 3 : 1;
}

bool CommonUtils::checkBackupGroupTheSeemModel(const std::string& groupName)
{
    std::string deviceName;
    {
        std::lock_guard lock(m_publishedMutex);
        if (!m_published.isConnectDevice) return false;
        deviceName = m_published.deviceName;
    }
    const auto folder = groupFolder(pathUnderRoot(kTempLocal), groupName);
    if (!folder || !m_files.isDirectory(*folder)) return false;
    const auto record = BackupFile::readBackupFileWithPath(join(*folder, BackupFile::kFileName), m_rootPath);
    return record && record->modelName() == deviceName;
}

bool CommonUtils::restorePatchWithPatchItems(const std::vector<std::shared_ptr<PatchItem>>& items)
{
    for (const auto& item : items) {
        if (!checkFilePatchWithfilePath(item->path)) return false;
        // The device folder is a working copy; the backup it comes from stays.
        const std::string copy = copyFileFromFilePath(absolutePath(item->path), pathUnderRoot(kTempDevicePatch), false,
                                                      platform::Durability::WorkingCopy);
        if (copy.empty()) return false;
        item->path = copy;
    }
    return true;
}

// ---- saving the pool ----

bool CommonUtils::savePoolEntry(const DirectoryObject& entry, std::size_t position, const std::string& staging,
                                const std::vector<std::string>& records)
{
    const std::string prefix = "[" + std::to_string(position) + "] ";
    platform::Error error;
    if (!entry.isBackUpAllGroup && entry.childDirectories.empty() && !entry.isGroup) {
        const PatchItem* item = entry.patchItem();
        if (item == nullptr) return false;
        const std::string source = absolutePath(item->path);
        const std::string name = OKVLocalFileController::getFileNameFromIndexSavingName(fileNameOf(source));
        return m_files.createDirectory(join(staging, "Pool"), true, &error) &&
               m_files.copyItem(source, join(join(staging, "Pool"), prefix + name), &error, kStaged);
    }
    const std::string name = groupFolderName(entry.name.value_or(""));
    if (!platform::SafeName::check(prefix + name)) return false;
    const std::string folder = join(join(staging, entry.isBackUpAllGroup ? "Backup" : "Pool"), prefix + name);
    if (!m_files.createDirectory(folder, true, &error)) return false;
    // Each child by its position in the group; any copy that fails fails the whole save.
    for (std::size_t i = 0; i < entry.childDirectories.size(); ++i) {
        const PatchItem* item = entry.childDirectories[i]->patchItem();
        if (item == nullptr) continue;
        const std::string source = absolutePath(item->path);
        const std::string childName = OKVLocalFileController::getFileNameFromIndexSavingName(fileNameOf(source));
        if (!m_files.copyItem(source, join(folder, "[" + std::to_string(i) + "] " + childName), &error, kStaged))
            return false;
    }
    if (!entry.isBackUpAllGroup) return true;
    // The record of exactly this group's folder, never one whose path merely contains its name.
    const std::string wanted = join(join(pathUnderRoot(kTempLocal), name), BackupFile::kFileName);
    for (const auto& record : records)
        if (record == wanted) return m_files.copyItem(record, join(folder, BackupFile::kFileName), &error, kStaged);
    return true;
}

void CommonUtils::savePatchPoolToLocal(const std::vector<std::shared_ptr<DirectoryObject>>& pool,
                                       std::atomic<bool>& changed)
{
    if (!isLoadedPatchPool() || !changed.load()) return;
    // Disk work of its own queue; the caller waits for the library to be whole again.
    m_dispatch.makeSerial("library.pool-save", platform::Priority::Background)->sync([&] {
        const std::string library = pathUnderRoot("QFXMacApplication/Patch");
        const std::string staging = pathUnderRoot("QFXMacApplication/.Patch-saving");
        removeFileWithPath(staging);
        const auto listed = OKVLocalFileController(m_rootPath, "").getAllFileInFolderPath(pathUnderRoot(kTempLocal), "backup", true);
        const auto* records = std::get_if<std::vector<std::string>>(&listed);
        platform::Error error;
        bool whole = m_files.createDirectory(join(staging, "Pool"), true, &error) &&
                     m_files.createDirectory(join(staging, "Backup"), true, &error);
        for (std::size_t i = 0; whole && i < pool.size(); ++i) {
            whole = savePoolEntry(*pool[i], i, staging, records ? *records : std::vector<std::string>{});
            if (!whole) RIG_LOG("cannot save pool entry %zu; the saved library stays as it was", i);
        }
        whole = whole && m_files.flushFolder(staging, &error);
        // The new library replaces the old one whole: the old is moved aside, and back if the new one
        // cannot take its place.
        const std::string aside = pathUnderRoot(kStorePatchAside);
        removeFileWithPath(aside);
        const bool hadLibrary = m_files.exists(library);
        if (whole && hadLibrary) whole = m_files.moveItem(library, aside, &error);
        if (whole && !m_files.moveItem(staging, library, &error)) {
            whole = false;
            if (hadLibrary && !m_files.moveItem(aside, library)) RIG_LOG("cannot put back the saved library");
        }
        if (!whole) {
            RIG_LOG("pool not saved: %s", error.description.c_str());
            removeFileWithPath(staging);
            return;
        }
        removeFileWithPath(aside);
        changed.store(false);
    });
}
