#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/patch/BankColorTable.h"
#include "app/patch/PatchListReorder.h"
#include "app/patch/PatchListTableModel.h"
#include "app/views/NamedImages.h"
#include "library/models/BankItem.h"
#include "library/models/PatchItem.h"
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

double luminance(QColor colour)
{
    const auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

double contrast(QColor one, QColor other)
{
    const double a = luminance(one), b = luminance(other);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

}  // namespace

TEST(WarningSign, ReadsAtLeastThreeToOneOnEveryBankColourAndKeepsItsOrange)
{
    testing_app::application();
    const QImage sign = NamedImages::image(QStringLiteral("warning-icon"));
    const QColor orange(245, 147, 31);
    // The sign's body is the same orange as before.
    EXPECT_EQ(sign.pixelColor(5, 11).rgb(), orange.rgb());
    for (std::uint64_t row = 0; row < 40; ++row) {
        const QColor bank = *BankColorTable::colorOfRow(row, 4);
        SCOPED_TRACE(bank.name().toStdString());
        QImage onRow(sign.size(), QImage::Format_ARGB32);
        onRow.fill(bank);
        QPainter(&onRow).drawImage(0, 0, sign);
        // From the body out to the row along the sign's middle line: something between them stands out
        // from the orange at least 3:1 (on its own, the orange sign reads 1.12:1 on the orange rows).
        const int y = 11;
        double best = 0;
        for (int x = 5; x >= 0 && sign.pixelColor(x, y).alpha() > 0; --x)
            best = std::max(best, contrast(onRow.pixelColor(x, y), orange));
        EXPECT_GE(std::max(best, contrast(orange, bank)), 3.0);
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
