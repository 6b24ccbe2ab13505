#include "platform/files/FileManager.h"

#include <filesystem>

namespace platform {

std::optional<std::vector<FolderEntry>> FileManager::contentsOfDirectoryWithKinds(const std::string& path, Error* error)
{
    auto names = contentsOfDirectory(path, error);
    if (!names) return std::nullopt;
    std::vector<FolderEntry> entries;
    entries.reserve(names->size());
    const std::string prefix = path.empty() || path.back() == '/' ? path : path + "/";
    for (auto& name : *names) {
        const ItemKind kind = itemKind(prefix + name);
        entries.push_back({std::move(name), kind});
    }
    return entries;
}

std::optional<std::vector<std::uint8_t>> FileManager::readFileStamped(const std::string& path,
                                                                      std::optional<FileStamp>& stamp, Error* error,
                                                                      std::uint64_t limit)
{
    stamp.reset();
    auto bytes = readFile(path, error, limit);
    if (bytes) stamp = fileStamp(path);
    return bytes;
}

bool FileManager::linkItemsInto(const std::string& fromFolder, const std::vector<LinkName>& names,
                                const std::string& toFolder, Error* error)
{
    for (const LinkName& name : names)
        if (!linkItem((std::filesystem::path(fromFolder) / name.from).string(),
                      (std::filesystem::path(toFolder) / name.to).string(), error, Durability::Staged))
            return false;
    return true;
}

}  // namespace platform
