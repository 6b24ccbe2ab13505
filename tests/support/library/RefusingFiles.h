#pragma once

#include <string>
#include <vector>

#include "platform/files/LocalFileManager.h"

// The local disk, refusing to remove or to write the paths that end with the given texts.
class RefusingFiles final : public platform::LocalFileManager {
public:
    std::string refuseRemove;
    std::string refuseWrite;

    bool removeItem(const std::string& path, platform::Error* error = nullptr) override
    {
        if (!refuseRemove.empty() && path.ends_with(refuseRemove)) return refuse(error);
        return LocalFileManager::removeItem(path, error);
    }
    bool writeAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes, platform::Error* error,
                         platform::Durability durability) override
    {
        if (!refuseWrite.empty() && path.ends_with(refuseWrite)) return refuse(error);
        return LocalFileManager::writeAtomically(path, bytes, error, durability);
    }

private:
    static bool refuse(platform::Error* error)
    {
        if (error) error->description = "refused";
        return false;
    }
};
