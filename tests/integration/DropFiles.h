#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "DemoCatalogue.h"
#include "PoolTour.h"
#include "support/library/LibraryFiles.h"

// Patch files to drop on the pool, and the patches the pool shows: the whole-program tests of a drop's
// copies share them.
namespace drop_files {

// `count` patch files of the demo's first model in `folder`, each named `stem` and a four-digit number;
// their paths in that order.
inline std::vector<std::string> write(const std::filesystem::path& folder, const std::string& stem, int count)
{
    const std::uint32_t type = DemoCatalogue::models().front().effects[0].type;
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%s%04d", stem.c_str(), i);
        const std::string path = (folder / (std::string(name) + ".qptc")).string();
        const Bytes bytes = library_files::patchFile(name, {type});
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        paths.push_back(path);
    }
    return paths;
}

// The patches the pool shows, within groups or not.
inline std::size_t patchesShown(const std::vector<PoolTour::Shown>& pool)
{
    std::size_t count = 0;
    for (const auto& entry : pool) count += entry.group ? entry.children.size() : 1;
    return count;
}

}  // namespace drop_files
