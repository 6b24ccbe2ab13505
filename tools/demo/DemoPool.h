#pragma once

#include <string>
#include <vector>

// The saved patch library a user of the demo unit would have: patches at the top of the pool, a group,
// a patch made for another unit, and a backup of the whole unit with its record. Written under the
// program's data folder before it starts, so the pool loads it like any library.
class DemoPool {
public:
    static constexpr const char* kGroupName = "Live Set";
    static constexpr const char* kBackupName = "Backup_Rigmora One_20261201_18_30";
    static constexpr const char* kIncompatiblePatch = "Old Unit";

    // The names in pool order, groups with their children after them, for the tests.
    static std::vector<std::string> topLevelNames();
    // False when a file could not be written; `error` says which.
    static bool write(const std::string& rootFolder, std::string& error);
};
