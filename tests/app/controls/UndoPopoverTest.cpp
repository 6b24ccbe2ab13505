#include <gtest/gtest.h>

#include <QSplitterHandle>
#include <QStyle>

#include "app/controls/AutoClosePopover.h"
#include "app/controls/ControlClick.h"
#include "app/controls/CustomLeftView.h"
#include "app/controls/CustomSplitView.h"
#include "app/controls/RightClickButton.h"
#include "app/controls/RightClickColorWell.h"
#include "app/controls/RightClickImageView.h"
#include "app/controls/UndoMenu.h"
#include "app/shell/AppDelegate.h"
#include "library/undo/SelectionAction.h"
#include "library/undo/UndoController.h"
#include "platform/notifications/NotificationCenter.h"
#include "support/app/Events.h"
#include "support/app/FakeShellNeighbours.h"
#include "support/app/TestApplication.h"

namespace {

using Pick = std::pair<Qt::MouseButton, Qt::KeyboardModifiers>;
const Pick kRight{Qt::RightButton, {}}, kCtrlLeft{Qt::LeftButton, Qt::ControlModifier}, kMetaLeft{Qt::LeftButton, Qt::MetaModifier};

void release(QWidget& widget, Pick pick) { testing_app::click(&widget, {4, 4}, pick.first, pick.second); }

class UndoPopover : public ::testing::Test {
protected:
    UndoPopover() { appDelegate.setMainController(&mainController); }
    ~UndoPopover() override { popover()->close(); }
    static AutoClosePopover* popover() { return RightClickImageView::getMenuPopover(); }
    UndoMenu* shownMenu() const
    {
        return popover()->isShown() ? qobject_cast<UndoMenu*>(popover()->contentWidget()) : nullptr;
    }
    // Whether `pick` on `widget` opens the menu, on the screen `state` with or without a dialog showing.
    bool opens(QWidget& widget, Pick pick, int state = 1, bool dialog = false)
    {
        popover()->close();
        mainController.state_ = state;
        appDelegate.setIsShowingDialog(dialog);
        release(widget, pick);
        return shownMenu() != nullptr;
    }
    void push(std::int64_t row) { undo.addActionStack(std::make_shared<SelectionAction>(std::vector<std::int64_t>{row})); }
    QApplication& app = testing_app::application();
    testing_app::CallLog log;
    testing_app::FakeMainWindowController mainController{log};
    AppDelegate appDelegate;
    platform::NotificationCenter center;
    UndoController undo{center, [] {}};
};

// The picture's right click (or Control-click) opens the popover on the patch screen only, never under a
// dialog; a plain or Shift left click opens nothing.
TEST_F(UndoPopover, OpensOnlyOnThePatchScreenAndNeverUnderADialog)
{
    RightClickImageView view(appDelegate, undo);
    view.resize(20, 20);
    const std::tuple<Pick, int, bool, bool> cases[] = {
        {kRight, 1, false, true},   {kRight, 0, false, false},    {kRight, 2, false, false},
        {kRight, 1, true, false},   {kCtrlLeft, 1, false, true},  {kMetaLeft, 1, false, true},
        {kCtrlLeft, 0, false, false}, {kCtrlLeft, 1, true, false}, {{Qt::LeftButton, {}}, 1, false, false},
        {{Qt::LeftButton, Qt::ShiftModifier}, 1, false, false},
    };
    for (const auto& [pick, state, dialog, expected] : cases) {
        SCOPED_TRACE(testing::Message() << pick.first << " " << pick.second.toInt() << " on " << state << " " << dialog);
        EXPECT_EQ(opens(view, pick, state, dialog), expected);
        EXPECT_TRUE(!expected || shownMenu()->delegate() == &view);
    }
}

TEST(ControlClick, TheRightButtonOrTheLeftWithControlIsARightClick)
{
    const std::tuple<Qt::MouseButton, Qt::KeyboardModifiers, bool, bool> cases[] = {
        {Qt::RightButton, Qt::NoModifier, false, true},     {Qt::RightButton, Qt::ShiftModifier, true, true},
        {Qt::LeftButton, Qt::NoModifier, false, false},     {Qt::LeftButton, Qt::ControlModifier, false, true},
        {Qt::LeftButton, Qt::ControlModifier, true, false}, {Qt::LeftButton, Qt::MetaModifier, true, true},
        {Qt::LeftButton, Qt::MetaModifier, false, true},    {Qt::LeftButton, Qt::ShiftModifier, false, false},
        {Qt::MiddleButton, Qt::ControlModifier, false, false},
    };
    for (const auto& [button, modifiers, ctrlSelects, right] : cases)
        EXPECT_EQ(ControlClick::isRightClick(button, modifiers, ctrlSelects), right) << button << " " << modifiers.toInt() << " " << ctrlSelects;
}

// A colour well opens no chooser, nor any other window, and takes no key; its right click or Control-click
// asks a picture of its own, placed nowhere, for the undo popover, which opens by the picture's rules. Each
// click takes a fresh picture, and the popover's Undo goes to the stack through it.
TEST_F(UndoPopover, AColourWellOpensNoChooserAndHandsItsRightClicksToTheUndoPopover)
{
    const auto shownWindows = [] {
        const QWidgetList all = QApplication::topLevelWidgets();
        return std::count_if(all.begin(), all.end(), [](const QWidget* top) { return top->isVisible(); });
    };
    RightClickColorWell well(appDelegate, undo);
    well.resize(44, 23);
    well.setColor(QColor(247, 148, 30));
    const auto before = shownWindows();
    EXPECT_FALSE(opens(well, {Qt::LeftButton, {}}));
    testing_app::key(&well, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QCoreApplication::processEvents();
    EXPECT_EQ(shownWindows(), before);
    EXPECT_EQ(well.rightClickImageView(), nullptr);
    EXPECT_EQ(well.color(), QColor(247, 148, 30));
    EXPECT_EQ(well.grab().toImage().pixelColor(22, 11), QColor(247, 148, 30));
    const RightClickImageView* last = nullptr;
    for (const Pick& pick : {kRight, kCtrlLeft, kMetaLeft}) {
        ASSERT_TRUE(opens(well, pick)) << pick.second.toInt();
        ASSERT_NE(well.rightClickImageView(), nullptr);
        EXPECT_NE(well.rightClickImageView(), last);
        EXPECT_EQ(shownMenu()->delegate(), well.rightClickImageView());
        last = well.rightClickImageView();
    }
    push(1);
    ASSERT_TRUE(opens(well, kRight));
    shownMenu()->didClickOnUndoButton();
    EXPECT_FALSE(undo.canBeUndo());
    EXPECT_FALSE(popover()->isShown());
    for (const auto& [state, dialog] : {std::pair{0, false}, std::pair{2, false}, std::pair{1, true}})
        EXPECT_FALSE(opens(well, kRight, state, dialog)) << state << dialog;
}

// The Undo button is offered by the stack, but not during a restore; it pops the newest edit and closes
// the popover, and does nothing under a dialog or once its view has gone.
TEST_F(UndoPopover, TheUndoButtonIsOfferedByTheStackAndUndoesTheNewestEdit)
{
    mainController.state_ = 1;
    auto view = std::make_unique<RightClickImageView>(appDelegate, undo);
    view->drawOptionMenu(QPoint(100, 100));
    ASSERT_NE(shownMenu(), nullptr);
    EXPECT_FALSE(shownMenu()->undoButton()->isEnabled());
    EXPECT_EQ(shownMenu()->undoButton()->text().toStdString(), "Undo");
    push(1);
    push(2);
    appDelegate.setIsRestoringAll(true);
    view->drawOptionMenu(QPoint(100, 100));
    EXPECT_FALSE(shownMenu()->undoButton()->isEnabled());
    appDelegate.setIsRestoringAll(false);
    view->drawOptionMenu(QPoint(100, 100));
    EXPECT_TRUE(shownMenu()->undoButton()->isEnabled());
    int undone = 0;
    const auto token = center.addObserver(UndoController::kSelectionInPatchList, nullptr, [&](const platform::Notification&) { ++undone; });
    RightClickButton* button = shownMenu()->undoButton();
    appDelegate.setIsShowingDialog(true);
    release(*button, kRight);
    EXPECT_EQ(undone, 0);
    appDelegate.setIsShowingDialog(false);
    release(*button, kRight);
    EXPECT_EQ(undone, 1);
    EXPECT_EQ(undo.actionStack().size(), 1u);
    EXPECT_FALSE(popover()->isShown());
    center.removeObserver(token);
    view->drawOptionMenu(QPoint(100, 100));
    UndoMenu* menu = shownMenu();
    ASSERT_NE(menu, nullptr);
    view.reset();
    EXPECT_EQ(menu->delegate(), nullptr);
    menu->didClickOnUndoButton();
    EXPECT_TRUE(undo.canBeUndo());
}

TEST(CustomLeftView, EveryPaneRunsItsOwnBlockOnEveryMoveAndResize)
{
    testing_app::application();
    CustomLeftView first, second;
    int firstCalls = 0, secondCalls = 0;
    first.onChangeFrame([&] { ++firstCalls; });
    second.onChangeFrame([&] { ++secondCalls; });
    first.resize(200, 100);
    first.show();
    second.resize(150, 100);
    second.show();
    const int afterShow = firstCalls;
    EXPECT_GT(afterShow, 0);
    EXPECT_GT(secondCalls, 0);
    first.resize(260, 100);
    EXPECT_EQ(firstCalls, afterShow + 1);
    first.move(first.pos() + QPoint(10, 0));
    QCoreApplication::processEvents();
    EXPECT_GE(firstCalls, afterShow + 2);
    // Without a block a change is ignored.
    CustomLeftView bare;
    bare.resize(10, 10);
    bare.boundsDidChangeNotification();
}

// The divider paints its colour, two points thick, and leaves the panes to their own style: a style sheet
// on the splitter would style every pane's widgets through the sheet's engine.
TEST(CustomSplitView, TheDividerPaintsItsColourAndLeavesThePanesToTheirOwnStyle)
{
    testing_app::application();
    CustomSplitView split(Qt::Horizontal);
    EXPECT_EQ(split.dividerThickness(), 2);
    auto* left = new QWidget;
    split.addWidget(left);
    split.addWidget(new QWidget);
    split.resize(100, 60);
    split.setSizes({49, 49});
    EXPECT_STRNE(left->style()->metaObject()->className(), "QStyleSheetStyle");
    const auto dividerPixel = [&] { return QColor(split.grab().toImage().pixel(split.handle(1)->geometry().center())); };
    EXPECT_EQ(dividerPixel(), CustomSplitView::dividerColor(Qt::Horizontal));
    EXPECT_EQ(dividerPixel(), QColor(128, 130, 133));
    split.setOrientation(Qt::Vertical);
    split.setSizes({29, 29});
    EXPECT_EQ(dividerPixel(), QColor(30, 45, 75));
}

}  // namespace
