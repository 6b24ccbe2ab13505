#pragma once

#include "app/patch/PatchCoordinator.h"

class CommonUtils;

// The patch screen's coordinator over the program's CommonUtils.
class CommonUtilsPatchCoordinator final : public PatchCoordinator {
public:
    explicit CommonUtilsPatchCoordinator(CommonUtils& utils) : utils_(utils) {}

    bool editFilePatch(PatchItem& item) override;
    bool restoreFilePatch(PatchItem& item, const StoredPatchTexts& restore) override;
    std::optional<StoredPatchTexts> storedPatchTexts(const std::string& path) override;
    void selectPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index) override;
    void writeToDeviceWithPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index) override;
    void writeToDeviceWithPatchGroup(const PatchItems& items, const std::vector<std::int64_t>& indexes) override;
    void writeToDeviceWithPatchList(const PatchItems& items) override;
    void updatePatchWarningWithPatchItem(PatchItem& item) override;
    void updatePatchWarningInPatchList(const PatchItems& list) override;
    void updatePatchWarningInPatchPool(const Tree& pool) override;
    void updatePatchWarningInPatchPoolLater(const Tree& pool, std::function<void()> applied) override;
    std::optional<std::uint64_t> warningsJudgedAgainst() const override;
    std::optional<std::uint64_t> poolWarningsJudgedAgainst(const Tree& pool) override;

    std::string applicationFolder() override;
    bool checkFilePatchWithfilePath(const std::string& path) override;
    bool isPatchFileIncompatibleWithPath(const std::string& path) override;
    std::shared_ptr<PatchItem> readFilePatchWithPath(const std::string& path) override;
    std::shared_ptr<PatchItem> writeFilePatchWithInfo(const std::string& source, const std::string& toPath,
                                                      const WriteInfo& info) override;
    void copyGroup(const DirectoryObject& group, const std::string& toPath) override;
    bool checkBackupGroupTheSeemModel(const DirectoryObject& group) override;

    std::string localPoolFolder() override;
    std::string devicePatchFolder() override;
    bool fileExistsAtPath(const std::string& path) override;
    bool createDirectoryAtPath(const std::string& path) override;
    std::shared_ptr<PatchItem> writeFilePatchWithPath(const std::string& source, const std::string& toPath,
                                                      platform::Error* error) override;
    void readFilePatchesLater(const std::vector<std::string>& paths, std::function<void(PatchItems)> done) override;
    void writeFilePatchesLater(const PatchCopies& copies, CopiesLanded landed) override;
    void settlePoolWork() override;
    void settlePoolWorkFor(const std::vector<std::string>& paths) override;
    void landFinishedPoolWork() override;
    std::vector<bool> withdrawPendingCopies(const PatchCopies& copies, bool handOver = false) override;
    std::string movePatchItem(PatchItem& item, const std::string& groupName) override;
    std::vector<std::string> movePatchItems(const std::vector<PatchItem*>& items, const std::string& groupName) override;
    void movePatchItemsLater(const std::vector<PatchItem*>& items, const std::string& groupName,
                             std::function<void(std::vector<std::string>)> landed) override;
    std::int32_t renameGroup(DirectoryObject& group, const std::string& newName) override;
    void updateIncompatiblePathItemInDirectory(DirectoryObject& node) override;

    std::string deletePatchItem(const PatchItem& item, const DirectoryObject* group) override;
    std::string undoPatchItem(const PatchItem& item, const DirectoryObject* group) override;
    std::string deletePatchGroup(const DirectoryObject& group) override;
    std::string undoPatchGroup(DirectoryObject& group) override;
    std::string canBackupWithName(const std::string& name) override;
    std::int32_t backupPatchListWithName(const std::string& name, const PatchItems& patchList) override;
    bool restorePatchWithPatchItems(const PatchItems& items) override;

private:
    CommonUtils& utils_;
};
