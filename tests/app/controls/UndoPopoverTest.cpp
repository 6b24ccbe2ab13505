#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QSplitterHandle>
#include <QStyle>

#include "app/controls/AutoClosePopover.h"
#include "app/controls/CustomLeftView.h"
#include "app/controls/CustomSplitView.h"
#include "app/controls/RightClickButton.h"
#include "app/controls/RightClickImageView.h"
#include "app/controls/UndoMenu.h"
#include "app/shell/AppDelegate.h"
#include "library/undo/SelectionAction.h"
#include "library/undo/UndoController.h"
#include "platform/notifications/NotificationCenter.h"
#include "support/app/FakeShellNeighbours.h"
#include "support/app/TestApplication.h"

namespace {

void release(QWidget& widget, Qt::MouseButton button)
{
    const QPointF at(4, 4);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget.mapToGlobal(at), button, button, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &press);
    QMouseEvent up(QEvent::MouseButtonRelease, at, widget.mapToGlobal(at), button, Qt::NoButton, Qt::NoModifier);
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

TEST_F(UndoPopover, ALeftClickOpensNothing)
{
    mainController.state_ = 1;
    RightClickImageView view(appDelegate, undo);
    view.resize(20, 20);
    release(view, Qt::LeftButton);
    EXPECT_EQ(shownMenu(), nullptr);
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
