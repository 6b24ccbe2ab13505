#pragma once

#include "app/patch/PatchCoordinator.h"

class CommonUtils;

// The patch screen's coordinator over the program's CommonUtils.
class CommonUtilsPatchCoordinator final : public PatchCoordinator {
public:
    explicit CommonUtilsPatchCoordinator(CommonUtils& utils) : utils_(utils) {}

    bool editFilePatch(PatchItem& item) override;
    void selectPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index) override;
    void writeToDeviceWithPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index) override;
    void writeToDeviceWithPatchGroup(const PatchItems& items, const std::vector<std::int64_t>& indexes) override;
    void writeToDeviceWithPatchList(const PatchItems& items) override;
    void updatePatchWarningWithPatchItem(PatchItem& item) override;
    void updatePatchWarningInPatchList(const PatchItems& list) override;
    void updatePatchWarningInPatchPool(const Tree& pool) override;

private:
    CommonUtils& utils_;
};
