#pragma once

#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <string>
#include <vector>

#include "app/screens/EffectScreen.h"

namespace testing_app {

// An effect screen that keeps what it is given and records every call by name, for the main window
// controller's tests.
class FakeEffectScreen final : public EffectScreen {
public:
    std::vector<std::string> calls;
    MainWindowController* mainController = nullptr;
    bool isEffectListLoaded = false;
    ~FakeEffectScreen() override { delete view_; }
    QWidget* view() override { return view_; }
    void setMainController(MainWindowController* controller) override { mainController = controller; }
    void viewDidAppear() override { calls.push_back("viewDidAppear"); }
    EffectItems& effectList() override { return effectList_; }
    void setEffectList(EffectItems list) override { effectList_ = std::move(list); }
    const StructureData& structureData() const override { return structureData_; }
    void setStructureData(StructureData data) override { structureData_ = std::move(data); }
    void setIsEffectListLoaded(bool loaded) override
    {
        calls.push_back(loaded ? "setIsEffectListLoaded 1" : "setIsEffectListLoaded 0");
        isEffectListLoaded = loaded;
    }
    QPushButton* savingToDeviceButton() override { return &savingToDeviceButton_; }
    void reloadEffectListRow(std::size_t row) override { calls.push_back("reloadEffectListRow " + std::to_string(row)); }
    void resetEffectPoolState() override { calls.push_back("resetEffectPoolState"); }
    void reloadData() override { calls.push_back("reloadData"); }
    void reloadDataInEffectList() override { calls.push_back("reloadDataInEffectList"); }
    void reloadDataInEffectPool() override { calls.push_back("reloadDataInEffectPool"); }
    void validateRuler() override { calls.push_back("validateRuler"); }

private:
    QPointer<QWidget> view_ = new QWidget;  // a window showing it may delete it first
    QPushButton savingToDeviceButton_;
    EffectItems effectList_;
    StructureData structureData_;
};

}  // namespace testing_app
