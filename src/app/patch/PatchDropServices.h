#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class PatchItem;

// What the two patch views ask of the patch screen while something is dropped on them: the file checks
// and copies of dropped patch files, and the list's answers. Set by the screen with the drag types; a
// missing answer refuses what it would decide.
struct PatchDropServices {
    // Drops from inside the program's own folder are refused as a whole.
    std::function<std::string()> applicationFolder;
    // A readable patch file (the list also asks that the device takes it).
    std::function<bool(const std::string& path)> isPatchFile;
    std::function<bool(const std::string& path)> isIncompatibleFile;
    std::function<std::shared_ptr<PatchItem>(const std::string& path)> readFilePatch;
    // The patch files among `paths` read off the main thread, the others left out; `done` gets them on
    // the main thread. The screen shows that it is working meanwhile.
    using ReadPatches = std::function<void(std::vector<std::shared_ptr<PatchItem>> items)>;
    std::function<void(const std::vector<std::string>& paths, ReadPatches done)> readFilePatchesLater;
    // The file copied into the device's working folder and read back; none when that failed.
    std::function<std::shared_ptr<PatchItem>(const std::string& path)> workingCopy;
    // How many slots the device list has.
    std::function<std::int64_t()> numberOfDeviceSlots;

    // ---- the device list's ----
    // Dropped patches (copied already) replace the slots from `row` on.
    std::function<void(const std::vector<std::shared_ptr<PatchItem>>& items, std::int64_t row)> replaceItemByDraggingBlock;
    // The pool drag's count: compatible patches, -1 for a backup-all group of the connected model.
    std::function<std::int64_t()> numberOfDraggedItems;
    // The screen's drop validation of a proposed row.
    std::function<int(std::int64_t proposedRow, bool aboveOperation)> validateDrop;
    // A fixed alert, shown after the drop has returned.
    std::function<void(const std::string& title, const std::string& message)> showAlert;
};
