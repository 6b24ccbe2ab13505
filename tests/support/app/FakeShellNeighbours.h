#pragma once

#include <QPointer>
#include <QWidget>

#include <string>
#include <vector>

#include "app/shell/CommonUtilsServices.h"
#include "app/shell/MainWindowController.h"

namespace testing_app {

// Records each call in one log, so a test sees their order across both fakes.
using CallLog = std::vector<std::string>;

class FakeCommonUtils final : public CommonUtilsServices {
public:
    explicit FakeCommonUtils(CallLog& log) : log_(log) {}
    void forceEjectDevice() override { log_.push_back("forceEjectDevice"); }
    void forceEjectDeviceNow() override { log_.push_back("forceEjectDeviceNow"); }
    void closeAppWithin(std::chrono::milliseconds limit) override
    {
        log_.push_back("closeAppWithin " + std::to_string(limit.count()));
    }
    std::optional<std::string> keepUnsavedPatchPool() override
    {
        log_.push_back("keepUnsavedPatchPool");
        return keeps ? std::nullopt : std::optional<std::string>("no space");
    }
    // Whether the unsaved pool can be kept.
    bool keeps = true;

private:
    CallLog& log_;
};

class FakeMainWindowController final : public MainWindowController {
public:
    explicit FakeMainWindowController(CallLog& log);
    ~FakeMainWindowController() override;
    QWidget* view() override { return view_; }
    QWidget* viewForIndicator() override { return indicator_; }
    int state() const override { return state_; }
    void setReloadBufferDataTimer() override { log_.push_back("setReloadBufferDataTimer"); }
    // Why the save fails, when a test makes it fail.
    std::optional<std::string> saveFailure;
    std::optional<std::string> saveDataBeforeClosing() override
    {
        log_.push_back("saveDataBeforeClosing");
        return saveFailure;
    }
    int state_ = 2;

private:
    CallLog& log_;
    QPointer<QWidget> view_;  // the main window takes it over
    QWidget* indicator_;
};

}  // namespace testing_app
