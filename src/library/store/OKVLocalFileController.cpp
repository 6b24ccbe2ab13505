#include "library/store/OKVLocalFileController.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <limits>

#include "common/Log.h"
#include "common/NSStringAddition.h"
#include "library/store/BackupFile.h"
#include "platform/bundle/Bundle.h"
#include "platform/bundle/StringFormat.h"
#include "platform/files/ApplicationSupport.h"
#include "platform/files/LocalFileManager.h"
#include "platform/files/WorkFolderName.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kWorkingCopy = "Temp/Local";
constexpr const char* kPatchFolder = "QFXMacApplication/Patch";

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool containsIgnoringCase(const std::string& text, const std::string& part)
{
    return !part.empty() && lowercase(text).find(lowercase(part)) != std::string::npos;
}

// Leading white space, an optional sign, decimal digits; 0 without digits.
std::int32_t integerValue(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), INT32_MAX);
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::string extensionOf(const fs::path& path)
{
    const std::string extension = path.extension().string();
    return extension.empty() ? extension : extension.substr(1);
}

std::vector<fs::path> walk(const fs::path& folder, bool deep)
{
    std::vector<fs::path> entries;
    std::error_code ec;
    if (deep) {
        for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
             !ec && it != end; it.increment(ec)) {
            // Half an effect a killed unpack left is never listed as one.
            if (platform::WorkFolderName::is(it->path().filename().string())) {
                it.disable_recursion_pending();
                continue;
            }
            entries.push_back(it->path());
        }
    } else {
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// The first "<folder>/<name> (n)" for n = 1, 2, ... that does not exist yet.
fs::path firstFreeName(const fs::path& taken)
{
    std::error_code ec;
    for (std::int64_t n = 1;; ++n) {
        fs::path candidate = taken.parent_path() / platform::StringFormat::format("%@ (%d)", {taken.filename().string(), n});
        if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
    }
}

// The path with its last component equal to `from` replaced by `to`.
std::string replacingComponent(const std::string& path, const std::string& from, const std::string& to)
{
    const fs::path whole(path);
    std::vector<fs::path> parts(whole.begin(), whole.end());
    auto last = std::find(parts.rbegin(), parts.rend(), fs::path(from));
    if (last == parts.rend()) return path;
    *last = to;
    fs::path result;
    for (const auto& part : parts) result /= part;
    return result.string();
}

}  // namespace

OKVLocalFileController::OKVLocalFileController(std::string rootFolder, std::string bundlePath)
    : root_(std::move(rootFolder)), bundlePath_(std::move(bundlePath))
{
}

OKVLocalFileController& OKVLocalFileController::getInstance()
{
    static OKVLocalFileController instance(platform::ApplicationSupport::rootFolder(),
                                           platform::Bundle::locateResources().value_or(""));
    return instance;
}

std::string OKVLocalFileController::pathUnderRoot(const std::string& path, const std::string& root)
{
    if (path.find(root) != std::string::npos) return path;
    return (fs::path(root) / fs::path(path).relative_path()).string();
}

std::string OKVLocalFileController::workingCopyFolder() const { return (fs::path(root_) / kWorkingCopy).string(); }

std::string OKVLocalFileController::resolveListingFolder(const std::string& folderPath, const std::string& extension) const
{
    if (extension != "QF2" && folderPath.find("Contents/Resources") != std::string::npos && !bundlePath_.empty())
        return pathUnderRoot(folderPath, bundlePath_);
    return pathUnderRoot(folderPath, root_);
}

OKVLocalFileController::FileList OKVLocalFileController::getAllFileInFolderPath(const std::string& folderPath,
                                                                                const std::string& extension,
                                                                                bool inSubFolder) const
{
    const std::string folder = resolveListingFolder(folderPath, extension);
    std::vector<std::string> paths;
    for (const auto& entry : walk(folder, inSubFolder))
        if (extensionOf(entry) == extension) paths.push_back(entry.string());
    if (folder.find("QFXMacApplication") == std::string::npos) return paths;
    std::vector<MappingObject> entries;
    for (auto& path : paths) entries.push_back(MappingObject::initWithFilePath(std::move(path)));
    return entries;
}

std::vector<std::string> OKVLocalFileController::getAllFolderEmptyWithPath(const std::string& folderPath) const
{
    std::vector<std::string> empty;
    std::error_code ec;
    for (const auto& folder : walk(pathUnderRoot(folderPath, root_), false)) {
        if (!fs::is_directory(folder, ec)) continue;
        const auto inside = walk(folder, false);
        if (std::none_of(inside.begin(), inside.end(), [](const fs::path& p) { return extensionOf(p) == "qptc"; }))
            empty.push_back(folder.string());
    }
    return empty;
}

std::int32_t OKVLocalFileController::getNumberFileNameWithDirectoryObject(const DirectoryObject& node) const
{
    std::string text = fs::path(node.path.value_or("")).filename().string();
    if (!node.childDirectories.empty() || node.isGroup) text = node.name.value_or("");
    const auto bracket = text.find(']');
    // A leading "]" has no digits before it: such a name counts as 0.
    if (bracket != std::string::npos) return bracket < 1 ? 0 : integerValue(text.substr(1, bracket - 1));
    return integerValue(text);
}

namespace {

// The first position at or after `from` whose number is below `limit` (or `npos`), in a tree of minimums
// over the positions' numbers whose leaves start at `leaves`.
std::size_t firstBelow(const std::vector<std::int32_t>& tree, std::size_t node, std::size_t low, std::size_t high,
                       std::size_t from, std::int32_t limit)
{
    if (high <= from || tree[node] >= limit) return std::string::npos;
    if (high - low == 1) return low;
    const std::size_t middle = low + (high - low) / 2;
    const std::size_t left = firstBelow(tree, 2 * node, low, middle, from, limit);
    return left != std::string::npos ? left : firstBelow(tree, 2 * node + 1, middle, high, from, limit);
}

}  // namespace

void OKVLocalFileController::sortChildDirectoryInDirectoryObjectList(
    std::vector<std::shared_ptr<DirectoryObject>>& list) const
{
    const std::size_t count = list.size();
    if (count < 2) return;
    std::vector<std::int32_t> number(count);
    for (std::size_t i = 0; i < count; ++i) number[i] = getNumberFileNameWithDirectoryObject(*list[i]);
    {
        // Distinct numbers allow one order only, whatever the procedure.
        std::vector<std::int32_t> sorted = number;
        std::sort(sorted.begin(), sorted.end());
        if (std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end()) {
            std::vector<std::size_t> order(count);
            for (std::size_t i = 0; i < count; ++i) order[i] = i;
            std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return number[a] < number[b]; });
            std::vector<std::shared_ptr<DirectoryObject>> result(count);
            for (std::size_t i = 0; i < count; ++i) result[i] = std::move(list[order[i]]);
            list = std::move(result);
            return;
        }
    }
    // Entries of equal number keep the order of the exchange procedure the saved libraries were read with:
    // each position in turn takes every later entry of a smaller number than the one it holds by exchange.
    // A tree of minimums finds those entries without scanning every later one.
    std::size_t leaves = 1;
    while (leaves < count) leaves <<= 1;
    std::vector<std::int32_t> tree(2 * leaves, std::numeric_limits<std::int32_t>::max());
    for (std::size_t i = 0; i < count; ++i) tree[leaves + i] = number[i];
    for (std::size_t node = leaves - 1; node > 0; --node) tree[node] = std::min(tree[2 * node], tree[2 * node + 1]);
    const auto set = [&](std::size_t at) {
        std::size_t node = leaves + at;
        tree[node] = number[at];
        for (node >>= 1; node > 0; node >>= 1) tree[node] = std::min(tree[2 * node], tree[2 * node + 1]);
    };
    for (std::size_t i = 0; i + 1 < count; ++i) {
        for (std::size_t j = firstBelow(tree, 1, 0, leaves, i + 1, number[i]); j != std::string::npos;
             j = firstBelow(tree, 1, 0, leaves, j + 1, number[i])) {
            std::swap(list[i], list[j]);
            std::swap(number[i], number[j]);
            set(i);
            set(j);
        }
    }
}

std::string OKVLocalFileController::getFileNameFromIndexSavingName(const std::string& name)
{
    const auto separator = name.find("] ");
    return separator == std::string::npos ? name : name.substr(separator + 2);
}

std::string OKVLocalFileController::backupGroupDisplayName(const std::string& folderName,
                                                          const std::optional<std::string>& recordedName)
{
    if (!recordedName || recordedName->size() > folderName.size()) return folderName;
    const std::string& recorded = *recordedName;
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        const bool written = recorded[i] == ':' ? folderName[i] == '-' : folderName[i] == recorded[i];
        if (!written) return folderName;
    }
    return recorded + folderName.substr(recorded.size());
}

void OKVLocalFileController::renameFileInDirectoryObjectList(
    const std::vector<std::shared_ptr<DirectoryObject>>& list) const
{
    platform::LocalFileManager files;
    auto moveItemFile = [&](DirectoryObject& node, PatchItem& item, const std::string& newPath) {
        if (files.moveItem(item.path, newPath)) {
            node.path = newPath;
            item.path = newPath;
        }
    };
    for (const auto& node : list) {
        if (!node) continue;
        if (!node->isGroup) {
            PatchItem* item = node->patchItem();
            if (item == nullptr || item->path.empty()) continue;
            const std::string component = fs::path(item->path).filename().string();
            if (component.find(']') == std::string::npos) continue;
            moveItemFile(*node, *item,
                         (fs::path(item->path).parent_path() / getFileNameFromIndexSavingName(component)).string());
            continue;
        }
        const std::string oldName = node->name.value_or("");
        if (oldName.find(']') == std::string::npos) continue;
        const fs::path oldFolder = fs::path(workingCopyFolder()) / oldName;
        fs::path newFolder = fs::path(workingCopyFolder()) / getFileNameFromIndexSavingName(oldName);
        std::error_code ec;
        if (fs::exists(fs::symlink_status(newFolder, ec))) newFolder = firstFreeName(newFolder);
        // The folder moves whole, with everything in it that the tree does not show.
        platform::Error error;
        if (!files.moveItem(oldFolder.string(), newFolder.string(), &error)) {
            RIG_LOG("kept %s: %s", oldFolder.c_str(), error.description.c_str());
            continue;
        }
        const std::string newName = newFolder.filename().string();
        node->name = newName;
        node->path = newFolder.string();
        for (const auto& child : node->childDirectories) {
            PatchItem* item = child ? child->patchItem() : nullptr;
            if (item == nullptr || item->path.empty()) continue;
            item->path = replacingComponent(item->path, oldName, newName);
            child->path = item->path;
        }
        renameFileInDirectoryObjectList(node->childDirectories);
        if (node->isBackUpAllGroup) {
            const auto record = BackupFile::readBackupFileWithPath((newFolder / BackupFile::kFileName).string(), root_);
            node->name = backupGroupDisplayName(newName, record ? record->backupName() : std::nullopt);
        }
    }
}

void OKVLocalFileController::updateModelNameForDirectoryObjectBackup(DirectoryObject& node,
                                                                     std::vector<MappingObject>& backupFileList) const
{
    const std::string name = node.name.value_or("");
    auto found = std::find_if(backupFileList.begin(), backupFileList.end(), [&](const MappingObject& entry) {
        return containsIgnoringCase(entry.filePath.value_or(""), name);
    });
    if (found == backupFileList.end()) return;
    const auto components = NSStringAddition::pathComponents(found->filePath.value_or(""));
    if (!components.empty() && components.front() == "Backup")
        found->filePath = (fs::path(root_) / kPatchFolder / *found->filePath).string();
    auto record = BackupFile::readBackupFileWithPath(found->filePath.value_or(""), root_);
    node.modelName = record ? record->modelName() : std::nullopt;
}

std::optional<std::vector<MappingObject>> OKVLocalFileController::getEffectListServerForDeviceWithEffectPool(
    const std::vector<MappingObject>& effectPool, const std::string& deviceName)
{
    std::vector<MappingObject> matching;
    for (const auto& entry : effectPool)
        if (containsIgnoringCase(entry.filePath.value_or(""), deviceName) && entry.fileName != "UNKNOWN")
            matching.push_back(entry.copy());
    if (matching.empty()) return std::nullopt;
    return matching;
}

std::int32_t OKVLocalFileController::getNumberOfFileInDirectory(const std::string& folderPath,
                                                                const std::string& extension)
{
    std::int32_t count = 0;
    for (const auto& entry : walk(folderPath, true))
        if (containsIgnoringCase(extensionOf(entry), extension)) ++count;
    return count;
}
