#include "library/store/OKVLocalFileController.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "common/Log.h"
#include "common/NSStringAddition.h"
#include "library/store/BackupFile.h"
#include "platform/bundle/Bundle.h"
#include "platform/bundle/StringFormat.h"
#include "platform/files/ApplicationSupport.h"
#include "platform/files/LocalFileManager.h"

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
             !ec && it != end; it.increment(ec))
            entries.push_back(it->path());
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

void OKVLocalFileController::sortChildDirectoryInDirectoryObjectList(
    std::vector<std::shared_ptr<DirectoryObject>>& list) const
{
    std::vector<std::pair<std::int32_t, std::shared_ptr<DirectoryObject>>> keyed;
    keyed.reserve(list.size());
    for (auto& node : list) keyed.emplace_back(getNumberFileNameWithDirectoryObject(*node), std::move(node));
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < keyed.size(); ++i) list[i] = std::move(keyed[i].second);
}

std::string OKVLocalFileController::getFileNameFromIndexSavingName(const std::string& name)
{
    const auto separator = name.find("] ");
    return separator == std::string::npos ? name : name.substr(separator + 2);
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
        if (node->isBackUpAllGroup) std::replace(node->name->begin(), node->name->end(), '-', ':');
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
