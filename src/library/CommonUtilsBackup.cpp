#include <algorithm>
#include <atomic>
#include <chrono>
#include <latch>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "common/Log.h"
#include "library/CommonUtils.h"
#include "library/LibraryIdentity.h"
#include "library/LibraryPlaces.h"
#include "library/UnnamedCopies.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/store/BackupFile.h"
#include "library/store/OKVLocalFileController.h"
#include "platform/files/FileManager.h"
#include "platform/files/LocalFileManager.h"
#include "platform/files/SafeName.h"
#include "platform/files/WorkFolderName.h"

namespace fs = std::filesystem;

namespace {

// Copies into a staging folder are flushed once, with the folder, before it is swapped in.
constexpr auto kStaged = platform::Durability::Staged;
constexpr const char* kStagingPrefix = CommonUtils::kPatchStagingPrefix;
// The mark of the closing save's note once the library is being replaced.
constexpr const char* kTakenClosing = PoolNote::kTakenSuffix;
// The note's line naming the library that save writes.
constexpr const char* kWritesLine = PoolNote::kWritesLine;
// Folders below a group are carried over as they are, to this depth.
constexpr int kMaxFolderDepth = 32;
// How many threads link a save's entries at once, its own among them.
constexpr std::size_t kStagingLinkers = 4;

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

// A file's path on one line of the closing note: any file name may hold a line break, which would cut
// the line and make its rest read as a line of its own.
std::string escapedPath(const std::string& path)
{
    std::string text;
    for (const char c : path) {
        if (c == '%') text += "%25";
        else if (c == '\n') text += "%0A";
        else if (c == '\r') text += "%0D";
        else text += c;
    }
    return text;
}

std::string unescapedPath(const std::string& text)
{
    std::string path;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::string_view code = std::string_view(text).substr(i, 3);
        if (code == "%25" || code == "%0A" || code == "%0D") {
            path += code == "%25" ? '%' : code == "%0A" ? '\n' : '\r';
            i += 2;
        } else {
            path += text[i];
        }
    }
    return path;
}

}  // namespace

// ---- the recycle bin ----

std::string CommonUtils::deletePatchItem(const PatchItem& item, const DirectoryObject* group)
{
    const auto folder = folderOf(pathUnderRoot(kTempRecycleBin), group);
    if (!folder || !m_files.createDirectory(*folder, true)) return {};
    // An item that names no file (a copy that failed and took its node out) would resolve to the data
    // folder itself: only a patch file ever goes to the bin.
    if (item.path.empty()) return {};
    const std::string source = absolutePath(item.path);
    // Only the pool's own working copy: a node that still names the file it is copied from (the user's
    // file, or a row of the device list) never sends that file to the bin.
    if (!isUnderFolder(source, pathUnderRoot(kTempLocal))) {
        RIG_LOG("refused to move %s into the bin: not in the pool's working copy", source.c_str());
        return {};
    }
    if (m_files.itemKind(source) == platform::ItemKind::Folder) return {};
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
    std::string target = join(*folder, fileNameOf(source));
    // Without its file in the bin there is nothing to bring back: the undo fails rather than report a
    // patch that is not there.
    if (!m_files.exists(source)) {
        RIG_LOG("the bin holds no %s", source.c_str());
        return {};
    }
    // The name was freed by the deletion and taken since (a drop's later copy takes the first free name):
    // the patch comes back under the next free one rather than stay in a bin emptied with the undo stack.
    if (m_files.exists(target)) target = createNewNameForPath(target);
    if (!m_files.moveItem(source, target, &error)) {
        RIG_LOG("cannot put back %s: %s", source.c_str(), error.description.c_str());
        return {};
    }
    return target;
}

// Moves a group's folder with all it holds (its patches, its record, and whatever else lies in it: a
// note or a folder copied in with the library) from one place to another, so nothing of the group stays
// behind to fail the saves or come back as a group. Where nothing is at the other place yet it goes
// whole, in one rename: deleting or bringing back a group of hundreds then costs the main thread one
// step, not one per patch. Otherwise its entries go one by one; a failure puts back what was moved, so
// everything stays in one whole group, and the source goes once it is empty.
bool CommonUtils::moveFilesOfGroup(const std::string& from, const std::string& to)
{
    platform::Error error;
    if (m_files.itemKind(to) == platform::ItemKind::Missing &&
        m_files.createDirectory(fs::path(to).parent_path().string(), true, &error)) {
        if (m_files.moveItem(from, to, &error)) return true;
        RIG_LOG("cannot move %s whole: %s", from.c_str(), error.description.c_str());
    }
    const auto names = m_files.contentsOfDirectory(from, &error);
    if (!names) {
        RIG_LOG("cannot list %s: %s", from.c_str(), error.description.c_str());
        return false;
    }
    if (!m_files.createDirectory(to, true, &error)) {
        RIG_LOG("cannot create %s: %s", to.c_str(), error.description.c_str());
        return false;
    }
    for (std::size_t moved = 0; moved < names->size(); ++moved) {
        const std::string& name = (*names)[moved];
        if (m_files.moveItem(join(from, name), join(to, name), &error)) continue;
        RIG_LOG("cannot move %s: %s", name.c_str(), error.description.c_str());
        while (moved-- > 0)
            if (!m_files.moveItem(join(to, (*names)[moved]), join(from, (*names)[moved]), &error))
                RIG_LOG("cannot put back %s: %s", (*names)[moved].c_str(), error.description.c_str());
        return false;
    }
    // Only an emptied folder goes; one left behind is no group, and the save passes it by.
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
    if (!moveFilesOfGroup(*source, *target)) {
        // Made for this delete: empty again once the moved files are back.
        const auto left = m_files.contentsOfDirectory(*target);
        if (left && left->empty()) m_files.removeItem(*target);
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
    if (!moveFilesOfGroup(source, *target)) return {};
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

bool CommonUtils::checkBackupGroupTheSeemModel(const DirectoryObject& group)
{
    std::lock_guard lock(m_publishedMutex);
    return group.isBackUpAllGroup && m_published.isConnectDevice && group.modelName == m_published.deviceName;
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

namespace {

// A name for this save's staging or aside folder that no earlier save left behind, ordered by time so the
// newest aside is the one a cut-off save left.
std::string orderNow()
{
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch());
    char stamp[24];
    std::snprintf(stamp, sizeof stamp, "%020lld", static_cast<long long>(now.count()));
    return stamp;
}

std::string freshName(const std::string& prefix) { return prefix + "-" + orderNow(); }

// Where `folder` goes while its successor takes its place: beside it, under a name that says which folder
// it stands for, so that a start after a cut puts back only the library as the library.
std::string asideFolderFor(const std::string& folder, const std::string& order = orderNow())
{
    const fs::path path(folder);
    return (path.parent_path() / platform::WorkFolderName::aside(path.filename().string(), order)).string();
}

// The time a staging folder was named at; now, for one renamed on a clash.
std::string stagingOrder(const std::string& staging)
{
    const std::string name = fs::path(staging).filename().string();
    const std::size_t from = std::string(kStagingPrefix).size() + 1;
    if (name.size() <= from || !std::all_of(name.begin() + static_cast<std::ptrdiff_t>(from), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return orderNow();
    return name.substr(from);
}

// "[position] name" as the saved library names a patch file, within the file system's limit: a kept
// name that fills it loses the end of its stem (at a whole UTF-8 character), never its extension, so one
// long name cannot fail the whole save.
std::string savedFileName(const std::string& prefix, const std::string& name)
{
    if (prefix.size() + name.size() <= platform::SafeName::kMaxBytes) return prefix + name;
    const std::string extension = fs::path(name).extension().string();
    std::size_t keep = platform::SafeName::kMaxBytes - prefix.size() - extension.size();
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return prefix + name.substr(0, keep) + extension;
}

}  // namespace

bool CommonUtils::linkTree(const std::string& from, const std::string& to, int depth)
{
    platform::Error error;
    if (m_files.itemKind(from) != platform::ItemKind::Folder) {
        // A file left half-written by a copy (a cut-off run's, or an older version's save) is nobody's: it
        // is never carried into the library.
        if (platform::LocalFileManager::isTemporaryName(fileNameOf(from))) return true;
        const std::string target = m_files.itemKind(to) == platform::ItemKind::Missing ? to : createNewNameForPath(to);
        if (m_files.linkItem(from, target, &error, kStaged)) return true;
        m_stageFailure = error;
        RIG_LOG("cannot keep %s: %s", from.c_str(), error.description.c_str());
        return false;
    }
    if (depth > kMaxFolderDepth || !m_files.createDirectory(to, true, &error)) {
        m_stageFailure = error.description.empty() ? platform::Error::make("pool", 0, "\"" + from + "\" is nested too deep") : error;
        RIG_LOG("cannot keep %s: %s", from.c_str(), error.description.c_str());
        return false;
    }
    // A folder that cannot be listed is never carried over as an empty one.
    const auto names = m_files.contentsOfDirectory(from, &error);
    if (!names) {
        m_stageFailure = error;
        RIG_LOG("cannot list %s: %s", from.c_str(), error.description.c_str());
        return false;
    }
    for (const auto& name : *names)
        if (!linkTree(join(from, name), join(to, name), depth + 1)) return false;
    return true;
}

// True for a file the load shows: a readable patch file at the top or in a group. Such a file in the
// working copy that the tree no longer holds was taken out of the pool, unless the load kept it unread: a
// copy still writing it, or the user repairing it in place, may have made it readable since.
bool CommonUtils::isShownPatchFile(const std::string& path) const { return readPoolPatch(path, false).has_value(); }

// What the tree does not show of a folder of the working copy goes to `target` unchanged: damaged and
// unrecognised files, links, special files, and folders within a group, whole.
bool CommonUtils::carryOver(const std::string& folder, const std::string& target, const std::set<std::string>& shown,
                            bool withRecord, const DirectoryObject* group)
{
    for (const auto& name : m_files.contentsOfDirectory(folder).value_or(std::vector<std::string>{})) {
        const std::string path = join(folder, name);
        if (shown.count(path) != 0 || (withRecord && name == BackupFile::kFileName)) continue;
        const bool keptUnread = group != nullptr && m_unreadPoolFiles.holds(*group, name);
        if (!keptUnread && m_files.itemKind(path) != platform::ItemKind::Folder && isShownPatchFile(path)) continue;
        if (!linkTree(path, join(target, name), 1)) return false;
    }
    return true;
}

bool CommonUtils::savePoolEntry(const DirectoryObject& entry, std::size_t position, const std::string& staging,
                                platform::Error& error) const
{
    const std::string prefix = "[" + std::to_string(position) + "] ";
    if (!entry.isBackUpAllGroup && entry.childDirectories.empty() && !entry.isGroup) {
        const PatchItem* item = entry.patchItem();
        if (item == nullptr) return false;
        const std::string source = absolutePath(item->path);
        const std::string name = OKVLocalFileController::getFileNameFromIndexSavingName(fileNameOf(source));
        return m_files.createDirectory(join(staging, "Pool"), true, &error) &&
               m_files.linkItem(source, join(join(staging, "Pool"), savedFileName(prefix, name)), &error, kStaged);
    }
    const std::string name = groupFolderName(entry.name.value_or(""));
    if (!platform::SafeName::check(prefix + name)) return false;
    const std::string folder = join(join(staging, entry.isBackUpAllGroup ? "Backup" : "Pool"), prefix + name);
    if (!m_files.createDirectory(folder, true, &error)) return false;
    // Each child by its position in the group, linked a folder at a time (a group's files all lie in its
    // working folder); any link or copy that fails fails the whole save.
    std::string from;
    std::vector<platform::FileManager::LinkName> names;
    const auto linkNames = [&] { return names.empty() || m_files.linkItemsInto(from, names, folder, &error); };
    for (std::size_t i = 0; i < entry.childDirectories.size(); ++i) {
        const PatchItem* item = entry.childDirectories[i]->patchItem();
        if (item == nullptr) continue;
        const fs::path source = absolutePath(item->path);
        if (source.parent_path() != from) {
            if (!linkNames()) return false;
            from = source.parent_path().string();
            names.clear();
        }
        const std::string childName = OKVLocalFileController::getFileNameFromIndexSavingName(source.filename().string());
        names.push_back({source.filename().string(), savedFileName("[" + std::to_string(i) + "] ", childName)});
    }
    if (!linkNames()) return false;
    if (!entry.isBackUpAllGroup) return true;
    // The record of exactly this group's folder, never one whose path merely contains its name.
    const std::string record = join(join(pathUnderRoot(kTempLocal), name), BackupFile::kFileName);
    const platform::ItemKind kind = m_files.itemKind(record);
    if (kind == platform::ItemKind::Missing || kind == platform::ItemKind::Folder) return true;
    return m_files.linkItem(record, join(folder, BackupFile::kFileName), &error, kStaged);
}

std::map<std::pair<std::string, std::string>, std::string> CommonUtils::savedEntries() const
{
    std::map<std::pair<std::string, std::string>, std::string> saved;
    const std::string library = libraryFolder();
    for (const char* part : {"Pool", "Backup"})
        for (const auto& name : m_files.contentsOfDirectory(join(library, part)).value_or(std::vector<std::string>{}))
            saved.emplace(std::make_pair(std::string(part), OKVLocalFileController::getFileNameFromIndexSavingName(name)),
                          join(join(library, part), name));
    return saved;
}

bool CommonUtils::stagePool(const std::vector<std::shared_ptr<DirectoryObject>>& pool, const std::string& staging)
{
    const std::string local = pathUnderRoot(kTempLocal);
    platform::Error error;
    m_stageSkipped.clear();
    for (const char* part : {"Pool", "Backup"}) {
        if (m_files.createDirectory(join(staging, part), true, &error)) continue;
        m_stageFailure = error.description.empty() ? platform::Error::make("pool", 0, "\"" + join(staging, part) + "\" could not be made") : error;
        RIG_LOG("cannot make the staging folder %s: %s", part, m_stageFailure.description.c_str());
        return false;
    }
    // The entries are linked a few at once: each link is a journalled change of its own, and the file
    // system takes changes to different folders side by side. Every entry is tried: one that cannot be
    // staged costs only itself.
    std::atomic<std::size_t> next{0};
    std::vector<char> failed(pool.size(), 0);
    std::vector<platform::Error> errors(pool.size());
    const auto link = [&] {
        for (std::size_t i = next++; i < pool.size(); i = next++)
            if (!savePoolEntry(*pool[i], i, staging, errors[i])) failed[i] = 1;
    };
    const auto helpers = static_cast<std::ptrdiff_t>(std::min<std::size_t>(kStagingLinkers - 1, pool.size() / 2));
    std::latch helped(helpers);
    for (std::ptrdiff_t i = 0; i < helpers; ++i)
        m_dispatch.computation().async([&] {
            link();
            helped.count_down();
        });
    link();
    helped.wait();
    // An entry that could not be staged keeps its last saved copy in the library, where it has one; the
    // working copy, which the end keeps when the save is not whole, still holds the entry as edited.
    std::map<std::pair<std::string, std::string>, std::string> saved;
    if (std::find(failed.begin(), failed.end(), 1) != failed.end()) saved = savedEntries();
    for (std::size_t i = 0; i < pool.size(); ++i) {
        if (failed[i] == 0) continue;
        const DirectoryObject& entry = *pool[i];
        const std::string prefix = "[" + std::to_string(i) + "] ";
        m_stageSkipped.push_back(entry.name.value_or(""));
        if (m_stageFailure.description.empty())
            m_stageFailure = errors[i].description.empty()
                                 ? platform::Error::make("pool", 0, "\"" + entry.name.value_or("") + "\" has no file name it can be saved under")
                                 : errors[i];
        RIG_LOG("cannot save pool entry %zu: %s", i, errors[i].description.c_str());
        const bool group = entry.isBackUpAllGroup || !entry.childDirectories.empty() || entry.isGroup;
        const std::string part = entry.isBackUpAllGroup ? "Backup" : "Pool";
        std::string plain;
        if (group) {
            plain = groupFolderName(entry.name.value_or(""));
            if (platform::SafeName::check(prefix + plain)) {
                const std::string partial = join(join(staging, part), prefix + plain);
                if (m_files.itemKind(partial) != platform::ItemKind::Missing && !m_files.removeItem(partial, &error)) {
                    m_stageFailure = error;
                    return false;
                }
            }
        } else if (const PatchItem* item = entry.patchItem()) {
            plain = OKVLocalFileController::getFileNameFromIndexSavingName(fileNameOf(absolutePath(item->path)));
        }
        const auto last = saved.find({part, plain});
        if (plain.empty() || last == saved.end()) continue;
        const std::string target = join(join(staging, part), group ? prefix + plain : savedFileName(prefix, plain));
        // A last copy that cannot be carried over either leaves the entry out; the first reason stands.
        const platform::Error reason = m_stageFailure;
        if (!linkTree(last->second, target, 1)) {
            m_stageFailure = reason;
            if (m_files.itemKind(target) != platform::ItemKind::Missing && !m_files.removeItem(target, &error)) {
                m_stageFailure = error;
                return false;
            }
        }
    }
    std::set<std::string> shown;
    struct StagedGroup {
        std::string staged;
        bool backup = false;
        const DirectoryObject* node = nullptr;
    };
    std::map<std::string, StagedGroup> groups;  // by working folder
    for (std::size_t i = 0; i < pool.size(); ++i) {
        const DirectoryObject& entry = *pool[i];
        if (const PatchItem* item = entry.patchItem()) shown.insert(absolutePath(item->path));
        for (const auto& child : entry.childDirectories)
            if (const PatchItem* item = child->patchItem()) shown.insert(absolutePath(item->path));
        if (entry.isBackUpAllGroup || !entry.childDirectories.empty() || entry.isGroup) {
            const std::string name = groupFolderName(entry.name.value_or(""));
            // A group that could not be staged keeps its last saved copy and takes nothing more from the
            // working copy.
            groups[join(local, name)] = {failed[i] != 0 ? std::string()
                                                        : join(join(staging, entry.isBackUpAllGroup ? "Backup" : "Pool"),
                                                               "[" + std::to_string(i) + "] " + name),
                                         entry.isBackUpAllGroup, &entry};
        }
    }
    // The save never drops what it did not load: everything else in the working copy goes back with its
    // group, or where it stood.
    for (const auto& name : m_files.contentsOfDirectory(local).value_or(std::vector<std::string>{})) {
        const std::string path = join(local, name);
        const auto group = groups.find(path);
        if (group != groups.end()) {
            const StagedGroup& staged = group->second;
            if (!staged.staged.empty() && !carryOver(path, staged.staged, shown, staged.backup, staged.node)) return false;
        } else if (m_files.itemKind(path) == platform::ItemKind::Folder) {
            // A folder that shows none of the pool's patches (one a deleted group's clean-up left behind)
            // is no group: saved, it would come back as one at the next start.
            const auto inside = m_files.contentsOfDirectory(path).value_or(std::vector<std::string>{});
            const auto showsPatch = [&](const std::string& each) { return shown.count(join(path, each)) != 0; };
            if (std::none_of(inside.begin(), inside.end(), showsPatch))
                RIG_LOG("not saved, no group of the pool: %s", path.c_str());
            else if (!carryOver(path, join(join(staging, "Pool"), name), shown, false, nullptr))
                return false;
        } else if (shown.count(path) == 0 && (m_unreadPoolFiles.holdsAtTop(name) || !isShownPatchFile(path)) &&
                   !linkTree(path, join(join(staging, "Pool"), name), 1)) {
            return false;
        }
    }
    // Whatever else the library's own folder holds stays in it, as does what the load could not place.
    const std::string library = libraryFolder();
    std::vector<std::pair<std::string, std::string>> unplaced;
    {
        std::lock_guard lock(m_markedMutex);
        unplaced = m_unplaced;
    }
    for (const auto& [path, below] : unplaced) {
        if (m_files.itemKind(path) == platform::ItemKind::Missing) continue;
        const fs::path target = fs::path(staging) / below;
        if (!m_files.createDirectory(target.parent_path().string(), true, &error)) {
            m_stageFailure = error;
            return false;
        }
        if (!linkTree(path, target.string(), 1)) return false;
    }
    if (m_files.itemKind(library) == platform::ItemKind::Folder)
        for (const auto& name : m_files.contentsOfDirectory(library).value_or(std::vector<std::string>{})) {
            std::string target = name;
            // A part that is no folder (a file where "Pool" belongs) is kept as it is, beside the part.
            if (name == "Pool" || name == "Backup") {
                if (!isLibraryPartKeptAside(join(library, name))) continue;
                target = keptAsideName(name);
            }
            if (!linkTree(join(library, name), join(staging, target), 1)) return false;
        }
    if (m_files.flushStaged(staging, &error)) return true;
    m_stageFailure = error;
    return false;
}

std::string CommonUtils::defaultSaveFailureWords(const std::vector<std::string>& entries, const std::string& folder,
                                                 const platform::Error& cause)
{
    std::string why = cause.domain == "files" && cause.code != 0 && cause.info(kLinkedPartInfo).empty()
                          ? std::strerror(static_cast<int>(cause.code))
                          : cause.description;
    if (cause.info(kUnreadInfo) == kAway) why = "it is missing or empty, as a drive or share that is not mounted leaves it";
    if (cause.info(kUnreadInfo) == kAnotherLibrary) why = "it holds another library than the one this session was loaded from";
    if (entries.empty()) return "\"" + folder + "\" could not be written: " + why;
    std::string names;
    for (const auto& name : entries) names += (names.empty() ? "\"" : ", \"") + name + "\"";
    return names + " could not be saved: " + cause.description;
}

std::optional<bool> CommonUtils::beginPatchPoolSave(const std::vector<std::shared_ptr<DirectoryObject>>& pool,
                                                bool changed, bool closingAsked)
{
    // Once a quit has begun, a run cut before this save lands keeps its pool for the next start.
    const bool closing = closingAsked && isLoadedPatchPool() && (changed || m_poolFromKept.load());
    // A quit's note stands from the moment it was asked, and stays the quit's.
    if (closing) m_poolNote.write(PoolNote::Asker::PowerOff, closingPoolText(pool));
    // Copies still under way land in their nodes first: the save writes what the pool shows, and no
    // copy writes into the working copy while it is read.
    settlePoolWork();
    // A pool the last run kept is written at the first save, edited or not: the library is older.
    if (!isLoadedPatchPool() || (!changed && !m_poolFromKept.load())) {
        // The library holds the pool (a save landed since the quit was noted): nothing of the run is
        // left to keep.
        if (closingAsked && isLoadedPatchPool()) m_poolNote.drop();
        return std::nullopt;
    }
    return closing;
}

std::optional<std::string> CommonUtils::savePatchPoolToLocal(const std::vector<std::shared_ptr<DirectoryObject>>& pool,
                                                             std::atomic<bool>& changed)
{
    const std::optional<bool> closing = beginPatchPoolSave(pool, changed.load(), m_closing.load());
    if (!closing) return std::nullopt;
    std::optional<std::string> failure;
    const std::uint64_t noteSeen = m_poolNote.written();
    // On the pool's queue, in order with every change to the working copy; the caller waits for the
    // library to be whole again.
    m_poolQueue->sync([&] { failure = writePatchPool(pool, *closing, noteSeen); });
    if (!failure) changed.store(false);
    else tellPatchPoolNotSaved(*failure, *closing);
    return failure;
}

void CommonUtils::tellPatchPoolNotSaved(const std::string& failure, bool closing)
{
    // While the program runs the user hears of it here; at the end the caller says it before the end.
    if (!closing && !m_closing.load()) tell([failure](CommonUtilsDelegate& d) { d.patchPoolNotSaved(failure); });
}

void CommonUtils::writePatchPoolLater(std::vector<std::shared_ptr<DirectoryObject>> pool, bool closing,
                                      std::function<void(std::optional<std::string>)> done)
{
    m_poolQueue->async([this, alive = std::weak_ptr<bool>(m_alive), pool = std::move(pool), closing,
                        noteSeen = m_poolNote.written(), done = std::move(done)] {
        // Whoever waits hears the end, saved or not.
        if (!alive.lock()) return done(std::string("the library could not be written"));
        done(writePatchPool(pool, closing, noteSeen));
    });
}

std::optional<std::string> CommonUtils::writePatchPool(const std::vector<std::shared_ptr<DirectoryObject>>& pool, bool closing,
                                                       std::uint64_t noteSeen)
{
    bool saved = false;
    std::string failure;
    [&] {
        // A library that is a link is written where it points, its staging and aside folders beside it there,
        // so every move stays on its file system and the link stays the user's.
        const std::string library = libraryFolder();
        const std::string store = fs::path(library).parent_path().string();
        // A library this run could not read was never shown: replaced, it would be lost.
        bool heldBack = false;
        {
            std::lock_guard lock(m_markedMutex);
            heldBack = m_libraryHeldBack;
        }
        if ((m_libraryStamp == kNoLibrary && m_files.itemKind(library) != platform::ItemKind::Missing) || heldBack) {
            {
                std::lock_guard lock(m_markedMutex);
                failure = m_libraryUnread;
            }
            if (failure.empty())
                failure = m_saveFailureWords({}, library,
                                             platform::Error::make("files", EACCES, "\"" + library + "\" could not be read when the pool was loaded"));
            RIG_LOG("pool not saved: %s", failure.c_str());
            m_unsavedPool = pool;
            m_poolUnsaved = true;
            return;
        }
        // Where the library and its linked parts lie is judged again at every save: a share gone since the
        // start leaves its bare mount point, or a link leading nowhere, and nothing is written in its stead.
        auto away = placeAwayNow(library);
        if (!away) away = anotherLibraryNow(library);
        if (away) {
            failure = m_saveFailureWords({}, away->first, away->second);
            RIG_LOG("pool not saved: %s", failure.c_str());
            m_unsavedPool = pool;
            m_poolUnsaved = true;
            return;
        }
        // Leftovers of earlier saves go first, in the background; one that cannot be removed is passed by,
        // never in the way. An aside goes only while what it stands for is there, which it may have to be.
        std::set<std::string> leftovers;
        // A folder a cut save set aside, and the staging folder that tells so, stay: what it holds is held
        // nowhere else (the start puts it back where it can).
        std::set<std::string> cut;
        const auto stagingIn = [&](const std::string& folder) {
            for (const auto& name : m_files.contentsOfDirectory(folder).value_or(std::vector<std::string>{}))
                if (name.rfind(kStagingPrefix, 0) == 0) leftovers.insert(join(folder, name));
        };
        const auto asidesOf = [&](const std::string& folder, bool legacy) {
            for (auto& [aside, staging] : cutAsidesOf(folder, legacy, true)) {
                cut.insert(aside);
                cut.insert(staging);
            }
            for (auto& aside : asideFoldersOf(folder, legacy)) leftovers.insert(std::move(aside));
        };
        for (const std::string& folder : std::set<std::string>{store, pathUnderRoot("QFXMacApplication")}) stagingIn(folder);
        if (m_files.itemKind(library) != platform::ItemKind::Missing)
            for (const std::string& folder : {library, fs::path(pathUnderRoot(kStorePatchPool)).parent_path().string()}) asidesOf(folder, true);
        // A linked part's own leftovers lie on its drive, beside the folder it links to.
        for (const char* part : {"Pool", "Backup"}) {
            const std::string at = join(library, part);
            if (m_files.itemKind(at) != platform::ItemKind::Link) continue;
            const std::string target = LibraryIdentity::throughLinks(at);
            if (m_files.itemKind(target) != platform::ItemKind::Folder || linksWithinLibrary(library, target)) continue;
            stagingIn(fs::path(target).parent_path().string());
            asidesOf(target, false);
        }
        for (const auto& kept : cut) leftovers.erase(kept);
        if (!leftovers.empty())
            m_cleanupQueue->async([this, leftovers] {
                for (const auto& leftover : leftovers) removeFileWithPath(leftover);
            });
        std::string staging = join(store, freshName(kStagingPrefix));
        if (m_files.exists(staging)) staging = createNewDirectoryPath(staging);
        m_stageFailure = {};
        m_stageFailureFolder.clear();
        bool whole = stagePool(pool, staging);
        std::vector<LinkedPart> linked;
        if (whole) whole = stageLinkedParts(library, staging, linked);
        // The kept pools this pool holds go aside with the library they were shown over, so that no later
        // start shows one again over the library this save writes, whatever happens after the swap.
        // Both marks name the library this save writes: a start that finds it knows the save landed.
        std::map<std::string, std::string> partsAt;
        for (const auto& part : linked) partsAt.emplace(fileNameOf(part.link), part.staged);
        std::string writes;
        LibraryIdentity::Known stagedFiles;
        if (whole) {
            const LibraryIdentity::Reading staged = LibraryIdentity::of(m_files, staging, partsAt);
            // A library that cannot be read back cannot be known again: no start could tell that it landed.
            if (staged.identity == kNoLibrary) {
                whole = false;
                m_stageFailure = staged.cause;
            }
            writes = staged.identity;
            stagedFiles = staged.digests;
        }
        std::vector<std::pair<std::string, std::string>> taken;
        if (whole) whole = takeKeptPools(writes, taken);
        const bool noted = whole && closing && m_poolNote.markTaken(writes, noteSeen);
        // The new library replaces the old one whole: the old is moved aside, and back if the new one
        // cannot take its place.
        // The aside folder takes its staging folder's time: a start that finds both knows the save was cut
        // between its two moves, and one that finds the aside folder alone knows the save landed.
        std::string aside = asideFolderFor(library, stagingOrder(staging));
        if (m_files.exists(aside)) aside = createNewDirectoryPath(aside);
        platform::Error error;
        const bool hadLibrary = m_files.itemKind(library) != platform::ItemKind::Missing;
        // A share gone while the staging was built leaves its bare mount point, or a link leading nowhere: judged
        // again just before the moves, so nothing staged there takes the library's place.
        if (whole) {
            if (const auto gone = placeAwayNow(library)) {
                whole = false;
                m_stageFailure = gone->second;
                m_stageFailureFolder = gone->first;
            }
        }
        if (whole) whole = swapLinkedParts(linked, error);
        if (whole && hadLibrary) whole = m_files.moveItem(library, aside, &error);
        // A library that could not be put back stays aside with this save's staging folder beside it: the
        // pair tells the next start that the save was cut between its moves, and it puts the library back.
        bool leftAside = false;
        if (whole && !m_files.moveItem(staging, library, &error)) {
            whole = false;
            leftAside = hadLibrary && !m_files.moveItem(aside, library);
            if (leftAside) RIG_LOG("cannot put back the saved library");
        }
        if (!whole) putBackLinkedParts(linked);
        if (!whole) {
            // The user is told of the library folder they know, never of the staging or aside folders
            // the save made beside it.
            failure = m_saveFailureWords({},
                                         m_stageFailureFolder.empty() ? fs::path(pathUnderRoot(kStorePatchPool)).parent_path().string()
                                                                      : m_stageFailureFolder,
                                         error.description.empty() ? m_stageFailure : error);
            RIG_LOG("pool not saved: %s", failure.c_str());
            if (!leftAside) removeFileWithPath(staging);
            giveBackKeptPools(taken);
            // A note written since (a quit's, a change's) stays.
            if (noted) m_poolNote.putBack(noteSeen);
            m_unsavedPool = pool;
            m_poolUnsaved = true;
            return;
        }
        {
            // What the load could not place now lies in this library.
            std::lock_guard lock(m_markedMutex);
            // The library is now what was staged, read through the same links: no second reading.
            m_libraryStamp = writes;
            m_libraryFiles = std::move(stagedFiles);
            for (auto& [path, below] : m_unplaced) path = (fs::path(library) / below).string();
        }
        {
            // Where the library lies now, for a start that finds it away and for this run's next save.
            m_places = LibraryPlaces::of(m_files, library);
            platform::Error placesError;
            if (!m_places.write(m_files, pathUnderRoot(LibraryPlaces::kFileName), &placesError))
                RIG_LOG("cannot note where the library lies: %s", placesError.description.c_str());
        }
        // The old library's thousands of files need not hold up the caller; a removal cut off by the end
        // of the program is finished by the next save.
        m_cleanupQueue->async([this, aside, linked] {
            removeFileWithPath(aside);
            for (const auto& part : linked) removeFileWithPath(part.aside);
        });
        if (!m_stageSkipped.empty()) {
            // The library holds the others now; the skipped ones are still only in the working copy, which
            // stays the pool's truth until a save writes them.
            failure = m_saveFailureWords(m_stageSkipped, fs::path(pathUnderRoot(kStorePatchPool)).parent_path().string(),
                                         m_stageFailure);
            RIG_LOG("pool saved without %zu entries: %s", m_stageSkipped.size(), failure.c_str());
            // The library holds what the kept pools held but the entries named, which the working copy
            // still holds: a kept pool shown again would show the rest twice.
            std::vector<std::string> written;
            for (const auto& [kept, target] : taken) written.push_back(target);
            dropKeptPools(written);
            {
                std::lock_guard lock(m_markedMutex);
                m_keptLoaded.clear();
            }
            m_poolFromKept.store(false);
            if (closing) m_poolNote.writeIfCurrent(noteSeen, closingPoolText(pool));
            m_unsavedPool = pool;
            m_poolUnsaved = true;
            return;
        }
        saved = true;
        if (noted) m_poolNote.takenLanded(noteSeen);
        m_unsavedPool.clear();
        m_poolUnsaved = false;
        // The library now holds what a failed run kept: the kept copies go. One cut off here is named for
        // the library this save replaced, and the next start removes it.
        std::vector<std::string> written;
        for (const auto& [kept, target] : taken) written.push_back(target);
        dropKeptPools(written);
        {
            std::lock_guard lock(m_markedMutex);
            m_keptLoaded.clear();
        }
        m_poolFromKept.store(false);
    }();
    if (saved) {
        // The library holds the pool the note names, unless a later one was noted since.
        m_poolNote.saveLanded(noteSeen, m_closing.load());
        return std::nullopt;
    }
    if (failure.empty()) failure = "the library could not be written";
    // A library this run could not read fails every save: what the run changed lives in the working copy
    // alone, kept beside that library as a quit's is. The end's own note stands for a closing save; a
    // power-off's stands, kept true at every change, until a later save lands should the run go on (the
    // power-off called off).
    if (!closing && !m_closing.load()) m_poolNote.saveFailed(noteSeen, closingPoolText(pool));
    return failure;
}

// ---- the pool a failed save leaves ----

namespace {

constexpr const char* kTakenMark = ".taken-";

}  // namespace

CommonUtils::KeptName CommonUtils::keptNameOf(const std::string& name)
{
    KeptName kept;
    kept.base = name;
    if (const auto mark = name.find(kTakenMark); mark != std::string::npos) {
        kept.taken = true;
        kept.takenFrom = name.substr(mark + std::string(kTakenMark).size());
        kept.base = name.substr(0, mark);
    }
    const std::string prefix = std::string(kKeptPool) + "-";
    if (kept.base.rfind(prefix, 0) != 0) return kept;
    const std::string rest = kept.base.substr(prefix.size());
    const auto dash = rest.find('-');
    const std::string time = rest.substr(0, dash);
    if (!time.empty() && time.size() <= 20 && std::all_of(time.begin(), time.end(), [](char c) { return c >= '0' && c <= '9'; }))
        kept.timeNs = std::stoll(time);
    if (dash != std::string::npos) kept.madeAgainst = rest.substr(dash + 1);
    return kept;
}

std::string CommonUtils::keptSessionGroupName(const KeptName& kept)
{
    if (kept.timeNs <= 0) return "Kept session";
    const std::time_t seconds = static_cast<std::time_t>(kept.timeNs / 1000000000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    std::strftime(text, sizeof text, "Kept session %Y-%m-%d %H.%M.%S", &local);
    return text;
}

bool CommonUtils::stageLinkedParts(const std::string& library, const std::string& staging, std::vector<LinkedPart>& linked)
{
    // A part that is a link to a folder (backups on another drive) is written where the link points,
    // built beside its folder there, and the staged library takes the user's link as it is.
    for (const std::string part : {"Pool", "Backup"}) {
        const std::string at = join(library, part);
        if (m_files.itemKind(at) != platform::ItemKind::Link) continue;
        LinkedPart made;
        made.link = at;
        made.target = LibraryIdentity::throughLinks(at);
        if (m_files.itemKind(made.target) != platform::ItemKind::Folder) continue;
        // Built within the library, the part would go aside with the library it replaces; a folder that holds
        // the library would take the library aside with it. Such a link is the user's to change: no save.
        if (linksWithinLibrary(library, made.target)) {
            m_stageFailure = platform::Error::make("files", ELOOP,
                                                   "\"" + at + "\" links to \"" + made.target + "\", within the library or holding it",
                                                   {{kLinkedPartInfo, part}});
            RIG_LOG("cannot save the linked part %s: %s", at.c_str(), m_stageFailure.description.c_str());
            for (const auto& each : linked) removeFileWithPath(each.staged);
            linked.clear();
            return false;
        }
        made.staged = join(fs::path(made.target).parent_path().string(), freshName(kStagingPrefix));
        platform::Error error;
        const bool staged = linkTree(join(staging, part), made.staged, 1) && m_files.flushStaged(made.staged, &error) &&
                            m_files.removeItem(join(staging, part), &error) &&
                            m_files.linkItem(at, join(staging, part), &error, kStaged) && m_files.flushFolder(staging, &error);
        linked.push_back(made);
        if (staged) continue;
        if (!error.description.empty()) m_stageFailure = error;
        // The user hears of the folder that refused, on the part's own drive.
        m_stageFailureFolder = made.target;
        RIG_LOG("cannot stage the linked part %s: %s", made.target.c_str(), m_stageFailure.description.c_str());
        for (const auto& each : linked) removeFileWithPath(each.staged);
        linked.clear();
        return false;
    }
    return true;
}

bool CommonUtils::swapLinkedParts(std::vector<LinkedPart>& linked, platform::Error& error)
{
    for (auto& part : linked) {
        // Named at its staging folder's time, as the library's aside is: a start that finds both knows the
        // save was cut between the part's two moves, and puts the part back.
        part.aside = asideFolderFor(part.target, stagingOrder(part.staged));
        if (m_files.exists(part.aside)) part.aside = createNewDirectoryPath(part.aside);
        m_stageFailureFolder = part.target;
        if (!m_files.moveItem(part.target, part.aside, &error)) return false;
        if (!m_files.moveItem(part.staged, part.target, &error)) {
            if (!m_files.moveItem(part.aside, part.target)) RIG_LOG("cannot put back %s", part.target.c_str());
            return false;
        }
        m_stageFailureFolder.clear();
        part.swapped = true;
    }
    return true;
}

void CommonUtils::putBackLinkedParts(const std::vector<LinkedPart>& linked)
{
    for (const auto& part : linked) {
        if (part.swapped && (!m_files.moveItem(part.target, part.staged) || !m_files.moveItem(part.aside, part.target)))
            RIG_LOG("cannot put back %s", part.target.c_str());
        removeFileWithPath(part.staged);
    }
}

std::optional<std::pair<std::string, platform::Error>> CommonUtils::placeAwayNow(const std::string& library)
{
    const auto away = [](const std::string& folder) {
        return std::pair(folder, platform::Error::make("files", ENOENT, "\"" + folder + "\" is missing or empty", {{kUnreadInfo, kAway}}));
    };
    if (libraryBehindLink() && m_places.away(m_files, library)) return away(LibraryPlaces::resolved(library));
    for (const char* part : {"Pool", "Backup"}) {
        const std::string at = join(library, part);
        if (m_files.itemKind(at) != platform::ItemKind::Link) continue;
        // A link leading nowhere now would be saved as a plain folder in the link's stead.
        const std::string target = LibraryIdentity::throughLinks(at);
        if (m_files.itemKind(target) == platform::ItemKind::Missing || m_places.away(m_files, target)) return away(target);
    }
    return std::nullopt;
}

std::optional<std::pair<std::string, platform::Error>> CommonUtils::anotherLibraryNow(const std::string& library)
{
    LibraryIdentity::Known known;
    {
        std::lock_guard lock(m_markedMutex);
        // A library missing at the load, or not read whole, is judged before.
        if (m_libraryStamp == kNoLibrary) return std::nullopt;
        known = m_libraryFiles;
    }
    // Changed by hand (a file finished or repaired, one added or deleted), emptied or deleted, it is still the
    // library this run saves; one that holds none of its files is another.
    const std::string place = LibraryIdentity::anotherPlaceThan(m_files, library, known);
    if (place.empty()) return std::nullopt;
    const std::string at = LibraryPlaces::resolved(place);
    return std::pair(at, platform::Error::make("files", EEXIST, "\"" + at + "\" holds another library than the one loaded",
                                               {{kUnreadInfo, kAnotherLibrary}}));
}

bool CommonUtils::linksWithinLibrary(const std::string& library, const std::string& target) const
{
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(target, ec);
    const std::string where = ec ? fs::path(target).lexically_normal().string() : resolved.string();
    return where == library || isUnderFolder(where, library) || isUnderFolder(library, where);
}

bool CommonUtils::isLibraryPartKeptAside(const std::string& part) const
{
    const platform::ItemKind kind = m_files.itemKind(part);
    if (kind == platform::ItemKind::Missing || kind == platform::ItemKind::Folder) return false;
    // A link whose folder is not there now (a drive not mounted) is a part that could not be read.
    const platform::ItemKind through = m_files.itemKind(LibraryIdentity::throughLinks(part));
    return through != platform::ItemKind::Folder && through != platform::ItemKind::Missing;
}

std::string CommonUtils::keptAsideName(const std::string& part) { return part + " (not a folder)"; }

std::string CommonUtils::libraryStamp(const std::string& library) const
{
    return LibraryIdentity::of(m_files, library).identity;
}

std::vector<std::string> CommonUtils::keptPools() const
{
    std::vector<std::string> kept;
    for (const auto& name : m_files.contentsOfDirectory(m_rootPath).value_or(std::vector<std::string>{}))
        if (name.rfind(kKeptPool, 0) == 0 && m_files.itemKind(pathUnderRoot(name)) == platform::ItemKind::Folder)
            kept.push_back(pathUnderRoot(name));
    std::sort(kept.begin(), kept.end());
    return kept;
}

void CommonUtils::dropKeptPools(const std::vector<std::string>& kept)
{
    // Renamed at once under the name the start removes, then removed in the background.
    std::vector<std::string> aside;
    for (const auto& folder : kept) {
        if (m_files.itemKind(folder) == platform::ItemKind::Missing) continue;
        const std::string target = pathUnderRoot(freshName(std::string(kTempAside) + "-kept"));
        platform::Error error;
        if (m_files.moveItem(folder, target, &error)) aside.push_back(target);
        else RIG_LOG("cannot put aside the kept pool %s: %s", folder.c_str(), error.description.c_str());
    }
    if (!aside.empty())
        m_cleanupQueue->async([this, aside] {
            for (const auto& folder : aside) removeFileWithPath(folder);
        });
}

bool CommonUtils::takeKeptPools(const std::string& writes, std::vector<std::pair<std::string, std::string>>& taken)
{
    if (m_keptLoaded.empty()) return true;
    // Named for the library this save writes: once the library is that one, the save has landed.
    for (const auto& kept : m_keptLoaded) {
        if (m_files.itemKind(kept) != platform::ItemKind::Folder) continue;
        const std::string target = pathUnderRoot(keptNameOf(fileNameOf(kept)).base + kTakenMark + writes);
        platform::Error error;
        if (m_files.moveItem(kept, target, &error)) {
            taken.emplace_back(kept, target);
            continue;
        }
        m_stageFailure = error;
        RIG_LOG("cannot put aside the kept pool %s: %s", kept.c_str(), error.description.c_str());
        giveBackKeptPools(taken);
        taken.clear();
        return false;
    }
    return true;
}

void CommonUtils::giveBackKeptPools(const std::vector<std::pair<std::string, std::string>>& taken)
{
    // One that cannot go back keeps its mark: the library it names is still there, and the start takes it back.
    for (const auto& [kept, target] : taken) {
        platform::Error error;
        if (!m_files.moveItem(target, kept, &error))
            RIG_LOG("cannot give back the kept pool %s: %s", kept.c_str(), error.description.c_str());
    }
}

// Renames (or, from outside the folder being kept, links) `source` to `target`, or to a free name beside it.
// A file that keeps its plain name is still the pool's: it is named as kept, so no sweep takes it.
bool CommonUtils::nameForKeeping(const std::string& source, const std::string& target, const std::string& folder,
                                 std::set<std::string>& kept)
{
    if (source == target) {
        kept.insert(target);
        return true;
    }
    const bool inside = isUnderFolder(source, folder);
    platform::Error error;
    std::string name = target;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool done = inside ? m_files.moveItem(source, name, &error)
                                 : m_files.linkItem(source, name, &error, platform::Durability::WorkingCopy);
        if (done) {
            kept.insert(name);
            return true;
        }
        if (error.code != EEXIST) break;
        name = createNewNameForPath(target);
    }
    RIG_LOG("cannot keep %s: %s", source.c_str(), error.description.c_str());
    if (inside) kept.insert(source);
    return false;
}

std::optional<std::string> CommonUtils::keepUnsavedPatchPool()
{
    std::optional<std::string> cause;
    m_poolQueue->sync([&] { cause = keepUnsavedPatchPoolOnQueue(); });
    return cause;
}

std::optional<std::string> CommonUtils::keepUnsavedPatchPoolOnQueue()
{
    if (!m_poolUnsaved) return std::nullopt;
    std::optional<std::string> cause = keepWorkingCopy(m_unsavedPool, libraryStampNow(), true);
    if (cause) return cause;
    // The pool just kept holds what this run loaded of earlier kept pools.
    dropKeptPools(m_keptLoaded);
    {
        std::lock_guard lock(m_markedMutex);
        m_keptLoaded.clear();
    }
    m_poolUnsaved = false;
    m_unsavedPool.clear();
    return std::nullopt;
}

void CommonUtils::keepUnsavedPatchPoolLater(std::function<void(std::optional<std::string>)> done)
{
    m_poolQueue->async([this, alive = std::weak_ptr<bool>(m_alive), done = std::move(done)] {
        if (!alive.lock()) return done(std::string("the program's library is gone"));
        done(keepUnsavedPatchPoolOnQueue());
    });
}

std::optional<std::string> CommonUtils::keepWorkingCopy(const std::vector<std::shared_ptr<DirectoryObject>>& pool,
                                                        const std::string& stamp, bool sweepUnnamed)
{
    {
        const std::string local = pathUnderRoot(kTempLocal);
        if (m_files.itemKind(local) != platform::ItemKind::Folder) return "the working copy \"" + local + "\" is missing";
        // The working copy goes aside whole before anything in it is renamed: a kill while its entries are
        // named leaves a kept pool partly in order, never a half-renamed working copy the next start clears.
        // Its name says which library it was made against.
        const std::string keptFolder = pathUnderRoot(freshName(kKeptPool) + "-" + stamp);
        {
            platform::Error error;
            if (!m_files.moveItem(local, keptFolder, &error)) {
                RIG_LOG("cannot keep the unsaved pool: %s", error.description.c_str());
                return m_saveFailureWords({}, m_rootPath, error);
            }
        }
        const auto moved = [&](const std::string& path) {
            const std::string absolute = absolutePath(path);
            if (!isUnderFolder(absolute, local)) return absolute;
            return (fs::path(keptFolder) / fs::path(absolute).lexically_relative(local)).string();
        };
        // The entries take the saved library's "[position] name", so the next start reads them in the pool's
        // order as it reads the library; renames only, which a full disk still allows.
        std::set<std::string> named;
        // Each group's kept folder, with its node.
        std::map<std::string, const DirectoryObject*> folders;
        // Each group's folder as the working copy named it, and as it is kept.
        std::map<fs::path, fs::path> keptAs;
        // The files the entries name: a file one names is never taken for another's.
        std::set<fs::path> noted;
        for (const auto& entry : pool) {
            if (const PatchItem* item = entry->patchItem(); item != nullptr && !item->path.empty())
                noted.insert(fs::path(moved(item->path)).lexically_normal());
            for (const auto& child : entry->childDirectories)
                if (const PatchItem* item = child ? child->patchItem() : nullptr; item != nullptr && !item->path.empty())
                    noted.insert(fs::path(moved(item->path)).lexically_normal());
        }
        // Where the file an entry names is now: in the folder its group's was kept as, wherever that group
        // stands in the pool. A cut run's note names a patch whose move had not landed by the file it had
        // before the move, which the pool's queue may have made since: a file of that name in the folder
        // of the entry's own group, which no entry names, is the one moved.
        const auto locate = [&](const std::string& path, const std::string& ownFolder, const std::string& ownWorking) {
            fs::path source = fs::path(path).lexically_normal();
            if (const auto found = keptAs.find(source.parent_path()); found != keptAs.end())
                source = found->second / source.filename();
            if (sweepUnnamed || m_files.itemKind(source.string()) == platform::ItemKind::File) return source.string();
            const fs::path there = fs::path(ownFolder) / source.filename();
            if (there != source && noted.count(fs::path(ownWorking).lexically_normal() / source.filename()) == 0 &&
                m_files.itemKind(there.string()) == platform::ItemKind::File)
                return there.string();
            return source.string();
        };
        const auto plain = [](const std::string& path) {
            return OKVLocalFileController::getFileNameFromIndexSavingName(fileNameOf(path));
        };
        for (std::size_t i = 0; i < pool.size(); ++i) {
            const DirectoryObject& entry = *pool[i];
            const std::string prefix = "[" + std::to_string(i) + "] ";
            if (!entry.isBackUpAllGroup && entry.childDirectories.empty() && !entry.isGroup) {
                if (const PatchItem* item = entry.patchItem(); item != nullptr && !item->path.empty()) {
                    const std::string source = locate(moved(item->path), keptFolder, keptFolder);
                    nameForKeeping(source, join(keptFolder, savedFileName(prefix, plain(source))), keptFolder, named);
                }
                continue;
            }
            const std::string name = groupFolderName(entry.name.value_or(""));
            if (!platform::SafeName::check(prefix + name)) continue;
            const std::string working = join(keptFolder, name);
            std::string folder = join(keptFolder, prefix + name);
            platform::Error error;
            // A cut run's note may name a group renamed or deleted since: no folder, nothing of it left. Its
            // patches are in the folder it took, kept below; made again here it would show an empty group.
            const auto present = [&](const std::shared_ptr<DirectoryObject>& child) {
                const PatchItem* item = child->patchItem();
                return item != nullptr && !item->path.empty() && m_files.itemKind(moved(item->path)) == platform::ItemKind::File;
            };
            if (!sweepUnnamed && m_files.itemKind(working) == platform::ItemKind::Missing && !entry.childDirectories.empty() &&
                std::none_of(entry.childDirectories.begin(), entry.childDirectories.end(), present))
                continue;
            if (m_files.itemKind(working) == platform::ItemKind::Folder) {
                if (!m_files.moveItem(working, folder, &error)) {
                    RIG_LOG("cannot keep the group %s: %s", working.c_str(), error.description.c_str());
                    folder = working;
                }
            } else if (!m_files.createDirectory(folder, true, &error)) {
                RIG_LOG("cannot keep the group %s: %s", folder.c_str(), error.description.c_str());
                continue;
            }
            folders.emplace(folder, &entry);
            // Its folder was renamed above.
            keptAs[fs::path(working).lexically_normal()] = fs::path(folder).lexically_normal();
            for (std::size_t j = 0; j < entry.childDirectories.size(); ++j) {
                const PatchItem* item = entry.childDirectories[j]->patchItem();
                if (item == nullptr || item->path.empty()) continue;
                const std::string source = locate(moved(item->path), folder, working);
                nameForKeeping(source, join(folder, savedFileName("[" + std::to_string(j) + "] ", plain(source))), keptFolder,
                               named);
            }
        }
        // A patch file the pool no longer shows would show again at the next start: it goes, as the save
        // drops it; so does a copy's half-written file. One an entry names stays, under whatever name, and
        // so does one the load kept unread, whatever it reads as now.
        const auto sweep = [&](const std::string& folder, const std::function<bool(const std::string&)>& keptUnread) {
            for (const auto& name : m_files.contentsOfDirectory(folder).value_or(std::vector<std::string>{})) {
                const std::string path = join(folder, name);
                if (named.count(path) != 0 || name == BackupFile::kFileName) continue;
                if (platform::LocalFileManager::isTemporaryName(name) ||
                    (sweepUnnamed && !keptUnread(name) && m_files.itemKind(path) == platform::ItemKind::File && isShownPatchFile(path)))
                    m_files.removeItem(path);
            }
        };
        sweep(keptFolder, [&](const std::string& name) { return m_unreadPoolFiles.holdsAtTop(name); });
        for (const auto& [folder, group] : folders)
            sweep(folder, [&, group = group](const std::string& name) { return m_unreadPoolFiles.holds(*group, name); });
        std::size_t after = pool.size();
        // A patch a cut run's note does not name yet (a drop's copy or a move that landed in the turn of the
        // kill) comes after what the note names where it lies, not before it as an unnumbered file would.
        const auto numberUnnamed = [&](const std::string& folder, std::size_t& next) {
            auto names = m_files.contentsOfDirectory(folder).value_or(std::vector<std::string>{});
            std::sort(names.begin(), names.end());
            for (const auto& name : names) {
                const std::string path = join(folder, name);
                if (named.count(path) != 0 || name == BackupFile::kFileName || m_files.itemKind(path) != platform::ItemKind::File ||
                    !isShownPatchFile(path))
                    continue;
                const std::string numbered = join(folder, "[" + std::to_string(next++) + "] " + name);
                platform::Error error;
                if (!platform::SafeName::check(fileNameOf(numbered)) || !m_files.moveItem(path, numbered, &error))
                    RIG_LOG("cannot keep %s in its place: %s", path.c_str(), error.description.c_str());
            }
        };
        if (!sweepUnnamed) {
            numberUnnamed(keptFolder, after);
            for (const auto& [folder, group] : folders) {
                std::size_t next = group->childDirectories.size();
                numberUnnamed(folder, next);
            }
        }
        // A folder no group of the pool names (one a deleted group's clean-up left behind) is no group: kept,
        // it would come back as one. It goes to "Temp", which the next start clears. A cut run's note may
        // lag behind the pool, though (a group renamed or made just before the cut): there a folder that
        // holds patches is kept as a group after the pool's entries, never thrown away.
        for (const auto& name : m_files.contentsOfDirectory(keptFolder).value_or(std::vector<std::string>{})) {
            const std::string path = join(keptFolder, name);
            if (folders.count(path) != 0 || m_files.itemKind(path) != platform::ItemKind::Folder) continue;
            if (!sweepUnnamed && holdsShownPatchFiles(path)) {
                const std::string kept = join(keptFolder, "[" + std::to_string(after++) + "] " + name);
                platform::Error error;
                if (platform::SafeName::check(fileNameOf(kept)) && m_files.moveItem(path, kept, &error)) {
                    RIG_LOG("kept a folder the note did not name: %s", name.c_str());
                    continue;
                }
                RIG_LOG("cannot keep the folder %s as a group: %s", path.c_str(), error.description.c_str());
                continue;
            }
            platform::Error error;
            if (!m_files.moveItem(path, createNewDirectoryPath(join(pathUnderRoot(kTemp), ".not-kept")), &error))
                RIG_LOG("cannot leave out %s: %s", path.c_str(), error.description.c_str());
        }
    }
    return std::nullopt;
}

bool CommonUtils::holdsShownPatchFiles(const std::string& folder) const
{
    for (const auto& name : m_files.contentsOfDirectory(folder).value_or(std::vector<std::string>{})) {
        const std::string path = join(folder, name);
        if (m_files.itemKind(path) == platform::ItemKind::File && isShownPatchFile(path)) return true;
    }
    return false;
}

std::string CommonUtils::libraryStampNow()
{
    std::lock_guard lock(m_markedMutex);
    return m_libraryStamp;
}

std::string CommonUtils::closingPoolText(const std::vector<std::shared_ptr<DirectoryObject>>& pool)
{
    // Lines: the library's stamp, then "P path" for a patch, "G folder" for a group and "C path" for each of
    // its patches, "K folder" for each kept pool the pool holds; paths within the working copy. A patch whose
    // copy has not landed yet still names the file it is copied from: "p file" or "c file", the file's
    // absolute path with "%", line feed and carriage return escaped as "%25", "%0A", "%0D", in its place
    // (an older reader passes over those lines). A file of the working copy whose name breaks a line is
    // noted so too: the next start finds it among the unnamed ones by its bytes. A group whose name holds
    // one of those is "g" and its name escaped the same way.
    const std::string local = pathUnderRoot(kTempLocal);
    const auto line = [&](char landed, const PatchItem* item) {
        if (item == nullptr || item->path.empty()) return std::string();
        const std::string path = absolutePath(item->path);
        if (isUnderFolder(path, local) && path.find_first_of("\n\r") == std::string::npos)
            return std::string(1, landed) + " " + fs::path(path).lexically_relative(local).string() + "\n";
        return std::string(1, static_cast<char>(landed - 'A' + 'a')) + " " + escapedPath(path) + "\n";
    };
    std::string text = libraryStampNow() + "\n";
    for (const auto& entry : pool) {
        if (!entry->isBackUpAllGroup && entry->childDirectories.empty() && !entry->isGroup) {
            text += line('P', entry->patchItem());
            continue;
        }
        const std::string group = groupFolderName(entry->name.value_or(""));
        text += group.find_first_of("%\n\r") == std::string::npos ? "G " + group + "\n" : "g " + escapedPath(group) + "\n";
        for (const auto& child : entry->childDirectories) text += line('C', child->patchItem());
    }
    {
        std::lock_guard lock(m_markedMutex);
        for (const auto& kept : m_keptLoaded) text += "K " + kept + "\n";
    }
    return text;
}

void CommonUtils::dropKeptPoolsOf(const std::vector<std::string>& kept)
{
    // Under their own names, or under the mark a save that took them gave them.
    std::set<std::string> bases;
    for (const auto& folder : kept) bases.insert(keptNameOf(fileNameOf(folder)).base);
    std::vector<std::string> found;
    for (const auto& folder : keptPools())
        if (bases.count(keptNameOf(fileNameOf(folder)).base) != 0) found.push_back(folder);
    dropKeptPools(found);
}

std::optional<std::string> CommonUtils::copyOfAPendingPatch(const std::string& source, const std::string& folder,
                                                             UnnamedCopies& landedLate)
{
    platform::Error error;
    // Only what a drop would take: a file that grew past a patch's size or holds no patch now is no copy
    // of what was dropped, and kept it would show nowhere.
    auto bytes = m_files.readFile(source, &error, OKVPatch::kMaxPatchDataSize);
    if (bytes && !(bytes->size() >= 4 && std::equal(bytes->begin(), bytes->begin() + 4, "PTCF") && OKVPatch::initWithData(*bytes))) {
        error = platform::Error::make(kPatchErrorDomain, kNotAPatchFile, "\"" + source + "\" is no patch file");
        bytes.reset();
    }
    if (!bytes) {
        RIG_LOG("the patch being copied from %s is gone: %s", source.c_str(), error.description.c_str());
        return std::nullopt;
    }
    if (auto landed = landedLate.take(*bytes)) return landed;
    if (auto edited = editedCopyOf(source, *bytes, folder, landedLate)) return edited;
    // Written from the bytes just read: what is kept is what was looked at, whatever the file holds now.
    const std::string local = pathUnderRoot(kTempLocal);
    std::string target = join(local, fileNameOf(source));
    if (m_files.exists(target)) target = createNewNameForPath(target);
    if (!m_files.writeAtomically(target, *bytes, &error, platform::Durability::WorkingCopy)) {
        RIG_LOG("cannot copy %s to keep it: %s", source.c_str(), error.description.c_str());
        return std::nullopt;
    }
    return fileNameOf(target);
}

std::optional<std::string> CommonUtils::editedCopyOf(const std::string& source, const std::vector<std::uint8_t>& bytes,
                                                      const std::string& folder, UnnamedCopies& landedLate)
{
    // Named as the copy names it: for the patch the file holds, unless the file's own name says more.
    const std::string sourceName = fileNameOf(source);
    std::string name = sourceName;
    auto patch = OKVPatch::initWithData(bytes);
    if (!patch) return std::nullopt;
    if (sourceName.find_first_of("([") == std::string::npos && isPathOfFile(source))
        if (const auto item = getPatchItemWithPath(source)) name = fileNameForPatchName(item->patchName, sourceName);
    const std::string stem = fs::path(name).stem().string();
    const std::string extension = fs::path(name).extension().string();
    // Copies of one name land in the order of their lines, the first under the name itself: a line takes
    // the lowest free of them, so patches of one name come back in their places.
    const auto named = [&](const std::string& relative) -> std::optional<std::uint64_t> {
        const fs::path path(relative);
        if (path.parent_path().string() != folder) return std::nullopt;
        const std::string file = path.filename().string();
        if (file == name) return 0;
        // A copy that met a file of its name took the next free "<name> (n)".
        const std::string numbered = stem + " (";
        if (file.size() <= numbered.size() + 1 + extension.size() || file.rfind(numbered, 0) != 0 || !file.ends_with(")" + extension))
            return std::nullopt;
        const std::string n = file.substr(numbered.size(), file.size() - numbered.size() - 1 - extension.size());
        if (n.empty() || n.size() > 9 || !std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        return std::stoull(n) + 1;
    };
    // The same patch but for the texts an edit writes.
    const auto withoutTexts = [](OKVPatch& each) {
        each.setPatchName(std::string());
        each.commentEN().setContent(Bytes());
        each.commentJP().setContent(Bytes());
        return each.getByteData();
    };
    const Bytes plain = withoutTexts(*patch);
    return landedLate.takeWhere(named, [&](const std::vector<std::uint8_t>& held) {
        auto edited = OKVPatch::initWithData(held);
        return edited && withoutTexts(*edited) == plain;
    });
}

void CommonUtils::keepPoolOfACutRun()
{
    std::string note = pathUnderRoot(kClosingPool);
    bool taken = false;
    if (m_files.itemKind(note) != platform::ItemKind::File) {
        note += kTakenClosing;
        taken = true;
        if (m_files.itemKind(note) != platform::ItemKind::File) return;
    }
    const auto bytes = m_files.readFile(note);
    if (!bytes || m_files.itemKind(pathUnderRoot(kTempLocal)) != platform::ItemKind::Folder) return;
    const std::string text(bytes->begin(), bytes->end());
    std::vector<std::string> lines;
    for (std::size_t at = 0, end = 0; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    if (lines.empty()) return;
    const std::string stamp = lines[0];
    std::string writes;
    for (const auto& line : lines)
        if (line.rfind(kWritesLine, 0) == 0) writes = line.substr(std::string(kWritesLine).size());
    // Marked taken, the save was replacing the library: it landed when the library is the one it wrote.
    // A note that does not say which (an older version's) keeps the working copy: shown again, nothing of
    // it that the library holds comes twice.
    recoverLibraryAside();
    recoverLinkedPartsAside();
    std::optional<std::string> earlier;
    if (taken && !writes.empty() && namesLibrary(writes, libraryStamp(libraryFolder()), libraryFolder(), earlier)) return;
    const std::string local = pathUnderRoot(kTempLocal);
    std::vector<std::shared_ptr<DirectoryObject>> pool;
    std::vector<std::string> kept;
    const auto leaf = [&](const std::string& path) {
        auto node = std::make_shared<DirectoryObject>();
        auto item = std::make_shared<PatchItem>();
        item->path = join(local, path);
        node->object = item;
        return node;
    };
    std::set<std::string> named;
    for (std::size_t i = 1; i < lines.size(); ++i)
        if (lines[i].size() >= 3 && lines[i][1] == ' ' && (lines[i][0] == 'P' || lines[i][0] == 'C'))
            named.insert(fs::path(lines[i].substr(2)).lexically_normal().string());
    UnnamedCopies landedLate(m_files, local, std::move(named), OKVPatch::kMaxPatchDataSize);
    std::vector<std::string> lost;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.size() < 3 || line[1] != ' ') continue;
        const std::string value = line.substr(2);
        if (line[0] == 'P') {
            pool.push_back(leaf(value));
        } else if (line[0] == 'G' || line[0] == 'g') {
            auto group = std::make_shared<DirectoryObject>();
            group->name = line[0] == 'G' ? value : unescapedPath(value);
            group->isGroup = true;
            pool.push_back(group);
        } else if (line[0] == 'C' && !pool.empty() && pool.back()->isGroup) {
            pool.back()->childDirectories.push_back(leaf(value));
        } else if ((line[0] == 'p' || (line[0] == 'c' && !pool.empty() && pool.back()->isGroup))) {
            // A patch whose copy had not landed by the note: its copy if it landed since, else the file it
            // was copied from, copied now.
            const std::string source = unescapedPath(value);
            const std::string folder = line[0] == 'c' ? groupFolderName(pool.back()->name.value_or("")) : std::string();
            const std::optional<std::string> found = copyOfAPendingPatch(source, folder, landedLate);
            if (!found) {
                lost.push_back(source);
                continue;
            }
            if (line[0] == 'p') pool.push_back(leaf(*found));
            else pool.back()->childDirectories.push_back(leaf(*found));
        } else if (line[0] == 'K') {
            kept.push_back(value);
        }
    }
    if (!lost.empty()) {
        std::lock_guard lock(m_markedMutex);
        m_keptWithout = std::move(lost);
    }
    if (taken) RIG_LOG("the closing save was cut before it landed: its pool is kept");
    // What landed after the note is the pool's too: nothing unnamed is swept.
    if (const auto cause = keepWorkingCopy(pool, stamp, false)) {
        RIG_LOG("cannot keep the pool of the run cut while it closed: %s", cause->c_str());
        return;
    }
    dropKeptPoolsOf(kept);
}
