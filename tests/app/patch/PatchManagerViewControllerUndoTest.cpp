#include <gtest/gtest.h>

#include <QApplication>
#include <QItemSelectionModel>
#include <QMouseEvent>

#include "app/controls/AutoClosePopover.h"
#include "app/controls/RightClickButton.h"
#include "app/controls/RightClickImageView.h"
#include "app/controls/UndoMenu.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "library/undo/SelectionAction.h"
#include "support/app/PatchScreenRig.h"

namespace {

using PatchScreenUndo = testing_app::PatchScreenRig;

TEST_F(PatchScreenUndo, TheStackReachesTheScreensHandlers)
{
    load(6);
    const auto former = patch("Former");
    undo.addActionStack(std::make_shared<DragFromPoolToListAction>(std::vector<UndoAction::Object>{former}, 2));
    undo.doUndoAction();
    EXPECT_EQ(names(), (std::vector<std::string>{"P0", "P1", "Former", "P3", "P4", "P5"}));
    EXPECT_NE(std::find(log.begin(), log.end(), "writeGroup 2"), log.end());
    EXPECT_FALSE(undo.canBeUndo());
}

TEST_F(PatchScreenUndo, ASelectionRecordSelectsItsRowsAgain)
{
    load(6);
    undo.addActionStack(std::make_shared<SelectionAction>(std::vector<std::int64_t>{4, 1}));
    undo.doUndoAction();
    QItemSelectionModel* selection = screen->patchManagerTableView()->selectionModel();
    EXPECT_EQ(selection->selectedRows().size(), 2);
    EXPECT_TRUE(selection->isRowSelected(1));
    EXPECT_TRUE(selection->isRowSelected(4));
    EXPECT_NE(std::find(log.begin(), log.end(), "selectPatchItem P1 1"), log.end());
}

void rightClick(QWidget& widget)
{
    const QPointF at(widget.width() / 2.0, widget.height() / 2.0);
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, widget.mapToGlobal(at), Qt::RightButton,
                          type == QEvent::MouseButtonPress ? Qt::RightButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
    }
}

TEST_F(PatchScreenUndo, TheArrowsOpenTheUndoPopoverWhoseButtonUndoes)
{
    load(6);
    screen->view()->resize(900, 700);
    screen->view()->show();
    screen->patchManagerTableView()->setUpCurrentSelectionWithIndexSet({1}, false);
    undo.addActionStack(std::make_shared<SelectionAction>(std::vector<std::int64_t>{3}));
    auto arrows = screen->view()->findChildren<RightClickImageView*>();
    ASSERT_EQ(arrows.size(), 3);
    for (RightClickImageView* view : arrows) {
        RightClickImageView::getMenuPopover()->close();
        rightClick(*view);
        EXPECT_TRUE(RightClickImageView::getMenuPopover()->isShown());
    }
    auto* menu = qobject_cast<UndoMenu*>(RightClickImageView::getMenuPopover()->contentWidget());
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(menu->undoButton()->isEnabled());
    menu->undoButton()->click();
    EXPECT_EQ(screen->patchManagerTableView()->selectedRows(), (std::vector<std::uint64_t>{3}));
    EXPECT_FALSE(RightClickImageView::getMenuPopover()->isShown());
}

TEST_F(PatchScreenUndo, BothMenusUndoButtonsUndoTheNewestEdit)
{
    load(6);
    undo.addActionStack(std::make_shared<SelectionAction>(std::vector<std::int64_t>{2}));
    undo.addActionStack(std::make_shared<SelectionAction>(std::vector<std::int64_t>{5}));
    screen->didClickOnUndoButtonAtIndex(*screen->patchManagerTableView(), 0);
    EXPECT_EQ(screen->patchManagerTableView()->selectedRows(), (std::vector<std::uint64_t>{5}));
    screen->didClickOnUndoButtonAtItem(screen->rightPanelOutlineView(), nullptr, nullptr);
    EXPECT_EQ(screen->patchManagerTableView()->selectedRows(), (std::vector<std::uint64_t>{2}));
    EXPECT_FALSE(undo.canBeUndo());
}

TEST_F(PatchScreenUndo, TheBackupButtonKeepsItsWhiteTitleAndSitsAtTheSeam)
{
    screen->view()->resize(1000, 700);
    screen->view()->show();
    QPushButton* button = screen->backUpAllOrRestoreAllButton();
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(button->palette().color(QPalette::Disabled, QPalette::ButtonText), QColor(Qt::white));
    QWidget* left = screen->patchManagerTableView()->parentWidget();
    for (const int width : {1000, 1300}) {
        screen->view()->resize(width, 700);
        QApplication::processEvents();
        EXPECT_EQ(button->x() + button->width() / 2, left->width());
    }
}

}  // namespace
