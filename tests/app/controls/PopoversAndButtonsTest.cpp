#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QSplitterHandle>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTest>
#include <QVBoxLayout>

#include <map>

#include "app/controls/AutoClosePopover.h"
#include "app/controls/ControlClick.h"
#include "app/controls/CustomLeftView.h"
#include "app/controls/CustomSplitView.h"
#include "app/controls/RightClickButton.h"
#include "app/controls/RightClickColorWell.h"
#include "app/controls/RightClickImageView.h"
#include "app/controls/ScalingWidthTextField.h"
#include "app/controls/SubclassButtonCell.h"
#include "app/controls/TableRowChecks.h"
#include "app/controls/TableRowViewProvider.h"
#include "app/controls/UnchangeLayoutCell.h"
#include "app/controls/UnchangedTextColorButton.h"
#include "app/controls/UndoMenu.h"
#include "app/shell/AppDelegate.h"
#include "app/views/CustomTableRowView.h"
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

// A colour well opens no chooser: its right clicks go to the undo popover through a fresh picture each.
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

// A style sheet on the splitter would style every pane's widgets through the sheet's engine.
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

class ThemedButtons : public ::testing::Test {
protected:
    void SetUp() override { testing_app::application(); }
    void TearDown() override { AppDelegate::getInstance().setIsShowingDialog(false); }
};
using RowsAndPopover = ThemedButtons;

// Row views by row; a row without an entry has none.
struct RowViews : TableRowViewProvider {
    std::map<int, CustomTableRowView> views;
    const CustomTableRowView* rowViewForRow(int row) const override
    {
        const auto found = views.find(row);
        return found == views.end() ? nullptr : &found->second;
    }
    void add(int row, bool empty)
    {
        views[row].setRow(static_cast<std::uint64_t>(row));
        views[row].setIsEmptyRow(empty);
    }
};

struct ProvidingDelegate : QStyledItemDelegate, RowViews {};
struct ProvidingTable : QTableView, RowViews {};

TEST_F(RowsAndPopover, EmptyRowsAreOutsideTheTableWithoutARowViewOrMarkedEmpty)
{
    QStandardItemModel model(4, 1);
    ProvidingTable table;
    table.setModel(&model);
    table.add(0, false);
    table.add(1, true);
    table.add(2, false);
    for (const auto& [row, empty] : {std::pair{-1, true}, {0, false}, {1, true}, {2, false}, {3, true}, {4, true}, {1000, true}})
        EXPECT_EQ(TableRowChecks::checkEmptyRow(row, &table), empty) << row;
    // The item delegate's answer comes first, even when it has no row view.
    ProvidingDelegate delegate;
    delegate.add(0, true);
    table.setItemDelegate(&delegate);
    EXPECT_TRUE(TableRowChecks::checkEmptyRow(0, &table));
    EXPECT_TRUE(TableRowChecks::checkEmptyRow(2, &table));
    table.setItemDelegate(nullptr);
    QTableView plain;
    plain.setModel(&model);
    EXPECT_TRUE(TableRowChecks::checkEmptyRow(0, &plain));
    QStandardItemModel none(0, 1);
    plain.setModel(&none);
    EXPECT_TRUE(TableRowChecks::checkEmptyRow(0, &plain) && TableRowChecks::checkEmptyRow(0, nullptr));
}

TEST_F(RowsAndPopover, PopoverSitsCentredBelowThePointerAndInsideTheScreen)
{
    EXPECT_EQ(AutoClosePopover::frameAtPointer({500, 300}, {200, 80}), QRect(400, 301, 200, 80));
    const QRect screen(0, 0, 1000, 700);
    EXPECT_EQ(AutoClosePopover::frameAtPointer({500, 300}, {200, 80}, screen), QRect(400, 301, 200, 80));
    EXPECT_EQ(AutoClosePopover::frameAtPointer({30, 300}, {200, 80}, screen), QRect(0, 301, 200, 80));
    EXPECT_EQ(AutoClosePopover::frameAtPointer({990, 690}, {200, 80}, screen), QRect(800, 620, 200, 80));
}

TEST_F(RowsAndPopover, SharedPopoverClosesOnAPressOutsideAndSwapsItsContent)
{
    AutoClosePopover* popover = AutoClosePopover::getMenuPopover();
    ASSERT_NE(popover, nullptr);
    EXPECT_EQ(AutoClosePopover::getMenuPopover(), popover);
    QPointer<QLabel> first = new QLabel(QStringLiteral("Undo"));
    first->setFixedSize(120, 40);
    popover->setContentWidget(first);
    popover->showAtPointer({400, 300});
    EXPECT_TRUE(popover->isShown());
    EXPECT_EQ(std::pair(popover->geometry().left() + popover->width() / 2, popover->geometry().top()), std::pair(400, 301));
    QPointer<QLabel> second = new QLabel(QStringLiteral("Undo"));
    popover->setContentWidget(second);
    popover->showAtPointer({200, 100});
    EXPECT_EQ(popover->contentWidget(), second.data());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    testing_app::mouse(popover, QEvent::MouseButtonPress, {-10, -10});
    EXPECT_FALSE(popover->isShown());
    delete popover;
    AutoClosePopover* fresh = AutoClosePopover::getMenuPopover();
    EXPECT_NE(fresh, nullptr);
    EXPECT_FALSE(fresh->isShown());
}

TEST_F(RowsAndPopover, TheKeyboardGoesBackToTheViewTheMenuCameFrom)
{
    QWidget window;
    auto* view = new QTableView(&window);
    auto* editor = new QLineEdit(&window);
    view->setFocusPolicy(Qt::StrongFocus);
    ASSERT_TRUE(testing_app::activate(window));
    auto* popover = new AutoClosePopover(view);
    const auto openMenu = [&] {
        if (QWidget* focus = QApplication::focusWidget()) focus->clearFocus();
        popover->setContentWidget(new QLabel(QStringLiteral("Rename")));
        popover->showAtPointer(view->mapToGlobal(QPoint(20, 20)));
    };
    openMenu();
    popover->close();
    QCoreApplication::processEvents();
    // The window's own record: the offscreen platform does not make a window active again by itself.
    EXPECT_EQ(window.focusWidget(), view);
    openMenu();
    editor->setFocus();  // the choice opened an editor
    popover->close();
    QCoreApplication::processEvents();
    EXPECT_EQ(window.focusWidget(), editor);
}

TEST_F(ThemedButtons, EachButtonReleaseSendsItsActionOnceWhileEnabled)
{
    RightClickButton button(QStringLiteral("Undo"));
    button.resize(80, 24);
    int left = 0, right = 0;
    button.setAction([&] { ++left; });
    button.setRightAction([&] { ++right; });
    testing_app::click(&button);
    EXPECT_EQ(std::pair(left, right), std::pair(1, 0));
    testing_app::click(&button, {5, 5}, Qt::RightButton);
    EXPECT_EQ(std::pair(left, right), std::pair(1, 1));
    button.setEnabled(false);
    testing_app::click(&button);
    testing_app::click(&button, {5, 5}, Qt::RightButton);
    EXPECT_EQ(std::pair(left, right), std::pair(1, 1));
}

// A press on a menu button must not take the keys: its Undo must not commit the typed text first.
TEST_F(ThemedButtons, APressLeavesTheKeysWithTheTypingAndTabStillReachesTheButton)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* field = new QLineEdit(&window);
    auto* button = new RightClickButton(QStringLiteral("Undo"), &window);
    layout->addWidget(field);
    layout->addWidget(button);
    int clicks = 0;
    button->setAction([&] { ++clicks; });
    ASSERT_TRUE(testing_app::activate(window));
    field->setFocus(Qt::MouseFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), field);
    int lostFocus = 0;
    QObject::connect(field, &QLineEdit::editingFinished, [&] { ++lostFocus; });
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(QApplication::focusWidget(), field);
    EXPECT_EQ(lostFocus, 0);
    testing_app::key(field, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), button);
    testing_app::tap(button, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    EXPECT_EQ(clicks, 2);
}

TEST_F(ThemedButtons, TitleColoursFollowTheEnabledState)
{
    SubclassButtonCell cell(QStringLiteral("Save"));
    cell.setEnabled(false);
    EXPECT_EQ(cell.palette().color(QPalette::Disabled, QPalette::ButtonText), QColor(170, 170, 170));
    cell.setEnabled(true);
    EXPECT_EQ(cell.palette().color(QPalette::Active, QPalette::ButtonText), QColor(Qt::white));
    EXPECT_EQ(std::pair(UnchangedTextColorButton::titleColor(false, Qt::blue), UnchangedTextColorButton::titleColor(true, Qt::blue)),
              std::pair(QColor(Qt::white), QColor(Qt::blue)));
    UnchangedTextColorButton backup(QStringLiteral("Backup All"));
    backup.setEnabled(false);
    EXPECT_EQ(backup.palette().color(QPalette::Disabled, QPalette::ButtonText), QColor(Qt::white));
}

TEST_F(ThemedButtons, TitlesCentreOnTheButtonsHeightByTheirMeasuredHeight)
{
    const QRectF bounds(0, 0, 100, 40);
    const QRectF area(4, 4, 92, 32);
    EXPECT_EQ(UnchangeLayoutCell::centredTitleRect(area, bounds, 16), QRectF(4, 12, 92, 16));
    for (const qreal filling : {32, 50}) EXPECT_EQ(UnchangeLayoutCell::centredTitleRect(area, bounds, filling), area) << filling;
    EXPECT_EQ(UnchangeLayoutCell::centredTitleRect(area, bounds, 0), QRectF(4, 20, 92, 0));
    // Off the frame's origin, the centre is the frame's.
    EXPECT_EQ(UnchangeLayoutCell::centredTitleRect(QRectF(14, 24, 92, 32), QRectF(10, 20, 100, 40), 10),
              QRectF(14, 35, 92, 10));
    UnchangeLayoutCell button(QStringLiteral("Load"));
    button.resize(120, 60);
    const QRectF title = button.titleRectForBounds(QRectF(button.rect()));
    EXPECT_NEAR(title.center().y(), 30.0, 0.5);
    EXPECT_NEAR(title.height(), button.fontMetrics().height(), 2.0);
    // A title that wraps to several lines in a narrow frame is measured whole, and still centred.
    button.setText(QStringLiteral("a title long enough to wrap over several lines"));
    const QRectF wrapped = button.titleRectForBounds(QRectF(button.rect()));
    EXPECT_GT(wrapped.height(), 2 * button.fontMetrics().height() - 1);
    EXPECT_NEAR(wrapped.center().y(), 30.0, 0.5);
    button.setText(QString());
    EXPECT_EQ(button.titleRectForBounds(QRectF(button.rect())).height(), 0.0);
    // Drawn, the title's ink lies as far from the top as from the bottom.
    button.setText(QStringLiteral("Load"));
    QPalette colours = button.palette();
    colours.setColor(QPalette::ButtonText, Qt::black);
    for (const auto role : {QPalette::Button, QPalette::Window}) colours.setColor(role, Qt::white);
    button.setPalette(colours);
    button.setFlat(true);
    const QImage drawn = button.grab().toImage();
    int top = -1, bottom = -1;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 20; x < drawn.width() - 20; ++x)
            if (qGray(drawn.pixel(x, y)) < 100) {
                if (top < 0) top = y;
                bottom = y;
            }
    ASSERT_GE(top, 0);
    EXPECT_NEAR((top + bottom) / 2.0, 30.0, 3.0) << top << " " << bottom;
}

TEST_F(ThemedButtons, WrappedTextsSizeToTheirWidth)
{
    EXPECT_EQ(ScalingWidthTextField::wrappingBounds(true, QSizeF(200, 30)), QRectF(0, 0, 196, 10000));
    EXPECT_FALSE(ScalingWidthTextField::wrappingBounds(true, QSizeF(200, 1)) || ScalingWidthTextField::wrappingBounds(false, QSizeF(200, 30)));
    ScalingWidthTextField text(QStringLiteral("a text long enough to wrap over several lines at this width"));
    const QSize unwrapped = text.sizeHint();
    text.setWordWrap(true);
    text.resize(120, 20);
    const QSize wrapped = text.sizeHint();
    EXPECT_TRUE(wrapped.width() <= 116 && wrapped.height() > unwrapped.height()) << wrapped.width() << "x" << wrapped.height();
}

}  // namespace
