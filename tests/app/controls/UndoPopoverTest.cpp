#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QSplitterHandle>
#include <QStyle>

#include <utility>

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
#include "support/app/FakeShellNeighbours.h"
#include "support/app/TestApplication.h"

namespace {

void release(QWidget& widget, Qt::MouseButton button, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QPointF at(4, 4);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget.mapToGlobal(at), button, button, modifiers);
    QCoreApplication::sendEvent(&widget, &press);
    QMouseEvent up(QEvent::MouseButtonRelease, at, widget.mapToGlobal(at), button, Qt::NoButton, modifiers);
    QCoreApplication::sendEvent(&widget, &up);
}

class UndoPopover : public ::testing::Test {
protected:
    UndoPopover() { appDelegate.setMainController(&mainController); }
    ~UndoPopover() override { RightClickImageView::getMenuPopover()->close(); }

    UndoMenu* shownMenu() const
    {
        AutoClosePopover* popover = RightClickImageView::getMenuPopover();
        return popover->isShown() ? qobject_cast<UndoMenu*>(popover->contentWidget()) : nullptr;
    }

    QApplication& app = testing_app::application();
    testing_app::CallLog log;
    testing_app::FakeMainWindowController mainController{log};
    AppDelegate appDelegate;
    platform::NotificationCenter center;
    UndoController undo{center, [] {}};
};

TEST_F(UndoPopover, OpensOnlyOnThePatchScreenAndNeverUnderADialog)
{
    struct Case {
        int windowState;
        bool dialog;
        bool opens;
    };
    const Case cases[] = {{1, false, true}, {0, false, false}, {2, false, false}, {1, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.windowState * 10 + c.dialog);
        RightClickImageView::getMenuPopover()->close();
        mainController.state_ = c.windowState;
        appDelegate.setIsShowingDialog(c.dialog);
        RightClickImageView view(appDelegate, undo);
        view.resize(20, 20);
        release(view, Qt::RightButton);
        EXPECT_EQ(shownMenu() != nullptr, c.opens);
        EXPECT_EQ(RightClickImageView::opensUndoMenu(c.dialog, c.windowState), c.opens);
    }
}

TEST(ControlClick, TheRightButtonOrTheLeftWithControlIsARightClick)
{
    struct Case {
        Qt::MouseButton button;
        Qt::KeyboardModifiers modifiers;
        bool ctrlSelects;
        bool right;
    };
    const Case cases[] = {
        {Qt::RightButton, Qt::NoModifier, false, true},   {Qt::RightButton, Qt::ShiftModifier, true, true},
        {Qt::LeftButton, Qt::NoModifier, false, false},   {Qt::LeftButton, Qt::ControlModifier, false, true},
        {Qt::LeftButton, Qt::ControlModifier, true, false}, {Qt::LeftButton, Qt::MetaModifier, true, true},
        {Qt::LeftButton, Qt::MetaModifier, false, true},  {Qt::LeftButton, Qt::ShiftModifier, false, false},
        {Qt::MiddleButton, Qt::ControlModifier, false, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ControlClick::isRightClick(c.button, c.modifiers, c.ctrlSelects), c.right)
            << c.button << " " << c.modifiers.toInt() << " " << c.ctrlSelects;
}

TEST_F(UndoPopover, APlainLeftClickOpensNothingAndAControlClickIsARightClick)
{
    mainController.state_ = 1;
    RightClickImageView view(appDelegate, undo);
    view.resize(20, 20);
    release(view, Qt::LeftButton);
    release(view, Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(shownMenu(), nullptr);
    for (const Qt::KeyboardModifier control : {Qt::ControlModifier, Qt::MetaModifier}) {
        RightClickImageView::getMenuPopover()->close();
        release(view, Qt::LeftButton, control);
        ASSERT_NE(shownMenu(), nullptr) << control;
        EXPECT_EQ(shownMenu()->delegate(), &view);
    }
    // As a right click, not on the effect screen nor under a dialog.
    RightClickImageView::getMenuPopover()->close();
    mainController.state_ = 0;
    release(view, Qt::LeftButton, Qt::ControlModifier);
    mainController.state_ = 1;
    appDelegate.setIsShowingDialog(true);
    release(view, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(shownMenu(), nullptr);
}

// A colour well opens no chooser and takes no key; its right click or Control-click asks a picture of its
// own, placed nowhere, for the undo popover, which opens by the picture's rules: on the patch screen only,
// never under a dialog. Each click takes a fresh picture.
TEST_F(UndoPopover, AColourWellOpensNoChooserAndHandsItsRightClicksToTheUndoPopover)
{
    mainController.state_ = 1;
    RightClickColorWell well(appDelegate, undo);
    well.resize(44, 23);
    well.setColor(QColor(247, 148, 30));
    release(well, Qt::LeftButton);
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QCoreApplication::sendEvent(&well, &space);
    EXPECT_EQ(shownMenu(), nullptr);
    EXPECT_EQ(well.rightClickImageView(), nullptr);
    EXPECT_EQ(well.color(), QColor(247, 148, 30));
    EXPECT_EQ(well.grab().toImage().pixelColor(22, 11), QColor(247, 148, 30));

    const RightClickImageView* last = nullptr;
    for (const auto& [button, modifiers] : {std::pair{Qt::RightButton, Qt::KeyboardModifiers()},
                                            std::pair{Qt::LeftButton, Qt::KeyboardModifiers(Qt::ControlModifier)},
                                            std::pair{Qt::LeftButton, Qt::KeyboardModifiers(Qt::MetaModifier)}}) {
        RightClickImageView::getMenuPopover()->close();
        release(well, button, modifiers);
        ASSERT_NE(shownMenu(), nullptr) << modifiers.toInt();
        ASSERT_NE(well.rightClickImageView(), nullptr);
        EXPECT_NE(well.rightClickImageView(), last);
        EXPECT_EQ(shownMenu()->delegate(), well.rightClickImageView());
        last = well.rightClickImageView();
    }
    // The popover's Undo goes to the stack through the well's picture.
    undo.addActionStack(std::make_shared<SelectionAction>(std::vector<std::int64_t>{1}));
    RightClickImageView::getMenuPopover()->close();
    release(well, Qt::RightButton);
    ASSERT_NE(shownMenu(), nullptr);
    shownMenu()->didClickOnUndoButton();
    EXPECT_FALSE(undo.canBeUndo());
    EXPECT_FALSE(RightClickImageView::getMenuPopover()->isShown());

    for (const auto& [state, dialog] : {std::pair{0, false}, std::pair{2, false}, std::pair{1, true}}) {
        mainController.state_ = state;
        appDelegate.setIsShowingDialog(dialog);
        release(well, Qt::RightButton);
        EXPECT_EQ(shownMenu(), nullptr) << state << dialog;
    }
}

TEST_F(UndoPopover, TheUndoButtonIsOfferedByTheStackAndTheRestore)
{
    EXPECT_TRUE(UndoMenu::isUndoEnabled(true, false));
    EXPECT_FALSE(UndoMenu::isUndoEnabled(false, false));
    EXPECT_FALSE(UndoMenu::isUndoEnabled(true, true));

    mainController.state_ = 1;
    RightClickImageView view(appDelegate, undo);
    view.drawOptionMenu(QPoint(100, 100));
    ASSERT_NE(shownMenu(), nullptr);
    EXPECT_FALSE(shownMenu()->undoButton()->isEnabled());
    EXPECT_EQ(shownMenu()->undoButton()->text().toStdString(), "Undo");

    undo.addActionStack(std::make_shared<SelectionAction>(std::vector<std::int64_t>{1}));
    appDelegate.setIsRestoringAll(true);
    view.drawOptionMenu(QPoint(100, 100));
    EXPECT_FALSE(shownMenu()->undoButton()->isEnabled());
    appDelegate.setIsRestoringAll(false);
    view.drawOptionMenu(QPoint(100, 100));
    EXPECT_TRUE(shownMenu()->undoButton()->isEnabled());
}

TEST_F(UndoPopover, UndoPopsTheNewestEditAndClosesThePopover)
{
    int undone = 0;
    const auto token = center.addObserver(UndoController::kSelectionInPatchList, nullptr,
                                          [&](const platform::Notification&) { ++undone; });
    undo.addActionStack(std::make_shared<SelectionAction>(std::vector<std::int64_t>{1}));
    undo.addActionStack(std::make_shared<SelectionAction>(std::vector<std::int64_t>{2}));
    mainController.state_ = 1;
    RightClickImageView view(appDelegate, undo);
    view.drawOptionMenu(QPoint(100, 100));
    ASSERT_NE(shownMenu(), nullptr);
    RightClickButton* button = shownMenu()->undoButton();

    // Refused under a dialog.
    appDelegate.setIsShowingDialog(true);
    release(*button, Qt::RightButton);
    EXPECT_EQ(undone, 0);
    appDelegate.setIsShowingDialog(false);

    release(*button, Qt::RightButton);
    EXPECT_EQ(undone, 1);
    EXPECT_EQ(undo.actionStack().size(), 1u);
    EXPECT_FALSE(RightClickImageView::getMenuPopover()->isShown());
    center.removeObserver(token);
}

TEST_F(UndoPopover, AMenuOutlivingItsViewUndoesNothing)
{
    undo.addActionStack(std::make_shared<SelectionAction>(std::vector<std::int64_t>{1}));
    mainController.state_ = 1;
    auto view = std::make_unique<RightClickImageView>(appDelegate, undo);
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
    CustomLeftView first;
    CustomLeftView second;
    int firstCalls = 0;
    int secondCalls = 0;
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

TEST(CustomSplitView, DividerColoursAndThickness)
{
    testing_app::application();
    EXPECT_EQ(CustomSplitView::dividerColor(Qt::Horizontal), QColor(128, 130, 133));
    EXPECT_EQ(CustomSplitView::dividerColor(Qt::Vertical), QColor(30, 45, 75));
    CustomSplitView split(Qt::Horizontal);
    EXPECT_EQ(split.dividerThickness(), 2);
}

TEST(CustomSplitView, TheDividerPaintsItsColourAndLeavesThePanesToTheirOwnStyle)
{
    testing_app::application();
    CustomSplitView split(Qt::Horizontal);
    auto* left = new QWidget;
    auto* right = new QWidget;
    split.addWidget(left);
    split.addWidget(right);
    split.resize(100, 60);
    split.setSizes({49, 49});
    // A style sheet on the splitter would style every pane's widgets through the sheet's engine.
    EXPECT_STRNE(left->style()->metaObject()->className(), "QStyleSheetStyle");
    const auto dividerPixel = [&] {
        QSplitterHandle* handle = split.handle(1);
        const QImage image = split.grab().toImage();
        const QPoint middle = handle->geometry().center();
        return QColor(image.pixel(middle));
    };
    EXPECT_EQ(dividerPixel(), CustomSplitView::dividerColor(Qt::Horizontal));
    split.setOrientation(Qt::Vertical);
    split.setSizes({29, 29});
    EXPECT_EQ(dividerPixel(), CustomSplitView::dividerColor(Qt::Vertical));
}

}  // namespace
