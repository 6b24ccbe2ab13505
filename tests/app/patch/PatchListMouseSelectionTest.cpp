#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchListTableModel.h"
#include "support/app/PatchScreenRig.h"

namespace {

using Rows = std::vector<std::uint64_t>;

// The list on the screen, shown, driven by mouse events.
class PatchListMouseSelection : public testing_app::PatchScreenRig {
protected:
    PatchListMouseSelection()
    {
        screen->view()->resize(900, 900);
        screen->view()->show();
        screen->view()->activateWindow();
        testing_app::processEventsUntil([&] { return screen->view()->isActiveWindow(); });
        load(12);
    }

    CustomTableViewForPatch& table() { return *screen->patchManagerTableView(); }
    QPoint cell(int row, int column) { return table().visualRect(table().model()->index(row, column)).center(); }
    void send(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons,
              Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QMouseEvent event(type, at, table().viewport()->mapToGlobal(at), button, buttons, modifiers);
        QApplication::sendEvent(table().viewport(), &event);
    }
    void click(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier, int column = 1)
    {
        const QPoint at = cell(row, column);
        send(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton, modifiers);
        send(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton, modifiers);
    }
    void doubleClick(int row, int column)
    {
        click(row, Qt::NoModifier, column);
        const QPoint at = cell(row, column);
        send(QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    }
    void undoKey()
    {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier, QStringLiteral("z"));
        QApplication::sendEvent(&table(), &press);
    }
    QWidget* editor() const
    {
        QWidget* focus = QApplication::focusWidget();
        return focus && focus != screen->patchManagerTableView() && screen->patchManagerTableView()->isAncestorOf(focus)
                   ? focus
                   : nullptr;
    }
};

TEST_F(PatchListMouseSelection, ShiftSelectsARangeAndCtrlZPutsTheSelectionBack)
{
    click(5);
    click(2, Qt::ShiftModifier);
    EXPECT_EQ(table().selectedRows(), (Rows{2, 3, 4, 5}));
    EXPECT_EQ(table().selectionList(), (Rows{5, 4, 3, 2}));
    click(8, Qt::ShiftModifier);
    EXPECT_EQ(table().selectedRows(), (Rows{5, 6, 7, 8}));

    log.clear();
    undoKey();
    EXPECT_EQ(table().selectedRows(), (Rows{2, 3, 4, 5}));
    // The row that was current goes to the device again.
    EXPECT_EQ(log, (std::vector<std::string>{"selectPatchItem P2 2"}));
    undoKey();
    EXPECT_EQ(table().selectedRows(), (Rows{5}));
    undoKey();
    EXPECT_TRUE(table().selectedRows().empty());
}

// The screen empties the selection with an empty set (after a copy that placed nothing): the ordered
// selection goes with it, so undoing the next click neither reselects the old row nor sends it to the unit.
TEST_F(PatchListMouseSelection, AnEmptySelectionSetByTheScreenEmptiesTheOrderedSelectionToo)
{
    click(5);
    table().setUpCurrentSelectionWithIndexSet({}, false);
    EXPECT_TRUE(table().selectedRows().empty());
    EXPECT_TRUE(table().selectionList().empty());
    click(2);
    log.clear();
    undoKey();
    EXPECT_TRUE(table().selectedRows().empty());
    EXPECT_TRUE(log.empty());
}

TEST_F(PatchListMouseSelection, ADoubleClickEditsAnyColumnButTheBanks)
{
    doubleClick(4, PatchListTableModel::BankColumn);
    EXPECT_EQ(table().selectedRows(), (Rows{4}));
    EXPECT_EQ(editor(), nullptr);
    doubleClick(6, PatchListTableModel::PatchColumn);
    EXPECT_EQ(table().selectedRows(), (Rows{6}));
    EXPECT_NE(editor(), nullptr);
}

TEST_F(PatchListMouseSelection, AMoveUnderTwoPointsIsStillAClickAndADragSelectsItsRowFirst)
{
    click(1);
    QPoint at = cell(4, 1);
    send(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, at + QPoint(1, 1), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, at + QPoint(1, 1), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(table().selectedRows(), (Rows{4}));

    const auto records = undo.actionStack().size();
    at = cell(9, 1);
    send(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton, Qt::ControlModifier);
    send(QEvent::MouseMove, at + QPoint(0, 3), Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
    send(QEvent::MouseButtonRelease, at + QPoint(0, 3), Qt::LeftButton, Qt::NoButton, Qt::ControlModifier);
    EXPECT_EQ(table().selectedRows(), (Rows{4, 9}));
    EXPECT_EQ(undo.actionStack().size(), records + 1);
}

}  // namespace
