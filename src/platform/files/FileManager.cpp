#include "platform/files/FileManager.h"

#include <filesystem>

namespace platform {

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
