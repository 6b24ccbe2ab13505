#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main/MainWindowLogic.h"
#include "app/main/OptionMenuState.h"
#include "app/shell/AppDelegate.h"
#include "library/models/EffectItem.h"
#include "support/app/FakeEffectScreen.h"
#include "support/app/FakeMainNeighbours.h"
#include "support/app/FakePatchScreen.h"
#include "support/app/PoolNodes.h"
#include "support/app/TestApplication.h"
#include "support/files/TemporaryFolder.h"

namespace testing_app {

// The main window controller's decisions over fakes of everything around them: the coordinator, the
// dialogs and the chrome record into one log; the screens keep what they are given; posted work waits
// until the test runs it.
class MainWindowLogicRig : public ::testing::Test {
protected:
    MainWindowLogicRig() { std::filesystem::create_directories(folder.path() + "/QFXMacApplication"); }
    static std::shared_ptr<EffectItem> effect(std::uint32_t type, const std::string& name)
    {
        auto item = std::make_shared<EffectItem>();
        item->effectType = type;
        item->effectName = name;
        return item;
    }
    static std::shared_ptr<PatchItem> patch(const std::string& name) { return patchItem(name); }
    void awake(MainWindowLogic& target, const std::string& language = "en")
    {
        target.awakeFromNib({appDelegate, coordinator, dialogs, chrome, effects, patches, options, opener, nullptr,
                             [this](std::function<void()> work) { posted.push_back(std::move(work)); },
                             folder.path(), language, "https://example.test/history-en",
                             "https://example.test/history-ja", 3});
    }
    void awake() { awake(logic); }
    // The first device connection of the run, with the log emptied after it.
    void connect()
    {
        logic.deviceConnectWithState(1);
        log.clear();
    }
    void runPosted()
    {
        for (auto& task : std::exchange(posted, {})) task();
    }
    bool backUpAllEnabled() { return patches.backUpAllOrRestoreAllButton()->isEnabled(); }
    QApplication& application = testing_app::application();  // before any widget
    TemporaryFolder folder;
    CallLog log;
    AppDelegate appDelegate;
    FakeMainCoordinator coordinator{log};
    FakeMainDialogs dialogs{log};
    FakeMainWindowChrome chrome{log};
    FakeEffectScreen effects;
    FakePatchScreen patches;
    OptionMenuState options{folder.path() + "/QFXMacApplication/OptionMenuState.plist"};
    FakeHelpOpener opener;
    std::vector<std::function<void()>> posted;
    MainWindowLogic logic;
};

}  // namespace testing_app
