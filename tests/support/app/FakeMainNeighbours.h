#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/main/HelpOpener.h"
#include "app/main/MainCoordinator.h"
#include "app/main/MainDialogs.h"
#include "app/main/MainWindowChrome.h"
#include "support/app/FakeShellNeighbours.h"

namespace testing_app {

// The coordinator as the main window controller sees it; every call goes into the log by name.
class FakeMainCoordinator final : public MainCoordinator {
public:
    explicit FakeMainCoordinator(CallLog& log) : log_(log) {}
    CommonUtilsDelegate* delegate = nullptr;
    bool undoable = false;
    int slotsInBank = 0;
    std::string deviceVersion;
    QImage deviceImage;
    void setDelegate(CommonUtilsDelegate* d) override { delegate = d, log_.push_back("setDelegate"); }
    void syncEffect() override { log_.push_back("syncEffect"); }
    void requestServerConnected() override { log_.push_back("requestServerConnected"); }
    void connectDevice() override { log_.push_back("connectDevice"); }
    void ejectDeviceWithPatchList(const PatchItems&) override { log_.push_back("ejectDevice"); }
    void closeApp() override { log_.push_back("closeApp"); }
    void removeDeviceDataFolder() override { log_.push_back("removeDeviceDataFolder"); }
    // Held, as the coordinator decodes the picture off the main thread; `answerDeviceImages` hands the
    // picture as it is then to every ask in order.
    void getImageDevice(std::function<void(QImage)> done) override { imageAsks.push_back(std::move(done)); }
    void answerDeviceImages()
    {
        for (auto& done : std::exchange(imageAsks, {})) done(deviceImage);
    }
    std::vector<std::function<void(QImage)>> imageAsks;
    int getNumberOfSlotsInBank() override { return slotsInBank; }
    std::string getDeviceVersion() override { return deviceVersion; }
    void updateDirectoryObjectForPatchPool(const Tree&) override { log_.push_back("updateDirectoryObjectForPatchPool"); }
    void createPatchDirectoryObjectFromLocal() override { log_.push_back("createPatchDirectoryObjectFromLocal"); }
    std::optional<std::string> savePatchPoolToLocal(const Tree&) override
    {
        log_.push_back("savePatchPoolToLocal");
        return std::nullopt;
    }
    void writeFilePatchWithPath(const std::string& path, const std::string& toPath, bool replace, bool) override
    {
        log_.push_back("writeFilePatch " + path + " > " + toPath + (replace ? " replace" : " keep"));
    }
    bool canBeUndo() override { return undoable; }
    void doUndoAction() override { log_.push_back("doUndoAction"); }
    void clearUndoStack() override { log_.push_back("clearUndoStack"); }
    // While set, the pool's reads or copies are under way: steps asked to come after them wait here.
    bool poolWorkPending = false;
    std::vector<std::function<void()>> afterPoolWorkSteps;
    bool isPoolWorkPending() override { return poolWorkPending; }
    void afterPoolWork(std::function<void()> then) override
    {
        if (!poolWorkPending) return then();
        afterPoolWorkSteps.push_back(std::move(then));
    }
    // The pool's work has landed: the steps waiting for it run, in order.
    void landPoolWork()
    {
        poolWorkPending = false;
        for (auto& step : std::exchange(afterPoolWorkSteps, {})) step();
    }

private:
    CallLog& log_;
};

// The dialogs by key; the completions and the alert's answers are kept for the test to run.
class FakeMainDialogs final : public MainDialogs {
public:
    explicit FakeMainDialogs(CallLog& log) : log_(log) {}
    std::vector<Action> completions;
    Action keepBoth, replace, unanswered;
    std::vector<std::vector<UpdatedEffect>> updateSheets;
    void showInformation(const std::string& key, const std::optional<std::string>& argument, Action completion) override
    {
        log_.push_back("info " + key + (argument ? " " + *argument : std::string()));
        if (completion) completions.push_back(std::move(completion));
    }
    void clearAllDialog() override { log_.push_back("clearAllDialog"); }
    void showEffectUpdateSheet(const std::vector<UpdatedEffect>& items) override
    {
        log_.push_back("updateSheet " + std::to_string(items.size()));
        updateSheets.push_back(items);
    }
    void showDuplicatingFileNameAlert(const std::string& fileName, Action keep, Action replaceAction,
                                      Action unansweredAction) override
    {
        log_.push_back("duplicateAlert " + fileName);
        keepBoth = std::move(keep);
        replace = std::move(replaceAction);
        unanswered = std::move(unansweredAction);
    }

private:
    CallLog& log_;
};

// The window's header and footer as plain state.
class FakeMainWindowChrome final : public MainWindowChrome {
public:
    explicit FakeMainWindowChrome(CallLog& log) : log_(log) {}
    std::string title;
    int screen = -1;
    bool hasDeviceImage = false;
    std::string deviceName = "?", deviceVersion = "?";
    unsigned memory = 99;
    bool memoryVisible = true;
    bool serverSync = true, deviceSync = true, lostServer = false;
    std::string deviceWork;
    std::vector<std::size_t> frames;
    bool applicationCheck = false, deviceCheck = false;
    int terminated = 0;
    void setTitle(const std::string& t) override { title = t; }
    void setTabPictures(int) override {}
    void showScreen(int state) override { screen = state, log_.push_back("showScreen " + std::to_string(state)); }
    void setDeviceImage(const QImage& image) override { hasDeviceImage = !image.isNull(); }
    void setDeviceProperty(const std::string& name, const std::string& version) override
    {
        deviceName = name, deviceVersion = version;
    }
    void showDeviceProperty() override { log_.push_back("showDeviceProperty"); }
    void setMemory(unsigned value, bool visible) override { memory = value, memoryVisible = visible; }
    void setServerSyncIconVisible(bool visible) override { serverSync = visible; }
    void setDeviceSyncIconVisible(bool visible) override { deviceSync = visible; }
    void setDeviceWorkText(const std::string& text) override { deviceWork = text; }
    void setLostServerIconVisible(bool visible) override { lostServer = visible; }
    void setSyncIconFrame(std::size_t frame) override { frames.push_back(frame); }
    void setCheckMarks(bool app, bool device) override { applicationCheck = app, deviceCheck = device; }
    void showVersionWindow() override { log_.push_back("showVersionWindow"); }
    void showLicenseWindow() override { log_.push_back("showLicenseWindow"); }
    void refreshMenus() override {}
    bool inputHeld = false;
    void holdUserInput(bool held) override { inputHeld = held; }
    void terminate() override { ++terminated; }
    void endTextEditing() override { log_.push_back("endTextEditing"); }

private:
    CallLog& log_;
};

class FakeHelpOpener final : public HelpOpener {
public:
    std::vector<std::string> opened;
    void openFile(const std::string& path) override { opened.push_back("file " + path); }
    void openUrl(const std::string& url) override { opened.push_back("url " + url); }
};

}  // namespace testing_app
