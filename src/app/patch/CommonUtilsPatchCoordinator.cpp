#include "app/patch/CommonUtilsPatchCoordinator.h"

#include "library/CommonUtils.h"

bool CommonUtilsPatchCoordinator::editFilePatch(PatchItem& item) { return utils_.editFilePatch(item); }

void CommonUtilsPatchCoordinator::selectPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index)
{
    utils_.selectPatchItem(item, index);
}

void CommonUtilsPatchCoordinator::writeToDeviceWithPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index)
{
    utils_.writeToDeviceWithPatchItem(item, index);
}

void CommonUtilsPatchCoordinator::writeToDeviceWithPatchGroup(const PatchItems& items,
                                                              const std::vector<std::int64_t>& indexes)
{
    utils_.writeToDeviceWithPatchGroup(items, indexes);
}

void CommonUtilsPatchCoordinator::writeToDeviceWithPatchList(const PatchItems& items)
{
    utils_.writeToDeviceWithPatchList(items);
}

void CommonUtilsPatchCoordinator::updatePatchWarningWithPatchItem(PatchItem& item)
{
    utils_.updatePatchWarningWithPatchItem(item);
}

void CommonUtilsPatchCoordinator::updatePatchWarningInPatchList(const PatchItems& list)
{
    utils_.updatePatchWarningInPatchList(list);
}

void CommonUtilsPatchCoordinator::updatePatchWarningInPatchPool(const Tree& pool)
{
    utils_.updatePatchWarningInPatchPool(pool);
}
