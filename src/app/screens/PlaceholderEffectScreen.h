#pragma once

#include "app/screens/EffectScreen.h"
#include <QPointer>

#include "app/screens/PlaceholderScreenView.h"

// The effect screen until its own views land: the device's effects and the pool, as plain lists.
class PlaceholderEffectScreen final : public EffectScreen {
public:
    PlaceholderEffectScreen();
    ~PlaceholderEffectScreen() override;

    QWidget* view() override { return view_; }
    void setMainController(MainWindowController* mainController) override { mainController_ = mainController; }
    void viewDidAppear() override {}
    EffectItems& effectList() override { return effectList_; }
    void setEffectList(EffectItems effectList) override { effectList_ = std::move(effectList); }
    const StructureData& structureData() const override { return structureData_; }
    void setStructureData(StructureData structureData) override { structureData_ = std::move(structureData); }
    void setIsEffectListLoaded(bool loaded) override { isEffectListLoaded_ = loaded; }
    QPushButton* savingToDeviceButton() override { return view_ ? view_->button() : nullptr; }
    void reloadEffectListRow(std::size_t row) override;
    void resetEffectPoolState() override;
    void reloadData() override;
    void reloadDataInEffectList() override;
    void reloadDataInEffectPool() override { view_->showPool(structureData_); }
    void validateRuler() override {}

private:
    // The window that shows the view may delete it first.
    QPointer<PlaceholderScreenView> view_;
    MainWindowController* mainController_ = nullptr;
    EffectItems effectList_;
    StructureData structureData_;
    bool isEffectListLoaded_ = false;
};
