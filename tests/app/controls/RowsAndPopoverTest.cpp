#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTableView>

#include <map>

#include "app/controls/AutoClosePopover.h"
#include "app/controls/TableRowChecks.h"
#include "app/controls/TableRowViewProvider.h"
#include "app/views/CustomTableRowView.h"
#include "support/app/Events.h"
#include "support/app/TestApplication.h"

namespace {

class RowsAndPopover : public ::testing::Test {
protected:
    void SetUp() override { testing_app::application(); }
};

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
    EXPECT_TRUE(TableRowChecks::checkEmptyRow(0, &plain));
    EXPECT_TRUE(TableRowChecks::checkEmptyRow(0, nullptr));
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
    EXPECT_EQ(popover->geometry().left() + popover->width() / 2, 400);
    EXPECT_EQ(popover->geometry().top(), 301);
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

// A view lets go of the keyboard when its menu opens; closing the menu, by a press outside or by a
// choice, hands it back unless the choice opened an editor of its own.
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

}  // namespace
