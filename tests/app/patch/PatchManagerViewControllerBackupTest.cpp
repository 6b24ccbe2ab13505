#include <gtest/gtest.h>

#include <QPushButton>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>

#include <functional>

#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "library/models/DirectoryObject.h"
#include "support/app/PatchScreenRig.h"

namespace {

using PatchScreenBackup = testing_app::PatchScreenRig;

// Runs the event loop until `done` holds or `milliseconds` have passed; answers `done`.
bool runUntil(const std::function<bool()>& done, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

std::shared_ptr<DirectoryObject> backupGroup(const std::string& name, std::size_t children)
{
    auto group = std::make_shared<DirectoryObject>();
    group->name = name;
    group->isGroup = group->isBackUpAllGroup = true;
    for (std::size_t i = 0; i < children; ++i) {
        auto node = std::make_shared<DirectoryObject>();
        node->name = "B" + std::to_string(i);
        auto item = std::make_shared<PatchItem>();
        item->patchName = *node->name;
        node->object = item;
        group->childDirectories.push_back(node);
    }
    return group;
}

TEST_F(PatchScreenBackup, BackupAllSelectsTheNewGroupAndTheButtonComesBack)
{
    appDelegate.setDeviceConnected(true);
    load(3);
    screen->setStructureData({backupGroup("Old", 1)});
    screen->reloadDataInPatchPool();
    screen->setBackupClock([] { return std::chrono::system_clock::from_time_t(0); });
    screen->backUpButtonClick();
    ASSERT_EQ(screen->structureData().size(), 2u);
    const auto& group = screen->structureData()[1];
    EXPECT_TRUE(appDelegate.isPatchPoolChanged());
    PatchPoolOutlineView* pool = screen->rightPanelOutlineView();
    ASSERT_EQ(pool->selectedRowList(), (std::vector<int>{1}));
    EXPECT_EQ(pool->poolModel()->nodeAt(pool->indexForRow(1)), group);
    EXPECT_FALSE(screen->backUpAllOrRestoreAllButton()->isEnabled());
    EXPECT_TRUE(runUntil([&] { return screen->backUpAllOrRestoreAllButton()->isEnabled(); }, 5000));
}

TEST_F(PatchScreenBackup, TheButtonStaysOffOnceTheDeviceHasGone)
{
    appDelegate.setDeviceConnected(true);
    load(2);
    screen->backUpButtonClick();
    appDelegate.setDeviceConnected(false);
    runUntil([] { return false; }, 300);
    EXPECT_FALSE(screen->backUpAllOrRestoreAllButton()->isEnabled());
}

TEST_F(PatchScreenBackup, RestoreNeedsExactlyOneSelectedPoolRow)
{
    appDelegate.setDeviceConnected(true);
    load(4);
    screen->setStructureData({backupGroup("A", 2), backupGroup("B", 2)});
    screen->reloadDataInPatchPool();
    PatchPoolOutlineView* pool = screen->rightPanelOutlineView();
    pool->selectRows({0, 1});
    screen->setIsRestoreAllMode(true);
    screen->backUpButtonClick();
    EXPECT_EQ(names(), (std::vector<std::string>{"P0", "P1", "P2", "P3"}));
    EXPECT_TRUE(screen->numberOfRestoredDictionaryArray().empty());

    pool->selectRows({1});
    screen->setIsRestoreAllMode(true);
    screen->backUpButtonClick();
    EXPECT_EQ(names(), (std::vector<std::string>{"B0", "B1", "P2", "P3"}));
    EXPECT_EQ(screen->numberOfRestoredDictionaryArray().size(), 1u);
    // The list stays locked until the unit has taken the whole list.
    EXPECT_TRUE(appDelegate.isRestoringAll());
    EXPECT_TRUE(screen->patchManagerTableView()->lockTableView());
}

// The first click backs up and turns the button into Restore All of the new group; the second click of a
// double click, by mouse or by Space, must not rewrite the unit's every slot with it.
TEST_F(PatchScreenBackup, ADoubleClickOnBackUpAllNeverRestores)
{
    appDelegate.setDeviceConnected(true);
    for (const bool keyboard : {false, true}) {
        SCOPED_TRACE(keyboard ? "Tab, Space, Space" : "double click");
        load(4);
        screen->setStructureData({});
        screen->reloadDataInPatchPool();
        screen->view()->show();
        screen->setEnableBackupAllButton(true);
        QPushButton* button = screen->backUpAllOrRestoreAllButton();
        const auto click = [&] {
            if (keyboard) {
                button->setFocus(Qt::TabFocusReason);
                for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
                    QKeyEvent key(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
                    QApplication::sendEvent(button, &key);
                }
            } else {
                const QPointF at = QRectF(button->rect()).center();
                for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
                    QMouseEvent mouse(type, at, button->mapToGlobal(at), Qt::LeftButton,
                                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
                    QApplication::sendEvent(button, &mouse);
                }
            }
        };
        click();
        ASSERT_EQ(screen->structureData().size(), 1u);
        ASSERT_TRUE(runUntil([&] { return button->isEnabled(); }, 5000));
        ASSERT_TRUE(screen->isRestoreAllMode());
        click();
        EXPECT_TRUE(screen->numberOfRestoredDictionaryArray().empty());
        EXPECT_FALSE(appDelegate.isRestoringAll());
        // Once the double click is over the button restores as asked.
        runUntil([] { return false; }, QApplication::doubleClickInterval());
        click();
        EXPECT_EQ(screen->numberOfRestoredDictionaryArray().size(), 1u);
        appDelegate.setIsRestoringAll(false);
        screen->numberOfRestoredDictionaryArray().clear();
        screen->setlockPatchList(false);
    }
}

}  // namespace
