#include "DemoLargePool.h"

#include "platform/files/LocalFileManager.h"
#include "support/device/SimulatedPatchMemory.h"

namespace fs = std::filesystem;

bool DemoLargePool::seed(const fs::path& dataFolder, int patches, std::string& error)
{
    platform::LocalFileManager files;
    const fs::path pool = dataFolder / "QFXMacApplication/Patch/Pool";
    for (int i = 0; i < patches; ++i) {
        const int group = i / kPatchesPerGroup;
        const fs::path folder =
            pool / ("[" + std::to_string(kFirstGroup + group) + "] Set " + std::to_string(group + 1));
        platform::Error failure;
        if (i % kPatchesPerGroup == 0 && !files.createDirectory(folder.string(), true, &failure)) {
            error = failure.description;
            return false;
        }
        const std::string name = "Pool " + std::to_string(i + 1);
        const fs::path file = folder / ("[" + std::to_string(i % kPatchesPerGroup) + "] " + name + ".qptc");
        // Working-copy durability: the demo's folder goes at the end anyway.
        if (!files.writeAtomically(file.string(),
                                   SimulatedPatchMemory::makePatchRecord(name.substr(0, 10), "seeded", 300,
                                                                         static_cast<std::uint8_t>(i)),
                                   &failure, platform::Durability::WorkingCopy)) {
            error = failure.description;
            return false;
        }
    }
    return true;
}
