#pragma once

#include <cstdint>
#include <optional>
#include <string>

// One file of the local libraries: the effect store, copies of the device's effect list, pool files and
// backup records.
class MappingObject {
public:
    // Absolute, or relative to the patch folder when it begins with the component "Backup".
    std::optional<std::string> filePath;
    std::optional<std::string> virtualPath;
    std::optional<std::string> fileName;
    std::optional<std::string> category;
    bool isNew = true;
    bool isIncompatibility = false;
    bool isBackup = false;
    bool isFavourite = false;
    bool isGroup = false;
    bool isLoaded = false;
    bool isEffectExistedAtServer = true;
    std::uint32_t effectType = 0;
    std::optional<std::string> effectVersion;

    static MappingObject initWithFilePath(std::string path);
    static MappingObject initWithFileName(std::string name, std::string path);
    MappingObject copy() const { return *this; }
};
