#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/patch/BankColorTable.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchListItemDelegate.h"
#include "app/patch/PatchListReorder.h"
#include "app/patch/PatchListTableModel.h"
#include "app/views/NamedImages.h"
#include "library/models/BankItem.h"
#include "library/models/PatchItem.h"
#include "support/app/Contrast.h"
#include "support/app/PatchScreenRig.h"
#include "support/app/TestApplication.h"

namespace {

using Items = std::vector<std::shared_ptr<PatchItem>>;

Items patches(std::size_t count)
{
    Items items;
    for (std::size_t i = 0; i < count; ++i) {
        items.push_back(std::make_shared<PatchItem>());
        items.back()->patchName = std::to_string(i);
    }
    return items;
}

std::string order(const Items& items)
{
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : " ") + item->patchName;
    return text;
}

}  // namespace

// The list as the screen draws it, every patch warned.
class WarningSign : public testing_app::PatchScreenRig {};

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

namespace {

TEST(BankColorTable, BanksTakeTheTenColoursInTurnWithEverySecondSlotDarker)
{
    struct Case {
        std::uint64_t row;
        std::size_t colour;
        bool darker;
    };
    for (const Case c : {Case{0, 0, false}, Case{1, 0, true}, Case{3, 0, true}, Case{4, 0, false}, Case{5, 1, false},
                         Case{6, 1, true}, Case{8, 1, true}, Case{9, 1, false}, Case{49, 9, false}, Case{50, 0, false},
                         Case{51, 0, true}}) {
        SCOPED_TRACE(c.row);
        EXPECT_EQ(BankColorTable::colorIndexOfRow(c.row, 5), c.colour);
        const auto colour = BankColorTable::colorOfRow(c.row, 5);
        ASSERT_TRUE(colour.has_value());
        // Lightened with 30 % white: no channel below 0.3.
        EXPECT_GE(colour->redF(), 0.3f - 1e-3f);
        EXPECT_GE(colour->greenF(), 0.3f - 1e-3f);
        EXPECT_GE(colour->blueF(), 0.3f - 1e-3f);
        // The bank's first slot, undarkened and lightened, is the reference.
        const auto first = BankColorTable::colorOfRow(c.row - c.row % 5, 5);
        EXPECT_EQ(colour->valueF() < first->valueF() - 0.05f, c.darker);
    }
    const QColor base = BankColorTable::colorItems()[0];
    const QColor light = *BankColorTable::colorOfRow(0, 5);
    EXPECT_NEAR(light.redF(), base.redF() * 0.7 + 0.3, 1e-3);
    EXPECT_NEAR(light.blueF(), base.blueF() * 0.7 + 0.3, 1e-3);
    EXPECT_FALSE(BankColorTable::colorOfRow(3, 0).has_value()) << "no device, no colour";
}

TEST(PatchListTableModel, ShowsAtLeastThirtyRowsWithTheFillersMarkedEmpty)
{
    testing_app::application();
    struct Case {
        std::size_t filled;
        int rows;
    };
    for (const Case c : {Case{0, 30}, Case{20, 30}, Case{100, 100}}) {
        SCOPED_TRACE(c.filled);
        const Items items = patches(c.filled);
        std::vector<std::shared_ptr<BankItem>> banks;
        for (std::size_t i = 0; i < c.filled; ++i) banks.push_back(std::make_shared<BankItem>());
        PatchListTableModel model(items, banks);
        model.setNumberOfSlotsInBlank(c.filled ? 5 : 0);
        EXPECT_EQ(model.rowCount(), c.rows);
        for (int row = 0; row < c.rows; ++row) {
            const bool empty = static_cast<std::size_t>(row) >= c.filled;
            EXPECT_EQ(model.index(row, 0).data(PatchListTableModel::IsEmptyRowRole).toBool(), empty) << row;
            EXPECT_EQ(model.patchItemAt(row) != nullptr, !empty) << row;
            EXPECT_EQ(model.index(row, 0).data(PatchListTableModel::BankColorRole).isValid(), !empty) << row;
            EXPECT_EQ(model.flags(model.index(row, 1)).testFlag(Qt::ItemIsEditable), !empty) << row;
        }
        EXPECT_FALSE(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsEditable)) << "the bank is never edited";
    }
}

TEST(PatchListReorder, MovesTheRowsInTheirOrderAndNamesTheChangedSlots)
{
    struct Case {
        std::vector<std::uint64_t> rows;
        std::uint64_t to;
        std::string order;
        std::uint64_t target, count;
        std::optional<std::pair<std::uint64_t, std::uint64_t>> range;
    };
    const Case cases[] = {
        {{2, 5}, 8, "0 1 3 4 6 7 2 5 8 9", 6, 2, std::pair<std::uint64_t, std::uint64_t>{2, 6}},
        {{7, 8}, 1, "0 7 8 1 2 3 4 5 6 9", 1, 2, std::pair<std::uint64_t, std::uint64_t>{1, 8}},
        // Its own place, just before or just after itself.
        {{3}, 3, "0 1 2 3 4 5 6 7 8 9", 3, 1, std::nullopt},
        {{3}, 4, "0 1 2 3 4 5 6 7 8 9", 3, 1, std::nullopt},
        // Past the end: the target is the list's end, filler rows are not moved.
        {{3, 40}, 99, "0 1 2 4 5 6 7 8 9 3", 9, 1, std::pair<std::uint64_t, std::uint64_t>{3, 7}},
        {{40}, 2, "0 1 2 3 4 5 6 7 8 9", 0, 0, std::nullopt},
        {{}, 2, "0 1 2 3 4 5 6 7 8 9", 0, 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.order);
        Items items = patches(10);
        const auto result = PatchListReorder::move(items, c.rows, c.to);
        EXPECT_EQ(order(items), c.order);
        EXPECT_EQ(result.count, c.count);
        if (c.count) {
            EXPECT_EQ(result.target, c.target);
        }
        ASSERT_EQ(result.changedRange.has_value(), c.range.has_value());
        if (c.range) {
            EXPECT_EQ(result.changedRange->location, c.range->first);
            EXPECT_EQ(result.changedRange->length, c.range->second);
        }
    }
}

}  // namespace
