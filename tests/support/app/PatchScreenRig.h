#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/patch/PatchManagerViewController.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/MainWindowController.h"
#include "library/models/BankItem.h"
#include "library/undo/UndoController.h"
#include "platform/notifications/NotificationCenter.h"
#include "support/app/FakePatchNeighbours.h"
#include "support/app/FakeShellNeighbours.h"
#include "support/app/PoolNodes.h"
#include "support/app/TestApplication.h"

namespace testing_app {

// The main window controller as the patch screen reaches it: the re-armed reload and the effect list's.
class PatchMainController final : public MainWindowController {
public:
    explicit PatchMainController(CallLog& log) : log_(log) {}
    QWidget* view() override { return nullptr; }
    QWidget* viewForIndicator() override { return nullptr; }
    int state() const override { return 1; }
    void setReloadBufferDataTimer() override { log_.push_back("setReloadBufferDataTimer"); }
    std::optional<std::string> saveDataBeforeClosing() override { return std::nullopt; }
    void reloadEffectListIfNeeded() override { log_.push_back("reloadEffectListIfNeeded"); }

private:
    CallLog& log_;
};

// The patch screen over fakes of the coordinator and the dialogs, the undo stack on a centre of its own
// and a main window controller that logs the re-armed reload; every call lands in one log.
class PatchScreenRig : public ::testing::Test {
protected:
    PatchScreenRig()
    {
        appDelegate.setMainController(&mainController);
        screen->setMainController(&mainController);
    }
    static std::shared_ptr<PatchItem> patch(const std::string& name, const std::string& comment = {})
    {
        return patchItem(name, comment);
    }
    // `count` slots labelled "1-1", "1-2", ... with `perBank` slots per bank, patches "P0", "P1", ...
    void load(std::size_t count, int perBank = 5)
    {
        PatchScreen::PatchItems patches;
        PatchScreen::BankItems banks;
        for (std::size_t i = 0; i < count; ++i) {
            patches.push_back(patch("P" + std::to_string(i), "C" + std::to_string(i)));
            auto bank = std::make_shared<BankItem>();
            bank->bankName = label(i, perBank);
            banks.push_back(bank);
        }
        screen->setNumberOfSlotsInBlank(perBank);
        screen->setPatchItems(std::move(patches));
        screen->setBankItems(std::move(banks));
        screen->setIsPatchListLoaded(true);
        screen->reloadDataInPatchList();
        log.clear();
    }
    static std::string label(std::size_t slot, int perBank)
    {
        return std::to_string(slot / static_cast<std::size_t>(perBank) + 1) + "-" +
               std::to_string(slot % static_cast<std::size_t>(perBank) + 1);
    }
    std::vector<std::string> names() const
    {
        std::vector<std::string> result;
        for (const auto& item : screen->patchItems()) result.push_back(item ? item->patchName : "-");
        return result;
    }
    // Made before any widget.
    QApplication& app = application();
    CallLog log;
    AppDelegate appDelegate;
    PatchMainController mainController{log};
    FakePatchCoordinator coordinator{log};
    FakePatchDialogs dialogs{log};
    platform::NotificationCenter center;
    UndoController undo{center, [] {}};
    TextRuleContext textRules{"en", {}, [this](const std::string& text) { log.push_back("rule " + text); },
                              [](const std::string& key) { return key; }};
    std::unique_ptr<PatchManagerViewController> screen = std::make_unique<PatchManagerViewController>(
        PatchManagerViewController::Collaborators{appDelegate, coordinator, undo, center, dialogs, textRules, 0});
};

}  // namespace testing_app
