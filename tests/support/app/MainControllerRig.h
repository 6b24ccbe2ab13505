#pragma once

#include <gtest/gtest.h>

#include <QAction>

#include <chrono>
#include <filesystem>
#include <memory>

#include "app/dialogs/ShowingDialogQueue.h"
#include "app/main/QFXMainController.h"
#include "app/effect/EffectManagerViewController.h"
#include "app/effect/EffectUpdateView.h"
#include "support/app/PlainPatchScreen.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/MainWindow.h"
#include "support/app/FakeEffectNeighbours.h"
#include "support/app/FakeMainNeighbours.h"
#include "support/app/TestApplication.h"
#include "support/files/TemporaryFolder.h"

namespace testing_app {

// The real main window controller with the real effect screen, a plain patch screen and a real dialog queue, in a main
// window, over a fake coordinator.
class MainControllerRig : public ::testing::Test {
protected:
    using Action = MainWindowLogic::MenuAction;
    MainControllerRig()
    {
        window.setContentView(controller.view());
        appDelegate.setMainWindow(&window);
    }
    ~MainControllerRig() override { appDelegate.setMainWindow(nullptr); }
    bool enabled(Action action) const { return controller.menuAction(action)->isEnabled(); }
    // Lets posted work and the dialog queue run.
    void settle() { processEventsUntil([] { return false; }, std::chrono::milliseconds(50)); }
    QApplication& application = testing_app::application();  // before any widget
    TemporaryFolder folder;
    CallLog log;
    AppDelegate appDelegate;
    ShowingDialogQueue dialogQueue{appDelegate};
    FakeMainCoordinator coordinator{log};
    FakeEffectCoordinator effectCoordinator{log};
    FakeEffectDialogs effectDialogs{log};
    FakeHelpOpener opener;
    MainWindow window;
    QFXMainController controller{{appDelegate, coordinator, dialogQueue, opener,
                                  std::make_unique<EffectManagerViewController>(
                                      EffectManagerViewController::Collaborators{appDelegate, effectCoordinator,
                                                                                 effectDialogs}),
                                  std::make_unique<PlainPatchScreen>(),
                                  std::filesystem::path(folder.path()) / "OptionMenuState.plist", "1.0.0", "", "en",
                                  "", "", [] { return new EffectUpdateView; }, {}}};
};

}  // namespace testing_app
