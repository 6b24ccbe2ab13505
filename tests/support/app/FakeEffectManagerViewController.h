#pragma once

#include <QPushButton>
#include <QTableView>
#include <QWidget>

#include <string>
#include <vector>

#include "app/screens/EffectManagerViewController.h"
#include "app/screens/EffectUpdateView.h"

namespace testing_app {

// An effect screen that keeps what it is given and records every call by name, for the main window
// controller's tests.
class FakeEffectManagerViewController final : public EffectManagerViewController {
public:
    std::vector<std::string> calls;
    MainWindowController* mainController = nullptr;
    bool effectListLoaded = false;
    std::vector<std::pair<std::shared_ptr<EffectItem>, long>> favouriteItems;

    QWidget* view() override { return &view_; }
    void setMainController(MainWindowController* controller) override { mainController = controller; }
    void viewDidAppear() override { calls.push_back("viewDidAppear"); }

    const EffectItems& effectList() const override { return effectList_; }
    void setEffectList(EffectItems effectList) override { effectList_ = std::move(effectList); }
    const StructureData& structureData() const override { return structureData_; }
    void setStructureData(StructureData data) override { structureData_ = std::move(data); }
    void setIsEffectListLoaded(bool loaded) override { effectListLoaded = loaded; }

    QPushButton* savingToDeviceButton() override { return &savingToDeviceButton_; }
    QTableView* leftPanelTableView() override { return &leftPanelTableView_; }

    void resetEffectPoolState() override { calls.push_back("resetEffectPoolState"); }
    void reloadData() override { calls.push_back("reloadData"); }
    void reloadDataInEffectList() override { calls.push_back("reloadDataInEffectList"); }
    void reloadDataInEffectPool() override { calls.push_back("reloadDataInEffectPool"); }
    void validateRuler() override { calls.push_back("validateRuler"); }
    void setFavouriteItem(const std::shared_ptr<EffectItem>& item, long row) override
    {
        favouriteItems.emplace_back(item, row);
    }

private:
    QWidget view_;
    QPushButton savingToDeviceButton_;
    QTableView leftPanelTableView_;
    EffectItems effectList_;
    StructureData structureData_;
};

// The effect update sheet: keeps its rows and its dismiss block, which a test runs as the close button.
class FakeEffectUpdateView final : public EffectUpdateView {
public:
    std::vector<UpdatedEffect> updatedEffectItems;
    std::function<void()> dismissActionBlock;

    QWidget* view() override { return &view_; }
    void setUpdatedEffectItems(std::vector<UpdatedEffect> items) override { updatedEffectItems = std::move(items); }
    void setDismissActionBlock(std::function<void()> block) override { dismissActionBlock = std::move(block); }

private:
    QWidget view_;
};

}  // namespace testing_app
