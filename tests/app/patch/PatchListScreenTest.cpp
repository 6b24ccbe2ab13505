#include "app/patch/BankColorTable.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchListItemDelegate.h"
#include "app/patch/PatchListTableModel.h"
#include "PatchCases.h"
#include "support/app/Contrast.h"

namespace {

using namespace testing_app;

// The list on the screen, shown, driven by mouse events.
class PatchListMouseSelection : public PatchScreenRig {
protected:
    PatchListMouseSelection()
    {
        screen->view()->resize(900, 900);
        activate(*screen->view());
        load(12);
    }
    CustomTableViewForPatch& table() { return *screen->patchManagerTableView(); }
    QPoint cell(int row, int column) { return table().visualRect(table().model()->index(row, column)).center(); }
    void send(QEvent::Type type, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        mouse(table().viewport(), type, at, Qt::LeftButton, modifiers);
    }
    void click(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier, int column = 1)
    {
        testing_app::click(table().viewport(), cell(row, column), Qt::LeftButton, modifiers);
    }
    void undoKey() { key(&table(), Qt::Key_Z, Qt::ControlModifier, QStringLiteral("z")); }
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
    for (const auto& [row, column, edits] : {std::tuple{4, PatchListTableModel::BankColumn, false},
                                             {6, PatchListTableModel::PatchColumn, true}}) {
        click(row, Qt::NoModifier, column);
        send(QEvent::MouseButtonDblClick, cell(row, column));
        send(QEvent::MouseButtonRelease, cell(row, column));
        EXPECT_EQ(table().selectedRows(), (Rows{static_cast<std::uint64_t>(row)}));
        EXPECT_EQ(editor() != nullptr, edits) << row;
    }
}

TEST_F(PatchListMouseSelection, AMoveUnderTwoPointsIsStillAClickAndADragSelectsItsRowFirst)
{
    click(1);
    QPoint at = cell(4, 1);
    send(QEvent::MouseButtonPress, at);
    send(QEvent::MouseMove, at + QPoint(1, 1));
    send(QEvent::MouseButtonRelease, at + QPoint(1, 1));
    EXPECT_EQ(table().selectedRows(), (Rows{4}));

    const auto records = undo.actionStack().size();
    at = cell(9, 1);
    send(QEvent::MouseButtonPress, at, Qt::ControlModifier);
    send(QEvent::MouseMove, at + QPoint(0, 3), Qt::ControlModifier);
    send(QEvent::MouseButtonRelease, at + QPoint(0, 3), Qt::ControlModifier);
    EXPECT_EQ(table().selectedRows(), (Rows{4, 9}));
    EXPECT_EQ(undo.actionStack().size(), records + 1);
}

// The list as the screen draws it, every patch warned.
using WarningSign = testing_app::PatchScreenRig;

TEST_F(WarningSign, ReadsAtLeastThreeToOneOnEveryBankColourAndKeepsItsOrange)
{
    const QColor orange(245, 147, 31);
    // Four slots a bank: forty rows show every bank colour, plain and darker.
    load(40, 4);
    for (const auto& patch : screen->patchItems()) patch->isWarning = true;
    screen->reloadDataInPatchList();
    screen->view()->resize(900, 700);
    screen->view()->show();
    CustomTableViewForPatch& table = *screen->patchManagerTableView();
    for (int row = 0; row < 40; ++row) {
        const QColor bank = *BankColorTable::colorOfRow(static_cast<std::uint64_t>(row), 4);
        SCOPED_TRACE("row " + std::to_string(row) + " " + bank.name().toStdString());
        const QModelIndex name = table.model()->index(row, PatchListTableModel::PatchColumn);
        table.scrollTo(name);
        // The sign sits at the name cell's right end, clear of the name.
        const QRect cell = table.visualRect(name).adjusted(PatchListItemDelegate::kCellInset, PatchListItemDelegate::kCellInset,
                                                           -PatchListItemDelegate::kCellInset,
                                                           -PatchListItemDelegate::kCellInset);
        const QImage drawn = table.viewport()->grab(cell.adjusted(cell.width() - 40, 0, 0, 0)).toImage();
        ASSERT_EQ(drawn.pixelColor(1, 1).rgb(), bank.rgb()) << "the cell's fill";
        // Across each line of the sign's body, from the row in to the orange, from either side: the
        // edge crossed there stands out from the row (the white mark inside does not count: the sign's
        // shape is its edge). The orange alone reads 2.6:1 on the darker purple rows, 1.1:1 on the
        // orange ones.
        int bodyLines = 0;
        bool orangeKept = false;
        for (int y = 0; y < drawn.height(); ++y) {
            const auto isOrange = [&](int x) { return drawn.pixelColor(x, y).rgb() == orange.rgb(); };
            int first = 0;
            while (first < drawn.width() && !isOrange(first)) ++first;
            if (first == drawn.width()) continue;
            orangeKept = true;
            int last = drawn.width() - 1;
            while (!isOrange(last)) --last;
            const auto edge = [&](int from, int to, int step) {
                double best = 1;
                for (int x = from; x != to; x += step)
                    best = std::max(best, testing_app::contrastRatio(drawn.pixelColor(x, y), bank));
                return best;
            };
            ++bodyLines;
            EXPECT_GE(edge(0, first, 1), 3.0) << "left edge, line " << y;
            EXPECT_GE(edge(drawn.width() - 1, last, -1), 3.0) << "right edge, line " << y;
        }
        EXPECT_GE(bodyLines, 8);
        EXPECT_TRUE(orangeKept) << "the sign's body is the orange it always was";
    }
}

}  // namespace
