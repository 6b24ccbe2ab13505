#include <gtest/gtest.h>

#include "app/patch/PatchListSelectionRules.h"

namespace {

using Modifier = PatchListSelectionRules::Modifier;
using Selection = PatchListSelectionRules::Selection;
using Rows = PatchListSelectionRules::Rows;
using Record = std::vector<std::int64_t>;

// The rules over a table whose selection is whatever the last outcome made it.
struct Table {
    PatchListSelectionRules rules;
    Selection selected;
    std::vector<Record> records;
    std::vector<std::uint64_t> told;

    void apply(const PatchListSelectionRules::Outcome& outcome)
    {
        if (outcome.record) records.push_back(*outcome.record);
        if (outcome.selection) selected = *outcome.selection;
        if (outcome.tellRow) told.push_back(*outcome.tellRow);
    }
    void click(std::uint64_t row, Modifier modifier = Modifier::None) { apply(rules.click(row, modifier, selected)); }
};

TEST(PatchListSelectionRules, ShiftRangesRunFromTheAnchor)
{
    struct Case {
        std::uint64_t row;
        Selection selected;
        Rows list;
    };
    const Case cases[] = {
        {2, {2, 3, 4, 5}, {5, 4, 3, 2}},
        {8, {5, 6, 7, 8}, {5, 6, 7, 8}},
        {5, {5}, {5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        Table table;
        table.click(5);
        table.click(c.row, Modifier::Shift);
        EXPECT_EQ(table.selected, c.selected);
        EXPECT_EQ(table.rules.selectionList(), c.list);
        EXPECT_EQ(table.rules.rootSelectedRowForShilf(), 5u);
        EXPECT_EQ(table.rules.previousSelectedRow(), 5u);
        ASSERT_EQ(table.records.size(), 2u);
        EXPECT_EQ(table.records[1], (Record{5}));
        EXPECT_EQ(table.told.back(), c.row);
    }
}

TEST(PatchListSelectionRules, AShiftClickWithoutItsAnchorSelectedStartsAfresh)
{
    Table table;
    table.click(5);
    table.click(7, Modifier::Command);
    table.click(7, Modifier::Command);
    table.click(9, Modifier::Shift);
    EXPECT_EQ(table.selected, (Selection{9}));
    EXPECT_EQ(table.rules.selectionList(), (Rows{9}));
    EXPECT_EQ(table.rules.rootSelectedRowForShilf(), 9u);
    // Also on the row that is already the only one selected.
    table.click(4, Modifier::Command);
    table.click(4, Modifier::Command);
    const auto records = table.records.size();
    table.click(9, Modifier::Shift);
    EXPECT_EQ(table.records.size(), records + 1);
    EXPECT_EQ(table.selected, (Selection{9}));
}

TEST(PatchListSelectionRules, ACtrlDeselectRecordEndsWithItsRow)
{
    Table table;
    table.click(3);
    table.click(6, Modifier::Command);
    table.click(1, Modifier::Command);
    EXPECT_EQ(table.rules.selectionList(), (Rows{3, 6, 1}));
    const auto told = table.told.size();
    table.click(6, Modifier::Command);
    EXPECT_EQ(table.records.back(), (Record{3, 1, 6}));
    EXPECT_EQ(table.rules.selectionList(), (Rows{3, 1}));
    EXPECT_EQ(table.selected, (Selection{1, 3}));
    EXPECT_EQ(table.told.size(), told);
    EXPECT_EQ(table.rules.rootSelectedRowForShilf(), 1u);

    // Removing the last row leaves nothing selected; the record brings it back.
    Table single;
    single.click(4);
    single.click(4, Modifier::Command);
    EXPECT_TRUE(single.selected.empty());
    EXPECT_EQ(single.records.back(), (Record{4}));
}

TEST(PatchListSelectionRules, APlainClickOnTheOnlySelectedRowActsOnceAfterADrop)
{
    Table table;
    table.click(2);
    table.click(2);
    EXPECT_EQ(table.records.size(), 1u);
    EXPECT_EQ(table.told, (std::vector<std::uint64_t>{2}));

    table.rules.setIsDropped(true);
    table.click(2);
    EXPECT_EQ(table.records.size(), 2u);
    EXPECT_EQ(table.told, (std::vector<std::uint64_t>{2, 2}));
    EXPECT_FALSE(table.rules.isDropped());
    table.click(2);
    EXPECT_EQ(table.records.size(), 2u);

    // One row of several: the selection becomes that row, with one record.
    table.click(5, Modifier::Shift);
    table.click(3);
    EXPECT_EQ(table.selected, (Selection{3}));
    EXPECT_EQ(table.records.back(), (Record{2, 3, 4, 5}));
}

TEST(PatchListSelectionRules, RightClicksAndDragsSelectAnUnselectedRowFirst)
{
    Table table;
    table.click(1);
    table.apply(table.rules.rightClick(1, table.selected));
    EXPECT_EQ(table.records.size(), 1u);
    table.apply(table.rules.rightClick(4, table.selected));
    EXPECT_EQ(table.selected, (Selection{4}));
    EXPECT_EQ(table.rules.rootSelectedRowForShilf(), 4u);

    table.apply(table.rules.dragSelect(4, false, table.selected));
    EXPECT_EQ(table.records.size(), 2u);
    table.apply(table.rules.dragSelect(6, true, table.selected));
    EXPECT_EQ(table.selected, (Selection{4, 6}));
    EXPECT_EQ(table.rules.selectionList(), (Rows{4, 6}));
    table.apply(table.rules.dragSelect(8, false, table.selected));
    EXPECT_EQ(table.selected, (Selection{8}));
    EXPECT_EQ(table.records.size(), 4u);
    EXPECT_EQ(table.told.back(), 8u);
}

TEST(PatchListSelectionRules, DragDistanceAndDoubleClickColumn)
{
    struct Case {
        double dx;
        double dy;
        bool drag;
    };
    const Case cases[] = {{0, 0, false}, {1.9, 0, false}, {1.4, 1.4, false}, {2, 0, true}, {1.5, 1.5, true}, {0, -3, true}};
    for (const auto& c : cases) EXPECT_EQ(PatchListSelectionRules::isDragDistance(c.dx, c.dy), c.drag) << c.dx << "," << c.dy;
    EXPECT_FALSE(PatchListSelectionRules::editsOnDoubleClick(0));
    EXPECT_TRUE(PatchListSelectionRules::editsOnDoubleClick(1));

    PatchListSelectionRules rules;
    rules.setClickedColumn(2, 3);
    rules.setClickedColumn(3, 3);
    rules.setClickedColumn(-1, 3);
    EXPECT_EQ(rules.previousSelectedColumn(), 2u);
}

TEST(PatchListSelectionRules, SelectionsSetFromOutsideListInAscendingOrder)
{
    PatchListSelectionRules rules;
    EXPECT_EQ(rules.setUpCurrentSelection({7, 3, 7}, false, {1}), (Selection{3, 7}));
    EXPECT_EQ(rules.selectionList(), (Rows{3, 7}));
    EXPECT_EQ(rules.rootSelectedRowForShilf(), 3u);
    EXPECT_EQ(rules.setUpCurrentSelection({9}, true, {3, 7}), (Selection{3, 7, 9}));
    EXPECT_EQ(rules.selectAll(3), (Selection{0, 1, 2}));
    EXPECT_EQ(rules.selectionList(), (Rows{0, 1, 2}));
    rules.resetSelectionData();
    EXPECT_TRUE(rules.selectionList().empty());
    EXPECT_EQ(rules.rootSelectedRowForShilf(), 0u);
}

}  // namespace
