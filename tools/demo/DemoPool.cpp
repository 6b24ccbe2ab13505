#include "DemoPool.h"

#include <filesystem>
#include <fstream>

#include "DemoCatalogue.h"
#include "library/store/BackupFile.h"
#include "support/library/LibraryFiles.h"

namespace fs = std::filesystem;

namespace {

// A generation the demo unit does not take.
constexpr std::uint32_t kOtherGeneration = 2;

bool writeFile(const fs::path& path, const Bytes& bytes, std::string& error)
{
    std::error_code code;
    fs::create_directories(path.parent_path(), code);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (out.good()) return true;
    error = "cannot write " + path.string();
    return false;
}

bool writePatch(const fs::path& folder, int index, const std::string& name, std::string& error,
                std::uint32_t generation = 1)
{
    const auto& effects = DemoCatalogue::models().front().effects;
    const std::vector<std::uint32_t> types{effects[static_cast<std::size_t>(index) % effects.size()].type};
    return writeFile(folder / ("[" + std::to_string(index) + "] " + name + ".qptc"),
                     library_files::patchFile(name, types, generation), error);
}

}  // namespace

std::vector<std::string> DemoPool::topLevelNames()
{
    return {"Warm Pad", kGroupName, kIncompatiblePatch, "Octaver", kBackupName};
}

bool DemoPool::write(const std::string& rootFolder, std::string& error)
{
    const fs::path library = fs::path(rootFolder) / "QFXMacApplication" / "Patch";
    const fs::path pool = library / "Pool";
    const fs::path group = pool / (std::string("[1] ") + kGroupName);
    const fs::path backup = library / "Backup" / (std::string("[4] ") + kBackupName);
    bool written = writePatch(pool, 0, "Warm Pad", error) && writePatch(group, 0, "Intro", error) &&
                   writePatch(group, 1, "Verse", error) && writePatch(group, 2, "Solo", error) &&
                   writePatch(pool, 2, kIncompatiblePatch, error, kOtherGeneration) && writePatch(pool, 3, "Octaver", error);
    // The whole unit's first slots, one of them from another unit: a restore skips it.
    const char* slots[] = {"Clean 1", "Crunch 1", "Lead 1", "Ambient 1", "Rhythm 1"};
    for (int i = 0; written && i < 5; ++i) written = writePatch(backup, i, slots[i], error, i == 2 ? kOtherGeneration : 1);
    if (!written) return false;
    const auto record = BackupFile::initWithName(kBackupName, DemoCatalogue::models().front().name);
    if (!BackupFile::saveBackupFile(record.get(), (backup / BackupFile::kFileName).string(), rootFolder)) {
        error = "cannot write the backup record";
        return false;
    }
    return true;
}
