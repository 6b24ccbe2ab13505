#pragma once

#include "app/screens/PatchScreen.h"
#include <QPointer>

#include "support/app/PlainPatchScreenView.h"

namespace testing_app {

// A patch screen for the main window controller's rig: the device's patches and the pool as plain lists,
// so that what the controller hands the screen shows on the rig's pictures.
class PlainPatchScreen final : public PatchScreen {
public:
    PlainPatchScreen();
    ~PlainPatchScreen() override;

    QWidget* view() override { return view_; }
    void initDraggingRegister() override {}
    void initDraggingOperator() override {}
    void setMainController(MainWindowController* mainController) override { mainController_ = mainController; }
    void viewDidAppear() override {}
    const PatchItems& patchItems() const override { return patchItems_; }
    void setPatchItems(PatchItems patchItems) override { patchItems_ = std::move(patchItems); }
    const BankItems& bankItems() const override { return bankItems_; }
    void setBankItems(BankItems bankItems) override { bankItems_ = std::move(bankItems); }
    const StructureData& structureData() const override { return structureData_; }
    void setStructureData(StructureData structureData) override { structureData_ = std::move(structureData); }
    void setNumberOfSlotsInBlank(int numberOfSlots) override { numberOfSlots_ = numberOfSlots; }
    bool isPatchListLoaded() const override { return isPatchListLoaded_; }
    void setIsPatchListLoaded(bool loaded) override { isPatchListLoaded_ = loaded; }
    QPushButton* backUpAllOrRestoreAllButton() override { return view_ ? view_->button() : nullptr; }
    void setLockPatchPool(bool locked) override;
    bool isLockPatchPool() const override { return isLockPatchPool_; }
    void setlockPatchList(bool locked) override { lockPatchList_ = isLockPatchPool_ || locked; }
    void resetPatchPoolState() override;
    void reloadData() override;
    void reloadDataInPatchList() override;
    void reloadDataInPatchPool() override { view_->showPool(structureData_); }
    void validateRuler() override {}
    std::vector<RestoredCount>& numberOfRestoredDictionaryArray() override { return restored_; }
    void displayRestoreDialogWithNumberOfRestoredItems(long, long) override {}
    void updatePatchItem(std::shared_ptr<PatchItem> patchItem, const std::string& offset,
                         const UnitPatchChange& origin = {}) override;
    void setReloadBufferDataTimer() override {}

private:
    // The window that shows the view may delete it first.
    QPointer<PlainPatchScreenView> view_;
    MainWindowController* mainController_ = nullptr;
    PatchItems patchItems_;
    BankItems bankItems_;
    StructureData structureData_;
    std::vector<RestoredCount> restored_;
    int numberOfSlots_ = 0;
    bool isPatchListLoaded_ = false;
    bool isLockPatchPool_ = false;
    bool lockPatchList_ = false;
};

}  // namespace testing_app
