#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class DirectoryObject;
class PatchItem;

// What the patch screen asks of the library coordinator: patch files, device writes and selections, and
// the warning marks of the list and the pool. Device requests are queued; their outcome reaches the main
// window controller, not the screen.
class PatchCoordinator {
public:
    using PatchItems = std::vector<std::shared_ptr<PatchItem>>;
    using Tree = std::vector<std::shared_ptr<DirectoryObject>>;

    virtual ~PatchCoordinator() = default;

    // Rewrites the patch's local file with its name and comment; false when the file stays as it was.
    virtual bool editFilePatch(PatchItem& item) = 0;
    // Makes the patch the device's current one.
    virtual void selectPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index) = 0;
    virtual void writeToDeviceWithPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index) = 0;
    virtual void writeToDeviceWithPatchGroup(const PatchItems& items, const std::vector<std::int64_t>& indexes) = 0;
    virtual void writeToDeviceWithPatchList(const PatchItems& items) = 0;

    virtual void updatePatchWarningWithPatchItem(PatchItem& item) = 0;
    virtual void updatePatchWarningInPatchList(const PatchItems& list) = 0;
    virtual void updatePatchWarningInPatchPool(const Tree& pool) = 0;
};
