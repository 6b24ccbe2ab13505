#pragma once

#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <string>
#include <vector>

#include "app/screens/PatchScreen.h"

namespace testing_app {

// A patch screen that keeps what it is given and records every call by name, for the main window
// controller's tests.
class FakePatchScreen : public PatchScreen {
public:
    std::vector<std::string> calls;
    MainWindowController* mainController = nullptr;
    int numberOfSlotsInBlank = 0;
    bool lockPatchList = false;
    std::vector<std::pair<std::shared_ptr<PatchItem>, std::string>> updatedPatchItems;
    ~FakePatchScreen() override { delete view_; }
    QWidget* view() override { return view_; }
    void initDraggingRegister() override { calls.push_back("initDraggingRegister"); }
    void initDraggingOperator() override { calls.push_back("initDraggingOperator"); }
    void setMainController(MainWindowController* controller) override { mainController = controller; }
    void viewDidAppear() override { calls.push_back("viewDidAppear"); }
    const PatchItems& patchItems() const override { return patchItems_; }
    void setPatchItems(PatchItems items) override { patchItems_ = std::move(items); }
    const BankItems& bankItems() const override { return bankItems_; }
    void setBankItems(BankItems items) override { bankItems_ = std::move(items); }
    const StructureData& structureData() const override { return structureData_; }
    void setStructureData(StructureData data) override { structureData_ = std::move(data); }
    void setNumberOfSlotsInBlank(int count) override { numberOfSlotsInBlank = count; }
    bool isPatchListLoaded() const override { return patchListLoaded_; }
    void setIsPatchListLoaded(bool loaded) override
    {
        calls.push_back(loaded ? "setIsPatchListLoaded 1" : "setIsPatchListLoaded 0");
        patchListLoaded_ = loaded;
    }
    QPushButton* backUpAllOrRestoreAllButton() override { return &backUpAllButton_; }
    void setLockPatchPool(bool locked) override
    {
        calls.push_back(locked ? "setLockPatchPool 1" : "setLockPatchPool 0");
        lockPatchPool_ = locked;
        lockPatchList = locked;
    }
    bool isLockPatchPool() const override { return lockPatchPool_; }
    void setlockPatchList(bool locked) override { lockPatchList = lockPatchPool_ || locked; }
    void resetPatchPoolState() override { calls.push_back("resetPatchPoolState"); }
    void reloadData() override { calls.push_back("reloadData"); }
    void reloadDataInPatchList() override { calls.push_back("reloadDataInPatchList"); }
    void reloadDataInPatchPool() override { calls.push_back("reloadDataInPatchPool"); }
    void validateRuler() override { calls.push_back("validateRuler"); }
    std::vector<RestoredCount>& numberOfRestoredDictionaryArray() override { return restored_; }
    void displayRestoreDialogWithNumberOfRestoredItems(long restoredItems, long maxItems) override
    {
        calls.push_back("displayRestoreDialog " + std::to_string(restoredItems) + "/" + std::to_string(maxItems));
    }
    void updatePatchItem(std::shared_ptr<PatchItem> item, const std::string& offset,
                         const UnitPatchChange& = {}) override
    {
        updatedPatchItems.emplace_back(std::move(item), offset);
    }
    void setReloadBufferDataTimer() override { calls.push_back("setReloadBufferDataTimer"); }

private:
    QPointer<QWidget> view_ = new QWidget;  // a window showing it may delete it first
    QPushButton backUpAllButton_;
    PatchItems patchItems_;
    BankItems bankItems_;
    StructureData structureData_;
    std::vector<RestoredCount> restored_;
    bool patchListLoaded_ = false;
    bool lockPatchPool_ = false;
};

}  // namespace testing_app
